#pragma once
// Constant tables of MPEG audio (ISO/IEC 11172-3 and 13818-3), each in its
// own file, plus the tables derived from them once at start.
#include <cstdint>

namespace mpegaudio::tables {

// Bitrates in kbit/s by [id][layer - 1][bitrate index]; id 0 = MPEG-2 and 2.5.
extern const int16_t kBitrate[2][3][16];
// Sample rates in Hz by [version: 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5][index].
extern const int32_t kSampleRate[3][4];

// Layer II: one allocation table = per subband the number of allocation bits
// and the quantisation class for each allocation value.
constexpr int kLayer2Classes = 17;
struct Layer2Class {
  int32_t levels;  // number of quantisation steps
  int32_t bits;    // bits per sample, or per group of three when grouped
  bool grouped;    // three samples share one code word
};
extern const Layer2Class kLayer2Class[kLayer2Classes];
struct Layer2Table {
  int32_t subbands;    // sblimit
  uint8_t nbal[32];    // allocation bits per subband
  int8_t cls[32][16];  // class index per allocation value (-1: none)
};
// 0..3: the MPEG-1 tables a, b, c, d; 4: the lower-sampling-frequency table.
extern const Layer2Table kLayer2Tables[5];

// Spectral lines of one Layer III granule (32 subbands x 18 lines); also the
// samples per channel of an MPEG-2 or 2.5 Layer III frame.
constexpr int kGranuleLines = 576;

// Layer III scale-factor band boundaries by sample-rate position
// (0..2 MPEG-1 44.1/48/32 kHz, 3..5 MPEG-2 22.05/24/16, 6..8 MPEG-2.5 11.025/12/8).
struct ScaleFactorBands {
  int16_t longBounds[23];
  int16_t shortBounds[14];
};
extern const ScaleFactorBands kScaleFactorBands[9];
extern const uint8_t kPretab[22];
extern const uint8_t kSlen[2][16];
extern const uint8_t kLsfSfbCount[6][3][4];

// Huffman code tables of Layer III as (code, length) per (x, y) or (v,w,x,y).
struct HuffmanSource {
  const uint16_t* codes;
  const uint8_t* lengths;
  int32_t size;  // values per axis (codes has size * size entries)
  int32_t linbits;
};
extern const HuffmanSource kHuffmanPairs[32];  // table_select 0..31 (0, 4, 14 unused)
extern const HuffmanSource kHuffmanQuads[2];   // count1 tables A and B (16 entries each)

// Synthesis window D[0..256] in units of 2^-16 (the rest follows by symmetry).
extern const int32_t kSynthesisWindowHalf[257];

}  // namespace mpegaudio::tables
