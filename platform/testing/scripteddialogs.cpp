#include "platform/testing/scripteddialogs.h"

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {

std::string describe(HWND dialog, int id) {
  char text[64];
  std::snprintf(text, sizeof text, "dialog 0x%lx control %d", static_cast<unsigned long>(dialog), id);
  return text;
}

}  // namespace

// ---- ScriptedControl --------------------------------------------------------------

std::vector<std::string> ScriptedControl::rowTexts() const {
  std::vector<std::string> out;
  for (const Row& r : rows) out.push_back(r.text);
  return out;
}

std::vector<int> ScriptedControl::selectedRows() const {
  std::vector<int> out;
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].selected) out.push_back(static_cast<int>(i));
  return out;
}

std::vector<std::string> ScriptedControl::itemTexts() const {
  std::vector<std::string> out;
  for (const auto& item : items) out.push_back(item.first);
  return out;
}

// ---- ScriptedDialog -----------------------------------------------------------------

const ScriptedControl& ScriptedDialog::control(int id) const {
  auto it = controls_.find(id);
  if (it != controls_.end()) return it->second;
  host_->problem("the script looked at " + describe(handle_, id) + ", which the dialog lacks");
  static const ScriptedControl none;
  return none;
}

ScriptedControl* ScriptedDialog::mutableControl(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

std::optional<COLORREF> ScriptedDialog::filledColour(int id) const {
  const ScriptedControl& c = control(id);
  if (c.fills.empty()) return std::nullopt;
  return c.fills.back().colour;
}

ScriptedControl* ScriptedDialog::usable(int id, const char* action) {
  ScriptedControl* c = mutableControl(id);
  std::string why;
  if (ended_)
    why = "the dialog has ended";
  else if (!c)
    why = "the dialog lacks it";
  else if (!c->visible)
    why = "it is hidden";
  else if (!c->enabled)
    why = "it is disabled";
  if (why.empty()) return c;
  host_->problem(std::string("a user can't ") + action + " " + describe(handle_, id) + ": " + why);
  return nullptr;
}

INT_PTR ScriptedDialog::send(UINT message, WPARAM wParam, LPARAM lParam) {
  if (ended_) return 0;
  const INT_PTR r = proc_(handle_, message, wParam, lParam);
  drawPending();
  return r;
}

void ScriptedDialog::command(int id, WORD notification) {
  send(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), notification), 0);
}

void ScriptedDialog::drawPending() {
  while (!ended_ && !redrawPending_.empty()) {
    const int id = redrawPending_.front();
    redrawPending_.erase(redrawPending_.begin());
    ScriptedControl* c = mutableControl(id);
    if (!c || c->definition.kind != ControlKind::colorButton) continue;
    DRAWITEMSTRUCT item;
    item.CtlID = static_cast<UINT>(id);
    item.hwndItem = handle_;
    item.hDC = host_->nextDc_++;
    item.rcItem = RECT{0, 0, 40, 20};
    host_->drawing_[item.hDC] = c;
    ++c->drawCount;
    proc_(handle_, WM_DRAWITEM, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&item));
    host_->drawing_.erase(item.hDC);
  }
}

bool ScriptedDialog::click(int id) {
  ScriptedControl* c = usable(id, "click");
  if (!c) return false;
  switch (c->definition.kind) {
    case ControlKind::checkBox: c->checked = c->checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED; break;
    case ControlKind::radioButton: {
      // The radio buttons next to it in its container form its group.
      auto at = std::find(order_.begin(), order_.end(), id);
      auto same = [&](int other) {
        const ScriptedControl& o = controls_.at(other);
        return o.definition.kind == ControlKind::radioButton && o.definition.group == c->definition.group;
      };
      auto first = at;
      while (first != order_.begin() && same(*(first - 1))) --first;
      auto last = at;
      while (last + 1 != order_.end() && same(*(last + 1))) ++last;
      for (auto it = first; it <= last; ++it) controls_.at(*it).checked = BST_UNCHECKED;
      c->checked = BST_CHECKED;
      break;
    }
    case ControlKind::pushButton:
    case ControlKind::colorButton: break;
    default: host_->problem("a user can't click " + describe(handle_, id) + ": it is not a button"); return false;
  }
  command(id, BN_CLICKED);
  return true;
}

