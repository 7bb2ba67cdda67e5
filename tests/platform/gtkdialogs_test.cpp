// The GTK dialog host on a real (virtual) display: a template of every kind
// of control becomes widgets that show what the procedure sets, report what
// the user does, follow Escape and Enter, tab through the controls in
// reading order, keep every text whole, and stay responsive while a worker
// thread reports progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/dialog.h"
#include "platform/gtk/gtkdialoghost.h"
#include "tests/common/testenv.h"

using namespace platform;

namespace {

enum : int {
  kName = 20,
  kEdit = 21,
  kCheck = 22,
  kRadioA = 23,
  kRadioB = 24,
  kCombo = 25,
  kList = 26,
  kSlider = 27,
  kTabs = 28,
  kTabText = 29,
  kProgress = 30,
  kColour = 31,
  kHidden = 32,
  kGroup = -200,
};

const DialogTemplate& everyKind() {
  static const DialogTemplate t = [] {
    DialogTemplate d;
    d.id = 9200;
    d.caption = "Every Kind";
    d.width = 220;
    d.controls = {
        {kName, ControlKind::text, "&Name:", 0, ControlStyle::kLabelsNext, "", 0},
        {kEdit, ControlKind::edit, "", 0, ControlStyle::kSameRow, "", 40},
        {kGroup, ControlKind::group, "Options", 0, 0, "", 0},
        {kCheck, ControlKind::checkBox, "&Remember", kGroup, 0, "", 0},
        {kRadioA, ControlKind::radioButton, "Fast", kGroup, 0, "", 0},
        {kRadioB, ControlKind::radioButton, "Slow", kGroup, ControlStyle::kSameRow, "", 0},
        {kColour, ControlKind::colorButton, "", kGroup, 0, "Colour", 0},
        {kCombo, ControlKind::dropDownList, "", 0, 0, "Mode", 0},
        {kList, ControlKind::listBox, "", 0, 0, "Files", 0},
        {kSlider, ControlKind::trackbar, "", 0, 0, "Speed", 0},
        {kTabs, ControlKind::tab, "", 0, 0, "", 0},
        {kTabText, ControlKind::text, "A page of the tabs", kTabs, 0, "", 0},
        {kProgress, ControlKind::progress, "", 0, 0, "", 0},
        {kHidden, ControlKind::text, "never shown", 0, ControlStyle::kHidden, "", 0},
        {IDOK, ControlKind::pushButton, "OK", 0, ControlStyle::kButtonRow, "", 0},
        {IDCANCEL, ControlKind::pushButton, "Cancel", 0, ControlStyle::kButtonRow, "", 0},
    };
    return d;
  }();
  return t;
}

struct Record {
  std::vector<std::pair<int, int>> commands;  // id, notification
  std::vector<UINT> checkStates;              // of kCheck at each of its clicks
  std::vector<int> tabChanges;                // the selected tab at each TCN_SELCHANGE
  std::vector<COLORREF> fills;
  std::atomic<int> progress{0};
  std::thread worker;
};
Record* record = nullptr;

INT_PTR everyKindProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, kEdit, "hello");
      CheckDlgButton(dialog, kCheck, BST_CHECKED);
      CheckRadioButton(dialog, kRadioA, kRadioB, kRadioB);
      for (const char* item : {"Random", "Play the file list", "Play selected directories"}) {
        const int i = ComboBox_AddString(dialog, kCombo, item);
        ComboBox_SetItemData(dialog, kCombo, i, 100 + i);
      }
      ComboBox_SetCurSel(dialog, kCombo, 1);
      for (int i = 1; i <= 30; ++i) {
        char row[64];
        std::snprintf(row, sizeof row, "%3d  /home/user/pictures/picture-%02d.jpg", i, i);
        ListBox_AddString(dialog, kList, row);
      }
      ListBox_SetSel(dialog, kList, TRUE, 2);
      ListBox_SetSel(dialog, kList, TRUE, 5);
      ListBox_SetHorizontalExtent(dialog, kList, 500);
      Trackbar_SetRange(dialog, kSlider, TRUE, 60, 160);
      Trackbar_SetPos(dialog, kSlider, 120);
      Trackbar_SetPageSize(dialog, kSlider, 10);
      Trackbar_SetTicFreq(dialog, kSlider, 10);
      TabCtrl_InsertItem(dialog, kTabs, 0, "Monitor 1");
      TabCtrl_InsertItem(dialog, kTabs, 1, "Monitor 2");
      Progress_SetRange(dialog, kProgress, 0, 1000);
      Progress_SetPos(dialog, kProgress, 250);
      (void)lParam;
      return TRUE;
    case WM_COMMAND:
      record->commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
      if (LOWORD(wParam) == kCheck) record->checkStates.push_back(IsDlgButtonChecked(dialog, kCheck));
      if (LOWORD(wParam) == IDOK) EndDialog(dialog, IDOK);
      if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, IDCANCEL);
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code == TCN_SELCHANGE) record->tabChanges.push_back(TabCtrl_GetCurSel(dialog, kTabs));
      return TRUE;
    }
    case WM_DRAWITEM: {
      const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      FillSolidRect(item->hDC, &item->rcItem, RGB(0x20, 0x80, 0xE0));
      record->fills.push_back(RGB(0x20, 0x80, 0xE0));
      return TRUE;
    }
    case WM_APP + 1:
      Progress_SetPos(dialog, kProgress, static_cast<int>(wParam));
      record->progress = static_cast<int>(wParam);
      return TRUE;
    case WM_APP + 2: EndDialog(dialog, 77); return TRUE;
    default: return FALSE;
  }
}

