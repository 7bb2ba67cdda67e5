#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

#include "pack/pack.h"
#include "pack/packwriter.h"
#include "platform/files.h"
#include "tests/common/testenv.h"
#include "tests/pack/packbytes.h"

using namespace packtest;

namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Every path below `dir` (relative, '/'-separated) with its bytes; a
// directory maps to "<dir>".
void snapshot(const std::string& dir, const std::string& prefix, std::map<std::string, std::string>& out) {
  std::vector<platform::DirEntry> items;
  ASSERT_TRUE(platform::listDirectory(dir, "*", items));
  for (const auto& item : items) {
    const std::string rel = prefix.empty() ? item.name : prefix + "/" + item.name;
    const std::string full = dir + "/" + item.name;
    struct stat st {};
    ASSERT_EQ(lstat(full.c_str(), &st), 0);
    if (S_ISLNK(st.st_mode)) {
      out[rel] = "<link>";
    } else if (S_ISDIR(st.st_mode)) {
      out[rel] = "<dir>";
      snapshot(full, rel, out);
    } else {
      out[rel] = testenv::readFile(full);
    }
  }
}

std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  snapshot(dir, "", out);
  return out;
}

}  // namespace

TEST(PackWriter, FlatContainerRoundTripsThroughTheReader) {
  const std::string dir = testenv::freshDir("flat");
  ASSERT_TRUE(platform::setCurrentDirectory(dir));
  const std::string big = pattern(3 * 0x40000 + 17, 5);
  ASSERT_TRUE(testenv::writeFile(dir + "/big.bin", big));
  const std::string longName = std::string(40, 'a') + std::string(30, 'b');  // 70 characters
  ASSERT_EQ(longName.size(), 70u);

  PackWriter w;
  ASSERT_TRUE(w.begin("out.pck"));
  EXPECT_TRUE(exists(dir + "/newpacktemp!"));
  EXPECT_TRUE(w.add("Lumenmere.ini", "settings", 8));
  EXPECT_TRUE(w.add(dir + "/big.bin"));                  // fetched from the disk
  EXPECT_FALSE(w.add(dir + "/missing.jpg"));             // nothing comes, nothing added
  EXPECT_TRUE(w.add("C:\\music\\" + longName, "x", 1));  // named after the last backslash
  EXPECT_TRUE(w.add("empty.txt", "", 0));
  ASSERT_TRUE(w.finish());
  EXPECT_FALSE(exists(dir + "/newpacktemp!"));

  const std::string file = testenv::readFile(dir + "/out.pck");
  EXPECT_EQ(file.size(), 44 + 4 * 96 + 8 + big.size() + 1);
  Pack p;
  ASSERT_EQ(p.open(dir + "/out.pck"), 4);
  EXPECT_EQ(p.totalLength(), file.size());
  EXPECT_EQ(p.reserved24() | p.reserved36() | p.reserved40(), 0u);
  const auto& e = p.entries();
  EXPECT_STREQ(e[0].name, "Lumenmere.ini");
  EXPECT_STREQ(e[1].name, "big.bin");
  EXPECT_EQ(std::string(e[2].name), longName.substr(7));  // the last 63 characters
  EXPECT_STREQ(e[3].name, "empty.txt");
  uint32_t offset = 0;
  for (const PackEntry& x : e) {
    EXPECT_EQ(x.offset, offset);
    EXPECT_EQ(x.kind | x.checksum | x.nextSibling | x.previousSibling | x.parent | x.firstChild, 0u);
    offset += x.length;
  }
  EXPECT_EQ(p.readRange(0), "settings");
  EXPECT_EQ(p.readRange(1), big);
  EXPECT_EQ(p.readRange(2), "x");
  EXPECT_EQ(p.readRange(3), "");
}

