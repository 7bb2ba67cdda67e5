// The settings file: block layout byte for byte, round trips, tags, the
// load order of its sources and damaged files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "pack/fileops.h"
#include "pack/pack.h"
#include "pack/packwriter.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "source/config.h"
#include "tests/common/testenv.h"

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void fillList(ConfigFileList& l, int seed) {
  l.listEnabled = 0;
  l.showPlayButtons = 1;
  l.maxFiles = 1234 + seed;
  l.playMode = 3 + seed;
  l.randomizeOrder = 0;
  for (int i = 0; i < ConfigFileList::kSelectedDirs; ++i) l.selectedDirs[i] = i < 5 ? 4 - i + seed : (i == 5 ? -1 : i);
  l.editDirectories = 1;
  l.setExtensions(".png", seed ? nullptr : ".gif", ".tif");
  l.fileList.append("/pics/a.jpg");
  l.fileList.append("/pics/with space/b.jpg");
  l.fileList.kept = 77 + seed;
  l.dirList.append("/d1");
  l.dirList.append("/d2/deeper");
  l.dirList.append("/d3");
  l.dirList.kept = 99;
}

void fillAll(Config& c) {
  c.standaloneMarker = 4242;
  c.water.waterParam0 = -7;
  c.water.waterFlags = 0x3e;
  c.water.animationSpeed = 77;
  c.water.surfaceSize = 60;
  c.water.specularColor = 0x00123456;
  c.water.waterColor = 0x00abcdef;
  c.water.specularPower = 99;
  c.water.waterExtra[0] = 1;
  c.water.waterExtra[1] = 0xffffffff;
  c.water.waterExtra[2] = 3;
  fillList(c.images, 0);
  fillList(c.mp3, 1);
}

void expectListEq(const ConfigFileList& a, const ConfigFileList& b) {
  EXPECT_EQ(a.listEnabled, b.listEnabled);
  EXPECT_EQ(a.showPlayButtons, b.showPlayButtons);
  EXPECT_EQ(a.maxFiles, b.maxFiles);
  EXPECT_EQ(a.playMode, b.playMode);
  EXPECT_EQ(a.randomizeOrder, b.randomizeOrder);
  for (int i = 0; i < ConfigFileList::kSelectedDirs; ++i) EXPECT_EQ(a.selectedDirs[i], b.selectedDirs[i]) << i;
  EXPECT_EQ(a.editDirectories, b.editDirectories);
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(a.extensions[i], b.extensions[i]);
  EXPECT_EQ(a.fileList.strings(), b.fileList.strings());
  EXPECT_EQ(a.fileList.kept, b.fileList.kept);
  EXPECT_EQ(a.dirList.strings(), b.dirList.strings());
  EXPECT_EQ(a.dirList.kept, b.dirList.kept);
}

void expectWaterEq(const ConfigWater& a, const ConfigWater& b) {
  EXPECT_EQ(a.waterParam0, b.waterParam0);
  EXPECT_EQ(a.waterFlags, b.waterFlags);
  EXPECT_EQ(a.animationSpeed, b.animationSpeed);
  EXPECT_EQ(a.surfaceSize, b.surfaceSize);
  EXPECT_EQ(a.specularColor, b.specularColor);
  EXPECT_EQ(a.waterColor, b.waterColor);
  EXPECT_EQ(a.specularPower, b.specularPower);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a.waterExtra[i], b.waterExtra[i]);
}

void expectDefaultWater(const ConfigWater& w) { expectWaterEq(w, ConfigWater()); }

// The byte positions of the four blocks of a serialized chain.
struct Layout {
  size_t root = 0, water = 0, images = 0, mp3 = 0, end = 0;
};
Layout layoutOf(const std::vector<uint8_t>& b) {
  Layout l;
  l.water = le32(b, 0);
  l.images = l.water + le32(b, l.water);
  l.mp3 = l.images + le32(b, l.images);
  l.end = l.mp3 + le32(b, l.mp3);
  return l;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testenv::freshDir("settings");
    Config::resetDirectories();
    Config::setProgramDirectory(dir_);
    resetEngineFileOps();
    publishProcessPack(nullptr);
    processPack().close();
    HKEY key;
    if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, Config::kMakerKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      platform::RegCloseKey(key);
      platform::RegDeleteTreeA(HKEY_CURRENT_USER, Config::kMakerKey);
    }
  }
  void TearDown() override {
    Config::resetDirectories();
    resetEngineFileOps();
    publishProcessPack(nullptr);
    Config::saveDisplaySettingsHook = nullptr;
  }
  std::string dir_;
};

