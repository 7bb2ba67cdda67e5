// Polyphase synthesis filter bank with its output variants: 32, 16 or 8
// subbands (full, half, quarter rate), one or two channels, 16- or 8-bit.
#include <cmath>

#include "mpegaudio/internal.h"
#include "mpegaudio/tables.h"

namespace mpegaudio::detail {

namespace {

constexpr double kPi = 3.14159265358979323846;

// History of one output channel: 16 slots of 2N matrixed values (ring).
struct History {
  float v[16][64];
  int newest = 0;
};
History g_history[2];

// Window for N subbands: D[n * 32 / N], scaled to 16-bit output.
float g_window32[512];
float g_window16[256];
float g_window8[128];
// Lee DCT-II butterfly factors 1 / (2 cos((2k + 1) pi / 2N)) for N = 32..2.
float g_dctFactor[6][16];
bool g_ready = false;

void buildTables() {
  double full[512];
  for (int i = 0; i < 512; ++i) {
    const int h = i <= 256 ? tables::kSynthesisWindowHalf[i] : tables::kSynthesisWindowHalf[512 - i];
    full[i] = ((i >> 6) & 1 ? -h : h) / 65536.0;
  }
  // The reduced filter banks take every 2nd or 4th tap; they sum as many
  // taps per output sample as the full one, so the gain stays.
  for (int i = 0; i < 512; ++i) g_window32[i] = float(full[i] * 32768.0);
  for (int i = 0; i < 256; ++i) g_window16[i] = float(full[i * 2] * 32768.0);
  for (int i = 0; i < 128; ++i) g_window8[i] = float(full[i * 4] * 32768.0);
  for (int level = 0, n = 32; n >= 2; ++level, n >>= 1)
    for (int k = 0; k < n / 2; ++k) g_dctFactor[level][k] = float(0.5 / std::cos((2 * k + 1) * kPi / (2 * n)));
  g_ready = true;
}

// X[j] = sum_k s[k] cos(j (2k + 1) pi / 2N), by halving (Lee).
template <int N>
inline void dct(const float* s, float* x) {
  if constexpr (N == 1) {
    x[0] = s[0];
  } else {
    constexpr int level = N == 32 ? 0 : N == 16 ? 1 : N == 8 ? 2 : N == 4 ? 3 : 4;
    float a[N / 2], b[N / 2], e[N / 2], o[N / 2];
    for (int k = 0; k < N / 2; ++k) {
      a[k] = s[k] + s[N - 1 - k];
      b[k] = (s[k] - s[N - 1 - k]) * g_dctFactor[level][k];
    }
    dct<N / 2>(a, e);
    dct<N / 2>(b, o);
    for (int j = 0; j < N / 2; ++j) {
      x[2 * j] = e[j];
      x[2 * j + 1] = o[j] + (j + 1 < N / 2 ? o[j + 1] : 0.0f);
    }
  }
}

// One time slot: N subband samples in, N output samples (16-bit scale) out.
template <int N>
inline void synthSlot(History& h, const float* s, float* out) {
  const float* window = N == 32 ? g_window32 : N == 16 ? g_window16 : g_window8;
  float x[N];
  dct<N>(s, x);
  h.newest = (h.newest + 15) & 15;
  float* v = h.v[h.newest];
  // Matrixing of the standard expressed through the DCT: 2N values.
  for (int i = 0; i < N / 2; ++i) v[i] = x[N / 2 + i];
  v[N / 2] = 0.0f;
  for (int i = N / 2 + 1; i < 3 * N / 2; ++i) v[i] = -x[3 * N / 2 - i];
  for (int i = 3 * N / 2; i < 2 * N; ++i) v[i] = -x[i - 3 * N / 2];
  for (int j = 0; j < N; ++j) out[j] = 0.0f;
  for (int i = 0; i < 8; ++i) {
    const float* even = h.v[(h.newest + 2 * i) & 15];
    const float* odd = h.v[(h.newest + 2 * i + 1) & 15];
    const float* w = window + 2 * N * i;
    for (int j = 0; j < N; ++j) out[j] += even[j] * w[j] + odd[N + j] * w[N + j];
  }
}

template <bool Eight>
inline void store(float value, uint8_t* pcm, int index) {
  if constexpr (Eight) {
    long v = std::lrint(value * (1.0f / 256.0f));
    if (v > 127) v = 127;
    if (v < -128) v = -128;
    pcm[index] = uint8_t(v + 128);
  } else {
    long v = std::lrint(value);
    if (v > 32767) v = 32767;
    if (v < -32768) v = -32768;
    const int16_t s = int16_t(v);
    std::memcpy(pcm + 2 * index, &s, 2);
  }
}

// The output variants: Mode says how the frame's channels become output.
enum class Mode { Mono, Stereo, MonoToBoth, Mix, Left, Right };

template <int N, bool Eight, Mode M>
int32_t run(SubbandBlock& s, int slots, uint8_t* pcm) {
  constexpr int outCh = (M == Mode::Stereo || M == Mode::MonoToBoth) ? 2 : 1;
  // The equalizer as it stands for this frame.
  const bool eq = g_eqEnabled.load(std::memory_order_relaxed);
  float factors[N];
  for (int k = 0; k < N; ++k) factors[k] = eq ? g_eqFactors[k].load(std::memory_order_relaxed) : 1.0f;
  float out[N];
  int index = 0;
  for (int t = 0; t < slots; ++t) {
    float in[N];
    if constexpr (M == Mode::Mix) {
      for (int k = 0; k < N; ++k) in[k] = 0.5f * (s[0][t][k] + s[1][t][k]);
    } else {
      const int ch = M == Mode::Right ? 1 : 0;
      for (int k = 0; k < N; ++k) in[k] = s[ch][t][k];
    }
    if (eq)
      for (int k = 0; k < N; ++k) in[k] *= factors[k];
    synthSlot<N>(g_history[0], in, out);
    if constexpr (M == Mode::Stereo) {
      float out2[N];
      float in2[N];
      for (int k = 0; k < N; ++k) in2[k] = s[1][t][k];
      if (eq)
        for (int k = 0; k < N; ++k) in2[k] *= factors[k];
      synthSlot<N>(g_history[1], in2, out2);
      for (int j = 0; j < N; ++j) {
        store<Eight>(out[j], pcm, index + 2 * j);
        store<Eight>(out2[j], pcm, index + 2 * j + 1);
      }
    } else if constexpr (M == Mode::MonoToBoth) {
      for (int j = 0; j < N; ++j) {
        store<Eight>(out[j], pcm, index + 2 * j);
        store<Eight>(out[j], pcm, index + 2 * j + 1);
      }
    } else {
      for (int j = 0; j < N; ++j) store<Eight>(out[j], pcm, index + j);
    }
    index += N * outCh;
  }
  return index * (Eight ? 1 : 2);
}

template <int N, bool Eight>
int32_t runMode(Mode m, SubbandBlock& s, int slots, uint8_t* pcm) {
  switch (m) {
    case Mode::Mono: return run<N, Eight, Mode::Mono>(s, slots, pcm);
    case Mode::Stereo: return run<N, Eight, Mode::Stereo>(s, slots, pcm);
    case Mode::MonoToBoth: return run<N, Eight, Mode::MonoToBoth>(s, slots, pcm);
    case Mode::Mix: return run<N, Eight, Mode::Mix>(s, slots, pcm);
    case Mode::Left: return run<N, Eight, Mode::Left>(s, slots, pcm);
    case Mode::Right: return run<N, Eight, Mode::Right>(s, slots, pcm);
  }
  return 0;
}

}  // namespace

void synthesisReset() {
  if (!g_ready) buildTables();
  for (History& h : g_history) {
    std::memset(h.v, 0, sizeof h.v);
    h.newest = 0;
  }
}

int32_t synthesize(SubbandBlock& samples, int channels, int slots, uint8_t* pcm) {
  const Stream& st = g_stream;
  Mode m;
  if (st.outChannels == 2)
    m = channels == 2 ? Mode::Stereo : Mode::MonoToBoth;
  else if (channels == 1)
    m = Mode::Mono;
  else
    m = st.conversion == 2 ? Mode::Left : st.conversion == 3 ? Mode::Right : Mode::Mix;
  if (st.eightBit) {
    switch (st.reduction) {
      case 0: return runMode<32, true>(m, samples, slots, pcm);
      case 1: return runMode<16, true>(m, samples, slots, pcm);
      default: return runMode<8, true>(m, samples, slots, pcm);
    }
  }
  switch (st.reduction) {
    case 0: return runMode<32, false>(m, samples, slots, pcm);
    case 1: return runMode<16, false>(m, samples, slots, pcm);
    default: return runMode<8, false>(m, samples, slots, pcm);
  }
}

}  // namespace mpegaudio::detail
