#include "player/pipelineunit.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "player/event.h"
#include "player/playercontext.h"
#include "player/pullbuffer.h"

namespace {
constexpr size_t kMessageBuffer = 4096;

// A stage's message text: printf-formatted, cut to fit kMessageBuffer.
std::string formatMessage(const char* format, va_list args) {
  char text[kMessageBuffer];
  std::vsnprintf(text, sizeof(text), format, args);
  return text;
}
}  // namespace

PipelineUnit::PipelineUnit(PlayerContext* context) : context_(context), target_(context ? context->target : nullptr) {}

PipelineUnit::~PipelineUnit() { signalExit(); }

void PipelineUnit::signalExit() {
  {
    MutexLock lock(mutex_);
    exit_.store(true);
  }
  wakeSem_.signal();
  pauseSem_.signal();
}

void PipelineUnit::pause() {
  {
    MutexLock lock(mutex_);
    paused_.store(true);
  }
  wake();
}

void PipelineUnit::resume() {
  {
    MutexLock lock(mutex_);
    paused_.store(false);
  }
  pauseSem_.signal();
}

void PipelineUnit::wake() { wakeSem_.signal(); }

ErrorCode PipelineUnit::clear() {
  if (output_) return output_->clear();
  return kError_NoErr;
}

void PipelineUnit::setPropertyManager(PropertyManager* props) { props_ = props; }

void PipelineUnit::setInputBuffer(PullBuffer* buffer) { input_ = buffer; }

ErrorCode PipelineUnit::reportError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatMessage(format, args);
  va_end(args);
  if (!target_) return kError_NullValueInvalid;
  target_->acceptEvent(std::make_unique<MessageEvent>(INFO_ErrorMessage, std::move(text)));
  return target_->acceptEvent(std::make_unique<Event>(INFO_DoneOutputtingDueToError));
}

ErrorCode PipelineUnit::reportStatus(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatMessage(format, args);
  va_end(args);
  if (!target_) return kError_NullValueInvalid;
  return target_->acceptEvent(std::make_unique<MessageEvent>(INFO_StatusMessage, std::move(text)));
}

void PipelineUnit::debugPrint() {
  PullBuffer* buffer = output_ ? output_ : input_;
  long fill = buffer ? buffer->fillPercent() : 0;
  std::printf("[%c %c %ld]", streamingFlag_ ? 'S' : 'W', paused_.load() ? 'P' : 'R', fill);
  std::fflush(stdout);
}

bool PipelineUnit::sleep() {
  wakeSem_.wait();
  return exit_.load();
}
