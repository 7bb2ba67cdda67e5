#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "pack/pack.h"
#include "platform/files.h"
#include "tests/common/testenv.h"
#include "tests/pack/packbytes.h"

using namespace packtest;

namespace {

constexpr size_t kMiB = 1u << 20;

std::string writeTemp(const std::string& bytes, const std::string& name = "c.pck") {
  const std::string path = testenv::freshDir("reader") + "/" + name;
  EXPECT_TRUE(testenv::writeFile(path, bytes));
  return path;
}

}  // namespace

TEST(PackReader, FindsTheSignatureAtEveryBytePositionAndAcrossWindows) {
  const std::string pack = flatContainer({{"a.txt", "first member"}, {"b.bin", pattern(300, 1)}});
  // Offsets that are not multiples of 4, and starts in the last 23 bytes of
  // a search window (the first window is 1 MiB + 24 bytes; each later one
  // starts 24 bytes before the previous one's end).
  const size_t offsets[] = {0,        1,         2,         3,         1021,         kMiB - 1,     kMiB,
                            kMiB + 1, kMiB + 12, kMiB + 23, kMiB + 24, 2 * kMiB + 7, 2 * kMiB + 23};
  for (size_t offset : offsets) {
    std::string file = pattern(offset, 7) + pack;
    const std::string path = writeTemp(file);
    Pack p;
    ASSERT_EQ(p.open(path), 2) << "offset " << offset;
    EXPECT_EQ(p.signatureOffset(), offset);
    EXPECT_EQ(p.dataOffset(), offset + 44 + 2 * 96);
    EXPECT_EQ(p.readRange(p.findMember("a.txt")), "first member") << "offset " << offset;
    EXPECT_EQ(p.readRange(p.findMember("b.bin")), pattern(300, 1));
  }
}

TEST(PackReader, TheFirstContainerWinsAndAPartialSignatureIsNotOne) {
  const std::string sig = signature();
  std::string file = "program" + sig.substr(0, 23) + "x" + sig.substr(1) + "y";
  const size_t first = file.size();
  file += flatContainer({{"one.txt", "1"}});
  file += flatContainer({{"two.txt", "2"}, {"three.txt", "3"}});
  Pack p;
  ASSERT_EQ(p.open(writeTemp(file)), 1);
  EXPECT_EQ(p.signatureOffset(), first);
  EXPECT_GE(p.findMember("one.txt"), 0);
  EXPECT_EQ(p.findMember("two.txt"), -1);
}

TEST(PackReader, AnOpenContainerIsReplacedOnlyOnSuccess) {
  Pack p;
  ASSERT_EQ(p.open(writeTemp(flatContainer({{"keep.txt", "kept"}}))), 1);
  // An empty container is 44 bytes and counts as none.
  const std::string empty = flatContainer({});
  EXPECT_EQ(empty.size(), 44u);
  EXPECT_EQ(p.open(writeTemp(empty)), 0);
  EXPECT_EQ(p.open(writeTemp("no container here")), 0);
  EXPECT_EQ(p.open(testenv::root() + "/does-not-exist"), 0);
  EXPECT_EQ(p.open(testenv::root()), 0);  // a directory
  EXPECT_EQ(p.readRange(p.findMember("keep.txt")), "kept");
  ASSERT_EQ(p.open(writeTemp(flatContainer({{"new.txt", "n"}}))), 1);
  EXPECT_EQ(p.findMember("keep.txt"), -1);
  EXPECT_GE(p.findMember("new.txt"), 0);
}

TEST(PackReader, TheseProgramFilesDoNotCarryTheSignature) {
  // Programs that write containers build the signature at run time; were it
  // stored as one run, the program would find "its own" container in itself.
  Pack p;
  EXPECT_EQ(p.open(std::string()), 0) << platform::programPath();
  EXPECT_EQ(p.open(LM_AQPACK_PATH), 0);
}