bool ScriptedDialog::type(int id, const std::string& text) {
  ScriptedControl* c = usable(id, "type into");
  if (!c) return false;
  if (c->definition.kind != ControlKind::edit) {
    host_->problem("a user can't type into " + describe(handle_, id) + ": it is not an edit box");
    return false;
  }
  std::string typed;
  for (char ch : text) {
    if ((c->definition.style & ControlStyle::kDigitsOnly) && (ch < '0' || ch > '9')) continue;
    if (c->definition.maxLength > 0 && typed.size() >= static_cast<size_t>(c->definition.maxLength)) break;
    typed.push_back(ch);
  }
  c->text = typed;
  command(id, EN_CHANGE);
  return true;
}

bool ScriptedDialog::selectCombo(int id, int index) {
  ScriptedControl* c = usable(id, "choose in");
  if (!c) return false;
  if (index < 0 || static_cast<size_t>(index) >= c->items.size()) {
    host_->problem("a user can't choose item " + std::to_string(index) + " of " + describe(handle_, id));
    return false;
  }
  c->selection = index;
  command(id, CBN_SELCHANGE);
  return true;
}

bool ScriptedDialog::selectRows(int id, const std::vector<int>& rows) {
  ScriptedControl* c = usable(id, "select rows of");
  if (!c) return false;
  for (int r : rows)
    if (r < 0 || static_cast<size_t>(r) >= c->rows.size()) {
      host_->problem("a user can't select row " + std::to_string(r) + " of " + describe(handle_, id));
      return false;
    }
  for (auto& row : c->rows) row.selected = false;
  for (int r : rows) c->rows[static_cast<size_t>(r)].selected = true;
  command(id, LBN_SELCHANGE);
  return true;
}

bool ScriptedDialog::setTrackbar(int id, int position) {
  ScriptedControl* c = usable(id, "move");
  if (!c) return false;
  c->position = std::clamp(position, c->minimum, std::max(c->minimum, c->maximum));
  return true;
}

bool ScriptedDialog::selectTab(int id, int index) {
  ScriptedControl* c = usable(id, "select a tab of");
  if (!c) return false;
  if (index < 0 || static_cast<size_t>(index) >= c->tabs.size()) {
    host_->problem("a user can't select tab " + std::to_string(index) + " of " + describe(handle_, id));
    return false;
  }
  c->tabSelection = index;
  NMHDR header;
  header.hwndFrom = handle_;
  header.idFrom = static_cast<UINT_PTR>(id);
  header.code = TCN_SELCHANGE;
  send(WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&header));
  return true;
}

void ScriptedDialog::pressEscape() {
  // A disabled Cancel button can't be pressed with Escape either.
  const ScriptedControl* cancel = mutableControl(IDCANCEL);
  if (cancel && !cancel->enabled) return;
  command(IDCANCEL, BN_CLICKED);
}

void ScriptedDialog::pressEnter() {
  int target = IDOK;
  for (int id : order_)
    if (controls_.at(id).definition.style & ControlStyle::kDefaultButton) target = id;
  const ScriptedControl* c = mutableControl(target);
  if (c && (!c->enabled || !c->visible)) return;
  command(target, BN_CLICKED);
}

void ScriptedDialog::closeWindow() { pressEscape(); }

int ScriptedDialog::pump() {
  int n = 0;
  ScriptedDialogHost::Posted p;
  while (!ended_ && host_->takePosted(handle_, &p)) {
    send(p.message, p.wParam, p.lParam);
    ++n;
  }
  return n;
}

bool ScriptedDialog::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    pump();
    if (done()) return true;
    if (ended_) return done();
    std::unique_lock<std::mutex> lock(host_->postLock_);
    const bool waiting = std::any_of(host_->queue_.begin(), host_->queue_.end(),
                                     [&](const ScriptedDialogHost::Posted& p) { return p.dialog == handle_; });
    if (!waiting && host_->posted_.wait_until(lock, deadline) == std::cv_status::timeout) {
      lock.unlock();
      pump();
      return done();
    }
  }
}

