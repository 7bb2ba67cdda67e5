#pragma once
// Modal dialogs in the Win32 shape: a dialog is made from a template (data:
// an identifier, a caption and its controls in reading order) and run by a
// dialog procedure that receives WM_INITDIALOG (lParam = the caller's
// parameter), WM_COMMAND (LOWORD(wParam) = control id, HIWORD(wParam) = the
// notification), WM_NOTIFY (tab changes), WM_DRAWITEM (owner-drawn colour
// buttons), WM_TIMER and messages posted to it, and that ends the dialog with
// EndDialog.  Procedures act on their controls only through the calls below,
// by dialog handle and control id.
//
// Every call goes to the process-wide dialog host (dialogHost()).  Two hosts
// exist: the GTK 3 host (platform/gtk/gtkdialoghost.h, real widgets laid out
// with GTK containers) and the scripted host of the tests
// (platform/testing/scripteddialogs.h).  With no host installed the calls do
// nothing and DialogBoxParamA answers -1.
//
// Keys, as a dialog user expects them: Escape and the window's close button
// send WM_COMMAND IDCANCEL; Enter sends WM_COMMAND with the id of the default
// button (the control styled kDefaultButton, else IDOK).
//
// Threads: all calls belong to the thread that runs the dialogs, except
// PostDialogMessageA, which any thread may call; the message reaches the
// dialog procedure on the dialog thread (a worker reports progress so while
// the dialog stays responsive).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

using INT_PTR = intptr_t;
using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// ---- notifications and values ------------------------------------------------
inline constexpr int IDC_STATIC = -1;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;

inline constexpr WORD BN_CLICKED = 0;
inline constexpr WORD CBN_SELCHANGE = 1;
inline constexpr WORD LBN_SELCHANGE = 1;
inline constexpr WORD EN_CHANGE = 0x0300;

inline constexpr UINT BST_UNCHECKED = 0;
inline constexpr UINT BST_CHECKED = 1;

inline constexpr int CB_ERR = -1;
inline constexpr int LB_ERR = -1;

inline constexpr UINT TCN_SELCHANGE = static_cast<UINT>(-551);
inline constexpr UINT WM_APP = 0x8000;

constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) { return static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(lo, hi))); }

// WM_NOTIFY's lParam points to this.
struct NMHDR {
  HWND hwndFrom = 0;  // the dialog
  UINT_PTR idFrom = 0;
  UINT code = 0;
};

// WM_DRAWITEM's lParam points to this.  hDC stands for the item's drawing
// surface for the time of the message: paint with FillRect (below).
inline constexpr UINT ODT_BUTTON = 4;
inline constexpr UINT ODA_DRAWENTIRE = 1;
struct DRAWITEMSTRUCT {
  UINT CtlType = ODT_BUTTON;
  UINT CtlID = 0;
  UINT itemID = 0;
  UINT itemAction = ODA_DRAWENTIRE;
  UINT itemState = 0;
  HWND hwndItem = 0;  // the dialog
  HDC hDC = 0;
  RECT rcItem;
  uintptr_t itemData = 0;
};

// ---- templates -----------------------------------------------------------------
enum class ControlKind : uint8_t {
  text,          // static text; long texts wrap
  group,         // a frame around the controls that name it as their group; its text is the label
  pushButton,    // WM_COMMAND BN_CLICKED
  checkBox,      // toggles, then WM_COMMAND BN_CLICKED
  radioButton,   // radio buttons next to each other in one container form a group
  edit,          // one line of text
  textBox,       // read-only text of many lines with a scroll bar (a licence)
  dropDownList,  // a choice among items with item data; WM_COMMAND CBN_SELCHANGE
  listBox,       // multiple selection, both scroll bars
  trackbar,      // a slider over an integer range
  tab,           // tabs over the controls that name it as their group
  progress,      // a progress bar
  colorButton,   // an owner-drawn button: WM_DRAWITEM paints it, a click is BN_CLICKED
};