TEST(PackReader, FindsMembersByFileNameIgnoringCaseAndDirectories) {
  RawEntry dir;
  dir.name = "Boat.tga";
  dir.kind = 1;  // a directory of the same name does not count for findMember
  RawEntry boat;
  boat.name = "boat.tga";
  boat.length = 4;
  RawEntry other;
  other.name = "other.bin";
  other.offset = 4;
  other.length = 2;
  Pack p;
  ASSERT_EQ(p.open(writeTemp(container({dir, boat, other}, "BOATok"))), 3);
  uint32_t length = 0;
  struct Case {
    const char* path;
    int index;
  } cases[] = {{"pack\\Boat.TGA", 1},
               {"boat.tga", 1},
               {"/some/dir/BOAT.TGA", 1},
               {"C:\\x\\y/OTHER.bin", 2},
               {"boat.tg", -1},
               {"", -1},
               {"pack\\", -1}};
  for (const Case& c : cases) EXPECT_EQ(p.findMember(c.path, &length), c.index) << c.path;
  EXPECT_EQ(p.findMember("pack\\Boat.TGA", &length), 1);
  EXPECT_EQ(length, 4u);
  // load takes the first entry of any kind; the whole-name lookup keeps
  // the directory part.
  EXPECT_EQ(p.findEntry("x/Boat.tga", true), 0);
  EXPECT_EQ(p.findEntry("x/Boat.tga", false), -1);
  Pack closed;
  EXPECT_EQ(closed.findMember("boat.tga"), -1);
  EXPECT_EQ(closed.readRange(0), "");
}

TEST(PackReader, ReadRangeLimitsToStartAndMax) {
  const std::string member = pattern(100, 3);
  Pack p;
  ASSERT_EQ(p.open(writeTemp(flatContainer({{"m", member}}))), 1);
  struct Case {
    size_t start, max, expect;
  } cases[] = {{10, 0, 90}, {0, 0, 100}, {0, 5, 5}, {95, 10, 5}, {99, 0, 1}, {100, 0, 0}, {250, 0, 0}, {10, 90, 90}};
  for (const Case& c : cases) {
    const std::string got = p.readRange(0, c.start, c.max);
    ASSERT_EQ(got.size(), c.expect) << c.start << "/" << c.max;
    EXPECT_EQ(got, member.substr(std::min<size_t>(c.start, 100), c.expect));
    EXPECT_EQ(got.c_str()[got.size()], '\0');  // a NUL after the data
  }
  // Into a caller's buffer: never more than its capacity, 0 reads nothing.
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(p.readRange(0, buffer, 8, 10), 8u);
  EXPECT_EQ(std::string(buffer, 8), member.substr(10, 8));
  EXPECT_EQ(buffer[8], '#');
  EXPECT_EQ(p.readRange(0, buffer, 0, 0), 0u);
  EXPECT_EQ(p.readRange(1, buffer, 8, 0), 0u);
  EXPECT_EQ(p.readRange(-1, buffer, 8, 0), 0u);
}