std::string screenshotDir() {
  const std::string dir = LM_SCREENSHOT_DIR;
  std::system(("mkdir -p '" + dir + "'").c_str());
  return dir;
}

// Pixel (x, y) of a widget as drawn, 0x00RRGGBB.
uint32_t pixelOf(GtkWidget* w, int x, int y) {
  const int width = gtk_widget_get_allocated_width(w), height = gtk_widget_get_allocated_height(w);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(s);
  gtk_widget_draw(w, cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  const uint32_t* row =
      reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s));
  const uint32_t p = row[x] & 0xFFFFFF;
  cairo_surface_destroy(s);
  return p;
}

// Lets GTK lay out and draw what waits (its frame clock runs from the main loop).
void settle() {
  const gint64 until = g_get_monotonic_time() + 200000;
  while (g_get_monotonic_time() < until) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_usleep(5000);
  }
}

void pressKey(GtkWidget* window, guint keyval) {
  GdkWindow* gw = gtk_widget_get_window(window);
  GdkDisplay* display = gdk_window_get_display(gw);
  GdkEvent* e = gdk_event_new(GDK_KEY_PRESS);
  e->key.window = GDK_WINDOW(g_object_ref(gw));
  e->key.keyval = keyval;
  GdkKeymapKey* keys = nullptr;
  gint n = 0;
  if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &n) && n > 0)
    e->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
  g_free(keys);
  gdk_event_set_device(e, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
  gtk_main_do_event(e);
  gdk_event_free(e);
}

class GtkDialogsTest : public ::testing::Test {
 protected:
  // Tab order and keys need the keyboard focus: no other test's window may
  // take it meanwhile.
  testenv::DisplayLock displayLock;

  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no X display");
    // The accessibility bus is the AT-SPI test's business, not these tests'.
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    if (!ensureGtkDialogHost() || !gtkDialogHost()) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "GTK can't start");
    host = gtkDialogHost();
    record = &record_;
  }
  void TearDown() override {
    if (host) {
      host->onShown = nullptr;
      host->onSystemDialogShown = nullptr;
    }
    if (record_.worker.joinable()) record_.worker.join();
    record = nullptr;
  }
  GtkDialogHost* host = nullptr;
  Record record_;
};

