#pragma once
// A scripted dialog host for tests: dialogs exist only as records of what
// each control shows, and a test acts on them as a user would.
//
//   platform::ScriptedDialogHost host;
//   platform::ScopedDialogHost guard(host);
//   host.onDialog(146, [](platform::ScriptedDialog& d) {
//     EXPECT_TRUE(d.checked(1032));      // what the dialog shows
//     d.click(1038);                     // a user's click: toggles, then BN_CLICKED
//     d.setTrackbar(1031, 80);
//     d.click(IDOK);
//   });
//   INT_PTR result = DialogBoxParamA(0, 146, 0, proc, 0);  // runs the script
//
// A dialog opens with WM_INITDIALOG, then its owner-drawn buttons get
// WM_DRAWITEM, then the script queued for its template id runs (scripts for
// the same id run in the order queued).  A dialog that no script ends, a
// dialog with no script, a call naming a control the dialog lacks and a
// click on a disabled or hidden control are problems: they are listed in
// problems() so that a test can require none.
//
// The system dialogs answer what the test queued (message boxes answer
// their default button when nothing is queued); every request is kept.
// Messages posted from other threads wait until the script pumps them
// (pump, waitUntil).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog.h"

namespace platform {

class ScriptedDialogHost;

// What one control shows.
struct ScriptedControl {
  DialogControl definition;
  std::string text;
  UINT checked = BST_UNCHECKED;
  bool enabled = true;
  bool visible = true;
  bool focused = false;
  // Drop-down lists: items with their data, the selection.
  std::vector<std::pair<std::string, LPARAM>> items;
  int selection = -1;
  // List boxes: rows with their selection, the top row, the horizontal extent.
  struct Row {
    std::string text;
    bool selected = false;
  };
  std::vector<Row> rows;
  int topIndex = 0;
  int horizontalExtent = 0;
  // Trackbars
  int minimum = 0;
  int maximum = 100;
  int position = 0;
  int pageSize = 0;
  int lineSize = 1;
  int tickFrequency = 0;
  // Tabs
  std::vector<std::string> tabs;
  int tabSelection = -1;
  // Progress bars
  int progressMinimum = 0;
  int progressMaximum = 100;
  int progressPosition = 0;
  // Owner-drawn buttons: every fill of every WM_DRAWITEM, in order.
  struct Fill {
    RECT rect;
    COLORREF colour;
  };
  std::vector<Fill> fills;
  int drawCount = 0;

  std::vector<std::string> rowTexts() const;
  std::vector<int> selectedRows() const;
  std::vector<std::string> itemTexts() const;
};

// One open dialog as its script sees it.
class ScriptedDialog {
 public:
  HWND handle() const { return handle_; }
  int templateId() const { return template_->id; }
  const DialogTemplate& dialogTemplate() const { return *template_; }
  bool ended() const { return ended_; }
  INT_PTR result() const { return result_; }

  // ---- what it shows ----
  const ScriptedControl& control(int id) const;  // a problem (and an empty control) when absent
  bool has(int id) const { return controls_.count(id) != 0; }
  bool checked(int id) const { return control(id).checked == BST_CHECKED; }
  const std::string& text(int id) const { return control(id).text; }
  bool enabled(int id) const { return control(id).enabled; }
  bool visible(int id) const { return control(id).visible; }
  const std::string& caption() const { return caption_; }
  HICON icon() const { return icon_; }
  bool centred() const { return centred_; }
  bool topmost() const { return topmost_; }
  // The colour the owner-drawn button was last filled with (nullopt if never).
  std::optional<COLORREF> filledColour(int id) const;

  // ---- what a user does (false, and a problem, when a user could not) ----
  bool click(int id);
  bool type(int id, const std::string& text);  // replaces the edit's text, as typed keys
  bool selectCombo(int id, int index);
  bool selectRows(int id, const std::vector<int>& rows);
  bool setTrackbar(int id, int position);  // held inside the range, as a dragged thumb is
  bool selectTab(int id, int index);
  void pressEscape();
  void pressEnter();
  void closeWindow();

