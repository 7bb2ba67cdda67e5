#pragma once
// The decoder stage (LMC) of a playing chain: on its own thread it locks
// onto the MPEG audio frames in the input PullBuffer, reports the song's
// media information, and decodes frame after frame through the decoder
// core into its EventBuffer, with the PCM format before the first frame, a
// frame marker before every frame and an end-of-stream marker after the
// last.  It also turns a frame number into a byte position for seeking.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mpegaudio/mpegaudio.h"
#include "platform/threadannotations.h"
#include "player/event.h"
#include "player/pipelineunit.h"
#include "player/thread.h"

class EventBuffer;
class LocalFileInput;

// The "Xing" header a VBR encoder puts into the first frame.
struct XingVbrHeader {
  static constexpr int32_t kFramesFlag = 1;
  static constexpr int32_t kBytesFlag = 2;
  static constexpr int32_t kTocFlag = 4;
  static constexpr int32_t kQualityFlag = 8;

  int32_t flags = 0;
  int32_t frames = 0;
  int32_t bytes = 0;
  uint8_t toc[100] = {};
  int32_t quality = -1;
  bool mpeg1 = false;
  int32_t sampleRate = 0;
};

// Looks for the Xing tag in the frame at frame[0..length) whose header is
// given; false when there is none (or it does not fit in the bytes given).
bool parseXingHeader(const uint8_t* frame, size_t length, const mpegaudio::MpegHeader& header, XingVbrHeader& out);

// The song's figures as the media information reports them.
struct MpegStatistics {
  int32_t fileSize = 0;
  int32_t sampleRate = 0;
  int32_t layer = 0;
  float msPerFrame = 0;
  int32_t totalFrames = -1;
  float totalSeconds = 0;
};

class MpegDecoder : public PipelineUnit {
 public:
  static constexpr size_t kInitialOutputBytes = 64512;
  static constexpr size_t kSyncReadBytes = 1441;
  static constexpr size_t kHeaderReadBytes = 4323;
  static constexpr int32_t kMaxFrameBytes = 1440;
  static constexpr int kHeaderRounds = 32;

  explicit MpegDecoder(PlayerContext* context);
  ~MpegDecoder() override;

  // Empties the output buffer, events included.
  ErrorCode clear() override;

  // Takes the input buffer, makes the output EventBuffer and starts the
  // decoder thread, which waits for its first wake.  1003 when the thread
  // cannot be created.  The output buffer stays owned by this stage.
  virtual ErrorCode prepare(PullBuffer* input, EventBuffer*& output);
  // Seeks the input to the byte position of the frame (through the VBR
  // table of contents when the song has one).
  virtual ErrorCode changePosition(int32_t frame);
  // Sets up the decoder core and the output buffer and queues the format.
  virtual ErrorCode initDecoder();
  virtual void setInput(LocalFileInput* input) { inputStage_ = input; }
  virtual void setOutput(PipelineUnit* output) { outputStage_ = output; }
  virtual void setEqualizerEnabled(bool enabled);
  virtual void setEqualizerTable(const float factors[32]);
  virtual std::vector<std::string> extensions() const { return {"MP3", "MP2", "MP1"}; }
  // Total seconds of the song behind a "file://" URL, read straight from
  // the disk; 0 when anything fails.
  virtual float songLength(const char* url);
  // Finds the stream format in the input: 0, 28, 17 without input, or the
  // header search's failure.
  virtual ErrorCode canDecode();
  // Posts the song's media information (18 with 29 attached) to the Player.
  virtual ErrorCode extractMediaInfo();

  // The figures of the media information (runs the header search first
  // when needed).
  ErrorCode statistics(MpegStatistics& out);

  // What the header search found (-1 frame bytes until then).
  int32_t frameBytes() const;
  int32_t bitrate() const;
  mpegaudio::MpegHeader header() const;
  // A copy of the song's VBR header; false when it has none.
  bool vbrHeader(XingVbrHeader& out) const;
  OutputInfo outputInfo() const;
  int32_t nextFrame() const { return nextFrame_.load(); }
  EventBuffer* eventBuffer() const { return eventBuffer_.get(); }

 private:
  class Source;
  class InputSource;
  class MemorySource;

  static void decoderThread(void* self);
  void decodeLoop();
  // Runs the frame loop; returns when the thread should end.
  void frameLoop();

  // One read of the input: waits for data (waking the input) unless the
  // unit is exiting; at the end of the stream a smaller remainder is
  // handed out when allowPartial is set.
  // yieldToPause: answer 24 when woken while paused.
  ErrorCode readInput(size_t bytes, bool blocking, bool allowPartial, const uint8_t*& data, size_t& got,
                      bool yieldToPause = false);
  ErrorCode headerSearch(Source& source);
  ErrorCode syncSearch(Source& source);
  ErrorCode statisticsFrom(Source* source, bool haveFile, int32_t fileSize, MpegStatistics& out);
  void logDecode(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Guards what the header search and initDecoder found, which the
  // Player's thread reads when seeking.
  mutable platform::CheckedMutex streamM_;
  LocalFileInput* inputStage_ = nullptr;
  PipelineUnit* outputStage_ = nullptr;
  std::unique_ptr<EventBuffer> eventBuffer_;
  Thread thread_;
  mpegaudio::MpegHeader header_ LM_GUARDED_BY(streamM_){};
  int32_t frameBytes_ LM_GUARDED_BY(streamM_) = -1;
  int32_t bitrate_ LM_GUARDED_BY(streamM_) = 0;
  int32_t streamBufferInterval_ = 3;
  int32_t totalFrames_ LM_GUARDED_BY(streamM_) = -1;
  std::unique_ptr<XingVbrHeader> vbr_ LM_GUARDED_BY(streamM_);
  OutputInfo outputInfo_ LM_GUARDED_BY(streamM_){};
  std::atomic<int32_t> nextFrame_{0};
  // A seek's frame number, taken up by the decoder thread when it next
  // starts a frame (so that a frame still in flight cannot shift it).
  std::atomic<int32_t> pendingFrame_{-1};
};
