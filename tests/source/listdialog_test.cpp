// The "Image list" and "Mp3 File List" dialogs through the scripted host.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/files.h"
#include "platform/testing/scripteddialogs.h"
#include "source/config.h"
#include "source/settingsdialogs.h"
#include "tests/common/testenv.h"

using namespace platform;

namespace {

constexpr int kDirs = 1093;
constexpr int kFiles = 1092;

std::vector<std::string> names(const StringList& list) { return list.strings(); }

std::vector<std::string> rowsOf(std::initializer_list<const char*> paths) {
  std::vector<std::string> out;
  int i = 0;
  for (const char* p : paths) {
    char text[300];
    std::snprintf(text, sizeof text, "%3d  %s", ++i, p);
    out.emplace_back(text);
  }
  return out;
}

class ListDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerSettingsDialogs();
    Config::publish(&config);
    lastChosenFolder().clear();
  }
  void TearDown() override {
    Config::publish(nullptr);
    EXPECT_TRUE(host.problems.empty()) << host.problems.front();
  }
  INT_PTR openImages() { return DialogBoxParamA(0, kImageListDialog, 0, imageListDialogEntry, 0); }
  INT_PTR openSongs() { return DialogBoxParamA(0, kMp3ListDialog, 0, mp3ListDialogEntry, 0); }
  void fiveFiles() {
    for (const char* p : {"/p/a.jpg", "/p/b.jpg", "/p/c.jpg", "/p/d.jpg", "/p/e.jpg"}) images.fileList.append(p);
  }

  Config config;
  ConfigFileList& images = config.images;
  ScriptedDialogHost host;
  ScopedDialogHost guard{host};
};

TEST_F(ListDialogTest, OpensShowingTheList) {
  images.dirList.append("/pics/one");
  images.dirList.append("/pics/two");
  images.dirList.append("/pics/three");
  images.fileList.append("/pics/x.jpg");
  images.selectedDirs[0] = 2;
  images.selectedDirs[1] = 0;
  images.selectedDirs[2] = -1;
  images.selectedDirs[3] = 1;  // after the end marker: not selected
  images.maxFiles = 42;
  images.playMode = 3;
  images.showPlayButtons = 1;
  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    EXPECT_EQ(d.caption(), "Image list");
    EXPECT_EQ(d.text(1045), "Enable Image Show");
    EXPECT_TRUE(d.checked(1045));
    EXPECT_TRUE(d.checked(1000));
    EXPECT_FALSE(d.visible(1000));
    EXPECT_TRUE(d.checked(1098));
    EXPECT_EQ(d.text(1046), "42");
    const ScriptedControl& modes = d.control(1041);
    ASSERT_EQ(modes.items.size(), 9u);
    EXPECT_EQ(modes.items[0].first, "Random");
    EXPECT_EQ(modes.items[8].first, "Pick from all files randomly");
    EXPECT_EQ(modes.items[6].second, 6);
    EXPECT_EQ(modes.selection, 3);
    EXPECT_EQ(d.control(kDirs).rowTexts(), rowsOf({"/pics/one", "/pics/two", "/pics/three"}));
    EXPECT_EQ(d.control(kDirs).selectedRows(), (std::vector<int>{0, 2}));
    EXPECT_EQ(d.control(kFiles).rowTexts(), rowsOf({"/pics/x.jpg"}));
    EXPECT_EQ(d.control(kDirs).horizontalExtent, 500);
    EXPECT_EQ(d.control(kFiles).horizontalExtent, 500);
    // Editing the file list: its box is the enabled one.
    EXPECT_TRUE(d.checked(1048));
    EXPECT_FALSE(d.checked(1047));
    EXPECT_TRUE(d.enabled(kFiles));
    EXPECT_FALSE(d.enabled(kDirs));
    d.pressEscape();
  });
  EXPECT_EQ(openImages(), 0);

  host.onDialog(kMp3ListDialog, [](ScriptedDialog& d) {
    EXPECT_EQ(d.caption(), "Mp3 File List");
    EXPECT_EQ(d.text(1045), "Enable Mp3 Player");
    d.click(1034);
  });
  EXPECT_EQ(openSongs(), 1);
}

