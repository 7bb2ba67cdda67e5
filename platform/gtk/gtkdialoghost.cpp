#include "platform/gtk/gtkdialoghost.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

namespace platform {

struct GtkDialogHost::Control {
  const DialogControl* def = nullptr;
  GtkWidget* widget = nullptr;      // the control itself
  GtkWidget* outer = nullptr;       // what is placed, shown and hidden (a scrolled window around a list ...)
  GtkWidget* drawing = nullptr;     // colour buttons: the area WM_DRAWITEM paints
  GtkWidget* tabContent = nullptr;  // tabs: the box of the controls under the tabs, in the selected page
  GtkListStore* store = nullptr;    // list boxes
  std::vector<std::string> rows;    // list boxes: the texts as given
  std::vector<std::string> items;   // drop-down lists
  std::vector<LPARAM> itemData;
  int minimum = 0;
  int maximum = 100;
  int tickEvery = 0;
  int progressMinimum = 0;
  int progressMaximum = 100;
  int progressPosition = 0;
  bool mnemonic = false;  // its template text carries an access key
  int quiet = 0;          // > 0 while the procedure itself changes the control
};

struct GtkDialogHost::Dialog {
  HWND handle = 0;
  const DialogTemplate* tmpl = nullptr;
  DLGPROC proc = nullptr;
  GtkWidget* window = nullptr;
  GtkWidget* buttons = nullptr;
  GMainLoop* loop = nullptr;
  bool ended = false;
  bool shown = false;
  bool focusSet = false;  // the procedure chose where the focus starts
  INT_PTR result = 0;
  LONG_PTR userData = 0;
  std::map<int, Control> controls;
  std::vector<int> order;
  std::map<UINT_PTR, guint> timers;
  // What each signal handler needs to find its dialog again.
  struct Binding {
    GtkDialogHost* host;
    HWND dialog;
    int id;
  };
  std::vector<std::unique_ptr<Binding>> bindings;

  Binding* bind(GtkDialogHost* host, int id) {
    bindings.push_back(std::make_unique<Binding>(Binding{host, handle, id}));
    return bindings.back().get();
  }
};

namespace {

GtkDialogHost* started = nullptr;

// Win32 access keys ("&Help", "&&" for an ampersand) in GTK's form ("_Help").
std::string gtkMnemonic(const std::string& text, bool* has) {
  std::string out;
  bool found = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (ch == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out.push_back('&');
        ++i;
      } else {
        out.push_back('_');
        found = true;
      }
    } else if (ch == '_') {
      out += "__";
    } else {
      out.push_back(ch);
    }
  }
  if (has) *has = found;
  return found ? out : text;
}

std::string withoutMnemonic(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out.push_back('&');
        ++i;
      }
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

// GTK shows UTF-8 only; a path in another encoding is shown with its bad
// bytes replaced (the value kept by the procedure stays as it was).
std::string utf8(const std::string& text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out = valid;
  g_free(valid);
  return out;
}

GdkRGBA rgbaOf(COLORREF c) {
  GdkRGBA rgba;
  rgba.red = GetRValue(c) / 255.0;
  rgba.green = GetGValue(c) / 255.0;
  rgba.blue = GetBValue(c) / 255.0;
  rgba.alpha = 1.0;
  return rgba;
}

COLORREF colorOf(const GdkRGBA& rgba) {
  auto byte = [](double v) { return static_cast<BYTE>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
  return RGB(byte(rgba.red), byte(rgba.green), byte(rgba.blue));
}

void setAccessibleName(GtkWidget* widget, const std::string& name) {
  if (!widget || name.empty()) return;
  AtkObject* accessible = gtk_widget_get_accessible(widget);
  if (accessible) atk_object_set_name(accessible, utf8(name).c_str());
}

bool isInputKind(ControlKind kind) {
  switch (kind) {
    case ControlKind::text:
    case ControlKind::group:
    case ControlKind::progress: return false;
    default: return true;
  }
}

// Controls that take the free width of their row unless told otherwise.
bool expandsByDefault(const DialogControl& c) {
  switch (c.kind) {
    case ControlKind::trackbar:
    case ControlKind::listBox:
    case ControlKind::textBox:
    case ControlKind::progress:
    case ControlKind::tab:
    case ControlKind::group: return true;
    case ControlKind::edit: return !(c.style & ControlStyle::kDigitsOnly);
    default: return false;
  }
}

// Controls whose row takes the free height of the dialog.
bool growsTall(ControlKind kind) {
  return kind == ControlKind::listBox || kind == ControlKind::textBox || kind == ControlKind::tab;
}

// The height of one line of text in a widget's font.
int lineHeight(GtkWidget* widget) {
  PangoContext* context = gtk_widget_get_pango_context(widget);
  PangoFontMetrics* metrics = pango_context_get_metrics(context, nullptr, nullptr);
  const int h = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics));
  pango_font_metrics_unref(metrics);
  return std::max(h, 8);
}

int charWidth(GtkWidget* widget) {
  PangoContext* context = gtk_widget_get_pango_context(widget);
  PangoFontMetrics* metrics = pango_context_get_metrics(context, nullptr, nullptr);
  const int w = PANGO_PIXELS(pango_font_metrics_get_approximate_char_width(metrics));
  pango_font_metrics_unref(metrics);
  return std::max(w, 4);
}

struct Quiet {
  explicit Quiet(GtkDialogHost::Control& c) : control(c) { ++control.quiet; }
  ~Quiet() { --control.quiet; }
  GtkDialogHost::Control& control;
};

// 48 basic colours for the colour chooser: six shades of eight hues, then greys.
std::vector<GdkRGBA> basicPalette() {
  std::vector<GdkRGBA> out;
  const double hues[8] = {0, 30, 60, 120, 180, 210, 270, 320};
  const double shades[5][2] = {{0.35, 1.0}, {0.7, 1.0}, {1.0, 1.0}, {1.0, 0.7}, {1.0, 0.45}};
  for (const auto& shade : shades)
    for (double hue : hues) {
      GdkRGBA c;
      gtk_hsv_to_rgb(hue / 360.0, shade[0], shade[1], &c.red, &c.green, &c.blue);
      c.alpha = 1.0;
      out.push_back(c);
    }
  for (int i = 0; i < 8; ++i) {
    const double v = i / 7.0;
    out.push_back(GdkRGBA{v, v, v, 1.0});
  }
  return out;
}

}  // namespace

// ---- signal handlers ------------------------------------------------------------------

namespace {

using Binding = GtkDialogHost::Dialog::Binding;

void deliverCommand(Binding* b, WORD notification);

// A push button reports from the main loop, not from inside whatever
// pressed it: an accessibility client's "click" arrives inside the bus's
// dispatch, which a nested dialog opened from the handler would block.
void onClicked(GtkButton*, gpointer data) {
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer p) -> gboolean {
        deliverCommand(static_cast<Binding*>(p), BN_CLICKED);
        return G_SOURCE_REMOVE;
      },
      new Binding(*static_cast<Binding*>(data)), [](gpointer p) { delete static_cast<Binding*>(p); });
}

void onToggleClicked(GtkButton* button, gpointer data) {
  auto* b = static_cast<Binding*>(data);
  // A radio button that a click elsewhere in its group turned off reports nothing.
  if (GTK_IS_RADIO_BUTTON(button) && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button))) return;
  deliverCommand(b, BN_CLICKED);
}

void onEditChanged(GtkEditable*, gpointer data) { deliverCommand(static_cast<Binding*>(data), EN_CHANGE); }

void onComboChanged(GtkComboBox*, gpointer data) { deliverCommand(static_cast<Binding*>(data), CBN_SELCHANGE); }

void onSelectionChanged(GtkTreeSelection*, gpointer data) {
  deliverCommand(static_cast<Binding*>(data), LBN_SELCHANGE);
}

// Digits only: every other character typed or pasted is dropped.
void onInsertDigits(GtkEditable* editable, const gchar* text, gint length, gint* position, gpointer) {
  std::string digits;
  const size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
  for (size_t i = 0; i < n; ++i)
    if (text[i] >= '0' && text[i] <= '9') digits.push_back(text[i]);
  if (digits.size() == n) return;
  g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(onInsertDigits), nullptr);
  gtk_editable_insert_text(editable, digits.c_str(), static_cast<gint>(digits.size()), position);
  g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(onInsertDigits), nullptr);
  g_signal_stop_emission_by_name(editable, "insert-text");
}

}  // namespace