TEST(ConfigLayout, DefaultsAndTags) {
  Config c;
  EXPECT_EQ(c.tag(), "$saveconfig$");
  EXPECT_EQ(c.water.tag(), "$saveconfigwater$");
  EXPECT_EQ(c.images.tag(), "$saveconfigfilelist$");
  EXPECT_EQ(ConfigBase().tag(), "$saveconfigbase$");
  EXPECT_EQ(c.standaloneMarker, 0);
  EXPECT_EQ(c.water.waterParam0, 1);
  EXPECT_EQ(c.water.waterFlags, 1u);
  EXPECT_EQ(c.water.animationSpeed, 26);
  EXPECT_EQ(c.water.surfaceSize, 120);
  EXPECT_EQ(c.water.specularColor, 0xFF80FFFFu);
  EXPECT_EQ(c.water.waterColor, 0xFFFFFFFFu);
  EXPECT_EQ(c.water.specularPower, 35);
  for (const ConfigFileList* l : {&c.images, &c.mp3}) {
    EXPECT_EQ(l->listEnabled, 1);
    EXPECT_EQ(l->showPlayButtons, 0);
    EXPECT_EQ(l->maxFiles, 99);
    EXPECT_EQ(l->playMode, 8);
    EXPECT_EQ(l->randomizeOrder, 1);
    EXPECT_EQ(l->selectedDirs[0], -1);
    EXPECT_EQ(l->selectedDirs[255], -1);
    EXPECT_EQ(l->editDirectories, 0);
    EXPECT_TRUE(l->fileList.empty());
    EXPECT_TRUE(l->dirList.empty());
  }
  EXPECT_STREQ(c.images.extensions[0], ".jpg");
  EXPECT_STREQ(c.images.extensions[1], ".bmp");
  EXPECT_STREQ(c.images.extensions[2], "");
  EXPECT_STREQ(c.mp3.extensions[0], ".mp3");
  EXPECT_STREQ(c.mp3.extensions[1], "");
}

TEST(ConfigLayout, DefaultFileIsByteExact) {
  Config c;
  const std::vector<uint8_t> b = c.serialize();
  // root: 4 + "$saveconfig$" (12) + 1 + 32
  ASSERT_EQ(le32(b, 0), 49u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[4])), "$saveconfig$");
  EXPECT_EQ(le32(b, 17 + 4), 32u);
  const size_t w = 49;
  ASSERT_EQ(le32(b, w), 4u + 17 + 1 + 52);
  const size_t wb = w + 4 + 18;  // water body
  EXPECT_EQ(le32(b, wb + 0), 0u);
  EXPECT_EQ(le32(b, wb + 4), 52u);
  EXPECT_EQ(le32(b, wb + 12), 1u);
  EXPECT_EQ(le32(b, wb + 16), 1u);
  EXPECT_EQ(le32(b, wb + 20), 26u);
  EXPECT_EQ(le32(b, wb + 24), 120u);
  EXPECT_EQ(le32(b, wb + 28), 0xFF80FFFFu);
  EXPECT_EQ(le32(b, wb + 32), 0xFFFFFFFFu);
  EXPECT_EQ(le32(b, wb + 36), 35u);
  const size_t i = w + 4 + 18 + 52;
  // list: 4 + "$saveconfigfilelist$" (20) + 1 + 1096 + two empty lists of 56
  ASSERT_EQ(le32(b, i), 4u + 20 + 1 + 1096 + 56 + 56);
  const size_t ib = i + 25;
  EXPECT_EQ(le32(b, ib + 4), 1096u);
  EXPECT_EQ(le32(b, ib + 16), 1u);   // listEnabled
  EXPECT_EQ(le32(b, ib + 24), 99u);  // maxFiles
  EXPECT_EQ(le32(b, ib + 28), 8u);   // playMode
  EXPECT_EQ(le32(b, ib + 32), 1u);   // randomizeOrder
  EXPECT_EQ(le32(b, ib + 36), 0xFFFFFFFFu);
  EXPECT_EQ(le32(b, ib + 1068), 1092u);
  EXPECT_EQ(std::memcmp(&b[ib + 1072], ".jpg\0.bmp\0\0\0\0\0\0", 16), 0);
  EXPECT_EQ(le32(b, ib + 1096), 56u);
  EXPECT_EQ(le32(b, ib + 1096 + 8), 0u);
  const size_t m = i + le32(b, i);
  EXPECT_EQ(std::memcmp(&b[m + 25 + 1072], ".mp3\0\0\0\0\0\0\0\0\0\0\0\0", 16), 0);
  EXPECT_EQ(b.size(), m + le32(b, m));
}

