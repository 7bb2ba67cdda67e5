#include "platform/dialog.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

const DialogControl* DialogTemplate::find(int controlId) const {
  for (const DialogControl& c : controls)
    if (c.id == controlId) return &c;
  return nullptr;
}

namespace platform {

namespace {

std::atomic<DialogHost*> installed{nullptr};
// The error of the last common dialog, as CommDlgExtendedError reports it.
thread_local DWORD lastCommonDialogError = 0;

struct Resources {
  std::mutex lock;
  std::map<int, const DialogTemplate*> dialogs;
  std::map<int, std::string> icons;
};

Resources& resources() {
  static Resources r;
  return r;
}

}  // namespace

DialogHost* dialogHost() { return installed.load(); }
void setDialogHost(DialogHost* host) { installed.store(host); }

ScopedDialogHost::ScopedDialogHost(DialogHost& host) : previous_(installed.load()) { installed.store(&host); }
ScopedDialogHost::~ScopedDialogHost() { installed.store(previous_); }

void registerDialogTemplate(const DialogTemplate& dialog) {
  Resources& r = resources();
  std::lock_guard<std::mutex> g(r.lock);
  r.dialogs[dialog.id] = &dialog;
}

const DialogTemplate* findDialogTemplate(int id) {
  Resources& r = resources();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.dialogs.find(id);
  return it == r.dialogs.end() ? nullptr : it->second;
}

void registerIconResource(int resourceId, const char* name) {
  Resources& r = resources();
  std::lock_guard<std::mutex> g(r.lock);
  r.icons[resourceId] = name ? name : "";
}

HICON LoadIconA(HINSTANCE, int resourceId) {
  Resources& r = resources();
  std::lock_guard<std::mutex> g(r.lock);
  return r.icons.count(resourceId) && resourceId > 0 ? static_cast<HICON>(resourceId) : 0;
}

std::string iconName(HICON icon) {
  Resources& r = resources();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.icons.find(static_cast<int>(icon));
  return it == r.icons.end() ? std::string() : it->second;
}

// ---- the calls ------------------------------------------------------------------

#define LM_HOST_OR(fallback)       \
  DialogHost* host = dialogHost(); \
  if (!host) return fallback

INT_PTR DialogBoxParamA(HINSTANCE instance, int templateId, HWND owner, DLGPROC proc, LPARAM param) {
  const DialogTemplate* dialog = findDialogTemplate(templateId);
  if (!dialog) return -1;
  return DialogBoxIndirectParamA(instance, *dialog, owner, proc, param);
}

INT_PTR DialogBoxIndirectParamA(HINSTANCE, const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param) {
  LM_HOST_OR(-1);
  if (!proc) return -1;
  return host->dialogBox(dialog, owner, proc, param);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  LM_HOST_OR(FALSE);
  return host->endDialog(dialog, result);
}

BOOL SetDialogCaptionA(HWND dialog, const char* text) {
  LM_HOST_OR(FALSE);
  return host->setCaption(dialog, text ? text : "");
}

BOOL SetDialogIcon(HWND dialog, HICON icon) {
  LM_HOST_OR(FALSE);
  return host->setIcon(dialog, icon);
}

BOOL CentreDialog(HWND dialog) {
  LM_HOST_OR(FALSE);
  return host->centre(dialog);
}

BOOL SetDialogTopmost(HWND dialog, BOOL topmost) {
  LM_HOST_OR(FALSE);
  return host->setTopmost(dialog, topmost != FALSE);
}

LONG_PTR SetDialogUserData(HWND dialog, LONG_PTR value) {
  LM_HOST_OR(0);
  return host->setUserData(dialog, value);
}

LONG_PTR GetDialogUserData(HWND dialog) {
  LM_HOST_OR(0);
  return host->userData(dialog);
}

BOOL PostDialogMessageA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  LM_HOST_OR(FALSE);
  return host->postMessage(dialog, message, wParam, lParam);
}

UINT_PTR SetDialogTimer(HWND dialog, UINT_PTR id, UINT milliseconds) {
  LM_HOST_OR(0);
  return host->setTimer(dialog, id, milliseconds);
}

