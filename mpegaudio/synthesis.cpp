// Polyphase synthesis filter bank with its output variants: 32, 16 or 8
// subbands (full, half, quarter rate), one or two channels, 16- or 8-bit.
// The filter bank itself and the 16-bit conversion are kernels (kernels.h).
#include <cmath>

#include "mpegaudio/internal.h"
#include "mpegaudio/kernels.h"

namespace mpegaudio::detail {

namespace {

History g_history[2];
// Mixed or equalized subband samples, and the filter bank's output, of one
// call (slot rows).
constexpr int kMaxSlots = 36;
alignas(32) float g_input[kMaxSlots * 32];
alignas(32) float g_output[2][kMaxSlots * 32];

inline void store8(const float* values, int n, int step, uint8_t* pcm) {
  for (int j = 0; j < n; ++j) {
    long v = std::lrint(values[j] * (1.0f / 256.0f));
    if (v > 127) v = 127;
    if (v < -128) v = -128;
    pcm[j * step] = uint8_t(v + 128);
  }
}

// The output variants: Mode says how the frame's channels become output.
enum class Mode { Mono, Stereo, MonoToBoth, Mix, Left, Right };

template <int N, bool Eight, Mode M>
int32_t run(const Kernels& k, SubbandBlock& s, int slots, uint8_t* pcm) {
  constexpr int outCh = (M == Mode::Stereo || M == Mode::MonoToBoth) ? 2 : 1;
  constexpr int bytes = Eight ? 1 : 2;
  auto synth = N == 32 ? k.synth32 : N == 16 ? k.synth16 : k.synth8;
  // The equalizer as it stands for this frame.
  const bool eq = g_eqEnabled.load(std::memory_order_relaxed);
  float factors[N];
  for (int j = 0; j < N; ++j) factors[j] = eq ? g_eqFactors[j].load(std::memory_order_relaxed) : 1.0f;
  // The subband samples of one output channel: straight from the block, or
  // mixed and equalized into g_input (slot rows of N).
  float* buffer = g_input;
  auto input = [&](int ch, int* stride) -> const float* {
    if (M != Mode::Mix && !eq) {
      *stride = 32;
      return s[ch][0];
    }
    for (int t = 0; t < slots; ++t) {
      float* row = buffer + t * N;
      if constexpr (M == Mode::Mix) {
        for (int j = 0; j < N; ++j) row[j] = 0.5f * (s[0][t][j] + s[1][t][j]);
      } else {
        for (int j = 0; j < N; ++j) row[j] = s[ch][t][j];
      }
      if (eq)
        for (int j = 0; j < N; ++j) row[j] *= factors[j];
    }
    *stride = N;
    return buffer;
  };
  float* out = g_output[0];
  float* out2 = g_output[1];
  int stride = 0;
  const float* first = input(M == Mode::Right ? 1 : 0, &stride);
  synth(g_history[0], first, stride, slots, out);
  const int n = slots * N;
  if constexpr (M == Mode::Stereo) {
    const float* second = input(1, &stride);
    synth(g_history[1], second, stride, slots, out2);
    if constexpr (Eight) {
      store8(out, n, 2, pcm);
      store8(out2, n, 2, pcm + 1);
    } else {
      k.pcm16Stereo(out, out2, n, pcm);
    }
  } else if constexpr (M == Mode::MonoToBoth) {
    if constexpr (Eight) {
      store8(out, n, 2, pcm);
      store8(out, n, 2, pcm + 1);
    } else {
      k.pcm16Stereo(out, out, n, pcm);
    }
  } else if constexpr (Eight) {
    store8(out, n, 1, pcm);
  } else {
    k.pcm16Mono(out, n, pcm);
  }
  return n * outCh * bytes;
}

template <int N, bool Eight>
int32_t runMode(Mode m, SubbandBlock& s, int slots, uint8_t* pcm) {
  const Kernels& k = kernels();
  switch (m) {
    case Mode::Mono: return run<N, Eight, Mode::Mono>(k, s, slots, pcm);
    case Mode::Stereo: return run<N, Eight, Mode::Stereo>(k, s, slots, pcm);
    case Mode::MonoToBoth: return run<N, Eight, Mode::MonoToBoth>(k, s, slots, pcm);
    case Mode::Mix: return run<N, Eight, Mode::Mix>(k, s, slots, pcm);
    case Mode::Left: return run<N, Eight, Mode::Left>(k, s, slots, pcm);
    case Mode::Right: return run<N, Eight, Mode::Right>(k, s, slots, pcm);
  }
  return 0;
}

}  // namespace

void synthesisReset() {
  buildKernelTables();
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
