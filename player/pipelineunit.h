#pragma once
// The base of the three stages of a playing chain (input, decoder, output):
// thread-control semaphores, pause and exit flags, the buffers the stage
// reads and writes, and the way a stage reports to the Player.
#include <atomic>
#include <cstdint>

#include "player/errorcode.h"
#include "player/thread.h"

struct PlayerContext;
class EventQueue;
class PropertyManager;
class PullBuffer;

class PipelineUnit {
 public:
  explicit PipelineUnit(PlayerContext* context);
  virtual ~PipelineUnit();
  PipelineUnit(const PipelineUnit&) = delete;
  PipelineUnit& operator=(const PipelineUnit&) = delete;

  // Sets the paused flag and wakes the unit so that a sleeping thread
  // notices.
  virtual void pause();
  // Clears the paused flag and lets a thread waiting for resume go on.
  virtual void resume();
  virtual void wake();
  // Empties the output buffer when there is one.
  virtual ErrorCode clear();
  virtual void setPropertyManager(PropertyManager* props);
  virtual void setInputBuffer(PullBuffer* buffer);
  // Posts an error message (28) with the formatted text to the Player, then
  // 77 (the stages stopped on an error).  Returns the last post's result.
  virtual ErrorCode reportError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Posts a status message (46).
  virtual ErrorCode reportStatus(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // "[S|W P|R fill%]" on standard output.
  virtual void debugPrint();
  // Waits to be woken; answers whether the unit is exiting.
  virtual bool sleep();

  bool isPaused() const { return paused_.load(); }
  bool isExiting() const { return exit_.load(); }
  PullBuffer* inputBuffer() const { return input_; }
  PullBuffer* outputBuffer() const { return output_; }
  PlayerContext* context() const { return context_; }

 protected:
  // Sets the exit flag and releases both semaphores, so that the unit's
  // thread sees the flag wherever it waits.  Stages call it first in their
  // destructors, before joining their thread.
  void signalExit();

  PlayerContext* context_;
  EventQueue* target_;
  PullBuffer* output_ = nullptr;
  PullBuffer* input_ = nullptr;
  PropertyManager* props_ = nullptr;
  Semaphore wakeSem_{0};
  Semaphore pauseSem_{0};
  Mutex mutex_;
  std::atomic<bool> paused_{false};
  std::atomic<bool> exit_{false};
  bool streamingFlag_ = false;  // the debug letter: S or W
};