TEST(ConfigLayout, EveryFieldAtItsOffset) {
  Config c;
  fillAll(c);
  const std::vector<uint8_t> b = c.serialize();
  const Layout l = layoutOf(b);
  ASSERT_EQ(l.end, b.size());
  EXPECT_EQ(le32(b, 17 + 12), 4242u);  // root body offset 12
  for (int k = 0; k < 16; ++k) EXPECT_EQ(b[17 + 16 + k], 0);
  const size_t wb = l.water + 22;
  EXPECT_EQ(le32(b, wb + 12), uint32_t(-7));
  EXPECT_EQ(le32(b, wb + 16), 0x3eu);
  EXPECT_EQ(le32(b, wb + 20), 77u);
  EXPECT_EQ(le32(b, wb + 24), 60u);
  EXPECT_EQ(le32(b, wb + 28), 0x00123456u);
  EXPECT_EQ(le32(b, wb + 32), 0x00abcdefu);
  EXPECT_EQ(le32(b, wb + 36), 99u);
  EXPECT_EQ(le32(b, wb + 40), 1u);
  EXPECT_EQ(le32(b, wb + 44), 0xffffffffu);
  EXPECT_EQ(le32(b, wb + 48), 3u);

  const size_t ib = l.images + 25;
  EXPECT_EQ(le32(b, ib + 16), 0u);
  EXPECT_EQ(le32(b, ib + 20), 1u);
  EXPECT_EQ(le32(b, ib + 24), 1234u);
  EXPECT_EQ(le32(b, ib + 28), 3u);
  EXPECT_EQ(le32(b, ib + 32), 0u);
  EXPECT_EQ(le32(b, ib + 36), 4u);
  EXPECT_EQ(le32(b, ib + 36 + 4 * 4), 0u);
  EXPECT_EQ(le32(b, ib + 36 + 4 * 5), 0xFFFFFFFFu);
  EXPECT_EQ(le32(b, ib + 36 + 4 * 255), 255u);
  EXPECT_EQ(le32(b, ib + 1060), 1u);
  EXPECT_EQ(le32(b, ib + 1064), 0u);
  EXPECT_EQ(le32(b, ib + 1068), 1093u);
  EXPECT_EQ(std::memcmp(&b[ib + 1072], ".png\0.gif\0.tif\0\0", 16), 0);
  // fileList block
  const size_t f = ib + 1096;
  const std::string s1 = "/pics/a.jpg", s2 = "/pics/with space/b.jpg";
  const uint32_t fl = 56 + uint32_t(s1.size() + s2.size() + 2) + 1;
  EXPECT_EQ(le32(b, f), fl);
  EXPECT_EQ(le32(b, f + 4), 0u);
  EXPECT_EQ(le32(b, f + 8), 2u);
  EXPECT_EQ(le32(b, f + 12), 77u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[f + 56])), s1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[f + 56 + s1.size() + 1])), s2);
  EXPECT_EQ(b[f + fl - 1], 0);
  const size_t d = f + fl;
  EXPECT_EQ(le32(b, d + 8), 3u);
  EXPECT_EQ(le32(b, d + 12), 99u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[d + 56])), "/d1");
  EXPECT_EQ(d + le32(b, d), l.mp3);
  // The list block's L covers tag, fixed part and both lists.
  EXPECT_EQ(le32(b, l.images), 25 + 1096 + fl + le32(b, d));
}