// The host's side of the handlers (they need its private parts).
struct GtkHostAccess {
  static GtkDialogHost::Dialog* find(GtkDialogHost* host, HWND dialog) { return host->find(dialog); }
  static void command(Binding* b, WORD notification) {
    GtkDialogHost::Dialog* d = b->host->find(b->dialog);
    if (!d || d->ended) return;
    auto it = d->controls.find(b->id);
    if (it != d->controls.end() && it->second.quiet > 0) return;
    d->proc(d->handle, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(b->id), notification), 0);
  }
  static void send(GtkDialogHost* host, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    GtkDialogHost::Dialog* d = host->find(dialog);
    if (!d || d->ended) return;
    d->proc(d->handle, message, wParam, lParam);
  }
  static std::map<HDC, cairo_t*>& drawing(GtkDialogHost* host) { return host->drawing_; }
  static HDC nextDc(GtkDialogHost* host) { return host->nextDc_++; }
};

namespace {

void deliverCommand(Binding* b, WORD notification) { GtkHostAccess::command(b, notification); }

gboolean onDrawColour(GtkWidget* area, cairo_t* cr, gpointer data) {
  auto* b = static_cast<Binding*>(data);
  GtkDialogHost::Dialog* d = GtkHostAccess::find(b->host, b->dialog);
  if (!d || d->ended) return FALSE;
  DRAWITEMSTRUCT item;
  item.CtlID = static_cast<UINT>(b->id);
  item.hwndItem = d->handle;
  item.hDC = GtkHostAccess::nextDc(b->host);
  item.rcItem = RECT{0, 0, gtk_widget_get_allocated_width(area), gtk_widget_get_allocated_height(area)};
  GtkHostAccess::drawing(b->host)[item.hDC] = cr;
  d->proc(d->handle, WM_DRAWITEM, static_cast<WPARAM>(b->id), reinterpret_cast<LPARAM>(&item));
  GtkHostAccess::drawing(b->host).erase(item.hDC);
  return TRUE;
}

// The controls below a tab strip live in the selected page.
void onSwitchPage(GtkNotebook*, GtkWidget* page, guint, gpointer data) {
  auto* b = static_cast<Binding*>(data);
  GtkDialogHost::Dialog* d = GtkHostAccess::find(b->host, b->dialog);
  if (!d) return;
  GtkWidget* content = d->controls.at(b->id).tabContent;
  if (!content) return;
  GtkWidget* parent = gtk_widget_get_parent(content);
  if (parent == page) return;
  g_object_ref(content);
  if (parent) gtk_container_remove(GTK_CONTAINER(parent), content);
  gtk_container_add(GTK_CONTAINER(page), content);
  g_object_unref(content);
}

void onPageSwitched(GtkNotebook*, GtkWidget*, guint, gpointer data) {
  auto* b = static_cast<Binding*>(data);
  GtkDialogHost::Dialog* d = GtkHostAccess::find(b->host, b->dialog);
  if (!d || d->ended || d->controls.at(b->id).quiet > 0) return;
  NMHDR header;
  header.hwndFrom = d->handle;
  header.idFrom = static_cast<UINT_PTR>(b->id);
  header.code = TCN_SELCHANGE;
  d->proc(d->handle, WM_NOTIFY, static_cast<WPARAM>(b->id), reinterpret_cast<LPARAM>(&header));
}

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
  auto* b = static_cast<Binding*>(data);
  GtkDialogHost::Dialog* d = GtkHostAccess::find(b->host, b->dialog);
  if (d && !d->ended) {
    auto cancel = d->controls.find(IDCANCEL);
    if (cancel == d->controls.end() || gtk_widget_get_sensitive(cancel->second.widget))
      d->proc(d->handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
  return TRUE;  // the procedure decides whether the dialog ends
}

int defaultButtonOf(const GtkDialogHost::Dialog& d) {
  for (int id : d.order)
    if (d.controls.at(id).def->style & ControlStyle::kDefaultButton) return id;
  return IDOK;
}

gboolean onKey(GtkWidget* window, GdkEventKey* event, gpointer data) {
  auto* b = static_cast<Binding*>(data);
  GtkDialogHost::Dialog* d = GtkHostAccess::find(b->host, b->dialog);
  if (!d || d->ended) return FALSE;
  const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
  if (event->keyval == GDK_KEY_Escape && modifiers == 0) {
    auto cancel = d->controls.find(IDCANCEL);
    if (cancel == d->controls.end() || gtk_widget_get_sensitive(cancel->second.widget))
      d->proc(d->handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return TRUE;
  }
  if ((event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter || event->keyval == GDK_KEY_ISO_Enter) &&
      (modifiers & ~GDK_SHIFT_MASK) == 0) {
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    // A focused push button takes Enter itself, and so does a text of many lines.
    if (focus && ((GTK_IS_BUTTON(focus) && !GTK_IS_TOGGLE_BUTTON(focus)) || GTK_IS_TEXT_VIEW(focus))) return FALSE;
    const int target = defaultButtonOf(*d);
    auto it = d->controls.find(target);
    if (it != d->controls.end()) {
      GtkWidget* button = it->second.widget;
      if (gtk_widget_is_sensitive(button) && gtk_widget_get_visible(it->second.outer)) gtk_widget_activate(button);
    } else {
      d->proc(d->handle, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return TRUE;
  }
  return FALSE;
}

struct PostedMessage {
  GtkDialogHost* host;
  HWND dialog;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

gboolean onPosted(gpointer data) {
  auto* p = static_cast<PostedMessage*>(data);
  GtkHostAccess::send(p->host, p->dialog, p->message, p->wParam, p->lParam);
  return G_SOURCE_REMOVE;
}

struct TimerTick {
  GtkDialogHost* host;
  HWND dialog;
  UINT_PTR id;
};

gboolean onTimer(gpointer data) {
  auto* t = static_cast<TimerTick*>(data);
  GtkHostAccess::send(t->host, t->dialog, WM_TIMER, t->id, 0);
  return G_SOURCE_CONTINUE;
}

// The shown hook runs once the dialog has been drawn: from an idle after the
// first draw, so that the hook sees it as a user does.
gboolean onFirstDrawIdle(gpointer data);

gboolean onWindowDraw(GtkWidget* window, cairo_t*, gpointer data) {
  auto* b = static_cast<Binding*>(data);
  g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(onWindowDraw), data);
  g_idle_add_full(G_PRIORITY_LOW, onFirstDrawIdle, new Binding(*b),
                  [](gpointer p) { delete static_cast<Binding*>(p); });
  return FALSE;
}

}  // namespace

struct GtkShownAccess {
  static void shown(Binding* b) {
    GtkDialogHost::Dialog* d = b->host->find(b->dialog);
    if (!d || d->ended || d->shown) return;
    d->shown = true;
    if (b->host->onShown) b->host->onShown(d->handle, *d->tmpl);
  }
};

namespace {
gboolean onFirstDrawIdle(gpointer data) {
  GtkShownAccess::shown(static_cast<Binding*>(data));
  return G_SOURCE_REMOVE;
}
}  // namespace

// ---- the host -----------------------------------------------------------------------------

GtkDialogHost::GtkDialogHost() = default;

GtkDialogHost::~GtkDialogHost() = default;

GtkDialogHost::Dialog* GtkDialogHost::find(HWND dialog) const {
  auto it = dialogs_.find(dialog);
  return it == dialogs_.end() ? nullptr : it->second.get();
}

GtkDialogHost::Control* GtkDialogHost::control(HWND dialog, int id) const {
  Dialog* d = find(dialog);
  if (!d) return nullptr;
  auto it = d->controls.find(id);
  return it == d->controls.end() ? nullptr : &it->second;
}

GtkDialogHost::Control* GtkDialogHost::controlOfKind(HWND dialog, int id, ControlKind kind) const {
  Control* c = control(dialog, id);
  return c && c->def->kind == kind ? c : nullptr;
}

GtkWindow* GtkDialogHost::ownerWindow(HWND owner) const {
  if (Dialog* d = find(owner)) return GTK_WINDOW(d->window);
  // Otherwise the innermost open dialog, so that a box never hides behind it.
  Dialog* innermost = nullptr;
  for (const auto& entry : dialogs_)
    if (!entry.second->ended && (!innermost || entry.first > innermost->handle)) innermost = entry.second.get();
  return innermost ? GTK_WINDOW(innermost->window) : nullptr;
}

GtkWidget* GtkDialogHost::window(HWND dialog) const {
  Dialog* d = find(dialog);
  return d ? d->window : nullptr;
}

GtkWidget* GtkDialogHost::widget(HWND dialog, int id) const {
  Control* c = control(dialog, id);
  return c ? c->widget : nullptr;
}

int GtkDialogHost::controlOf(HWND dialog, GtkWidget* w) const {
  Dialog* d = find(dialog);
  if (!d || !w) return IDC_STATIC;
  // The innermost control that holds the widget (a check box, not its frame).
  for (GtkWidget* p = w; p; p = gtk_widget_get_parent(p))
    for (int id : d->order)
      if (d->controls.at(id).widget == p || d->controls.at(id).outer == p) return id;
  return IDC_STATIC;
}

void GtkDialogHost::build(Dialog& d) {
  const DialogTemplate& t = *d.tmpl;
  d.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(d.window);
  gtk_window_set_title(window, utf8(t.caption).c_str());
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_modal(window, TRUE);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);

  GtkWidget* root = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(root), 12);
  gtk_container_add(GTK_CONTAINER(window), root);
  GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_box_pack_start(GTK_BOX(root), content, TRUE, TRUE, 0);
  d.buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_button_box_set_layout(GTK_BUTTON_BOX(d.buttons), GTK_BUTTONBOX_END);
  gtk_box_set_spacing(GTK_BOX(d.buttons), 6);
  gtk_box_pack_start(GTK_BOX(root), d.buttons, FALSE, FALSE, 0);

  std::map<int, GtkWidget*> boxes{{0, content}};
  std::map<int, GtkWidget*> lastRow;
  std::map<int, GtkWidget*> lastRadio;  // per container: the radio button placed last, if the last control was one
  std::map<int, std::string> groupTexts;
  GtkWidget* pendingLabel = nullptr;
  bool anyButtons = false;

  for (size_t index = 0; index < t.controls.size(); ++index) {
    const DialogControl& def = t.controls[index];
    const bool nextSameRow = index + 1 < t.controls.size() && (t.controls[index + 1].style & ControlStyle::kSameRow) &&
                             t.controls[index + 1].group == def.group;
    Control c;
    c.def = &def;
    bool mnemonic = false;
    const std::string label = utf8(gtkMnemonic(def.text, &mnemonic));
    c.mnemonic = mnemonic;
    Dialog::Binding* binding = d.bind(this, def.id);
    GtkWidget* w = nullptr;
    GtkWidget* outer = nullptr;

    switch (def.kind) {
      case ControlKind::text: {
        w = mnemonic ? gtk_label_new_with_mnemonic(label.c_str()) : gtk_label_new(label.c_str());
        gtk_label_set_xalign(GTK_LABEL(w), 0.0f);
        // A text alone on its row wraps; one beside other controls keeps to one line.
        if (!(def.style & ControlStyle::kNoWrap) && !(def.style & ControlStyle::kSameRow) && !nextSameRow) {
          gtk_label_set_line_wrap(GTK_LABEL(w), TRUE);
          gtk_label_set_line_wrap_mode(GTK_LABEL(w), PANGO_WRAP_WORD_CHAR);
          gtk_label_set_max_width_chars(GTK_LABEL(w), 60);
        }
        if (def.style & ControlStyle::kLabelsNext) pendingLabel = w;
        break;
      }
      case ControlKind::group: {
        w = gtk_frame_new(nullptr);
        if (!def.text.empty()) {
          GtkWidget* title = gtk_label_new(nullptr);
          gchar* markup = g_markup_printf_escaped("<b>%s</b>", utf8(withoutMnemonic(def.text)).c_str());
          gtk_label_set_markup(GTK_LABEL(title), markup);
          g_free(markup);
          gtk_frame_set_label_widget(GTK_FRAME(w), title);
        }
        GtkWidget* inner = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
        gtk_container_set_border_width(GTK_CONTAINER(inner), 8);
        gtk_container_add(GTK_CONTAINER(w), inner);
        boxes[def.id] = inner;
        groupTexts[def.id] = withoutMnemonic(def.text);
        break;
      }
      case ControlKind::pushButton:
        w = mnemonic ? gtk_button_new_with_mnemonic(label.c_str()) : gtk_button_new_with_label(label.c_str());
        g_signal_connect(w, "clicked", G_CALLBACK(onClicked), binding);
        break;
      case ControlKind::checkBox:
        w = mnemonic ? gtk_check_button_new_with_mnemonic(label.c_str())
                     : gtk_check_button_new_with_label(label.c_str());
        g_signal_connect(w, "clicked", G_CALLBACK(onToggleClicked), binding);
        break;
      case ControlKind::radioButton: {
        GtkRadioButton* previous = lastRadio.count(def.group) ? GTK_RADIO_BUTTON(lastRadio[def.group]) : nullptr;
        w = mnemonic ? gtk_radio_button_new_with_mnemonic_from_widget(previous, label.c_str())
                     : gtk_radio_button_new_with_label_from_widget(previous, label.c_str());
        g_signal_connect(w, "clicked", G_CALLBACK(onToggleClicked), binding);
        break;
      }
      case ControlKind::edit:
        w = gtk_entry_new();
        gtk_entry_set_text(GTK_ENTRY(w), utf8(def.text).c_str());
        gtk_entry_set_activates_default(GTK_ENTRY(w), TRUE);
        if (def.maxLength > 0) gtk_entry_set_max_length(GTK_ENTRY(w), def.maxLength);
        if (def.style & ControlStyle::kDigitsOnly) {
          gtk_entry_set_input_purpose(GTK_ENTRY(w), GTK_INPUT_PURPOSE_DIGITS);
          gtk_entry_set_width_chars(GTK_ENTRY(w), 8);
          g_signal_connect(w, "insert-text", G_CALLBACK(onInsertDigits), nullptr);
        } else {
          gtk_entry_set_width_chars(GTK_ENTRY(w), 32);
        }
        g_signal_connect(w, "changed", G_CALLBACK(onEditChanged), binding);
        break;
      case ControlKind::textBox: {
        w = gtk_text_view_new();
        gtk_text_view_set_editable(GTK_TEXT_VIEW(w), FALSE);
        gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(w), FALSE);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(w), GTK_WRAP_WORD_CHAR);
        gtk_text_view_set_left_margin(GTK_TEXT_VIEW(w), 6);
        gtk_text_view_set_right_margin(GTK_TEXT_VIEW(w), 6);
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(w)), utf8(def.text).c_str(), -1);
        outer = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(outer), GTK_SHADOW_IN);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(outer), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
        gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(outer), 12 * lineHeight(w));
        gtk_container_add(GTK_CONTAINER(outer), w);
        break;
      }
      case ControlKind::dropDownList:
        w = gtk_combo_box_text_new();
        g_signal_connect(w, "changed", G_CALLBACK(onComboChanged), binding);
        break;
      case ControlKind::listBox: {
        c.store = gtk_list_store_new(1, G_TYPE_STRING);
        w = gtk_tree_view_new_with_model(GTK_TREE_MODEL(c.store));
        g_object_unref(c.store);  // the view holds it
        gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(w), FALSE);
        gtk_tree_view_set_enable_search(GTK_TREE_VIEW(w), FALSE);
        GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
        GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes("", renderer, "text", 0, nullptr);
        gtk_tree_view_append_column(GTK_TREE_VIEW(w), column);
        GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(w));
        gtk_tree_selection_set_mode(selection, GTK_SELECTION_MULTIPLE);
        g_signal_connect(selection, "changed", G_CALLBACK(onSelectionChanged), binding);
        outer = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(outer), GTK_SHADOW_IN);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(outer), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
        gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(outer), 6 * (lineHeight(w) + 6));
        gtk_scrolled_window_set_min_content_width(GTK_SCROLLED_WINDOW(outer), 40 * charWidth(w));
        gtk_container_add(GTK_CONTAINER(outer), w);
        break;
      }
      case ControlKind::trackbar:
        w = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 100, 1);
        gtk_scale_set_draw_value(GTK_SCALE(w), FALSE);
        gtk_range_set_round_digits(GTK_RANGE(w), 0);
        gtk_widget_set_size_request(w, 24 * charWidth(w), -1);
        break;
      case ControlKind::tab: {
        w = gtk_notebook_new();
        gtk_notebook_set_scrollable(GTK_NOTEBOOK(w), TRUE);
        c.tabContent = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
        g_object_ref_sink(c.tabContent);
        gtk_container_set_border_width(GTK_CONTAINER(c.tabContent), 10);
        boxes[def.id] = c.tabContent;
        g_signal_connect(w, "switch-page", G_CALLBACK(onSwitchPage), binding);
        g_signal_connect_after(w, "switch-page", G_CALLBACK(onPageSwitched), binding);
        break;
      }
      case ControlKind::progress:
        w = gtk_progress_bar_new();
        gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(w), TRUE);
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(w), "0 %");
        break;
      case ControlKind::colorButton: {
        w = gtk_button_new();
        c.drawing = gtk_drawing_area_new();
        gtk_widget_set_size_request(c.drawing, 6 * charWidth(w), lineHeight(w));
        gtk_container_add(GTK_CONTAINER(w), c.drawing);
        g_signal_connect(c.drawing, "draw", G_CALLBACK(onDrawColour), binding);
        g_signal_connect(w, "clicked", G_CALLBACK(onClicked), binding);
        break;
      }
    }
    if (!outer) outer = w;
    c.widget = w;
    c.outer = outer;

    // Where it goes: the row of buttons, or a row of its container.
    const bool inButtonRow = def.style & ControlStyle::kButtonRow;
    if (inButtonRow) {
      gtk_container_add(GTK_CONTAINER(d.buttons), outer);
      anyButtons = true;
    } else {
      GtkWidget* box = boxes.count(def.group) ? boxes[def.group] : content;
      GtkWidget* row = nullptr;
      if ((def.style & ControlStyle::kSameRow) && lastRow.count(def.group)) {
        row = lastRow[def.group];
      } else {
        row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
        gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
        lastRow[def.group] = row;
      }
      const bool expand = (def.style & ControlStyle::kExpand) || expandsByDefault(def);
      gtk_box_pack_start(GTK_BOX(row), outer, expand, TRUE, 0);
      if (!expand) gtk_widget_set_valign(outer, GTK_ALIGN_CENTER);
      if (growsTall(def.kind)) gtk_box_set_child_packing(GTK_BOX(box), row, TRUE, TRUE, 0, GTK_PACK_START);
    }
    lastRadio.erase(def.group);
    if (def.kind == ControlKind::radioButton) lastRadio[def.group] = w;

    if (def.style & ControlStyle::kHidden) gtk_widget_set_no_show_all(outer, TRUE);
    if (def.style & ControlStyle::kDisabled) gtk_widget_set_sensitive(outer, FALSE);

    // Names for assistive technology: a label before it, its own text, or its group's.
    if (pendingLabel && pendingLabel != w && isInputKind(def.kind)) {
      gtk_label_set_mnemonic_widget(GTK_LABEL(pendingLabel), w);
      pendingLabel = nullptr;
    }
    if (!def.accessibleName.empty()) {
      setAccessibleName(w, def.accessibleName);
    } else if (def.text.empty() && isInputKind(def.kind) && groupTexts.count(def.group)) {
      setAccessibleName(w, groupTexts[def.group]);
    }
    if (!def.accessibleName.empty()) gtk_widget_set_tooltip_text(w, utf8(def.accessibleName).c_str());

    if (def.id == IDC_STATIC || d.controls.count(def.id)) {
      // Plain texts need no handle; they stay in the layout only.
      continue;
    }
    d.controls.emplace(def.id, c);
    d.order.push_back(def.id);
  }
  if (!anyButtons) gtk_widget_set_no_show_all(d.buttons, TRUE);

  const int defaultId = defaultButtonOf(d);
  auto it = d.controls.find(defaultId);
  if (it != d.controls.end() && GTK_IS_BUTTON(it->second.widget)) {
    gtk_widget_set_can_default(it->second.widget, TRUE);
    gtk_window_set_default(window, it->second.widget);
  }

  // The template's width, in dialog units of this font, is the least width;
  // the dialog grows past it when its controls need.
  if (t.width > 0) gtk_widget_set_size_request(root, t.width * charWidth(d.window) / 4, -1);

  Dialog::Binding* self = d.bind(this, 0);
  g_signal_connect(d.window, "key-press-event", G_CALLBACK(onKey), self);
  g_signal_connect(d.window, "delete-event", G_CALLBACK(onDelete), self);
  g_signal_connect(d.window, "draw", G_CALLBACK(onWindowDraw), self);
}

