#pragma once
// The decoder's inner loops in three builds: plain C++, SSE2 and AVX2 (with
// FMA).  One set is chosen when first needed (the best the processor has,
// or the one LM_MPEGAUDIO_SIMD names) and used for every stream after that.
// Not for callers outside mpegaudio/ (they use mpegaudio/simd.h).
#include <cstdint>

#include "mpegaudio/simd.h"

namespace mpegaudio::detail {

// Polyphase history of one output channel: 16 slots of 2N matrixed values,
// a ring whose newest slot is `newest`.
struct alignas(32) History {
  float v[16][64];
  int newest = 0;
};

// Lines of one Layer III subband.
constexpr int kSubbandLines = 18;

struct Kernels {
  SimdPath path;
  // IMDCT of `count` subbands from `first` of a granule's lines xr (line k
  // of subband sb at xr[sb * 18 + k]) with the window of block type `type`
  // (0 normal, 1 start, 2 three short windows, 3 stop), overlap-added with
  // the last granule's second halves prev[t * 32 + sb] (which take this
  // granule's); results to out[t * 32 + sb] for t = 0..17, odd subbands with
  // every other sample negated (frequency inversion).
  void (*imdct)(const float* xr, int first, int count, int type, float* prev, float* out);
  // Subbands the IMDCT does at once (a multiple of it costs no more).
  int imdctWidth;
  // The synthesis filter bank over `slots` time slots: N subband samples of
  // slot t at in[t * stride + k] in, N output samples (16-bit scale) of slot
  // t to out[t * N]; for N = 32, 16 and 8.
  void (*synth32)(History& h, const float* in, int stride, int slots, float* out);
  void (*synth16)(History& h, const float* in, int stride, int slots, float* out);
  void (*synth8)(History& h, const float* in, int stride, int slots, float* out);
  // Rounds (to nearest, ties to even) and clips n samples to 16 bits: one
  // channel, or two interleaved.
  void (*pcm16Mono)(const float* a, int n, uint8_t* out);
  void (*pcm16Stereo)(const float* a, const float* b, int n, uint8_t* out);
};

// The set in use.
const Kernels& kernels();

// The sets built into this program (null when the processor lacks one or
// the build has none).
const Kernels* scalarKernels();
const Kernels* sse2Kernels();
const Kernels* avx2Kernels();
// The AVX2 set whether or not the processor can run it (the check lives
// outside the file compiled for AVX2).
const Kernels* avx2KernelsBuilt();

// Tables the kernels share, built once by buildKernelTables().
void buildKernelTables();
// Layer III, plain form: 18-point DCT-IV matrix, short IMDCT, windows by type.
extern float g_dct4[18][18];
extern float g_imdctShort[12][6];
extern float g_imdctWindow[4][36];
// The long windows with the signs of the DCT-IV's unfolding folded in.
extern float g_imdctSignedWindow[4][36];
// Synthesis windows for 32, 16 and 8 subbands, scaled to 16-bit output, and
// the factors of the DCT's butterflies by level (N = 32, 16, 8, 4, 2).
extern float g_synthWindow32[512];
extern float g_synthWindow16[256];
extern float g_synthWindow8[128];
extern float g_dctFactor[6][16];

}  // namespace mpegaudio::detail