TEST_F(ListDialogTest, TheEditCheckBoxesActAsAPairOfRadioButtons) {
  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    d.click(1047);
    EXPECT_TRUE(d.checked(1047));
    EXPECT_FALSE(d.checked(1048));
    EXPECT_TRUE(d.enabled(kDirs));
    EXPECT_FALSE(d.enabled(kFiles));
    d.click(1047);  // clicking the checked one keeps it checked
    EXPECT_TRUE(d.checked(1047));
    d.click(1048);
    EXPECT_TRUE(d.checked(1048));
    EXPECT_FALSE(d.checked(1047));
    EXPECT_FALSE(d.enabled(kDirs));
    d.click(1047);
    d.pressEscape();
  });
  openImages();
  EXPECT_EQ(images.editDirectories, 1);  // the list edits last even when the dialog is cancelled
}

struct MoveCase {
  const char* name;
  int button;
  std::vector<int> selected;
  std::vector<std::string> after;  // of a, b, c, d, e
  std::vector<int> selectedAfter;
};

class ListMoves : public ListDialogTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(ListMoves, MoveTheSelectionOfTheEditedList) {
  const MoveCase& c = GetParam();
  fiveFiles();
  host.onDialog(kImageListDialog, [&](ScriptedDialog& d) {
    ASSERT_TRUE(d.selectRows(kFiles, c.selected));
    d.click(c.button);
    std::vector<std::string> paths;
    for (const std::string& n : c.after) paths.push_back("/p/" + n + ".jpg");
    std::vector<std::string> expectedRows;
    for (size_t i = 0; i < paths.size(); ++i) {
      char text[64];
      std::snprintf(text, sizeof text, "%3d  %s", static_cast<int>(i + 1), paths[i].c_str());
      expectedRows.emplace_back(text);
    }
    EXPECT_EQ(d.control(kFiles).rowTexts(), expectedRows);
    EXPECT_EQ(names(images.fileList), paths);
    if (c.button != 1096) {
      EXPECT_EQ(d.control(kFiles).selectedRows(), c.selectedAfter);
    }
    d.click(1034);
  });
  EXPECT_EQ(openImages(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ListMoves,
    ::testing::Values(MoveCase{"UpAtTheTopMovesNothing", 1089, {0, 1}, {"a", "b", "c", "d", "e"}, {0, 1}},
                      MoveCase{"UpMovesEachOnePlace", 1089, {2, 4}, {"a", "c", "b", "e", "d"}, {1, 3}},
                      MoveCase{"TopKeepsTheOrder", 1088, {3, 4}, {"d", "e", "a", "b", "c"}, {0, 1}},
                      MoveCase{"TopThreeAndFive", 1088, {2, 4}, {"c", "e", "a", "b", "d"}, {0, 1}},
                      MoveCase{"DownMovesEachOnePlace", 1090, {1, 3}, {"a", "c", "b", "e", "d"}, {2, 4}},
                      MoveCase{"DownAtTheBottomMovesNothing", 1090, {3, 4}, {"a", "b", "c", "d", "e"}, {3, 4}},
                      MoveCase{"BottomKeepsTheOrder", 1091, {0, 2}, {"b", "d", "e", "a", "c"}, {3, 4}},
                      MoveCase{"RemoveTwoOfFive", 1096, {1, 3}, {"a", "c", "e"}, {}},
                      MoveCase{"RemoveAll", 1097, {1}, {}, {}}),
    [](const ::testing::TestParamInfo<MoveCase>& param) { return std::string(param.param.name); });

TEST_F(ListDialogTest, TopWithRowsThreeAndFiveOfSeven) {
  for (const char* p : {"r0", "r1", "r2", "r3", "r4", "r5", "r6"}) images.fileList.append(p);
  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    d.selectRows(kFiles, {3, 5});
    d.click(1088);
    d.click(1034);
  });
  openImages();
  EXPECT_EQ(names(images.fileList), (std::vector<std::string>{"r3", "r5", "r0", "r1", "r2", "r4", "r6"}));
}

