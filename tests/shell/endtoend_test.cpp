// The real program, started as the system starts a screen saver, driven
// through real X11 events.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/files.h"
#include "platform/registry.h"
#include "source/config.h"
#include "tests/common/testenv.h"
#include "tests/scene/scenetest.h"
#include "tools/aqrender/pngfile.h"
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
  // second frame; a frame of water takes a while on a software renderer).
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
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
  // Long enough for the first frames of water on a busy software renderer
  // (a sanitizer build draws its first frame in about a second).
  std::this_thread::sleep_for(std::chrono::milliseconds(4000));
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

// ---- the water on screen ------------------------------------------------------

namespace {

// Four coloured quarters: a desktop that is easy to recognise.
uint32_t desktopColour(int x, int y, int width, int height) {
  const bool right = x >= width / 2, bottom = y >= height / 2;
  if (!right && !bottom) return 0xC83C3C;
  if (right && !bottom) return 0x3CA0DC;
  if (!right && bottom) return 0xF0C83C;
  return 0x50B45A;
}

std::vector<uint32_t> desktopPattern(int width, int height) {
  std::vector<uint32_t> p(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p[static_cast<size_t>(y) * width + x] = desktopColour(x, y, width, height);
  return p;
}

// The mean colour of a square around (x, y).
uint32_t meanAround(const std::vector<uint32_t>& shot, int width, int x, int y, int radius = 6) {
  long r = 0, g = 0, b = 0, n = 0;
  for (int j = y - radius; j <= y + radius; ++j)
    for (int i = x - radius; i <= x + radius; ++i) {
      const uint32_t p = shot[static_cast<size_t>(j) * width + i];
      r += (p >> 16) & 0xFF;
      g += (p >> 8) & 0xFF;
      b += p & 0xFF;
      ++n;
    }
  return static_cast<uint32_t>(((r / n) << 16) | ((g / n) << 8) | (b / n));
}

bool looksLike(uint32_t a, uint32_t b, int tolerance) {
  for (int shift : {16, 8, 0})
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
      return false;
  return true;
}

std::string hexColour(uint32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "#%06X", c & 0xFFFFFF);
  return text;
}

// Keeps a screenshot as a PNG file when LM_KEEP_SCREENSHOTS names a
// directory (to look at what the test saw).
void keepScreenshot(const std::vector<uint32_t>& shot, int width, int height, const std::string& name) {
  const char* dir = std::getenv("LM_KEEP_SCREENSHOTS");
  if (!dir || !*dir) return;
  std::vector<uint32_t> pixels(shot);
  writePng(std::string(dir) + "/" + name + ".png", pixels, width, height);
}

// Writes the settings into a fresh directory and makes it the installed
// directory, where the program reads Lumenmere.ini.
void useSettings(Config& config) {
  const std::string dir = testenv::freshDir("settings");
  const std::vector<uint8_t> bytes = config.serialize();
  ASSERT_TRUE(testenv::writeFile(dir + "/" + Config::kSettingsFileName, std::string(bytes.begin(), bytes.end())));
  HKEY key = 0;
  ASSERT_EQ(platform::RegCreateKeyExA(HKEY_CURRENT_USER, Config::kProductKey, &key), ERROR_SUCCESS);
  platform::RegSetValueExA(key, "installdir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                           static_cast<DWORD>(dir.size() + 1));
  platform::RegCloseKey(key);
}

}  // namespace

TEST(EndToEnd, TestModeShowsTheDesktopUnderTheWaterAndAClickRevealsThePicture) {
  REQUIRE_X11(x);
  DisplayLock lock;
  const int w = x.screenWidth(), h = x.screenHeight();

  // The image list names one picture: magenta with dark stripes.
  const std::string dir = testenv::freshDir("pictures");
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int py = 0; py < h; ++py)
    for (int px = 0; px < w; ++px) {
      uint8_t* p = &rgb[(static_cast<size_t>(py) * w + px) * 3];
      const bool stripe = (px / 40) % 4 == 0;
      p[0] = stripe ? 120 : 220;
      p[1] = stripe ? 20 : 40;
      p[2] = stripe ? 110 : 200;
    }
  const std::string picture = dir + "/magenta.bmp";
  ASSERT_TRUE(testenv::writeFile(picture, scenetest::bitmapBytes(w, h, rgb)));
  Config config;
  config.images.clearLists();
  config.images.fileList.append(picture);
  config.images.playMode = ConfigFileList::kFileList;
  config.images.randomizeOrder = 0;
  config.mp3.listEnabled = 0;
  useSettings(config);

  const unsigned long desktop = x.showPicture(w, h, desktopPattern(w, h));
  Program program({"/t"}, environment("x11"));
  const auto windows = waitForWindows(x, x.root(), program.pid(), true, 30);
  ASSERT_EQ(windows.size(), 1u) << program.errors();
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  // What shows now is the saver's drawing, not the stand-in desktop.
  x.destroyWindow(desktop);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  // The calm water shows the desktop as it was.
  const std::vector<uint32_t> first = x.screenshot(0, 0, w, h);
  ASSERT_EQ(first.size(), static_cast<size_t>(w) * h);
  keepScreenshot(first, w, h, "test-mode-desktop");
  for (auto [sx, sy] : std::vector<std::pair<int, int>>{
           {w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}, {w / 10, h / 2 - 20}}) {
    const uint32_t seen = meanAround(first, w, sx, sy);
    EXPECT_TRUE(looksLike(seen, desktopColour(sx, sy, w, h), 12))
        << sx << "," << sy << ": " << hexColour(seen) << " for " << hexColour(desktopColour(sx, sy, w, h));
  }