bool ScriptedDialog::fireTimer(UINT_PTR id) {
  if (ended_ || !timers_.count(id)) return false;
  send(WM_TIMER, id, 0);
  return true;
}

// ---- ScriptedDialogHost ---------------------------------------------------------------

ScriptedDialogHost::ScriptedDialogHost() = default;
ScriptedDialogHost::~ScriptedDialogHost() = default;

void ScriptedDialogHost::onDialog(int templateId, Script script) { scripts_[templateId].push_back(std::move(script)); }

ScriptedDialog* ScriptedDialogHost::current() { return open_.empty() ? nullptr : open_.back().get(); }

ScriptedDialog* ScriptedDialogHost::find(HWND dialog) {
  for (auto& d : open_)
    if (d->handle_ == dialog) return d.get();
  return nullptr;
}

void ScriptedDialogHost::problem(std::string text) { problems.push_back(std::move(text)); }

ScriptedControl* ScriptedDialogHost::control(HWND dialog, int id, const char* call) {
  ScriptedDialog* d = find(dialog);
  if (!d) {
    problem(std::string(call) + " on 0x" + std::to_string(dialog) + ", which is no open dialog");
    return nullptr;
  }
  ScriptedControl* c = d->mutableControl(id);
  if (!c) problem(std::string(call) + " on " + describe(dialog, id) + ", which the dialog lacks");
  return c;
}

ScriptedControl* ScriptedDialogHost::controlOfKind(HWND dialog, int id, ControlKind kind, const char* call) {
  ScriptedControl* c = control(dialog, id, call);
  if (c && c->definition.kind != kind) {
    problem(std::string(call) + " on " + describe(dialog, id) + ", a control of another kind");
    return nullptr;
  }
  return c;
}

INT_PTR ScriptedDialogHost::dialogBox(const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param) {
  (void)owner;
  opened.push_back(dialog.id);
  auto made = std::make_unique<ScriptedDialog>();
  ScriptedDialog& d = *made;
  d.host_ = this;
  d.handle_ = nextHandle_++;
  d.template_ = &dialog;
  d.proc_ = proc;
  d.caption_ = dialog.caption;
  for (const DialogControl& def : dialog.controls) {
    if (d.controls_.count(def.id)) {
      if (def.id != IDC_STATIC)
        problem("template " + std::to_string(dialog.id) + " repeats control " + std::to_string(def.id));
      continue;
    }
    ScriptedControl c;
    c.definition = def;
    c.text = def.text;
    c.visible = !(def.style & ControlStyle::kHidden);
    c.enabled = !(def.style & ControlStyle::kDisabled);
    d.controls_[def.id] = c;
    d.order_.push_back(def.id);
    if (def.kind == ControlKind::colorButton) d.redrawPending_.push_back(def.id);
  }
  open_.push_back(std::move(made));

  d.proc_(d.handle_, WM_INITDIALOG, 0, param);
  d.drawPending();
  if (!d.ended_) {
    auto it = scripts_.find(dialog.id);
    if (it == scripts_.end() || it->second.empty()) {
      problem("dialog " + std::to_string(dialog.id) + " opened without a script");
      d.ended_ = true;
      d.result_ = -1;
    } else {
      Script script = std::move(it->second.front());
      it->second.pop_front();
      script(d);
      if (!d.ended_) {
        problem("the script of dialog " + std::to_string(dialog.id) + " left it open");
        d.ended_ = true;
        d.result_ = -1;
      }
    }
  }
  const INT_PTR result = d.result_;
  // Posts to a dialog that has gone are dropped, as the system drops them.
  {
    std::lock_guard<std::mutex> g(postLock_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [&](const Posted& p) { return p.dialog == d.handle_; }),
                 queue_.end());
  }
  open_.erase(std::find_if(open_.begin(), open_.end(), [&](const auto& p) { return p.get() == &d; }));
  return result;
}

BOOL ScriptedDialogHost::endDialog(HWND dialog, INT_PTR result) {
  ScriptedDialog* d = find(dialog);
  if (!d) {
    problem("EndDialog on 0x" + std::to_string(dialog) + ", which is no open dialog");
    return FALSE;
  }
  d->ended_ = true;
  d->result_ = result;
  return TRUE;
}