TEST_F(ListDialogTest, MovesActOnTheDirectoryListWhenItIsEdited) {
  images.dirList.append("/d/one");
  images.dirList.append("/d/two");
  fiveFiles();
  images.editDirectories = 1;
  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    d.selectRows(kDirs, {1});
    d.click(1088);
    EXPECT_EQ(d.control(kDirs).rowTexts(), rowsOf({"/d/two", "/d/one"}));
    d.click(1034);
  });
  openImages();
  EXPECT_EQ(names(images.dirList), (std::vector<std::string>{"/d/two", "/d/one"}));
  EXPECT_EQ(images.fileList.count(), 5u);
  EXPECT_EQ(images.selectedDirs[0], 0);  // the moved row stayed selected
  EXPECT_EQ(images.selectedDirs[1], -1);
}

TEST_F(ListDialogTest, AddsSeveralFilesFromOneDirectory) {
  images.fileList.append("/old.jpg");
  images.editDirectories = 1;  // files go to the file list whichever list is edited
  host.openAnswers.push_back(
      std::vector<std::string>{"/home/u/pics/a.jpg", "/home/u/pics/b.JPG", "/home/u/pics/c.bmp"});
  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    d.click(1095);
    EXPECT_EQ(d.control(kFiles).rowTexts(),
              rowsOf({"/old.jpg", "/home/u/pics/a.jpg", "/home/u/pics/b.JPG", "/home/u/pics/c.bmp"}));
    EXPECT_EQ(d.control(kFiles).topIndex, 3);  // the last new row at the top
    d.click(1034);
  });
  openImages();
  EXPECT_EQ(names(images.fileList),
            (std::vector<std::string>{"/old.jpg", "/home/u/pics/a.jpg", "/home/u/pics/b.JPG", "/home/u/pics/c.bmp"}));
  ASSERT_EQ(host.openRequests.size(), 1u);
  const auto& r = host.openRequests[0];
  EXPECT_EQ(r.title, "Open File");
  ASSERT_EQ(r.filters.size(), 1u);
  EXPECT_EQ(r.filters[0].description, ".jpg.bmp");
  EXPECT_EQ(r.filters[0].patterns, (std::vector<std::string>{"*.jpg", "*.bmp"}));
  EXPECT_EQ(r.flags, OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY);
  EXPECT_EQ(r.defaultExtension, "MP*");
  EXPECT_EQ(r.bufferSize, 33280u);
}

TEST_F(ListDialogTest, AddsOneFileAndRefusesPathsTooLongForTheList) {
  const std::string longPath = "/" + std::string(300, 'x') + ".mp3";
  host.openAnswers.push_back(std::vector<std::string>{"/music/one.mp3"});
  host.openAnswers.push_back(std::vector<std::string>{longPath});
  host.onDialog(kMp3ListDialog, [](ScriptedDialog& d) {
    d.click(1095);
    d.click(1095);
    d.click(1034);
  });
  openSongs();
  EXPECT_EQ(names(config.mp3.fileList), std::vector<std::string>{"/music/one.mp3"});
  EXPECT_EQ(host.openRequests[0].filters[0].description, ".mp3");
  EXPECT_EQ(host.openRequests[0].filters[0].patterns, std::vector<std::string>{"*.mp3"});
  ASSERT_EQ(host.messageBoxes.size(), 1u);
  EXPECT_NE(host.messageBoxes[0].text.find("too long"), std::string::npos);
  EXPECT_NE(host.messageBoxes[0].text.find(longPath), std::string::npos);
}

