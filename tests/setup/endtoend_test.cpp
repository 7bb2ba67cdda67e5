// The installer the build makes, run as a user would in a fresh home:
// install unattended, start the installed screen saver on the X display,
// uninstall, and look at what is left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "pack/pack.h"
#include "tests/common/testenv.h"

namespace fs = std::filesystem;

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

// A started program with its output in files.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const Env& env, const std::string& cwd, const std::string& outDir) {
    out_ = outDir + "/stdout.txt";
    err_ = outDir + "/stderr.txt";
    pid_ = fork();
    if (pid_ == 0) {
      for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
      const int o = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o < 0 || e < 0 || chdir(cwd.c_str()) != 0) _exit(126);
      dup2(o, 1);
      dup2(e, 2);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
    }
  }
  pid_t pid() const { return pid_; }
  bool wait(int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) return ended_ = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  bool running() { return !ended_ && waitpid(pid_, &status_, WNOHANG) == 0; }
  int exitCode() const { return ended_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
  std::string out() const { return testenv::readFile(out_); }
  std::string err() const { return testenv::readFile(err_); }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  std::string out_, err_;
};

std::vector<std::string> listTree(const std::string& dir) {
  std::vector<std::string> out;
  if (!fs::exists(dir)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) out.push_back(e.path().lexically_relative(dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

bool fileHolds(const std::string& path, const std::string& text) {
  return testenv::readFile(path).find(text) != std::string::npos;
}

// Every line of a progress output is "<word> progress N%", N never falls,
// and the last is 100 %.
void expectProgressLines(const std::string& out, const std::string& word) {
  std::istringstream in(out);
  std::string line;
  int last = -1, lines = 0;
  while (std::getline(in, line)) {
    int n = -1;
    char rest[8] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), (word + " progress %d%1s").c_str(), &n, rest), 2) << line;
    EXPECT_STREQ(rest, "%");
    EXPECT_GT(n, last) << out;
    last = n;
    ++lines;
  }
  EXPECT_EQ(last, 100) << out;
  EXPECT_GE(lines, 2);
}

