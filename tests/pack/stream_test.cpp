#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "pack/fileops.h"
#include "pack/pack.h"
#include "pack/packstream.h"
#include "pack/standalone.h"
#include "platform/files.h"
#include "tests/common/testenv.h"
#include "tests/pack/packbytes.h"

using namespace packtest;

namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Publishes a Pack for one test and takes it back afterwards.
class PublishedPack {
 public:
  explicit PublishedPack(const std::string& path) {
    count = pack.open(path);
    publishProcessPack(&pack);
  }
  ~PublishedPack() { publishProcessPack(nullptr); }
  Pack pack;
  int count = 0;
};

}  // namespace

TEST(PackStream, BehavesLikeTheCLibraryOverAMember) {
  const std::string dir = testenv::freshDir("stream");
  const std::string song = pattern(5000, 21);
  ASSERT_TRUE(testenv::writeFile(dir + "/c.pck", flatContainer({{"first.bin", "xyz"}, {"Song.mp3", song}})));
  ASSERT_TRUE(testenv::writeFile(dir + "/plain.mp3", song));
  PublishedPack published(dir + "/c.pck");
  ASSERT_EQ(published.count, 2);

  PackStream* member = PackStream::open("C:\\music\\song.MP3", "rb");
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(member->source(), PackStream::kMember);
  EXPECT_EQ(member->memberIndex(), 1);
  PackStream* disk = PackStream::open((dir + "/plain.mp3").c_str(), "rb");
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(disk->source(), PackStream::kDiskFile);
  std::FILE* reference = std::fopen((dir + "/plain.mp3").c_str(), "rb");
  ASSERT_NE(reference, nullptr);

  enum Op { kRead, kSeek, kTell };
  struct Step {
    Op op;
    long a;
    int b;
  } steps[] = {
      {kRead, 100, 0},        {kTell, 0, 0},         {kSeek, 10, SEEK_CUR}, {kRead, 7, 0},
      {kSeek, -20, SEEK_END}, {kTell, 0, 0},         {kRead, 100, 0},       {kTell, 0, 0},
      {kRead, 5, 0},          {kSeek, 0, SEEK_SET},  {kRead, 4096, 0},      {kSeek, -5, SEEK_CUR},
      {kRead, 10, 0},         {kSeek, -1, SEEK_SET}, {kTell, 0, 0},         {kSeek, 6000, SEEK_SET},
      {kTell, 0, 0},          {kRead, 10, 0},        {kSeek, 0, SEEK_END},  {kTell, 0, 0},
      {kRead, 1, 0},
  };
  for (PackStream* s : {member, disk}) {
    std::rewind(reference);
    int i = 0;
    for (const Step& step : steps) {
      SCOPED_TRACE(testing::Message() << (s == member ? "member" : "disk") << " step " << i++);
      switch (step.op) {
        case kRead: {
          std::string want(static_cast<size_t>(step.a), '\0'), got(static_cast<size_t>(step.a), '\0');
          const size_t n = std::fread(want.data(), 1, want.size(), reference);
          ASSERT_EQ(s->read(got.data(), 1, got.size()), n);
          EXPECT_EQ(got.substr(0, n), want.substr(0, n));
          break;
        }
        case kSeek: EXPECT_EQ(s->seek(step.a, step.b) == 0, std::fseek(reference, step.a, step.b) == 0); break;
        case kTell: EXPECT_EQ(s->tell(), std::ftell(reference)); break;
      }
    }
  }
  // Items larger than one byte: a member stream reports bytes.
  ASSERT_EQ(member->seek(0, SEEK_SET), 0);
  char four[8];
  EXPECT_EQ(member->read(four, 4, 2), 8u);
  EXPECT_EQ(std::string(four, 8), song.substr(0, 8));
  EXPECT_EQ(member->read(four, 0, 2), 0u);

  std::fclose(reference);
  EXPECT_EQ(PackStream::close(member), 0);
  EXPECT_EQ(PackStream::close(disk), 0);
  EXPECT_EQ(PackStream::open((dir + "/absent.mp3").c_str(), "rb"), nullptr);
  // The first member (index 0) is a member like any other.
  PackStream* first = PackStream::open("first.bin", "rb");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->memberIndex(), 0);
  EXPECT_EQ(PackStream::close(first), 0);
}