BOOL ScriptedDialogHost::setCaption(HWND dialog, const std::string& text) {
  ScriptedDialog* d = find(dialog);
  if (!d) return FALSE;
  d->caption_ = text;
  return TRUE;
}

BOOL ScriptedDialogHost::setIcon(HWND dialog, HICON icon) {
  ScriptedDialog* d = find(dialog);
  if (!d) return FALSE;
  d->icon_ = icon;
  return TRUE;
}

BOOL ScriptedDialogHost::centre(HWND dialog) {
  ScriptedDialog* d = find(dialog);
  if (!d) return FALSE;
  d->centred_ = true;
  return TRUE;
}

BOOL ScriptedDialogHost::setTopmost(HWND dialog, bool topmost) {
  ScriptedDialog* d = find(dialog);
  if (!d) return FALSE;
  d->topmost_ = topmost;
  return TRUE;
}

LONG_PTR ScriptedDialogHost::setUserData(HWND dialog, LONG_PTR value) {
  ScriptedDialog* d = find(dialog);
  if (!d) return 0;
  const LONG_PTR old = d->userData_;
  d->userData_ = value;
  return old;
}

LONG_PTR ScriptedDialogHost::userData(HWND dialog) {
  ScriptedDialog* d = find(dialog);
  return d ? d->userData_ : 0;
}

BOOL ScriptedDialogHost::postMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  // Any thread: only the queue is touched here.
  {
    std::lock_guard<std::mutex> g(postLock_);
    queue_.push_back(Posted{dialog, message, wParam, lParam});
  }
  posted_.notify_all();
  return TRUE;
}

bool ScriptedDialogHost::takePosted(HWND dialog, Posted* out) {
  std::lock_guard<std::mutex> g(postLock_);
  for (auto it = queue_.begin(); it != queue_.end(); ++it)
    if (it->dialog == dialog) {
      *out = *it;
      queue_.erase(it);
      return true;
    }
  return false;
}

UINT_PTR ScriptedDialogHost::setTimer(HWND dialog, UINT_PTR id, UINT milliseconds) {
  ScriptedDialog* d = find(dialog);
  if (!d) return 0;
  d->timers_[id] = milliseconds;
  return id;
}

BOOL ScriptedDialogHost::killTimer(HWND dialog, UINT_PTR id) {
  ScriptedDialog* d = find(dialog);
  return d && d->timers_.erase(id) ? TRUE : FALSE;
}

BOOL ScriptedDialogHost::hasControl(HWND dialog, int id) {
  ScriptedDialog* d = find(dialog);
  return d && d->has(id);
}

BOOL ScriptedDialogHost::setText(HWND dialog, int id, const std::string& text) {
  ScriptedControl* c = control(dialog, id, "SetDlgItemText");
  if (!c) return FALSE;
  c->text = text;
  return TRUE;
}

std::optional<std::string> ScriptedDialogHost::text(HWND dialog, int id) {
  ScriptedControl* c = control(dialog, id, "GetDlgItemText");
  if (!c) return std::nullopt;
  return c->text;
}

BOOL ScriptedDialogHost::enable(HWND dialog, int id, bool enabled) {
  ScriptedControl* c = control(dialog, id, "EnableWindow");
  if (!c) return FALSE;
  c->enabled = enabled;
  return TRUE;
}

BOOL ScriptedDialogHost::isEnabled(HWND dialog, int id) {
  ScriptedControl* c = control(dialog, id, "IsWindowEnabled");
  return c && c->enabled;
}

BOOL ScriptedDialogHost::show(HWND dialog, int id, bool visible) {
  ScriptedControl* c = control(dialog, id, "ShowWindow");
  if (!c) return FALSE;
  c->visible = visible;
  return TRUE;
}

BOOL ScriptedDialogHost::isVisible(HWND dialog, int id) {
  ScriptedControl* c = control(dialog, id, "IsWindowVisible");
  return c && c->visible;
}

