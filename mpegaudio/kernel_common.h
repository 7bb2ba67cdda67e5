#pragma once
// Code every build of the kernels shares, compiled into each kernel file
// with that file's instruction set (hence internal linkage throughout).
#include "mpegaudio/kernels.h"

namespace mpegaudio::detail {
namespace {

// X[j] = sum_k s[k] cos(j (2k + 1) pi / 2N), by halving (Lee).
template <int N>
inline void dctLee(const float* s, float* x) {
  if constexpr (N == 1) {
    x[0] = s[0];
  } else {
    constexpr int level = N == 32 ? 0 : N == 16 ? 1 : N == 8 ? 2 : N == 4 ? 3 : 4;
    float a[N / 2], b[N / 2], e[N / 2], o[N / 2];
    for (int k = 0; k < N / 2; ++k) {
      a[k] = s[k] + s[N - 1 - k];
      b[k] = (s[k] - s[N - 1 - k]) * g_dctFactor[level][k];
    }
    dctLee<N / 2>(a, e);
    dctLee<N / 2>(b, o);
    for (int j = 0; j < N / 2; ++j) {
      x[2 * j] = e[j];
      x[2 * j + 1] = o[j] + (j + 1 < N / 2 ? o[j + 1] : 0.0f);
    }
  }
}

// The same DCT over the lanes of V: one time slot per lane.
template <class V, int N>
inline void dctLeeLanes(const typename V::T* s, typename V::T* x) {
  using T = typename V::T;
  if constexpr (N == 1) {
    x[0] = s[0];
  } else {
    constexpr int level = N == 32 ? 0 : N == 16 ? 1 : N == 8 ? 2 : N == 4 ? 3 : 4;
    T a[N / 2], b[N / 2], e[N / 2], o[N / 2];
    for (int k = 0; k < N / 2; ++k) {
      a[k] = V::add(s[k], s[N - 1 - k]);
      b[k] = V::mul(V::sub(s[k], s[N - 1 - k]), V::set1(g_dctFactor[level][k]));
    }
    dctLeeLanes<V, N / 2>(a, e);
    dctLeeLanes<V, N / 2>(b, o);
    for (int j = 0; j < N / 2; ++j) {
      x[2 * j] = e[j];
      x[2 * j + 1] = j + 1 < N / 2 ? V::add(o[j], o[j + 1]) : o[j];
    }
  }
}

// A slot's DCT values into a new history slot: the matrixing of the
// standard, 2N values.
template <int N>
inline void pushDct(History& h, const float* x) {
  h.newest = (h.newest + 15) & 15;
  float* v = h.v[h.newest];
  for (int i = 0; i < N / 2; ++i) v[i] = x[N / 2 + i];
  v[N / 2] = 0.0f;
  for (int i = N / 2 + 1; i < 3 * N / 2; ++i) v[i] = -x[3 * N / 2 - i];
  for (int i = 3 * N / 2; i < 2 * N; ++i) v[i] = -x[i - 3 * N / 2];
}

// The filter bank over slots: the DCTs of V's width of slots at once, then
// slot by slot into the history and through `window` (the windowing and
// summing of one slot: window(h, out)).
template <class V, int N, typename Window>
inline void synthSlots(History& h, const float* in, int stride, int slots, float* out, Window window) {
  using T = typename V::T;
  constexpr int W = V::width;
  int t = 0;
  if constexpr (W > 1) {
    for (; t + W <= slots; t += W) {
      T s[N], x[N];
      for (int k = 0; k < N; ++k) s[k] = V::gatherStride(in + t * stride + k, stride);
      dctLeeLanes<V, N>(s, x);
      alignas(32) float byLane[N][W];
      for (int j = 0; j < N; ++j) V::store(byLane[j], x[j]);
      for (int l = 0; l < W; ++l) {
        float xs[N];
        for (int j = 0; j < N; ++j) xs[j] = byLane[j][l];
        pushDct<N>(h, xs);
        window(h, out + (t + l) * N);
      }
    }
  }
  for (; t < slots; ++t) {
    float xs[N];
    dctLee<N>(in + t * stride, xs);
    pushDct<N>(h, xs);
    window(h, out + t * N);
  }
}

// Layer III IMDCT over the lanes of V, one subband per lane, from subband
// sb on: the 18-point DCT-IV unfolded into the 36-point IMDCT for the long
// blocks, three overlapped 12-point IMDCTs for the short ones.
template <class V>
inline void imdctLanes(const float* xr, int sb, int type, float* prev, float* out) {
  using T = typename V::T;
  T x[18];
  for (int k = 0; k < 18; ++k) x[k] = V::gather18(xr + sb * 18 + k);
  T z[36];
  if (type == 2) {
    for (T& v : z) v = V::zero();
    for (int w = 0; w < 3; ++w) {
      const T* xw = x + 6 * w;
      for (int i = 0; i < 12; ++i) {
        const float* row = g_imdctShort[i];
        T s = V::mul(xw[0], V::set1(row[0]));
        for (int k = 1; k < 6; ++k) s = V::madd(xw[k], V::set1(row[k]), s);
        z[6 + 6 * w + i] = V::add(z[6 + 6 * w + i], V::mul(s, V::set1(g_imdctWindow[2][i])));
      }
    }
  } else {
    T c[18];
    for (int j = 0; j < 18; ++j) {
      const float* row = g_dct4[j];
      T s = V::mul(x[0], V::set1(row[0]));
      for (int k = 1; k < 18; ++k) s = V::madd(x[k], V::set1(row[k]), s);
      c[j] = s;
    }
    // y[i] = c[i + 9] (i < 9), -c[26 - i] (9 <= i < 27), -c[i - 27]
    // (i >= 27); the signs are in the window.
    const float* win = g_imdctSignedWindow[type];
    for (int i = 0; i < 9; ++i) z[i] = V::mul(c[i + 9], V::set1(win[i]));
    for (int i = 9; i < 27; ++i) z[i] = V::mul(c[26 - i], V::set1(win[i]));
    for (int i = 27; i < 36; ++i) z[i] = V::mul(c[i - 27], V::set1(win[i]));
  }
  const T invert = V::oddNegative(sb);
  for (int t = 0; t < 18; ++t) {
    T v = V::add(z[t], V::load(prev + t * 32 + sb));
    if (t & 1) v = V::mul(v, invert);
    V::store(out + t * 32 + sb, v);
    V::store(prev + t * 32 + sb, z[18 + t]);
  }
}

// One subband at a time (plain floats; multiply and add kept apart).
struct Lane1 {
  using T = float;
  static constexpr int width = 1;
  static T zero() { return 0.0f; }
  static T set1(float f) { return f; }
  static T load(const float* p) { return *p; }
  static void store(float* p, T v) { *p = v; }
  static T gather18(const float* p) { return *p; }
  static T gatherStride(const float* p, int) { return *p; }
  static T add(T a, T b) { return a + b; }
  static T sub(T a, T b) { return a - b; }
  static T mul(T a, T b) { return a * b; }
  static T madd(T a, T b, T c) { return a * b + c; }
  static T oddNegative(int sb) { return (sb & 1) ? -1.0f : 1.0f; }
};

template <class V>
void imdctRange(const float* xr, int first, int count, int type, float* prev, float* out) {
  int sb = first;
  const int end = first + count;
  for (; sb + V::width <= end; sb += V::width) imdctLanes<V>(xr, sb, type, prev, out);
  for (; sb < end; ++sb) imdctLanes<Lane1>(xr, sb, type, prev, out);
}

template <int N>
inline const float* synthWindow() {
  return N == 32 ? g_synthWindow32 : N == 16 ? g_synthWindow16 : g_synthWindow8;
}

}  // namespace
}  // namespace mpegaudio::detail