INT_PTR GtkDialogHost::dialogBox(const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param) {
  auto made = std::make_unique<Dialog>();
  Dialog& d = *made;
  d.handle = nextHandle_++;
  d.tmpl = &dialog;
  d.proc = proc;
  GtkWindow* parent = ownerWindow(owner);
  dialogs_[d.handle] = std::move(made);
  build(d);
  if (parent) {
    gtk_window_set_transient_for(GTK_WINDOW(d.window), parent);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(d.window), TRUE);
  } else {
    gtk_window_set_position(GTK_WINDOW(d.window), GTK_WIN_POS_CENTER);
  }

  d.proc(d.handle, WM_INITDIALOG, 0, param);
  if (!d.ended) {
    gtk_widget_show_all(d.window);
    if (!d.focusSet) focusFirst(d);
    gtk_window_present(GTK_WINDOW(d.window));
    d.loop = g_main_loop_new(nullptr, FALSE);
    if (!d.ended) g_main_loop_run(d.loop);
    g_main_loop_unref(d.loop);
    d.loop = nullptr;
  }
  const INT_PTR result = d.result;
  for (auto& timer : d.timers) g_source_remove(timer.second);
  d.timers.clear();
  for (auto& entry : d.controls)
    if (entry.second.tabContent) {
      GtkWidget* content = entry.second.tabContent;
      entry.second.tabContent = nullptr;
      g_object_unref(content);
    }
  gtk_widget_destroy(d.window);
  d.window = nullptr;
  const HWND handle = d.handle;
  dialogs_.erase(handle);
  // Let the owner redraw before its procedure goes on.
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  return result;
}

