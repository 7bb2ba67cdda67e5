#pragma once
// The dialog host on GTK 3: each dialog template becomes a window of real
// widgets laid out with GTK containers (groups become frames, rows are boxes,
// the row of buttons sits at the bottom), so that a dialog reads well at any
// font size and names its controls to the accessibility interface (AT-SPI)
// by their visible texts.  A modal dialog runs in a nested main loop until
// its procedure calls EndDialog.  The common dialogs are GTK's own message
// dialog, colour chooser and file choosers.
//
// Only programs that show dialogs link this library (lm_platform_gtk).
#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialog.h"

namespace platform {

class GtkDialogHost : public DialogHost {
 public:
  GtkDialogHost();
  ~GtkDialogHost() override;
  GtkDialogHost(const GtkDialogHost&) = delete;
  GtkDialogHost& operator=(const GtkDialogHost&) = delete;

  // ---- for tests and tools ----
  // Called once each dialog has been shown and drawn for the first time
  // (its procedure has had WM_INITDIALOG); the dialog is live: the hook may
  // look, take a screenshot, send keys or end it.
  std::function<void(HWND dialog, const DialogTemplate& dialogTemplate)> onShown;
  // Called when a message box, colour chooser or file chooser is shown.
  std::function<void(GtkWidget* window)> onSystemDialogShown;
  GtkWidget* window(HWND dialog) const;
  // The widget that stands for a control (the button, entry, tree view,
  // scale ...), nullptr when absent.
  GtkWidget* widget(HWND dialog, int id) const;
  // The id of the control a widget stands for (IDC_STATIC when none).
  int controlOf(HWND dialog, GtkWidget* widget) const;
  // Draws the dialog, with its caption in a bar above it, into a PNG file.
  bool screenshot(HWND dialog, const std::string& path) const;
  // Texts and controls that the layout cut short: a visible control given
  // less room than it needs, or lying outside the window.  Empty when tidy.
  std::vector<std::string> layoutProblems(HWND dialog) const;
  // The ids of the controls in the order Tab moves the focus through them,
  // starting from the first.
  std::vector<int> tabOrder(HWND dialog);
  // Delivers a key press to the dialog as the keyboard would.
  void sendKey(HWND dialog, unsigned keyval);

  // ---- DialogHost ----
  INT_PTR dialogBox(const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param) override;
  BOOL endDialog(HWND dialog, INT_PTR result) override;
  BOOL setCaption(HWND dialog, const std::string& text) override;
  BOOL setIcon(HWND dialog, HICON icon) override;
  BOOL centre(HWND dialog) override;
  BOOL setTopmost(HWND dialog, bool topmost) override;
  LONG_PTR setUserData(HWND dialog, LONG_PTR value) override;
  LONG_PTR userData(HWND dialog) override;
  BOOL postMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;
  UINT_PTR setTimer(HWND dialog, UINT_PTR id, UINT milliseconds) override;
  BOOL killTimer(HWND dialog, UINT_PTR id) override;
  BOOL hasControl(HWND dialog, int id) override;
  BOOL setText(HWND dialog, int id, const std::string& text) override;
  std::optional<std::string> text(HWND dialog, int id) override;
  BOOL enable(HWND dialog, int id, bool enabled) override;
  BOOL isEnabled(HWND dialog, int id) override;
  BOOL show(HWND dialog, int id, bool visible) override;
  BOOL isVisible(HWND dialog, int id) override;
  BOOL setFocus(HWND dialog, int id) override;
  BOOL redraw(HWND dialog, int id) override;
  BOOL setCheck(HWND dialog, int id, UINT state) override;
  UINT check(HWND dialog, int id) override;
  BOOL comboReset(HWND dialog, int id) override;
  int comboAdd(HWND dialog, int id, const std::string& text) override;
  int comboCount(HWND dialog, int id) override;
  BOOL comboSetData(HWND dialog, int id, int index, LPARAM data) override;
  LPARAM comboData(HWND dialog, int id, int index) override;
  BOOL comboSetSelection(HWND dialog, int id, int index) override;
  int comboSelection(HWND dialog, int id) override;
  BOOL listReset(HWND dialog, int id) override;
  int listInsert(HWND dialog, int id, int index, const std::string& text) override;
  int listDelete(HWND dialog, int id, int index) override;
  BOOL listSetText(HWND dialog, int id, int index, const std::string& text) override;
  int listCount(HWND dialog, int id) override;
  std::optional<std::string> listText(HWND dialog, int id, int index) override;
  BOOL listSetSelected(HWND dialog, int id, int index, bool selected) override;
  std::vector<int> listSelection(HWND dialog, int id) override;
  BOOL listSetTopIndex(HWND dialog, int id, int index) override;
  int listTopIndex(HWND dialog, int id) override;
  BOOL listSetHorizontalExtent(HWND dialog, int id, int pixels) override;
  BOOL trackbarSetRange(HWND dialog, int id, int minimum, int maximum, bool redraw) override;
  BOOL trackbarSetPosition(HWND dialog, int id, int position) override;
  int trackbarPosition(HWND dialog, int id) override;
  BOOL trackbarSetPageSize(HWND dialog, int id, int size) override;
  BOOL trackbarSetLineSize(HWND dialog, int id, int size) override;
  BOOL trackbarSetTickFrequency(HWND dialog, int id, int every) override;
  int tabInsert(HWND dialog, int id, int index, const std::string& text) override;
  int tabSelection(HWND dialog, int id) override;
  BOOL tabSetSelection(HWND dialog, int id, int index) override;
  BOOL progressSetRange(HWND dialog, int id, int minimum, int maximum) override;
  BOOL progressSetPosition(HWND dialog, int id, int position) override;
  BOOL fillRect(HDC dc, const RECT& rect, COLORREF colour) override;
  int messageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
  BOOL chooseColor(CHOOSECOLORA* choice) override;
  BOOL openFileNames(OPENFILENAMEA* request, DWORD* error) override;
  std::optional<std::string> browseForFolder(HWND owner, const std::string& title,
                                             const std::string& startFolder) override;

  struct Dialog;
  struct Control;

 private:
  friend struct GtkHostAccess;
  friend struct GtkShownAccess;
  Dialog* find(HWND dialog) const;
  Control* control(HWND dialog, int id) const;
  Control* controlOfKind(HWND dialog, int id, ControlKind kind) const;
  GtkWindow* ownerWindow(HWND owner) const;
  void build(Dialog& d);
  void runSystemDialog(GtkWidget* window);

  std::map<HWND, std::unique_ptr<Dialog>> dialogs_;
  HWND nextHandle_ = 0x60000010;
  std::map<HDC, cairo_t*> drawing_;
  HDC nextDc_ = 0x31000010;
};

// The dialog host of this process: the one installed already (a test's
// scripted host), else the GTK host, started on first use.  nullptr when
// GTK can't start (no display).
DialogHost* ensureGtkDialogHost();
// The GTK host once started (nullptr before).
GtkDialogHost* gtkDialogHost();

}  // namespace platform
