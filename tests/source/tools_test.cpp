// The inspectors, run as a user runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/crtrand.h"
#include "platform/files.h"
#include "source/config.h"
#include "tests/common/testenv.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun run(const std::string& command) {
  ToolRun r;
  std::FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  r.status = pclose(p);
  return r;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

TEST(Tools, SettingsDumpListsEveryFieldInFileOrder) {
  const std::string dir = testenv::freshDir("tools");
  Config c;
  c.standaloneMarker = 5;
  c.water.waterColor = 0x00102030;
  c.water.waterExtra[1] = 7;
  c.images.selectedDirs[0] = 2;
  c.images.selectedDirs[1] = 0;
  c.images.fileList.append("/a/b.jpg");
  c.images.fileList.kept = 3;
  c.mp3.dirList.append("/music");
  const auto bytes = c.serialize();
  testenv::writeFile(dir + "/s.ini", std::string(bytes.begin(), bytes.end()));
  const ToolRun r = run(std::string(LM_AQSETTINGS_PATH) + " dump " + quoted(dir + "/s.ini"));
  ASSERT_EQ(r.status, 0);
  const std::string expected =
      "standaloneMarker=5\n"
      "water.waterParam0=1\nwater.waterFlags=1\nwater.animationSpeed=26\nwater.surfaceSize=120\n"
      "water.specularColor=0xff80ffff\nwater.waterColor=0x00102030\nwater.specularPower=35\n"
      "water.waterExtra=0,7,0\n"
      "images.listEnabled=1\nimages.showPlayButtons=0\nimages.maxFiles=99\nimages.playMode=8\n"
      "images.randomizeOrder=1\nimages.selectedDirs=2,0\nimages.editDirectories=0\n"
      "images.extensions=.jpg,.bmp,\n"
      "images.fileList.count=1\nimages.fileList.kept=3\nimages.fileList=/a/b.jpg\n"
      "images.dirList.count=0\nimages.dirList.kept=0\n"
      "mp3.listEnabled=1\nmp3.showPlayButtons=0\nmp3.maxFiles=99\nmp3.playMode=8\n"
      "mp3.randomizeOrder=1\nmp3.selectedDirs=\nmp3.editDirectories=0\nmp3.extensions=.mp3,,\n"
      "mp3.fileList.count=0\nmp3.fileList.kept=0\n"
      "mp3.dirList.count=1\nmp3.dirList.kept=0\nmp3.dirList=/music\n";
  EXPECT_EQ(r.out, expected);

  ASSERT_EQ(run(std::string(LM_AQSETTINGS_PATH) + " defaults " + quoted(dir + "/d.ini")).status, 0);
  const std::string defaults = testenv::readFile(dir + "/d.ini");
  const auto fresh = Config().serialize();
  EXPECT_EQ(defaults, std::string(fresh.begin(), fresh.end()));
  EXPECT_NE(run(std::string(LM_AQSETTINGS_PATH) + " dump " + quoted(dir + "/missing.ini")).status, 0);
}

TEST(Tools, SettingsSetChangesOnlyTheNamedFields) {
  const std::string dir = testenv::freshDir("tools");
  const std::string file = quoted(dir + "/s.ini");
  const std::string tool = std::string(LM_AQSETTINGS_PATH);
  // From the defaults, then from the file as the first call left it.
  ASSERT_EQ(run(tool + " set " + file + " water.waterFlags=0x27 images.file=/p/one.jpg images.randomizeOrder=0").status,
            0);
  ASSERT_EQ(run(tool + " set " + file + " images.file=/p/two.bmp mp3.listEnabled=0 water.surfaceSize=60").status, 0);
  Config c;
  const std::string bytes = testenv::readFile(dir + "/s.ini");
  ASSERT_EQ(c.loadData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 4);
  EXPECT_EQ(c.water.waterFlags, 0x27u);
  EXPECT_EQ(c.water.surfaceSize, 60);
  EXPECT_EQ(c.water.animationSpeed, 26);
  EXPECT_EQ(c.images.fileList.strings(), (std::vector<std::string>{"/p/one.jpg", "/p/two.bmp"}));
  EXPECT_EQ(c.images.randomizeOrder, 0);
  EXPECT_EQ(c.mp3.listEnabled, 0);
  EXPECT_EQ(c.mp3.randomizeOrder, 1);

  // What it cannot set changes nothing and says so.
  for (const char* bad : {"water.bogus=1", "water.surfaceSize=abc", "nosuch", "images.maxFiles=99999999999"})
    EXPECT_NE(run(tool + " set " + file + " " + bad).status, 0) << bad;
  EXPECT_EQ(testenv::readFile(dir + "/s.ini"), bytes);
}

TEST(Tools, PlayListToolDrawsAsTheListDoes) {
  const std::string dir = testenv::freshDir("tools");
  Config c;
  for (int i = 0; i < 30; ++i) c.mp3.fileList.append(dir + "/song" + std::to_string(i) + ".mp3");
  c.mp3.maxFiles = 12;
  const auto bytes = c.serialize();
  testenv::writeFile(dir + "/s.ini", std::string(bytes.begin(), bytes.end()));
  const ToolRun r = run(std::string(LM_AQPLAYLIST_PATH) + " " + quoted(dir + "/s.ini") + " mp3 4242");
  ASSERT_EQ(r.status, 0);
  platform::srand(4242);
  std::string expected;
  for (const std::string& p : c.mp3.drawPlayList().paths()) expected += p + "\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 12);
}

TEST(Tools, ImageToolWritesPpmAndPam) {
  const std::string dir = testenv::freshDir("tools");
  std::string tga(18, '\0');
  tga[2] = 2;
  tga[12] = 1;
  tga[14] = 1;
  tga[16] = 32;
  testenv::writeFile(dir + "/t.tga", tga + "BGRA");
  ToolRun r = run(std::string(LM_AQIMAGE_PATH) + " " + quoted(dir + "/t.tga") + " " + quoted(dir + "/t.pam"));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1 1 32\n");
  EXPECT_EQ(testenv::readFile(dir + "/t.pam"),
            "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nRGBA");

  const std::string bmpDir = testenv::dataDir() + "/source/bmp/";
  r = run(std::string(LM_AQIMAGE_PATH) + " " + quoted(bmpDir + "pal8os2.bmp") + " " + quoted(dir + "/p.ppm"));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "127 64 8\n");
  EXPECT_EQ(testenv::readFile(dir + "/p.ppm"), testenv::readFile(bmpDir + "pal8os2.ppm"));
  EXPECT_NE(run(std::string(LM_AQIMAGE_PATH) + " " + quoted(dir + "/none.bmp") + " " + quoted(dir + "/x")).status, 0);
}

}  // namespace
