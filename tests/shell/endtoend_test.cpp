// The real program, started as the system starts a screen saver, driven
// through real X11 events.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/files.h"
#include "tests/common/testenv.h"
#include "x11probe.h"

namespace {

using Clock = std::chrono::steady_clock;

// One run of aquaveil with its standard error in a file.
class Program {
 public:
  Program(const std::vector<std::string>& args, const std::vector<std::pair<std::string, std::string>>& env) {
    errPath_ = testenv::freshDir("aquaveil") + "/stderr.txt";
    pid_ = fork();
    if (pid_ == 0) {
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      const int fd = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        dup2(fd, 2);
        dup2(fd, 1);
      }
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(AQUAVEIL_BINARY));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(AQUAVEIL_BINARY, argv.data());
      _exit(127);
    }
  }
  ~Program() {
    if (running()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
    }
  }
  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0 && !ended_; }
  // Waits for the end; false when it did not end in time.
  bool waitForEnd(int seconds) {
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < until) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        ended_ = true;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  void terminate() { kill(pid_, SIGTERM); }
  bool exitedWith(int code) const { return ended_ && WIFEXITED(status_) && WEXITSTATUS(status_) == code; }
  std::string errors() const { return testenv::readFile(errPath_); }
  // The frame count the program reports at its end (-1 when none).
  long framesRendered() const {
    const std::string text = errors();
    const size_t at = text.find(" frames rendered");
    if (at == std::string::npos) return -1;
    size_t start = at;
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') --start;
    return start == at ? -1 : std::stol(text.substr(start, at - start));
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  std::string errPath_;
};

std::vector<std::pair<std::string, std::string>> environment(const char* driver) {
  return {{"SDL_VIDEODRIVER", driver}, {"LIBGL_ALWAYS_SOFTWARE", "1"}, {"LUMENMERE_FRAME_REPORT", "1"}};
}

// The X11 tests take the display one at a time: a saver window covering
// the screen and keyboard focus are shared by every process on it.
class DisplayLock {
 public:
  DisplayLock() {
    const std::string path = platform::programDirectory() + "/.x11-end-to-end.lock";
    fd_ = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~DisplayLock() {
    if (fd_ >= 0) close(fd_);
  }

 private:
  int fd_ = -1;
};

// Waits for a mapped window of the process among the children of `parent`.
std::vector<x11probe::WindowInfo> waitForWindows(x11probe::Connection& x, unsigned long parent, pid_t pid, bool byPid,
                                                 int seconds) {
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < until) {
    std::vector<x11probe::WindowInfo> found;
    for (const auto& w : x.children(parent))
      if (w.mapped && (!byPid || w.pid == pid)) found.push_back(w);
    if (!found.empty()) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return {};
}

#define REQUIRE_X11(connection)                                                                                      \
  if (!std::getenv("DISPLAY")) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no X display (run under xvfb-run)"); \
  x11probe::Connection connection;                                                                                   \
  if (!connection.ok()) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "the X display cannot be opened")

}  // namespace

TEST(EndToEnd, TestModeRendersAndEndsOnEscape) {
  REQUIRE_X11(x);
  DisplayLock lock;
  Program program({"/t"}, environment("x11"));
  const auto windows = waitForWindows(x, x.root(), program.pid(), true, 30);
  ASSERT_EQ(windows.size(), 1u) << program.errors();
  EXPECT_EQ(windows[0].name, "Rillglass");
  // A key other than Escape does not end the test mode.
  x.typeKey(windows[0].id, "a");
  EXPECT_FALSE(program.waitForEnd(1));
  x.typeKey(windows[0].id, "Escape");
  ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
  EXPECT_TRUE(program.exitedWith(0)) << program.errors();
  EXPECT_GT(program.framesRendered(), 1) << program.errors();
}

TEST(EndToEnd, FullModeCoversTheDisplayWithOneTopmostWindow) {
  REQUIRE_X11(x);
  DisplayLock lock;
  Program program({"/s"}, environment("x11"));
  const auto windows = waitForWindows(x, x.root(), program.pid(), true, 30);
  ASSERT_EQ(windows.size(), 1u) << program.errors();
  EXPECT_EQ(windows[0].x, 0);
  EXPECT_EQ(windows[0].y, 0);
  EXPECT_EQ(windows[0].width, x.screenWidth());
  EXPECT_EQ(windows[0].height, x.screenHeight());
  EXPECT_TRUE(windows[0].above);
  // Let it draw a while (the window may appear with its device, before the
  // second frame).
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  // Any key ends the saver proper.
  x.typeKey(windows[0].id, "a");
  ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
  EXPECT_TRUE(program.exitedWith(0)) << program.errors();
  EXPECT_GT(program.framesRendered(), 1) << program.errors();
}