TEST_F(ListDialogTest, AddDirectoryStartsAtTheFolderChosenLastInThisProcess) {
  host.folderAnswers.push_back(std::string("/pics/summer"));
  host.folderAnswers.push_back(std::nullopt);  // cancelled: nothing added, nothing forgotten
  host.folderAnswers.push_back(std::string("/pics/winter"));
  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    d.click(1099);
    d.click(1099);
    EXPECT_EQ(d.control(kDirs).rowTexts(), rowsOf({"/pics/summer"}));
    d.click(1034);
  });
  openImages();
  host.onDialog(kMp3ListDialog, [](ScriptedDialog& d) {
    d.click(1099);
    EXPECT_EQ(d.control(kDirs).topIndex, 0);
    d.click(1034);
  });
  openSongs();
  ASSERT_EQ(host.folderRequests.size(), 3u);
  EXPECT_EQ(host.folderRequests[0].startFolder, "");
  EXPECT_EQ(host.folderRequests[0].title, "select directory");
  EXPECT_EQ(host.folderRequests[1].startFolder, "/pics/summer");
  EXPECT_EQ(host.folderRequests[2].startFolder, "/pics/summer");  // the other list's dialog too
  EXPECT_EQ(names(images.dirList), std::vector<std::string>{"/pics/summer"});
  EXPECT_EQ(names(config.mp3.dirList), std::vector<std::string>{"/pics/winter"});
  EXPECT_EQ(lastChosenFolder(), "/pics/winter");
}

struct MaxFilesCase {
  const char* typed;
  int32_t stored;
};

class MaxFiles : public ListDialogTest, public ::testing::WithParamInterface<MaxFilesCase> {};

TEST_P(MaxFiles, CloseReadsTheFirstEightCharactersHeldToOneThroughNineThousandNineHundredNinetyNine) {
  host.onDialog(kImageListDialog, [&](ScriptedDialog& d) {
    d.type(1046, GetParam().typed);
    d.click(1034);
  });
  EXPECT_EQ(openImages(), 1);
  EXPECT_EQ(images.maxFiles, GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Values, MaxFiles,
                         ::testing::Values(MaxFilesCase{"0", 1}, MaxFilesCase{"", 1}, MaxFilesCase{"123456", 9999},
                                           MaxFilesCase{"250", 250}, MaxFilesCase{"9999", 9999},
                                           MaxFilesCase{"000000099", 9},  // only "00000009" is read
                                           MaxFilesCase{"12abc3", 123}));

TEST_F(ListDialogTest, CloseTakesTheSettingsAndEscapeTakesNone) {
  for (const char* p : {"/d/0", "/d/1", "/d/2", "/d/3"}) images.dirList.append(p);
  images.selectedDirs[0] = 0;
  images.selectedDirs[1] = -1;
  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    d.click(1045);
    d.click(1098);
    d.selectCombo(1041, 2);
    d.click(1047);
    d.selectRows(kDirs, {1, 3});
    d.type(1046, "7");
    d.pressEscape();
  });
  EXPECT_EQ(openImages(), 0);
  EXPECT_EQ(images.listEnabled, 1);
  EXPECT_EQ(images.randomizeOrder, 1);
  EXPECT_EQ(images.playMode, 8);
  EXPECT_EQ(images.maxFiles, 99);
  EXPECT_EQ(images.selectedDirs[0], 0);
  EXPECT_EQ(images.selectedDirs[1], -1);

  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    d.click(1045);
    d.click(1098);
    d.selectCombo(1041, 2);
    d.selectRows(kDirs, {1, 3});
    d.click(1034);
  });
  EXPECT_EQ(openImages(), 1);
  EXPECT_EQ(images.listEnabled, 0);
  EXPECT_EQ(images.randomizeOrder, 0);
  EXPECT_EQ(images.playMode, 2);
  EXPECT_EQ(images.selectedDirs[0], 1);
  EXPECT_EQ(images.selectedDirs[1], 3);
  EXPECT_EQ(images.selectedDirs[2], -1);
  EXPECT_EQ(images.selectedDirs[255], -1);
}

TEST_F(ListDialogTest, APlayModeOutsideTheListIsKeptWhenNoneIsChosen) {
  images.playMode = 12;
  host.onDialog(kImageListDialog, [](ScriptedDialog& d) {
    EXPECT_EQ(d.control(1041).selection, -1);
    d.click(1034);
  });
  openImages();
  EXPECT_EQ(images.playMode, 12);
}

}  // namespace
