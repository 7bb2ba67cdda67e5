// The kernels with AVX2 and FMA: eight lanes at a time.  This file alone is
// compiled for those instructions (see CMakeLists.txt) and is used only on
// processors that have them; everything in it has internal linkage so that
// no AVX2 copy of a shared inline function can stand in for the plain one.
#include "mpegaudio/kernel_common.h"

#if defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

namespace mpegaudio::detail {

namespace {

// Eight subbands at a time.
struct LaneAvx2 {
  using T = __m256;
  static constexpr int width = 8;
  static T zero() { return _mm256_setzero_ps(); }
  static T set1(float f) { return _mm256_set1_ps(f); }
  static T load(const float* p) { return _mm256_loadu_ps(p); }
  static void store(float* p, T v) { _mm256_storeu_ps(p, v); }
  static T gather18(const float* p) {
    return _mm256_i32gather_ps(p, _mm256_setr_epi32(0, 18, 36, 54, 72, 90, 108, 126), 4);
  }
  static T gatherStride(const float* p, int stride) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm256_i32gather_ps(p, _mm256_mullo_epi32(lanes, _mm256_set1_epi32(stride)), 4);
  }
  static T add(T a, T b) { return _mm256_add_ps(a, b); }
  static T sub(T a, T b) { return _mm256_sub_ps(a, b); }
  static T mul(T a, T b) { return _mm256_mul_ps(a, b); }
  static T madd(T a, T b, T c) { return _mm256_fmadd_ps(a, b, c); }
  static T oddNegative(int sb) {
    return (sb & 1) ? _mm256_setr_ps(-1, 1, -1, 1, -1, 1, -1, 1) : _mm256_setr_ps(1, -1, 1, -1, 1, -1, 1, -1);
  }
};

template <int N>
void windowAvx2(const History& h, float* out) {
  const float* window = synthWindow<N>();
  __m256 acc[N / 8];
  for (__m256& a : acc) a = _mm256_setzero_ps();
  for (int i = 0; i < 8; ++i) {
    const float* even = h.v[(h.newest + 2 * i) & 15];
    const float* odd = h.v[(h.newest + 2 * i + 1) & 15] + N;
    const float* w = window + 2 * N * i;
    for (int q = 0; q < N / 8; ++q) {
      acc[q] = _mm256_fmadd_ps(_mm256_load_ps(even + 8 * q), _mm256_load_ps(w + 8 * q), acc[q]);
      acc[q] = _mm256_fmadd_ps(_mm256_load_ps(odd + 8 * q), _mm256_load_ps(w + N + 8 * q), acc[q]);
    }
  }
  for (int q = 0; q < N / 8; ++q) _mm256_storeu_ps(out + 8 * q, acc[q]);
}

template <int N>
void synthAvx2(History& h, const float* in, int stride, int slots, float* out) {
  synthSlots<LaneAvx2, N>(h, in, stride, slots, out, windowAvx2<N>);
}

// Clipping first keeps the conversion in range (and a NaN becomes -32768,
// as the plain build's conversion makes it).
inline __m256i toInt(const float* p) {
  const __m256 v =
      _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(p), _mm256_set1_ps(-32768.0f)), _mm256_set1_ps(32767.0f));
  return _mm256_cvtps_epi32(v);
}

void pcm16MonoAvx2(const float* a, int n, uint8_t* out) {
  int j = 0;
  for (; j + 16 <= n; j += 16) {
    // The pack works per 128-bit half: put the quarters back in order.
    const __m256i packed = _mm256_packs_epi32(toInt(a + j), toInt(a + j + 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * j), _mm256_permute4x64_epi64(packed, 0xD8));
  }
  for (; j + 8 <= n; j += 8) {
    const __m256i v = toInt(a + j);
    const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j), packed);
  }
}

void pcm16StereoAvx2(const float* a, const float* b, int n, uint8_t* out) {
  for (int j = 0; j + 8 <= n; j += 8) {
    const __m256i l = toInt(a + j);
    const __m256i r = toInt(b + j);
    // Per half: l0 r0 l1 r1 | l2 r2 l3 r3, packed into eight pairs in order.
    const __m256i both = _mm256_packs_epi32(_mm256_unpacklo_epi32(l, r), _mm256_unpackhi_epi32(l, r));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * j), both);
  }
}

const Kernels kAvx2 = {SimdPath::avx2, imdctRange<LaneAvx2>, 8, synthAvx2<32>, synthAvx2<16>, synthAvx2<8>,
                       pcm16MonoAvx2,  pcm16StereoAvx2};

}  // namespace

const Kernels* avx2KernelsBuilt() { return &kAvx2; }

}  // namespace mpegaudio::detail

#else

namespace mpegaudio::detail {
const Kernels* avx2KernelsBuilt() { return nullptr; }
}  // namespace mpegaudio::detail

#endif