TEST(ConfigLayout, RoundTripEveryField) {
  Config a;
  fillAll(a);
  const std::vector<uint8_t> b = a.serialize();
  Config c;
  EXPECT_EQ(c.loadData(b.data(), b.size()), 4);
  EXPECT_EQ(c.standaloneMarker, 4242);
  expectWaterEq(c.water, a.water);
  expectListEq(c.images, a.images);
  expectListEq(c.mp3, a.mp3);
  EXPECT_EQ(c.serialize(), b);
}

TEST(ConfigLayout, TagsCompareWithoutCase) {
  Config a;
  a.water.specularPower = 3;
  a.mp3.maxFiles = 5;
  std::vector<uint8_t> b = a.serialize();
  const Layout l = layoutOf(b);
  std::memcpy(&b[l.water + 4], "$SaveConfigWATER$", 17);
  std::memcpy(&b[l.mp3 + 4], "$SAVECONFIGFILELIST$", 20);
  Config c;
  EXPECT_EQ(c.loadData(b.data(), b.size()), 4);
  EXPECT_EQ(c.water.specularPower, 3);
  EXPECT_EQ(c.mp3.maxFiles, 5);
}

TEST(ConfigLayout, ForeignBlockIsSteppedOverByItsLength) {
  Config a;
  fillAll(a);
  const std::vector<uint8_t> b = a.serialize();
  const Layout l = layoutOf(b);
  // Replace the water block by a longer one of another section.
  std::vector<uint8_t> foreign;
  ConfigBase::appendLe32(foreign, 0);
  const std::string tag = "$saveotherthing$";
  foreign.insert(foreign.end(), tag.begin(), tag.end());
  foreign.push_back(0);
  foreign.insert(foreign.end(), 100, 0xAB);
  ConfigBase::writeLe32(foreign.data(), uint32_t(foreign.size()));
  std::vector<uint8_t> file(b.begin(), b.begin() + l.water);
  file.insert(file.end(), foreign.begin(), foreign.end());
  file.insert(file.end(), b.begin() + l.images, b.end());
  Config c;
  EXPECT_EQ(c.loadData(file.data(), file.size()), 3);
  expectDefaultWater(c.water);
  expectListEq(c.images, a.images);
  expectListEq(c.mp3, a.mp3);
}

TEST(ConfigLayout, BlockResults) {
  Config a;
  std::vector<uint8_t> b = a.serialize();
  ConfigWater w;
  uint32_t len = 0;
  const Layout l = layoutOf(b);
  EXPECT_EQ(w.load(&b[l.water], b.size() - l.water, &len), ConfigBase::kLoaded);
  EXPECT_EQ(len, 74u);
  EXPECT_EQ(w.load(&b[0], b.size(), &len), ConfigBase::kTagDiffers);
  EXPECT_EQ(len, 49u);  // reported even when the tag differs
  ConfigBase::writeLe32(&b[l.water], 80);
  EXPECT_EQ(w.load(&b[l.water], b.size() - l.water, &len), ConfigBase::kLengthDiffers);
  EXPECT_EQ(len, 80u);
  EXPECT_EQ(w.load(&b[l.water], 30, &len), ConfigBase::kTruncated);
  EXPECT_EQ(w.load(&b[l.water], 2, &len), ConfigBase::kTruncated);
}

