// Layers I and II: bit allocation, scale factors, samples, requantisation.
#include "mpegaudio/internal.h"
#include "mpegaudio/tables.h"

namespace mpegaudio::detail {

namespace {

SubbandBlock g_block;

// Requantisation of a code v of a quantiser with `levels` steps:
// (2v - (levels - 1)) / levels.
inline float requantise(uint32_t v, int32_t levels) { return (2.0f * float(v) - float(levels - 1)) / float(levels); }

int channelsOf(const MpegHeader& h) { return h.mode == 3 ? 1 : 2; }

int32_t bitrateKbps(const MpegHeader& h) {
  if (h.bitrateIndex != 0) return tables::kBitrate[h.id][3 - h.layerOption][h.bitrateIndex];
  // Free format: the rate that the measured frame length stands for.
  const int32_t rate = headerSampleRate(h);
  return int32_t(int64_t(g_stream.freeBytes) * rate / 144 / 1000);
}

// The allocation table for a frame, -1 when the combination of bitrate and
// mode is not allowed.
int selectLayer2Table(const MpegHeader& h) {
  if (!h.id) return 4;
  const int nch = channelsOf(h);
  const int32_t kbps = bitrateKbps(h);
  const int32_t rate = headerSampleRate(h);
  if (h.bitrateIndex != 0) {
    if (nch == 1 && kbps > 192) return -1;
    if (nch == 2 && (kbps == 32 || kbps == 48 || kbps == 56 || kbps == 80)) return -1;
  }
  const int32_t perChannel = kbps / nch;
  if (h.bitrateIndex == 0) return rate == 48000 ? 0 : 1;
  if (perChannel <= 48) return rate == 32000 ? 3 : 2;
  if (perChannel <= 80) return 0;
  return rate == 48000 ? 0 : 1;
}

void clearBlock(int nch, int slots) {
  for (int ch = 0; ch < nch; ++ch)
    for (int t = 0; t < slots; ++t)
      for (int sb = 0; sb < 32; ++sb) g_block[ch][t][sb] = 0.0f;
}

}  // namespace

bool layer2Init() { return selectLayer2Table(g_stream.header) >= 0; }

namespace {

// ---- Layer I stages -----------------------------------------------------------

struct Layer1Frame {
  int nch = 2;
  int bound = 32;
  uint8_t alloc[2][32] = {};
  uint8_t scf[2][32] = {};
};

void readAllocationLayer1(BitReader& br, Layer1Frame& f) {
  for (int sb = 0; sb < 32; ++sb) {
    if (sb < f.bound) {
      for (int ch = 0; ch < f.nch; ++ch) f.alloc[ch][sb] = uint8_t(br.get(4));
    } else {
      f.alloc[0][sb] = f.alloc[1][sb] = uint8_t(br.get(4));
    }
  }
}

void readScaleFactorsLayer1(BitReader& br, Layer1Frame& f) {
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < f.nch; ++ch)
      if (f.alloc[ch][sb]) f.scf[ch][sb] = uint8_t(br.get(6));
}

// Samples of 12 time slots, requantised and scaled into g_block.
void readSamplesLayer1(BitReader& br, const Layer1Frame& f, int limit) {
  for (int t = 0; t < 12; ++t) {
    for (int sb = 0; sb < 32; ++sb) {
      const int readers = sb < f.bound ? f.nch : 1;
      for (int ch = 0; ch < readers; ++ch) {
        const int a = f.alloc[ch][sb];
        if (a == 0) continue;
        const int nb = a + 1;
        const uint32_t v = br.get(nb);
        if (sb >= limit || a == 15) continue;  // 15 is forbidden: silence
        const float x = requantise(v, (1 << nb) - 1);
        if (sb < f.bound) {
          g_block[ch][t][sb] = x * g_scaleFactor[f.scf[ch][sb]];
        } else {
          for (int c = 0; c < f.nch; ++c) g_block[c][t][sb] = x * g_scaleFactor[f.scf[c][sb]];
        }
      }
    }
  }
}

// ---- Layer II stages ----------------------------------------------------------

struct Layer2Frame {
  int nch = 2;
  int sblimit = 32;
  int bound = 32;
  int8_t cls[2][32];  // quantisation class per channel and subband, -1: none
  uint8_t scfsi[2][32] = {};
  uint8_t scf[2][32][3] = {};
};

void readAllocationLayer2(BitReader& br, const tables::Layer2Table& table, Layer2Frame& f) {
  for (int sb = 0; sb < 32; ++sb) f.cls[0][sb] = f.cls[1][sb] = -1;
  for (int sb = 0; sb < f.sblimit; ++sb) {
    if (sb < f.bound) {
      for (int ch = 0; ch < f.nch; ++ch) f.cls[ch][sb] = table.cls[sb][br.get(table.nbal[sb])];
    } else {
      f.cls[0][sb] = f.cls[1][sb] = table.cls[sb][br.get(table.nbal[sb])];
    }
  }
}

void readScaleFactorsLayer2(BitReader& br, Layer2Frame& f) {
  for (int sb = 0; sb < f.sblimit; ++sb)
    for (int ch = 0; ch < f.nch; ++ch)
      if (f.cls[ch][sb] >= 0) f.scfsi[ch][sb] = uint8_t(br.get(2));
  for (int sb = 0; sb < f.sblimit; ++sb) {
    for (int ch = 0; ch < f.nch; ++ch) {
      if (f.cls[ch][sb] < 0) continue;
      uint8_t* s = f.scf[ch][sb];
      switch (f.scfsi[ch][sb]) {
        case 0:
          s[0] = uint8_t(br.get(6));
          s[1] = uint8_t(br.get(6));
          s[2] = uint8_t(br.get(6));
          break;
        case 1:
          s[0] = s[1] = uint8_t(br.get(6));
          s[2] = uint8_t(br.get(6));
          break;
        case 2: s[0] = s[1] = s[2] = uint8_t(br.get(6)); break;
        default:
          s[0] = uint8_t(br.get(6));
          s[1] = s[2] = uint8_t(br.get(6));
          break;
      }
    }
  }
}

// Three samples of one subband: grouped code words are split into their
// three values.
void readTriple(BitReader& br, const tables::Layer2Class& q, uint32_t v[3]) {
  if (q.grouped) {
    uint32_t code = br.get(q.bits);
    for (int i = 0; i < 3; ++i) {
      v[i] = code % uint32_t(q.levels);
      code /= uint32_t(q.levels);
    }
  } else {
    for (int i = 0; i < 3; ++i) v[i] = br.get(q.bits);
  }
}

// Samples of 12 granules of 3 time slots, requantised and scaled into g_block.
void readSamplesLayer2(BitReader& br, const Layer2Frame& f, int limit) {
  for (int gr = 0; gr < 12; ++gr) {
    const int part = gr >> 2;
    for (int sb = 0; sb < f.sblimit; ++sb) {
      const int readers = sb < f.bound ? f.nch : 1;
      for (int ch = 0; ch < readers; ++ch) {
        const int c = f.cls[ch][sb];
        if (c < 0) continue;
        const tables::Layer2Class& q = tables::kLayer2Class[c];
        uint32_t v[3];
        readTriple(br, q, v);
        if (sb >= limit) continue;
        for (int i = 0; i < 3; ++i) {
          const float x = requantise(v[i], q.levels);
          if (sb < f.bound) {
            g_block[ch][gr * 3 + i][sb] = x * g_scaleFactor[f.scf[ch][sb][part]];
          } else {
            for (int o = 0; o < f.nch; ++o) g_block[o][gr * 3 + i][sb] = x * g_scaleFactor[f.scf[o][sb][part]];
          }
        }
      }
    }
  }
}

}  // namespace