TEST(EndToEnd, PreviewDrawsInsideTheGivenWindow) {
  REQUIRE_X11(x);
  DisplayLock lock;
  const unsigned long parent = x.createWindow(320, 240);
  Program program({"/p", std::to_string(parent)}, environment("x11"));
  const auto inside = waitForWindows(x, parent, program.pid(), false, 30);
  ASSERT_EQ(inside.size(), 1u) << program.errors();
  EXPECT_EQ(inside[0].width, 320);
  EXPECT_EQ(inside[0].height, 240);
  // The preview waits half a second before it draws; give it time to.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  // The control panel ends a preview by ending the process.
  program.terminate();
  ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
  EXPECT_TRUE(program.exitedWith(0)) << program.errors();
  EXPECT_GT(program.framesRendered(), 0) << program.errors();
  x.destroyWindow(parent);
}

TEST(EndToEnd, HeadlessRunEndsCleanlyOnSigterm) {
  Program program({"/s"}, environment("offscreen"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_FALSE(program.waitForEnd(0)) << program.errors();
  program.terminate();
  ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
  EXPECT_TRUE(program.exitedWith(0)) << program.errors();
  EXPECT_GT(program.framesRendered(), 0) << program.errors();
}

TEST(EndToEnd, PreviewWithoutAWindowFailsAtOnce) {
  Program program({"/p"}, environment("offscreen"));
  ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
  EXPECT_TRUE(program.exitedWith(1)) << program.errors();
  EXPECT_NE(program.errors().find("could not be created"), std::string::npos) << program.errors();
}

TEST(EndToEnd, HelpPrintsTheUsageAndEnds) {
  for (const char* word : {"--help", "-h", "/?"}) {
    SCOPED_TRACE(word);
    Program program({word}, environment("offscreen"));
    ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
    EXPECT_TRUE(program.exitedWith(0)) << program.errors();
    EXPECT_NE(program.errors().find("usage: aquaveil"), std::string::npos) << program.errors();
    EXPECT_EQ(program.framesRendered(), -1) << program.errors();  // no saver ran
  }
}

TEST(EndToEnd, CtrlCEndsEverySaverModeCleanly) {
  for (const char* mode : {"/s", "/t"}) {
    SCOPED_TRACE(mode);
    Program program({mode}, environment("offscreen"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_FALSE(program.waitForEnd(0)) << program.errors();
    kill(program.pid(), SIGINT);
    ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
    EXPECT_TRUE(program.exitedWith(0)) << program.errors();
    EXPECT_GT(program.framesRendered(), 0) << program.errors();
  }
}

TEST(EndToEnd, PreviewTakesAHexadecimalWindowIdAndNamesBadOnes) {
  REQUIRE_X11(x);
  DisplayLock lock;
  const unsigned long parent = x.createWindow(320, 240);
  char id[32];
  std::snprintf(id, sizeof id, "0x%lx", parent);
  {
    Program program({"/p", id}, environment("x11"));
    const auto inside = waitForWindows(x, parent, program.pid(), false, 30);
    ASSERT_EQ(inside.size(), 1u) << program.errors();
    EXPECT_EQ(inside[0].width, 320);
    EXPECT_EQ(inside[0].height, 240);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    program.terminate();
    ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
    EXPECT_TRUE(program.exitedWith(0)) << program.errors();
    EXPECT_GT(program.framesRendered(), 0) << program.errors();
  }
  x.destroyWindow(parent);
  // The same id once the window is gone, and an id that is no number.
  struct Case {
    std::string arg, said;
  } cases[] = {{id, std::string("no window ") + id}, {"abc", "invalid window id 'abc'"}};
  for (const Case& c : cases) {
    Program program({"/p", c.arg}, environment("x11"));
    ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
    EXPECT_TRUE(program.exitedWith(1)) << program.errors();
    EXPECT_NE(program.errors().find(c.said), std::string::npos) << program.errors();
  }
}
