#pragma once
// The buffers between the stages of a playing chain.  Each has one writer
// thread and one reader thread; both sides reserve a contiguous region
// (begin), fill or use it without holding the lock, then commit (end).
// A reader always gets a contiguous region, also across the wrap point,
// through an overflow tail behind the ring.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "platform/threadannotations.h"
#include "player/errorcode.h"
#include "player/event.h"

struct PlayerContext;

class PullBuffer {
 public:
  PullBuffer(size_t size, size_t overflowSize, PlayerContext* context);
  virtual ~PullBuffer();
  PullBuffer(const PullBuffer&) = delete;
  PullBuffer& operator=(const PullBuffer&) = delete;

  // Reserve `bytes` at the write index: 0, 7 (no room now) or 28.
  ErrorCode beginWrite(void*& data, size_t bytes);
  ErrorCode endWrite(size_t bytes);
  // Commits only when the buffer has not been cleared since `generation`
  // (see clearCount); otherwise commits nothing and answers 46 (the write
  // belonged to the stream from before the clear).
  ErrorCode endWrite(size_t bytes, uint32_t generation);
  // Reserve `bytes` at the read index: 0, 24 (not enough data yet), 33 (end
  // of stream with fewer bytes left), 2 (overflow tail too small) or 28.
  virtual ErrorCode beginRead(void*& data, size_t bytes);
  ErrorCode endRead(size_t bytes);

  void setEndOfStream(bool flag);
  bool isEndOfStream() const;
  // used * 100 / size.
  int32_t fillPercent() const;
  size_t used() const;
  size_t size() const;

  // Empties the buffer once no reservation is open; 28 when the buffer is
  // being destroyed meanwhile.
  virtual ErrorCode clear();
  // How many times the buffer was cleared: a writer notes it before a unit
  // of work, so that what it made for the stream from before a clear (a
  // seek) never lands in the stream after it.
  uint32_t clearCount() const;
  // Grows the buffer before anything was read: 7 when more bytes are held
  // than the new size, 16 once the buffer has been read.
  ErrorCode resize(size_t newSize, size_t newOverflowSize);
  // Drops the oldest bytes beyond half the size.
  ErrorCode discardToHalf();

  // The indices, once the matching reservation is closed.
  size_t readIndex();
  size_t writeIndex();

 protected:
  // What waitLocked waits for.
  enum class Wait { kNoReservation, kNoReadOpen, kNoWriteOpen };
  // Waits (10 ms steps, giving up m_ between tries) until no reservation of
  // that kind is open; returns with m_ held, false when the buffer is being
  // destroyed meanwhile.
  bool waitLocked(Wait what) LM_REQUIRES(m_);

  // For subclasses holding m_.
  size_t readIndexUnlocked() const LM_REQUIRES(m_) { return readIndex_; }
  size_t sizeUnlocked() const LM_REQUIRES(m_) { return size_; }
  size_t writeIndexUnlocked() const LM_REQUIRES(m_) { return writeIndex_; }
  uint32_t clearCountUnlocked() const LM_REQUIRES(m_) { return clearCount_; }
  // Called by clear with m_ held, right after the ring was emptied.
  virtual void clearedLocked() LM_REQUIRES(m_) {}

  PlayerContext* context_;
  mutable platform::CheckedMutex m_;
  std::atomic<bool> exit_{false};

 private:
  size_t used_ LM_GUARDED_BY(m_) = 0;
  size_t overflowSize_ LM_GUARDED_BY(m_);
  size_t size_ LM_GUARDED_BY(m_);
  size_t readIndex_ LM_GUARDED_BY(m_) = 0;
  size_t writeIndex_ LM_GUARDED_BY(m_) = 0;
  bool endOfStream_ LM_GUARDED_BY(m_) = false;
  uint32_t clearCount_ LM_GUARDED_BY(m_) = 0;
  size_t writeReservation_ LM_GUARDED_BY(m_) = 0;
  size_t readReservation_ LM_GUARDED_BY(m_) = 0;
  bool writeOpen_ LM_GUARDED_BY(m_) = false;
  bool readOpen_ LM_GUARDED_BY(m_) = false;
  // The ring and its overflow tail (and one spare byte).  The pointer is
  // guarded; the bytes of an open reservation belong to its side alone.
  std::unique_ptr<unsigned char[]> data_ LM_GUARDED_BY(m_);
};

// A PullBuffer carrying PCM, with events pinned to positions in the stream.
class EventBuffer : public PullBuffer {
 public:
  EventBuffer(size_t size, size_t overflowSize, PlayerContext* context);
  ~EventBuffer() override;

  // Pins the event at the current write index (after any open write).
  ErrorCode acceptEvent(std::unique_ptr<Event> event);
  // The same, unless the buffer was cleared since `generation`: then the
  // event is dropped and the answer is 46.
  ErrorCode acceptEvent(std::unique_ptr<Event> event, uint32_t generation);
  // Removes and returns the head event (null when none).
  std::unique_ptr<Event> getEvent();
  // The head event without removing it (null when none); it stays owned by
  // the buffer.
  const Event* peekEvent() const;
  size_t pendingEvents() const;

  // 29 when the head event lies at the read index or within `bytes` after
  // it; otherwise as PullBuffer::beginRead.
  ErrorCode beginRead(void*& data, size_t bytes) override;
  // Deletes every queued event, then empties the ring.
  ErrorCode clear() override;

 protected:
  // The events go with the bytes, under the same lock, so that no event
  // pinned before the clear survives it.
  void clearedLocked() override LM_REQUIRES(m_);

 private:
  ErrorCode pin(std::unique_ptr<Event> event, bool checked, uint32_t generation);
  struct Pinned {
    size_t position;
    std::unique_ptr<Event> event;
  };
  // Taken after m_ where both are held.
  mutable platform::CheckedMutex eventsM_ LM_ACQUIRED_AFTER(m_);
  std::deque<Pinned> events_ LM_GUARDED_BY(eventsM_);
};
