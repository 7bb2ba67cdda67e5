// The scripted dialog host behaves as the Win32 dialog manager does where
// the dialog procedures rely on it: check boxes toggle before they report,
// radio buttons clear their neighbours, Escape is IDCANCEL, Enter is the
// default button, list rows carry their selection when rows move, trackbars
// stay in range, posted messages arrive on the dialog's thread.
#include <gtest/gtest.h>

#include <thread>

#include "platform/dialog.h"
#include "platform/testing/scripteddialogs.h"

using namespace platform;

namespace {

const DialogTemplate& sampleTemplate() {
  static const DialogTemplate t = [] {
    DialogTemplate d;
    d.id = 9100;
    d.caption = "Sample";
    d.controls = {
        {10, ControlKind::checkBox, "Check", 0, 0, "", 0},
        {-100, ControlKind::group, "Choice", 0, 0, "", 0},
        {11, ControlKind::radioButton, "One", -100, 0, "", 0},
        {12, ControlKind::radioButton, "Two", -100, 0, "", 0},
        {13, ControlKind::edit, "", 0, ControlStyle::kDigitsOnly, "", 4},
        {14, ControlKind::listBox, "", 0, 0, "", 0},
        {15, ControlKind::trackbar, "", 0, 0, "", 0},
        {16, ControlKind::pushButton, "Go", 0, ControlStyle::kDefaultButton, "", 0},
        {17, ControlKind::pushButton, "Off", 0, ControlStyle::kDisabled, "", 0},
        {18, ControlKind::progress, "", 0, 0, "", 0},
        {IDCANCEL, ControlKind::pushButton, "Cancel", 0, ControlStyle::kButtonRow, "", 0},
    };
    return d;
  }();
  return t;
}

// What the procedure saw: each WM_COMMAND as (id, notification, check state
// of 10 at that moment).
struct Seen {
  std::vector<std::tuple<int, int, UINT>> commands;
  std::vector<std::pair<UINT, WPARAM>> others;
  LPARAM initParam = 0;
};
Seen* seen = nullptr;

INT_PTR sampleProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      seen->initParam = lParam;
      Trackbar_SetRange(dialog, 15, TRUE, 60, 160);
      Trackbar_SetPos(dialog, 15, 20);  // below the range: the thumb stays at its left end
      return TRUE;
    case WM_COMMAND:
      seen->commands.emplace_back(LOWORD(wParam), HIWORD(wParam), IsDlgButtonChecked(dialog, 10));
      if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 2);
      if (LOWORD(wParam) == 16) EndDialog(dialog, 16);
      return TRUE;
    case WM_APP + 1:
      seen->others.emplace_back(message, wParam);
      Progress_SetPos(dialog, 18, static_cast<int>(wParam));
      if (wParam == 100) EndDialog(dialog, 100);
      return TRUE;
    default: return FALSE;
  }
}

class ScriptedDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { seen = &seen_; }
  void TearDown() override { seen = nullptr; }
  Seen seen_;
  ScriptedDialogHost host;
  ScopedDialogHost guard{host};
};

TEST_F(ScriptedDialogsTest, ChecksToggleBeforeTheyReportAndRadiosClearTheirGroup) {
  host.onDialog(9100, [](ScriptedDialog& d) {
    EXPECT_TRUE(d.click(10));
    EXPECT_TRUE(d.click(11));
    EXPECT_TRUE(d.click(12));
    EXPECT_FALSE(d.checked(11));
    EXPECT_TRUE(d.checked(12));
    EXPECT_TRUE(d.click(IDCANCEL));
  });
  EXPECT_EQ(DialogBoxIndirectParamA(0, sampleTemplate(), 0, sampleProc, 1234), 2);
  EXPECT_EQ(seen_.initParam, 1234);
  ASSERT_EQ(seen_.commands.size(), 4u);
  EXPECT_EQ(seen_.commands[0], std::make_tuple(10, int(BN_CLICKED), BST_CHECKED));
  EXPECT_EQ(std::get<0>(seen_.commands[1]), 11);
  EXPECT_TRUE(host.problems.empty()) << host.problems.front();
}

TEST_F(ScriptedDialogsTest, KeysAndRefusedActions) {
  host.onDialog(9100, [](ScriptedDialog& d) {
    EXPECT_FALSE(d.click(17));  // disabled: a user can't
    EXPECT_FALSE(d.click(99));  // absent
    EXPECT_TRUE(d.type(13, "12a34567"));
    EXPECT_EQ(d.text(13), "1234");  // digits only, at most four
    EXPECT_EQ(d.control(15).position, 60);
    EXPECT_TRUE(d.setTrackbar(15, 500));
    EXPECT_EQ(Trackbar_GetPos(d.handle(), 15), 160);
    d.pressEnter();  // the default button
  });
  EXPECT_EQ(DialogBoxIndirectParamA(0, sampleTemplate(), 0, sampleProc, 0), 16);
  EXPECT_EQ(host.problems.size(), 2u);

  host.onDialog(9100, [](ScriptedDialog& d) { d.pressEscape(); });
  EXPECT_EQ(DialogBoxIndirectParamA(0, sampleTemplate(), 0, sampleProc, 0), 2);
  EXPECT_EQ(std::get<0>(seen_.commands.back()), IDCANCEL);
}