TEST(PackStream, TheEngineTableSwitchesAllFiveAtOnce) {
  const std::string dir = testenv::freshDir("fileops");
  ASSERT_TRUE(testenv::writeFile(dir + "/c.pck", flatContainer({{"tune.mp3", "packed tune"}})));
  ASSERT_TRUE(testenv::writeFile(dir + "/tune.mp3", "disk tune"));
  PublishedPack published(dir + "/c.pck");
  const std::string path = dir + "/tune.mp3";

  auto readAll = [&path](const FileOps& ops) {
    void* h = ops.open(path.c_str(), "rb");
    if (!h) return std::string("<none>");
    char buffer[64];
    const size_t n = ops.read(buffer, 1, sizeof buffer, h);
    std::string out(buffer, n);
    EXPECT_EQ(ops.seek(h, 2, SEEK_SET), 0);
    EXPECT_EQ(ops.tell(h), 2);
    EXPECT_EQ(ops.close(h), 0);
    return out;
  };
  EXPECT_FALSE(engineFileOpsUsePack());
  EXPECT_EQ(readAll(engineFileOps()), "disk tune");
  switchEngineFileOpsToPack();
  EXPECT_TRUE(engineFileOpsUsePack());
  EXPECT_EQ(readAll(engineFileOps()), "packed tune");
  resetEngineFileOps();
  EXPECT_FALSE(engineFileOpsUsePack());
  EXPECT_EQ(readAll(engineFileOps()), "disk tune");
}

// ---------------------------------------------------------------------------
// The standalone copy

TEST(Standalone, CopyHoldsTheProgramThenItsOwnContainer) {
  const std::string dir = testenv::freshDir("standalone");
  const std::string program = pattern(1001, 30);  // not a multiple of 4
  ASSERT_TRUE(testenv::writeFile(dir + "/aquaveil", program));
  ASSERT_TRUE(testenv::writeFile(dir + "/boat.tga", "boat pixels"));
  ASSERT_TRUE(platform::makeDirectories(dir + "/p1"));
  ASSERT_TRUE(platform::makeDirectories(dir + "/p2"));
  ASSERT_TRUE(testenv::writeFile(dir + "/p1/pic.jpg", "first picture"));
  ASSERT_TRUE(testenv::writeFile(dir + "/p2/pic.jpg", "second picture"));
  ASSERT_TRUE(testenv::writeFile(dir + "/p1/b.bmp", pattern(0x40000 + 9, 31)));
  ASSERT_TRUE(testenv::writeFile(dir + "/s1.mp3", "song one"));

  StandaloneContents c;
  c.settings = std::string("settings\0bytes", 14);
  c.images = {dir + "/p1/pic.jpg", dir + "/p2/pic.jpg", dir + "/gone.jpg", dir + "/p1/b.bmp"};
  c.songs = {dir + "/s1.mp3"};
  c.builderName = "Ada";
  c.programFile = dir + "/aquaveil";
  const std::string out = dir + "/copy.exe";
  const uint64_t written = buildStandalone(out, c);

  const std::string copy = testenv::readFile(out);
  EXPECT_EQ(written, copy.size());
  ASSERT_GT(copy.size(), program.size());
  EXPECT_EQ(copy.substr(0, program.size()), program);
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IXUSR, 0u);
  EXPECT_FALSE(exists(dir + "/test.pck"));
  EXPECT_FALSE(exists(dir + "/newpacktemp!"));

  Pack p;
  ASSERT_EQ(p.open(out), 7);
  EXPECT_EQ(p.signatureOffset(), program.size());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Lumenmere.ini", c.settings}, {"boat.tga", "boat pixels"},         {"pic.jpg", "first picture"},
      {"pic.jpg", "second picture"}, {"b.bmp", pattern(0x40000 + 9, 31)}, {"s1.mp3", "song one"},
      {"greeting.txt", "Ada"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(std::string(p.entries()[i].name), expected[i].first);
    EXPECT_EQ(p.readRange(static_cast<int>(i)), expected[i].second) << i;
  }
  EXPECT_EQ(standaloneBuilderName(p), "Ada");
  // The copy reads its pictures by file name: the first of two wins.
  std::string bytes;
  EXPECT_EQ(p.load("C:\\elsewhere\\PIC.jpg", bytes), kPackLoadFromPack);
  EXPECT_EQ(bytes, "first picture");
}

