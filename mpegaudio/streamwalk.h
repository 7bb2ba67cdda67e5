#pragma once
// Whole-stream decoding the way the engine's decoder stage walks a file:
// skip an ID3v2 tag, lock onto three consistent frames, decode frame after
// frame and resynchronise over bad frames with a new decodeInit.  Used by the
// mp3decode tool, the tests and the benchmark.
#include <cstddef>
#include <cstdint>
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

// Size of an ID3v2 tag at the start (0 when none).
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

}  // namespace mpegaudio
