#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/crtrand.h"
#include "platform/files.h"
#include "tests/common/testenv.h"

TEST(Rand, FollowsTheRuntimeGenerator) {
  // Seed 1 is the C runtime's well-known start: 41, 18467, 6334, 26500, 19169.
  platform::srand(1);
  EXPECT_EQ(platform::rand(), 41);
  EXPECT_EQ(platform::rand(), 18467);
  EXPECT_EQ(platform::rand(), 6334);
  EXPECT_EQ(platform::rand(), 26500);
  EXPECT_EQ(platform::rand(), 19169);
  // The state advances as state * 214013 + 2531011 modulo 2^32.
  platform::srand(0xFFFFFFFFu);
  platform::rand();
  EXPECT_EQ(platform::randState(), 0xFFFFFFFFu * 214013u + 2531011u);
}

TEST(Rand, RandomIndexTruncatesTheScaledValue) {
  for (uint32_t seed : {0u, 7u, 12345u, 0xDEADBEEFu}) {
    platform::srand(seed);
    int expected = static_cast<int>(5LL * platform::rand() / 32768);
    platform::srand(seed);
    EXPECT_EQ(platform::randomIndex(5), expected);
  }
  // value 32767 with k = 3 is index 2, never 3.
  for (uint32_t s = 0; s < 200000; ++s) {
    platform::srand(s);
    int i = platform::randomIndex(3);
    ASSERT_GE(i, 0);
    ASSERT_LT(i, 3);
  }
}

TEST(Files, WildcardsIgnoreCase) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.jpg", "IMG_0001.JPG", true},
      {"*.jpg", "a.jpeg", false},
      {"*.jpg", ".jpg", true},
      {"*.jpg", "x.jpg.bak", false},
      {"*.mp3", "song.Mp3", true},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"*", "", true},
      {"*a*b", "xxaYYb", true},
      {"*.bmp", "pic.bmp.bmp", true},
      {"", "x", false},
      {"*.JPG", "p.jpg", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(platform::matchWildcard(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(Files, PathParts) {
  EXPECT_EQ(platform::fileNamePart("pack\\Boat.TGA"), "Boat.TGA");
  EXPECT_EQ(platform::fileNamePart("/a/b/c.jpg"), "c.jpg");
  EXPECT_EQ(platform::fileNamePart("C:\\x/y\\z.bmp"), "z.bmp");
  EXPECT_EQ(platform::fileNamePart("plain"), "plain");
  EXPECT_EQ(platform::joinPath("/a", "b"), "/a/b");
  EXPECT_EQ(platform::joinPath("/a/", "b"), "/a/b");
}

TEST(Files, ListingMatchesAndSkipsDots) {
  std::string dir = testenv::freshDir("list");
  for (const char* n : {"A.JPG", "b.jpg", "c.bmp", "d.jpgx"}) testenv::writeFile(dir + "/" + n, "x");
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::listDirectory(dir, "*.jpg", entries));
  std::vector<std::string> names;
  for (auto& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"A.JPG", "b.jpg"}));
  entries.clear();
  EXPECT_FALSE(platform::listDirectory(dir + "/missing", "*", entries));
}

TEST(Files, AtomicWriteReplacesWhole) {
  std::string path = testenv::freshDir("atomic") + "/f.bin";
  ASSERT_TRUE(platform::writeFileAtomically(path, "first", 5));
  ASSERT_TRUE(platform::writeFileAtomically(path, "2nd", 3));
  EXPECT_EQ(testenv::readFile(path), "2nd");
  EXPECT_FALSE(platform::writeFileAtomically("/nonexistent-dir/f.bin", "x", 1));
}