namespace ControlStyle {
inline constexpr uint32_t kHidden = 1u << 0;         // not shown (texts kept as templates)
inline constexpr uint32_t kDigitsOnly = 1u << 1;     // edit: only 0-9 can be typed
inline constexpr uint32_t kSameRow = 1u << 2;        // placed right of the control before it
inline constexpr uint32_t kDefaultButton = 1u << 3;  // Enter clicks it
inline constexpr uint32_t kButtonRow = 1u << 4;      // in the dialog's row of buttons at the bottom
inline constexpr uint32_t kExpand = 1u << 5;         // takes the free width of its row
inline constexpr uint32_t kLabelsNext = 1u << 6;     // text: names the control after it (its label)
inline constexpr uint32_t kNoWrap = 1u << 7;         // text: one line
inline constexpr uint32_t kDisabled = 1u << 8;       // starts disabled
}  // namespace ControlStyle

struct DialogControl {
  int id = IDC_STATIC;  // ids below -1 are free for frames that no procedure names
  ControlKind kind = ControlKind::text;
  std::string text;
  int group = 0;  // the id of the group or tab control that holds it; 0 = the dialog itself
  uint32_t style = 0;
  // The name assistive technologies read for a control without text of its
  // own (a colour button, a slider); by default the text of its group.
  std::string accessibleName;
  // Edit: the most characters it takes (0 = no limit).
  int maxLength = 0;
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  // Size in dialog units: a hint for the smallest width; the layout itself
  // follows the controls and the font.
  int width = 0;
  int height = 0;
  std::vector<DialogControl> controls;  // reading (and tab) order

  const DialogControl* find(int controlId) const;
};

// ---- common dialogs -------------------------------------------------------------
inline constexpr DWORD CC_RGBINIT = 0x00000001;
inline constexpr DWORD CC_FULLOPEN = 0x00000002;
struct CHOOSECOLORA {
  DWORD lStructSize = sizeof(CHOOSECOLORA);
  HWND hwndOwner = 0;
  COLORREF rgbResult = 0;
  COLORREF* lpCustColors = nullptr;  // 16 colours, kept up to date by the chooser
  DWORD Flags = 0;
};

inline constexpr DWORD OFN_READONLY = 0x00000001;
inline constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
inline constexpr DWORD OFN_ALLOWMULTISELECT = 0x00000200;
inline constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
inline constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
inline constexpr DWORD OFN_EXPLORER = 0x00080000;
inline constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;
// The chosen files come back in lpstrFile as Win32 gives them: one file as
// its full path; several as the directory, then each name, every part
// followed by a NUL and the whole by one more.  Names may hold a '/' when the
// files lie in different folders below the directory.
struct OPENFILENAMEA {
  DWORD lStructSize = sizeof(OPENFILENAMEA);
  HWND hwndOwner = 0;
  const char* lpstrFilter = nullptr;  // pairs of description and "*.a;*.b" patterns, then an empty string
  DWORD nFilterIndex = 0;
  char* lpstrFile = nullptr;
  DWORD nMaxFile = 0;
  const char* lpstrInitialDir = nullptr;
  const char* lpstrTitle = nullptr;
  DWORD Flags = 0;
  WORD nFileOffset = 0;
  const char* lpstrDefExt = nullptr;
};

namespace platform {

// One dialog system: GTK or the scripted host.
class DialogHost {
 public:
  virtual ~DialogHost() = default;

  // Dialogs
  virtual INT_PTR dialogBox(const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param) = 0;
  virtual BOOL endDialog(HWND dialog, INT_PTR result) = 0;
  virtual BOOL setCaption(HWND dialog, const std::string& text) = 0;
  virtual BOOL setIcon(HWND dialog, HICON icon) = 0;
  virtual BOOL centre(HWND dialog) = 0;
  virtual BOOL setTopmost(HWND dialog, bool topmost) = 0;
  virtual LONG_PTR setUserData(HWND dialog, LONG_PTR value) = 0;
  virtual LONG_PTR userData(HWND dialog) = 0;
  virtual BOOL postMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) = 0;  // any thread
  virtual UINT_PTR setTimer(HWND dialog, UINT_PTR id, UINT milliseconds) = 0;
  virtual BOOL killTimer(HWND dialog, UINT_PTR id) = 0;