TEST(Standalone, ACopyOfACopyCarriesOnlyTheNewContainer) {
  const std::string dir = testenv::freshDir("copycopy");
  const std::string program = pattern(333, 40);
  ASSERT_TRUE(testenv::writeFile(dir + "/old.exe", program + flatContainer({{"Lumenmere.ini", "old settings"}})));
  // The running program's own container supplies the boat.
  ASSERT_TRUE(testenv::writeFile(dir + "/running.pck", flatContainer({{"boat.tga", "packed boat"}})));
  PublishedPack published(dir + "/running.pck");
  ASSERT_TRUE(testenv::writeFile(dir + "/boat.tga", "disk boat"));

  StandaloneContents c;
  c.settings = "new settings";
  c.programFile = dir + "/old.exe";
  ASSERT_GT(buildStandalone(dir + "/new.exe", c), 0u);
  Pack p;
  ASSERT_EQ(p.open(dir + "/new.exe"), 2);
  EXPECT_EQ(p.signatureOffset(), program.size());
  EXPECT_EQ(p.readRange(0), "new settings");
  EXPECT_EQ(p.readRange(1), "packed boat");
  EXPECT_EQ(standaloneBuilderName(p), "");
}

TEST(Standalone, AFailedBuildLeavesNothingBehind) {
  const std::string dir = testenv::freshDir("failed");
  ASSERT_TRUE(testenv::writeFile(dir + "/aquaveil", "program"));
  StandaloneContents c;
  c.settings = "s";
  c.programFile = dir + "/aquaveil";
  EXPECT_EQ(buildStandalone(dir + "/missing/dir/copy.exe", c), 0u);
  EXPECT_FALSE(exists(dir + "/test.pck"));
  EXPECT_FALSE(exists(dir + "/newpacktemp!"));
  EXPECT_FALSE(exists(dir + "/missing"));
  c.programFile = dir + "/no-program";
  EXPECT_EQ(buildStandalone(dir + "/copy.exe", c), 0u);
  EXPECT_FALSE(exists(dir + "/copy.exe"));
  EXPECT_FALSE(exists(dir + "/test.pck"));
  std::vector<platform::DirEntry> left;
  ASSERT_TRUE(platform::listDirectory(dir, "*", left));
  EXPECT_EQ(left.size(), 1u);  // only the program
}

// ---------------------------------------------------------------------------
// The inspector

namespace {

struct ToolRun {
  int status;
  std::string out;
};

ToolRun runTool(const std::string& args) {
  const std::string command = std::string(LM_AQPACK_PATH) + " " + args + " 2>/dev/null";
  ToolRun r{-1, {}};
  std::FILE* f = popen(command.c_str(), "r");
  if (!f) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) r.out.append(buffer, n);
  const int status = pclose(f);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace

TEST(Aqpack, ListsTheHeaderAndEveryEntry) {
  const std::string dir = testenv::freshDir("aqpack");
  RawEntry a;
  a.name = "a.txt";
  a.checksum = 77;
  a.offset = 0;
  a.length = 3;
  a.next = 2;
  a.previous = 4;
  a.parent = 5;
  a.firstChild = 6;
  RawEntry b;
  b.name = "sub dir";
  b.kind = 1;
  b.offset = 3;
  std::string file = "xyz" + header(999, 2, 11, 12, 1) + entry(a) + entry(b) + "abc";
  ASSERT_TRUE(testenv::writeFile(dir + "/c.pck", file));
  const ToolRun r = runTool("list " + dir + "/c.pck");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "offset=3 total=999 count=2 reserved=11,12,1\n"
            "0\t0\t0\t3\t2\t4\t5\t6\t77\ta.txt\n"
            "1\t1\t3\t0\t0\t0\t0\t0\t0\tsub dir\n");
  ASSERT_TRUE(testenv::writeFile(dir + "/plain", "no container"));
  EXPECT_EQ(runTool("list " + dir + "/plain").status, 1);
  EXPECT_EQ(runTool("list " + dir + "/absent").status, 1);
}

