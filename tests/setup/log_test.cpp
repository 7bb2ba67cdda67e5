// The install log, its replay order and the progress value.
#include <gtest/gtest.h>

#include <thread>

#include "setup/installlog.h"
#include "setup/progress.h"

namespace {

TEST(InstallLogTest, FormatAndLineEnds) {
  InstallLog log("Lumenmere", "0.1");
  EXPECT_EQ(log.text(), "Title:Lumenmere\r\nversion:0.1\r\n");
  EXPECT_TRUE(log.append("Makedir:/a"));
  EXPECT_TRUE(log.appendPath("Copyfile:", "/a/b"));
  EXPECT_EQ(log.text(), "Title:Lumenmere\r\nversion:0.1\r\nMakedir:/a\r\nCopyfile:/a/b\r\n");
}

TEST(InstallLogTest, RelativePathsAreLoggedAgainstTheCurrentDirectory) {
  InstallLog log("T", "1");
  log.appendPath("Copyfile:", "x.txt");
  const std::string& t = log.text();
  const size_t at = t.find("Copyfile:/");
  ASSERT_NE(at, std::string::npos) << t;
  EXPECT_NE(t.find("/x.txt\r\n", at), std::string::npos);
}

TEST(InstallLogTest, CapacityIs500000Bytes) {
  InstallLog log("T", "1");  // 15 bytes with their line ends
  const size_t start = log.size();
  // Lines that fill the log to exactly capacity - 3: the next line of any
  // length is dropped, since used + length + 3 reaches the capacity.
  const std::string line(997, 'x');  // 999 bytes with CR LF
  while (log.size() + line.size() + 3 < InstallLog::kCapacity) ASSERT_TRUE(log.append(line));
  EXPECT_LT(log.size(), InstallLog::kCapacity);
  const size_t before = log.size();
  // The largest line that still fits leaves the used length at capacity - 2.
  const size_t room = InstallLog::kCapacity - before - 3 - 1;
  EXPECT_FALSE(log.append(std::string(room + 1, 'y')));
  EXPECT_EQ(log.size(), before);
  EXPECT_TRUE(log.append(std::string(room, 'y')));
  EXPECT_EQ(log.size(), InstallLog::kCapacity - 2);
  EXPECT_FALSE(log.append(""));
  EXPECT_GT(log.size(), start);
}

TEST(InstallLogTest, ReplayRunsLastLineFirstAndPassesOverWhatItMustNotTouch) {
  const std::string text =
      "Makedir:/never\r\n"  // the first line is never acted on
      "version:1\r\n"
      "Makedir:/inst\r\n"
      "Copyfile:/inst/a\r\n"
      "MAKEDIR:/inst/sub\r\n"
      "copyfile:/inst/sub/b\r\n"
      "Copyfile:relative/c\r\n"
      "Copyfile:/inst/../etc/passwd\r\n"
      "Makedir:/inst/./x\r\n"
      "Copyfile:\r\n"
      ":/nokey\r\n"
      "Other:/inst/z\r\n"
      "Copyfile:/inst/Uninstall.exe";  // no line end after the last line
  const std::vector<LogAction> actions = replayActions(text);
  ASSERT_EQ(actions.size(), 5u);
  EXPECT_EQ(actions[0].path, "/inst/Uninstall.exe");
  EXPECT_EQ(actions[0].kind, LogAction::removeFile);
  EXPECT_EQ(actions[1].path, "/inst/sub/b");
  EXPECT_EQ(actions[2].path, "/inst/sub");
  EXPECT_EQ(actions[2].kind, LogAction::removeDirectory);
  EXPECT_EQ(actions[3].path, "/inst/a");
  EXPECT_EQ(actions[4].path, "/inst");
}

TEST(InstallLogTest, PlainAbsolutePaths) {
  EXPECT_TRUE(plainAbsolutePath("/a/b..c/d"));
  EXPECT_TRUE(plainAbsolutePath("/"));
  for (const char* bad : {"", "a/b", "/a/../b", "/a/..", "/./a", "../a"}) EXPECT_FALSE(plainAbsolutePath(bad)) << bad;
}

TEST(ProgressTest, ReporterTruncatesAndThePageShowsAtMost100) {
  ProgressValue v;
  EXPECT_EQ(v.read(), 0);
  const struct {
    double fraction;
    int value, shown;
  } cases[] = {{0.0, 0, 0}, {0.4199, 41, 41}, {0.999, 99, 99}, {1.0, 100, 100}, {1.1, 110, 100}, {-0.5, 0, 0}};
  for (const auto& c : cases) {
    ASSERT_TRUE(v.report(c.fraction));
    EXPECT_EQ(v.read(), c.value) << c.fraction;
    EXPECT_EQ(shownPercent(v.read()), c.shown) << c.fraction;
  }
  EXPECT_GE(110, kProgressFinished);
  EXPECT_LT(100, kProgressFinished);
  EXPECT_EQ(progressText(shownPercent(110), false), "Install progress 100%");
  EXPECT_EQ(progressText(7, true), "Uninstall progress 7%");
}

TEST(ProgressTest, BothSidesGiveUpAfter50Milliseconds) {
  ProgressValue v;
  ASSERT_TRUE(v.report(0.3));
  std::unique_lock<std::timed_mutex> held(v.mutex());
  int read = 0;
  bool reported = true;
  const auto start = std::chrono::steady_clock::now();
  std::thread other([&] {
    read = v.read();
    reported = v.report(0.9);
  });
  other.join();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(read, -1);
  EXPECT_FALSE(reported);
  EXPECT_GE(waited, std::chrono::milliseconds(95));
  held.unlock();
  EXPECT_EQ(v.read(), 30);  // the dropped report changed nothing
}

}  // namespace