BOOL GtkDialogHost::endDialog(HWND dialog, INT_PTR result) {
  Dialog* d = find(dialog);
  if (!d) return FALSE;
  d->ended = true;
  d->result = result;
  if (d->loop) g_main_loop_quit(d->loop);
  return TRUE;
}

BOOL GtkDialogHost::setCaption(HWND dialog, const std::string& text) {
  Dialog* d = find(dialog);
  if (!d) return FALSE;
  gtk_window_set_title(GTK_WINDOW(d->window), utf8(text).c_str());
  return TRUE;
}

BOOL GtkDialogHost::setIcon(HWND dialog, HICON icon) {
  Dialog* d = find(dialog);
  if (!d) return FALSE;
  const std::string name = iconName(icon);
  if (!name.empty()) gtk_window_set_icon_name(GTK_WINDOW(d->window), name.c_str());
  return TRUE;
}

BOOL GtkDialogHost::centre(HWND dialog) {
  Dialog* d = find(dialog);
  if (!d) return FALSE;
  gtk_window_set_position(GTK_WINDOW(d->window), GTK_WIN_POS_CENTER);
  if (gtk_widget_get_mapped(d->window)) {
    GdkDisplay* display = gtk_widget_get_display(d->window);
    GdkMonitor* monitor = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(d->window));
    if (monitor) {
      GdkRectangle area;
      gdk_monitor_get_workarea(monitor, &area);
      int w = 0, h = 0;
      gtk_window_get_size(GTK_WINDOW(d->window), &w, &h);
      gtk_window_move(GTK_WINDOW(d->window), area.x + (area.width - w) / 2, area.y + (area.height - h) / 2);
    }
  }
  return TRUE;
}

BOOL GtkDialogHost::setTopmost(HWND dialog, bool topmost) {
  Dialog* d = find(dialog);
  if (!d) return FALSE;
  gtk_window_set_keep_above(GTK_WINDOW(d->window), topmost);
  return TRUE;
}

LONG_PTR GtkDialogHost::setUserData(HWND dialog, LONG_PTR value) {
  Dialog* d = find(dialog);
  if (!d) return 0;
  const LONG_PTR old = d->userData;
  d->userData = value;
  return old;
}

LONG_PTR GtkDialogHost::userData(HWND dialog) {
  Dialog* d = find(dialog);
  return d ? d->userData : 0;
}

BOOL GtkDialogHost::postMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  // Any thread.  Below redrawing in priority, so that a busy worker never
  // keeps the dialog from painting.
  g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, onPosted, new PostedMessage{this, dialog, message, wParam, lParam},
                  [](gpointer p) { delete static_cast<PostedMessage*>(p); });
  return TRUE;
}

UINT_PTR GtkDialogHost::setTimer(HWND dialog, UINT_PTR id, UINT milliseconds) {
  Dialog* d = find(dialog);
  if (!d) return 0;
  killTimer(dialog, id);
  d->timers[id] =
      g_timeout_add_full(G_PRIORITY_DEFAULT, std::max<UINT>(milliseconds, 1), onTimer, new TimerTick{this, dialog, id},
                         [](gpointer p) { delete static_cast<TimerTick*>(p); });
  return id;
}

BOOL GtkDialogHost::killTimer(HWND dialog, UINT_PTR id) {
  Dialog* d = find(dialog);
  if (!d) return FALSE;
  auto it = d->timers.find(id);
  if (it == d->timers.end()) return FALSE;
  g_source_remove(it->second);
  d->timers.erase(it);
  return TRUE;
}

BOOL GtkDialogHost::hasControl(HWND dialog, int id) { return control(dialog, id) != nullptr; }