TEST(Aqpack, PacksAndUnpacksTrees) {
  const std::string dir = testenv::freshDir("aqtree");
  ASSERT_TRUE(platform::makeDirectories(dir + "/Tree/sub"));
  ASSERT_TRUE(testenv::writeFile(dir + "/Tree/sub/f.txt", "inside"));
  ASSERT_EQ(runTool("tree " + dir + "/Tree " + dir + "/t.pck").status, 0);
  ASSERT_TRUE(platform::makeDirectories(dir + "/out"));
  const ToolRun r = runTool("extract " + dir + "/t.pck " + dir + "/out");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Makedir:" + dir + "/out/Tree\nMakedir:" + dir + "/out/Tree/sub\nCopyfile:" + dir +
                       "/out/Tree/sub/f.txt\n");
  EXPECT_EQ(testenv::readFile(dir + "/out/Tree/sub/f.txt"), "inside");

  ASSERT_EQ(runTool("flat " + dir + "/f.pck " + dir + "/Tree/sub/f.txt").status, 0);
  Pack p;
  ASSERT_EQ(p.open(dir + "/f.pck"), 1);
  EXPECT_EQ(p.readRange(0), "inside");
  EXPECT_EQ(runTool("flat " + dir + "/g.pck " + dir + "/nothing.txt").status, 1);
}

TEST(Aqpack, ExtractionFailsWhenAnythingIsNotExtracted) {
  const std::string dir = testenv::freshDir("aqfail");
  ASSERT_TRUE(platform::makeDirectories(dir + "/Tree"));
  ASSERT_TRUE(testenv::writeFile(dir + "/Tree/f.txt", "inside"));
  ASSERT_EQ(runTool("tree " + dir + "/Tree " + dir + "/t.pck").status, 0);
  // The target is missing.
  EXPECT_EQ(runTool("extract " + dir + "/t.pck " + dir + "/missing").status, 1);
  // A name was refused: what was extracted stays, and the run fails.
  RawEntry root;
  root.name = "root";
  RawEntry bad;
  bad.name = "..";
  bad.next = 2;
  bad.parent = 0;
  bad.length = 1;
  RawEntry good;
  good.name = "good";
  good.offset = 1;
  good.length = 1;
  ASSERT_TRUE(
      testenv::writeFile(dir + "/h.pck", header(0, 3, 0, 0, 0) + entry(root) + entry(bad) + entry(good) + "ab"));
  ASSERT_TRUE(platform::makeDirectories(dir + "/out"));
  const std::string errPath = dir + "/stderr.txt";
  const int status = std::system(
      (std::string(LM_AQPACK_PATH) + " extract " + dir + "/h.pck " + dir + "/out 2>" + errPath + " >/dev/null")
          .c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_EQ(testenv::readFile(dir + "/out/root/good"), "b");
  const std::string said = testenv::readFile(errPath);
  EXPECT_NE(said.find(dir + "/out/root/..: unsafe file name refused"), std::string::npos) << said;
  // The walk stops on an inconsistent directory.
  good.next = 7;
  ASSERT_TRUE(
      testenv::writeFile(dir + "/i.pck", header(0, 3, 0, 0, 0) + entry(root) + entry(bad) + entry(good) + "ab"));
  EXPECT_EQ(runTool("extract " + dir + "/i.pck " + dir + "/out").status, 1);
}