  // Delivers the messages posted to this dialog; returns how many.
  int pump();
  // Pumps (waiting for posts) until `done` holds or the time is up; true
  // when it holds.
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));
  // Delivers WM_TIMER for a running timer; false when none has that id.
  bool fireTimer(UINT_PTR id);
  bool timerRunning(UINT_PTR id) const { return timers_.count(id) != 0; }

  // Sends any message to the procedure (as the system would).
  INT_PTR send(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  friend class ScriptedDialogHost;
  ScriptedControl* mutableControl(int id);
  ScriptedControl* usable(int id, const char* action);
  void command(int id, WORD notification);
  void drawPending();

  ScriptedDialogHost* host_ = nullptr;
  HWND handle_ = 0;
  const DialogTemplate* template_ = nullptr;
  DLGPROC proc_ = nullptr;
  std::map<int, ScriptedControl> controls_;
  std::vector<int> order_;
  std::string caption_;
  HICON icon_ = 0;
  bool centred_ = false;
  bool topmost_ = false;
  LONG_PTR userData_ = 0;
  bool ended_ = false;
  INT_PTR result_ = 0;
  std::map<UINT_PTR, UINT> timers_;
  std::vector<int> redrawPending_;
};

class ScriptedDialogHost : public DialogHost {
 public:
  using Script = std::function<void(ScriptedDialog&)>;

  ScriptedDialogHost();
  ~ScriptedDialogHost() override;

  // Queues what happens in the next dialog of a template.
  void onDialog(int templateId, Script script);
  // Template ids of the dialogs opened, in order.
  std::vector<int> opened;
  // The dialogs open now, innermost last.
  ScriptedDialog* current();
  ScriptedDialog* find(HWND dialog);

  std::vector<std::string> problems;

  // Message boxes: each request kept; answers taken in order, else the
  // default button.
  struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    int answer;
  };
  std::vector<MessageBoxCall> messageBoxes;
  std::deque<int> messageBoxAnswers;

  // The colour chooser: each request kept (with the custom colours as it
  // found them); each answer a colour or nothing (cancelled), and
  // optionally the custom colours as the user left them.
  struct ColorRequest {
    HWND owner;
    COLORREF initial;
    DWORD flags;
    bool hadCustomColors;
    std::vector<COLORREF> customColors;
  };
  struct ColorAnswer {
    std::optional<COLORREF> colour;
    std::optional<std::vector<COLORREF>> customColors;
  };
  std::vector<ColorRequest> colorRequests;
  std::deque<ColorAnswer> colorAnswers;

  // The open-file chooser: each request kept; each answer the chosen paths
  // or nothing (cancelled).
  struct OpenRequest {
    HWND owner;
    std::string title;
    std::vector<FileFilter> filters;
    DWORD flags;
    std::string defaultExtension;
    DWORD bufferSize;
  };
  std::vector<OpenRequest> openRequests;
  std::deque<std::optional<std::vector<std::string>>> openAnswers;

  // The folder chooser.
  struct FolderRequest {
    HWND owner;
    std::string title;
    std::string startFolder;
  };
  std::vector<FolderRequest> folderRequests;
  std::deque<std::optional<std::string>> folderAnswers;

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

 private:
  friend class ScriptedDialog;
  struct Posted {
    HWND dialog;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  // The control, or nullptr with a problem noted.
  ScriptedControl* control(HWND dialog, int id, const char* call);
  ScriptedControl* controlOfKind(HWND dialog, int id, ControlKind kind, const char* call);
  void problem(std::string text);
  bool takePosted(HWND dialog, Posted* out);

  std::map<int, std::deque<Script>> scripts_;
  std::vector<std::unique_ptr<ScriptedDialog>> open_;
  HWND nextHandle_ = 0x50000010;
  std::map<HDC, ScriptedControl*> drawing_;
  HDC nextDc_ = 0x30000010;

  std::mutex postLock_;
  std::condition_variable posted_;
  std::deque<Posted> queue_;
};

}  // namespace platform
