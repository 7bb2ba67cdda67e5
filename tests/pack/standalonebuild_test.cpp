// A standalone copy is written whole or not at all, says what stopped it,
// reports its progress, and stops when asked.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "pack/pack.h"
#include "pack/standalone.h"
#include "platform/files.h"
#include "tests/common/testenv.h"

namespace {

class StandaloneBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testenv::freshDir("build");
    program = dir + "/aquaveil";
    testenv::writeFile(program, std::string(200000, 'P'));
    for (int i = 0; i < 4; ++i) {
      const std::string picture = dir + "/p" + std::to_string(i) + ".jpg";
      testenv::writeFile(picture, std::string(300000, static_cast<char>('a' + i)));
      contents.images.push_back(picture);
    }
    contents.settings = "settings";
    contents.programFile = program;
  }
  // Everything in the folder but what the test made itself.
  std::vector<std::string> leftovers() {
    std::vector<platform::DirEntry> items;
    platform::listDirectory(dir, "*", items);
    std::vector<std::string> out;
    for (const auto& item : items)
      if (item.name != "aquaveil" && item.name.rfind("p", 0) != 0) out.push_back(item.name);
    return out;
  }
  std::string dir, program;
  StandaloneContents contents;
};

TEST_F(StandaloneBuildTest, ReportsGrowingProgressUpToTheWholeAndWritesTheCopy) {
  std::vector<double> fractions;
  const StandaloneResult r = buildStandaloneReporting(dir + "/copy.exe", contents, [&](double f) {
    fractions.push_back(f);
    return true;
  });
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.bytes, testenv::readFile(dir + "/copy.exe").size());
  ASSERT_GT(fractions.size(), 6u);  // the members one by one and the copy block by block
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
  EXPECT_GT(fractions.front(), 0.0);
  Pack copy;
  ASSERT_EQ(copy.open(dir + "/copy.exe"), 5);
  EXPECT_EQ(leftovers(), std::vector<std::string>{"copy.exe"});
}

TEST_F(StandaloneBuildTest, StoppingLeavesNothingBehind) {
  for (double stopAt : {0.05, 0.5, 0.9}) {
    const StandaloneResult r =
        buildStandaloneReporting(dir + "/copy.exe", contents, [&](double f) { return f < stopAt; });
    EXPECT_EQ(r.failure, StandaloneFailure::stopped) << stopAt;
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_TRUE(leftovers().empty()) << stopAt << ": " << leftovers().front();
  }
}

TEST_F(StandaloneBuildTest, SaysWhatCouldNotBeWritten) {
  // An output in a folder that does not exist.
  StandaloneResult r = buildStandaloneReporting(dir + "/missing/copy.exe", contents);
  EXPECT_EQ(r.failure, StandaloneFailure::outputNotCreated);
  EXPECT_EQ(r.error, ENOENT);
  EXPECT_EQ(r.path, dir + "/missing/copy.exe");
  EXPECT_TRUE(leftovers().empty());

  // Temporary files in a folder that does not exist.
  contents.workDirectory = dir + "/no-work-here";
  r = buildStandaloneReporting(dir + "/copy.exe", contents);
  EXPECT_EQ(r.failure, StandaloneFailure::temporaryFile);
  EXPECT_EQ(r.path, dir + "/no-work-here/newpacktemp!");
  contents.workDirectory.clear();

  // A program file that is gone.
  contents.programFile = dir + "/gone";
  r = buildStandaloneReporting(dir + "/copy.exe", contents);
  EXPECT_EQ(r.failure, StandaloneFailure::programUnreadable);
  EXPECT_EQ(r.path, dir + "/gone");
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(StandaloneBuildTest, NoRoomForTheFileLeavesNoHalfCopy) {
  // Files may grow to 1 MB here: the container (1.2 MB of pictures) can't.
  testenv::writeFile(dir + "/copy.exe", "an older copy");
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &previous);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1000000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const StandaloneResult r = buildStandaloneReporting(dir + "/copy.exe", contents);
  setrlimit(RLIMIT_FSIZE, &old);
  sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_EQ(r.failure, StandaloneFailure::diskFull);
  EXPECT_EQ(r.error, EFBIG);
  EXPECT_EQ(r.bytes, 0u);
  EXPECT_EQ(testenv::readFile(dir + "/copy.exe"), "an older copy");  // untouched
  EXPECT_EQ(leftovers(), std::vector<std::string>{"copy.exe"});
}

}  // namespace
