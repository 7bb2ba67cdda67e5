#include "shell/frameclock.h"

#include "platform/clock.h"

void FrameClock::start() {
  LARGE_INTEGER frequency;
  frequency.QuadPart = 0;
  if (platform::QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
    hasCounter = true;
    frequency_ = frequency.QuadPart;
    unitsPerSecond = 1000000;
    tickScale = 1000000.0 / static_cast<double>(frequency_);
  } else {
    hasCounter = false;
    frequency_ = 0;
    unitsPerSecond = 1000;
    tickScale = 1.0;
  }
  lastTick = sourceNow();
  elapsedSeconds = 0.0;
}

int64_t FrameClock::sourceNow() const {
  if (hasCounter) {
    LARGE_INTEGER counter;
    counter.QuadPart = 0;
    platform::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
  }
  return platform::timeGetTime();
}

void FrameClock::tick() {
  const int64_t now = sourceNow();
  int64_t delta;
  if (hasCounter) {
    delta = static_cast<int64_t>(static_cast<double>(now - lastTick) * tickScale);
  } else {
    // The millisecond timer wraps at 2^32; the difference of two readings
    // stays right across the wrap.
    delta = static_cast<DWORD>(static_cast<DWORD>(now) - static_cast<DWORD>(lastTick));
  }
  elapsedSeconds = static_cast<double>(delta) / static_cast<double>(unitsPerSecond);
  lastTick = now;
}

uint32_t FrameClock::nowMicroseconds() const {
  if (hasCounter && frequency_ > 0) {
    LARGE_INTEGER counter;
    counter.QuadPart = 0;
    platform::QueryPerformanceCounter(&counter);
    // counter * 1,000,000 / frequency without overflowing 64 bits for
    // counters that have run for a long time.
    const int64_t seconds = counter.QuadPart / frequency_;
    const int64_t rest = counter.QuadPart % frequency_;
    const int64_t micros = seconds * 1000000 + rest * 1000000 / frequency_;
    return static_cast<uint32_t>(micros);
  }
  return static_cast<uint32_t>(platform::timeGetTime() * 1000u);
}

FrameClock& frameClock() {
  static FrameClock clock;
  return clock;
}