// A file cut anywhere is read up to its end and no further; the sections
// not reached keep their values.  (The sanitizer build checks the "no
// further".)
TEST(ConfigLayout, TruncatedFilesNeverReadPastTheEnd) {
  Config a;
  fillAll(a);
  const std::vector<uint8_t> b = a.serialize();
  const Layout l = layoutOf(b);
  for (size_t n = 0; n < b.size(); ++n) {
    std::vector<uint8_t> cut(b.begin(), b.begin() + n);  // exactly n bytes on the heap
    Config c;
    c.loadData(cut.data(), cut.size());
    if (n < l.water) expectDefaultWater(c.water);
    if (n < l.mp3) {
      EXPECT_EQ(c.mp3.maxFiles, 99) << n;
      EXPECT_TRUE(c.mp3.fileList.empty()) << n;
    }
    if (n >= l.images && n < l.mp3) expectWaterEq(c.water, a.water);
    if (n > l.images && n + 1 < l.mp3) {  // (the final NUL of the last list need not be read)
      // a list cut short is not taken in part
      EXPECT_EQ(c.images.maxFiles, 99) << n;
      EXPECT_TRUE(c.images.dirList.empty()) << n;
    }
  }
}

TEST(ConfigLayout, LyingLengths) {
  Config a;
  fillAll(a);
  const std::vector<uint8_t> good = a.serialize();
  const Layout l = layoutOf(good);
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  };
  const size_t files = l.images + 25 + 1096;
  const Case cases[] = {
      {"root length huge", 0, 0xFFFFFFF0u},
      {"water length past end", l.water, 0x7FFFFFFFu},
      {"water length zero", l.water, 0},
      {"list length tiny", l.images, 3},
      {"string count huge", files + 8, 0xFFFFFFFFu},
      {"string list length huge", files, 0xFFFFFFFFu},
      {"dir count huge", files + le32(good, files) + 8, 0x10000000u},
  };
  for (const Case& k : cases) {
    std::vector<uint8_t> b = good;
    ConfigBase::writeLe32(&b[k.at], k.value);
    // the file ends right after the last block, with no slack to read into
    std::vector<uint8_t> exact(b.begin(), b.end());
    Config c;
    c.loadData(exact.data(), exact.size());
    SCOPED_TRACE(k.what);
    // whatever was read, the lists hold only what the file holds
    EXPECT_LE(c.images.fileList.count(), 2u);
    EXPECT_LE(c.images.dirList.count(), 3u);
    EXPECT_LE(c.mp3.dirList.count(), 3u);
  }
  // A root length past the end stops the chain: water keeps its defaults.
  std::vector<uint8_t> b = good;
  ConfigBase::writeLe32(&b[0], 0xFFFFFFF0u);
  Config c;
  EXPECT_EQ(c.loadData(b.data(), b.size()), 1);
  EXPECT_EQ(c.standaloneMarker, 4242);
  expectDefaultWater(c.water);
  // An image list whose string count exceeds its strings stops at the final NUL.
  b = good;
  ConfigBase::writeLe32(&b[files + 8], 50);
  Config d;
  d.loadData(b.data(), b.size());
  EXPECT_EQ(d.images.fileList.count(), 2u);
  EXPECT_EQ(d.images.dirList.count(), 3u);
  expectListEq(d.mp3, a.mp3);
}

TEST_F(ConfigFileTest, SaveThenLoadInProgramDirectory) {
  std::string keyPath;
  static std::string* seen;
  seen = &keyPath;
  Config::saveDisplaySettingsHook = [](const char* key) { *seen = key; };
  Config a;
  fillAll(a);
  ASSERT_TRUE(a.save());
  EXPECT_EQ(keyPath, "Software\\Tessolar\\Lumenmere");
  EXPECT_EQ(platform::currentDirectory(), dir_);
  const std::string bytes = testenv::readFile(dir_ + "/Lumenmere.ini");
  const std::vector<uint8_t> expected = a.serialize();
  EXPECT_EQ(bytes, std::string(expected.begin(), expected.end()));
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::listDirectory(dir_, "*", entries));
  EXPECT_EQ(entries.size(), 1u) << "no temporary file is left behind";

  ASSERT_TRUE(platform::setCurrentDirectory(testenv::root()));
  Config c;
  EXPECT_TRUE(c.load());
  EXPECT_EQ(c.standaloneMarker, 4242);
  expectListEq(c.images, a.images);
  EXPECT_FALSE(engineFileOpsUsePack());
}

