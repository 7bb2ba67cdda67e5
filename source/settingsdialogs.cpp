#include "source/settingsdialogs.h"

#include <cstdio>

#include "pack/pack.h"
#include "pack/standalone.h"
#include "source/config.h"
#include "source/standalonedialog.h"

using namespace platform;
using namespace ControlStyle;

namespace {

using K = ControlKind;

DialogTemplate menuTemplate() {
  DialogTemplate d;
  d.id = kSettingsMenu;
  d.caption = "Lumenmere Settings";
  d.width = 201;
  d.height = 210;
  d.controls = {
      {-10, K::group, "", 0, 0, "", 0},
      {1023, K::pushButton, "Water Surface Settings", -10, kExpand, "", 0},
      {1022, K::pushButton, "Mp3 Player Settings", -10, kExpand, "", 0},
      {1031, K::pushButton, "Image Settings", -10, kExpand, "", 0},
      {1028, K::pushButton, "Display Settings", -10, kExpand, "", 0},
      {-11, K::group, "", 0, 0, "", 0},
      {1032, K::pushButton, "Build Standalone Executable File", -11, kExpand, "", 0},
      {IDOK, K::pushButton, "OK", 0, kButtonRow | kDefaultButton, "", 0},
      {IDCANCEL, K::pushButton, "Cancel", 0, kButtonRow, "", 0},
  };
  return d;
}

DialogTemplate waterTemplate() {
  DialogTemplate d;
  d.id = kWaterDialog;
  d.caption = "Water Surface Settings";
  d.width = 253;
  d.height = 247;
  d.controls = {
      {1032, K::checkBox, "Enable Water Ripple", 0, 0, "", 0},
      {1038, K::checkBox, "Water Drop", 0, 0, "", 0},
      {1034, K::checkBox, "Little Boat", 0, 0, "", 0},
      {-20, K::group, "Water Color", 0, 0, "", 0},
      {1033, K::checkBox, "Random Color", -20, 0, "", 0},
      {1029, K::colorButton, "", -20, kSameRow, "Water Color", 0},
      {-21, K::group, "Specular Settings", 0, 0, "", 0},
      {1024, K::checkBox, "Enable Speclar Light", -21, 0, "", 0},
      {1027, K::checkBox, "Random Color", -21, 0, "", 0},
      {1028, K::colorButton, "", -21, kSameRow, "Specular Color", 0},
      {-22, K::group, "Specular Power", 0, 0, "", 0},
      {1031, K::trackbar, "", -22, 0, "", 0},
      {-23, K::group, "Animation Speed", 0, 0, "", 0},
      {IDC_STATIC, K::text, "Slow", -23, kNoWrap, "", 0},
      {1015, K::trackbar, "", -23, kSameRow, "", 0},
      {IDC_STATIC, K::text, "Fast", -23, kSameRow | kNoWrap, "", 0},
      {-24, K::group, "Water Surface Size", 0, 0, "", 0},
      {IDC_STATIC, K::text, "Small", -24, kNoWrap, "", 0},
      {1016, K::trackbar, "", -24, kSameRow, "", 0},
      {IDC_STATIC, K::text, "Large", -24, kSameRow | kNoWrap, "", 0},
      {IDOK, K::pushButton, "OK", 0, kButtonRow | kDefaultButton, "", 0},
      {IDCANCEL, K::pushButton, "Cancel", 0, kButtonRow, "", 0},
  };
  return d;
}

DialogTemplate greetingTemplate() {
  DialogTemplate d;
  d.id = kGreetingDialog;
  d.caption = "Lumenmere";
  d.width = 187;
  d.height = 83;
  d.controls = {
      {1036, K::text, "", 0, 0, "", 0},
      {IDOK, K::pushButton, "OK", 0, kButtonRow | kDefaultButton, "", 0},
  };
  return d;
}

DialogTemplate listTemplate(int id, const char* caption, const char* enableText) {
  DialogTemplate d;
  d.id = id;
  d.caption = caption;
  d.width = 224;
  d.height = 252;
  d.controls = {
      {1045, K::checkBox, enableText, 0, 0, "", 0},
      {1000, K::checkBox, "Show Play buttons", 0, kHidden, "", 0},
      {IDC_STATIC, K::text, "Maximum files to play", 0, kLabelsNext | kNoWrap, "", 0},
      {1046, K::edit, "", 0, kSameRow | kDigitsOnly, "", 0},
      {1098, K::checkBox, "Randomize Order", 0, 0, "", 0},
      {1041, K::dropDownList, "", 0, 0, "Play mode", 0},
      {1047, K::checkBox, "Edit Directory list", 0, 0, "", 0},
      {1093, K::listBox, "", 0, 0, "Directory list", 0},
      {1048, K::checkBox, "EDIT File list", 0, 0, "", 0},
      {1092, K::listBox, "", 0, 0, "File list", 0},
      {1099, K::pushButton, "Add Directory", 0, 0, "", 0},
      {1095, K::pushButton, "Add Files", 0, kSameRow, "", 0},
      {1088, K::pushButton, "Top", 0, 0, "", 0},
      {1089, K::pushButton, "Up", 0, kSameRow, "", 0},
      {1090, K::pushButton, "Down", 0, kSameRow, "", 0},
      {1091, K::pushButton, "Bottom", 0, kSameRow, "", 0},
      {1096, K::pushButton, "Remove", 0, kSameRow, "", 0},
      {1097, K::pushButton, "Remove All", 0, kSameRow, "", 0},
      {1034, K::pushButton, "Close", 0, kButtonRow | kDefaultButton, "", 0},
  };
  return d;
}

const DialogTemplate& menuDialog() {
  static const DialogTemplate t = menuTemplate();
  return t;
}
const DialogTemplate& waterDialog() {
  static const DialogTemplate t = waterTemplate();
  return t;
}
const DialogTemplate& greetingDialog() {
  static const DialogTemplate t = greetingTemplate();
  return t;
}
const DialogTemplate& imageListDialog() {
  static const DialogTemplate t = listTemplate(kImageListDialog, "Image list", "Enable Image Show");
  return t;
}
const DialogTemplate& mp3ListDialog() {
  static const DialogTemplate t = listTemplate(kMp3ListDialog, "Mp3 File List", "Enable Mp3 Player");
  return t;
}

HINSTANCE& settingsInstance() {
  static HINSTANCE instance = 0;
  return instance;
}

}  // namespace