BOOL GtkDialogHost::setText(HWND dialog, int id, const std::string& text) {
  Control* c = control(dialog, id);
  if (!c) return FALSE;
  Quiet quiet(*c);
  const std::string shown = utf8(c->mnemonic ? gtkMnemonic(text, nullptr) : text);
  switch (c->def->kind) {
    case ControlKind::text:
      if (c->mnemonic)
        gtk_label_set_text_with_mnemonic(GTK_LABEL(c->widget), shown.c_str());
      else
        gtk_label_set_text(GTK_LABEL(c->widget), shown.c_str());
      break;
    case ControlKind::group: {
      GtkWidget* title = gtk_frame_get_label_widget(GTK_FRAME(c->widget));
      if (title && GTK_IS_LABEL(title)) gtk_label_set_text(GTK_LABEL(title), utf8(withoutMnemonic(text)).c_str());
      break;
    }
    case ControlKind::pushButton:
    case ControlKind::checkBox:
    case ControlKind::radioButton:
      gtk_button_set_label(GTK_BUTTON(c->widget), shown.c_str());
      gtk_button_set_use_underline(GTK_BUTTON(c->widget), c->mnemonic);
      break;
    case ControlKind::edit: gtk_entry_set_text(GTK_ENTRY(c->widget), utf8(text).c_str()); break;
    case ControlKind::textBox:
      gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->widget)), utf8(text).c_str(), -1);
      break;
    case ControlKind::progress: gtk_progress_bar_set_text(GTK_PROGRESS_BAR(c->widget), utf8(text).c_str()); break;
    default: return FALSE;
  }
  return TRUE;
}

std::optional<std::string> GtkDialogHost::text(HWND dialog, int id) {
  Control* c = control(dialog, id);
  if (!c) return std::nullopt;
  switch (c->def->kind) {
    case ControlKind::text: {
      std::string t = gtk_label_get_label(GTK_LABEL(c->widget));
      if (!c->mnemonic) return t;
      // Back to the Win32 form the procedure gave.
      std::string out;
      for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '_' && i + 1 < t.size() && t[i + 1] == '_') {
          out.push_back('_');
          ++i;
        } else if (t[i] == '_') {
          out.push_back('&');
        } else if (t[i] == '&') {
          out += "&&";
        } else {
          out.push_back(t[i]);
        }
      }
      return out;
    }
    case ControlKind::pushButton:
    case ControlKind::checkBox:
    case ControlKind::radioButton: {
      const gchar* l = gtk_button_get_label(GTK_BUTTON(c->widget));
      return l ? withoutMnemonic(l) : std::string();
    }
    case ControlKind::edit: return std::string(gtk_entry_get_text(GTK_ENTRY(c->widget)));
    case ControlKind::textBox: {
      GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->widget));
      GtkTextIter start, end;
      gtk_text_buffer_get_bounds(buffer, &start, &end);
      gchar* all = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
      std::string out = all;
      g_free(all);
      return out;
    }
    case ControlKind::dropDownList: {
      const int i = gtk_combo_box_get_active(GTK_COMBO_BOX(c->widget));
      return i >= 0 && static_cast<size_t>(i) < c->items.size() ? c->items[static_cast<size_t>(i)] : std::string();
    }
    default: return c->def->text;
  }
}

BOOL GtkDialogHost::enable(HWND dialog, int id, bool enabled) {
  Control* c = control(dialog, id);
  if (!c) return FALSE;
  gtk_widget_set_sensitive(c->outer, enabled);
  return TRUE;
}

BOOL GtkDialogHost::isEnabled(HWND dialog, int id) {
  Control* c = control(dialog, id);
  return c && gtk_widget_get_sensitive(c->outer);
}

BOOL GtkDialogHost::show(HWND dialog, int id, bool visible) {
  Control* c = control(dialog, id);
  if (!c) return FALSE;
  gtk_widget_set_no_show_all(c->outer, !visible);
  if (visible)
    gtk_widget_show_all(c->outer);
  else
    gtk_widget_hide(c->outer);
  return TRUE;
}

BOOL GtkDialogHost::isVisible(HWND dialog, int id) {
  Control* c = control(dialog, id);
  return c && !gtk_widget_get_no_show_all(c->outer);
}

BOOL GtkDialogHost::setFocus(HWND dialog, int id) {
  Control* c = control(dialog, id);
  if (!c) return FALSE;
  find(dialog)->focusSet = true;
  gtk_widget_grab_focus(c->widget);
  return TRUE;
}

void GtkDialogHost::focusFirst(Dialog& d) {
  // The first control one can set, so that Enter confirms rather than
  // pressing whatever button comes first; with none, the default button.
  for (int id : d.order) {
    const Control& c = d.controls.at(id);
    const ControlKind kind = c.def->kind;
    if (kind == ControlKind::pushButton || kind == ControlKind::colorButton || !isInputKind(kind)) continue;
    if (kind == ControlKind::radioButton && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c.widget))) continue;
    if (!gtk_widget_get_can_focus(c.widget) || !gtk_widget_is_sensitive(c.widget) || !gtk_widget_is_visible(c.widget))
      continue;
    gtk_widget_grab_focus(c.widget);
    return;
  }
  auto it = d.controls.find(defaultButtonOf(d));
  if (it != d.controls.end() && gtk_widget_is_sensitive(it->second.widget)) gtk_widget_grab_focus(it->second.widget);
}

BOOL GtkDialogHost::redraw(HWND dialog, int id) {
  Control* c = control(dialog, id);
  if (!c) return FALSE;
  gtk_widget_queue_draw(c->drawing ? c->drawing : c->widget);
  return TRUE;
}

BOOL GtkDialogHost::setCheck(HWND dialog, int id, UINT state) {
  Control* c = control(dialog, id);
  if (!c || !GTK_IS_TOGGLE_BUTTON(c->widget)) return FALSE;
  Dialog* d = find(dialog);
  // A radio button turned on turns its neighbours off: none of them reports it.
  std::vector<std::unique_ptr<Quiet>> quiet;
  for (auto& entry : d->controls)
    if (entry.second.def->kind == ControlKind::radioButton || &entry.second == c)
      quiet.push_back(std::make_unique<Quiet>(entry.second));
  const bool on = state == BST_CHECKED;
  if (c->def->kind == ControlKind::radioButton && !on) {
    // GTK keeps one radio button of a group on; turning one off is done by
    // turning another on, which the procedure does next.
    return TRUE;
  }
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->widget), on);
  return TRUE;
}

UINT GtkDialogHost::check(HWND dialog, int id) {
  Control* c = control(dialog, id);
  if (!c || !GTK_IS_TOGGLE_BUTTON(c->widget)) return BST_UNCHECKED;
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->widget)) ? BST_CHECKED : BST_UNCHECKED;
}

BOOL GtkDialogHost::comboReset(HWND dialog, int id) {
  Control* c = controlOfKind(dialog, id, ControlKind::dropDownList);
  if (!c) return FALSE;
  Quiet quiet(*c);
  gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(c->widget));
  c->items.clear();
  c->itemData.clear();
  return TRUE;
}

int GtkDialogHost::comboAdd(HWND dialog, int id, const std::string& text) {
  Control* c = controlOfKind(dialog, id, ControlKind::dropDownList);
  if (!c) return CB_ERR;
  Quiet quiet(*c);
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(c->widget), utf8(text).c_str());
  c->items.push_back(text);
  c->itemData.push_back(0);
  return static_cast<int>(c->items.size()) - 1;
}

int GtkDialogHost::comboCount(HWND dialog, int id) {
  Control* c = controlOfKind(dialog, id, ControlKind::dropDownList);
  return c ? static_cast<int>(c->items.size()) : CB_ERR;
}

BOOL GtkDialogHost::comboSetData(HWND dialog, int id, int index, LPARAM data) {
  Control* c = controlOfKind(dialog, id, ControlKind::dropDownList);
  if (!c || index < 0 || static_cast<size_t>(index) >= c->itemData.size()) return FALSE;
  c->itemData[static_cast<size_t>(index)] = data;
  return TRUE;
}

LPARAM GtkDialogHost::comboData(HWND dialog, int id, int index) {
  Control* c = controlOfKind(dialog, id, ControlKind::dropDownList);
  if (!c || index < 0 || static_cast<size_t>(index) >= c->itemData.size()) return CB_ERR;
  return c->itemData[static_cast<size_t>(index)];
}

BOOL GtkDialogHost::comboSetSelection(HWND dialog, int id, int index) {
  Control* c = controlOfKind(dialog, id, ControlKind::dropDownList);
  if (!c) return FALSE;
  Quiet quiet(*c);
  if (index < 0 || static_cast<size_t>(index) >= c->items.size()) {
    gtk_combo_box_set_active(GTK_COMBO_BOX(c->widget), -1);
    return index == -1;
  }
  gtk_combo_box_set_active(GTK_COMBO_BOX(c->widget), index);
  return TRUE;
}

