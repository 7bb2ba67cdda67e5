// Decoding speed per second of audio.  Counter "xRealtime" = seconds of audio
// decoded per second of CPU time on one core (1000 / xRealtime = CPU ms per
// audio second).  Streams come from the shared conformance set beside the
// checkout (skipped when absent), from tests/data, and from the 120 s files
// scripts/bench-decoder.sh makes with Debian's encoders (in the directory
// LM_MPEGAUDIO_BENCH_DATA names; skipped when unset).  The inner loops are
// the build the processor's best (or LM_MPEGAUDIO_SIMD's).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mpegaudio/mpegaudio.h"
#include "mpegaudio/simd.h"
#include "mpegaudio/streamwalk.h"

namespace {

std::vector<uint8_t> readAll(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

std::string shared(const char* name) { return std::string(LM_SOURCE_DIR "/../shared/testdata/mpeg/") + name; }
std::string lean(const char* name) { return std::string(LM_SOURCE_DIR "/tests/data/mpegaudio/") + name; }

void decodeSpeed(benchmark::State& state, std::string path, int32_t limit, int32_t conversion) {
  const std::vector<uint8_t> bits = readAll(path);
  size_t at = 0;
  mpegaudio::MpegHeader h;
  int32_t frameBytes = 0, bitrate = 0;
  if (bits.empty() || !mpegaudio::lockStream(bits.data(), bits.size(), 0, &at, &h, &frameBytes, &bitrate)) {
    state.SkipWithError(("stream not available: " + path).c_str());
    return;
  }
  std::vector<uint8_t> pcm(mpegaudio::kMaxPcmFrameBytes);
  double audioSeconds = 0.0;
  for (auto _ : state) {
    mpegaudio::decodeInit(&h, frameBytes, 0, 0, conversion, limit);
    mpegaudio::DecoderInfo info;
    mpegaudio::decodeInfo(&info);
    size_t pos = at;
    int64_t values = 0;
    while (pos + 4 <= bits.size()) {
      const mpegaudio::DecodeResult r =
          mpegaudio::decodeFrame(bits.data() + pos, int32_t(bits.size() - pos), pcm.data());
      if (r.consumed <= 0) break;
      pos += size_t(r.consumed);
      values += r.produced / (info.bitsPerSample / 8);
    }
    benchmark::DoNotOptimize(pcm.data());
    audioSeconds += double(values) / info.channels / info.sampleRate;
  }
  state.counters["xRealtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}

std::string generated(const char* name) {
  const char* dir = std::getenv("LM_MPEGAUDIO_BENCH_DATA");
  return std::string(dir ? dir : "/nonexistent") + "/" + name;
}

void registerAll() {
  struct Item {
    const char* name;
    std::string path;
    int32_t limit;
    int32_t conversion;
  } items[] = {
      // Generated 120 s music-like files (lame, twolame), 44.1 kHz stereo.
      {"Gen_L3_128k_44k_stereo_120s", generated("l3_128.mp3"), mpegaudio::kEngineFrequencyLimit, 0},
      {"Gen_L3_320k_44k_stereo_120s", generated("l3_320.mp3"), mpegaudio::kEngineFrequencyLimit, 0},
      {"Gen_L2_256k_44k_stereo_120s", generated("l2_256.mp2"), mpegaudio::kEngineFrequencyLimit, 0},
      // Layer III, 44.1 kHz stereo, 128 kbit/s (music-like content and a sine).
      {"L3_128k_44k_stereo_hecommon", lean("l3-hecommon.bit"), mpegaudio::kEngineFrequencyLimit, 0},
      {"L3_128k_44k_stereo_sine", shared("l3-sin1k0db.bit"), mpegaudio::kEngineFrequencyLimit, 0},
      // Layer III, 320 kbit/s stereo (the shared performance streams are 48 kHz).
      {"L3_320k_48k_stereo_mips", shared("performance/MIPSTest.mp3"), mpegaudio::kEngineFrequencyLimit, 0},
      {"L3_320k_48k_stereo_noise", shared("performance/noise_meandr.mp3"), mpegaudio::kEngineFrequencyLimit, 0},
      // Layer II stereo.
      {"L2_256k_48k_stereo", shared("l2-fl16.bit"), mpegaudio::kEngineFrequencyLimit, 0},
      {"L2_32k_32k_mono", lean("l2-fl13.bit"), mpegaudio::kEngineFrequencyLimit, 0},
      // Output variants on the 128k stream: full band, down-mix, 8-bit.
      {"L3_128k_fullband", lean("l3-hecommon.bit"), mpegaudio::kFullBand, 0},
      {"L3_128k_mix_8bit", lean("l3-hecommon.bit"), mpegaudio::kEngineFrequencyLimit,
       mpegaudio::kConversionMix | mpegaudio::kConversion8Bit},
  };
  for (const Item& it : items) {
    benchmark::RegisterBenchmark(it.name, decodeSpeed, it.path, it.limit, it.conversion)->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("decoder inner loops: %s\n", mpegaudio::simdPathName(mpegaudio::simdPath()));
  registerAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
