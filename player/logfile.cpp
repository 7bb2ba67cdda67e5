#include "player/logfile.h"

#include <cstdarg>

#include "platform/files.h"
#include "player/preferences.h"

namespace {
constexpr size_t kLineBuffer = 2048;
const char* const kCategoryNames[] = {"Main", "Decode", "Input", "Output", "Perf"};
}  // namespace

LogFile::LogFile(std::string fileName) : fileName_(std::move(fileName)) {}

LogFile::~LogFile() { close(); }

std::unique_ptr<LogFile> LogFile::fromPreferences(Preferences& prefs, const std::string& directory) {
  std::string dir = directory.empty() ? platform::currentDirectory() : directory;
  auto log = std::make_unique<LogFile>(platform::joinPath(dir, kDefaultName));
  static const char* const kSwitches[] = {"LogMain", "LogDecode", "LogInput", "LogOutput", "LogPerformance"};
  int32_t mask = 0;
  for (int i = 0; i < 5; ++i) {
    bool on = false;
    if (prefs.getPrefBoolean(kSwitches[i], &on) == kError_NoErr && on) mask |= 1 << i;
  }
  log->setCategoryMask(mask);
  bool useLog = false;
  if (prefs.getPrefBoolean("UseDebugLog", &useLog) == kError_NoErr && useLog) log->open();
  return log;
}

bool LogFile::open() {
  platform::CheckedLock lock(m_);
  if (stream_) return true;
  stream_ = std::fopen(fileName_.c_str(), "a");
  return stream_ != nullptr;
}

void LogFile::close() {
  platform::CheckedLock lock(m_);
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
}

bool LogFile::isOpen() const {
  platform::CheckedLock lock(m_);
  return stream_ != nullptr;
}

void LogFile::setCategoryMask(int32_t mask) {
  platform::CheckedLock lock(m_);
  mask_ = mask;
}

int32_t LogFile::categoryMask() const {
  platform::CheckedLock lock(m_);
  return mask_;
}

const char* LogFile::categoryName(LogCategory category) {
  if (category < LogMain || category > LogPerf) return "";
  return kCategoryNames[category];
}

void LogFile::logError(const char* format, ...) {
  platform::CheckedLock lock(m_);
  if (!stream_) return;
  char text[kLineBuffer];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  std::fprintf(stream_, "Error: %s", text);
  std::fflush(stream_);
}

int32_t LogFile::logCategory(LogCategory category, const char* format, ...) {
  platform::CheckedLock lock(m_);
  int32_t bit = (category >= LogMain && category <= LogPerf) ? (1 << category) : 0;
  if (!(mask_ & bit)) return bit;
  if (!stream_) return 0;
  char text[kLineBuffer];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  std::fprintf(stream_, "%s: %s", kCategoryNames[category], text);
  std::fflush(stream_);
  return 0;
}