BOOL KillDialogTimer(HWND dialog, UINT_PTR id) {
  LM_HOST_OR(FALSE);
  return host->killTimer(dialog, id);
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text) {
  LM_HOST_OR(FALSE);
  return host->setText(dialog, id, text ? text : "");
}

UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int max) {
  if (!buffer || max <= 0) return 0;
  buffer[0] = '\0';
  LM_HOST_OR(0);
  const std::optional<std::string> text = host->text(dialog, id);
  if (!text) return 0;
  const size_t n = std::min(text->size(), static_cast<size_t>(max - 1));
  std::memcpy(buffer, text->data(), n);
  buffer[n] = '\0';
  return static_cast<UINT>(n);
}

std::string GetDlgItemString(HWND dialog, int id) {
  LM_HOST_OR(std::string());
  return host->text(dialog, id).value_or(std::string());
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  char text[16];
  if (isSigned)
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  else
    std::snprintf(text, sizeof text, "%u", value);
  return SetDlgItemTextA(dialog, id, text);
}

BOOL EnableDlgItem(HWND dialog, int id, BOOL enable) {
  LM_HOST_OR(FALSE);
  return host->enable(dialog, id, enable != FALSE);
}

BOOL IsDlgItemEnabled(HWND dialog, int id) {
  LM_HOST_OR(FALSE);
  return host->isEnabled(dialog, id);
}

BOOL ShowDlgItem(HWND dialog, int id, BOOL show) {
  LM_HOST_OR(FALSE);
  return host->show(dialog, id, show != FALSE);
}

BOOL IsDlgItemVisible(HWND dialog, int id) {
  LM_HOST_OR(FALSE);
  return host->isVisible(dialog, id);
}

BOOL SetDlgItemFocus(HWND dialog, int id) {
  LM_HOST_OR(FALSE);
  return host->setFocus(dialog, id);
}

BOOL RedrawDlgItem(HWND dialog, int id) {
  LM_HOST_OR(FALSE);
  return host->redraw(dialog, id);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  LM_HOST_OR(FALSE);
  return host->setCheck(dialog, id, check);
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  LM_HOST_OR(BST_UNCHECKED);
  return host->check(dialog, id);
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
  LM_HOST_OR(FALSE);
  BOOL ok = TRUE;
  for (int id = first; id <= last; ++id)
    if (id != check && host->hasControl(dialog, id)) host->setCheck(dialog, id, BST_UNCHECKED);
  ok = host->setCheck(dialog, check, BST_CHECKED);
  return ok;
}

BOOL ComboBox_ResetContent(HWND dialog, int id) {
  LM_HOST_OR(FALSE);
  return host->comboReset(dialog, id);
}

int ComboBox_AddString(HWND dialog, int id, const char* text) {
  LM_HOST_OR(CB_ERR);
  return host->comboAdd(dialog, id, text ? text : "");
}

int ComboBox_GetCount(HWND dialog, int id) {
  LM_HOST_OR(CB_ERR);
  return host->comboCount(dialog, id);
}

BOOL ComboBox_SetItemData(HWND dialog, int id, int index, LPARAM data) {
  LM_HOST_OR(FALSE);
  return host->comboSetData(dialog, id, index, data);
}

LPARAM ComboBox_GetItemData(HWND dialog, int id, int index) {
  LM_HOST_OR(CB_ERR);
  return host->comboData(dialog, id, index);
}

BOOL ComboBox_SetCurSel(HWND dialog, int id, int index) {
  LM_HOST_OR(FALSE);
  return host->comboSetSelection(dialog, id, index);
}

int ComboBox_GetCurSel(HWND dialog, int id) {
  LM_HOST_OR(CB_ERR);
  return host->comboSelection(dialog, id);
}

BOOL ListBox_ResetContent(HWND dialog, int id) {
  LM_HOST_OR(FALSE);
  return host->listReset(dialog, id);
}

int ListBox_AddString(HWND dialog, int id, const char* text) {
  LM_HOST_OR(LB_ERR);
  return host->listInsert(dialog, id, -1, text ? text : "");
}