int GtkDialogHost::comboSelection(HWND dialog, int id) {
  Control* c = controlOfKind(dialog, id, ControlKind::dropDownList);
  return c ? gtk_combo_box_get_active(GTK_COMBO_BOX(c->widget)) : CB_ERR;
}

BOOL GtkDialogHost::listReset(HWND dialog, int id) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c) return FALSE;
  Quiet quiet(*c);
  gtk_list_store_clear(c->store);
  c->rows.clear();
  return TRUE;
}

int GtkDialogHost::listInsert(HWND dialog, int id, int index, const std::string& text) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c) return LB_ERR;
  if (index < 0) index = static_cast<int>(c->rows.size());
  if (static_cast<size_t>(index) > c->rows.size()) return LB_ERR;
  Quiet quiet(*c);
  GtkTreeIter iter;
  gtk_list_store_insert_with_values(c->store, &iter, index, 0, utf8(text).c_str(), -1);
  c->rows.insert(c->rows.begin() + index, text);
  return index;
}

int GtkDialogHost::listDelete(HWND dialog, int id, int index) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c || index < 0 || static_cast<size_t>(index) >= c->rows.size()) return LB_ERR;
  Quiet quiet(*c);
  GtkTreeIter iter;
  if (gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(c->store), &iter, nullptr, index))
    gtk_list_store_remove(c->store, &iter);
  c->rows.erase(c->rows.begin() + index);
  return static_cast<int>(c->rows.size());
}

BOOL GtkDialogHost::listSetText(HWND dialog, int id, int index, const std::string& text) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c || index < 0 || static_cast<size_t>(index) >= c->rows.size()) return FALSE;
  GtkTreeIter iter;
  if (!gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(c->store), &iter, nullptr, index)) return FALSE;
  gtk_list_store_set(c->store, &iter, 0, utf8(text).c_str(), -1);
  c->rows[static_cast<size_t>(index)] = text;
  return TRUE;
}

int GtkDialogHost::listCount(HWND dialog, int id) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  return c ? static_cast<int>(c->rows.size()) : LB_ERR;
}

std::optional<std::string> GtkDialogHost::listText(HWND dialog, int id, int index) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c || index < 0 || static_cast<size_t>(index) >= c->rows.size()) return std::nullopt;
  return c->rows[static_cast<size_t>(index)];
}

BOOL GtkDialogHost::listSetSelected(HWND dialog, int id, int index, bool selected) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c) return FALSE;
  Quiet quiet(*c);
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(c->widget));
  if (index == -1) {
    if (selected)
      gtk_tree_selection_select_all(selection);
    else
      gtk_tree_selection_unselect_all(selection);
    return TRUE;
  }
  if (index < 0 || static_cast<size_t>(index) >= c->rows.size()) return FALSE;
  GtkTreePath* path = gtk_tree_path_new_from_indices(index, -1);
  if (selected)
    gtk_tree_selection_select_path(selection, path);
  else
    gtk_tree_selection_unselect_path(selection, path);
  gtk_tree_path_free(path);
  return TRUE;
}

std::vector<int> GtkDialogHost::listSelection(HWND dialog, int id) {
  std::vector<int> out;
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c) return out;
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(c->widget));
  GList* rows = gtk_tree_selection_get_selected_rows(selection, nullptr);
  for (GList* r = rows; r; r = r->next) out.push_back(gtk_tree_path_get_indices(static_cast<GtkTreePath*>(r->data))[0]);
  g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
  std::sort(out.begin(), out.end());
  return out;
}

BOOL GtkDialogHost::listSetTopIndex(HWND dialog, int id, int index) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c || index < 0 || static_cast<size_t>(index) >= c->rows.size()) return index == 0 && c;
  GtkTreePath* path = gtk_tree_path_new_from_indices(index, -1);
  gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(c->widget), path, nullptr, TRUE, 0.0f, 0.0f);
  gtk_tree_path_free(path);
  return TRUE;
}

int GtkDialogHost::listTopIndex(HWND dialog, int id) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c) return LB_ERR;
  // The row that fills the top of the view: the one at its top edge, or the
  // next when most of that one has scrolled away.
  GtkTreeView* view = GTK_TREE_VIEW(c->widget);
  GtkTreePath* path = nullptr;
  if (!gtk_tree_view_get_path_at_pos(view, 0, 0, &path, nullptr, nullptr, nullptr) || !path) return 0;
  GdkRectangle area;
  gtk_tree_view_get_background_area(view, path, nullptr, &area);
  int top = gtk_tree_path_get_indices(path)[0];
  gtk_tree_path_free(path);
  if (area.y + area.height / 2 < 0 && static_cast<size_t>(top + 1) < c->rows.size()) ++top;
  return top;
}

BOOL GtkDialogHost::listSetHorizontalExtent(HWND dialog, int id, int pixels) {
  Control* c = controlOfKind(dialog, id, ControlKind::listBox);
  if (!c) return FALSE;
  // Rows scroll sideways over at least this width (longer rows over their own).
  GtkTreeViewColumn* column = gtk_tree_view_get_column(GTK_TREE_VIEW(c->widget), 0);
  if (column) gtk_tree_view_column_set_min_width(column, std::max(pixels, 0));
  return TRUE;
}

BOOL GtkDialogHost::trackbarSetRange(HWND dialog, int id, int minimum, int maximum, bool) {
  Control* c = controlOfKind(dialog, id, ControlKind::trackbar);
  if (!c) return FALSE;
  c->minimum = minimum;
  c->maximum = std::max(minimum, maximum);
  Quiet quiet(*c);
  gtk_range_set_range(GTK_RANGE(c->widget), c->minimum, c->maximum == c->minimum ? c->minimum + 1 : c->maximum);
  trackbarSetTickFrequency(dialog, id, c->tickEvery);
  return TRUE;
}

BOOL GtkDialogHost::trackbarSetPosition(HWND dialog, int id, int position) {
  Control* c = controlOfKind(dialog, id, ControlKind::trackbar);
  if (!c) return FALSE;
  Quiet quiet(*c);
  gtk_range_set_value(GTK_RANGE(c->widget), std::clamp(position, c->minimum, c->maximum));
  return TRUE;
}

int GtkDialogHost::trackbarPosition(HWND dialog, int id) {
  Control* c = controlOfKind(dialog, id, ControlKind::trackbar);
  if (!c) return 0;
  return std::clamp(static_cast<int>(std::lround(gtk_range_get_value(GTK_RANGE(c->widget)))), c->minimum, c->maximum);
}

BOOL GtkDialogHost::trackbarSetPageSize(HWND dialog, int id, int size) {
  Control* c = controlOfKind(dialog, id, ControlKind::trackbar);
  if (!c) return FALSE;
  GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(c->widget));
  gtk_adjustment_set_page_increment(a, std::max(size, 1));
  return TRUE;
}

BOOL GtkDialogHost::trackbarSetLineSize(HWND dialog, int id, int size) {
  Control* c = controlOfKind(dialog, id, ControlKind::trackbar);
  if (!c) return FALSE;
  GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(c->widget));
  gtk_adjustment_set_step_increment(a, std::max(size, 1));
  return TRUE;
}

BOOL GtkDialogHost::trackbarSetTickFrequency(HWND dialog, int id, int every) {
  Control* c = controlOfKind(dialog, id, ControlKind::trackbar);
  if (!c) return FALSE;
  c->tickEvery = every;
  gtk_scale_clear_marks(GTK_SCALE(c->widget));
  if (every > 0)
    for (int v = c->minimum; v <= c->maximum; v += every)
      gtk_scale_add_mark(GTK_SCALE(c->widget), v, GTK_POS_BOTTOM, nullptr);
  return TRUE;
}

int GtkDialogHost::tabInsert(HWND dialog, int id, int index, const std::string& text) {
  Control* c = controlOfKind(dialog, id, ControlKind::tab);
  if (!c) return -1;
  Quiet quiet(*c);
  GtkNotebook* notebook = GTK_NOTEBOOK(c->widget);
  const int count = gtk_notebook_get_n_pages(notebook);
  if (index < 0 || index > count) index = count;
  GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_show(page);
  const int at = gtk_notebook_insert_page(notebook, page, gtk_label_new(utf8(text).c_str()), index);
  if (c->tabContent && !gtk_widget_get_parent(c->tabContent)) {
    gtk_container_add(GTK_CONTAINER(gtk_notebook_get_nth_page(notebook, gtk_notebook_get_current_page(notebook))),
                      c->tabContent);
    if (gtk_widget_get_visible(c->widget)) gtk_widget_show_all(c->tabContent);
  }
  return at;
}

int GtkDialogHost::tabSelection(HWND dialog, int id) {
  Control* c = controlOfKind(dialog, id, ControlKind::tab);
  return c ? gtk_notebook_get_current_page(GTK_NOTEBOOK(c->widget)) : -1;
}

