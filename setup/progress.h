#pragma once
// The progress value the install or uninstall worker shares with the page
// that shows it.  Both sides wait at most 50 ms for the lock: a report that
// can't get it is dropped, a reading that can't get it gives -1.
#include <chrono>
#include <mutex>
#include <string>

class ProgressValue {
 public:
  static constexpr std::chrono::milliseconds kWait{50};

  // The reporter: stores trunc(100 * fraction).  1.0 means every byte was
  // extracted, 1.1 that the whole job is finished.  False when dropped.
  bool report(double fraction);
  // The value, or -1 when the lock was not had within 50 ms.
  int read();

  // For tests: holds the lock as the other side would.
  std::timed_mutex& mutex() { return mutex_; }

 private:
  std::timed_mutex mutex_;
  int value_ = 0;
};

// A reading of this or more means the job is finished (the worker reports
// 1.1, that is 110).
inline constexpr int kProgressFinished = 102;

// What the page shows for a reading: at most 100.
int shownPercent(int value);
// "Install progress %d%%", or in the uninstaller "Uninstall progress %d%%".
std::string progressText(int percent, bool uninstall);