int ListBox_InsertString(HWND dialog, int id, int index, const char* text) {
  LM_HOST_OR(LB_ERR);
  return host->listInsert(dialog, id, index, text ? text : "");
}

int ListBox_DeleteString(HWND dialog, int id, int index) {
  LM_HOST_OR(LB_ERR);
  return host->listDelete(dialog, id, index);
}

BOOL ListBox_SetItemText(HWND dialog, int id, int index, const char* text) {
  LM_HOST_OR(FALSE);
  return host->listSetText(dialog, id, index, text ? text : "");
}

int ListBox_GetCount(HWND dialog, int id) {
  LM_HOST_OR(LB_ERR);
  return host->listCount(dialog, id);
}

std::string ListBox_GetText(HWND dialog, int id, int index) {
  LM_HOST_OR(std::string());
  return host->listText(dialog, id, index).value_or(std::string());
}

BOOL ListBox_SetSel(HWND dialog, int id, BOOL select, int index) {
  LM_HOST_OR(FALSE);
  return host->listSetSelected(dialog, id, index, select != FALSE);
}

std::vector<int> ListBox_GetSelItems(HWND dialog, int id, int max) {
  LM_HOST_OR(std::vector<int>());
  std::vector<int> rows = host->listSelection(dialog, id);
  if (max >= 0 && rows.size() > static_cast<size_t>(max)) rows.resize(static_cast<size_t>(max));
  return rows;
}

BOOL ListBox_SetTopIndex(HWND dialog, int id, int index) {
  LM_HOST_OR(FALSE);
  return host->listSetTopIndex(dialog, id, index);
}

int ListBox_GetTopIndex(HWND dialog, int id) {
  LM_HOST_OR(LB_ERR);
  return host->listTopIndex(dialog, id);
}

BOOL ListBox_SetHorizontalExtent(HWND dialog, int id, int pixels) {
  LM_HOST_OR(FALSE);
  return host->listSetHorizontalExtent(dialog, id, pixels);
}

BOOL Trackbar_SetRange(HWND dialog, int id, BOOL redraw, int minimum, int maximum) {
  LM_HOST_OR(FALSE);
  return host->trackbarSetRange(dialog, id, minimum, maximum, redraw != FALSE);
}

BOOL Trackbar_SetPos(HWND dialog, int id, int position) {
  LM_HOST_OR(FALSE);
  return host->trackbarSetPosition(dialog, id, position);
}

int Trackbar_GetPos(HWND dialog, int id) {
  LM_HOST_OR(0);
  return host->trackbarPosition(dialog, id);
}

BOOL Trackbar_SetPageSize(HWND dialog, int id, int size) {
  LM_HOST_OR(FALSE);
  return host->trackbarSetPageSize(dialog, id, size);
}

BOOL Trackbar_SetLineSize(HWND dialog, int id, int size) {
  LM_HOST_OR(FALSE);
  return host->trackbarSetLineSize(dialog, id, size);
}

BOOL Trackbar_SetTicFreq(HWND dialog, int id, int every) {
  LM_HOST_OR(FALSE);
  return host->trackbarSetTickFrequency(dialog, id, every);
}

int TabCtrl_InsertItem(HWND dialog, int id, int index, const char* text) {
  LM_HOST_OR(-1);
  return host->tabInsert(dialog, id, index, text ? text : "");
}

int TabCtrl_GetCurSel(HWND dialog, int id) {
  LM_HOST_OR(-1);
  return host->tabSelection(dialog, id);
}

BOOL TabCtrl_SetCurSel(HWND dialog, int id, int index) {
  LM_HOST_OR(FALSE);
  return host->tabSetSelection(dialog, id, index);
}

BOOL Progress_SetRange(HWND dialog, int id, int minimum, int maximum) {
  LM_HOST_OR(FALSE);
  return host->progressSetRange(dialog, id, minimum, maximum);
}

BOOL Progress_SetPos(HWND dialog, int id, int position) {
  LM_HOST_OR(FALSE);
  return host->progressSetPosition(dialog, id, position);
}

