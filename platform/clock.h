#pragma once
// The time sources of the frame clock and the render loop: the
// high-resolution performance counter, the multimedia millisecond timer and
// Sleep, with their Win32 names.  They read the process-wide clock, which a
// test can replace (ManualClock) so that timing code runs on time it controls.
#include <cstdint>

#include "platform/wintypes.h"

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  int64_t QuadPart;
};

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Counts per second of the performance counter; false when there is none.
  virtual bool performanceFrequency(int64_t* frequency) = 0;
  virtual int64_t performanceCounter() = 0;
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual DWORD milliseconds() = 0;
  virtual void sleep(DWORD milliseconds) = 0;
};

// The process-wide clock: the system's monotonic clock unless a test installed
// another (nullptr goes back to the system's).  The caller keeps ownership.
Clock& clock();
void setClock(Clock* clock);

// A clock that moves only when told to; sleep() advances it by the time slept.
// Tests give it a counter frequency, or none (the millisecond timer only).
class ManualClock : public Clock {
 public:
  explicit ManualClock(int64_t frequency = 1000000) : frequency_(frequency) {}
  bool performanceFrequency(int64_t* frequency) override;
  int64_t performanceCounter() override { return counter_; }
  DWORD milliseconds() override;
  void sleep(DWORD milliseconds) override;

  // Moves the clock on by a number of microseconds.
  void advanceMicroseconds(int64_t microseconds);
  int64_t nowMicroseconds() const { return micros_; }
  // Total milliseconds slept and the number of sleep() calls.
  int64_t sleptMilliseconds = 0;
  int sleepCalls = 0;

 private:
  int64_t frequency_;
  int64_t micros_ = 0;
  int64_t counter_ = 0;
  int64_t counterRemainder_ = 0;
};

// The Win32 calls.
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
DWORD timeGetTime();
void Sleep(DWORD milliseconds);
// Seconds since 1970 (time(nullptr)), for seeding.
int64_t calendarTime();

}  // namespace platform
