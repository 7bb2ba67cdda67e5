#pragma once
// The events that carry a payload between the Player, the output stage
// and the user interfaces.  (The event identifiers, the stages' own
// notifications and the in-band stream events are in player/event.h.)
#include <cstdint>
#include <memory>

#include "player/event.h"

// 19: the play position.
class MediaTimeInfoEvent : public Event {
 public:
  MediaTimeInfoEvent(int32_t h, int32_t m, int32_t s, float total)
      : Event(INFO_MediaTimeInfo), hours(h), minutes(m), seconds(s), totalSeconds(total) {}
  int32_t hours;
  int32_t minutes;
  int32_t seconds;
  int32_t reserved[2] = {0, 0};
  float totalSeconds;
};

// 27: seek to a frame.
class ChangePositionEvent : public Event {
 public:
  explicit ChangePositionEvent(int32_t frameNumber) : Event(CMD_ChangePosition), frame(frameNumber) {}
  int32_t frame;
};

// 41 (set) and 47 (report): a volume in percent.
class VolumeEvent : public Event {
 public:
  VolumeEvent(int32_t type, int32_t percent) : Event(type), volume(percent) {}
  int32_t volume;
};

// 38: either the equalizer's enable flag or its 32 factors.
class SetEqualizerEvent : public Event {
 public:
  explicit SetEqualizerEvent(bool enabled) : Event(CMD_SetEQData), isTable(false), enable(enabled) {}
  explicit SetEqualizerEvent(const float factors[32]) : Event(CMD_SetEQData), isTable(true) {
    for (int i = 0; i < 32; ++i) table[i] = factors[i];
  }
  bool isTable;
  bool enable = false;
  float table[32] = {};
};
