// PullBuffer and EventBuffer: reservations, the wrap through the overflow
// tail, end of stream, pinned events and resizing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "player/logfile.h"
#include "player/playercontext.h"
#include "player/pullbuffer.h"
#include "tests/common/testenv.h"

namespace {

void put(PullBuffer& b, const std::string& bytes) {
  void* p = nullptr;
  ASSERT_EQ(b.beginWrite(p, bytes.size()), kError_NoErr);
  std::memcpy(p, bytes.data(), bytes.size());
  ASSERT_EQ(b.endWrite(bytes.size()), kError_NoErr);
}

std::string take(PullBuffer& b, size_t n) {
  void* p = nullptr;
  EXPECT_EQ(b.beginRead(p, n), kError_NoErr);
  if (!p) return {};
  std::string s(static_cast<char*>(p), n);
  EXPECT_EQ(b.endRead(n), kError_NoErr);
  return s;
}

TEST(PullBufferTest, EmptyGrantsAnyWriteAndFullRefuses) {
  PullBuffer b(16, 8, nullptr);
  void* p = nullptr;
  EXPECT_EQ(b.beginRead(p, 1), kError_NoDataAvail);
  put(b, std::string(16, 'a'));  // the whole ring at once
  EXPECT_EQ(b.used(), 16u);
  EXPECT_EQ(b.fillPercent(), 100);
  EXPECT_EQ(b.beginWrite(p, 1), kError_BufferTooSmall);
  EXPECT_EQ(take(b, 10), std::string(10, 'a'));
  EXPECT_EQ(b.fillPercent(), 37);
  EXPECT_EQ(take(b, 6), std::string(6, 'a'));

  // Empty with both indices at 10: a write of 14 runs into the tail and is
  // granted; its last 8 bytes land at the ring's start.
  put(b, std::string(10, 'b'));
  EXPECT_EQ(take(b, 10), std::string(10, 'b'));
  put(b, "0123456789ABCD");
  EXPECT_EQ(b.writeIndex(), 8u);
  EXPECT_EQ(take(b, 14), "0123456789ABCD");
}

TEST(PullBufferTest, RoomBehindTheReaderIncludesTheTail) {
  PullBuffer b(16, 8, nullptr);
  put(b, std::string(12, 'x'));
  take(b, 4);  // read 4, write 12
  void* p = nullptr;
  EXPECT_EQ(b.beginWrite(p, 9), kError_BufferTooSmall);  // 16 + min(4, 8) - 12 = 8
  EXPECT_EQ(b.beginWrite(p, 8), kError_NoErr);
  std::memcpy(p, "12345678", 8);
  ASSERT_EQ(b.endWrite(8), kError_NoErr);
  EXPECT_EQ(b.writeIndex(), 4u);
  EXPECT_EQ(b.beginWrite(p, 1), kError_BufferTooSmall);  // full
  EXPECT_EQ(take(b, 16), std::string(8, 'x') + "12345678");
}

TEST(PullBufferTest, WriteEndingAtSizeCopiesNothingAndReadAcrossWrapIsContiguous) {
  PullBuffer b(16, 8, nullptr);
  put(b, "AAAAAAAA");
  EXPECT_EQ(take(b, 8), "AAAAAAAA");
  put(b, "BBBBBBBB");  // ends exactly at the ring's end
  EXPECT_EQ(b.writeIndex(), 0u);
  void* p = nullptr;
  ASSERT_EQ(b.beginWrite(p, 4), kError_NoErr);
  // Nothing was copied to the ring's start.
  EXPECT_EQ(std::string(static_cast<char*>(p), 4), "AAAA");
  std::memcpy(p, "CCCC", 4);
  ASSERT_EQ(b.endWrite(4), kError_NoErr);
  // 8 bytes at the end and 4 at the start come out as one region.
  EXPECT_EQ(take(b, 12), "BBBBBBBBCCCC");
}

TEST(PullBufferTest, EndOfStreamRefusesLargerRequests) {
  PullBuffer b(16, 8, nullptr);
  put(b, "12345");
  void* p = nullptr;
  EXPECT_EQ(b.beginRead(p, 8), kError_NoDataAvail);
  b.setEndOfStream(true);
  EXPECT_TRUE(b.isEndOfStream());
  EXPECT_EQ(b.beginRead(p, 8), kError_EndOfStream);
  EXPECT_EQ(take(b, 5), "12345");
  EXPECT_EQ(b.beginRead(p, 1), kError_EndOfStream);
  ASSERT_EQ(b.clear(), kError_NoErr);
  EXPECT_FALSE(b.isEndOfStream());
  EXPECT_EQ(b.used(), 0u);
}

TEST(PullBufferTest, CommitsBeyondTheReservationAreRefused) {
  PullBuffer b(16, 8, nullptr);
  void* p = nullptr;
  EXPECT_EQ(b.endWrite(1), kError_InvalidParam);  // nothing reserved
  ASSERT_EQ(b.beginWrite(p, 4), kError_NoErr);
  EXPECT_EQ(b.endWrite(5), kError_InvalidParam);
  EXPECT_EQ(b.endWrite(4), kError_NoErr);
  ASSERT_EQ(b.beginRead(p, 4), kError_NoErr);
  EXPECT_EQ(b.endRead(5), kError_InvalidParam);
  EXPECT_EQ(b.endRead(0), kError_NoErr);  // a peek consumes nothing
  EXPECT_EQ(b.used(), 4u);
  // A region past the ring and its tail could never be committed.
  EXPECT_EQ(b.beginWrite(p, 17), kError_InvalidParam);
}

TEST(PullBufferTest, TooSmallTailIsAnErrorWithItsLogLine) {
  std::string path = platform::joinPath(testenv::freshDir("buflog"), "log");
  LogFile log(path);
  ASSERT_TRUE(log.open());
  PlayerContext context;
  context.log = &log;

  PullBuffer b(16, 2, &context);
  put(b, std::string(12, 'x'));
  take(b, 12);
  put(b, "ABCDEF");  // 4 at the end, 2 at the start
  void* p = nullptr;
  EXPECT_EQ(b.beginRead(p, 6), kError_NoErr);  // needs exactly the 2 of the tail
  EXPECT_EQ(b.endRead(0), kError_NoErr);

  PullBuffer none(16, 0, &context);
  put(none, std::string(12, 'x'));
  take(none, 12);
  put(none, "ABCD");
  put(none, "EF");
  EXPECT_EQ(none.beginRead(p, 6), kError_InvalidParam);  // would run off the end
  log.close();
  EXPECT_EQ(testenv::readFile(path), "Error: Overflow buffer is too small!! \nNeeded 2 but had only 0 for overflow.\n");
}

TEST(PullBufferTest, ResizeOnlyBeforeTheFirstRead) {
  std::string path = platform::joinPath(testenv::freshDir("resizelog"), "log");
  LogFile log(path);
  ASSERT_TRUE(log.open());
  PlayerContext context;
  context.log = &log;

  PullBuffer b(16, 0, &context);
  put(b, "0123456789");
  EXPECT_EQ(b.resize(8, 0), kError_BufferTooSmall);
  ASSERT_EQ(b.resize(32, 0), kError_NoErr);
  EXPECT_EQ(b.size(), 32u);
  EXPECT_EQ(b.writeIndex(), 10u);
  put(b, "ABCDEFGHIJKLMNOPQRSTUV");  // 32 in all
  EXPECT_EQ(take(b, 5), "01234");
  EXPECT_EQ(b.resize(64, 0), kError_InvalidError);
  EXPECT_EQ(b.size(), 32u);
  EXPECT_EQ(take(b, 27), "56789ABCDEFGHIJKLMNOPQRSTUV");
  log.close();
  EXPECT_EQ(testenv::readFile(path),
            "Error: Pullbuffer: Not resized. Too many bytes in buffer.\n"
            "Error: Pullbuffer: Not resized. The buffer has been read.\n");
}

TEST(PullBufferTest, DiscardToHalfDropsTheOldest) {
  PullBuffer b(16, 0, nullptr);
  put(b, "0123456789AB");
  ASSERT_EQ(b.discardToHalf(), kError_NoErr);
  EXPECT_EQ(b.used(), 8u);
  EXPECT_EQ(take(b, 8), "456789AB");
  ASSERT_EQ(b.discardToHalf(), kError_NoErr);
  EXPECT_EQ(b.used(), 0u);
}

TEST(PullBufferTest, ClearWaitsForAnOpenReservation) {
  PullBuffer b(16, 0, nullptr);
  put(b, "abcd");
  void* p = nullptr;
  ASSERT_EQ(b.beginRead(p, 2), kError_NoErr);
  std::atomic<bool> cleared{false};
  std::thread other([&] {
    EXPECT_EQ(b.clear(), kError_NoErr);
    cleared.store(true);
  });
  usleep(30000);
  EXPECT_FALSE(cleared.load());
  ASSERT_EQ(b.endRead(2), kError_NoErr);
  other.join();
  EXPECT_TRUE(cleared.load());
  EXPECT_EQ(b.used(), 0u);
  EXPECT_EQ(b.readIndex(), 0u);
}

// One writer and one reader thread pass a long sequence through a small
// ring; every byte arrives once and in order.
TEST(PullBufferTest, WriterAndReaderThreadsKeepTheSequence) {
  const size_t total = 200000;
  PullBuffer b(1000, 64, nullptr);
  std::thread writer([&] {
    size_t sent = 0;
    unsigned step = 1;
    while (sent < total) {
      size_t n = std::min<size_t>(1 + (step++ * 37) % 64, total - sent);
      void* p = nullptr;
      ErrorCode rc = b.beginWrite(p, n);
      if (rc == kError_BufferTooSmall) {
        std::this_thread::yield();
        continue;
      }
      ASSERT_EQ(rc, kError_NoErr);
      for (size_t i = 0; i < n; ++i) static_cast<unsigned char*>(p)[i] = static_cast<unsigned char>((sent + i) % 251);
      ASSERT_EQ(b.endWrite(n), kError_NoErr);
      sent += n;
    }
    b.setEndOfStream(true);
  });
  size_t received = 0;
  unsigned step = 3;
  bool ok = true;
  for (;;) {
    size_t n = 1 + (step++ * 29) % 64;
    void* p = nullptr;
    ErrorCode rc = b.beginRead(p, n);
    if (rc == kError_NoDataAvail) {
      std::this_thread::yield();
      continue;
    }
    if (rc == kError_EndOfStream) {
      size_t left = b.used();
      if (left == 0) break;
      rc = b.beginRead(p, left);
      n = left;
    }
    ASSERT_EQ(rc, kError_NoErr);
    for (size_t i = 0; i < n; ++i)
      ok = ok && static_cast<unsigned char*>(p)[i] == static_cast<unsigned char>((received + i) % 251);
    ASSERT_EQ(b.endRead(n), kError_NoErr);
    received += n;
  }
  writer.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(received, total);
}

TEST(EventBufferTest, EventAtTheReadPositionComesFirst) {
  EventBuffer b(16, 0, nullptr);
  ASSERT_EQ(b.acceptEvent(std::make_unique<Event>(kStreamEvent_Format)), kError_NoErr);
  put(b, "abcd");
  void* p = nullptr;
  EXPECT_EQ(b.beginRead(p, 4), kError_EventPending);
  ASSERT_NE(b.peekEvent(), nullptr);
  EXPECT_EQ(b.peekEvent()->type(), kStreamEvent_Format);
  auto e = b.getEvent();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->type(), kStreamEvent_Format);
  EXPECT_EQ(b.beginRead(p, 4), kError_NoErr);
  EXPECT_EQ(b.endRead(4), kError_NoErr);
  EXPECT_EQ(b.getEvent(), nullptr);
}

