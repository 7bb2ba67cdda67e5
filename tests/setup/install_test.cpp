// The install worker, the uninstaller it writes and the replay, run in
// process on containers made for each test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "pack/pack.h"
#include "pack/packwriter.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "setup/installer.h"
#include "setup/shortcuts.h"
#include "tests/common/testenv.h"
#include "tests/pack/packbytes.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kParams =
    "Title:Lumenmere\r\nversion:1.0\r\nscreensaver:1\r\nsetscreensaver:1\r\n"
    "workshortcut:$%appexe%$Try %Title%$Show it$ /t$\r\n"
    "startmenu:$%appexe%$%Title% settings$Settings$ /c$\r\n"
    "desktopicon:$%appexe%$%app%$Start %Title%$ /s$\r\n";
constexpr const char* kProgram = "#!/bin/sh\nexit 0\n";
constexpr const char* kFakeSetup = "this stands for the setup program's own bytes\n";

std::string readRegistryString(HKEY root, const std::string& key, const char* name) {
  HKEY k = 0;
  if (platform::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<no key>";
  char buf[1024] = {};
  DWORD size = sizeof buf - 1, type = 0;
  const LONG r = platform::RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  platform::RegCloseKey(k);
  return r == ERROR_SUCCESS ? std::string(buf) : "<no value>";
}

bool keyExists(HKEY root, const std::string& key) {
  HKEY k = 0;
  if (platform::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  platform::RegCloseKey(k);
  return true;
}

bool exists(const std::string& p) { return access(p.c_str(), F_OK) == 0; }

std::vector<std::string> listTree(const std::string& dir) {
  std::vector<std::string> out;
  if (!fs::exists(dir)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) out.push_back(e.path().lexically_relative(dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

// A product tree, packed behind some program bytes as an installer would be.
class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = testenv::freshDir("install");
    const std::string product = base_ + "/src/Lumenmere";
    fs::create_directories(product + "/docs/empty");
    testenv::writeFile(product + "/Lumenmere.exe", kProgram);
    testenv::writeFile(product + "/boat.tga", std::string(300000, 'b'));
    testenv::writeFile(product + "/installparam.txt", kParams);
    testenv::writeFile(product + "/license.txt", "the licence");
    testenv::writeFile(product + "/docs/readme.txt", "read me");
    makeInstaller(product);

    places_.installBase = base_ + "/programs";
    places_.screensaverDirectory = base_ + "/home/.local/lib/screensavers";
    places_.startMenuPrograms = base_ + "/home/.local/share/applications";
    places_.desktopDirectory = base_ + "/home/Desktop";
    places_.temporaryBase = base_ + "/tmp";
    places_.lockerConfiguration = base_ + "/home/.xscreensaver";
    fs::create_directories(places_.desktopDirectory);
  }

  void makeInstaller(const std::string& product) {
    PackTreeWriter writer;
    ASSERT_TRUE(writer.build(product)) << writer.error();
    ASSERT_TRUE(writer.write(base_ + "/payload.pck"));
    installer_ = base_ + "/setup-with-payload";
    ASSERT_TRUE(testenv::writeFile(installer_, kFakeSetup + testenv::readFile(base_ + "/payload.pck")));
    ASSERT_GT(pack_.open(installer_), 0);
    params_ = InstallParams();
    params_.load(pack_);
  }

  WorkReport install(const std::string& target, std::string* dir = nullptr) {
    params_.installDir = target;
    InstallJob job;
    job.params = &params_;
    job.pack = &pack_;
    job.places = places_;
    job.ownPath = installer_;
    ProgressValue progress;
    WorkReport r = installWorker(job, progress, dir);
    lastProgress_ = progress.read();
    return r;
  }

  std::string base_, installer_;
  Pack pack_;
  InstallParams params_;
  Places places_;
  int lastProgress_ = 0;
};

TEST_F(InstallTest, InstallDirectoryRule) {
  const struct {
    const char* chosen;
    const char* dir;
  } cases[] = {
      {"/games", "/games/Lumenmere"},
      {"/games/", "/games/Lumenmere"},
      {"/games/Lumenmere", "/games/Lumenmere"},
      {"/games/LUMENMERE", "/games/LUMENMERE"},
      {"/games/lumenmere/", "/games/lumenmere"},
      {"/games/x/../Lumenmere", "/games/Lumenmere"},
      {"/", "/Lumenmere"},
  };
  for (const auto& c : cases) EXPECT_EQ(installDirectoryFor(c.chosen, "Lumenmere"), c.dir) << c.chosen;
  // A relative choice is taken from the current directory and made plain,
  // so that the log never holds a path the uninstaller would pass over.
  const std::string rel = installDirectoryFor("../games", "Lumenmere");
  EXPECT_TRUE(plainAbsolutePath(rel)) << rel;
  EXPECT_EQ(rel, fs::path(platform::currentDirectory()).parent_path().string() + "/games/Lumenmere");
}

TEST_F(InstallTest, ProposedDirectoryComesFromTheRegistryElseTheInstallBase) {
  EXPECT_EQ(proposedInstallDirectory("Lumenmere", places_), places_.installBase + "/Lumenmere");
  writeInstallRegistry("Lumenmere", "Lumenmere 1.0", 10, "/somewhere/Lumenmere");
  EXPECT_EQ(proposedInstallDirectory("Lumenmere", places_), "/somewhere/Lumenmere");
  removeInstallRegistry("Lumenmere");
}

TEST_F(InstallTest, InstallsTheTreeShortcutsRegistryAndUninstaller) {
  std::string dir;
  const WorkReport r = install(base_ + "/games", &dir);
  EXPECT_TRUE(r.ok()) << (r.problems.empty() ? "" : r.problems[0]);
  EXPECT_EQ(lastProgress_, 110);
  EXPECT_EQ(dir, base_ + "/games/Lumenmere");

  EXPECT_EQ(listTree(dir),
            (std::vector<std::string>{"Lumenmere.exe", "Try Lumenmere.desktop", "Uninstall.exe", "boat.tga", "docs",
                                      "docs/empty", "docs/readme.txt", "installparam.txt", "license.txt"}));
  EXPECT_EQ(testenv::readFile(dir + "/boat.tga"), std::string(300000, 'b'));
  // Programs are executable; other files are not.
  EXPECT_EQ(access((dir + "/Lumenmere.exe").c_str(), X_OK), 0);
  EXPECT_NE(access((dir + "/license.txt").c_str(), X_OK), 0);
  const std::string scr = places_.screensaverDirectory + "/Lumenmere.scr";
  EXPECT_EQ(testenv::readFile(scr), kProgram);
  EXPECT_EQ(access(scr.c_str(), X_OK), 0);
  EXPECT_TRUE(exists(places_.startMenuPrograms + "/Lumenmere/Lumenmere settings.desktop"));
  const std::string icon = testenv::readFile(places_.desktopDirectory + "/Lumenmere.desktop");
  EXPECT_NE(icon.find("Exec=" + dir + "/Lumenmere.exe /s\n"), std::string::npos) << icon;
  EXPECT_NE(icon.find("Comment=Start Lumenmere\n"), std::string::npos) << icon;

  EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere", "installdir"), dir);
  HKEY k = 0;
  ASSERT_EQ(platform::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere", 0, KEY_READ, &k),
            ERROR_SUCCESS);
  uint8_t version[8] = {};
  DWORD size = sizeof version, type = 0;
  EXPECT_EQ(platform::RegQueryValueExA(k, "version", nullptr, &type, version, &size), ERROR_SUCCESS);
  platform::RegCloseKey(k);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(platform::readLe32(version), 10u);
  const std::string uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumenmere";
  EXPECT_EQ(readRegistryString(HKEY_LOCAL_MACHINE, uninstallKey, "DisplayName"), "Lumenmere 1.0");
  EXPECT_EQ(readRegistryString(HKEY_LOCAL_MACHINE, uninstallKey, "UninstallString"),
            "\"" + dir + "/Uninstall.exe\" /uninstall");
  // The default screen saver.
  EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, kDesktopKey, kScreenSaverValue), scr);
  removeInstallRegistry("Lumenmere");
}

TEST_F(InstallTest, UninstallerLayout) {
  std::string dir;
  ASSERT_TRUE(install(base_ + "/games", &dir).ok());
  const std::string uninstaller = dir + "/Uninstall.exe";
  const std::string bytes = testenv::readFile(uninstaller);
  // The program bytes, not the installer's payload.
  ASSERT_EQ(bytes.compare(0, std::strlen(kFakeSetup), kFakeSetup), 0);
  EXPECT_EQ(bytes.substr(std::strlen(kFakeSetup), 24), packtest::signature());
  EXPECT_EQ(access(uninstaller.c_str(), X_OK), 0);

  Pack p;
  ASSERT_EQ(p.open(uninstaller), 1);
  EXPECT_EQ(p.signatureOffset(), std::strlen(kFakeSetup));
  EXPECT_EQ(p.totalLength(), bytes.size());  // the whole file
  EXPECT_EQ(p.reserved40(), 1u);
  EXPECT_EQ(p.entries()[0].checksum, 0u);
  EXPECT_EQ(p.entries()[0].offset, 0u);
  ASSERT_GE(p.findMember("install.log"), 0);
  std::string log;
  ASSERT_EQ(p.load("install.log", log), kPackLoadFromPack);
  EXPECT_EQ(bytes.size(), std::strlen(kFakeSetup) + 44 + 96 + log.size());
  EXPECT_EQ(log.rfind("Title:Lumenmere\r\nversion:1.0\r\n", 0), 0u) << log;
  // Its last line names the uninstaller itself.
  const std::string last = "Copyfile:" + uninstaller + "\r\n";
  ASSERT_GE(log.size(), last.size());
  EXPECT_EQ(log.substr(log.size() - last.size()), last);
  // Directories before what they hold; every made directory is logged.
  EXPECT_LT(log.find("Makedir:" + base_ + "/games\r\n"), log.find("Makedir:" + dir + "\r\n"));
  EXPECT_LT(log.find("Makedir:" + dir + "/docs\r\n"), log.find("Copyfile:" + dir + "/docs/readme.txt\r\n"));
  EXPECT_NE(log.find("Makedir:" + dir + "/docs/empty\r\n"), std::string::npos);
  EXPECT_NE(log.find("Copyfile:" + places_.screensaverDirectory + "/Lumenmere.scr\r\n"), std::string::npos);
  // The uninstaller counts as one: its parameters come from the log.
  InstallParams up;
  ASSERT_TRUE(up.load(p));
  EXPECT_TRUE(up.uninstaller);
  EXPECT_EQ(up.title, "Lumenmere");
  EXPECT_EQ(up.caption(), "Lumenmere 1.0");
  removeInstallRegistry("Lumenmere");
}

TEST_F(InstallTest, UninstallRemovesExactlyWhatWasInstalled) {
  const std::string xscreensaver =
      "mode:\t\trandom\nselected:\t1\nprograms:\t\\\n  maze -root \\n\\\n  rocks -root \\n\\\n\n";
  testenv::writeFile(places_.lockerConfiguration, xscreensaver);
  fs::create_directories(base_ + "/games");  // was there before
  std::string dir;
  ASSERT_TRUE(install(base_ + "/games", &dir).ok());
  EXPECT_NE(testenv::readFile(places_.lockerConfiguration).find("Lumenmere.scr /s"), std::string::npos);
  // The user adds a file to a directory the installation made.
  testenv::writeFile(dir + "/docs/mine.txt", "mine");
  // The screen saver made its own settings key below the product's.
  HKEY k = 0;
  ASSERT_EQ(platform::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere\\Screen 1\\Deeper", &k),
            ERROR_SUCCESS);
  platform::RegCloseKey(k);

  Pack p;
  ASSERT_EQ(p.open(dir + "/Uninstall.exe"), 1);
  InstallParams up;
  ASSERT_TRUE(up.load(p));
  ProgressValue progress;
  const WorkReport r = uninstallWorker(up, places_, progress);
  EXPECT_TRUE(r.ok()) << (r.problems.empty() ? "" : r.problems[0]);
  EXPECT_EQ(progress.read(), 110);

  // The filled directory stays with the user's file, and so do the
  // directories above it; everything else is gone.
  EXPECT_EQ(listTree(base_ + "/games"),
            (std::vector<std::string>{"Lumenmere", "Lumenmere/docs", "Lumenmere/docs/mine.txt"}));
  EXPECT_EQ(listTree(base_ + "/home"), (std::vector<std::string>{".xscreensaver", "Desktop"}));
  EXPECT_EQ(testenv::readFile(places_.lockerConfiguration).find("Lumenmere"), std::string::npos);
  // Ours was selected: the locker goes back to picking at random.
  EXPECT_NE(testenv::readFile(places_.lockerConfiguration).find("mode:\t\trandom\n"), std::string::npos);
  EXPECT_NE(testenv::readFile(places_.lockerConfiguration).find("maze -root"), std::string::npos);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere"));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Tessolar"));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumenmere"));
  EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, kDesktopKey, kScreenSaverValue), "<no value>");
}

