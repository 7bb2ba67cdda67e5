#pragma once
// A process clock for tests (install it with platform::setClock).
#include <cstdint>

#include "platform/clock.h"

namespace platform {

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

}  // namespace platform