TEST(PackWriter, TemporaryFilesGoOnEveryPath) {
  const std::string dir = testenv::freshDir("flatfail");
  {
    // The target can't be created: no container, no data file left.
    PackWriter w;
    ASSERT_TRUE(w.begin(dir + "/no/such/dir/out.pck", dir));
    EXPECT_TRUE(w.add("a", "abc", 3));
    EXPECT_FALSE(w.finish());
    EXPECT_FALSE(exists(dir + "/newpacktemp!"));
    EXPECT_FALSE(exists(dir + "/no"));
  }
  {
    // Destroyed before finishing.
    PackWriter w;
    ASSERT_TRUE(w.begin(dir + "/out.pck", dir));
    EXPECT_TRUE(w.add("a", "abc", 3));
    EXPECT_TRUE(exists(dir + "/newpacktemp!"));
  }
  EXPECT_FALSE(exists(dir + "/newpacktemp!"));
  EXPECT_FALSE(exists(dir + "/out.pck"));
  {
    PackWriter w;
    EXPECT_FALSE(w.begin(std::string(260, 'p'), dir));  // longer than 259 characters
    EXPECT_FALSE(w.add("a", "abc", 3));
    EXPECT_FALSE(w.finish());
  }
  EXPECT_FALSE(exists(dir + "/newpacktemp!"));
}

// ---------------------------------------------------------------------------
// Trees

namespace {

// A nested tree: sub-directories in sub-directories, empty directories,
// files of 0 bytes and of several 256 KiB blocks.
void makeTree(const std::string& root) {
  ASSERT_TRUE(platform::makeDirectories(root + "/docs/deep/deeper"));
  ASSERT_TRUE(platform::makeDirectories(root + "/empty"));
  ASSERT_TRUE(platform::makeDirectories(root + "/docs/also-empty"));
  ASSERT_TRUE(testenv::writeFile(root + "/readme.txt", "read me\n"));
  ASSERT_TRUE(testenv::writeFile(root + "/zero.bin", ""));
  ASSERT_TRUE(testenv::writeFile(root + "/docs/big.dat", pattern(2 * 0x40000 + 1000, 9)));
  ASSERT_TRUE(testenv::writeFile(root + "/docs/deep/a.mp3", pattern(0x40000, 10)));
  ASSERT_TRUE(testenv::writeFile(root + "/docs/deep/deeper/z", ""));
  ASSERT_TRUE(testenv::writeFile(root + "/docs/deep/deeper/last.jpg", pattern(777, 11)));
  ASSERT_TRUE(testenv::writeFile(root + "/.hidden", "left out"));
}

// Number of entries below directory entry `i` (by parent links).
size_t subtreeSize(const std::vector<PackEntry>& e, size_t i) {
  size_t n = 0;
  for (size_t k = 1; k < e.size(); ++k) {
    for (size_t a = e[k].parent; k != i;) {
      if (a == i) {
        ++n;
        break;
      }
      if (a == 0) break;
      a = e[a].parent;
    }
  }
  return n;
}

std::string entryPath(const std::vector<PackEntry>& e, size_t i) {
  std::string path = e[i].name;
  while (i != 0) {
    i = e[i].parent;
    path = std::string(e[i].name) + "/" + path;
  }
  return path;
}

}  // namespace

TEST(PackTree, NestedTreeRoundTripsWithLogAndProgress) {
  const std::string src = testenv::freshDir("treesrc");
  makeTree(src + "/Product");
  const std::string pck = src + "/product.pck";
  PackTreeWriter tw;
  ASSERT_TRUE(tw.build(src + "/Product")) << tw.error();
  ASSERT_TRUE(tw.write(pck));

  Pack p;
  ASSERT_EQ(p.open(pck), 12);
  const auto& e = p.entries();
  EXPECT_STREQ(e[0].name, "Product");
  EXPECT_EQ(e[0].offset, 2u);  // the root: files, then sub-directories
  EXPECT_EQ(e[0].length, 2u);
  EXPECT_EQ(p.totalLength(), testenv::readFile(pck).size());

  const std::string target = testenv::freshDir("treedst");
  std::vector<std::string> lines;
  std::vector<double> progress;
  packHooks().log = [&](std::string_view line) { lines.emplace_back(line); };
  packHooks().progress = [&](double f) { progress.push_back(f); };
  const uint64_t written = p.extractTree(target);
  packHooks() = PackHooks();

  std::map<std::string, std::string> before = snapshot(src + "/Product");
  before.erase(".hidden");
  EXPECT_EQ(snapshot(target + "/Product"), before);
  EXPECT_EQ(written, 8u + 2 * 0x40000 + 1000 + 0x40000 + 777);

  // One line per entry, in entry (walk) order, with absolute paths.
  std::vector<std::string> expected;
  for (size_t i = 0; i < e.size(); ++i)
    expected.push_back((e[i].kind == 1 || i == 0 ? "Makedir:" : "Copyfile:") + target + "/" + entryPath(e, i));
  EXPECT_EQ(lines, expected);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 1.0);
  for (double f : progress) {
    EXPECT_GT(f, 0.0);
    EXPECT_LE(f, 1.0);
  }

  // Extracting again over the tree makes no directories and logs only files.
  lines.clear();
  packHooks().log = [&](std::string_view line) { lines.emplace_back(line); };
  p.extractTree(target);
  packHooks() = PackHooks();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Makedir:", 0) == 0; }),
            0);
  EXPECT_EQ(snapshot(target + "/Product"), before);
}

