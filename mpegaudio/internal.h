#pragma once
// Shared state and stage functions of the decoder core (not for callers
// outside mpegaudio/).
#include <atomic>
#include <cstdint>
#include <cstring>

#include "mpegaudio/mpegaudio.h"

namespace mpegaudio::detail {

// Bounded bit reader: reads past the end give zero bits and never touch
// memory outside [data, data + bytes).
class BitReader {
 public:
  BitReader(const uint8_t* data, int32_t bytes) : data_(data), bits_(int64_t(bytes) * 8) {}
  uint32_t get(int n) {
    // Eight whole bytes from the current one on: one load (n <= 32).
    if (n > 0 && n <= 32 && pos_ >= 0 && (pos_ >> 3) + 8 <= bits_ >> 3) {
      uint64_t w;
      std::memcpy(&w, data_ + (pos_ >> 3), 8);
      w = __builtin_bswap64(w) << (pos_ & 7);
      pos_ += n;
      return uint32_t(w >> (64 - n));
    }
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      v <<= 1;
      if (pos_ < bits_) v |= (data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u;
      ++pos_;
    }
    return v;
  }
  void skip(int n) { pos_ += n; }
  int64_t position() const { return pos_; }
  bool overrun() const { return pos_ > bits_; }

 private:
  const uint8_t* data_;
  int64_t bits_;
  int64_t pos_ = 0;
};

// The stream prepared by decodeInit.
struct Stream {
  MpegHeader header;
  int32_t version = 0;    // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  int32_t freeBytes = 0;  // free-format frame bytes without padding
  int32_t reduction = 0;
  int32_t conversion = 0;  // 0..3
  bool eightBit = false;
  bool fullBand = false;
  int32_t frequencyLimit = 24000;
  int32_t outChannels = 2;
  int32_t sampleRate = 0;       // stream rate
  int32_t samplesPerFrame = 0;  // per channel, full rate
  int32_t subbandCap = 32;      // subbands decoded at most (frequency limit and reduction)
  bool ready = false;
};
extern Stream g_stream;

// Subband samples of one frame: [channel][time slot][subband].
using SubbandBlock = float[2][36][32];

// Equalizer state: written by the player's thread, read per frame by the
// decoder's thread.
extern std::atomic<bool> g_eqEnabled;
extern std::atomic<float> g_eqFactors[32];

// Synthesis: clears the histories; turns `slots` time slots of the frame's
// `channels` channels into PCM in the configured output variant; returns the
// bytes written.
void synthesisReset();
int32_t synthesize(SubbandBlock& samples, int channels, int slots, uint8_t* pcm);

// Tables derived at first use.
void buildDerivedTables();
extern float g_scaleFactor[64];  // 2 * 2^(-n/3); index 63 (illegal) is 0

// Frame length with padding for the current stream, 0 when unknown.
int32_t frameLength(const MpegHeader& h, int32_t freeBytes);
bool parseHeader(const uint8_t* p, MpegHeader* h);
// Headers compared by the free-format search so far (its work, for tests).
extern std::atomic<uint64_t> g_freeFormatProbes;
int32_t subbandsForLimit(int32_t limit, int32_t rate, int32_t reduction, int32_t streamLimit);

// Layer decoders: return consumed bytes (0 = refused) and fill produced.
int32_t layer1Decode(const uint8_t* data, int32_t length, uint8_t* pcm, int32_t* produced);
int32_t layer2Decode(const uint8_t* data, int32_t length, uint8_t* pcm, int32_t* produced);
int32_t layer3Decode(const uint8_t* data, int32_t length, uint8_t* pcm, int32_t* produced);
bool layer2Init();

// Set by layer3Decode: the last frame was silence for want of main data.
extern bool g_lastFrameMissedData;
// Changes the output channel count of the running stream without clearing
// any history (for comparison with decoders that follow mode changes).
void followChannelCount(int32_t channels);
void layer3Init();

}  // namespace mpegaudio::detail
