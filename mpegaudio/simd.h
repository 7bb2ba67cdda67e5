#pragma once
// Which build of the decoder's inner loops runs: plain C++, SSE2 or AVX2.
// The best the processor has is chosen when the decoder is first used,
// unless the environment variable LM_MPEGAUDIO_SIMD names one ("scalar",
// "sse2" or "avx2"); tests and tools may switch between streams.  Every
// build decodes to the same accuracy; their PCM may differ in the last bit.
#include <optional>

namespace mpegaudio {

enum class SimdPath { scalar, sse2, avx2 };

// The build in use.
SimdPath simdPath();
// Whether this program has the build and the processor can run it.
bool simdPathAvailable(SimdPath path);
// Switches to a build; false (and no change) when it is not available.  Not
// while a stream decodes on another thread.
[[nodiscard]] bool useSimdPath(SimdPath path);

const char* simdPathName(SimdPath path);
std::optional<SimdPath> parseSimdPath(const char* name);

}  // namespace mpegaudio