TEST(PackTree, SubtreesAreContiguousAndLinksAgree) {
  const std::string src = testenv::freshDir("treeidx");
  makeTree(src + "/Root");
  PackTreeWriter tw;
  ASSERT_TRUE(tw.build(src + "/Root"));
  const auto& e = tw.entries();
  ASSERT_EQ(e.size(), 12u);
  for (size_t i = 1; i < e.size(); ++i) {
    const PackEntry& x = e[i];
    const size_t size = x.kind == 1 ? subtreeSize(e, i) : 0;
    // The whole subtree stands right after its directory...
    for (size_t k = i + 1; k <= i + size; ++k) {
      size_t a = e[k].parent;
      while (a != 0 && a != i) a = e[a].parent;
      EXPECT_EQ(a, i) << "entry " << k << " is not below " << i;
    }
    // ...and the next sibling follows it.
    if (x.nextSibling) {
      EXPECT_EQ(x.nextSibling, i + 1 + size) << x.name;
      EXPECT_EQ(e[x.nextSibling].previousSibling, i);
      EXPECT_EQ(e[x.nextSibling].parent, x.parent);
    }
    if (x.kind == 1) {
      EXPECT_EQ(x.firstChild, size ? i + 1 : 0u) << x.name;
      uint32_t dirs = 0, files = 0;
      for (size_t k = i + 1; k <= i + size; ++k)
        if (e[k].parent == i) (e[k].kind == 1 ? dirs : files)++;
      EXPECT_EQ(x.offset, dirs) << x.name;
      EXPECT_EQ(x.length, files) << x.name;
    }
  }
  // The children of the root are chained from index 1.
  size_t rootChildren = 0;
  for (uint32_t c = 1; c != 0; c = e[c].nextSibling) {
    EXPECT_EQ(e[c].parent, 0u);
    ++rootChildren;
  }
  EXPECT_EQ(rootChildren, 4u);
}

TEST(PackTree, ChecksumsAndTheCurrentDirectoryForm) {
  const std::string dir = testenv::freshDir("treecwd");
  ASSERT_TRUE(platform::setCurrentDirectory(dir));
  ASSERT_TRUE(platform::makeDirectories(dir + "/Only/sub"));
  ASSERT_TRUE(platform::makeDirectories(dir + "/.git"));  // does not count
  ASSERT_TRUE(testenv::writeFile(dir + "/Only/sub/f", std::string("\x01\x02\xff", 3)));
  ASSERT_TRUE(testenv::writeFile(dir + "/loose.txt", "not a directory"));
  PackTreeWriter tw;
  ASSERT_TRUE(tw.build());
  ASSERT_TRUE(tw.write());  // "<root>.pck"
  Pack p;
  ASSERT_EQ(p.open(dir + "/Only.pck"), 3);
  EXPECT_EQ(p.entries()[2].checksum, 1u + 2u + 255u);

  ASSERT_TRUE(platform::makeDirectories(dir + "/Second"));
  EXPECT_FALSE(tw.build());  // two sub-directories: nothing built
  EXPECT_TRUE(tw.entries().empty());
  EXPECT_FALSE(tw.write());

  // Names longer than the format holds are refused, not cut.
  ASSERT_TRUE(testenv::writeFile(dir + "/Second/" + std::string(64, 'L'), "x"));
  EXPECT_FALSE(tw.build(dir + "/Second"));
  EXPECT_NE(tw.error().find("63"), std::string::npos);
}

