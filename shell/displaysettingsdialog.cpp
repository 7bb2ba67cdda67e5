#include "shell/displaysettingsdialog.h"

#include <memory>
#include <string>
#include <vector>

#include "shell/strings.h"

using namespace platform;
using namespace ControlStyle;

namespace {

constexpr int kTabs = 2000;
constexpr int kTabLabel = 2001;
constexpr int kAdapterName = 2002;
constexpr int kSummary = 2003;
constexpr int kHelp = 2004;
constexpr int kDisableHardware = 2005;
constexpr int kUsageGroup = 2006;
constexpr int kShowSaver = 2007;
constexpr int kShowNothing = 2008;
constexpr int kModeGroup = 2009;
constexpr int kModeLabel = 2010;
constexpr int kModeList = 2011;
constexpr int kAutomatic = 2012;
constexpr int kModeNote = 2013;
constexpr int kModeEntry = 2016;

constexpr const char* kNote =
    "Note: The Automatic display mode finds a mode that works well with your current screen saver settings and video "
    "adapter.";

DialogTemplate displayTemplate(bool multi) {
  using K = ControlKind;
  DialogTemplate d;
  d.id = multi ? kDisplaySettingsMulti : kDisplaySettingsSingle;
  d.caption = "Display Settings";
  d.width = 260;
  const int page = multi ? kTabs : 0;
  if (multi) {
    d.controls.push_back({kTabs, K::tab, "", 0, 0, "Monitors", 0});
    d.controls.push_back({kTabLabel, K::text, "Monitor %d", 0, kHidden, "", 0});
  }
  d.controls.push_back({kAdapterName, K::text, "", page, 0, "", 0});
  d.controls.push_back({kSummary, K::text, "", page, 0, "", 0});
  d.controls.push_back({kHelp, K::pushButton, "&Help", page, kSameRow, "", 0});
  d.controls.push_back({kDisableHardware, K::checkBox,
                        multi ? "&Disable hardware 3D rendering on this monitor" : "&Disable hardware 3D rendering",
                        page, 0, "", 0});
  if (multi) {
    d.controls.push_back({kUsageGroup, K::group, "Monitor usage", page, 0, "", 0});
    d.controls.push_back({kShowSaver, K::radioButton, "Display &screen saver on this monitor", kUsageGroup, 0, "", 0});
    d.controls.push_back({kShowNothing, K::radioButton, "Display &nothing on this monitor", kUsageGroup, 0, "", 0});
  }
  d.controls.push_back({kModeGroup, K::group, "Display mode", page, 0, "", 0});
  d.controls.push_back({kModeLabel, K::text, "Display &mode for this video adapter:", kModeGroup, kLabelsNext, "", 0});
  d.controls.push_back({kModeList, K::dropDownList, "", kModeGroup, kExpand, "", 0});
  d.controls.push_back({kAutomatic, K::text, "Automatic", kModeGroup, kHidden, "", 0});
  d.controls.push_back({kModeNote, K::text, kNote, kModeGroup, 0, "", 0});
  d.controls.push_back({kModeEntry, K::text, "%d by %d, %d bit color", kModeGroup, kHidden, "", 0});
  d.controls.push_back({IDOK, K::pushButton, "OK", 0, kButtonRow | kDefaultButton, "", 0});
  d.controls.push_back({IDCANCEL, K::pushButton, "Cancel", 0, kButtonRow, "", 0});
  return d;
}

const DialogTemplate& singleTemplate() {
  static const DialogTemplate t = displayTemplate(false);
  return t;
}
const DialogTemplate& multiTemplate() {
  static const DialogTemplate t = displayTemplate(true);
  return t;
}

// A dialog text's "%d" fields filled in order (the texts are templates of
// the dialog, so they are never handed to printf).
std::string fill(const std::string& format, std::initializer_list<long> values) {
  std::string out;
  auto next = values.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd' && next != values.end()) {
      out += std::to_string(*next++);
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

// What Cancel puts back, and which of the two dialogs is open.
struct Saved {
  std::vector<std::unique_ptr<AdapterInfo>> adapters;
  DWORD allScreensSame = 0;
  bool multi = false;
};

int bitsOf(D3DFORMAT format) {
  return format == D3DFMT_R8G8B8 || format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8 ? 32 : 16;
}

uint32_t selectedMonitor(SaverApp& app, HWND dialog, bool multi) {
  if (!multi) return 0;
  const int tab = TabCtrl_GetCurSel(dialog, kTabs);
  return tab >= 0 && static_cast<uint32_t>(tab) < app.monitorCount ? static_cast<uint32_t>(tab) : 0;
}

AdapterInfo* adapterOf(SaverApp& app, uint32_t monitor) {
  if (monitor >= app.monitorCount) return nullptr;
  const int32_t a = app.monitors[monitor].adapterIndex;
  if (a < 0 || static_cast<uint32_t>(a) >= app.adapterCount) return nullptr;
  return app.adapters[a].get();
}

const DeviceKind* currentKind(const AdapterInfo& adapter) {
  return adapter.currentDeviceKind < adapter.deviceKindCount ? &adapter.deviceKinds[adapter.currentDeviceKind]
                                                             : nullptr;
}

void enableModeControls(HWND dialog, bool enable) {
  for (int id : {kModeList, kModeLabel, kModeGroup, kModeNote}) EnableDlgItem(dialog, id, enable);
}

void fillMonitorPage(SaverApp& app, HWND dialog, bool multi) {
  const uint32_t m = selectedMonitor(app, dialog, multi);
  const AdapterInfo* adapter = adapterOf(app, m);
  SetDlgItemTextA(dialog, kAdapterName, m < app.monitorCount ? app.monitors[m].adapterName : "");

  int summary = 2212;
  if (adapter && adapter->hasHal && !adapter->disableHardware && adapter->hasCompatibleHal)
    summary = 2210;
  else if (adapter && adapter->hasSw && adapter->hasCompatibleSw)
    summary = 2211;
  SetDlgItemTextA(dialog, kSummary, std::string(loadString(summary)).substr(0, 200).c_str());

  const bool hardwareChoice = adapter && adapter->hasHal && adapter->hasCompatibleHal;
  EnableDlgItem(dialog, kDisableHardware, hardwareChoice);
  CheckDlgButton(dialog, kDisableHardware, hardwareChoice && adapter->disableHardware ? BST_CHECKED : BST_UNCHECKED);

  if (multi) {
    const bool canShow =
        adapter && ((adapter->hasCompatibleHal && !adapter->disableHardware) || adapter->hasCompatibleSw);
    CheckRadioButton(dialog, kShowSaver, kShowNothing, canShow && !adapter->leaveBlack ? kShowSaver : kShowNothing);
    for (int id : {kShowSaver, kShowNothing, kUsageGroup}) EnableDlgItem(dialog, id, canShow);
  }
  // The single-monitor dialog has no "nothing" button: its modes stay open.
  enableModeControls(dialog, !(multi && IsDlgButtonChecked(dialog, kShowNothing) == BST_CHECKED));

  ComboBox_ResetContent(dialog, kModeList);
  if (!adapter) return;
  const int automatic = ComboBox_AddString(dialog, kModeList, GetDlgItemString(dialog, kAutomatic).c_str());
  ComboBox_SetItemData(dialog, kModeList, automatic, -1);
  int selected = 0;
  if (const DeviceKind* kind = currentKind(*adapter)) {
    const std::string entry = GetDlgItemString(dialog, kModeEntry);
    for (uint32_t i = 0; i < kind->modeCount; ++i) {
      const ModeInfo& mode = kind->modes[i];
      const int at = ComboBox_AddString(
          dialog, kModeList, fill(entry, {long(mode.width), long(mode.height), long(bitsOf(mode.format))}).c_str());
      ComboBox_SetItemData(dialog, kModeList, at, static_cast<LPARAM>(i));
      if (mode.width == adapter->modeWidth && mode.height == adapter->modeHeight &&
          static_cast<DWORD>(mode.format) == adapter->modeFormat && selected == 0)
        selected = at;
    }
  }
  ComboBox_SetCurSel(dialog, kModeList, selected);
}

}  // namespace

void registerDisplaySettingsDialogs() {
  registerDialogTemplate(singleTemplate());
  registerDialogTemplate(multiTemplate());
}

int displaySettingsHelpId(const AdapterInfo* a) {
  if (!a) return 2206;
  if (a->hasHal && !a->disableHardware && a->hasCompatibleHal) return 2200;
  if (a->hasHal && a->disableHardware) return a->hasSw ? (a->hasCompatibleSw ? 2207 : 2208) : 2209;
  if (a->hasHal) return a->hasSw ? (a->hasCompatibleSw ? 2201 : 2202) : 2203;
  return a->hasSw ? (a->hasCompatibleSw ? 2204 : 2205) : 2206;
}

INT_PTR showDisplaySettingsDialog(HWND parent) {
  SaverApp* app = currentApp();
  if (!app) return 0;
  registerDisplaySettingsDialogs();
  Saved saved;
  const int id = app->adapterCount <= 1 ? kDisplaySettingsSingle : kDisplaySettingsMulti;
  return DialogBoxParamA(app->instance, id, parent, displaySettingsDialogProc, reinterpret_cast<LPARAM>(&saved));
}

INT_PTR displaySettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  SaverApp* app = currentApp();
  if (!app) return FALSE;
  auto* saved = reinterpret_cast<Saved*>(message == WM_INITDIALOG ? lParam : GetDialogUserData(dialog));
  if (!saved) return FALSE;
  const bool multi = message == WM_INITDIALOG ? HasDlgItem(dialog, kTabs) != FALSE : saved->multi;
  switch (message) {
    case WM_INITDIALOG: {
      SetDialogUserData(dialog, lParam);
      saved->multi = multi;
      if (multi) {
        const std::string label = GetDlgItemString(dialog, kTabLabel).substr(0, 100);
        for (uint32_t i = 0; i < app->monitorCount; ++i)
          TabCtrl_InsertItem(dialog, kTabs, static_cast<int>(i), fill(label, {long(i + 1)}).c_str());
      }
      saved->adapters.clear();
      for (uint32_t a = 0; a < app->adapterCount; ++a)
        saved->adapters.push_back(app->adapters[a] ? std::make_unique<AdapterInfo>(*app->adapters[a]) : nullptr);
      saved->allScreensSame = app->allScreensSame;
      fillMonitorPage(*app, dialog, multi);
      return TRUE;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (!header || header->code != TCN_SELCHANGE) return FALSE;
      fillMonitorPage(*app, dialog, multi);
      return TRUE;
    }
    case WM_COMMAND: {
      AdapterInfo* adapter = adapterOf(*app, selectedMonitor(*app, dialog, multi));
      switch (LOWORD(wParam)) {
        case IDOK:
          saved->adapters.clear();
          EndDialog(dialog, 1);
          return TRUE;
        case IDCANCEL:
          for (uint32_t a = 0; a < saved->adapters.size() && a < app->adapterCount; ++a)
            if (saved->adapters[a] && app->adapters[a]) *app->adapters[a] = *saved->adapters[a];
          app->allScreensSame = saved->allScreensSame;
          saved->adapters.clear();
          EndDialog(dialog, 2);
          return TRUE;
        case kHelp: {
          const uint32_t m = selectedMonitor(*app, dialog, multi);
          const AdapterInfo* helpAdapter = m < app->monitorCount && app->monitors[m].monitorHandle ? adapter : nullptr;
          const std::string text = std::string(loadString(displaySettingsHelpId(helpAdapter))).substr(0, 500);
          DialogMessageBoxA(dialog, text.c_str(), m < app->monitorCount ? app->monitors[m].adapterName : "",
                            MB_OK | MB_ICONINFORMATION);
          return TRUE;
        }
        case kDisableHardware:
          if (adapter) adapter->disableHardware = IsDlgButtonChecked(dialog, kDisableHardware) == BST_CHECKED ? 1 : 0;
          fillMonitorPage(*app, dialog, multi);
          return TRUE;
        case kShowSaver:
        case kShowNothing: {
          const bool black = IsDlgButtonChecked(dialog, kShowNothing) == BST_CHECKED;
          if (adapter) adapter->leaveBlack = black ? 1 : 0;
          enableModeControls(dialog, !black);
          return TRUE;
        }
        case kModeList: {
          if (HIWORD(wParam) != CBN_SELCHANGE || !adapter) return FALSE;
          const int entry = ComboBox_GetCurSel(dialog, kModeList);
          const DeviceKind* kind = currentKind(*adapter);
          const LPARAM index = entry > 0 ? ComboBox_GetItemData(dialog, kModeList, entry) : -1;
          if (entry <= 0 || !kind || index < 0 || static_cast<uint32_t>(index) >= kind->modeCount) {
            adapter->modeWidth = adapter->modeHeight = adapter->modeFormat = 0;
          } else {
            const ModeInfo& mode = kind->modes[index];
            adapter->modeWidth = mode.width;
            adapter->modeHeight = mode.height;
            adapter->modeFormat = static_cast<DWORD>(mode.format);
          }
          return TRUE;
        }
        default: return FALSE;
      }
    }
    default: return FALSE;
  }
}