TEST(PackReader, LyingHeadersNeverReadOutsideTheFile) {
  // Each case is a container whose numbers point past the end of the file;
  // the reader must hold only what is there and read only what the file
  // has (AddressSanitizer watches the buffers).
  RawEntry good;
  good.name = "good";
  good.length = 4;
  RawEntry far;
  far.name = "far";
  far.offset = 0xFFFFFF00u;
  far.length = 0x100u;
  RawEntry huge;
  huge.name = "huge";
  huge.offset = 2;
  huge.length = 0xFFFFFFF0u;

  {
    // The header claims 1000 entries, 3 are there: the 3 whole ones count.
    std::string file = header(0, 1000) + entry(good) + entry(far) + entry(huge) + "DATA";
    Pack p;
    ASSERT_EQ(p.open(writeTemp(file)), 3);
    EXPECT_EQ(p.declaredCount(), 1000u);
    // The data area begins after the declared directory: past the file.
    EXPECT_EQ(p.readRange(p.findMember("good")), "");
  }
  {
    Pack p;
    ASSERT_EQ(p.open(writeTemp(container({good, far, huge}, "DATAxyz"))), 3);
    EXPECT_EQ(p.readRange(0), "DATA");
    EXPECT_EQ(p.readRange(1), "");                  // offset past the end
    EXPECT_EQ(p.readRange(2), "TAxyz");             // length past the end: what is there
    EXPECT_EQ(p.readRange(2, 0xFFFFFF00u, 0), "");  // start past the end
    std::string bytes;
    EXPECT_EQ(p.load("huge", bytes), kPackLoadFromPack);
    EXPECT_EQ(bytes, "TAxyz");
  }
  {
    // Cut inside the header, inside the directory, inside an entry.
    const std::string whole = container({good, far}, "DATA");
    struct Cut {
      size_t length;
      int count;
    } cuts[] = {{24, 0}, {43, 0}, {44, 0}, {44 + 95, 0}, {44 + 96, 1}, {44 + 96 + 50, 1}, {44 + 192 + 2, 2}};
    for (const Cut& c : cuts) {
      Pack p;
      EXPECT_EQ(p.open(writeTemp(whole.substr(0, c.length))), c.count) << c.length;
      if (c.count == 2) {
        EXPECT_EQ(p.readRange(0), "DA");
      }
    }
  }
  {
    // A name that fills all 64 bytes without a NUL is cut at 63 characters.
    RawEntry longName;
    longName.name = std::string(64, 'n');
    longName.length = 1;
    Pack p;
    ASSERT_EQ(p.open(writeTemp(container({longName}, "z"))), 1);
    EXPECT_EQ(std::string(p.entries()[0].name), std::string(63, 'n'));
    EXPECT_EQ(p.findMember(std::string(63, 'n')), 0);
  }
}

TEST(PackReader, LoadFallsFromThePackToTheDiskToTheFallbackSlot) {
  const std::string dir = testenv::freshDir("load");
  ASSERT_TRUE(platform::setCurrentDirectory(dir));
  ASSERT_TRUE(testenv::writeFile(dir + "/disk.bin", "0123456789"));
  ASSERT_TRUE(platform::makeDirectories(dir + "/pack"));
  ASSERT_TRUE(testenv::writeFile(dir + "/pack/x.bmp", "in pack dir"));
  ASSERT_TRUE(testenv::writeFile(dir + "/x.bmp", "in current dir"));
  ASSERT_TRUE(testenv::writeFile(dir + "/pack/only.bmp", "only below pack"));
  Pack p;
  ASSERT_EQ(p.open(writeTemp(flatContainer({{"member.txt", "from the container"}, {"disk.bin", "packed"}}))), 2);

  std::string bytes;
  EXPECT_EQ(p.load("C:\\anywhere\\MEMBER.TXT", bytes), kPackLoadFromPack);
  EXPECT_EQ(bytes, "from the container");
  EXPECT_EQ(p.load("disk.bin", bytes), kPackLoadFromPack);  // the pack wins over a file
  EXPECT_EQ(bytes, "packed");
  EXPECT_EQ(p.load("x.bmp", bytes), kPackLoadFromDisk);
  EXPECT_EQ(bytes, "in current dir");
  EXPECT_EQ(p.load("only.bmp", bytes), kPackLoadFromDisk);
  EXPECT_EQ(bytes, "only below pack");
  EXPECT_EQ(p.load("nowhere.bmp", bytes), kPackLoadNothing);
  EXPECT_TRUE(bytes.empty());

  Pack closed;
  EXPECT_EQ(closed.load("disk.bin", bytes, 2, 0), kPackLoadFromDisk);
  EXPECT_EQ(bytes, "23456789");
  EXPECT_EQ(bytes.c_str()[bytes.size()], '\0');
  EXPECT_EQ(closed.load(dir + "/disk.bin", bytes, 0, 4), kPackLoadFromDisk);
  EXPECT_EQ(bytes, "0123");
  EXPECT_EQ(closed.load("pack\\x.bmp", bytes), kPackLoadFromDisk);  // the other system's separator
  EXPECT_EQ(bytes, "in pack dir");

  char buffer[6] = {};
  size_t length = 99;
  EXPECT_EQ(closed.load("disk.bin", buffer, 5, length, 3), kPackLoadFromDisk);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(std::string(buffer, 5), "34567");
  EXPECT_EQ(p.load("member.txt", buffer, 4, length), kPackLoadFromPack);
  EXPECT_EQ(std::string(buffer, length), "from");

  packFallbackLoader() = [](std::string_view path, std::string& out) {
    if (path != "made.up") return false;
    out = "from the slot";
    return true;
  };
  EXPECT_EQ(closed.load("made.up", bytes), kPackLoadFromFallback);
  EXPECT_EQ(bytes, "from the slot");
  EXPECT_EQ(closed.load("made.up", buffer, 4, length), kPackLoadFromFallback);
  EXPECT_EQ(std::string(buffer, length), "from");
  EXPECT_EQ(closed.load("other.thing", bytes), kPackLoadNothing);
  packFallbackLoader() = nullptr;
  EXPECT_EQ(closed.load("made.up", bytes), kPackLoadNothing);
}