TEST(PackTree, ExtractMemberCopiesTheFirstEntryOfThatName) {
  const std::string dir = testenv::freshDir("member");
  const std::string bytes = pattern(0x40000 + 3, 4);
  Pack p;
  ASSERT_TRUE(testenv::writeFile(dir + "/c.pck", flatContainer({{"Product.exe", bytes}, {"x", "y"}})));
  ASSERT_EQ(p.open(dir + "/c.pck"), 2);
  EXPECT_EQ(p.extractMember("product.EXE", dir + "/out.scr"), 1);
  EXPECT_EQ(testenv::readFile(dir + "/out.scr"), bytes);
  EXPECT_EQ(p.extractMember("dir/Product.exe", dir + "/no.scr"), 0);  // the whole name counts
  EXPECT_FALSE(exists(dir + "/no.scr"));
  EXPECT_EQ(p.extractMember("x", dir + "/missing/dir/x"), 1);  // found, nothing written

  // A member reaching past the end of the file leaves no partial copy.
  RawEntry lying;
  lying.name = "lying";
  lying.length = 1000;
  ASSERT_TRUE(testenv::writeFile(dir + "/l.pck", container({lying}, "short")));
  Pack l;
  ASSERT_EQ(l.open(dir + "/l.pck"), 1);
  EXPECT_EQ(l.extractMember("lying", dir + "/lying.out"), 1);
  EXPECT_FALSE(exists(dir + "/lying.out"));

  // A target that is a link to another file is replaced, never written
  // through: the other file keeps its bytes.
  ASSERT_TRUE(testenv::writeFile(dir + "/elsewhere", "keep"));
  ASSERT_EQ(::link((dir + "/elsewhere").c_str(), (dir + "/hard.scr").c_str()), 0);
  ASSERT_EQ(::symlink((dir + "/elsewhere").c_str(), (dir + "/soft.scr").c_str()), 0);
  EXPECT_EQ(p.extractMember("product.exe", dir + "/hard.scr"), 1);
  EXPECT_EQ(p.extractMember("product.exe", dir + "/soft.scr"), 1);
  EXPECT_EQ(testenv::readFile(dir + "/hard.scr"), bytes);
  EXPECT_EQ(testenv::readFile(dir + "/soft.scr"), bytes);
  EXPECT_EQ(testenv::readFile(dir + "/elsewhere"), "keep");
  // A copy that fails leaves neither a part nor the old file behind.
  ASSERT_TRUE(testenv::writeFile(dir + "/old.out", "old"));
  EXPECT_EQ(l.extractMember("lying", dir + "/old.out"), 1);
  EXPECT_FALSE(exists(dir + "/old.out"));
  for (const auto& f : std::filesystem::directory_iterator(dir))
    EXPECT_EQ(f.path().filename().string().find(".part-"), std::string::npos) << f.path();
}

// ---------------------------------------------------------------------------
// Hostile containers

namespace {

RawEntry dirEntry(const std::string& name, uint32_t parent, uint32_t next, uint32_t firstChild) {
  RawEntry e;
  e.name = name;
  e.kind = 1;
  e.parent = parent;
  e.next = next;
  e.firstChild = firstChild;
  return e;
}

RawEntry fileEntry(const std::string& name, uint32_t parent, uint32_t next, uint32_t offset, uint32_t length) {
  RawEntry e;
  e.name = name;
  e.parent = parent;
  e.next = next;
  e.offset = offset;
  e.length = length;
  return e;
}

}  // namespace

