// Any bytes through the header search and the frame decoder, with options
// taken from the first input byte.  The build of the inner loops is the one
// LM_MPEGAUDIO_SIMD names (scripts/fuzz.sh runs the target once with each).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "mpegaudio/mpegaudio.h"
#include "mpegaudio/simd.h"
#include "mpegaudio/streamwalk.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::fprintf(stderr, "fuzz_mpegaudio: inner loops: %s\n", mpegaudio::simdPathName(mpegaudio::simdPath()));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t selector = data[0];
  ++data;
  --size;

  // The whole walk, as the tool and the engine do it.
  mpegaudio::StreamOptions o;
  o.reduction = selector & 3;  // 3 is clamped
  o.conversion = ((selector >> 2) & 3) | ((selector & 0x10) ? mpegaudio::kConversion8Bit : 0);
  o.frequencyLimit = (selector & 0x20) ? mpegaudio::kFullBand : int32_t(selector) * 200;
  o.followChannelChanges = (selector & 0x40) != 0;
  mpegaudio::decodeStream(data, size, o, nullptr, nullptr);

  // Direct calls: a header found anywhere, then frames from every offset,
  // each input copied to a buffer of exactly its size.
  mpegaudio::MpegHeader h;
  int32_t bitrate = 0, skip = 0;
  const int32_t len = size > 0x100000 ? 0x100000 : int32_t(size);
  std::vector<uint8_t> exact(data, data + len);
  const int32_t bytes = mpegaudio::findHeader(exact.data(), len, &h, &bitrate, &skip);
  if (bytes > 0 && mpegaudio::decodeInit(&h, bytes, o.reduction, 0, o.conversion, o.frequencyLimit)) {
    mpegaudio::DecoderInfo info;
    mpegaudio::decodeInfo(&info);
    std::vector<uint8_t> pcm(size_t(info.frameBytes) + 1, 0xEE);
    for (int32_t at = 0; at + 4 <= len && at < 4096; ++at) {
      const mpegaudio::DecodeResult r = mpegaudio::decodeFrame(exact.data() + at, len - at, pcm.data());
      if (r.consumed < 0 || r.consumed > len - at || r.produced < 0 || r.produced > info.frameBytes ||
          pcm[size_t(info.frameBytes)] != 0xEE)
        __builtin_trap();
    }
  }
  return 0;
}
