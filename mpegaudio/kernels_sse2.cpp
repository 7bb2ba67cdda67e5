// The kernels with SSE2: four lanes of the IMDCT matrix, of the synthesis
// window and of the conversion to 16-bit samples at a time.
#include "mpegaudio/kernel_common.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace mpegaudio::detail {

namespace {

// Four subbands at a time.
struct LaneSse2 {
  using T = __m128;
  static constexpr int width = 4;
  static T zero() { return _mm_setzero_ps(); }
  static T set1(float f) { return _mm_set1_ps(f); }
  static T load(const float* p) { return _mm_loadu_ps(p); }
  static void store(float* p, T v) { _mm_storeu_ps(p, v); }
  static T gather18(const float* p) { return _mm_setr_ps(p[0], p[18], p[36], p[54]); }
  static T gatherStride(const float* p, int stride) {
    return _mm_setr_ps(p[0], p[stride], p[2 * stride], p[3 * stride]);
  }
  static T add(T a, T b) { return _mm_add_ps(a, b); }
  static T sub(T a, T b) { return _mm_sub_ps(a, b); }
  static T mul(T a, T b) { return _mm_mul_ps(a, b); }
  static T madd(T a, T b, T c) { return _mm_add_ps(_mm_mul_ps(a, b), c); }
  static T oddNegative(int sb) { return (sb & 1) ? _mm_setr_ps(-1, 1, -1, 1) : _mm_setr_ps(1, -1, 1, -1); }
};

template <int N>
void windowSse2(const History& h, float* out) {
  const float* window = synthWindow<N>();
  __m128 acc[N / 4];
  for (__m128& a : acc) a = _mm_setzero_ps();
  for (int i = 0; i < 8; ++i) {
    const float* even = h.v[(h.newest + 2 * i) & 15];
    const float* odd = h.v[(h.newest + 2 * i + 1) & 15] + N;
    const float* w = window + 2 * N * i;
    for (int q = 0; q < N / 4; ++q) {
      const __m128 e = _mm_mul_ps(_mm_load_ps(even + 4 * q), _mm_load_ps(w + 4 * q));
      const __m128 o = _mm_mul_ps(_mm_load_ps(odd + 4 * q), _mm_load_ps(w + N + 4 * q));
      acc[q] = _mm_add_ps(acc[q], _mm_add_ps(e, o));
    }
  }
  for (int q = 0; q < N / 4; ++q) _mm_storeu_ps(out + 4 * q, acc[q]);
}

template <int N>
void synthSse2(History& h, const float* in, int stride, int slots, float* out) {
  synthSlots<LaneSse2, N>(h, in, stride, slots, out, windowSse2<N>);
}

// Clipping first keeps the conversion in range (and a NaN becomes -32768,
// as the plain build's conversion makes it).
inline __m128i toInt(const float* p) {
  const __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(p), _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
  return _mm_cvtps_epi32(v);
}

void pcm16MonoSse2(const float* a, int n, uint8_t* out) {
  for (int j = 0; j + 8 <= n; j += 8)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j), _mm_packs_epi32(toInt(a + j), toInt(a + j + 4)));
}

void pcm16StereoSse2(const float* a, const float* b, int n, uint8_t* out) {
  for (int j = 0; j + 4 <= n; j += 4) {
    const __m128i l = toInt(a + j);
    const __m128i r = toInt(b + j);
    const __m128i both = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * j), both);
  }
}

const Kernels kSse2 = {SimdPath::sse2, imdctRange<LaneSse2>, 4, synthSse2<32>, synthSse2<16>, synthSse2<8>,
                       pcm16MonoSse2,  pcm16StereoSse2};

}  // namespace

const Kernels* sse2Kernels() { return &kSse2; }

}  // namespace mpegaudio::detail

#else

namespace mpegaudio::detail {
const Kernels* sse2Kernels() { return nullptr; }
}  // namespace mpegaudio::detail

#endif