TEST_F(InstallTest, ALogOfOnlyTitleAndVersionRemovesNothingButTheRegistryKeys) {
  writeInstallRegistry("Lumenmere", "Lumenmere 1.0", 10, base_ + "/games/Lumenmere");
  fs::create_directories(base_ + "/games/Lumenmere");
  testenv::writeFile(base_ + "/games/Lumenmere/file", "x");
  InstallParams up;
  up.parse("Title:Lumenmere\r\nversion:1.0\r\n");
  up.uninstaller = true;
  ProgressValue progress;
  EXPECT_TRUE(uninstallWorker(up, places_, progress).ok());
  EXPECT_TRUE(exists(base_ + "/games/Lumenmere/file"));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere"));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumenmere"));
}

TEST_F(InstallTest, ReplayNeverFollowsALinkAPathNowHolds) {
  // After installing, a directory of the log was swapped for a link to
  // somewhere else: the replay must not delete through it.
  const std::string outside = testenv::freshDir("outside");
  testenv::writeFile(outside + "/a", "keep");
  fs::create_directories(base_ + "/inst");
  fs::create_directory_symlink(outside, base_ + "/inst/sub");
  const std::string log = "Title:T\r\nversion:1\r\nCopyfile:" + base_ + "/inst/sub/a\r\n";
  const WorkReport r = replayLog(log, places_);
  EXPECT_EQ(testenv::readFile(outside + "/a"), "keep");
  EXPECT_FALSE(r.ok());  // said, not silently passed
}