TEST(PackTree, HostileContainersStayInsideTheTarget) {
  const std::string data = "0123456789";
  struct Case {
    const char* what;
    std::vector<RawEntry> entries;
    std::map<std::string, std::string> expect;  // what the target holds afterwards
  };
  const std::vector<Case> cases = {
      {"traversal names",
       {fileEntry("root", 0, 0, 0, 0), fileEntry("..", 0, 2, 0, 1), fileEntry("../escape", 0, 3, 0, 1),
        fileEntry("..\\escape", 0, 4, 0, 1), dirEntry("..", 0, 6, 5), fileEntry("up", 4, 0, 0, 1),
        fileEntry("/abs", 0, 7, 0, 1), fileEntry("", 0, 8, 0, 1), fileEntry(".", 0, 9, 0, 1),
        fileEntry("ok.txt", 0, 0, 2, 3)},
       {{"root", "<dir>"}, {"root/ok.txt", "234"}}},
      {"a traversal root", {fileEntry("..", 0, 0, 0, 0), fileEntry("f", 0, 0, 0, 1)}, {}},
      {"a cycle of siblings",
       {fileEntry("root", 0, 0, 0, 0), fileEntry("a", 0, 2, 0, 1), fileEntry("b", 0, 1, 1, 1)},
       {{"root", "<dir>"}, {"root/a", "0"}, {"root/b", "1"}}},
      {"a sibling beyond the count",
       {fileEntry("root", 0, 0, 0, 0), fileEntry("a", 0, 99, 0, 2)},
       {{"root", "<dir>"}, {"root/a", "01"}}},
      {"a sibling back into a walked subtree",
       {fileEntry("root", 0, 0, 0, 0), dirEntry("d", 0, 2, 2), fileEntry("in", 1, 0, 0, 1)},
       {{"root", "<dir>"}, {"root/d", "<dir>"}, {"root/d/in", "0"}}},
      {"a member past the data area",
       {fileEntry("root", 0, 0, 0, 0), fileEntry("a", 0, 2, 0, 1), fileEntry("big", 0, 3, 5, 100),
        fileEntry("after", 0, 0, 0, 1)},
       {{"root", "<dir>"}, {"root/a", "0"}}},
      {"a child directory that is its own sibling",
       {fileEntry("root", 0, 0, 0, 0), dirEntry("d", 0, 1, 2), fileEntry("f", 1, 0, 4, 2)},
       {{"root", "<dir>"}, {"root/d", "<dir>"}, {"root/d/f", "45"}}},
  };
  for (const Case& c : cases) {
    const std::string base = testenv::freshDir("hostile");
    const std::string target = base + "/target";
    ASSERT_TRUE(platform::makeDirectories(target));
    ASSERT_TRUE(testenv::writeFile(base + "/c.pck", container(c.entries, data)));
    Pack p;
    ASSERT_EQ(p.open(base + "/c.pck"), static_cast<int>(c.entries.size())) << c.what;
    bool ended = false;
    packHooks().progress = [&](double f) { ended = ended || f == 1.0; };
    p.extractTree(target);
    packHooks() = PackHooks();
    EXPECT_TRUE(ended) << c.what;
    EXPECT_EQ(snapshot(target), c.expect) << c.what;
    std::map<std::string, std::string> outside = snapshot(base);
    outside.erase("c.pck");
    for (auto it = outside.begin(); it != outside.end();)
      it = it->first.rfind("target", 0) == 0 ? outside.erase(it) : std::next(it);
    EXPECT_TRUE(outside.empty()) << c.what << ": wrote " << outside.begin()->first;
  }
}

TEST(PackTree, ExtractionNeverFollowsSymbolicLinks) {
  const std::string base = testenv::freshDir("links");
  const std::string target = base + "/target";
  const std::string outside = base + "/outside";
  ASSERT_TRUE(platform::makeDirectories(target + "/root"));
  ASSERT_TRUE(platform::makeDirectories(outside));
  ASSERT_TRUE(testenv::writeFile(outside + "/victim", "untouched"));
  ASSERT_EQ(symlink((outside + "/victim").c_str(), (target + "/root/file").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (target + "/root/dir").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (target + "/other").c_str()), 0);

  for (const char* rootName : {"root", "other"}) {
    const std::vector<RawEntry> entries = {fileEntry(rootName, 0, 0, 0, 0), fileEntry("file", 0, 2, 0, 3),
                                           dirEntry("dir", 0, 4, 3), fileEntry("victim", 2, 0, 0, 3),
                                           fileEntry("fine", 0, 0, 3, 2)};
    ASSERT_TRUE(testenv::writeFile(base + "/c.pck", container(entries, "EVIL!")));
    Pack p;
    ASSERT_EQ(p.open(base + "/c.pck"), 5);
    p.extractTree(target);
  }
  EXPECT_EQ(testenv::readFile(outside + "/victim"), "untouched");
  EXPECT_EQ(snapshot(outside), (std::map<std::string, std::string>{{"victim", "untouched"}}));
  EXPECT_EQ(testenv::readFile(target + "/root/fine"), "L!");
}