  // Every control
  virtual BOOL hasControl(HWND dialog, int id) = 0;
  virtual BOOL setText(HWND dialog, int id, const std::string& text) = 0;
  virtual std::optional<std::string> text(HWND dialog, int id) = 0;
  virtual BOOL enable(HWND dialog, int id, bool enabled) = 0;
  virtual BOOL isEnabled(HWND dialog, int id) = 0;
  virtual BOOL show(HWND dialog, int id, bool visible) = 0;
  virtual BOOL isVisible(HWND dialog, int id) = 0;
  virtual BOOL setFocus(HWND dialog, int id) = 0;
  virtual BOOL redraw(HWND dialog, int id) = 0;  // owner-drawn: WM_DRAWITEM again

  // Check boxes and radio buttons
  virtual BOOL setCheck(HWND dialog, int id, UINT state) = 0;
  virtual UINT check(HWND dialog, int id) = 0;

  // Drop-down lists (CB_*)
  virtual BOOL comboReset(HWND dialog, int id) = 0;
  virtual int comboAdd(HWND dialog, int id, const std::string& text) = 0;
  virtual int comboCount(HWND dialog, int id) = 0;
  virtual BOOL comboSetData(HWND dialog, int id, int index, LPARAM data) = 0;
  virtual LPARAM comboData(HWND dialog, int id, int index) = 0;
  virtual BOOL comboSetSelection(HWND dialog, int id, int index) = 0;  // -1: none
  virtual int comboSelection(HWND dialog, int id) = 0;

  // List boxes with multiple selection (LB_*).  A row's selection moves with
  // it when rows are inserted or deleted above it.
  virtual BOOL listReset(HWND dialog, int id) = 0;
  virtual int listInsert(HWND dialog, int id, int index, const std::string& text) = 0;  // -1: at the end
  virtual int listDelete(HWND dialog, int id, int index) = 0;                           // rows left, or LB_ERR
  virtual BOOL listSetText(HWND dialog, int id, int index, const std::string& text) = 0;
  virtual int listCount(HWND dialog, int id) = 0;
  virtual std::optional<std::string> listText(HWND dialog, int id, int index) = 0;
  virtual BOOL listSetSelected(HWND dialog, int id, int index, bool selected) = 0;  // index -1: every row
  virtual std::vector<int> listSelection(HWND dialog, int id) = 0;                  // ascending
  virtual BOOL listSetTopIndex(HWND dialog, int id, int index) = 0;
  virtual int listTopIndex(HWND dialog, int id) = 0;
  virtual BOOL listSetHorizontalExtent(HWND dialog, int id, int pixels) = 0;

  // Trackbars (TBM_*)
  virtual BOOL trackbarSetRange(HWND dialog, int id, int minimum, int maximum, bool redraw) = 0;
  virtual BOOL trackbarSetPosition(HWND dialog, int id, int position) = 0;
  virtual int trackbarPosition(HWND dialog, int id) = 0;
  virtual BOOL trackbarSetPageSize(HWND dialog, int id, int size) = 0;
  virtual BOOL trackbarSetLineSize(HWND dialog, int id, int size) = 0;
  virtual BOOL trackbarSetTickFrequency(HWND dialog, int id, int every) = 0;

  // Tabs (TCM_*)
  virtual int tabInsert(HWND dialog, int id, int index, const std::string& text) = 0;
  virtual int tabSelection(HWND dialog, int id) = 0;
  virtual BOOL tabSetSelection(HWND dialog, int id, int index) = 0;

  // Progress bars (PBM_*)
  virtual BOOL progressSetRange(HWND dialog, int id, int minimum, int maximum) = 0;
  virtual BOOL progressSetPosition(HWND dialog, int id, int position) = 0;