TEST_F(InstallTest, ReinstallingOverAnInstallationKeepsItsDirectoriesOutOfTheNewLog) {
  std::string dir;
  ASSERT_TRUE(install(base_ + "/games", &dir).ok());
  ASSERT_TRUE(install(base_ + "/games", &dir).ok());
  Pack p;
  ASSERT_EQ(p.open(dir + "/Uninstall.exe"), 1);
  std::string log;
  p.load("install.log", log);
  EXPECT_EQ(log.find("Makedir:"), std::string::npos) << log;  // nothing new was made
  EXPECT_NE(log.find("Copyfile:" + dir + "/boat.tga"), std::string::npos);
  removeInstallRegistry("Lumenmere");
}

TEST_F(InstallTest, UncheckedBoxesMakeNoDesktopIconAndNoStartMenuGroup) {
  params_.desktopIcon = false;
  params_.startMenu = false;
  params_.makeDefault = false;
  std::string dir;
  ASSERT_TRUE(install(base_ + "/games", &dir).ok());
  EXPECT_TRUE(exists(dir + "/Try Lumenmere.desktop"));
  EXPECT_FALSE(exists(places_.desktopDirectory + "/Lumenmere.desktop"));
  EXPECT_FALSE(exists(places_.startMenuPrograms));
  EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, kDesktopKey, kScreenSaverValue).find("Lumenmere"), std::string::npos);
  removeInstallRegistry("Lumenmere");
}