void registerSettingsDialogs() {
  registerDialogTemplate(menuDialog());
  registerDialogTemplate(waterDialog());
  registerDialogTemplate(greetingDialog());
  registerDialogTemplate(imageListDialog());
  registerDialogTemplate(mp3ListDialog());
  registerStandaloneDialog();
  registerIconResource(kSettingsIcon, "preferences-desktop-screensaver");
}

COLORREF* customColours() {
  // White until the user makes colours of their own, as the system's
  // colour dialog starts.
  static COLORREF table[16] = {RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
                               RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
                               RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
                               RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255)};
  return table;
}

std::string& lastChosenFolder() {
  static std::string folder;
  return folder;
}

std::string greetingLine(const std::string& builderName) {
  // The copy may not know who built it (an older copy, an unknown user).
  const std::string name = builderName.empty() ? std::string("a friend") : builderName;
  char line[512];
  std::snprintf(line, sizeof line, "Greetings from %s", name.c_str());
  return line;
}

INT_PTR settingsMenuEntry(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return Config::ensureInstance().dialogProc(dialog, message, wParam, lParam);
}

INT_PTR waterDialogEntry(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return Config::ensureInstance().water.dialogProc(dialog, message, wParam, lParam);
}

INT_PTR imageListDialogEntry(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return Config::ensureInstance().images.dialogProc(dialog, message, wParam, lParam);
}

INT_PTR mp3ListDialogEntry(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return Config::ensureInstance().mp3.dialogProc(dialog, message, wParam, lParam);
}

// The main settings menu.
intptr_t Config::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // The parameter is the big icon, which the standalone builder shows too.
      SetDialogUserData(dialog, lParam);
      SetDialogIcon(dialog, static_cast<HICON>(lParam));
      CentreDialog(dialog);
      SetDialogTopmost(dialog, TRUE);
      return TRUE;
    case WM_COMMAND: {
      const HINSTANCE instance = settingsInstance();
      switch (LOWORD(wParam)) {
        case 1023: DialogBoxParamA(instance, kWaterDialog, dialog, waterDialogEntry, 0); return TRUE;
        case 1022: DialogBoxParamA(instance, kMp3ListDialog, dialog, mp3ListDialogEntry, 0); return TRUE;
        case 1031: DialogBoxParamA(instance, kImageListDialog, dialog, imageListDialogEntry, 0); return TRUE;
        case 1028:
          if (showDisplaySettingsHook) showDisplaySettingsHook(dialog);
          return TRUE;
        case 1032:
          // The copy starts from what was confirmed so far.
          if (!save()) {
            DialogMessageBoxA(dialog, "The settings could not be saved, so no copy can be built from them.",
                              kProductName, MB_OK | MB_ICONERROR);
            return TRUE;
          }
          showStandaloneBuilder(dialog, instance, static_cast<HICON>(GetDialogUserData(dialog)));
          return TRUE;
        case IDOK: EndDialog(dialog, 1); return TRUE;
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        default: return FALSE;
      }
    }
    default: return FALSE;
  }
}

INT_PTR greetingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDialogIcon(dialog, static_cast<HICON>(lParam));
      CentreDialog(dialog);
      SetDialogTopmost(dialog, TRUE);
      SetDlgItemTextA(dialog, 1036, greetingLine(standaloneBuilderName(processPack())).c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

INT_PTR showSettings(HWND parent, HINSTANCE instance) {
  registerSettingsDialogs();
  settingsInstance() = instance;
  Config& config = Config::ensureInstance();
  const HICON icon = LoadIconA(instance, kSettingsIcon);
  // A standalone copy greets instead of offering its settings.
  if (config.standaloneMarker == Config::kStandaloneMarker)
    return DialogBoxParamA(instance, kGreetingDialog, parent, greetingDialogProc, static_cast<LPARAM>(icon));
  const INT_PTR result = DialogBoxParamA(instance, kSettingsMenu, parent, settingsMenuEntry, static_cast<LPARAM>(icon));
  if (result == 1 && !config.save()) {
    // OK must not look as if it kept the settings when it could not.
    const std::string text = "The settings could not be saved in " + Config::settingsDirectory() + ".";
    DialogMessageBoxA(parent, text.c_str(), Config::kProductName, MB_OK | MB_ICONERROR);
  }
  return result;
}