TEST_F(ScriptedDialogsTest, ListRowsCarryTheirSelectionWhenRowsMove) {
  host.onDialog(9100, [](ScriptedDialog& d) {
    const HWND h = d.handle();
    for (const char* row : {"a", "b", "c", "d"}) ListBox_AddString(h, 14, row);
    EXPECT_TRUE(d.selectRows(14, {1, 3}));
    ListBox_InsertString(h, 14, 0, "new");  // everything below moves down
    EXPECT_EQ(ListBox_GetSelItems(h, 14, 256), (std::vector<int>{2, 4}));
    ListBox_DeleteString(h, 14, 2);  // a selected row goes with its selection
    EXPECT_EQ(ListBox_GetSelItems(h, 14, 256), (std::vector<int>{3}));
    EXPECT_EQ(d.control(14).rowTexts(), (std::vector<std::string>{"new", "a", "c", "d"}));
    EXPECT_EQ(ListBox_GetSelItems(h, 14, 0), std::vector<int>{});
    d.pressEscape();
  });
  DialogBoxIndirectParamA(0, sampleTemplate(), 0, sampleProc, 0);
  EXPECT_TRUE(host.problems.empty());
}

TEST_F(ScriptedDialogsTest, AWorkerPostsProgressWhileTheDialogRuns) {
  host.onDialog(9100, [](ScriptedDialog& d) {
    const HWND h = d.handle();
    std::thread worker([h] {
      for (WPARAM p = 10; p <= 100; p += 10) PostDialogMessageA(h, WM_APP + 1, p, 0);
    });
    EXPECT_TRUE(d.waitUntil([&] { return d.ended(); }));
    worker.join();
  });
  EXPECT_EQ(DialogBoxIndirectParamA(0, sampleTemplate(), 0, sampleProc, 0), 100);
  ASSERT_EQ(seen_.others.size(), 10u);
  EXPECT_EQ(seen_.others.front().second, 10u);
  EXPECT_TRUE(host.problems.empty());
}

TEST_F(ScriptedDialogsTest, DialogsWithoutScriptsOrLeftOpenAreProblems) {
  EXPECT_EQ(DialogBoxIndirectParamA(0, sampleTemplate(), 0, sampleProc, 0), -1);
  host.onDialog(9100, [](ScriptedDialog&) {});
  EXPECT_EQ(DialogBoxIndirectParamA(0, sampleTemplate(), 0, sampleProc, 0), -1);
  EXPECT_EQ(host.problems.size(), 2u);
  // Unregistered templates can't be opened at all.
  EXPECT_EQ(DialogBoxParamA(0, 424242, 0, sampleProc, 0), -1);
}

TEST_F(ScriptedDialogsTest, SystemDialogsAnswerWhatTheTestQueued) {
  host.messageBoxAnswers.push_back(IDCANCEL);
  EXPECT_EQ(DialogMessageBoxA(0, "Sure?", "Lumenmere", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(DialogMessageBoxA(0, "Done", "Lumenmere", MB_OK), IDOK);  // nothing queued: the default button
  ASSERT_EQ(host.messageBoxes.size(), 2u);
  EXPECT_EQ(host.messageBoxes[0].text, "Sure?");

  COLORREF custom[16] = {};
  CHOOSECOLORA cc;
  cc.rgbResult = RGB(1, 2, 3);
  cc.lpCustColors = custom;
  cc.Flags = CC_RGBINIT | CC_FULLOPEN;
  host.colorAnswers.push_back({std::nullopt, std::nullopt});
  EXPECT_FALSE(ChooseColorA(&cc));
  EXPECT_EQ(cc.rgbResult, RGB(1, 2, 3));
  host.colorAnswers.push_back({RGB(9, 8, 7), std::vector<COLORREF>(16, RGB(5, 5, 5))});
  EXPECT_TRUE(ChooseColorA(&cc));
  EXPECT_EQ(cc.rgbResult, RGB(9, 8, 7));
  EXPECT_EQ(custom[15], RGB(5, 5, 5));

  EXPECT_EQ(BrowseForFolderA(0, "select directory", "/start"), std::nullopt);  // unanswered: cancelled
  EXPECT_EQ(host.problems.size(), 1u);
}

TEST(DialogHelpersTest, OpenFileNamesComeBackInTheWin32Form) {
  char buffer[64];
  OPENFILENAMEA request;
  request.lpstrFile = buffer;
  request.nMaxFile = sizeof buffer;
  DWORD error = 1;
  ASSERT_TRUE(storeOpenFileNames(&request, {"/pics/a.jpg"}, &error));
  EXPECT_EQ(std::string(buffer), "/pics/a.jpg");
  EXPECT_EQ(request.nFileOffset, 6);
  EXPECT_EQ(error, 0u);

  ASSERT_TRUE(storeOpenFileNames(&request, {"/pics/a.jpg", "/pics/b.jpg", "/pics/sub/c.jpg"}, &error));
  EXPECT_EQ(std::string(buffer, 29), std::string("/pics\0a.jpg\0b.jpg\0sub/c.jpg\0\0", 29));

  std::vector<std::string> many(10, "/pics/a-long-file-name.jpg");
  EXPECT_FALSE(storeOpenFileNames(&request, many, &error));
  EXPECT_EQ(error, FNERR_BUFFERTOOSMALL);

  const char filter[] = ".jpg.bmp\0*.jpg;*.bmp;\0\0";
  auto parsed = parseFileFilter(filter);
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(parsed[0].description, ".jpg.bmp");
  EXPECT_EQ(parsed[0].patterns, (std::vector<std::string>{"*.jpg", "*.bmp"}));
}

}  // namespace