  // A click starts the cross-fade that reveals the picture around it.
  const int cx = w / 4 + 20, cy = h / 4;
  if (!x.click(cx, cy)) {
    program.terminate();
    GTEST_SKIP() << "no XTest to click with";
  }
  // The reveal spreads with the frames drawn: on a busy machine it takes
  // longer, so the test looks again every second for a while.
  std::vector<uint32_t> second;
  int magenta = 0, checked = 0;
  const auto until = Clock::now() + std::chrono::seconds(40);
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    second = x.screenshot(0, 0, w, h);
    magenta = checked = 0;
    for (int dy = -12; dy <= 12; dy += 4)
      for (int dx = -12; dx <= 12; dx += 4) {
        const uint32_t p = second[static_cast<size_t>(cy + dy) * w + cx + dx];
        ++checked;
        if (looksLike(p, 0xDC28C8, 40) || looksLike(p, 0x781462, 40)) ++magenta;
      }
  } while (magenta < checked * 3 / 4 && Clock::now() < until);
  keepScreenshot(second, w, h, "test-mode-after-click");
  EXPECT_GE(magenta, checked * 3 / 4) << hexColour(meanAround(second, w, cx, cy));
  // Far from the click the desktop is still there.
  EXPECT_TRUE(looksLike(meanAround(second, w, 3 * w / 4, 3 * h / 4), desktopColour(3 * w / 4, 3 * h / 4, w, h), 12))
      << hexColour(meanAround(second, w, 3 * w / 4, 3 * h / 4));

  x.typeKey(windows[0].id, "Escape");
  ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
  EXPECT_TRUE(program.exitedWith(0)) << program.errors();
}

TEST(EndToEnd, FullModeShowsTheDesktopThatWasThere) {
  REQUIRE_X11(x);
  DisplayLock lock;
  const int w = x.screenWidth(), h = x.screenHeight();
  Config config;
  config.images.listEnabled = 0;
  config.mp3.listEnabled = 0;
  useSettings(config);
  const unsigned long desktop = x.showPicture(w, h, desktopPattern(w, h));
  Program program({"/s"}, environment("x11"));
  const auto windows = waitForWindows(x, x.root(), program.pid(), true, 30);
  ASSERT_EQ(windows.size(), 1u) << program.errors();
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  x.destroyWindow(desktop);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::vector<uint32_t> shot = x.screenshot(0, 0, w, h);
  ASSERT_EQ(shot.size(), static_cast<size_t>(w) * h);
  keepScreenshot(shot, w, h, "full-mode-desktop");
  for (auto [sx, sy] : std::vector<std::pair<int, int>>{
           {w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}}) {
    const uint32_t seen = meanAround(shot, w, sx, sy);
    EXPECT_TRUE(looksLike(seen, desktopColour(sx, sy, w, h), 12))
        << sx << "," << sy << ": " << hexColour(seen) << " for " << hexColour(desktopColour(sx, sy, w, h));
  }
  x.typeKey(windows[0].id, "a");
  ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
  EXPECT_TRUE(program.exitedWith(0)) << program.errors();
}

TEST(EndToEnd, MusicPlaysWhileTheSaverRunsAndStopsWithIt) {
  const std::string song = testenv::dataDir() + "/player/hecommon.mp3";
  ASSERT_FALSE(testenv::readFile(song).empty());
  Config config;
  config.images.listEnabled = 0;
  config.mp3.clearLists();
  config.mp3.fileList.append(song);
  config.mp3.playMode = ConfigFileList::kFileList;
  config.mp3.randomizeOrder = 0;
  config.mp3.listEnabled = 1;
  useSettings(config);
  const std::string sound = testenv::freshDir("sound") + "/heard.raw";
  auto env = environment("offscreen");
  env.push_back({"SDL_AUDIODRIVER", "disk"});
  env.push_back({"SDL_DISKAUDIOFILE", sound});
  Program program({"/t"}, env);
  std::this_thread::sleep_for(std::chrono::milliseconds(4000));
  ASSERT_FALSE(program.waitForEnd(0)) << program.errors();
  const std::string heard = testenv::readFile(sound);
  ASSERT_GT(heard.size(), 44100u) << program.errors();
  size_t loud = 0;
  for (size_t i = 0; i + 1 < heard.size(); i += 2) {
    const int16_t sample =
        static_cast<int16_t>(static_cast<uint8_t>(heard[i]) | (static_cast<uint8_t>(heard[i + 1]) << 8));
    if (sample > 1000 || sample < -1000) ++loud;
  }
  EXPECT_GT(loud, 1000u) << "the song is not in what was played";
  // The saver ends, and its music with it.
  program.terminate();
  ASSERT_TRUE(program.waitForEnd(30)) << program.errors();
  EXPECT_TRUE(program.exitedWith(0)) << program.errors();
  const size_t atEnd = testenv::readFile(sound).size();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(testenv::readFile(sound).size(), atEnd);
}