BOOL ScriptedDialogHost::setFocus(HWND dialog, int id) {
  ScriptedDialog* d = find(dialog);
  ScriptedControl* c = control(dialog, id, "SetFocus");
  if (!d || !c) return FALSE;
  for (auto& entry : d->controls_) entry.second.focused = false;
  c->focused = true;
  return TRUE;
}

BOOL ScriptedDialogHost::redraw(HWND dialog, int id) {
  ScriptedDialog* d = find(dialog);
  if (!d || !control(dialog, id, "InvalidateRect")) return FALSE;
  d->redrawPending_.push_back(id);
  return TRUE;
}

BOOL ScriptedDialogHost::setCheck(HWND dialog, int id, UINT state) {
  ScriptedControl* c = control(dialog, id, "CheckDlgButton");
  if (!c) return FALSE;
  if (c->definition.kind != ControlKind::checkBox && c->definition.kind != ControlKind::radioButton) {
    problem("CheckDlgButton on " + describe(dialog, id) + ", which is no check box or radio button");
    return FALSE;
  }
  c->checked = state == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
  return TRUE;
}

UINT ScriptedDialogHost::check(HWND dialog, int id) {
  ScriptedControl* c = control(dialog, id, "IsDlgButtonChecked");
  return c ? c->checked : BST_UNCHECKED;
}

BOOL ScriptedDialogHost::comboReset(HWND dialog, int id) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::dropDownList, "CB_RESETCONTENT");
  if (!c) return FALSE;
  c->items.clear();
  c->selection = -1;
  return TRUE;
}

int ScriptedDialogHost::comboAdd(HWND dialog, int id, const std::string& text) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::dropDownList, "CB_ADDSTRING");
  if (!c) return CB_ERR;
  c->items.emplace_back(text, 0);
  return static_cast<int>(c->items.size()) - 1;
}

int ScriptedDialogHost::comboCount(HWND dialog, int id) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::dropDownList, "CB_GETCOUNT");
  return c ? static_cast<int>(c->items.size()) : CB_ERR;
}

BOOL ScriptedDialogHost::comboSetData(HWND dialog, int id, int index, LPARAM data) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::dropDownList, "CB_SETITEMDATA");
  if (!c || index < 0 || static_cast<size_t>(index) >= c->items.size()) return FALSE;
  c->items[static_cast<size_t>(index)].second = data;
  return TRUE;
}

LPARAM ScriptedDialogHost::comboData(HWND dialog, int id, int index) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::dropDownList, "CB_GETITEMDATA");
  if (!c || index < 0 || static_cast<size_t>(index) >= c->items.size()) return CB_ERR;
  return c->items[static_cast<size_t>(index)].second;
}

BOOL ScriptedDialogHost::comboSetSelection(HWND dialog, int id, int index) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::dropDownList, "CB_SETCURSEL");
  if (!c) return FALSE;
  if (index < 0 || static_cast<size_t>(index) >= c->items.size()) {
    c->selection = -1;
    return index == -1;
  }
  c->selection = index;
  return TRUE;
}

int ScriptedDialogHost::comboSelection(HWND dialog, int id) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::dropDownList, "CB_GETCURSEL");
  return c ? c->selection : CB_ERR;
}

BOOL ScriptedDialogHost::listReset(HWND dialog, int id) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_RESETCONTENT");
  if (!c) return FALSE;
  c->rows.clear();
  c->topIndex = 0;
  return TRUE;
}

int ScriptedDialogHost::listInsert(HWND dialog, int id, int index, const std::string& text) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_INSERTSTRING");
  if (!c) return LB_ERR;
  if (index < 0) index = static_cast<int>(c->rows.size());
  if (static_cast<size_t>(index) > c->rows.size()) return LB_ERR;
  c->rows.insert(c->rows.begin() + index, ScriptedControl::Row{text, false});
  return index;
}

int ScriptedDialogHost::listDelete(HWND dialog, int id, int index) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_DELETESTRING");
  if (!c || index < 0 || static_cast<size_t>(index) >= c->rows.size()) return LB_ERR;
  c->rows.erase(c->rows.begin() + index);
  c->topIndex = std::min(c->topIndex, std::max(0, static_cast<int>(c->rows.size()) - 1));
  return static_cast<int>(c->rows.size());
}