// The X display is taken one test at a time by every end-to-end test.
class DisplayLock {
 public:
  DisplayLock() {
    fd_ = open(LM_DISPLAY_LOCK, O_RDWR | O_CREAT, 0644);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~DisplayLock() {
    if (fd_ >= 0) close(fd_);
  }

 private:
  int fd_ = -1;
};

TEST(SetupEndToEndTest, InstallRunUninstallInAFreshHome) {
  const std::string root = testenv::freshDir("e2e");
  const std::string home = root + "/home";
  fs::create_directories(home + "/Desktop");
  fs::create_directories(root + "/tmp");
  fs::create_directories(root + "/cache");
  const Env env = {{"HOME", home},
                   {"XDG_CONFIG_HOME", home + "/.config"},
                   {"XDG_DATA_HOME", home + "/.local/share"},
                   {"XDG_CACHE_HOME", root + "/cache"},
                   {"LUMENMERE_REGISTRY", root + "/registry.reg"},
                   {"LUMENMERE_INSTALL_SCOPE", "user"},
                   {"LUMENMERE_SYSTEM_ROOT", root + "/system"},
                   {"TMPDIR", root + "/tmp"}};
  const std::string games = root + "/games";
  const std::string dir = games + "/Lumenmere";

  // Install.
  {
    Child setup({LM_INSTALLER_PATH, "--unattended", "--target", games}, env, root, testenv::freshDir("setup-run"));
    ASSERT_TRUE(setup.wait(120));
    ASSERT_EQ(setup.exitCode(), 0) << setup.err();
    expectProgressLines(setup.out(), "Install");
  }
  Pack installer;
  ASSERT_GT(installer.open(LM_INSTALLER_PATH), 0);
  const bool carriesBoat = installer.findMember("boat.tga") >= 0;
  std::vector<std::string> expected = {"Lumenmere.exe", "Try Lumenmere.desktop", "Uninstall.exe", "installparam.txt",
                                       "license.txt"};
  if (carriesBoat) expected.push_back("boat.tga");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listTree(dir), expected);
  EXPECT_EQ(testenv::readFile(dir + "/license.txt"), testenv::readFile(LM_SOURCE_DIR "/LICENSE"));
  const std::string scr = home + "/.local/lib/screensavers/Lumenmere.scr";
  EXPECT_EQ(access(scr.c_str(), X_OK), 0);
  const std::string menuEntry = home + "/.local/share/applications/Lumenmere/Lumenmere settings.desktop";
  const std::string desktopEntry = home + "/Desktop/Lumenmere.desktop";
  EXPECT_TRUE(fileHolds(menuEntry, "Exec=" + dir + "/Lumenmere.exe /c\n"));
  EXPECT_TRUE(fileHolds(desktopEntry, "Exec=" + dir + "/Lumenmere.exe /s\n"));
  EXPECT_TRUE(fileHolds(dir + "/Try Lumenmere.desktop", "Exec=" + dir + "/Lumenmere.exe /t\n"));
  if (access("/usr/bin/desktop-file-validate", X_OK) == 0) {
    const std::string cmd =
        "/usr/bin/desktop-file-validate '" + menuEntry + "' '" + desktopEntry + "' '" + dir + "/Try Lumenmere.desktop'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  const std::string registry = testenv::readFile(root + "/registry.reg");
  EXPECT_NE(registry.find("[HKEY_CURRENT_USER\\Software\\Tessolar\\Lumenmere]\n\"installdir\"=\"" + dir + "\""),
            std::string::npos)
      << registry;
  EXPECT_NE(registry.find("\"version\"=hex:"), std::string::npos);
  EXPECT_NE(registry.find("\"UninstallString\"=\"\\\"" + dir + "/Uninstall.exe\\\" /uninstall\""), std::string::npos)
      << registry;
  EXPECT_NE(registry.find("\"SCRNSAVE.EXE\"=\"" + scr + "\""), std::string::npos);

  // The installed screen saver starts on the display, in its install
  // directory, where its boat picture is.
  const bool saverRuns = std::getenv("DISPLAY") != nullptr;
  if (!saverRuns) {
    if (testenv::required(testenv::Need::display))
      ADD_FAILURE() << "no X display (required here)";
    else
      std::fprintf(stderr, "no X display: the installed saver is not started\n");
  } else {
    DisplayLock lock;
    Env saverEnv = env;
    saverEnv.push_back({"SDL_VIDEODRIVER", "x11"});
    saverEnv.push_back({"LIBGL_ALWAYS_SOFTWARE", "1"});
    saverEnv.push_back({"LUMENMERE_FRAME_REPORT", "1"});
    // The leak check stops the process's threads the way a tracer does,
    // which it can't do under strace; the saver's own tests check leaks.
    saverEnv.push_back({"ASAN_OPTIONS", "detect_leaks=0"});
    const std::string trace = root + "/saver-files.txt";
    // The boat sails (and its picture is read) only with its settings bit on.
    ASSERT_EQ(
        std::system((std::string(LM_AQSETTINGS_PATH) + " set '" + dir + "/Lumenmere.ini' water.waterFlags=3").c_str()),
        0);
    std::vector<std::string> argv = {dir + "/Lumenmere.exe", "/t"};
    if (access("/usr/bin/strace", X_OK) == 0)
      argv.insert(argv.begin(), {"/usr/bin/strace", "-f", "-qq", "-e", "trace=openat,chdir", "-o", trace});
    Child saver(argv, saverEnv, root, testenv::freshDir("saver-run"));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_TRUE(saver.running()) << saver.err();
    // Under strace the saver is strace's child.
    pid_t pid = saver.pid();
    if (argv[0] != dir + "/Lumenmere.exe") {
      const std::string children =
          testenv::readFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
      pid = static_cast<pid_t>(std::atol(children.c_str()));
      ASSERT_GT(pid, 0);
    }
    char cwd[4096] = {};
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/cwd").c_str(), cwd, sizeof cwd - 1);
    EXPECT_EQ(std::string(cwd, n > 0 ? static_cast<size_t>(n) : 0), dir);
    kill(pid, SIGTERM);
    ASSERT_TRUE(saver.wait(20)) << saver.err();
    EXPECT_EQ(saver.exitCode(), 0) << saver.err();
    EXPECT_NE(saver.err().find("frames rendered"), std::string::npos) << saver.err();
    const std::string opened = testenv::readFile(trace);
    if (!opened.empty()) {
      // It settles in the install directory (the registry's installdir).
      EXPECT_NE(opened.find("chdir(\"" + dir + "\") = 0"), std::string::npos) << opened;
      // Once the water scene draws the boat, the saver reads boat.tga; it
      // must find it there, never fail to.
      const bool readsBoat = fileHolds(dir + "/Lumenmere.exe", "boat.tga");
      if (readsBoat && carriesBoat) {
        bool openedBoat = false, missedBoat = false;
        std::istringstream lines(opened);
        for (std::string line; std::getline(lines, line);) {
          if (line.find("boat.tga\", O_RDONLY") == std::string::npos) continue;
          (line.find(" = -1") != std::string::npos ? missedBoat : openedBoat) = true;
        }
        EXPECT_TRUE(openedBoat) << "the saver never opened boat.tga";
        EXPECT_FALSE(missedBoat) << "boat.tga not found where it was looked for first";
      }
    }
  }

  // The user keeps a file of their own in the install directory.
  ASSERT_TRUE(testenv::writeFile(dir + "/my notes.txt", "mine"));

  // Uninstall.
  {
    Child uninstall({dir + "/Uninstall.exe", "--unattended", "/uninstall"}, env, root,
                    testenv::freshDir("uninstall-run"));
    ASSERT_TRUE(uninstall.wait(120));
    ASSERT_EQ(uninstall.exitCode(), 0) << uninstall.err();
    expectProgressLines(uninstall.out(), "Uninstall");
  }
  // What the user put there stays: their notes and the settings written for the run.
  if (saverRuns)
    EXPECT_EQ(listTree(games),
              (std::vector<std::string>{"Lumenmere", "Lumenmere/Lumenmere.ini", "Lumenmere/my notes.txt"}));
  else
    EXPECT_EQ(listTree(games), (std::vector<std::string>{"Lumenmere", "Lumenmere/my notes.txt"}));
  EXPECT_EQ(listTree(home), (std::vector<std::string>{"Desktop"}));
  EXPECT_EQ(listTree(root + "/tmp"), std::vector<std::string>{});  // the second stage removed itself
  EXPECT_EQ(listTree(root + "/system"), std::vector<std::string>{});
  const std::string after = testenv::readFile(root + "/registry.reg");
  EXPECT_EQ(after.find("Lumenmere"), std::string::npos) << after;
}

TEST(SetupEndToEndTest, UninstallerWithoutItsKeywordDoesNothing) {
  const std::string root = testenv::freshDir("plain-uninstaller");
  const Env env = {{"HOME", root},
                   {"LUMENMERE_REGISTRY", root + "/registry.reg"},
                   {"LUMENMERE_INSTALL_SCOPE", "user"},
                   {"TMPDIR", root}};
  Child setup({LM_INSTALLER_PATH, "--unattended", "--no-default", "--target", root + "/games"}, env, root,
              testenv::freshDir("run"));
  ASSERT_TRUE(setup.wait(120));
  ASSERT_EQ(setup.exitCode(), 0) << setup.err();
  // --no-default: installed, but not made the default screen saver.
  EXPECT_NE(testenv::readFile(root + "/registry.reg").find("\"installdir\""), std::string::npos);
  EXPECT_EQ(testenv::readFile(root + "/registry.reg").find("SCRNSAVE.EXE"), std::string::npos);
  const auto before = listTree(root);
  Child plain({root + "/games/Lumenmere/Uninstall.exe", "--unattended"}, env, root, testenv::freshDir("run"));
  ASSERT_TRUE(plain.wait(30));
  EXPECT_NE(plain.exitCode(), 0);
  EXPECT_NE(plain.err().find("/uninstall"), std::string::npos) << plain.err();
  EXPECT_EQ(listTree(root), before);
  // The plain program without a product carries nothing to install.
  Child bare({LM_SETUP_PATH, "--unattended"}, env, root, testenv::freshDir("run"));
  ASSERT_TRUE(bare.wait(30));
  EXPECT_NE(bare.exitCode(), 0);
  EXPECT_NE(bare.err().find("no product"), std::string::npos) << bare.err();
}

}  // namespace

