#include "player/pullbuffer.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "player/logfile.h"
#include "player/playercontext.h"

namespace {
constexpr auto kSpinWait = std::chrono::milliseconds(10);

LogFile* logOf(PlayerContext* context) { return context ? context->log : nullptr; }

// Zeroed bytes for a ring of `size` and its tail; null when memory runs out.
std::unique_ptr<unsigned char[]> allocateRing(size_t size, size_t overflowSize) {
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[size + overflowSize + 1]());
}
}  // namespace

PullBuffer::PullBuffer(size_t size, size_t overflowSize, PlayerContext* context)
    : context_(context), overflowSize_(overflowSize), size_(size), data_(allocateRing(size, overflowSize)) {}

PullBuffer::~PullBuffer() {
  exit_.store(true);
  platform::CheckedLock lock(m_);
  data_.reset();
}

bool PullBuffer::waitLocked(Wait what) {
  for (;;) {
    if (exit_.load()) return false;
    const bool open = what == Wait::kNoReadOpen    ? readOpen_
                      : what == Wait::kNoWriteOpen ? writeOpen_
                                                   : readOpen_ || writeOpen_;
    if (!open) return true;
    m_.unlock();
    std::this_thread::sleep_for(kSpinWait);
    m_.lock();
  }
}

ErrorCode PullBuffer::beginWrite(void*& data, size_t bytes) {
  platform::CheckedLock lock(m_);
  if (exit_.load()) return kError_Interrupt;
  // A region beyond the ring and its tail could never be committed.
  if (!data_ || bytes > size_ || writeIndex_ + bytes > size_ + overflowSize_) return kError_InvalidParam;
  bool granted;
  if (readIndex_ < writeIndex_) {
    size_t room = size_ + std::min(readIndex_, overflowSize_) - writeIndex_;
    granted = room >= bytes;
  } else if (writeIndex_ < readIndex_) {
    granted = readIndex_ - writeIndex_ >= bytes;
  } else {
    granted = used_ == 0;  // empty: any write; full: none
  }
  if (!granted) return kError_BufferTooSmall;
  writeReservation_ = bytes;
  writeOpen_ = true;
  data = data_.get() + writeIndex_;
  return kError_NoErr;
}

ErrorCode PullBuffer::endWrite(size_t bytes) {
  platform::CheckedLock lock(m_);
  if (!writeOpen_ || bytes > writeReservation_) return kError_InvalidParam;
  size_t end = writeIndex_ + bytes;
  if (end > size_) std::memcpy(data_.get(), data_.get() + size_, end - size_);
  used_ += bytes;
  writeReservation_ = 0;
  writeOpen_ = false;
  writeIndex_ = end % size_;
  return kError_NoErr;
}

ErrorCode PullBuffer::endWrite(size_t bytes, uint32_t generation) {
  {
    platform::CheckedLock lock(m_);
    if (!writeOpen_) return kError_InvalidParam;
    if (generation != clearCount_) {
      writeReservation_ = 0;
      writeOpen_ = false;
      return kError_UserCancel;
    }
  }
  return endWrite(bytes);
}

uint32_t PullBuffer::clearCount() const {
  platform::CheckedLock lock(m_);
  return clearCount_;
}

ErrorCode PullBuffer::beginRead(void*& data, size_t bytes) {
  if (exit_.load()) return kError_Interrupt;
  platform::CheckedLock lock(m_);
  if (endOfStream_ && used_ < bytes) return kError_EndOfStream;
  if (used_ < bytes) return kError_NoDataAvail;
  bool enough;
  if (writeIndex_ < readIndex_) {
    size_t tail = (overflowSize_ != 0 && writeIndex_ >= overflowSize_) ? overflowSize_ : writeIndex_;
    enough = size_ + tail - readIndex_ >= bytes;
  } else if (writeIndex_ == readIndex_) {
    enough = true;  // full
  } else {
    enough = writeIndex_ - readIndex_ >= bytes;
  }
  if (!enough) return kError_NoDataAvail;
  if (readIndex_ + bytes > size_) {
    // Make the region contiguous: the ring's first bytes follow it in the
    // tail.  Without room there the region would run off the allocation.
    size_t n = readIndex_ + bytes - size_;
    if (n > overflowSize_) {
      const size_t overflow = overflowSize_;
      lock.unlock();
      if (LogFile* log = logOf(context_))
        log->logError("Overflow buffer is too small!! \nNeeded %d but had only %d for overflow.\n", static_cast<int>(n),
                      static_cast<int>(overflow));
      return kError_InvalidParam;
    }
    std::memcpy(data_.get() + size_, data_.get(), n);
  }
  readReservation_ = bytes;
  readOpen_ = true;
  data = data_.get() + readIndex_;
  return kError_NoErr;
}

ErrorCode PullBuffer::endRead(size_t bytes) {
  platform::CheckedLock lock(m_);
  if (!readOpen_ || bytes > readReservation_ || bytes > used_) return kError_InvalidParam;
  readReservation_ = 0;
  readOpen_ = false;
  used_ -= bytes;
  readIndex_ = (readIndex_ + bytes) % size_;
  return kError_NoErr;
}

void PullBuffer::setEndOfStream(bool flag) {
  platform::CheckedLock lock(m_);
  endOfStream_ = flag;
}

bool PullBuffer::isEndOfStream() const {
  platform::CheckedLock lock(m_);
  return endOfStream_;
}

int32_t PullBuffer::fillPercent() const {
  platform::CheckedLock lock(m_);
  return size_ ? static_cast<int32_t>(used_ * 100 / size_) : 0;
}

size_t PullBuffer::used() const {
  platform::CheckedLock lock(m_);
  return used_;
}