BOOL GtkDialogHost::tabSetSelection(HWND dialog, int id, int index) {
  Control* c = controlOfKind(dialog, id, ControlKind::tab);
  if (!c || index < 0 || index >= gtk_notebook_get_n_pages(GTK_NOTEBOOK(c->widget))) return FALSE;
  Quiet quiet(*c);
  gtk_notebook_set_current_page(GTK_NOTEBOOK(c->widget), index);
  return TRUE;
}

BOOL GtkDialogHost::progressSetRange(HWND dialog, int id, int minimum, int maximum) {
  Control* c = controlOfKind(dialog, id, ControlKind::progress);
  if (!c) return FALSE;
  c->progressMinimum = minimum;
  c->progressMaximum = std::max(minimum, maximum);
  return progressSetPosition(dialog, id, c->progressPosition);
}

BOOL GtkDialogHost::progressSetPosition(HWND dialog, int id, int position) {
  Control* c = controlOfKind(dialog, id, ControlKind::progress);
  if (!c) return FALSE;
  c->progressPosition = std::clamp(position, c->progressMinimum, c->progressMaximum);
  const int span = c->progressMaximum - c->progressMinimum;
  const double fraction = span > 0 ? double(c->progressPosition - c->progressMinimum) / span : 0.0;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(c->widget), fraction);
  char percent[16];
  std::snprintf(percent, sizeof percent, "%d %%", static_cast<int>(fraction * 100.0));
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(c->widget), percent);
  return TRUE;
}

BOOL GtkDialogHost::fillRect(HDC dc, const RECT& rect, COLORREF colour) {
  auto it = drawing_.find(dc);
  if (it == drawing_.end()) return FALSE;
  cairo_t* cr = it->second;
  cairo_set_source_rgb(cr, GetRValue(colour) / 255.0, GetGValue(colour) / 255.0, GetBValue(colour) / 255.0);
  cairo_rectangle(cr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  cairo_fill(cr);
  return TRUE;
}

// ---- common dialogs ---------------------------------------------------------------

void GtkDialogHost::runSystemDialog(GtkWidget* window) {
  if (onSystemDialogShown) {
    struct Shown {
      GtkDialogHost* host;
      GtkWidget* window;
    };
    g_signal_connect_data(
        window, "map-event", G_CALLBACK(+[](GtkWidget* w, GdkEvent*, gpointer data) -> gboolean {
          auto* s = static_cast<Shown*>(data);
          g_idle_add_full(
              G_PRIORITY_LOW,
              [](gpointer p) -> gboolean {
                auto* shown = static_cast<Shown*>(p);
                if (shown->host->onSystemDialogShown) shown->host->onSystemDialogShown(shown->window);
                return G_SOURCE_REMOVE;
              },
              new Shown{s->host, w}, [](gpointer p) { delete static_cast<Shown*>(p); });
          return FALSE;
        }),
        new Shown{this, window}, [](gpointer p, GClosure*) { delete static_cast<Shown*>(p); }, GConnectFlags(0));
  }
}

int GtkDialogHost::messageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  GtkMessageType kind = GTK_MESSAGE_OTHER;
  switch (type & 0xF0) {
    case MB_ICONERROR: kind = GTK_MESSAGE_ERROR; break;
    case MB_ICONQUESTION: kind = GTK_MESSAGE_QUESTION; break;
    case MB_ICONWARNING: kind = GTK_MESSAGE_WARNING; break;
    case MB_ICONINFORMATION: kind = GTK_MESSAGE_INFO; break;
    default: break;
  }
  GtkWindow* parent = ownerWindow(owner);
  GtkWidget* box = gtk_message_dialog_new(parent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                          kind, GTK_BUTTONS_NONE, "%s", utf8(text).c_str());
  gtk_window_set_title(GTK_WINDOW(box), utf8(caption).c_str());
  if (!parent) gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
  if (type & MB_TOPMOST) gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  switch (type & 0xF) {
    case MB_OKCANCEL: gtk_dialog_add_buttons(GTK_DIALOG(box), "_Cancel", IDCANCEL, "_OK", IDOK, nullptr); break;
    case MB_YESNO: gtk_dialog_add_buttons(GTK_DIALOG(box), "_No", IDNO, "_Yes", IDYES, nullptr); break;
    case MB_YESNOCANCEL:
      gtk_dialog_add_buttons(GTK_DIALOG(box), "_Cancel", IDCANCEL, "_No", IDNO, "_Yes", IDYES, nullptr);
      break;
    default: gtk_dialog_add_buttons(GTK_DIALOG(box), "_OK", IDOK, nullptr); break;
  }
  gtk_dialog_set_default_response(GTK_DIALOG(box), messageBoxDefaultAnswer(type));
  runSystemDialog(box);
  int answer = 0;
  for (;;) {
    const int r = gtk_dialog_run(GTK_DIALOG(box));
    if (r > 0) {
      answer = r;
      break;
    }
    // Escape or the close button: what Escape answers, if it answers anything.
    answer = messageBoxEscapeAnswer(type);
    if (answer != 0 || r == GTK_RESPONSE_NONE) break;
  }
  if (answer == 0) answer = messageBoxDefaultAnswer(type);
  gtk_widget_destroy(box);
  return answer;
}

BOOL GtkDialogHost::chooseColor(CHOOSECOLORA* choice) {
  GtkWidget* chooser = gtk_color_chooser_dialog_new("Color", ownerWindow(choice->hwndOwner));
  GtkColorChooser* cc = GTK_COLOR_CHOOSER(chooser);
  gtk_color_chooser_set_use_alpha(cc, FALSE);
  std::vector<GdkRGBA> basic = basicPalette();
  gtk_color_chooser_add_palette(cc, GTK_ORIENTATION_HORIZONTAL, 8, static_cast<gint>(basic.size()), basic.data());
  std::vector<GdkRGBA> custom;
  if (choice->lpCustColors) {
    for (int i = 0; i < 16; ++i) custom.push_back(rgbaOf(choice->lpCustColors[i]));
    gtk_color_chooser_add_palette(cc, GTK_ORIENTATION_HORIZONTAL, 8, 16, custom.data());
  }
  if (choice->Flags & CC_RGBINIT) {
    const GdkRGBA initial = rgbaOf(choice->rgbResult);
    gtk_color_chooser_set_rgba(cc, &initial);
  }
  runSystemDialog(chooser);
  const int r = gtk_dialog_run(GTK_DIALOG(chooser));
  BOOL ok = FALSE;
  if (r == GTK_RESPONSE_OK) {
    GdkRGBA chosen;
    gtk_color_chooser_get_rgba(cc, &chosen);
    const COLORREF colour = colorOf(chosen);
    choice->rgbResult = colour;
    ok = TRUE;
    // A colour made in the editor joins the custom colours, newest first.
    if (choice->lpCustColors) {
      bool known = std::any_of(basic.begin(), basic.end(), [&](const GdkRGBA& b) { return colorOf(b) == colour; });
      for (int i = 0; i < 16 && !known; ++i) known = choice->lpCustColors[i] == colour;
      if (!known) {
        for (int i = 15; i > 0; --i) choice->lpCustColors[i] = choice->lpCustColors[i - 1];
        choice->lpCustColors[0] = colour;
      }
    }
  }
  gtk_widget_destroy(chooser);
  return ok;
}

BOOL GtkDialogHost::openFileNames(OPENFILENAMEA* request, DWORD* error) {
  const char* title = request->lpstrTitle ? request->lpstrTitle : "Open";
  GtkWidget* chooser =
      gtk_file_chooser_dialog_new(utf8(title).c_str(), ownerWindow(request->hwndOwner), GTK_FILE_CHOOSER_ACTION_OPEN,
                                  "_Cancel", GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
  gtk_file_chooser_set_local_only(fc, TRUE);
  gtk_file_chooser_set_select_multiple(fc, (request->Flags & OFN_ALLOWMULTISELECT) != 0);
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  // The patterns match without regard to case, as the system's listings do
  // (IMG_0001.JPG is a ".jpg" picture).
  std::vector<std::unique_ptr<std::vector<std::string>>> patterns;
  for (const FileFilter& f : parseFileFilter(request->lpstrFilter)) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, utf8(f.description).c_str());
    patterns.push_back(std::make_unique<std::vector<std::string>>(f.patterns));
    gtk_file_filter_add_custom(
        filter, GTK_FILE_FILTER_DISPLAY_NAME,
        [](const GtkFileFilterInfo* info, gpointer data) -> gboolean {
          const auto* list = static_cast<const std::vector<std::string>*>(data);
          if (!info->display_name) return FALSE;
          for (const std::string& p : *list)
            if (matchWildcard(p, info->display_name)) return TRUE;
          return FALSE;
        },
        patterns.back().get(), nullptr);
    gtk_file_chooser_add_filter(fc, filter);
  }
  const std::string start = request->lpstrInitialDir ? request->lpstrInitialDir : currentDirectory();
  if (!start.empty()) gtk_file_chooser_set_current_folder(fc, start.c_str());
  runSystemDialog(chooser);
  std::vector<std::string> chosen;
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    GSList* names = gtk_file_chooser_get_filenames(fc);
    for (GSList* n = names; n; n = n->next) chosen.emplace_back(static_cast<const char*>(n->data));
    g_slist_free_full(names, g_free);
  }
  gtk_widget_destroy(chooser);
  if (chosen.empty()) return FALSE;
  std::sort(chosen.begin(), chosen.end());
  return storeOpenFileNames(request, chosen, error) ? TRUE : FALSE;
}

