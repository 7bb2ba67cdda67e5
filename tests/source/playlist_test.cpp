// Play lists: the nine play modes, the order of the random draws, the
// extension-major order, trimming and the capacity of the working buffer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/crtrand.h"
#include "platform/files.h"
#include "source/configfilelist.h"
#include "tests/common/testenv.h"

namespace {

// The files of one directory in the order the file system lists them.
std::vector<std::string> listed(const std::string& dir, const std::string& pattern) {
  std::vector<platform::DirEntry> entries;
  platform::listDirectory(dir, pattern, entries);
  std::vector<std::string> out;
  for (const auto& e : entries)
    if (!e.isDirectory) out.push_back(dir + "/" + e.name);
  return out;
}

// Same pool procedure as the lists use, written out independently.
std::vector<size_t> poolDraw(size_t n, size_t c) {
  std::vector<size_t> pool;
  for (size_t i = 0; i < n; ++i) pool.push_back(i);
  std::vector<size_t> out;
  for (size_t k = 0; k < c; ++k) {
    size_t at = size_t(int64_t(pool.size()) * platform::rand() / 32768);
    out.push_back(pool[at]);
    pool.erase(pool.begin() + long(at));
  }
  return out;
}

class PlayListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testenv::freshDir("media");
    for (int d = 0; d < 5; ++d) {
      const std::string dir = root_ + "/dir" + std::to_string(d);
      ASSERT_TRUE(platform::makeDirectories(dir));
      dirs_.push_back(dir);
      for (int f = 0; f < 3; ++f) {
        testenv::writeFile(dir + "/p" + std::to_string(f) + ".jpg", "x");
        testenv::writeFile(dir + "/b" + std::to_string(f) + ".bmp", "x");
      }
      testenv::writeFile(dir + "/SHOUT.JPG", "x");
      testenv::writeFile(dir + "/notes.txt", "x");
      // a folder whose name matches the pattern is no picture
      ASSERT_TRUE(platform::makeDirectories(dir + "/folder.jpg"));
    }
    list_.setExtensions(".jpg", ".bmp", nullptr);
  }
  void useDirs(int n) {
    for (int i = 0; i < n; ++i) list_.dirList.append(dirs_[i]);
  }
  std::string root_;
  std::vector<std::string> dirs_;
  ConfigFileList list_;
};

TEST_F(PlayListTest, DisabledOrUnknownModeGivesNone) {
  platform::srand(5);
  list_.listEnabled = 0;
  EXPECT_FALSE(list_.drawPlayList().present());
  list_.listEnabled = 1;
  for (int mode : {9, -1, 1000}) {
    list_.playMode = mode;
    EXPECT_FALSE(list_.drawPlayList().present()) << mode;
  }
  EXPECT_EQ(platform::randState(), 5u) << "nothing drawn";
  EXPECT_EQ(list_.countPlayList(), 0u);
}

TEST_F(PlayListTest, EmptyListsGiveAnEmptyPlayList) {
  list_.playMode = 1;
  PlayList p = list_.drawPlayList();
  ASSERT_TRUE(p.present());
  EXPECT_EQ(p.bytes(), std::string(1, '\0'));
  list_.playMode = 3;
  p = list_.drawPlayList();
  ASSERT_TRUE(p.present());
  EXPECT_EQ(p.count(), 0u);
}

TEST_F(PlayListTest, FileListInOrderWithoutRandomize) {
  list_.playMode = 1;
  list_.randomizeOrder = 0;
  list_.maxFiles = 1;
  const char files[] = "/x/one.jpg\0/x/two.jpg\0/x/three.png\0";
  list_.addFiles(files);
  useDirs(2);  // mode 1 takes no directories
  PlayList p = list_.drawPlayList();
  EXPECT_EQ(p.paths(), (std::vector<std::string>{"/x/one.jpg", "/x/two.jpg", "/x/three.png"}));
  EXPECT_EQ(p.bytes(), std::string(files, sizeof files));
}

TEST_F(PlayListTest, ExtensionMajorOverDirectories) {
  list_.playMode = 2;
  list_.randomizeOrder = 0;
  useDirs(2);
  list_.selectedDirs[0] = 0;
  list_.selectedDirs[1] = 1;
  std::vector<std::string> expected;
  for (const char* pattern : {"*.jpg", "*.bmp"})
    for (int d = 0; d < 2; ++d)
      for (const std::string& f : listed(dirs_[d], pattern)) expected.push_back(f);
  EXPECT_EQ(expected.size(), 2u * 4 + 2u * 3);  // SHOUT.JPG matches *.jpg
  EXPECT_EQ(list_.drawPlayList().paths(), expected);
}