int32_t layer1Decode(const uint8_t* data, int32_t length, uint8_t* pcm, int32_t* produced) {
  MpegHeader h;
  parseHeader(data, &h);
  if (h.sync != 1) return 0;
  const int32_t len = frameLength(h, g_stream.freeBytes);
  if (len <= 4 || len > length) return 0;
  BitReader br(data, len);
  br.skip(32);
  if (!h.protection) br.skip(16);
  Layer1Frame f;
  f.nch = channelsOf(h);
  f.bound = (h.mode == 1) ? (h.modeExtension + 1) * 4 : 32;
  readAllocationLayer1(br, f);
  readScaleFactorsLayer1(br, f);
  clearBlock(f.nch, 12);
  readSamplesLayer1(br, f, g_stream.subbandCap);
  *produced = synthesize(g_block, f.nch, 12, pcm);
  return len;
}

int32_t layer2Decode(const uint8_t* data, int32_t length, uint8_t* pcm, int32_t* produced) {
  MpegHeader h;
  parseHeader(data, &h);
  if (h.sync != 1) return 0;
  const int32_t len = frameLength(h, g_stream.freeBytes);
  if (len <= 4 || len > length) return 0;
  const int tableIndex = selectLayer2Table(h);
  if (tableIndex < 0) return 0;
  const tables::Layer2Table& table = tables::kLayer2Tables[tableIndex];
  BitReader br(data, len);
  br.skip(32);
  if (!h.protection) br.skip(16);
  Layer2Frame f;
  f.nch = channelsOf(h);
  f.sblimit = table.subbands;
  f.bound = (h.mode == 1) ? (h.modeExtension + 1) * 4 : f.sblimit;
  if (f.bound > f.sblimit) f.bound = f.sblimit;
  readAllocationLayer2(br, table, f);
  readScaleFactorsLayer2(br, f);
  clearBlock(f.nch, 36);
  readSamplesLayer2(br, f, g_stream.subbandCap);
  *produced = synthesize(g_block, f.nch, 36, pcm);
  return len;
}

}  // namespace mpegaudio::detail