TEST(EventBufferTest, EventWithinOneReadUnitIsDueBeforeThatSpan) {
  EventBuffer b(16, 0, nullptr);
  put(b, "aaaa");
  ASSERT_EQ(b.acceptEvent(std::make_unique<FrameMarkerEvent>(1)), kError_NoErr);  // at 4
  put(b, "bbbb");
  ASSERT_EQ(b.acceptEvent(std::make_unique<Event>(kStreamEvent_EndOfStream)), kError_NoErr);  // at 8
  void* p = nullptr;
  EXPECT_EQ(b.beginRead(p, 3), kError_NoErr);  // 4 bytes away: not yet
  EXPECT_EQ(b.endRead(0), kError_NoErr);
  EXPECT_EQ(b.beginRead(p, 4), kError_EventPending);
  auto marker = b.getEvent();
  ASSERT_EQ(marker->type(), kStreamEvent_FrameMarker);
  EXPECT_EQ(static_cast<FrameMarkerEvent*>(marker.get())->frame, 1);
  EXPECT_EQ(take(b, 2), "aa");
  EXPECT_EQ(b.beginRead(p, 4), kError_NoErr);  // the next event is 6 away
  EXPECT_EQ(b.endRead(0), kError_NoErr);
  EXPECT_EQ(b.beginRead(p, 6), kError_EventPending);
  EXPECT_EQ(b.pendingEvents(), 1u);
  ASSERT_EQ(b.clear(), kError_NoErr);  // events go with the bytes
  EXPECT_EQ(b.pendingEvents(), 0u);
  EXPECT_EQ(b.used(), 0u);
}