namespace {

// The pages on the X display, driven through the accessibility interface
// as a user would: licence -> I agree -> Next -> the folder -> Install ->
// Finish.  Pictures of each page land in build/screenshots/setup.
TEST(SetupPagesTest, InstallThroughThePagesByAccessibility) {
  if (!std::getenv("DISPLAY")) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no X display (run under xvfb-run)");
  if (access("/usr/bin/dbus-run-session", X_OK) != 0 ||
      std::system("/usr/bin/python3 -c 'import pyatspi' 2>/dev/null") != 0)
    LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no AT-SPI tools (dbus-run-session, python3-pyatspi)");
  DisplayLock lock;
  const std::string root = testenv::freshDir("pages");
  const std::string home = root + "/home";
  fs::create_directories(home + "/Desktop");
  const std::string shots = std::string(LM_SCREENSHOT_DIR) + "/setup";
  fs::create_directories(shots);
  const Env env = {{"HOME", home},
                   {"XDG_CONFIG_HOME", home + "/.config"},
                   {"XDG_DATA_HOME", home + "/.local/share"},
                   {"XDG_CACHE_HOME", root + "/cache"},
                   {"LUMENMERE_REGISTRY", root + "/registry.reg"},
                   {"LUMENMERE_INSTALL_SCOPE", "user"},
                   {"LUMENMERE_SYSTEM_ROOT", root + "/system"},
                   {"LUMENMERE_SETUP_SCREENSHOTS", shots},
                   {"TMPDIR", root + "/tmp"}};
  fs::create_directories(root + "/tmp");
  Child driver({"/usr/bin/dbus-run-session", "--", "/usr/bin/python3", LM_PAGES_SCRIPT, LM_INSTALLER_PATH,
                root + "/games", shots},
               env, root, testenv::freshDir("driver"));
  ASSERT_TRUE(driver.wait(180)) << driver.out();
  ASSERT_EQ(driver.exitCode(), 0) << driver.out() << driver.err();
  EXPECT_NE(driver.out().find("drive_pages: done"), std::string::npos) << driver.out();

  // Installed as the pages said: the folder typed, the desktop icon, the
  // default screen saver.
  const std::string dir = root + "/games/Lumenmere";
  EXPECT_EQ(access((dir + "/Uninstall.exe").c_str(), X_OK), 0);
  EXPECT_EQ(access((dir + "/Lumenmere.exe").c_str(), X_OK), 0);
  EXPECT_TRUE(fs::exists(home + "/Desktop/Lumenmere.desktop"));
  EXPECT_NE(testenv::readFile(root + "/registry.reg").find("SCRNSAVE.EXE"), std::string::npos);
  for (const char* page : {"page-102.png", "page-103.png", "page-104.png"})
    EXPECT_TRUE(fs::exists(shots + "/" + page)) << page;

  Child uninstall({dir + "/Uninstall.exe", "--unattended", "/uninstall"}, env, root, testenv::freshDir("run"));
  ASSERT_TRUE(uninstall.wait(60));
  EXPECT_EQ(uninstall.exitCode(), 0) << uninstall.err();
  EXPECT_FALSE(fs::exists(dir));
}

}  // namespace