TEST_F(InstallTest, AChosenLeafInAnotherLetterCaseIsWhereTheFilesGo) {
  std::string dir;
  ASSERT_TRUE(install(base_ + "/games/LUMENMERE", &dir).ok());
  EXPECT_EQ(dir, base_ + "/games/LUMENMERE");
  EXPECT_TRUE(exists(dir + "/boat.tga"));
  EXPECT_TRUE(exists(dir + "/Uninstall.exe"));
  EXPECT_FALSE(exists(base_ + "/games/Lumenmere"));
  removeInstallRegistry("Lumenmere");
}

TEST_F(InstallTest, ParametersComeOnlyFromTheProgramsOwnContainer) {
  // A log lying in the current directory must not make a plain program an
  // uninstaller of whatever it names.
  const std::string cwd = platform::currentDirectory();
  const std::string dir = testenv::freshDir("stray");
  ASSERT_TRUE(platform::setCurrentDirectory(dir));
  testenv::writeFile("install.log", "Title:Lumenmere\r\nversion:1\r\nCopyfile:/precious\r\n");
  testenv::writeFile("installparam.txt", "Title:Stray\r\n");
  Pack none;
  InstallParams p;
  EXPECT_FALSE(p.load(none));
  EXPECT_FALSE(p.uninstaller);
  EXPECT_FALSE(p.title.has_value());
  ASSERT_TRUE(platform::setCurrentDirectory(cwd));
}

