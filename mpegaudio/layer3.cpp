// Layer III: side information, bit reservoir, scale factors, Huffman
// decoding, requantisation, stereo processing, reordering, alias reduction,
// IMDCT with overlap-add and frequency inversion.
#include <cmath>
#include <vector>

#include "mpegaudio/internal.h"
#include "mpegaudio/kernels.h"
#include "mpegaudio/tables.h"

namespace mpegaudio::detail {

namespace {

using tables::kGranuleLines;
constexpr double kPi = 3.14159265358979323846;

// ---- Derived tables -------------------------------------------------------

// Huffman decoding by table lookup: a first level indexed by the next
// `primaryBits` bits, second-level tables for the longer codes.
// Leaf: (value << 8) | length; link: 0x80000000 | (offset << 8) | bits.
struct HuffmanLookup {
  std::vector<uint32_t> entries;
  int primaryBits = 0;
};
HuffmanLookup g_pairLookup[32];
HuffmanLookup g_quadLookup[2];

float g_pow43[8207];
float g_aliasCs[8], g_aliasCa[8];
float g_isRatio[7][2];  // MPEG-1 intensity positions 0..6: left, right factor
bool g_tablesReady = false;

float powQuarterSlow(int e) {
  static const float frac[4] = {1.0f, 1.18920711500272f, 1.41421356237310f, 1.68179283050743f};
  return std::ldexp(frac[e & 3], e >> 2);
}

// 2^(e/4) for the exponents side information and scale factors can give
// (global gain - 210, less subblock gain and scale factors): from a table.
constexpr int kPowQuarterLow = -512;
constexpr int kPowQuarterHigh = 64;
float g_powQuarter[kPowQuarterHigh - kPowQuarterLow];

inline float powQuarter(int e) {
  if (e >= kPowQuarterLow && e < kPowQuarterHigh) return g_powQuarter[e - kPowQuarterLow];
  return powQuarterSlow(e);
}

// Pair tables store (x << 4) | y as the value, quadruple tables v w x y as
// the four low bits (their index).
void buildLookup(const tables::HuffmanSource& src, bool quad, HuffmanLookup& out) {
  const int n = src.size * src.size;
  int maxLen = 0;
  for (int i = 0; i < n; ++i) maxLen = src.lengths[i] > maxLen ? src.lengths[i] : maxLen;
  const int p = maxLen < 8 ? maxLen : 8;
  out.primaryBits = p;
  // Defensive default for any unused pattern: value 0, one bit.
  out.entries.assign(size_t(1) << p, 1u);
  auto valueOf = [&](int i) -> uint32_t {
    return quad ? uint32_t(i) : uint32_t(((i / src.size) << 4) | (i % src.size));
  };
  // Short codes straight into the first level.
  for (int i = 0; i < n; ++i) {
    const int len = src.lengths[i];
    if (len > p) continue;
    const uint32_t first = uint32_t(src.codes[i]) << (p - len);
    for (uint32_t k = 0; k < (1u << (p - len)); ++k) out.entries[first + k] = (valueOf(i) << 8) | uint32_t(len);
  }
  // Long codes: one second-level table per first-level prefix, as deep as
  // the longest code under it.
  std::vector<int> subBits(size_t(1) << p, 0);
  for (int i = 0; i < n; ++i) {
    const int len = src.lengths[i];
    if (len <= p) continue;
    const uint32_t prefix = uint32_t(src.codes[i]) >> (len - p);
    if (len - p > subBits[prefix]) subBits[prefix] = len - p;
  }
  std::vector<uint32_t> offsets(size_t(1) << p, 0);
  for (uint32_t prefix = 0; prefix < (1u << p); ++prefix) {
    if (subBits[prefix] == 0) continue;
    offsets[prefix] = uint32_t(out.entries.size());
    out.entries.resize(out.entries.size() + (size_t(1) << subBits[prefix]), 1u);
    out.entries[prefix] = 0x80000000u | (offsets[prefix] << 8) | uint32_t(subBits[prefix]);
  }
  for (int i = 0; i < n; ++i) {
    const int len = src.lengths[i];
    if (len <= p) continue;
    const uint32_t prefix = uint32_t(src.codes[i]) >> (len - p);
    const int rest = len - p;
    const int bits = subBits[prefix];
    const uint32_t first = (uint32_t(src.codes[i]) & ((1u << rest) - 1)) << (bits - rest);
    for (uint32_t k = 0; k < (1u << (bits - rest)); ++k)
      out.entries[offsets[prefix] + first + k] = (valueOf(i) << 8) | uint32_t(rest);
  }
}

void buildTables() {
  for (int t = 0; t < 32; ++t)
    if (tables::kHuffmanPairs[t].codes) buildLookup(tables::kHuffmanPairs[t], false, g_pairLookup[t]);
  for (int t = 0; t < 2; ++t) buildLookup(tables::kHuffmanQuads[t], true, g_quadLookup[t]);
  for (int i = 0; i < 8207; ++i) g_pow43[i] = float(std::pow(double(i), 4.0 / 3.0));
  static const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
  for (int i = 0; i < 8; ++i) {
    const double sq = std::sqrt(1.0 + c[i] * c[i]);
    g_aliasCs[i] = float(1.0 / sq);
    g_aliasCa[i] = float(c[i] / sq);
  }
  for (int p = 0; p < 7; ++p) {
    if (p == 6) {
      g_isRatio[p][0] = 1.0f;
      g_isRatio[p][1] = 0.0f;
    } else {
      const double r = std::tan(p * kPi / 12.0);
      g_isRatio[p][0] = float(r / (1.0 + r));
      g_isRatio[p][1] = float(1.0 / (1.0 + r));
    }
  }
  for (int e = kPowQuarterLow; e < kPowQuarterHigh; ++e) g_powQuarter[e - kPowQuarterLow] = powQuarterSlow(e);
  g_tablesReady = true;
}

// ---- Stream state ----------------------------------------------------------

constexpr int kReservoirCap = 16384;
constexpr int kReservoirGuard = 128;  // readable slack past the data
uint8_t g_reservoir[kReservoirCap + kReservoirGuard];
int32_t g_reservoirBytes = 0;

float g_overlap[2][kSubbandLines][32];  // [channel][time][subband]
float g_xr[2][kGranuleLines];
int g_nonzero[2];  // lines at and above this are zero

struct GranuleChannel {
  int part23 = 0, bigValues = 0, globalGain = 0, scalefacCompress = 0;
  int windowSwitching = 0, blockType = 0, mixed = 0;
  int mixedFlag = 0;  // as coded: the lowest two subbands take the normal window
  int table[3] = {0, 0, 0};
  int subblockGain[3] = {0, 0, 0};
  int region0 = 0, region1 = 0;
  int preflag = 0, scalefacScale = 0, count1Table = 0;
};

struct SideInfo {
  int mainDataBegin = 0;
  int scfsi[2][4] = {};
  GranuleChannel gr[2][2];
};

struct ScaleFactors {
  int l[23] = {};
  int s[13][3] = {};
  // Largest value of each band's field: that value marks an illegal
  // intensity position in the lower sampling frequencies.
  int maxL[23] = {};
  int maxS[13][3] = {};
  int intensityScale = 0;
};
ScaleFactors g_scf[2];

// Fast bit reader over the reservoir; the guard bytes keep every read in
// the buffer even past the end of the data.
struct MainBits {
  const uint8_t* data;
  uint32_t pos;
  uint64_t window() const {
    // At least 57 valid bits, most significant first.
    uint64_t w;
    std::memcpy(&w, data + (pos >> 3), 8);
    return __builtin_bswap64(w) << (pos & 7);
  }
  uint32_t get(int n) {
    if (n <= 0) return 0;
    const uint32_t v = uint32_t(window() >> (64 - n));
    pos += uint32_t(n);
    return v;
  }
};

// ---- Stages ----------------------------------------------------------------

bool readSideInfo(const uint8_t* p, int bytes, bool lsf, int nch, SideInfo& si) {
  BitReader br(p, bytes);
  si = SideInfo{};
  si.mainDataBegin = int(br.get(lsf ? 8 : 9));
  br.skip(lsf ? (nch == 1 ? 1 : 2) : (nch == 1 ? 5 : 3));
  if (!lsf)
    for (int ch = 0; ch < nch; ++ch)
      for (int b = 0; b < 4; ++b) si.scfsi[ch][b] = int(br.get(1));
  const int ngr = lsf ? 1 : 2;
  for (int gr = 0; gr < ngr; ++gr) {
    for (int ch = 0; ch < nch; ++ch) {
      GranuleChannel& g = si.gr[gr][ch];
      g.part23 = int(br.get(12));
      g.bigValues = int(br.get(9));
      if (g.bigValues > kGranuleLines / 2) g.bigValues = kGranuleLines / 2;  // more cannot fit a granule
      g.globalGain = int(br.get(8));
      g.scalefacCompress = int(br.get(lsf ? 9 : 4));
      g.windowSwitching = int(br.get(1));
      if (g.windowSwitching) {
        g.blockType = int(br.get(2));
        g.mixed = g.mixedFlag = int(br.get(1));
        g.table[0] = int(br.get(5));
        g.table[1] = int(br.get(5));
        for (int w = 0; w < 3; ++w) g.subblockGain[w] = int(br.get(3));
        if (g.blockType != 2) g.mixed = 0;
      } else {
        for (int r = 0; r < 3; ++r) g.table[r] = int(br.get(5));
        g.region0 = int(br.get(4));
        g.region1 = int(br.get(3));
      }
      if (!lsf) g.preflag = int(br.get(1));
      g.scalefacScale = int(br.get(1));
      g.count1Table = int(br.get(1));
    }
  }
  return !br.overrun();
}

bool isShort(const GranuleChannel& g) { return g.windowSwitching && g.blockType == 2; }

// Lines of the long-block part of a mixed block: up to the start of short
// band 3 (36 lines, 72 at 8 kHz).
int mixedLongLines(const tables::ScaleFactorBands& bands) { return bands.shortBounds[3] * 3; }

void readScaleFactorsMpeg1(MainBits& b, const GranuleChannel& g, const int scfsi[4], int gr, ScaleFactors& sf) {
  const int slen1 = tables::kSlen[0][g.scalefacCompress];
  const int slen2 = tables::kSlen[1][g.scalefacCompress];
  if (isShort(g)) {
    int sfb = 0;
    if (g.mixed) {
      for (; sfb < 8; ++sfb) sf.l[sfb] = int(b.get(slen1));
      sfb = 3;
    }
    for (; sfb < 6; ++sfb)
      for (int w = 0; w < 3; ++w) sf.s[sfb][w] = int(b.get(slen1));
    for (; sfb < 12; ++sfb)
      for (int w = 0; w < 3; ++w) sf.s[sfb][w] = int(b.get(slen2));
    for (int w = 0; w < 3; ++w) sf.s[12][w] = 0;
    return;
  }
  static const int kBandStart[5] = {0, 6, 11, 16, 21};
  for (int band = 0; band < 4; ++band) {
    if (gr == 1 && scfsi[band]) continue;  // shared with the first granule
    const int slen = band < 2 ? slen1 : slen2;
    for (int sfb = kBandStart[band]; sfb < kBandStart[band + 1]; ++sfb) sf.l[sfb] = int(b.get(slen));
  }
  sf.l[21] = sf.l[22] = 0;
}

void readScaleFactorsLsf(MainBits& b, GranuleChannel& g, bool intensityRight, ScaleFactors& sf) {
  int slen[4] = {0, 0, 0, 0};
  int scheme;
  int sfc = g.scalefacCompress;
  g.preflag = 0;
  if (!intensityRight) {
    if (sfc < 400) {
      slen[0] = (sfc >> 4) / 5;
      slen[1] = (sfc >> 4) % 5;
      slen[2] = (sfc & 15) >> 2;
      slen[3] = sfc & 3;
      scheme = 0;
    } else if (sfc < 500) {
      sfc -= 400;
      slen[0] = (sfc >> 2) / 5;
      slen[1] = (sfc >> 2) % 5;
      slen[2] = sfc & 3;
      scheme = 1;
    } else {
      sfc -= 500;
      slen[0] = sfc / 3;
      slen[1] = sfc % 3;
      g.preflag = 1;
      scheme = 2;
    }
    sf.intensityScale = 0;
  } else {
    sf.intensityScale = sfc & 1;
    int isc = sfc >> 1;
    if (isc < 180) {
      slen[0] = isc / 36;
      slen[1] = (isc % 36) / 6;
      slen[2] = (isc % 36) % 6;
      scheme = 3;
    } else if (isc < 244) {
      isc -= 180;
      slen[0] = (isc % 64) >> 4;
      slen[1] = (isc % 16) >> 2;
      slen[2] = isc % 4;
      scheme = 4;
    } else {
      isc -= 244;
      slen[0] = isc / 3;
      slen[1] = isc % 3;
      scheme = 5;
    }
  }
  const int kind = isShort(g) ? (g.mixed ? 2 : 1) : 0;
  int values[40] = {};
  int maxima[40] = {};
  int n = 0;
  for (int part = 0; part < 4; ++part) {
    for (int k = 0; k < tables::kLsfSfbCount[scheme][kind][part] && n < 40; ++k, ++n) {
      values[n] = int(b.get(slen[part]));
      maxima[n] = (1 << slen[part]) - 1;
    }
  }
  n = 0;
  if (kind == 0) {
    for (int sfb = 0; sfb < 21; ++sfb, ++n) {
      sf.l[sfb] = values[n];
      sf.maxL[sfb] = maxima[n];
    }
    sf.l[21] = sf.l[22] = 0;
    sf.maxL[21] = sf.maxL[22] = sf.maxL[20];
    return;
  }
  int sfb = 0;
  if (kind == 2) {
    for (int i = 0; i < 6; ++i, ++n) {
      sf.l[i] = values[n];
      sf.maxL[i] = maxima[n];
    }
    sfb = 3;
  }
  for (; sfb < 12; ++sfb)
    for (int w = 0; w < 3; ++w, ++n) {
      sf.s[sfb][w] = values[n];
      sf.maxS[sfb][w] = maxima[n];
    }
  for (int w = 0; w < 3; ++w) {
    sf.s[12][w] = 0;
    sf.maxS[12][w] = sf.maxS[11][w];
  }
}

// Huffman decoding of the big-value and count1 regions into |x|^(4/3) with
// sign; returns the number of lines up to the last decoded one.
int decodeSpectrum(MainBits& b, uint32_t end, const GranuleChannel& g, const tables::ScaleFactorBands& bands,
                   float* xr) {
  const int bigEnd = g.bigValues * 2;
  int r1, r2;
  if (g.windowSwitching) {
    r1 = (g.blockType == 2 && !g.mixed) ? bands.shortBounds[3] * 3 : bands.longBounds[8];
    r2 = kGranuleLines;
  } else {
    const int a = g.region0 + 1;
    const int c = g.region0 + g.region1 + 2;
    r1 = bands.longBounds[a < 22 ? a : 22];
    r2 = bands.longBounds[c < 22 ? c : 22];
  }
  if (r1 > bigEnd) r1 = bigEnd;
  if (r2 > bigEnd) r2 = bigEnd;
  const int regionEnd[3] = {r1, r2, bigEnd};
  int i = 0;
  bool broken = false;
  for (int region = 0; region < 3 && !broken; ++region) {
    const int stop = regionEnd[region];
    const int sel = g.table[region];
    const tables::HuffmanSource& src = tables::kHuffmanPairs[sel];
    if (!src.codes) {  // table 0 (and the unused 4 and 14): all zero
      for (; i < stop; ++i) xr[i] = 0.0f;
      continue;
    }
    const HuffmanLookup& t = g_pairLookup[sel];
    const int linbits = src.linbits;
    while (i < stop) {
      // Code, linbits and signs of a pair take at most 19 + 2 * 14 bits:
      // all from one window of 57.
      uint64_t w = b.window();
      uint32_t e = t.entries[uint32_t(w >> (64 - t.primaryBits))];
      uint32_t used = 0;
      if (e & 0x80000000u) {
        used = uint32_t(t.primaryBits);
        const uint32_t bits = e & 0xFF;
        const uint32_t offset = (e >> 8) & 0x7FFFFF;
        e = t.entries[offset + uint32_t((w << used) >> (64 - bits))];
      }
      used += e & 0xFF;
      w <<= used;
      int x = int((e >> 12) & 15);
      int y = int((e >> 8) & 15);
      float fx = 0.0f, fy = 0.0f;
      if (x) {
        if (x == 15 && linbits) {
          x += int(w >> (64 - linbits));
          w <<= linbits;
          used += uint32_t(linbits);
        }
        fx = (w >> 63) ? -g_pow43[x] : g_pow43[x];
        w <<= 1;
        ++used;
      }
      if (y) {
        if (y == 15 && linbits) {
          y += int(w >> (64 - linbits));
          w <<= linbits;
          used += uint32_t(linbits);
        }
        fy = (w >> 63) ? -g_pow43[y] : g_pow43[y];
        ++used;
      }
      b.pos += used;
      xr[i] = fx;
      xr[i + 1] = fy;
      i += 2;
      if (b.pos > end) {  // codes ran off the granule's data
        broken = true;
        break;
      }
    }
  }
  if (!broken) {
    const HuffmanLookup& q = g_quadLookup[g.count1Table];
    while (i + 4 <= kGranuleLines && b.pos < end) {
      // Code and signs of a quadruple: at most 6 + 4 bits of one window.
      uint64_t w = b.window();
      const uint32_t e = q.entries[uint32_t(w >> (64 - q.primaryBits))];
      const uint32_t v = e >> 8;
      uint32_t used = e & 0xFF;
      w <<= used;
      float f[4];
      for (int k = 0; k < 4; ++k) {
        f[k] = 0.0f;
        if ((v >> (3 - k)) & 1) {
          f[k] = (w >> 63) ? -1.0f : 1.0f;
          w <<= 1;
          ++used;
        }
      }
      b.pos += used;
      if (b.pos > end) break;  // the last quadruple overran: dropped
      xr[i] = f[0];
      xr[i + 1] = f[1];
      xr[i + 2] = f[2];
      xr[i + 3] = f[3];
      i += 4;
    }
  }
  const int used = i;
  for (; i < kGranuleLines; ++i) xr[i] = 0.0f;
  return used;
}

void requantise(const GranuleChannel& g, const ScaleFactors& sf, const tables::ScaleFactorBands& bands, float* xr,
                int nonzero) {
  const int base = g.globalGain - 210;
  const int mult = g.scalefacScale ? 4 : 2;
  int longEnd = kGranuleLines;
  int shortStart = 13;
  if (isShort(g)) {
    longEnd = g.mixed ? mixedLongLines(bands) : 0;
    shortStart = g.mixed ? 3 : 0;
  }
  for (int sfb = 0; sfb < 22 && bands.longBounds[sfb] < longEnd && bands.longBounds[sfb] < nonzero; ++sfb) {
    const int pre = g.preflag ? tables::kPretab[sfb] : 0;
    const float f = powQuarter(base - mult * (sf.l[sfb] + pre));
    const int stop = bands.longBounds[sfb + 1] < longEnd ? bands.longBounds[sfb + 1] : longEnd;
    for (int i = bands.longBounds[sfb]; i < stop; ++i) xr[i] *= f;
  }
  if (shortStart > 12) return;
  for (int sfb = shortStart; sfb < 13; ++sfb) {
    const int width = bands.shortBounds[sfb + 1] - bands.shortBounds[sfb];
    const int start = bands.shortBounds[sfb] * 3;
    if (start >= nonzero) break;
    for (int w = 0; w < 3; ++w) {
      const float f = powQuarter(base - 8 * g.subblockGain[w] - mult * sf.s[sfb][w]);
      float* p = xr + start + w * width;
      for (int i = 0; i < width; ++i) p[i] *= f;
    }
  }
}

// Intensity factors (left, right) of a band, false when the band is not
// intensity-coded.
bool intensityFactors(bool lsf, int pos, int illegal, int intensityScale, float& kl, float& kr) {
  if (!lsf) {
    if (pos < 0 || pos >= 7) return false;
    kl = g_isRatio[pos][0];
    kr = g_isRatio[pos][1];
    return true;
  }
  if (pos == illegal) return false;
  const double io = intensityScale ? 0.70710678118654752 : 0.84089641525371454;
  if (pos == 0) {
    kl = kr = 1.0f;
  } else if (pos & 1) {
    kl = float(std::pow(io, (pos + 1) / 2));
    kr = 1.0f;
  } else {
    kl = 1.0f;
    kr = float(std::pow(io, pos / 2));
  }
  return true;
}

void processStereo(const MpegHeader& h, bool lsf, const GranuleChannel& gr, const ScaleFactors& right,
                   const tables::ScaleFactorBands& bands) {
  const bool ms = h.mode == 1 && (h.modeExtension & 2);
  const bool is = h.mode == 1 && (h.modeExtension & 1);
  if (!ms && !is) return;
  float* l = g_xr[0];
  float* r = g_xr[1];
  bool intensityLine[kGranuleLines] = {};
  if (is) {
    auto apply = [&](int from, int to, int pos, int illegal) {
      float kl, kr;
      if (!intensityFactors(lsf, pos, illegal, right.intensityScale, kl, kr)) return;
      for (int i = from; i < to; ++i) {
        const float v = l[i];
        l[i] = v * kl;
        r[i] = v * kr;
        intensityLine[i] = true;
      }
    };
    if (isShort(gr)) {
      // Per window: the bands above the right channel's last non-zero line.
      const int firstShort = gr.mixed ? 3 : 0;
      bool shortPartSilent = true;
      for (int w = 0; w < 3; ++w) {
        int startBand = firstShort;
        for (int sfb = 12; sfb >= firstShort; --sfb) {
          const int width = bands.shortBounds[sfb + 1] - bands.shortBounds[sfb];
          const int start = bands.shortBounds[sfb] * 3 + w * width;
          bool any = false;
          for (int i = 0; i < width; ++i) any = any || r[start + i] != 0.0f;
          if (any) {
            startBand = sfb + 1;
            shortPartSilent = false;
            break;
          }
        }
        // The top band has no position of its own: it takes band 11's
        // (position 0 in the lower sampling frequencies when band 11
        // lies below the intensity region).
        for (int sfb = startBand; sfb < 13; ++sfb) {
          const int src = sfb == 12 ? 11 : sfb;
          const int width = bands.shortBounds[sfb + 1] - bands.shortBounds[sfb];
          const int start = bands.shortBounds[sfb] * 3 + w * width;
          if (sfb == 12 && lsf && startBand == 12)
            apply(start, start + width, 0, -1);
          else
            apply(start, start + width, right.s[src][w], right.maxS[src][w]);
        }
      }
      if (gr.mixed && shortPartSilent) {
        const int longLines = mixedLongLines(bands);
        int last = -1;
        for (int i = longLines - 1; i >= 0; --i)
          if (r[i] != 0.0f) {
            last = i;
            break;
          }
        for (int sfb = 0; sfb < 22 && bands.longBounds[sfb] < longLines; ++sfb) {
          if (bands.longBounds[sfb] <= last) continue;
          const int stop = bands.longBounds[sfb + 1] < longLines ? bands.longBounds[sfb + 1] : longLines;
          apply(bands.longBounds[sfb], stop, right.l[sfb], right.maxL[sfb]);
        }
      }
    } else {
      int last = -1;
      for (int i = g_nonzero[1] - 1; i >= 0; --i)
        if (r[i] != 0.0f) {
          last = i;
          break;
        }
      // The top band has no position of its own: it takes band 20's; in
      // the lower sampling frequencies, when band 20 lies below the
      // intensity region, position 0 (both channels at full level).
      for (int sfb = 0; sfb < 22; ++sfb) {
        if (bands.longBounds[sfb] <= last) continue;
        if (sfb == 21 && lsf && bands.longBounds[20] <= last) {
          apply(bands.longBounds[21], bands.longBounds[22], 0, -1);
          break;
        }
        const int src = sfb == 21 ? 20 : sfb;
        apply(bands.longBounds[sfb], bands.longBounds[sfb + 1], right.l[src], right.maxL[src]);
      }
    }
  }
  const int top = g_nonzero[0] > g_nonzero[1] ? g_nonzero[0] : g_nonzero[1];
  if (ms) {
    const float k = 0.70710678118654752f;
    if (!is) {
      for (int i = 0; i < top; ++i) {
        const float m = l[i], s = r[i];
        l[i] = (m + s) * k;
        r[i] = (m - s) * k;
      }
    }
    for (int i = 0; i < top && is; ++i) {
      if (intensityLine[i]) continue;
      const float m = l[i], s = r[i];
      l[i] = (m + s) * k;
      r[i] = (m - s) * k;
    }
  }
  if (is) {
    int topIs = top;
    for (int i = 575; i >= topIs; --i)
      if (intensityLine[i]) {
        topIs = i + 1;
        break;
      }
    g_nonzero[0] = g_nonzero[1] = topIs;
  } else {
    g_nonzero[0] = g_nonzero[1] = top;
  }
}

// Short-block lines from band/window order into subband/window order.
void reorder(const GranuleChannel& g, const tables::ScaleFactorBands& bands, float* xr) {
  float tmp[kGranuleLines];
  const int firstBand = g.mixed ? 3 : 0;
  const int from = bands.shortBounds[firstBand] * 3;
  for (int sfb = firstBand; sfb < 13; ++sfb) {
    const int start = bands.shortBounds[sfb];
    const int width = bands.shortBounds[sfb + 1] - start;
    for (int w = 0; w < 3; ++w)
      for (int k = 0; k < width; ++k) {
        const int f = start + k;
        tmp[(f / 6) * 18 + w * 6 + f % 6] = xr[start * 3 + w * width + k];
      }
  }
  for (int i = from; i < kGranuleLines; ++i) xr[i] = tmp[i];
}

void reduceAliases(const GranuleChannel& g, const tables::ScaleFactorBands& bands, float* xr, int subbands) {
  int limit = subbands;
  if (isShort(g)) {
    if (!g.mixed) return;
    const int longBands = mixedLongLines(bands) / 18;
    if (longBands < limit) limit = longBands;
  }
  for (int sb = 1; sb < limit && sb < 32; ++sb) {
    float* a = xr + sb * 18;
    for (int i = 0; i < 8; ++i) {
      const float bu = a[-1 - i];
      const float bd = a[i];
      a[-1 - i] = bu * g_aliasCs[i] - bd * g_aliasCa[i];
      a[i] = bd * g_aliasCs[i] + bu * g_aliasCa[i];
    }
  }
}

// The subband samples of one channel's granule, up to `subbands`.
// The subband samples of one channel's granule, up to `subbands`.
void synthesiseSubbands(const GranuleChannel& g, int ch, const float* xr, int subbands, int mixedLongBands,
                        SubbandBlock& out) {
  const Kernels& k = kernels();
  float* prev = g_overlap[ch][0];
  float* dest = out[ch][0];
  // Subbands up to the last one with data go through the IMDCT (rounded up
  // to what the kernel does at once: for zero lines it gives the overlap
  // alone); the rest only give the overlap of the last granule.
  // Above the last non-zero line the alias butterflies reach 8 lines into
  // the next subband; short blocks are reordered, so they are searched whole.
  int last = subbands * kSubbandLines - 1;
  if (!isShort(g)) {
    const int bound = (g_nonzero[ch] + kSubbandLines - 1) / kSubbandLines * kSubbandLines + kSubbandLines - 1;
    if (bound < last) last = bound;
  }
  while (last >= 0 && xr[last] == 0.0f) --last;
  int active = last < 0 ? 0 : last / kSubbandLines + 1;
  active = (active + k.imdctWidth - 1) / k.imdctWidth * k.imdctWidth;
  if (active > 32) active = 32;
  int from = 0;
  if (g.windowSwitching && g.mixedFlag) {
    // The lowest subbands of a mixed block take the normal window.
    from = mixedLongBands < active ? mixedLongBands : active;
    k.imdct(xr, 0, from, 0, prev, dest);
  }
  k.imdct(xr, from, active - from, g.windowSwitching ? g.blockType : 0, prev, dest);
  for (int t = 0; t < kSubbandLines; ++t) {
    for (int sb = active; sb < 32; ++sb) {
      const float v = prev[t * 32 + sb];
      prev[t * 32 + sb] = 0.0f;
      dest[t * 32 + sb] = (sb & 1) && (t & 1) ? -v : v;
    }
  }
}

SubbandBlock g_block;

int bandIndex() { return g_stream.version * 3 + g_stream.header.sampleRateIndex; }

}  // namespace

void layer3Init() {
  buildKernelTables();
  if (!g_tablesReady) buildTables();
  g_reservoirBytes = 0;
  std::memset(g_reservoir, 0, sizeof g_reservoir);
  std::memset(g_overlap, 0, sizeof g_overlap);
  g_scf[0] = g_scf[1] = ScaleFactors{};
}

int32_t layer3Decode(const uint8_t* data, int32_t length, uint8_t* pcm, int32_t* produced) {
  const Stream& st = g_stream;
  MpegHeader h;
  parseHeader(data, &h);
  if (h.sync != st.header.sync) return 0;
  const bool lsf = !h.id;
  const int32_t len = frameLength(h, st.freeBytes);
  if (len <= 4 || len > length) return 0;
  const int nch = h.mode == 3 ? 1 : 2;
  const int sideBytes = lsf ? (nch == 1 ? 9 : 17) : (nch == 1 ? 17 : 32);
  const int offset = 4 + (h.protection ? 0 : 2);
  const int mainBytes = len - offset - sideBytes;
  if (mainBytes < 0 || mainBytes > 8192) return 0;
  SideInfo si;
  readSideInfo(data + offset, sideBytes, lsf, nch, si);

  // Bit reservoir: keep only what a later frame can reach back to.
  if (g_reservoirBytes >= 6693 || g_reservoirBytes + mainBytes > kReservoirCap) {
    const int keep = si.mainDataBegin < g_reservoirBytes ? si.mainDataBegin : g_reservoirBytes;
    std::memmove(g_reservoir, g_reservoir + g_reservoirBytes - keep, size_t(keep));
    g_reservoirBytes = keep;
  }
  const int available = g_reservoirBytes;
  std::memcpy(g_reservoir + g_reservoirBytes, data + offset + sideBytes, size_t(mainBytes));
  g_reservoirBytes += mainBytes;
  std::memset(g_reservoir + g_reservoirBytes, 0, kReservoirGuard);

  const int outValues = (st.samplesPerFrame >> st.reduction) * st.outChannels;
  if (si.mainDataBegin > available) {
    // Main data lies in frames we never saw: a frame of silence.
    g_lastFrameMissedData = true;
    std::memset(pcm, st.eightBit ? 128 : 0, size_t(outValues * (st.eightBit ? 1 : 2)));
    *produced = outValues * (st.eightBit ? 1 : 2);
    return len;
  }

  const tables::ScaleFactorBands& bands = tables::kScaleFactorBands[bandIndex()];
  const uint32_t dataEnd = uint32_t(g_reservoirBytes) * 8;
  uint32_t pos = uint32_t(available - si.mainDataBegin) * 8;
  const int ngr = lsf ? 1 : 2;
  const int lineCap = st.fullBand ? kGranuleLines : st.subbandCap * 18;
  int32_t written = 0;
  for (int gr = 0; gr < ngr; ++gr) {
    for (int ch = 0; ch < nch; ++ch) {
      GranuleChannel& g = si.gr[gr][ch];
      const uint32_t start = pos < dataEnd ? pos : dataEnd;
      const uint32_t want = pos + uint32_t(g.part23);
      const uint32_t end = want < dataEnd ? want : dataEnd;
      pos = want;
      MainBits b{g_reservoir, start};
      if (lsf)
        readScaleFactorsLsf(b, g, ch == 1 && h.mode == 1 && (h.modeExtension & 1), g_scf[ch]);
      else
        readScaleFactorsMpeg1(b, g, si.scfsi[ch], gr, g_scf[ch]);
      if (b.pos > end) b.pos = end;
      g_nonzero[ch] = decodeSpectrum(b, end, g, bands, g_xr[ch]);
      requantise(g, g_scf[ch], bands, g_xr[ch], g_nonzero[ch]);
    }
    if (nch == 2) processStereo(h, lsf, si.gr[gr][0], g_scf[1], bands);
    for (int ch = 0; ch < nch; ++ch) {
      GranuleChannel& g = si.gr[gr][ch];
      float* xr = g_xr[ch];
      if (g_nonzero[ch] > lineCap) {
        for (int i = lineCap; i < g_nonzero[ch]; ++i) xr[i] = 0.0f;
        g_nonzero[ch] = lineCap;
      }
      if (isShort(g)) reorder(g, bands, xr);
      // Alias butterflies reach one subband above the last non-zero
      // line, but never above the decoded subbands.
      const int withData = (g_nonzero[ch] + 17) / 18 + 1;
      const int capBands = lineCap / 18;
      reduceAliases(g, bands, xr, withData < capBands ? withData : capBands);
      synthesiseSubbands(g, ch, xr, capBands, mixedLongLines(bands) / 18, g_block);
    }
    written += synthesize(g_block, nch, 18, pcm + written);
  }
  *produced = written;
  return len;
}

}  // namespace mpegaudio::detail