TEST(PackReader, ConcurrentMemberReadsStayWhole) {
  // The window thread and the music engine's input thread read the same
  // container file at once; each read must be its own seek and read.
  const std::string a = pattern(64 * 1024, 11), b = pattern(64 * 1024, 12);
  Pack p;
  ASSERT_EQ(p.open(writeTemp(flatContainer({{"a", a}, {"b", b}}))), 2);
  std::atomic<int> bad{0};
  auto reader = [&](int index, const std::string& expect) {
    std::string buffer(4096, '\0');
    for (int round = 0; round < 400; ++round) {
      const size_t start = static_cast<size_t>(round * 131) % (expect.size() - 4096);
      const size_t n = p.readRange(index, buffer.data(), buffer.size(), start);
      if (n != buffer.size() || buffer != expect.substr(start, 4096)) ++bad;
    }
  };
  std::thread t1(reader, 0, std::cref(a)), t2(reader, 1, std::cref(b));
  t1.join();
  t2.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(PackReader, TheProcessWidePackCanBeReplaced) {
  Pack& builtin = processPack();
  Pack mine;
  ASSERT_EQ(mine.open(writeTemp(flatContainer({{"m", "mine"}}))), 1);
  publishProcessPack(&mine);
  EXPECT_EQ(&processPack(), &mine);
  std::string bytes;
  EXPECT_EQ(processPack().load("m", bytes), kPackLoadFromPack);
  publishProcessPack(nullptr);
  EXPECT_EQ(&processPack(), &builtin);
}

TEST(PackReader, StartUpOpensTheProgramElsePackDat) {
  const std::string dir = testenv::freshDir("startup");
  ASSERT_TRUE(platform::setCurrentDirectory(dir));
  Pack p;
  EXPECT_EQ(openStartupPack(p), 0);  // neither holds one
  EXPECT_FALSE(p.isOpen());
  ASSERT_TRUE(testenv::writeFile(dir + "/pack.dat", flatContainer({{"boat.tga", "b"}, {"x", "y"}})));
  EXPECT_EQ(openStartupPack(p), 2);
  EXPECT_EQ(p.path(), "pack.dat");
}

TEST(PackReader, SpecialFilesAreNeverWaitedOn) {
  const std::string dir = testenv::freshDir("fifo");
  const std::string fifo = dir + "/pipe.dat";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // In a child with an alarm, so that a hang fails the test instead of
  // holding the run up.
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(20);
    Pack p;
    std::string bytes;
    char buffer[16];
    size_t length = 0;
    const bool ok = p.open(fifo) == 0 && p.load(fifo, bytes) == kPackLoadNothing &&
                    p.load(fifo, buffer, sizeof buffer, length) == kPackLoadNothing &&
                    p.load(fifo, buffer, 0, length) == kPackLoadNothing;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
