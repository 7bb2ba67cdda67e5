#pragma once
// The process-wide frame timer: the time between the last two frames is the
// scene's time step.  It reads the performance counter when there is one,
// else the millisecond timer (platform/clock.h).
#include <cstdint>

class FrameClock {
 public:
  // Picks the time source and takes its current value.
  void start();
  // Measures the time since the previous tick into elapsedSeconds.
  void tick();
  // The source's time in microseconds, low 32 bits.
  uint32_t nowMicroseconds() const;

  bool hasCounter = false;
  int64_t unitsPerSecond = 1000;
  double tickScale = 1.0;  // units per counter tick
  int64_t lastTick = 0;
  double elapsedSeconds = 0.0;

 private:
  int64_t frequency_ = 0;
  int64_t sourceNow() const;
};

// The process-wide frame clock.
FrameClock& frameClock();
