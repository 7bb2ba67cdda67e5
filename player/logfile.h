#pragma once
// The engine's log: one file, five categories that can be switched on one
// by one, and errors that are always written while the file is open.  A
// closed log discards every line.
#include <cstdint>
#include <cstdio>
#include <memory>

#include <string>
#include "platform/threadannotations.h"

class Preferences;

enum LogCategory : int32_t {
  LogMain = 0,
  LogDecode = 1,
  LogInput = 2,
  LogOutput = 3,
  LogPerf = 4,
};

class LogFile {
 public:
  static constexpr const char* kDefaultName = "tessmp3.log";

  explicit LogFile(std::string fileName);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The engine's log as the preferences ask for it: "tessmp3.log" in
  // `directory` (the current directory when empty), opened for appending
  // when "UseDebugLog" is true and left closed otherwise; the categories
  // are those of "LogMain", "LogDecode", "LogInput", "LogOutput" and
  // "LogPerformance".
  static std::unique_ptr<LogFile> fromPreferences(Preferences& prefs, const std::string& directory);

  // Opens the file for appending; false when it cannot be opened.
  bool open();
  void close();
  bool isOpen() const;
  const std::string& fileName() const { return fileName_; }

  // Bit n enables category n.
  void setCategoryMask(int32_t mask);
  int32_t categoryMask() const;

  // "Error: <text>" when the file is open.
  void logError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // "<category>: <text>" when the file is open and the category enabled.
  // Returns the category's bit when it is masked off, else 0.
  int32_t logCategory(LogCategory category, const char* format, ...) __attribute__((format(printf, 3, 4)));

  static const char* categoryName(LogCategory category);

 private:
  std::string fileName_;
  mutable platform::CheckedMutex m_;
  std::FILE* stream_ LM_GUARDED_BY(m_) = nullptr;
  int32_t mask_ LM_GUARDED_BY(m_) = 0;
};
