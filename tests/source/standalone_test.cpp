// The settings a standalone copy carries, and the copy built from one
// drawing of the lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack/fileops.h"
#include "pack/pack.h"
#include "pack/standalone.h"
#include "platform/crtrand.h"
#include "platform/files.h"
#include "source/standalonesettings.h"
#include "tests/common/testenv.h"

namespace {

class StandaloneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testenv::freshDir("standalone");
    pictures_ = dir_ + "/pictures";
    ASSERT_TRUE(platform::makeDirectories(pictures_));
    for (int i = 0; i < 6; ++i)
      testenv::writeFile(pictures_ + "/p" + std::to_string(i) + ".jpg", "picture " + std::to_string(i));
    testenv::writeFile(dir_ + "/song.mp3", "song");
    config_.images.dirList.append(pictures_);
    config_.images.fileList.append(dir_ + "/single.jpg");
    testenv::writeFile(dir_ + "/single.jpg", "single");
    config_.images.maxFiles = 4;
    config_.images.playMode = 3;  // one random directory: the only one
    config_.mp3.listEnabled = 0;
    config_.mp3.fileList.append(dir_ + "/song.mp3");
    config_.mp3.maxFiles = 7;
  }
  std::string dir_, pictures_;
  Config config_;
};

TEST_F(StandaloneTest, CopySettingsNameTheDrawnFiles) {
  platform::srand(3);
  StandaloneSettings s = serializeStandaloneSettings(config_);
  EXPECT_EQ(config_.images.playMode, 3) << "the caller's settings are untouched";
  EXPECT_EQ(config_.images.dirList.count(), 1u);

  Config copy;
  ASSERT_EQ(copy.loadData(s.settings.data(), s.settings.size()), 4);
  EXPECT_EQ(copy.standaloneMarker, Config::kStandaloneMarker);
  EXPECT_EQ(copy.images.playMode, 8);
  EXPECT_TRUE(copy.images.dirList.empty());
  EXPECT_EQ(copy.images.maxFiles, 4);
  EXPECT_EQ(copy.images.randomizeOrder, 1);
  ASSERT_TRUE(s.images.present());
  EXPECT_EQ(s.images.count(), 4u);
  EXPECT_EQ(copy.images.fileList.strings(), s.images.paths()) << "one drawing for the settings and the members";
  // A disabled list draws nothing and stays empty and disabled.
  EXPECT_FALSE(s.songs.present());
  EXPECT_EQ(copy.mp3.listEnabled, 0);
  EXPECT_TRUE(copy.mp3.fileList.empty());
  EXPECT_EQ(copy.mp3.playMode, 8);
  EXPECT_EQ(copy.mp3.maxFiles, 7);
}

TEST_F(StandaloneTest, BuildsACopyWhoseSettingsAndMembersAgree) {
  config_.mp3.listEnabled = 1;
  Config::resetDirectories();
  Config::setProgramDirectory(dir_);
  ASSERT_TRUE(config_.save());
  const std::string program = dir_ + "/aquaveil";
  testenv::writeFile(program, std::string(5000, 'P'));

  StandaloneSettings prepared = prepareStandalone();
  ASSERT_EQ(prepared.images.count(), 4u);
  ASSERT_EQ(prepared.songs.count(), 1u);
  const std::string output = dir_ + "/copy.exe";
  ASSERT_GT(buildStandaloneCopy(output, prepared, "Ada", program), 5000u);

  Pack pack;
  ASSERT_GT(pack.open(output), 0);
  EXPECT_EQ(pack.signatureOffset(), 5000u);
  std::string settings;
  ASSERT_EQ(pack.load("Lumenmere.ini", settings), kPackLoadFromPack);
  Config copy;
  ASSERT_EQ(copy.loadData(reinterpret_cast<const uint8_t*>(settings.data()), settings.size()), 4);
  EXPECT_EQ(copy.standaloneMarker, Config::kStandaloneMarker);
  for (const std::string& path : copy.images.fileList.strings()) {
    std::string bytes;
    EXPECT_EQ(pack.findMember(path) >= 0, true) << path;
    EXPECT_EQ(pack.load(path, bytes), kPackLoadFromPack);
    EXPECT_EQ(bytes, testenv::readFile(path));
  }
  ASSERT_EQ(copy.mp3.fileList.count(), 1u);
  EXPECT_GE(pack.findMember("song.mp3"), 0);
  EXPECT_EQ(standaloneBuilderName(pack), "Ada");
  resetEngineFileOps();
  Config::resetDirectories();
}

}  // namespace