  // Owner drawing, inside WM_DRAWITEM only
  virtual BOOL fillRect(HDC dc, const RECT& rect, COLORREF colour) = 0;

  // Common dialogs
  virtual int messageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) = 0;
  virtual BOOL chooseColor(CHOOSECOLORA* choice) = 0;
  virtual BOOL openFileNames(OPENFILENAMEA* request, DWORD* error) = 0;
  virtual std::optional<std::string> browseForFolder(HWND owner, const std::string& title,
                                                     const std::string& startFolder) = 0;
};

// The process-wide dialog host (nullptr when none is installed).  The
// caller keeps ownership of what it installs.
DialogHost* dialogHost();
void setDialogHost(DialogHost* host);

class ScopedDialogHost {
 public:
  explicit ScopedDialogHost(DialogHost& host);
  ~ScopedDialogHost();
  ScopedDialogHost(const ScopedDialogHost&) = delete;
  ScopedDialogHost& operator=(const ScopedDialogHost&) = delete;

 private:
  DialogHost* previous_;
};

// Dialog templates by resource id: each program registers the templates it
// owns before it opens them (registering an id again replaces it).  The
// template must outlive its registration.
void registerDialogTemplate(const DialogTemplate& dialog);
const DialogTemplate* findDialogTemplate(int id);

// ---- the calls, with their Win32 names and meanings --------------------------------
// The modal dialog of template `templateId` (registered) or of `dialog`;
// returns what EndDialog gave, or -1 when it could not be shown.
INT_PTR DialogBoxParamA(HINSTANCE instance, int templateId, HWND owner, DLGPROC proc, LPARAM param);
INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, const DialogTemplate& dialog, HWND owner, DLGPROC proc,
                                LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL SetDialogCaptionA(HWND dialog, const char* text);
// WM_SETICON with ICON_BIG.
BOOL SetDialogIcon(HWND dialog, HICON icon);
// Icons by resource id: a program names its icons (a themed icon name)
// once; LoadIconA gives the handle of a named one, 0 for others.
void registerIconResource(int resourceId, const char* iconName);
HICON LoadIconA(HINSTANCE instance, int resourceId);
// The themed icon name behind a handle ("" for none).
std::string iconName(HICON icon);
// Centres the dialog on the screen, keeping its size.
BOOL CentreDialog(HWND dialog);
// SetWindowPos with HWND_TOPMOST / HWND_NOTOPMOST, SWP_NOMOVE | SWP_NOSIZE.
BOOL SetDialogTopmost(HWND dialog, BOOL topmost);
// DWLP_USER: one value the procedure keeps with its dialog.
LONG_PTR SetDialogUserData(HWND dialog, LONG_PTR value);
LONG_PTR GetDialogUserData(HWND dialog);
BOOL PostDialogMessageA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
UINT_PTR SetDialogTimer(HWND dialog, UINT_PTR id, UINT milliseconds);
BOOL KillDialogTimer(HWND dialog, UINT_PTR id);

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text);
// Copies at most max - 1 characters and a NUL; returns the characters copied.
UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int max);
std::string GetDlgItemString(HWND dialog, int id);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
BOOL EnableDlgItem(HWND dialog, int id, BOOL enable);  // EnableWindow(GetDlgItem(...))
BOOL IsDlgItemEnabled(HWND dialog, int id);
BOOL ShowDlgItem(HWND dialog, int id, BOOL show);  // ShowWindow(GetDlgItem(...), SW_SHOW / SW_HIDE)
BOOL IsDlgItemVisible(HWND dialog, int id);
BOOL SetDlgItemFocus(HWND dialog, int id);
BOOL RedrawDlgItem(HWND dialog, int id);  // InvalidateRect(GetDlgItem(...))
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
// Checks `check` and clears the other buttons first..last.
BOOL CheckRadioButton(HWND dialog, int first, int last, int check);