TEST(PackWriter, HoldsTenThousandMembersAndRefusesMore) {
  // 10,000 entries is what the writers reserve and what the reader's one
  // directory read of 1 MiB can hold; a further member is refused rather
  // than written where no reader would find it.
  const std::string dir = testenv::freshDir("many");
  PackWriter w;
  ASSERT_TRUE(w.begin(dir + "/many.pck", dir));
  for (int i = 0; i < 10000; ++i) {
    const std::string name = "m" + std::to_string(i);
    ASSERT_TRUE(w.add(name, name.data(), name.size()));
  }
  EXPECT_FALSE(w.add("one-too-many", "x", 1));
  EXPECT_FALSE(w.add("dir/", "x", 1));  // no name to find it by
  ASSERT_TRUE(w.finish());
  Pack p;
  ASSERT_EQ(p.open(dir + "/many.pck"), 10000);
  EXPECT_EQ(p.readRange(p.findMember("M9999")), "m9999");
  EXPECT_EQ(p.findMember("one-too-many"), -1);
}

TEST(PackTree, AHardLinkInTheTargetIsReplacedNeverWrittenThrough) {
  const std::string base = testenv::freshDir("hardlink");
  const std::string target = base + "/target";
  ASSERT_TRUE(platform::makeDirectories(target + "/root"));
  ASSERT_TRUE(testenv::writeFile(base + "/victim", "untouched"));
  ASSERT_EQ(link((base + "/victim").c_str(), (target + "/root/file").c_str()), 0);
  const std::vector<RawEntry> entries = {fileEntry("root", 0, 0, 0, 0), fileEntry("file", 0, 0, 0, 5)};
  ASSERT_TRUE(testenv::writeFile(base + "/c.pck", container(entries, "EVIL!")));
  Pack p;
  ASSERT_EQ(p.open(base + "/c.pck"), 2);
  const TreeExtraction result = p.extractTreeReporting(target);
  EXPECT_TRUE(result.complete());
  EXPECT_EQ(testenv::readFile(base + "/victim"), "untouched");
  EXPECT_EQ(testenv::readFile(target + "/root/file"), "EVIL!");
  // No temporary file is left beside it.
  EXPECT_EQ(snapshot(target), (std::map<std::string, std::string>{{"root", "<dir>"}, {"root/file", "EVIL!"}}));
}

TEST(PackTree, WhatIsNotExtractedIsReportedAndNoNameForgesALogLine) {
  const std::string base = testenv::freshDir("report");
  const std::string target = base + "/target";
  ASSERT_TRUE(platform::makeDirectories(target));
  // A name that would write a line of its own into the install log (which
  // the uninstaller replays), one leading outside, and a good one.
  const std::vector<RawEntry> entries = {fileEntry("root", 0, 0, 0, 0), fileEntry("a\nMakedir:/etc", 0, 2, 0, 2),
                                         fileEntry("..", 0, 3, 2, 2), fileEntry("good", 0, 0, 4, 2)};
  ASSERT_TRUE(testenv::writeFile(base + "/c.pck", container(entries, "xxyyzz")));
  Pack p;
  ASSERT_EQ(p.open(base + "/c.pck"), 4);
  std::vector<std::string> lines, problems;
  packHooks().log = [&](std::string_view line) { lines.emplace_back(line); };
  packHooks().problem = [&](std::string_view line) { problems.emplace_back(line); };
  const TreeExtraction result = p.extractTreeReporting(target);
  packHooks() = PackHooks();
  EXPECT_FALSE(result.complete());
  EXPECT_EQ(result.notExtracted, 2u);
  EXPECT_FALSE(result.walkStopped);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("a\\x0aMakedir:/etc"), std::string::npos) << problems[0];
  for (const std::string& line : lines) EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  EXPECT_EQ(lines, (std::vector<std::string>{"Makedir:" + target + "/root", "Copyfile:" + target + "/root/good"}));
  EXPECT_EQ(snapshot(target), (std::map<std::string, std::string>{{"root", "<dir>"}, {"root/good", "zz"}}));

  // The writers refuse such names in the first place.
  PackWriter w;
  ASSERT_TRUE(w.begin(base + "/flat.pck", base));
  EXPECT_FALSE(w.add("dir/a\nMakedir:x", "12", 2));
  EXPECT_TRUE(w.add("dir/fine", "12", 2));
  ASSERT_TRUE(w.finish());
  ASSERT_TRUE(platform::makeDirectories(base + "/tree/sub"));
  ASSERT_TRUE(testenv::writeFile(base + "/tree/sub/bad\x1b[2Jname", "x"));
  PackTreeWriter tw;
  EXPECT_FALSE(tw.build(base + "/tree"));
  EXPECT_NE(tw.error().find("bad\\x1b[2Jname"), std::string::npos) << tw.error();
}