TEST_F(InstallTest, AnUnusableTitleNeverRemovesTheMakersKey) {
  writeInstallRegistry("Other", "Other 1", 1, "/x/Other");
  for (const char* bad : {"", "..", "a\\b"}) removeInstallRegistry(bad);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Tessolar\\Other"));
  removeInstallRegistry("Other");
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Tessolar\\Other"));
}

TEST_F(InstallTest, HostileContainerInstallsNothingOutsideTheTarget) {
  using packtest::RawEntry;
  // Root "Lumenmere" (1 file, 1 directory) holding "..", "/abs", "a/b",
  // "evil" (which the target holds as a link) and a directory ".." with a
  // file in it.
  std::vector<RawEntry> e(8);
  e[0].name = "Lumenmere";
  e[0].offset = 5;
  e[0].length = 1;
  auto file = [&](int i, const char* name, uint32_t offset, uint32_t next, uint32_t prev, uint32_t parent) {
    e[i].name = name;
    e[i].offset = offset;
    e[i].length = 4;
    e[i].next = next;
    e[i].previous = prev;
    e[i].parent = parent;
  };
  file(1, "..", 0, 2, 0, 0);
  file(2, "/abs", 4, 3, 1, 0);
  file(3, "a/b", 8, 4, 2, 0);
  file(4, "evil", 12, 5, 3, 0);
  file(5, "good", 16, 6, 4, 0);
  e[6].name = "..";
  e[6].kind = 1;
  e[6].offset = 0;
  e[6].length = 1;
  e[6].previous = 5;
  e[6].firstChild = 7;
  file(7, "escaped", 20, 0, 0, 6);
  const std::string data = "DOTSABS!SLASEVILGOODESC!";
  installer_ = base_ + "/hostile-setup";
  ASSERT_TRUE(testenv::writeFile(installer_, kFakeSetup + packtest::container(e, data)));
  ASSERT_GT(pack_.open(installer_), 0);
  params_.parse("Title:Lumenmere\r\nversion:1\r\n");

  const std::string target = base_ + "/deep/games";
  fs::create_directories(target + "/Lumenmere");
  const std::string outside = testenv::freshDir("victim");
  testenv::writeFile(outside + "/evil", "untouched");
  fs::create_symlink(outside + "/evil", target + "/Lumenmere/evil");
  const auto beforeBase = listTree(base_ + "/deep");

  std::string dir;
  const WorkReport r = install(target, &dir);
  EXPECT_FALSE(r.ok());  // files were refused, and that is said
  EXPECT_EQ(testenv::readFile(outside + "/evil"), "untouched");
  EXPECT_EQ(listTree(outside), std::vector<std::string>{"evil"});
  EXPECT_EQ(listTree(target),
            (std::vector<std::string>{"Lumenmere", "Lumenmere/Uninstall.exe", "Lumenmere/evil", "Lumenmere/good"}));
  EXPECT_FALSE(exists(base_ + "/deep/escaped"));
  EXPECT_FALSE(exists("/abs"));
  EXPECT_EQ(testenv::readFile(target + "/Lumenmere/good"), "GOOD");
  removeInstallRegistry("Lumenmere");
}

