#pragma once
// The input stage (PMI) for local files: reads one song on its own thread
// into a PullBuffer for the decoder stage.  Every file access goes through
// the engine's FileOps table, so songs can come from the disk or from the
// pack container.
#include <memory>
#include <string>

#include "pack/fileops.h"
#include "platform/threadannotations.h"
#include "player/pipelineunit.h"
#include "player/thread.h"

class PullBuffer;

class LocalFileInput : public PipelineUnit {
 public:
  static constexpr size_t kReadUnit = 8192;  // also the overflow tail

  explicit LocalFileInput(PlayerContext* context);
  ~LocalFileInput() override;

  // Rewinds the file and empties the buffer.
  ErrorCode clear() override;

  // Stores the song: a "file://" URL becomes its path, anything else is
  // kept as it stands ("-" is standard input).
  virtual ErrorCode setTo(const char* url);
  virtual ErrorCode close();
  // Opens the stored path and finds the stream length and the first byte
  // to deliver (past an ID3v2.3 tag).
  virtual ErrorCode open();
  virtual const std::string& url() const { return path_; }
  // Makes a fresh PullBuffer, opens the file and starts the reader thread
  // (which waits for its first wake).  The buffer stays owned by this stage.
  virtual ErrorCode prepare(PullBuffer*& buffer);
  // Seeks the file (origin 0 start, 1 current, 2 end) and empties the
  // buffer; 25 when the seek fails.
  virtual ErrorCode seek(int32_t& newPosition, int32_t offset, int32_t origin);
  virtual bool canHandle(const char* url) const;
  // The file length, less 128 bytes when it ends with an ID3v1 tag.
  virtual ErrorCode getLength(size_t& length) const;
  virtual bool isStreaming() const { return false; }
  virtual bool shouldReduceBuffer() const { return false; }
  virtual bool pauseOnOutputPause() const { return false; }
  virtual ErrorCode startReading();

  PullBuffer* buffer() const;

 private:
  static void readerThread(void* self);
  void readerLoop();
  void closeFile() LM_REQUIRES(io_);

  std::string path_;
  // Held while the file position and the buffer change together (a read
  // and its commit, a seek and the clear), so that a seek never meets a
  // half-finished read.
  mutable platform::CheckedMutex io_;
  FileOps ops_ LM_GUARDED_BY(io_){};
  void* handle_ LM_GUARDED_BY(io_) = nullptr;
  bool handleIsStdin_ LM_GUARDED_BY(io_) = false;
  size_t length_ LM_GUARDED_BY(io_) = 0;
  std::unique_ptr<PullBuffer> buffer_ LM_GUARDED_BY(io_);
  Thread thread_;
};