TEST_F(PlayListTest, SelectedDirectoriesInStoredOrder) {
  list_.playMode = 2;
  list_.randomizeOrder = 0;
  list_.setExtensions(".jpg", nullptr, nullptr);
  useDirs(5);
  struct Case {
    std::vector<int> selected;
    std::vector<int> dirs;
  };
  const Case cases[] = {
      {{3, 1, -1}, {3, 1}},
      {{1, 7, 2}, {1}},  // a value past the directories ends the choice
      {{-1, 2}, {}},
      {{4, 4}, {4, 4}},
  };
  for (const Case& c : cases) {
    std::fill(std::begin(list_.selectedDirs), std::end(list_.selectedDirs), -1);
    for (size_t i = 0; i < c.selected.size(); ++i) list_.selectedDirs[i] = c.selected[i];
    std::vector<std::string> expected;
    for (int d : c.dirs)
      for (const std::string& f : listed(dirs_[d], "*.jpg")) expected.push_back(f);
    EXPECT_EQ(list_.drawPlayList().paths(), expected);
  }
  // Never more values than directories: with two directories, only the
  // first two values count.
  ConfigFileList two;
  two.setExtensions(".jpg", nullptr, nullptr);
  two.playMode = 2;
  two.randomizeOrder = 0;
  two.dirList.append(dirs_[0]);
  two.dirList.append(dirs_[1]);
  two.selectedDirs[0] = 1;
  two.selectedDirs[1] = 0;
  two.selectedDirs[2] = 1;
  EXPECT_EQ(two.drawPlayList().count(), 8u);
}

TEST_F(PlayListTest, MoreDirectoriesAskedForThanExist) {
  list_.playMode = 6;  // four random directories
  list_.randomizeOrder = 0;
  useDirs(2);
  const std::vector<std::string> paths = list_.drawPlayList().paths();
  EXPECT_EQ(paths.size(), 2u * 7);
  std::set<std::string> unique(paths.begin(), paths.end());
  EXPECT_EQ(unique.size(), paths.size());
}

// The random draws come in a fixed order: the mode-0 replacement, the
// directories, then the trim.
TEST_F(PlayListTest, RandomDrawsInTheStatedOrder) {
  useDirs(5);
  list_.addFiles("/single/a.jpg\0/single/b.jpg\0");
  for (uint32_t seed : {1u, 77u, 123456u}) {
    for (int mode = 0; mode <= 8; ++mode) {
      for (int maxFiles : {99, 4}) {
        ConfigFileList l = list_;
        l.playMode = mode;
        l.maxFiles = maxFiles;
        l.randomizeOrder = 1;
        platform::srand(seed);
        const std::vector<std::string> got = l.drawPlayList().paths();

        platform::srand(seed);
        int m = mode;
        if (m == 0) m = (platform::rand() & 7) + 1;
        EXPECT_EQ(l.playMode, m);
        std::vector<size_t> dirs;
        if (m == 2) {
          // none selected
        } else if (m == 8) {
          dirs = poolDraw(5, 5);
        } else if (m >= 3) {
          dirs = poolDraw(5, size_t(m - 2));
        }
        std::vector<std::string> all;
        for (const char* pattern : {"*.jpg", "*.bmp"})
          for (size_t d : dirs)
            for (const std::string& f : listed(dirs_[d], pattern)) all.push_back(f);
        if (m == 1 || m == 8) {
          all.push_back("/single/a.jpg");
          all.push_back("/single/b.jpg");
        }
        std::vector<std::string> expected;
        for (size_t i : poolDraw(all.size(), std::min(all.size(), size_t(maxFiles)))) expected.push_back(all[i]);
        EXPECT_EQ(got, expected) << "seed " << seed << " mode " << mode << " max " << maxFiles;
      }
    }
  }
}

TEST_F(PlayListTest, TrimmingWithAndWithoutRandomize) {
  for (int i = 0; i < 20; ++i) list_.fileList.append("/f/" + std::to_string(i) + ".jpg");
  list_.playMode = 1;
  list_.maxFiles = 5;
  list_.randomizeOrder = 0;
  EXPECT_EQ(list_.drawPlayList().paths(), list_.fileList.strings()) << "no cap without randomize";

  list_.randomizeOrder = 1;
  std::vector<std::string> p = list_.drawPlayList().paths();
  EXPECT_EQ(p.size(), 5u);
  EXPECT_EQ(std::set<std::string>(p.begin(), p.end()).size(), 5u);

  list_.fileList.dropLast(10);
  list_.maxFiles = 99;
  p = list_.drawPlayList().paths();
  ASSERT_EQ(p.size(), 10u);
  std::vector<std::string> sorted = p, original = list_.fileList.strings();
  std::sort(sorted.begin(), sorted.end());
  std::sort(original.begin(), original.end());
  EXPECT_EQ(sorted, original) << "each file once";
}

TEST_F(PlayListTest, LongListsTrimAsThePoolDraws) {
  for (int i = 0; i < 3000; ++i) list_.fileList.append("/f/" + std::to_string(i));
  list_.playMode = 1;
  list_.maxFiles = 2500;
  platform::srand(31337);
  const std::vector<std::string> got = list_.drawPlayList().paths();
  platform::srand(31337);
  std::vector<std::string> expected;
  for (size_t i : poolDraw(3000, 2500)) expected.push_back(list_.fileList.at(i));
  EXPECT_EQ(got, expected);
}