TEST_F(InstallTest, PackModeMakesAnInstallerFromTheOnlySubDirectory) {
  const std::string dir = testenv::freshDir("packmode");
  // This "program" already carries a container: the new one must be the
  // one found, not the old.
  const std::string program = dir + "/setup";
  ASSERT_TRUE(testenv::writeFile(program, testenv::readFile(installer_)));
  Pack own;
  ASSERT_GT(own.open(program), 0);
  fs::create_directories(dir + "/Product/sub");
  testenv::writeFile(dir + "/Product/installparam.txt", "Title:Product\r\nversion:2\r\n");
  testenv::writeFile(dir + "/Product/sub/f", "f");
  fs::create_directories(dir + "/.hidden");

  const WorkReport r = packProgram(program, own, dir);
  ASSERT_TRUE(r.ok()) << r.problems[0];
  EXPECT_FALSE(exists(dir + "/test.pck"));
  const std::string made = testenv::readFile(dir + "/test.exe");
  EXPECT_EQ(made.compare(0, std::strlen(kFakeSetup), kFakeSetup), 0);
  EXPECT_EQ(access((dir + "/test.exe").c_str(), X_OK), 0);
  Pack p;
  ASSERT_EQ(p.open(dir + "/test.exe"), 4);
  EXPECT_STREQ(p.entries()[0].name, "Product");
  EXPECT_EQ(p.signatureOffset(), std::strlen(kFakeSetup));
  InstallParams np;
  ASSERT_TRUE(np.load(p));
  EXPECT_EQ(np.title, "Product");

  fs::create_directories(dir + "/Second");
  EXPECT_FALSE(packProgram(program, own, dir).ok());
}

TEST_F(InstallTest, PackDataModePacksThePackDirectory) {
  const std::string dir = testenv::freshDir("packdat");
  const std::string cwd = platform::currentDirectory();
  ASSERT_TRUE(platform::setCurrentDirectory(dir));
  EXPECT_FALSE(packData().ok());  // no "pack" here
  fs::create_directories("pack/pictures");
  testenv::writeFile("pack/boat.tga", "boat");
  testenv::writeFile("pack/pictures/a.jpg", "jpeg");
  EXPECT_TRUE(packData().ok());
  Pack p;
  EXPECT_EQ(p.open(dir + "/pack.dat"), 4);
  std::string boat;
  EXPECT_EQ(p.load("boat.tga", boat), kPackLoadFromPack);
  EXPECT_EQ(boat, "boat");
  ASSERT_TRUE(platform::setCurrentDirectory(cwd));
}

TEST(ShortcutTest, DesktopEntryQuotesWhatItMust) {
  Shortcut s{"bin\\my tool.exe", "Tool", "50% \"fun\"", " /s \"two words\" 100%"};
  const std::string text = desktopEntryText(s, "/opt/My Games/T");
  EXPECT_NE(text.find("Exec=\"/opt/My Games/T/bin/my tool.exe\" /s \"two words\" 100%%\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Path=/opt/My Games/T\n"), std::string::npos);
  EXPECT_NE(text.find("Comment=50% \"fun\"\n"), std::string::npos);
  Shortcut b{"a$b.exe", "B", "", ""};
  EXPECT_NE(desktopEntryText(b, "/x").find("Exec=\"/x/a\\\\$b.exe\"\n"), std::string::npos)
      << desktopEntryText(b, "/x");
  for (const char* bad : {"", ".", "..", "a/b", "../x"}) EXPECT_FALSE(usableLinkName(bad)) << bad;
  EXPECT_TRUE(usableLinkName("Read me%"));
}

