// The kernels' shared tables, their plain C++ build, and the choice of the
// build that runs.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "mpegaudio/kernel_common.h"
#include "mpegaudio/tables.h"

namespace mpegaudio::detail {

float g_dct4[18][18];
float g_imdctShort[12][6];
float g_imdctWindow[4][36];
float g_imdctSignedWindow[4][36];
alignas(32) float g_synthWindow32[512];
alignas(32) float g_synthWindow16[256];
alignas(32) float g_synthWindow8[128];
float g_dctFactor[6][16];

namespace {

constexpr double kPi = 3.14159265358979323846;

void buildTables() {
  // Layer III IMDCT: the 36-point IMDCT folds onto an 18-point DCT-IV.
  for (int j = 0; j < 18; ++j)
    for (int k = 0; k < 18; ++k) g_dct4[j][k] = float(std::cos(kPi / 72.0 * (2 * j + 1) * (2 * k + 1)));
  for (int i = 0; i < 12; ++i)
    for (int k = 0; k < 6; ++k) g_imdctShort[i][k] = float(std::cos(kPi / 24.0 * (2 * i + 1 + 6) * (2 * k + 1)));
  // Windows by block type: 0 normal, 1 start, 2 short (12 taps), 3 stop.
  double win[4][36] = {};
  for (int i = 0; i < 36; ++i) win[0][i] = std::sin(kPi / 36.0 * (i + 0.5));
  for (int i = 0; i < 18; ++i) win[1][i] = win[0][i];
  for (int i = 18; i < 24; ++i) win[1][i] = 1.0;
  for (int i = 24; i < 30; ++i) win[1][i] = std::sin(kPi / 12.0 * (i - 18 + 0.5));
  for (int i = 0; i < 12; ++i) win[2][i] = std::sin(kPi / 12.0 * (i + 0.5));
  for (int i = 6; i < 12; ++i) win[3][i] = std::sin(kPi / 12.0 * (i - 6 + 0.5));
  for (int i = 12; i < 18; ++i) win[3][i] = 1.0;
  for (int i = 18; i < 36; ++i) win[3][i] = win[0][i];
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 36; ++i) g_imdctWindow[t][i] = float(win[t][i]);
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 36; ++i) g_imdctSignedWindow[t][i] = i < 9 ? g_imdctWindow[t][i] : -g_imdctWindow[t][i];

  // Synthesis window D[0..511] (the table holds half; the rest by symmetry).
  double full[512];
  for (int i = 0; i < 512; ++i) {
    const int h = i <= 256 ? tables::kSynthesisWindowHalf[i] : tables::kSynthesisWindowHalf[512 - i];
    full[i] = ((i >> 6) & 1 ? -h : h) / 65536.0;
  }
  // The reduced filter banks take every 2nd or 4th tap; they sum as many
  // taps per output sample as the full one, so the gain stays.
  for (int i = 0; i < 512; ++i) g_synthWindow32[i] = float(full[i] * 32768.0);
  for (int i = 0; i < 256; ++i) g_synthWindow16[i] = float(full[i * 2] * 32768.0);
  for (int i = 0; i < 128; ++i) g_synthWindow8[i] = float(full[i * 4] * 32768.0);
  for (int level = 0, n = 32; n >= 2; ++level, n >>= 1)
    for (int k = 0; k < n / 2; ++k) g_dctFactor[level][k] = float(0.5 / std::cos((2 * k + 1) * kPi / (2 * n)));
}

// ---- Plain C++ kernels -------------------------------------------------------

template <int N>
void windowScalar(const History& h, float* out) {
  const float* window = synthWindow<N>();
  for (int j = 0; j < N; ++j) out[j] = 0.0f;
  for (int i = 0; i < 8; ++i) {
    const float* even = h.v[(h.newest + 2 * i) & 15];
    const float* odd = h.v[(h.newest + 2 * i + 1) & 15];
    const float* w = window + 2 * N * i;
    for (int j = 0; j < N; ++j) out[j] += even[j] * w[j] + odd[N + j] * w[N + j];
  }
}

template <int N>
void synthScalar(History& h, const float* in, int stride, int slots, float* out) {
  synthSlots<Lane1, N>(h, in, stride, slots, out, windowScalar<N>);
}

inline int16_t toPcm16(float value) {
  long v = std::lrint(value);
  if (v > 32767) v = 32767;
  if (v < -32768) v = -32768;
  return int16_t(v);
}

void pcm16MonoScalar(const float* a, int n, uint8_t* out) {
  for (int j = 0; j < n; ++j) {
    const int16_t s = toPcm16(a[j]);
    std::memcpy(out + 2 * j, &s, 2);
  }
}

void pcm16StereoScalar(const float* a, const float* b, int n, uint8_t* out) {
  for (int j = 0; j < n; ++j) {
    const int16_t s[2] = {toPcm16(a[j]), toPcm16(b[j])};
    std::memcpy(out + 4 * j, s, 4);
  }
}

const Kernels kScalar = {SimdPath::scalar, imdctRange<Lane1>, 1, synthScalar<32>, synthScalar<16>, synthScalar<8>,
                         pcm16MonoScalar,  pcm16StereoScalar};

// ---- Choice ------------------------------------------------------------------

const Kernels* available(SimdPath path) {
  switch (path) {
    case SimdPath::scalar: return scalarKernels();
    case SimdPath::sse2: return sse2Kernels();
    case SimdPath::avx2: return avx2Kernels();
  }
  return nullptr;
}

const Kernels* bestKernels() {
  if (const char* forced = std::getenv("LM_MPEGAUDIO_SIMD")) {
    const std::optional<SimdPath> p = parseSimdPath(forced);
    if (p && available(*p)) return available(*p);
  }
  if (const Kernels* k = avx2Kernels()) return k;
  if (const Kernels* k = sse2Kernels()) return k;
  return scalarKernels();
}

std::once_flag g_chosenOnce;
const Kernels* g_active = nullptr;

void choose() {
  std::call_once(g_chosenOnce, [] {
    buildTables();
    g_active = bestKernels();
  });
}

}  // namespace

void buildKernelTables() { choose(); }

const Kernels* scalarKernels() { return &kScalar; }

const Kernels* avx2Kernels() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool usable = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return usable ? avx2KernelsBuilt() : nullptr;
#else
  return nullptr;
#endif
}

const Kernels& kernels() {
  choose();
  return *g_active;
}

}  // namespace mpegaudio::detail

namespace mpegaudio {

SimdPath simdPath() { return detail::kernels().path; }

bool simdPathAvailable(SimdPath path) { return detail::available(path) != nullptr; }

bool useSimdPath(SimdPath path) {
  detail::choose();
  const detail::Kernels* k = detail::available(path);
  if (!k) return false;
  detail::g_active = k;
  return true;
}

const char* simdPathName(SimdPath path) {
  switch (path) {
    case SimdPath::scalar: return "scalar";
    case SimdPath::sse2: return "sse2";
    case SimdPath::avx2: return "avx2";
  }
  return "?";
}

std::optional<SimdPath> parseSimdPath(const char* name) {
  if (!name) return std::nullopt;
  for (SimdPath p : {SimdPath::scalar, SimdPath::sse2, SimdPath::avx2})
    if (std::strcmp(name, simdPathName(p)) == 0) return p;
  return std::nullopt;
}

}  // namespace mpegaudio