TEST_F(GtkDialogsTest, EveryControlShowsWhatItsProcedureSetAndReportsTheUser) {
  bool ran = false;
  host->onShown = [&](HWND d, const DialogTemplate&) {
    ran = true;
    EXPECT_EQ(GetDlgItemString(d, kEdit), "hello");
    EXPECT_EQ(IsDlgButtonChecked(d, kCheck), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(d, kRadioB), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(d, kRadioA), BST_UNCHECKED);
    EXPECT_EQ(ComboBox_GetCurSel(d, kCombo), 1);
    EXPECT_EQ(ComboBox_GetItemData(d, kCombo, 2), 102);
    EXPECT_EQ(GetDlgItemString(d, kCombo), "Play the file list");
    EXPECT_EQ(ListBox_GetCount(d, kList), 30);
    EXPECT_EQ(ListBox_GetSelItems(d, kList, 256), (std::vector<int>{2, 5}));
    EXPECT_EQ(ListBox_GetText(d, kList, 0), "  1  /home/user/pictures/picture-01.jpg");
    EXPECT_EQ(Trackbar_GetPos(d, kSlider), 120);
    EXPECT_EQ(TabCtrl_GetCurSel(d, kTabs), 0);
    EXPECT_FALSE(gtk_widget_get_visible(gtk_widget_get_parent(host->widget(d, kHidden))) &&
                 gtk_widget_get_visible(host->widget(d, kHidden)));
    EXPECT_EQ(GetDlgItemString(d, kName), "&Name:");
    ASSERT_FALSE(record->fills.empty());  // the colour button was drawn by its procedure
    GtkWidget* swatch = gtk_bin_get_child(GTK_BIN(host->widget(d, kColour)));
    EXPECT_EQ(pixelOf(swatch, 2, 2), 0x2080E0u);

    // Moving the list's top row and the trackbar's thumb by the program.
    ListBox_SetTopIndex(d, kList, 20);
    settle();
    EXPECT_EQ(ListBox_GetTopIndex(d, kList), 20);
    Trackbar_SetPos(d, kSlider, 500);
    EXPECT_EQ(Trackbar_GetPos(d, kSlider), 160);

    // What a user does arrives as the procedure's messages.
    gtk_button_clicked(GTK_BUTTON(host->widget(d, kCheck)));
    gtk_button_clicked(GTK_BUTTON(host->widget(d, kRadioA)));
    gtk_combo_box_set_active(GTK_COMBO_BOX(host->widget(d, kCombo)), 2);
    gtk_notebook_set_current_page(GTK_NOTEBOOK(host->widget(d, kTabs)), 1);
    EXPECT_TRUE(gtk_widget_is_ancestor(host->widget(d, kTabText),
                                       gtk_notebook_get_nth_page(GTK_NOTEBOOK(host->widget(d, kTabs)), 1)));
    host->sendKey(d, GDK_KEY_Escape);
  };
  EXPECT_EQ(DialogBoxIndirectParamA(0, everyKind(), 0, everyKindProc, 0), IDCANCEL);
  ASSERT_TRUE(ran);
  // Setting values in WM_INITDIALOG reported nothing; the user's four actions did.
  const std::vector<std::pair<int, int>> expected = {
      {kCheck, BN_CLICKED}, {kRadioA, BN_CLICKED}, {kCombo, CBN_SELCHANGE}, {IDCANCEL, BN_CLICKED}};
  EXPECT_EQ(record_.commands, expected);
  EXPECT_EQ(record_.checkStates, std::vector<UINT>{BST_UNCHECKED});  // toggled before it reported
  EXPECT_EQ(record_.tabChanges, std::vector<int>{1});
}

TEST_F(GtkDialogsTest, TidyLayoutReadingTabOrderAndAScreenshot) {
  host->onShown = [&](HWND d, const DialogTemplate&) {
    const std::vector<std::string> problems = host->layoutProblems(d);
    EXPECT_TRUE(problems.empty()) << problems.front();
    // Tab visits the controls in the template's reading order.
    const std::vector<int> order = host->tabOrder(d);
    const std::vector<int> expected = {kEdit, kCheck, kRadioB, kColour, kCombo, kList, kSlider, kTabs, IDOK, IDCANCEL};
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(host->screenshot(d, screenshotDir() + "/platform-every-kind.png"));
    // The check sees a text squeezed below what it needs.
    GtkAllocation squeezed{0, 0, 8, 4};
    gtk_widget_size_allocate(host->widget(d, kName), &squeezed);
    const std::vector<std::string> cut = host->layoutProblems(d);
    ASSERT_FALSE(cut.empty());
    EXPECT_NE(cut.front().find("Name"), std::string::npos) << cut.front();
    // Enter in the edit box clicks the default button (OK here).
    gtk_widget_grab_focus(host->widget(d, kEdit));
    host->sendKey(d, GDK_KEY_Return);
  };
  EXPECT_EQ(DialogBoxIndirectParamA(0, everyKind(), 0, everyKindProc, 0), IDOK);
}

