#pragma once
// Whole-stream decoding the way the engine's decoder stage walks a file:
// skip an ID3v2 tag, lock onto three consistent frames, decode frame after
// frame and resynchronise over bad frames with a new decodeInit.  Used by the
// mp3decode tool, the tests and the benchmark.  The walk reads its input
// through a window of bounded size and hands PCM on frame by frame, so a
// file of any length needs the same memory.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "mpegaudio/mpegaudio.h"

namespace mpegaudio {

struct StreamOptions {
  int32_t reduction = 0;
  int32_t conversion = 0;
  int32_t frequencyLimit = kFullBand;
  // For comparison with reference decodings only (the engine keeps one
  // format): output each frame with its own channel count, and leave out
  // the silent frames whose main data lay before the start.
  bool followChannelChanges = false;
  bool dropMissingDataFrames = false;
};

// Xing VBR header of the first frame.
struct VbrInfo {
  bool present = false;
  int32_t flags = 0;
  int32_t frames = -1;
  int32_t bytes = -1;
  int32_t quality = -1;
};

struct StreamSummary {
  bool locked = false;     // three consistent frames were found
  MpegHeader header;       // of the first frame
  int32_t frameBytes = 0;  // as findHeader measured it
  int32_t bitrate = 0;     // bit/s of the first frame
  int32_t framesDecoded = 0;
  int32_t resyncs = 0;
  int32_t missingDataFrames = 0;  // Layer III frames silent for want of main data
  DecoderInfo info;
  VbrInfo vbr;
};

// Bytes read by position: a file or memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // Copies up to n bytes from offset on; fewer only at the end (or on a
  // read error, which failed() then reports).
  virtual size_t readAt(uint64_t offset, uint8_t* dst, size_t n) = 0;
  virtual bool failed() const { return false; }
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  size_t readAt(uint64_t offset, uint8_t* dst, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// An open file descriptor (not owned), read with pread.
class FileSource : public ByteSource {
 public:
  explicit FileSource(int fd);
  uint64_t size() const override { return size_; }
  size_t readAt(uint64_t offset, uint8_t* dst, size_t n) override;
  bool failed() const override { return failed_; }

 private:
  int fd_;
  uint64_t size_ = 0;
  bool failed_ = false;
};

// Receives the PCM of each frame; false stops the walk.
using PcmSink = std::function<bool(const uint8_t* pcm, size_t bytes)>;

// Bytes of input the walk holds by default, and at least.
constexpr size_t kDefaultWalkWindow = 256 * 1024;
constexpr size_t kMinimumWalkWindow = 96 * 1024;

// Size of an ID3v2 tag at the start (0 when none).  A tag whose declared
// length runs past the end counts as its 10-byte header alone, so that the
// search for a stream starts right behind that.
size_t id3v2Size(const uint8_t* data, size_t size);

// Reads the Xing header of the frame at `frame` (header already parsed).
VbrInfo readVbrHeader(const uint8_t* frame, size_t available, const MpegHeader& header);

// Offset of the first of three consistent frames at or after `from`;
// false when there is none.  Fills header and frame bytes of that frame.
bool lockStream(const uint8_t* data, size_t size, size_t from, size_t* at, MpegHeader* header, int32_t* frameBytes,
                int32_t* bitrate);

// Decodes the whole stream, appending PCM to *pcm (may be null to discard).
// A file too short for three frames is still decoded when its one or two
// frames run exactly to the end of the data or to a trailing tag.
// Returns false when no stream was found or decodeInit refused it.
bool decodeStream(const uint8_t* data, size_t size, const StreamOptions& options, std::vector<uint8_t>* pcm,
                  StreamSummary* summary);

// The same walk over any source, PCM to `sink` (may be empty to discard),
// holding `window` bytes of input at a time (at least kMinimumWalkWindow).
// Also false when the sink stopped the walk or the source failed.
bool decodeStream(ByteSource& source, const StreamOptions& options, const PcmSink& sink, StreamSummary* summary,
                  size_t window = kDefaultWalkWindow);

}  // namespace mpegaudio
