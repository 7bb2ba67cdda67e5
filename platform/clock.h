#pragma once
// The time sources of the frame clock and the render loop: the
// high-resolution performance counter, the multimedia millisecond timer and
// Sleep, with their Win32 names.  They read the process-wide clock, which a
// test can replace (platform/testing/manualclock.h) so that timing code runs on time it controls.
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

// The Win32 calls.
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
DWORD timeGetTime();
void Sleep(DWORD milliseconds);
// Seconds since 1970 (time(nullptr)), for seeding.
int64_t calendarTime();

}  // namespace platform