TEST_F(GtkDialogsTest, AWorkerThreadsProgressArrivesWhileTheDialogKeepsDrawing) {
  int draws = 0;
  host->onShown = [&](HWND d, const DialogTemplate&) {
    g_signal_connect(host->widget(d, kProgress), "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer n) -> gboolean {
                       ++*static_cast<int*>(n);
                       return FALSE;
                     }),
                     &draws);
    // A worker reporting progress while the dialog runs.
    record->worker = std::thread([d] {
      for (int p = 0; p <= 1000; p += 50) {
        PostDialogMessageA(d, WM_APP + 1, static_cast<WPARAM>(p), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      PostDialogMessageA(d, WM_APP + 2, 0, 0);
    });
  };
  EXPECT_EQ(DialogBoxIndirectParamA(0, everyKind(), 0, everyKindProc, 1), 77);
  EXPECT_EQ(record_.progress.load(), 1000);
  // The bar was redrawn as the posts came, not once at the end.
  EXPECT_GT(draws, 3);
}

TEST_F(GtkDialogsTest, MessageBoxesAnswerTheirButtonsAndEscape) {
  host->onSystemDialogShown = [](GtkWidget* w) { pressKey(w, GDK_KEY_Escape); };
  EXPECT_EQ(DialogMessageBoxA(0, "Too many files added, you will create a big file, create it any way ?", "Lumenmere",
                              MB_OKCANCEL),
            IDCANCEL);
  EXPECT_EQ(DialogMessageBoxA(0, "Created successfully", "Lumenmere", MB_OK), IDOK);
  host->onSystemDialogShown = [](GtkWidget* w) { gtk_dialog_response(GTK_DIALOG(w), IDYES); };
  EXPECT_EQ(DialogMessageBoxA(0, "Go on?", "Lumenmere", MB_YESNO | MB_ICONQUESTION), IDYES);
}

TEST_F(GtkDialogsTest, TheColourChooserStartsOnTheColourAndKeepsCustomColours) {
  COLORREF custom[16];
  for (COLORREF& c : custom) c = RGB(255, 255, 255);
  CHOOSECOLORA cc;
  cc.rgbResult = RGB(0x12, 0x34, 0x56);
  cc.lpCustColors = custom;
  cc.Flags = CC_RGBINIT | CC_FULLOPEN;
  GdkRGBA seenColour{};
  host->onSystemDialogShown = [&](GtkWidget* w) {
    gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(w), &seenColour);
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL);
  };
  EXPECT_FALSE(ChooseColorA(&cc));
  EXPECT_EQ(cc.rgbResult, RGB(0x12, 0x34, 0x56));
  EXPECT_NEAR(seenColour.red, 0x12 / 255.0, 1e-6);
  EXPECT_NEAR(seenColour.blue, 0x56 / 255.0, 1e-6);

  host->onSystemDialogShown = [&](GtkWidget* w) {
    const GdkRGBA made{0x40 / 255.0, 0x50 / 255.0, 0x60 / 255.0, 1.0};
    gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(w), &made);
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
  };
  EXPECT_TRUE(ChooseColorA(&cc));
  EXPECT_EQ(cc.rgbResult, RGB(0x40, 0x50, 0x60));
  EXPECT_EQ(custom[0], RGB(0x40, 0x50, 0x60));  // a colour of one's own joins the custom colours
  EXPECT_EQ(custom[1], RGB(255, 255, 255));
}

}  // namespace