BOOL ScriptedDialogHost::listSetText(HWND dialog, int id, int index, const std::string& text) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "list row text");
  if (!c || index < 0 || static_cast<size_t>(index) >= c->rows.size()) return FALSE;
  c->rows[static_cast<size_t>(index)].text = text;
  return TRUE;
}

int ScriptedDialogHost::listCount(HWND dialog, int id) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_GETCOUNT");
  return c ? static_cast<int>(c->rows.size()) : LB_ERR;
}

std::optional<std::string> ScriptedDialogHost::listText(HWND dialog, int id, int index) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_GETTEXT");
  if (!c || index < 0 || static_cast<size_t>(index) >= c->rows.size()) return std::nullopt;
  return c->rows[static_cast<size_t>(index)].text;
}

BOOL ScriptedDialogHost::listSetSelected(HWND dialog, int id, int index, bool selected) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_SETSEL");
  if (!c) return FALSE;
  if (index == -1) {
    for (auto& r : c->rows) r.selected = selected;
    return TRUE;
  }
  if (index < 0 || static_cast<size_t>(index) >= c->rows.size()) return FALSE;
  c->rows[static_cast<size_t>(index)].selected = selected;
  return TRUE;
}

std::vector<int> ScriptedDialogHost::listSelection(HWND dialog, int id) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_GETSELITEMS");
  return c ? c->selectedRows() : std::vector<int>();
}

BOOL ScriptedDialogHost::listSetTopIndex(HWND dialog, int id, int index) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_SETTOPINDEX");
  if (!c || index < 0 || (index > 0 && static_cast<size_t>(index) >= c->rows.size())) return FALSE;
  c->topIndex = index;
  return TRUE;
}

int ScriptedDialogHost::listTopIndex(HWND dialog, int id) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_GETTOPINDEX");
  return c ? c->topIndex : LB_ERR;
}

BOOL ScriptedDialogHost::listSetHorizontalExtent(HWND dialog, int id, int pixels) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::listBox, "LB_SETHORIZONTALEXTENT");
  if (!c) return FALSE;
  c->horizontalExtent = pixels;
  return TRUE;
}

BOOL ScriptedDialogHost::trackbarSetRange(HWND dialog, int id, int minimum, int maximum, bool) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::trackbar, "TBM_SETRANGE");
  if (!c) return FALSE;
  c->minimum = minimum;
  c->maximum = maximum;
  c->position = std::clamp(c->position, minimum, std::max(minimum, maximum));
  return TRUE;
}

BOOL ScriptedDialogHost::trackbarSetPosition(HWND dialog, int id, int position) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::trackbar, "TBM_SETPOS");
  if (!c) return FALSE;
  // A trackbar keeps its thumb inside its range, whatever it is given.
  c->position = std::clamp(position, c->minimum, std::max(c->minimum, c->maximum));
  return TRUE;
}

int ScriptedDialogHost::trackbarPosition(HWND dialog, int id) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::trackbar, "TBM_GETPOS");
  return c ? c->position : 0;
}

BOOL ScriptedDialogHost::trackbarSetPageSize(HWND dialog, int id, int size) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::trackbar, "TBM_SETPAGESIZE");
  if (!c) return FALSE;
  c->pageSize = size;
  return TRUE;
}

BOOL ScriptedDialogHost::trackbarSetLineSize(HWND dialog, int id, int size) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::trackbar, "TBM_SETLINESIZE");
  if (!c) return FALSE;
  c->lineSize = size;
  return TRUE;
}

BOOL ScriptedDialogHost::trackbarSetTickFrequency(HWND dialog, int id, int every) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::trackbar, "TBM_SETTICFREQ");
  if (!c) return FALSE;
  c->tickFrequency = every;
  return TRUE;
}

int ScriptedDialogHost::tabInsert(HWND dialog, int id, int index, const std::string& text) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::tab, "TCM_INSERTITEM");
  if (!c) return -1;
  if (index < 0 || static_cast<size_t>(index) > c->tabs.size()) index = static_cast<int>(c->tabs.size());
  c->tabs.insert(c->tabs.begin() + index, text);
  if (c->tabSelection < 0) c->tabSelection = 0;
  return index;
}