BOOL FillSolidRect(HDC dc, const RECT* rect, COLORREF colour) {
  LM_HOST_OR(FALSE);
  if (!rect) return FALSE;
  return host->fillRect(dc, *rect, colour);
}

int DialogMessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  DialogHost* host = dialogHost();
  // Without dialogs the message still reaches the user through the window
  // system's message box.
  if (!host) return MessageBoxA(owner, text, caption, type);
  return host->messageBox(owner, text ? text : "", caption ? caption : "Error", type);
}

BOOL ChooseColorA(CHOOSECOLORA* choice) {
  lastCommonDialogError = 0;
  LM_HOST_OR(FALSE);
  if (!choice) return FALSE;
  return host->chooseColor(choice);
}

BOOL GetOpenFileNameA(OPENFILENAMEA* request) {
  lastCommonDialogError = 0;
  LM_HOST_OR(FALSE);
  if (!request || !request->lpstrFile || request->nMaxFile < 2) return FALSE;
  DWORD error = 0;
  const BOOL ok = host->openFileNames(request, &error);
  lastCommonDialogError = ok ? 0 : error;
  return ok;
}

DWORD CommDlgExtendedError() { return lastCommonDialogError; }

std::optional<std::string> BrowseForFolderA(HWND owner, const char* title, const std::string& startFolder) {
  LM_HOST_OR(std::nullopt);
  return host->browseForFolder(owner, title ? title : "", startFolder);
}

#undef LM_HOST_OR

}  // namespace platform

namespace platform {

std::vector<FileFilter> parseFileFilter(const char* filter) {
  std::vector<FileFilter> out;
  if (!filter) return out;
  const char* p = filter;
  while (*p) {
    FileFilter f;
    f.description = p;
    p += f.description.size() + 1;
    if (!*p) {
      out.push_back(std::move(f));
      break;
    }
    const std::string patterns = p;
    p += patterns.size() + 1;
    size_t start = 0;
    while (start <= patterns.size()) {
      size_t end = patterns.find(';', start);
      if (end == std::string::npos) end = patterns.size();
      if (end > start) f.patterns.push_back(patterns.substr(start, end - start));
      start = end + 1;
    }
    out.push_back(std::move(f));
  }
  return out;
}

bool storeOpenFileNames(OPENFILENAMEA* request, const std::vector<std::string>& paths, DWORD* error) {
  if (error) *error = 0;
  if (!request || !request->lpstrFile || paths.empty()) return false;
  std::string out;
  if (paths.size() == 1) {
    out = paths.front();
    out.push_back('\0');
    request->nFileOffset = static_cast<WORD>(std::min<size_t>(paths.front().rfind('/') + 1, 0xFFFF));
  } else {
    // The folder every path lies in (their longest common directory).
    std::string common = paths.front().substr(0, paths.front().rfind('/') + 1);
    for (const std::string& p : paths) {
      while (!common.empty() && p.compare(0, common.size(), common) != 0) {
        common.pop_back();
        common.erase(common.rfind('/') + 1);
      }
    }
    std::string folder = common;
    if (folder.size() > 1) folder.pop_back();  // "/a/b" but "/" stays
    out = folder;
    out.push_back('\0');
    request->nFileOffset = static_cast<WORD>(std::min<size_t>(out.size(), 0xFFFF));
    for (const std::string& p : paths) {
      out += p.substr(common.size());
      out.push_back('\0');
    }
  }
  out.push_back('\0');
  if (out.size() > request->nMaxFile) {
    if (error) *error = FNERR_BUFFERTOOSMALL;
    request->lpstrFile[0] = '\0';
    return false;
  }
  std::memcpy(request->lpstrFile, out.data(), out.size());
  return true;
}

int messageBoxEscapeAnswer(UINT type) {
  switch (type & 0xF) {
    case MB_OK: return IDOK;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL: return IDCANCEL;
    default: return 0;  // Yes / No must be answered
  }
}

int messageBoxDefaultAnswer(UINT type) {
  switch (type & 0xF) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    default: return IDOK;
  }
}

}  // namespace platform