TEST(ShortcutTest, LockerConfigurationGainsAndLosesTheSaver) {
  const std::string config =
      "timeout:\t0:10:00\nmode:\t\trandom\nselected:\t2\n"
      "programs:\t\t\t\t\t\t\t\t      \\\n"
      "\t\t  maze -root\t\t\t\t    \\n\\\n"
      "  GL: \t\t  superquadrics -root\t\t\t    \\n\\\n"
      "- \t\t  rocks -root\t\t\t    \\n\\\n\n\n"
      "pointerPollTime:    0:00:05\n";
  const std::string with = lockerConfigWithSaver(config, "Lumenmere", "/home/u/.local/lib/screensavers/Lumenmere.scr");
  EXPECT_NE(with.find("mode:\t\tone\n"), std::string::npos) << with;
  EXPECT_NE(with.find("selected:\t\t0\n"), std::string::npos) << with;
  EXPECT_NE(with.find("\"Lumenmere\"  /home/u/.local/lib/screensavers/Lumenmere.scr /s"), std::string::npos) << with;
  EXPECT_LT(with.find("Lumenmere.scr"), with.find("maze -root"));
  EXPECT_NE(with.find("GL: \t\t  superquadrics -root"), std::string::npos);
  EXPECT_NE(with.find("pointerPollTime:    0:00:05\n"), std::string::npos);
  EXPECT_NE(with.find("timeout:\t0:10:00\n"), std::string::npos);
  // Once more (a reinstall): still one entry.
  const std::string twice = lockerConfigWithSaver(with, "Lumenmere", "/home/u/.local/lib/screensavers/Lumenmere.scr");
  EXPECT_EQ(twice.find("Lumenmere.scr"), twice.rfind("Lumenmere.scr"));

  const std::string without = lockerConfigWithoutSaver(with, "/home/u/.local/lib/screensavers/Lumenmere.scr");
  EXPECT_EQ(without.find("Lumenmere"), std::string::npos);
  EXPECT_NE(without.find("mode:\t\trandom\n"), std::string::npos) << without;
  EXPECT_NE(without.find("maze -root"), std::string::npos);
  EXPECT_NE(without.find("rocks -root"), std::string::npos);
  // A selection elsewhere follows its entry.
  std::string other = with;
  other.replace(other.find("selected:\t\t0"), 12, "selected:\t\t3");
  const std::string kept = lockerConfigWithoutSaver(other, "/home/u/.local/lib/screensavers/Lumenmere.scr");
  EXPECT_NE(kept.find("selected:\t\t2\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("mode:\t\tone\n"), std::string::npos);
  // Nothing of ours: unchanged, byte for byte.
  EXPECT_EQ(lockerConfigWithoutSaver(config, "/x/Lumenmere.scr"), config);
}

TEST(RequirementsTest, OnlyWarnsWhenThe3DLibraryIsMissing) {
  auto none = [](const char*) { return false; };
  auto all = [](const char*) { return true; };
  EXPECT_EQ(requirementsWarning("dx8", none),
            "At least DirectX 8 is required to run this program,please install the latest DirectX,you can get it "
            "free from most download sites");
  EXPECT_EQ(requirementsWarning("DX10", none)->substr(0, 19), "At least DirectX 10");
  EXPECT_EQ(requirementsWarning("dx9", all), std::nullopt);
  EXPECT_EQ(requirementsWarning("dx11", none), std::nullopt);
  EXPECT_EQ(requirementsWarning(" dx8", none), std::nullopt);
}

}  // namespace
