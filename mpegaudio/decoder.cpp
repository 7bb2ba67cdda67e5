// Stream set-up, frame dispatch and the equalizer.
#include <cmath>

#include "mpegaudio/internal.h"
#include "mpegaudio/tables.h"

namespace mpegaudio {

namespace detail {

Stream g_stream;
std::atomic<bool> g_eqEnabled{false};
std::atomic<float> g_eqFactors[32] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                      1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
float g_scaleFactor[64];
bool g_lastFrameMissedData = false;

void followChannelCount(int32_t channels) {
  if (channels == 1 || channels == 2) g_stream.outChannels = channels;
}

void buildDerivedTables() {
  static bool built = false;
  if (built) return;
  for (int n = 0; n < 63; ++n) g_scaleFactor[n] = float(2.0 * std::pow(2.0, -n / 3.0));
  g_scaleFactor[63] = 0.0f;  // not a legal index: silence rather than noise
  built = true;
}

int32_t subbandsForLimit(int32_t limit, int32_t rate, int32_t reduction, int32_t streamLimit) {
  if (limit < 1000) limit = 1000;
  int32_t n = int32_t(std::lround(double(limit) * 64.0 / rate));
  int32_t cap = 32 >> reduction;
  if (cap > 8) cap -= 1;
  if (n > cap) n = cap;
  if (n > streamLimit) n = streamLimit;
  if (n < 1) n = 1;
  return n;
}

}  // namespace detail

using namespace detail;

int32_t decodeInit(const MpegHeader* header, int32_t frameBytes, int32_t reduction, int32_t /*transform*/,
                   int32_t conversion, int32_t frequencyLimit) {
  buildDerivedTables();
  Stream& st = g_stream;
  st.ready = false;
  if (!header) return 0;
  const MpegHeader& h = *header;
  if (h.sync != 1 && h.sync != 2) return 0;
  if (h.sync == 2 && h.id) return 0;
  if (h.layerOption < 1 || h.layerOption > 3 || h.sampleRateIndex < 0 || h.sampleRateIndex > 2 || h.bitrateIndex < 0 ||
      h.bitrateIndex > 14 || h.mode < 0 || h.mode > 3)
    return 0;
  // Layers I and II know no MPEG-2.5.
  if (h.sync == 2 && h.layerOption != 1) return 0;
  if (h.bitrateIndex == 0 && (frameBytes <= 0 || frameBytes > 8192)) return 0;

  st.header = h;
  st.version = h.sync == 2 ? 2 : (h.id ? 0 : 1);
  st.freeBytes = h.bitrateIndex == 0 ? frameBytes : 0;
  st.reduction = reduction < 0 ? 0 : reduction > 2 ? 2 : reduction;
  st.conversion = conversion & 3;
  st.eightBit = (conversion & 8) != 0;
  st.fullBand = frequencyLimit == kFullBand;
  st.frequencyLimit = frequencyLimit;
  st.outChannels = (h.mode == 3 || st.conversion != 0) ? 1 : 2;
  st.sampleRate = tables::kSampleRate[st.version][h.sampleRateIndex];
  st.samplesPerFrame = headerSamplesPerFrame(h);
  st.subbandCap =
      st.fullBand ? (32 >> st.reduction) : subbandsForLimit(frequencyLimit, st.sampleRate, st.reduction, 32);
  switch (h.layerOption) {
    case 2:
      if (!layer2Init()) return 0;
      break;
    case 1: layer3Init(); break;
    default: break;
  }
  synthesisReset();
  st.ready = true;
  return 1;
}

void decodeInfo(DecoderInfo* info) {
  if (!info) return;
  const Stream& st = g_stream;
  *info = DecoderInfo{};
  if (!st.ready) return;
  info->channels = st.outChannels;
  info->valuesPerFrame = (st.samplesPerFrame >> st.reduction) * st.outChannels;
  info->sampleRate = st.sampleRate >> st.reduction;
  info->bitsPerSample = st.eightBit ? 8 : 16;
  info->frameBytes = info->valuesPerFrame * (st.eightBit ? 1 : 2);
  info->type = 0;
}

DecodeResult decodeFrame(const uint8_t* data, int32_t length, void* pcm) {
  DecodeResult r;
  const Stream& st = g_stream;
  if (!st.ready || !data || !pcm || length < 4) return r;
  MpegHeader h;
  if (!parseHeader(data, &h)) return r;
  // Only frames of the stream that was set up.
  if (h.layerOption != st.header.layerOption || h.id != st.header.id || h.sampleRateIndex != st.header.sampleRateIndex)
    return r;
  if ((h.bitrateIndex == 0) != (st.header.bitrateIndex == 0)) return r;
  int32_t produced = 0;
  int32_t consumed = 0;
  uint8_t* out = static_cast<uint8_t*>(pcm);
  g_lastFrameMissedData = false;
  switch (st.header.layerOption) {
    case 3: consumed = layer1Decode(data, length, out, &produced); break;
    case 2: consumed = layer2Decode(data, length, out, &produced); break;
    default: consumed = layer3Decode(data, length, out, &produced); break;
  }
  if (consumed <= 0) return r;
  r.consumed = consumed;
  r.produced = produced;
  return r;
}

void setEqualizerEnabled(bool enabled) { g_eqEnabled.store(enabled, std::memory_order_relaxed); }

void setEqualizerTable(const float factors[32]) {
  if (!factors) return;
  for (int i = 0; i < 32; ++i) g_eqFactors[i].store(factors[i], std::memory_order_relaxed);
}

}  // namespace mpegaudio