size_t PullBuffer::size() const {
  platform::CheckedLock lock(m_);
  return size_;
}

ErrorCode PullBuffer::clear() {
  platform::CheckedLock lock(m_);
  if (!waitLocked(Wait::kNoReservation)) return kError_Interrupt;
  used_ = 0;
  readIndex_ = 0;
  writeIndex_ = 0;
  endOfStream_ = false;
  ++clearCount_;
  clearedLocked();
  return kError_NoErr;
}

ErrorCode PullBuffer::resize(size_t newSize, size_t newOverflowSize) {
  platform::CheckedLock lock(m_);
  if (newSize < used_) {
    lock.unlock();
    if (LogFile* log = logOf(context_)) log->logError("Pullbuffer: Not resized. Too many bytes in buffer.\n");
    return kError_BufferTooSmall;
  }
  if (readIndex_ != 0) {
    lock.unlock();
    if (LogFile* log = logOf(context_)) log->logError("Pullbuffer: Not resized. The buffer has been read.\n");
    return kError_InvalidError;
  }
  if (!waitLocked(Wait::kNoReservation)) return kError_Interrupt;
  // Nothing may have been read or added beyond the new size meanwhile.
  if (newSize < used_) return kError_BufferTooSmall;
  if (readIndex_ != 0) return kError_InvalidError;
  std::unique_ptr<unsigned char[]> fresh = allocateRing(newSize, newOverflowSize);
  if (!fresh) return kError_OutOfMemory;
  std::memcpy(fresh.get(), data_.get(), used_);
  data_ = std::move(fresh);
  size_ = newSize;
  overflowSize_ = newOverflowSize;
  writeIndex_ = newSize ? used_ % newSize : 0;
  return kError_NoErr;
}

ErrorCode PullBuffer::discardToHalf() {
  platform::CheckedLock lock(m_);
  if (!waitLocked(Wait::kNoReservation)) return kError_Interrupt;
  size_t half = size_ / 2;
  if (used_ > half) {
    size_t drop = used_ - half;
    readIndex_ = (readIndex_ + drop) % size_;
    used_ = half;
    lock.unlock();
    if (LogFile* log = logOf(context_)) log->logCategory(LogInput, "Discarding %d bytes.\n", static_cast<int>(drop));
  }
  return kError_NoErr;
}

size_t PullBuffer::readIndex() {
  platform::CheckedLock lock(m_);
  if (!waitLocked(Wait::kNoReadOpen)) return 0;
  return readIndex_;
}

size_t PullBuffer::writeIndex() {
  platform::CheckedLock lock(m_);
  if (!waitLocked(Wait::kNoWriteOpen)) return 0;
  return writeIndex_;
}

// ---------------------------------------------------------------------------
// EventBuffer

EventBuffer::EventBuffer(size_t size, size_t overflowSize, PlayerContext* context)
    : PullBuffer(size, overflowSize, context) {}

EventBuffer::~EventBuffer() {
  exit_.store(true);
  platform::CheckedLock lock(eventsM_);
  events_.clear();
}

ErrorCode EventBuffer::acceptEvent(std::unique_ptr<Event> event) { return pin(std::move(event), false, 0); }

ErrorCode EventBuffer::acceptEvent(std::unique_ptr<Event> event, uint32_t generation) {
  return pin(std::move(event), true, generation);
}

ErrorCode EventBuffer::pin(std::unique_ptr<Event> event, bool checked, uint32_t generation) {
  if (!event) return kError_InvalidParam;
  // The position is the write index once no write is open; the event goes
  // into the queue under the same lock, so a clear comes wholly before or
  // wholly after it.
  platform::CheckedLock lock(m_);
  if (!waitLocked(Wait::kNoWriteOpen)) return kError_Interrupt;
  if (checked && generation != clearCountUnlocked()) return kError_UserCancel;
  size_t position = writeIndexUnlocked();
  platform::CheckedLock events(eventsM_);
  events_.push_back(Pinned{position, std::move(event)});
  return kError_NoErr;
}

std::unique_ptr<Event> EventBuffer::getEvent() {
  platform::CheckedLock lock(eventsM_);
  if (events_.empty()) return nullptr;
  std::unique_ptr<Event> event = std::move(events_.front().event);
  events_.pop_front();
  return event;
}

const Event* EventBuffer::peekEvent() const {
  platform::CheckedLock lock(eventsM_);
  return events_.empty() ? nullptr : events_.front().event.get();
}

size_t EventBuffer::pendingEvents() const {
  platform::CheckedLock lock(eventsM_);
  return events_.size();
}

ErrorCode EventBuffer::beginRead(void*& data, size_t bytes) {
  if (exit_.load()) return kError_Interrupt;
  bool pending = false;
  size_t position = 0;
  {
    platform::CheckedLock lock(eventsM_);
    if (!events_.empty()) {
      pending = true;
      position = events_.front().position;
    }
  }
  if (pending) {
    size_t readAt, ring;
    {
      // Only this reader opens read reservations, so the index is current.
      platform::CheckedLock lock(m_);
      readAt = readIndexUnlocked();
      ring = sizeUnlocked();
    }
    size_t distance = position >= readAt ? position - readAt : position + ring - readAt;
    if (distance <= bytes) return kError_EventPending;
  }
  return PullBuffer::beginRead(data, bytes);
}

ErrorCode EventBuffer::clear() {
  {
    platform::CheckedLock lock(eventsM_);
    events_.clear();
  }
  return PullBuffer::clear();
}

void EventBuffer::clearedLocked() {
  platform::CheckedLock lock(eventsM_);
  events_.clear();
}