std::optional<std::string> GtkDialogHost::browseForFolder(HWND owner, const std::string& title,
                                                          const std::string& startFolder) {
  GtkWidget* chooser =
      gtk_file_chooser_dialog_new(utf8(title).c_str(), ownerWindow(owner), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
                                  "_Cancel", GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
  gtk_file_chooser_set_local_only(fc, TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  if (!startFolder.empty()) gtk_file_chooser_set_current_folder(fc, startFolder.c_str());
  runSystemDialog(chooser);
  std::optional<std::string> out;
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    gchar* name = gtk_file_chooser_get_filename(fc);
    if (name) out = std::string(name);
    g_free(name);
  }
  gtk_widget_destroy(chooser);
  return out;
}

// ---- for tests -------------------------------------------------------------------------

bool GtkDialogHost::screenshot(HWND dialog, const std::string& path) const {
  Dialog* d = find(dialog);
  if (!d || !gtk_widget_get_realized(d->window)) return false;
  const int width = gtk_widget_get_allocated_width(d->window);
  const int height = gtk_widget_get_allocated_height(d->window);
  PangoLayout* layout = gtk_widget_create_pango_layout(d->window, gtk_window_get_title(GTK_WINDOW(d->window)));
  int textWidth = 0, textHeight = 0;
  pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
  const int bar = textHeight + 12;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height + bar);
  cairo_t* cr = cairo_create(surface);
  // The caption as a window manager's title bar would show it.
  cairo_set_source_rgb(cr, 0.22, 0.25, 0.30);
  cairo_rectangle(cr, 0, 0, width, bar);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_move_to(cr, 10, 6);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
  cairo_translate(cr, 0, bar);
  gtk_widget_draw(d->window, cr);
  cairo_destroy(cr);
  const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

namespace {

void collectDrawable(GtkWidget* w, std::vector<GtkWidget*>& out) {
  if (!gtk_widget_get_visible(w) || !gtk_widget_get_child_visible(w)) return;
  out.push_back(w);
  if (GTK_IS_CONTAINER(w)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(w));
    for (GList* c = children; c; c = c->next) collectDrawable(static_cast<GtkWidget*>(c->data), out);
    g_list_free(children);
  }
}

}  // namespace

std::vector<std::string> GtkDialogHost::layoutProblems(HWND dialog) const {
  std::vector<std::string> out;
  Dialog* d = find(dialog);
  if (!d) return {"no such dialog"};
  const int winWidth = gtk_widget_get_allocated_width(d->window);
  const int winHeight = gtk_widget_get_allocated_height(d->window);
  std::vector<GtkWidget*> widgets;
  collectDrawable(d->window, widgets);
  for (GtkWidget* w : widgets) {
    if (w == d->window || !gtk_widget_get_mapped(w)) continue;
    // Texts and controls are what a user reads and uses; the boxes between
    // them only place them.
    const int owner = controlOf(dialog, w);
    const bool isControl =
        owner != IDC_STATIC && (d->controls.at(owner).widget == w || d->controls.at(owner).outer == w);
    if (!GTK_IS_LABEL(w) && !isControl) continue;
    // Widgets that scroll their contents may be smaller than their contents.
    GtkWidget* parent = gtk_widget_get_parent(w);
    if (parent && (GTK_IS_VIEWPORT(parent) || GTK_IS_SCROLLED_WINDOW(parent))) continue;
    GtkAllocation a;
    gtk_widget_get_allocation(w, &a);
    int minWidth = 0, natWidth = 0, minHeight = 0, natHeight = 0;
    gtk_widget_get_preferred_width(w, &minWidth, &natWidth);
    gtk_widget_get_preferred_height_for_width(w, a.width, &minHeight, &natHeight);
    std::string what = G_OBJECT_TYPE_NAME(w);
    for (GtkWidget* p = gtk_widget_get_parent(w); p && p != d->window; p = gtk_widget_get_parent(p))
      what += std::string(" in ") + G_OBJECT_TYPE_NAME(p);
    if (GTK_IS_LABEL(w)) what += std::string(" \"") + gtk_label_get_text(GTK_LABEL(w)) + "\"";
    if (owner != IDC_STATIC) what += " of control " + std::to_string(owner);
    if (a.width < minWidth || a.height < minHeight)
      out.push_back(what + ": given " + std::to_string(a.width) + "x" + std::to_string(a.height) + ", needs " +
                    std::to_string(minWidth) + "x" + std::to_string(minHeight));
    int x = 0, y = 0;
    if (gtk_widget_translate_coordinates(w, d->window, 0, 0, &x, &y) &&
        (x < 0 || y < 0 || x + a.width > winWidth || y + a.height > winHeight))
      out.push_back(what + ": lies outside the window");
    if (GTK_IS_LABEL(w)) {
      // A label shows its whole text: no line of it is cut at the right.
      PangoLayout* layout = gtk_label_get_layout(GTK_LABEL(w));
      int lw = 0, lh = 0;
      pango_layout_get_pixel_size(layout, &lw, &lh);
      if (lw > a.width + 1 || lh > a.height + 1)
        out.push_back(what + ": its text needs " + std::to_string(lw) + "x" + std::to_string(lh) + " but has " +
                      std::to_string(a.width) + "x" + std::to_string(a.height));
    }
  }
  return out;
}

std::vector<int> GtkDialogHost::tabOrder(HWND dialog) {
  std::vector<int> out;
  Dialog* d = find(dialog);
  if (!d) return out;
  GtkWindow* window = GTK_WINDOW(d->window);
  gtk_window_set_focus(window, nullptr);
  GtkWidget* first = nullptr;
  for (int step = 0; step < 500; ++step) {
    if (!gtk_widget_child_focus(d->window, GTK_DIR_TAB_FORWARD)) {
      // Past the last control GTK starts again from the first.
      if (!gtk_widget_child_focus(d->window, GTK_DIR_TAB_FORWARD)) break;
    }
    GtkWidget* focus = gtk_window_get_focus(window);
    if (!focus || focus == first) break;
    if (!first) first = focus;
    const int id = controlOf(dialog, focus);
    if (out.empty() || out.back() != id) out.push_back(id);
  }
  return out;
}

void GtkDialogHost::sendKey(HWND dialog, unsigned keyval) {
  Dialog* d = find(dialog);
  if (!d || !gtk_widget_get_realized(d->window)) return;
  GdkWindow* gw = gtk_widget_get_window(d->window);
  GdkDisplay* display = gdk_window_get_display(gw);
  for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    GdkEvent* e = gdk_event_new(type);
    e->key.window = GDK_WINDOW(g_object_ref(gw));
    e->key.send_event = TRUE;
    e->key.time = GDK_CURRENT_TIME;
    e->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint n = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &n) && n > 0) {
      e->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
      e->key.group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    gdk_event_set_device(e, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    gtk_main_do_event(e);
    gdk_event_free(e);
    if (!find(dialog)) break;
  }
}

// ---- the process's host ------------------------------------------------------------------

GtkDialogHost* gtkDialogHost() { return started; }

DialogHost* ensureGtkDialogHost() {
  if (DialogHost* host = dialogHost()) return host;
  if (!started) {
    // GTK must not change the process's locale: numbers in files stay in
    // the C form whatever the user's language.
    gtk_disable_setlocale();
    // A display that is busy (a session starting, a server under load) may
    // refuse a connection for a moment: try again before giving up.
    bool ready = false;
    for (int attempt = 0; attempt < 3 && !ready; ++attempt) {
      if (attempt > 0) g_usleep(300 * 1000);
      ready = gtk_init_check(nullptr, nullptr);
    }
    if (!ready) {
      const char* display = std::getenv("DISPLAY");
      std::fprintf(stderr, "aquaveil: GTK cannot open the display %s\n", display && *display ? display : "(none)");
      return nullptr;
    }
    static GtkDialogHost host;
    started = &host;
  }
  setDialogHost(started);
  return started;
}

}  // namespace platform