int ScriptedDialogHost::tabSelection(HWND dialog, int id) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::tab, "TCM_GETCURSEL");
  return c ? c->tabSelection : -1;
}

BOOL ScriptedDialogHost::tabSetSelection(HWND dialog, int id, int index) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::tab, "TCM_SETCURSEL");
  if (!c || index < 0 || static_cast<size_t>(index) >= c->tabs.size()) return FALSE;
  c->tabSelection = index;
  return TRUE;
}

BOOL ScriptedDialogHost::progressSetRange(HWND dialog, int id, int minimum, int maximum) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::progress, "PBM_SETRANGE");
  if (!c) return FALSE;
  c->progressMinimum = minimum;
  c->progressMaximum = maximum;
  return TRUE;
}

BOOL ScriptedDialogHost::progressSetPosition(HWND dialog, int id, int position) {
  ScriptedControl* c = controlOfKind(dialog, id, ControlKind::progress, "PBM_SETPOS");
  if (!c) return FALSE;
  c->progressPosition = std::clamp(position, c->progressMinimum, std::max(c->progressMinimum, c->progressMaximum));
  return TRUE;
}

BOOL ScriptedDialogHost::fillRect(HDC dc, const RECT& rect, COLORREF colour) {
  auto it = drawing_.find(dc);
  if (it == drawing_.end()) {
    problem("FillRect outside WM_DRAWITEM");
    return FALSE;
  }
  it->second->fills.push_back(ScriptedControl::Fill{rect, colour});
  return TRUE;
}

int ScriptedDialogHost::messageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  int answer = messageBoxDefaultAnswer(type);
  if (!messageBoxAnswers.empty()) {
    answer = messageBoxAnswers.front();
    messageBoxAnswers.pop_front();
  }
  messageBoxes.push_back(MessageBoxCall{owner, text, caption, type, answer});
  return answer;
}

BOOL ScriptedDialogHost::chooseColor(CHOOSECOLORA* choice) {
  ColorRequest request{choice->hwndOwner, choice->rgbResult, choice->Flags, choice->lpCustColors != nullptr, {}};
  if (choice->lpCustColors) request.customColors.assign(choice->lpCustColors, choice->lpCustColors + 16);
  colorRequests.push_back(request);
  if (colorAnswers.empty()) {
    problem("a colour chooser opened without an answer");
    return FALSE;
  }
  ColorAnswer answer = colorAnswers.front();
  colorAnswers.pop_front();
  if (answer.customColors && choice->lpCustColors)
    for (size_t i = 0; i < 16 && i < answer.customColors->size(); ++i)
      choice->lpCustColors[i] = (*answer.customColors)[i];
  if (!answer.colour) return FALSE;
  choice->rgbResult = *answer.colour;
  return TRUE;
}

BOOL ScriptedDialogHost::openFileNames(OPENFILENAMEA* request, DWORD* error) {
  OpenRequest r{
      request->hwndOwner, request->lpstrTitle ? request->lpstrTitle : "",   parseFileFilter(request->lpstrFilter),
      request->Flags,     request->lpstrDefExt ? request->lpstrDefExt : "", request->nMaxFile};
  openRequests.push_back(r);
  if (openAnswers.empty()) {
    problem("an open-file chooser opened without an answer");
    return FALSE;
  }
  std::optional<std::vector<std::string>> answer = openAnswers.front();
  openAnswers.pop_front();
  if (!answer || answer->empty()) return FALSE;
  if (answer->size() > 1 && !(request->Flags & OFN_ALLOWMULTISELECT)) {
    problem("several files chosen in a chooser that allows one");
    return FALSE;
  }
  return storeOpenFileNames(request, *answer, error) ? TRUE : FALSE;
}

std::optional<std::string> ScriptedDialogHost::browseForFolder(HWND owner, const std::string& title,
                                                               const std::string& startFolder) {
  folderRequests.push_back(FolderRequest{owner, title, startFolder});
  if (folderAnswers.empty()) {
    problem("a folder chooser opened without an answer");
    return std::nullopt;
  }
  std::optional<std::string> answer = folderAnswers.front();
  folderAnswers.pop_front();
  return answer;
}

}  // namespace platform
