#pragma once
// MPEG audio decoder core: MPEG-1, MPEG-2 and MPEG-2.5, Layers I, II and III,
// one compressed frame at a time into PCM.
//
// All state is process-wide: one stream at a time.  Use:
//   findHeader -> decodeInit -> decodeInfo -> decodeFrame per frame.
// A new decodeInit starts a new stream (and is used after a resynchronisation);
// it clears the synthesis and overlap histories and the bit reservoir.
// Not reentrant; the equalizer setters only store values.
#include <cstdint>

namespace mpegaudio {

// The 4 header bytes of a frame, parsed.  All fields int32.
struct MpegHeader {
  int32_t sync = 0;          // 1: 12 sync bits set; 2: 11 bits (MPEG-2.5); 0: no header
  int32_t id = 0;            // 1 MPEG-1, 0 MPEG-2 or MPEG-2.5
  int32_t layerOption = 0;   // 3 Layer I, 2 Layer II, 1 Layer III (the header's bits)
  int32_t protection = 0;    // 1 = no CRC
  int32_t bitrateIndex = 0;  // 0 = free format
  int32_t sampleRateIndex = 0;
  int32_t padding = 0;
  int32_t privateBit = 0;
  int32_t mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  int32_t modeExtension = 0;
  int32_t copyright = 0;
  int32_t original = 0;
  int32_t emphasis = 0;
};

// What decodeInit prepared (six int32, in this order).
struct DecoderInfo {
  int32_t channels = 0;        // output channels (1 or 2)
  int32_t valuesPerFrame = 0;  // samples per channel x channels, per frame
  int32_t sampleRate = 0;      // output sample rate in Hz
  int32_t bitsPerSample = 0;   // 8 or 16
  int32_t frameBytes = 0;      // PCM bytes one frame produces (valuesPerFrame x bytes per sample)
  int32_t type = 0;            // always 0
};

// Result of decodeFrame: consumed 0 means that no valid frame starts here
// (the caller resynchronises).
struct DecodeResult {
  int32_t consumed = 0;  // compressed bytes of the frame, padding included
  int32_t produced = 0;  // PCM bytes written
};

// decodeInit options.
constexpr int32_t kReductionNone = 0;     // full rate, 32 subbands
constexpr int32_t kReductionHalf = 1;     // half rate, 16 subbands
constexpr int32_t kReductionQuarter = 2;  // quarter rate, 8 subbands

// Conversion bits 0-1: how a two-channel stream becomes one channel.
constexpr int32_t kConversionStereo = 0;  // keep two channels
constexpr int32_t kConversionMix = 1;     // one channel: (left + right) / 2
constexpr int32_t kConversionLeft = 2;    // one channel: left only
constexpr int32_t kConversionRight = 3;   // one channel: right only
// Conversion bit 3: 8-bit unsigned output samples (128 = silence) instead of
// 16-bit signed ones.
constexpr int32_t kConversion8Bit = 8;

// The frequency limit the engine uses: the top subband is skipped at full rate.
constexpr int32_t kEngineFrequencyLimit = 24000;
// Frequency limit value that decodes every subband (no limit and no cap):
// what the conformance tests and the mp3decode tool use.
constexpr int32_t kFullBand = 0x7FFFFFFF;

// Largest compressed frame the decoder accepts and largest PCM frame it writes
// (1152 samples x 2 channels x 2 bytes).
constexpr int32_t kMaxPcmFrameBytes = 4608;

// Scans bytes[0..length) for a byte 0xFF followed by a byte whose high nibble
// is 0xF or 0xE and parses the header there.  Returns the frame bytes without
// the padding slot (0 when no candidate or no valid header), stores the
// offset of the sync in *skip and the bitrate in bit/s in *bitrate.  A free
// format stream is measured by searching for the following headers.
int32_t findHeader(const uint8_t* bytes, int32_t length, MpegHeader* header, int32_t* bitrate, int32_t* skip);

// Bytes of the padding slot of a header whose padding bit is set (4 for
// Layer I, 1 otherwise); 0 when the bit is clear.
int32_t paddingBytes(const MpegHeader& header);

// Prepares decoding of a stream whose frames look like header.  frameBytes is
// what findHeader returned (needed for free format).  Reduction 0..2 (clamped),
// transform is accepted and ignored, conversion as above, frequencyLimit in Hz
// (below 1000 counts as 1000; kFullBand decodes everything).  Returns 1 on
// success, 0 when the stream is not supported.
int32_t decodeInit(const MpegHeader* header, int32_t frameBytes, int32_t reduction, int32_t transform,
                   int32_t conversion, int32_t frequencyLimit);

void decodeInfo(DecoderInfo* info);

// Decodes the frame at data (length bytes available there) into pcm, which
// must hold DecoderInfo::frameBytes bytes.  Never reads past data + length or
// writes past that PCM frame.  A frame not wholly inside length is refused.
DecodeResult decodeFrame(const uint8_t* data, int32_t length, void* pcm);

// Equalizer: 32 factors, one per subband, applied before synthesis when enabled.
void setEqualizerEnabled(bool enabled);
void setEqualizerTable(const float factors[32]);

// Stream facts of a header (for stream information and seeking).
int32_t headerSampleRate(const MpegHeader& header);       // Hz, 0 when invalid
int32_t headerLayer(const MpegHeader& header);            // 1, 2 or 3; 0 when invalid
int32_t headerVersion(const MpegHeader& header);          // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
int32_t headerSamplesPerFrame(const MpegHeader& header);  // 384, 1152 or 576
int32_t headerChannels(const MpegHeader& header);         // 1 or 2

}  // namespace mpegaudio
