#include "platform/testing/manualclock.h"

namespace platform {

bool ManualClock::performanceFrequency(int64_t* frequency) {
  if (frequency_ <= 0) return false;
  if (frequency) *frequency = frequency_;
  return true;
}

DWORD ManualClock::milliseconds() { return static_cast<DWORD>(micros_ / 1000); }

void ManualClock::sleep(DWORD milliseconds) {
  ++sleepCalls;
  sleptMilliseconds += milliseconds;
  advanceMicroseconds(static_cast<int64_t>(milliseconds) * 1000);
}

void ManualClock::advanceMicroseconds(int64_t microseconds) {
  micros_ += microseconds;
  if (frequency_ > 0) {
    // Counter ticks follow the microseconds exactly, carrying the remainder.
    int64_t scaled = microseconds * frequency_ + counterRemainder_;
    counter_ += scaled / 1000000;
    counterRemainder_ = scaled % 1000000;
  }
}

}  // namespace platform
