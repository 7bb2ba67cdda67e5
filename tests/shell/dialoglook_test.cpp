// Every dialog of the settings program on the real GTK host, as a new user
// meets it: every text whole, Tab moving through the controls in reading
// order, Escape cancelling and Enter confirming.  A screenshot of each lands
// in the build output (screenshots/).
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "platform/gtk/gtkdialoghost.h"
#include "shell/displaysettingsdialog.h"
#include "shellrig.h"
#include "source/config.h"
#include "source/settingsdialogs.h"
#include "source/standalonedialog.h"
#include "tests/common/testenv.h"

using namespace shelltest;
using namespace platform;

namespace {

struct Look {
  int id;
  const char* name;
  DLGPROC proc;
  INT_PTR cancelled;  // what Escape ends it with
  INT_PTR confirmed;  // what Enter ends it with
};

INT_PTR displayProc(HWND d, UINT m, WPARAM w, LPARAM l) { return displaySettingsDialogProc(d, m, w, l); }

class DialogLookTest : public ::testing::TestWithParam<Look> {
 protected:
  // Tab order and keys need the keyboard focus: no other test's window may
  // take it meanwhile.
  testenv::DisplayLock displayLock;
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no X display");
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    if (!ensureGtkDialogHost() || !gtkDialogHost()) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "GTK can't start");
    host = gtkDialogHost();
    dir = testenv::freshDir("look");
    Config::resetDirectories();
    Config::setProgramDirectory(dir);
    Config::publish(&config);
    for (int i = 1; i <= 12; ++i)
      config.images.fileList.append("/home/user/Pictures/holiday-" + std::to_string(i) + ".jpg");
    config.images.dirList.append("/home/user/Pictures");
    config.images.dirList.append("/home/user/Pictures/Summer 2026");
    config.mp3.fileList.append("/home/user/Music/Songs by the sea.mp3");
    ASSERT_TRUE(config.save());
    registerSettingsDialogs();
    registerDisplaySettingsDialogs();
    savedBuilder = standaloneBuilder();
    standaloneBuilder() = [](const std::string&, const StandaloneSettings&, const StandaloneProgress& progress) {
      progress(1.0);
      StandaloneResult r;
      r.bytes = 1;
      return r;
    };
    // The success box of the builder is answered at once.
    host->onSystemDialogShown = [](GtkWidget* w) { gtk_dialog_response(GTK_DIALOG(w), IDOK); };
  }
  void TearDown() override {
    if (!host) return;
    host->onShown = nullptr;
    host->onSystemDialogShown = nullptr;
    standaloneBuilder() = savedBuilder;
    Config::publish(nullptr);
    Config::resetDirectories();
  }

  INT_PTR open(const Look& look) {
    const HICON icon = LoadIconA(0, kSettingsIcon);
    if (look.id == kStandaloneDialog) return showStandaloneBuilder(0, 0, icon);
    LPARAM param = static_cast<LPARAM>(icon);
    if (look.id == kDisplaySettingsSingle || look.id == kDisplaySettingsMulti) return showDisplaySettingsDialog(0);
    return DialogBoxParamA(0, look.id, 0, look.proc, param);
  }

  GtkDialogHost* host = nullptr;
  std::string dir;
  Config config;
  StandaloneBuilder savedBuilder;
  std::unique_ptr<Rig> rig;
  std::unique_ptr<RecordingApp> app;
};

TEST_P(DialogLookTest, ReadsWellTabsInOrderAndAnswersEscapeAndEnter) {
  const Look& look = GetParam();
  if (look.id == kDisplaySettingsSingle || look.id == kDisplaySettingsMulti) {
    rig = std::make_unique<Rig>();
    const int monitors = look.id == kDisplaySettingsMulti ? 2 : 1;
    rig->setMonitors(monitors);
    for (int m = 0; m < monitors; ++m) rig->addAdapter(m, static_cast<BYTE>(0x11 + m));
    app = rig->makeApp("/c");
    app->create(0);
  }

  bool shown = false;
  host->onShown = [&](HWND d, const DialogTemplate& t) {
    if (shown) return;  // only the dialog under test (not one it opens)
    shown = true;
    const std::vector<std::string> problems = host->layoutProblems(d);
    EXPECT_TRUE(problems.empty()) << look.name << ": " << problems.front();
    // Tab visits the controls in the template's reading order.
    const std::vector<int> order = host->tabOrder(d);
    ASSERT_FALSE(order.empty());
    int last = -1;
    for (int id : order) {
      int at = -1;
      for (size_t i = 0; i < t.controls.size(); ++i)
        if (t.controls[i].id == id) at = static_cast<int>(i);
      EXPECT_GT(at, last) << look.name << ": control " << id << " comes out of order";
      last = at;
    }
    const std::string shot =
        std::string(LM_SCREENSHOT_DIR) + "/dialog-" + std::to_string(t.id) + "-" + look.name + ".png";
    std::system(("mkdir -p '" LM_SCREENSHOT_DIR "'"));
    EXPECT_TRUE(host->screenshot(d, shot));
    host->sendKey(d, GDK_KEY_Escape);
  };
  EXPECT_EQ(open(look), look.cancelled);
  ASSERT_TRUE(shown);

  // Enter, wherever the focus starts, is the default button.
  shown = false;
  host->onShown = [&](HWND d, const DialogTemplate&) {
    if (shown) return;
    shown = true;
    host->sendKey(d, GDK_KEY_Return);
  };
  EXPECT_EQ(open(look), look.confirmed);
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, DialogLookTest,
    ::testing::Values(Look{kSettingsMenu, "settings-menu", settingsMenuEntry, 0, 1},
                      Look{kWaterDialog, "water-surface-settings", waterDialogEntry, 0, 1},
                      Look{kImageListDialog, "image-list", imageListDialogEntry, 0, 1},
                      Look{kMp3ListDialog, "mp3-file-list", mp3ListDialogEntry, 0, 1},
                      Look{kGreetingDialog, "greeting", greetingDialogProc, 0, 1},
                      Look{kStandaloneDialog, "standalone-builder", nullptr, 0, 1},
                      Look{kDisplaySettingsSingle, "display-settings-one-monitor", displayProc, 2, 1},
                      Look{kDisplaySettingsMulti, "display-settings-two-monitors", displayProc, 2, 1}),
    [](const ::testing::TestParamInfo<Look>& param) {
      std::string n = param.param.name;
      for (char& c : n)
        if (c == '-') c = '_';
      return n;
    });

}  // namespace
