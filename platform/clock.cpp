#include "platform/clock.h"

#include <ctime>
#include <thread>

namespace platform {

namespace {

// The system's monotonic clock: a nanosecond counter.
class SystemClock : public Clock {
 public:
  bool performanceFrequency(int64_t* frequency) override {
    if (frequency) *frequency = 1000000000;
    return true;
  }
  int64_t performanceCounter() override {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  }
  DWORD milliseconds() override { return static_cast<DWORD>(performanceCounter() / 1000000); }
  void sleep(DWORD milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

SystemClock systemClock;
Clock* installed = nullptr;

}  // namespace

Clock& clock() { return installed ? *installed : systemClock; }
void setClock(Clock* c) { installed = c; }

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  int64_t f = 0;
  bool ok = clock().performanceFrequency(&f);
  if (frequency) frequency->QuadPart = ok ? f : 0;
  return ok ? TRUE : FALSE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
  int64_t f = 0;
  if (!clock().performanceFrequency(&f)) {
    if (counter) counter->QuadPart = 0;
    return FALSE;
  }
  if (counter) counter->QuadPart = clock().performanceCounter();
  return TRUE;
}

DWORD timeGetTime() { return clock().milliseconds(); }
void Sleep(DWORD milliseconds) { clock().sleep(milliseconds); }
int64_t calendarTime() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace platform