TEST_F(ConfigFileTest, SaveCleansUpAfterACrashAndWritesThroughALink) {
  // What a save that died midway left, and what a save running now in
  // another process holds: only the first goes.
  const std::string leftover = dir_ + "/.Lumenmere.ini.saving-Ab12Cd";
  const std::string running = dir_ + "/.Lumenmere.ini.saving-Zz99Yy";
  ASSERT_TRUE(testenv::writeFile(leftover, "half a settings file"));
  ASSERT_TRUE(testenv::writeFile(running, "being written"));
  ASSERT_TRUE(testenv::writeFile(dir_ + "/Lumenmere.ini.backup", "the user's own"));
  const int held = open(running.c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);

  // The settings file is a link into the user's dotfiles.
  const std::string dotfiles = testenv::freshDir("dotfiles");
  ASSERT_TRUE(testenv::writeFile(dotfiles + "/lumenmere.ini", "old"));
  ASSERT_EQ(symlink((dotfiles + "/lumenmere.ini").c_str(), (dir_ + "/Lumenmere.ini").c_str()), 0);

  Config a;
  a.water.surfaceSize = 77;
  ASSERT_TRUE(a.save());
  close(held);

  struct stat st {};
  ASSERT_EQ(lstat((dir_ + "/Lumenmere.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link is kept";
  const std::vector<uint8_t> expected = a.serialize();
  EXPECT_EQ(testenv::readFile(dotfiles + "/lumenmere.ini"), std::string(expected.begin(), expected.end()));
  EXPECT_NE(access(leftover.c_str(), F_OK), 0) << "the crash's leftover is removed";
  EXPECT_EQ(testenv::readFile(running), "being written");
  EXPECT_EQ(testenv::readFile(dir_ + "/Lumenmere.ini.backup"), "the user's own");
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::listDirectory(dotfiles, "*", entries));
  EXPECT_EQ(entries.size(), 1u) << "no temporary file is left beside the target";
}

TEST_F(ConfigFileTest, NoSourceKeepsDefaults) {
  Config c;
  c.water.surfaceSize = 61;
  EXPECT_FALSE(c.load());
  EXPECT_EQ(c.water.surfaceSize, 61);
}

TEST_F(ConfigFileTest, LongListsAreSavedWhole) {
  Config a;
  // Far beyond the 1,000,000 bytes a fixed buffer would hold.
  const std::string base = "/some/rather/long/directory/name/for/pictures/of/the/summer/holiday/";
  for (int i = 0; i < 20000; ++i) a.images.fileList.append(base + "IMG_" + std::to_string(i) + ".JPG");
  ASSERT_TRUE(a.save());
  Config c;
  ASSERT_TRUE(c.load());
  ASSERT_EQ(c.images.fileList.count(), 20000u);
  EXPECT_EQ(c.images.fileList.at(19999), base + "IMG_19999.JPG");
}

TEST_F(ConfigFileTest, InstallDirReplacesTheProgramDirectory) {
  const std::string other = testenv::freshDir("installed");
  HKEY key;
  ASSERT_EQ(platform::RegCreateKeyExA(HKEY_CURRENT_USER, Config::kProductKey, &key), ERROR_SUCCESS);
  ASSERT_EQ(platform::RegSetValueExA(key, "installdir", 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                                     DWORD(other.size() + 1)),
            ERROR_SUCCESS);
  platform::RegCloseKey(key);

  Config inProgramDir;
  inProgramDir.water.surfaceSize = 70;
  testenv::writeFile(dir_ + "/Lumenmere.ini", [&] {
    auto v = inProgramDir.serialize();
    return std::string(v.begin(), v.end());
  }());
  Config inInstallDir;
  inInstallDir.water.surfaceSize = 150;
  testenv::writeFile(other + "/Lumenmere.ini", [&] {
    auto v = inInstallDir.serialize();
    return std::string(v.begin(), v.end());
  }());

  Config c;
  ASSERT_TRUE(c.load());
  EXPECT_EQ(c.water.surfaceSize, 150);
  EXPECT_EQ(Config::settingsDirectory(), other);
  c.water.surfaceSize = 155;
  ASSERT_TRUE(c.save());
  Config d;
  ASSERT_TRUE(d.loadData(reinterpret_cast<const uint8_t*>(testenv::readFile(other + "/Lumenmere.ini").data()),
                         testenv::readFile(other + "/Lumenmere.ini").size()));
  EXPECT_EQ(d.water.surfaceSize, 155);
  Config e;
  const std::string inProgram = testenv::readFile(dir_ + "/Lumenmere.ini");
  e.loadData(reinterpret_cast<const uint8_t*>(inProgram.data()), inProgram.size());
  EXPECT_EQ(e.water.surfaceSize, 70) << "the program directory's file is left alone";
}

TEST_F(ConfigFileTest, EmptyInstallDirIsIgnored) {
  HKEY key;
  ASSERT_EQ(platform::RegCreateKeyExA(HKEY_CURRENT_USER, Config::kProductKey, &key), ERROR_SUCCESS);
  ASSERT_EQ(platform::RegSetValueExA(key, "installdir", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
            ERROR_SUCCESS);
  platform::RegCloseKey(key);
  Config c;
  c.load();
  EXPECT_EQ(Config::settingsDirectory(), dir_);
}

TEST_F(ConfigFileTest, PackMemberWinsOverFileAndMarkerSwitchesEngine) {
  Config onDisk;
  onDisk.water.surfaceSize = 70;
  auto diskBytes = onDisk.serialize();
  testenv::writeFile(dir_ + "/Lumenmere.ini", std::string(diskBytes.begin(), diskBytes.end()));

  Config inPack;
  inPack.water.surfaceSize = 140;
  inPack.standaloneMarker = Config::kStandaloneMarker;
  auto packBytes = inPack.serialize();
  const std::string packDir = testenv::freshDir("pack");
  ASSERT_TRUE(platform::setCurrentDirectory(packDir));
  {
    PackWriter w;
    ASSERT_TRUE(w.begin(packDir + "/test.pck"));
    ASSERT_TRUE(w.add("Lumenmere.ini", packBytes.data(), packBytes.size()));
    ASSERT_TRUE(w.finish());
  }
  Pack pack;
  ASSERT_GT(pack.open(packDir + "/test.pck"), 0);
  publishProcessPack(&pack);

  EXPECT_FALSE(engineFileOpsUsePack());
  Config c;
  ASSERT_TRUE(c.load());
  EXPECT_EQ(c.water.surfaceSize, 140);
  EXPECT_EQ(c.standaloneMarker, Config::kStandaloneMarker);
  EXPECT_TRUE(engineFileOpsUsePack());
  publishProcessPack(nullptr);
}

TEST_F(ConfigFileTest, UnwritableProgramDirectoryUsesUserConfig) {
  // Root writes everywhere: a directory that isn't there stands in for a
  // read-only one then.
  std::string ro = testenv::freshDir("readonly");
  if (geteuid() == 0) ro += "/missing";
  chmod(ro.c_str(), 0555);
  Config::setProgramDirectory(ro);
  EXPECT_EQ(Config::settingsDirectory(), platform::userConfigDirectory() + "/Lumenmere");
  Config c;
  c.water.surfaceSize = 88;
  EXPECT_TRUE(c.save());
  EXPECT_FALSE(testenv::readFile(platform::userConfigDirectory() + "/Lumenmere/Lumenmere.ini").empty());
  chmod(ro.c_str(), 0755);
}

TEST(ConfigInstance, EnsureInstanceMakesOne) {
  Config::resetDirectories();
  Config::setProgramDirectory(testenv::freshDir("instance"));
  Config::publish(nullptr);
  Config& c = Config::ensureInstance();
  EXPECT_EQ(Config::instance(), &c);
  Config mine;
  Config::publish(&mine);
  EXPECT_EQ(&Config::ensureInstance(), &mine);
  Config::publish(nullptr);
  Config::resetDirectories();
}

}  // namespace