TEST_F(PlayListTest, ModeZeroIsReplacedForGood) {
  list_.playMode = 0;
  useDirs(1);
  platform::srand(99);
  const int expected = (platform::rand() & 7) + 1;
  platform::srand(99);
  list_.drawPlayList();
  EXPECT_EQ(list_.playMode, expected);
  EXPECT_GE(list_.playMode, 1);
  EXPECT_LE(list_.playMode, 8);
  std::vector<uint8_t> saved;
  uint32_t length = 0;
  list_.save(saved, &length);
  ConfigFileList reloaded;
  ASSERT_EQ(reloaded.load(saved.data(), saved.size(), &length), ConfigBase::kLoaded);
  EXPECT_EQ(reloaded.playMode, expected);
}

TEST_F(PlayListTest, WorkingBufferCapacity) {
  // 999-character paths take 1000 bytes each: 2097 of them and the final
  // NUL fit in 2 MiB, the 2098th does not.
  list_.playMode = 1;
  list_.randomizeOrder = 0;
  for (int i = 0; i < 2200; ++i) {
    std::string path = "/" + std::to_string(i) + "/";
    path.resize(999, 'x');
    list_.fileList.append(path);
  }
  PlayList p = list_.drawPlayList();
  EXPECT_EQ(p.count(), 2097u);
  EXPECT_LE(p.size(), ConfigFileList::kPlayListCapacity);
}

TEST_F(PlayListTest, AnEmptyEntryEndsAList) {
  // An empty string ends a double-NUL list: no entry after it counts, and
  // an empty directory name never lists the current directory.
  list_.playMode = 8;
  list_.randomizeOrder = 0;
  list_.dirList.append(dirs_[0]);
  list_.dirList.append("");
  list_.dirList.append(dirs_[1]);
  list_.fileList.append("/x/a.jpg");
  list_.fileList.append("");
  list_.fileList.append("/x/b.jpg");
  const std::vector<std::string> p = list_.drawPlayList().paths();
  ASSERT_EQ(p.size(), 8u);
  EXPECT_EQ(p.back(), "/x/a.jpg");
}

TEST_F(PlayListTest, UnreadableDirectoryYieldsNothing) {
  list_.playMode = 8;
  list_.randomizeOrder = 0;
  list_.dirList.append(root_ + "/gone");
  list_.dirList.append(dirs_[0]);
  EXPECT_EQ(list_.drawPlayList().count(), 7u);
}

TEST(StringListTest, Operations) {
  StringList l;
  EXPECT_EQ(l.doubleNul(), std::string(1, '\0'));
  l.appendList("a\0bb\0ccc\0");
  l.append("d");
  EXPECT_EQ(l.doubleNul(), std::string("a\0bb\0ccc\0d\0\0", 12));
  EXPECT_TRUE(l.move(0, 3));
  EXPECT_EQ(l.strings(), (std::vector<std::string>{"bb", "ccc", "d", "a"}));
  EXPECT_TRUE(l.move(2, 0));
  EXPECT_EQ(l.strings(), (std::vector<std::string>{"d", "bb", "ccc", "a"}));
  EXPECT_FALSE(l.move(4, 0));
  l.dropLast(2);
  EXPECT_EQ(l.strings(), (std::vector<std::string>{"d", "bb"}));
  EXPECT_EQ(l.blockLength(), 56u + 2 + 3 + 1);
  l.dropLast(5);
  EXPECT_TRUE(l.empty());
}

TEST(ConfigFileListTest, SetExtensionsKeepsFourCharacters) {
  ConfigFileList l;
  l.setExtensions(".jpeg", "", nullptr);
  EXPECT_STREQ(l.extensions[0], ".jpe");
  EXPECT_STREQ(l.extensions[1], "");
  EXPECT_STREQ(l.extensions[2], "");
  l.addFiles("x\0y\0");
  l.dirList.append("z");
  l.clearLists();
  EXPECT_TRUE(l.fileList.empty());
  EXPECT_TRUE(l.dirList.empty());
}

}  // namespace

TEST_F(PlayListTest, SpecialFilesAreNoPictures) {
  // A FIFO, and a link to one, named like pictures would hang whoever opens
  // them; a link to a picture is a picture.
  ASSERT_EQ(mkfifo((dirs_[0] + "/pipe.jpg").c_str(), 0644), 0);
  ASSERT_EQ(symlink((dirs_[0] + "/pipe.jpg").c_str(), (dirs_[0] + "/linked-pipe.jpg").c_str()), 0);
  ASSERT_EQ(symlink((dirs_[0] + "/p0.jpg").c_str(), (dirs_[0] + "/linked.jpg").c_str()), 0);
  list_.playMode = ConfigFileList::kSelectedDirectories;
  list_.selectedDirs[0] = 0;
  list_.selectedDirs[1] = -1;
  list_.randomizeOrder = 0;
  useDirs(1);
  const std::vector<std::string> paths = list_.drawPlayList().paths();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), dirs_[0] + "/pipe.jpg"), 0);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), dirs_[0] + "/linked-pipe.jpg"), 0);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), dirs_[0] + "/linked.jpg"), 1);
  EXPECT_EQ(paths.size(), 3u + 1 + 1 + 3);  // p*.jpg, SHOUT.JPG, linked.jpg, b*.bmp
}