// Drop-down lists
BOOL ComboBox_ResetContent(HWND dialog, int id);
int ComboBox_AddString(HWND dialog, int id, const char* text);
int ComboBox_GetCount(HWND dialog, int id);
BOOL ComboBox_SetItemData(HWND dialog, int id, int index, LPARAM data);
LPARAM ComboBox_GetItemData(HWND dialog, int id, int index);
BOOL ComboBox_SetCurSel(HWND dialog, int id, int index);
int ComboBox_GetCurSel(HWND dialog, int id);

// List boxes
BOOL ListBox_ResetContent(HWND dialog, int id);
int ListBox_AddString(HWND dialog, int id, const char* text);
int ListBox_InsertString(HWND dialog, int id, int index, const char* text);
int ListBox_DeleteString(HWND dialog, int id, int index);
BOOL ListBox_SetItemText(HWND dialog, int id, int index, const char* text);
int ListBox_GetCount(HWND dialog, int id);
std::string ListBox_GetText(HWND dialog, int id, int index);
BOOL ListBox_SetSel(HWND dialog, int id, BOOL select, int index);
// The selected rows in ascending order, at most `max` of them.
std::vector<int> ListBox_GetSelItems(HWND dialog, int id, int max);
BOOL ListBox_SetTopIndex(HWND dialog, int id, int index);
int ListBox_GetTopIndex(HWND dialog, int id);
BOOL ListBox_SetHorizontalExtent(HWND dialog, int id, int pixels);

// Trackbars
BOOL Trackbar_SetRange(HWND dialog, int id, BOOL redraw, int minimum, int maximum);
BOOL Trackbar_SetPos(HWND dialog, int id, int position);
int Trackbar_GetPos(HWND dialog, int id);
BOOL Trackbar_SetPageSize(HWND dialog, int id, int size);
BOOL Trackbar_SetLineSize(HWND dialog, int id, int size);
BOOL Trackbar_SetTicFreq(HWND dialog, int id, int every);

// Tabs
int TabCtrl_InsertItem(HWND dialog, int id, int index, const char* text);
int TabCtrl_GetCurSel(HWND dialog, int id);
BOOL TabCtrl_SetCurSel(HWND dialog, int id, int index);

// Progress bars
BOOL Progress_SetRange(HWND dialog, int id, int minimum, int maximum);
BOOL Progress_SetPos(HWND dialog, int id, int position);

// Owner drawing (WM_DRAWITEM): fills the rectangle of the item's surface.
BOOL FillSolidRect(HDC dc, const RECT* rect, COLORREF colour);

// Common dialogs
// A message box owned by `owner` (a dialog, or 0): the button chosen (IDOK ...).
int DialogMessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
BOOL ChooseColorA(CHOOSECOLORA* choice);
// FALSE when cancelled or failed; CommDlgExtendedError tells which
// (0 = cancelled, FNERR_BUFFERTOOSMALL = the names did not fit).
BOOL GetOpenFileNameA(OPENFILENAMEA* request);
DWORD CommDlgExtendedError();
// The folder chooser: the chosen folder, or nothing when cancelled.
std::optional<std::string> BrowseForFolderA(HWND owner, const char* title, const std::string& startFolder);

// ---- for dialog hosts ------------------------------------------------------------
// One entry of an OPENFILENAMEA filter: its description and its patterns.
struct FileFilter {
  std::string description;
  std::vector<std::string> patterns;  // "*.jpg", ...
};
std::vector<FileFilter> parseFileFilter(const char* filter);
// Puts the chosen paths into request->lpstrFile in the Win32 form (one full
// path; or the folder they share, then each name relative to it).  False
// with *error = FNERR_BUFFERTOOSMALL when they don't fit.
bool storeOpenFileNames(OPENFILENAMEA* request, const std::vector<std::string>& paths, DWORD* error);
// The button a message box of `type` answers to Escape (0: Escape does
// nothing) and to Enter.
int messageBoxEscapeAnswer(UINT type);
int messageBoxDefaultAnswer(UINT type);

}  // namespace platform