TEST(EventBufferTest, PositionsWrapWithTheRing) {
  EventBuffer b(16, 0, nullptr);
  put(b, std::string(12, 'x'));
  take(b, 12);
  put(b, "1234");  // write index back at 0
  ASSERT_EQ(b.acceptEvent(std::make_unique<Event>(kStreamEvent_Reset)), kError_NoErr);
  void* p = nullptr;
  EXPECT_EQ(b.beginRead(p, 3), kError_NoErr);  // 4 away
  EXPECT_EQ(b.endRead(0), kError_NoErr);
  EXPECT_EQ(b.beginRead(p, 4), kError_EventPending);
}

}  // namespace

namespace {

// What a writer made for the stream from before a clear (a seek) never
// lands in the stream after it.
TEST(EventBufferTest, WorkFromBeforeAClearIsDropped) {
  EventBuffer b(16, 0, nullptr);
  uint32_t before = b.clearCount();
  void* p = nullptr;
  ASSERT_EQ(b.acceptEvent(std::make_unique<FrameMarkerEvent>(7), before), kError_NoErr);
  ASSERT_EQ(b.clear(), kError_NoErr);
  EXPECT_EQ(b.clearCount(), before + 1);
  EXPECT_EQ(b.pendingEvents(), 0u);
  EXPECT_EQ(b.acceptEvent(std::make_unique<FrameMarkerEvent>(8), before), kError_UserCancel);
  EXPECT_EQ(b.pendingEvents(), 0u);
  ASSERT_EQ(b.beginWrite(p, 4), kError_NoErr);
  EXPECT_EQ(b.endWrite(4, before), kError_UserCancel);
  EXPECT_EQ(b.used(), 0u);
  ASSERT_EQ(b.beginWrite(p, 4), kError_NoErr);  // the reservation was closed
  EXPECT_EQ(b.endWrite(4, b.clearCount()), kError_NoErr);
  EXPECT_EQ(b.used(), 4u);
}

}  // namespace
