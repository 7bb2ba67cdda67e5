#include "player/localfileinput.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "player/logfile.h"
#include "player/playercontext.h"
#include "player/preferences.h"
#include "player/pullbuffer.h"

namespace {

constexpr size_t kDefaultBufferBytes = 65536;
// Bounds on "InputBufferSize" (kilobytes): at least one read unit, and no
// absurd allocation from a stray value.
constexpr int32_t kMinBufferKb = 8;
constexpr int32_t kMaxBufferKb = 64 * 1024;

}  // namespace

LocalFileInput::LocalFileInput(PlayerContext* context) : PipelineUnit(context) {}

LocalFileInput::~LocalFileInput() {
  signalExit();
  thread_.join();
  platform::CheckedLock lock(io_);
  closeFile();
}

ErrorCode LocalFileInput::setTo(const char* url) {
  if (!url) return kError_InvalidParam;
  if (strncasecmp(url, "file://", 7) == 0) {
    path_ = url + 7;
  } else {
    path_ = url;
  }
  return kError_NoErr;
}

bool LocalFileInput::canHandle(const char* url) const { return url && std::strncmp(url, "file://", 7) == 0; }

ErrorCode LocalFileInput::getLength(size_t& length) const {
  platform::CheckedLock lock(io_);
  length = length_;
  return kError_NoErr;
}

void LocalFileInput::closeFile() {
  if (handle_ && !handleIsStdin_) ops_.close(handle_);
  handle_ = nullptr;
  handleIsStdin_ = false;
}

ErrorCode LocalFileInput::close() {
  {
    platform::CheckedLock lock(io_);
    closeFile();
  }
  return PipelineUnit::clear();
}

ErrorCode LocalFileInput::open() {
  platform::CheckedLock lock(io_);
  closeFile();
  length_ = 0;
  if (path_ == "-") {
    // Standard input is never one of the pack's members.
    ops_ = cLibraryFileOps();
    handle_ = stdin;
    handleIsStdin_ = true;
    // A pipe cannot seek: read it as it comes, length unknown, and let the
    // decoder's sync search pass over any tag.
    if (ops_.seek(handle_, 0, SEEK_END) != 0) return kError_NoErr;
  } else {
    // A handle belongs to the table that opened it.
    ops_ = engineFileOps();
    handle_ = ops_.open(path_.c_str(), "rb");
    if (!handle_) return kError_UnknownErr;
    ops_.seek(handle_, 0, SEEK_END);
  }

  long end = ops_.tell(handle_);
  length_ = end > 0 ? static_cast<size_t>(end) : 0;

  // An ID3v1 tag at the end is not part of the stream's length (it is
  // still delivered: the decoder passes over it).
  unsigned char tag[128];
  if (ops_.seek(handle_, -128, SEEK_END) == 0 && ops_.read(tag, 1, sizeof(tag), handle_) == sizeof(tag) &&
      std::memcmp(tag, "TAG", 3) == 0)
    length_ -= 128;

  ops_.seek(handle_, 0, SEEK_SET);

  // An ID3v2.3 tag in front is skipped whole; other versions stay in the
  // stream behind their header for the decoder's sync search to pass.
  unsigned char head[10];
  size_t got = ops_.read(head, 1, sizeof(head), handle_);
  if (got < sizeof(head) || std::memcmp(head, "ID3", 3) != 0) {
    // Not a tag (or a file too short for one): deliver every byte.
    ops_.seek(handle_, 0, SEEK_SET);
  } else if (head[3] == 3) {
    long size = (static_cast<long>(head[6] & 0x7F) << 21) | (static_cast<long>(head[7] & 0x7F) << 14) |
                (static_cast<long>(head[8] & 0x7F) << 7) | static_cast<long>(head[9] & 0x7F);
    ops_.seek(handle_, size, SEEK_CUR);
  }
  return kError_NoErr;
}

ErrorCode LocalFileInput::prepare(PullBuffer*& buffer) {
  size_t size = kDefaultBufferBytes;
  int32_t kb = 0;
  if (context_ && context_->prefs && context_->prefs->getInputBufferSize(&kb) == kError_NoErr)
    size = static_cast<size_t>(std::clamp(kb, kMinBufferKb, kMaxBufferKb)) * 1024;
  {
    // The reader thread picks the buffer up under the same lock.
    platform::CheckedLock lock(io_);
    buffer_.reset();
    buffer_ = std::make_unique<PullBuffer>(size, kReadUnit, context_);
    output_ = buffer_.get();
  }

  ErrorCode rc = open();
  if (rc != kError_NoErr) {
    reportError("Cannot open file %s.", path_.c_str());
    return rc;
  }
  rc = startReading();
  if (rc != kError_NoErr) {
    reportError("Could not run the input plugin.");
    return rc;
  }
  buffer = this->buffer();
  return kError_NoErr;
}

PullBuffer* LocalFileInput::buffer() const {
  platform::CheckedLock lock(io_);
  return buffer_.get();
}

ErrorCode LocalFileInput::startReading() {
  if (thread_.isCreated()) return kError_NoErr;
  if (!thread_.create(&LocalFileInput::readerThread, this)) {
    if (context_ && context_->log) context_->log->logError("Could not create filebuffer thread.");
    return kError_CreateThreadFailed;
  }
  return kError_NoErr;
}

ErrorCode LocalFileInput::seek(int32_t& newPosition, int32_t offset, int32_t origin) {
  platform::CheckedLock lock(io_);
  ErrorCode rc = kError_SeekFailed;
  if (handle_ && ops_.seek(handle_, offset, origin) == 0) {
    newPosition = static_cast<int32_t>(ops_.tell(handle_));
    rc = kError_NoErr;
  }
  if (buffer_) buffer_->clear();
  return rc;
}

ErrorCode LocalFileInput::clear() {
  {
    platform::CheckedLock lock(io_);
    if (handle_) ops_.seek(handle_, 0, SEEK_SET);
    if (buffer_) buffer_->clear();
  }
  return PipelineUnit::clear();
}

void LocalFileInput::readerThread(void* self) { static_cast<LocalFileInput*>(self)->readerLoop(); }

void LocalFileInput::readerLoop() {
  // The decoder stage wakes the input when it starts.
  wakeSem_.wait();
  while (!exit_.load()) {
    if (paused_.load()) {
      pauseSem_.wait();
      continue;
    }
    platform::CheckedLock lock(io_);
    PullBuffer* buffer = buffer_.get();
    if (!buffer || buffer->isEndOfStream()) {
      lock.unlock();
      wakeSem_.wait();
      continue;
    }
    void* region = nullptr;
    ErrorCode rc = buffer->beginWrite(region, kReadUnit);
    if (rc == kError_Interrupt) break;
    if (rc != kError_NoErr) {
      // No room (7): the decoder wakes the input after every read.  Any
      // other answer cannot change by itself either, so wait rather than
      // spin.
      lock.unlock();
      wakeSem_.wait();
      continue;
    }
    size_t count = handle_ ? ops_.read(region, 1, kReadUnit, handle_) : 0;
    rc = buffer->endWrite(count);
    if (rc != kError_NoErr) {
      if (context_ && context_->log) context_->log->logError("local: EndWrite returned: %d\n", rc);
      break;
    }
    // A short read is the end of the file.
    if (count < kReadUnit) buffer->setEndOfStream(true);
  }
  if (context_ && context_->log) context_->log->logCategory(LogInput, "PMI: filebuffer thread exit\n");
}
