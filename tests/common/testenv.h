#pragma once
// Every test program runs in a fresh temporary directory that stands in for
// the user's home, configuration, data and registry, so that no test ever
// touches the user's own files.
#include <gtest/gtest.h>

#include <string>

namespace testenv {

// The temporary root made for this test program (also the starting
// current directory).
const std::string& root();

// A fresh, empty directory below root() for one test.
std::string freshDir(const std::string& hint = "t");

// tests/data of the source tree, and the shared conformance data beside the
// checkout ("" when absent).
std::string dataDir();
std::string sharedDataDir();

std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);

// Holds the X display, for as long as it lives, against the other test
// programs that need it to themselves (keyboard focus, screenshots): they
// take the same lock file.
class DisplayLock {
 public:
  DisplayLock();
  ~DisplayLock();
  DisplayLock(const DisplayLock&) = delete;
  DisplayLock& operator=(const DisplayLock&) = delete;

 private:
  int fd_ = -1;
};

// What a test may find missing.  A developer's run skips such a test; a run
// that requires the facility (CI sets LM_REQUIRE_DISPLAY=1 for the X display
// and the renderer, LM_REQUIRE_SHARED_DATA=1 for ../shared) fails it instead,
// so that a broken virtual display can't pass as a green run.
enum class Need { display, sharedData };
bool required(Need need);

}  // namespace testenv

// Skips the current test, or fails it when the run requires `need`.  Returns
// from the calling function either way.
#define LM_SKIP_UNLESS_REQUIRED(need, why)                                  \
  do {                                                                      \
    if (testenv::required(need)) GTEST_FAIL() << why << " (required here)"; \
    GTEST_SKIP() << why;                                                    \
  } while (0)
