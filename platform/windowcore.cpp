#include "platform/windowcore.h"

#include <algorithm>

#include "platform/clock.h"

namespace platform {

namespace {
constexpr DWORD kInfinite = 0xFFFFFFFFu;
constexpr UINT kMinimumTimer = 10;  // USER_TIMER_MINIMUM
constexpr LPARAM HTCLIENT = 1;
}  // namespace

BasicWindowSystem::BasicWindowSystem() = default;
BasicWindowSystem::~BasicWindowSystem() = default;

DWORD BasicWindowSystem::now() { return clock().milliseconds(); }

BasicWindowSystem::WindowRecord* BasicWindowSystem::record(HWND window) {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.get();
}

const BasicWindowSystem::WindowRecord* BasicWindowSystem::record(HWND window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.get();
}

std::vector<HWND> BasicWindowSystem::windows() const { return order_; }

ATOM BasicWindowSystem::registerClass(const WNDCLASSA& wc) {
  if (!wc.lpszClassName || !*wc.lpszClassName) return 0;
  std::string name = wc.lpszClassName;
  if (classes_.count(name)) return 0;  // ERROR_CLASS_ALREADY_EXISTS
  classNames_[name] = name;
  WNDCLASSA copy = wc;
  copy.lpszClassName = classNames_[name].c_str();
  copy.lpszMenuName = nullptr;
  classes_[name] = copy;
  return static_cast<ATOM>(0xC000 + classes_.size());
}

HWND BasicWindowSystem::createWindow(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  if (!className) return 0;
  auto cls = classes_.find(className);
  if (cls == classes_.end()) return 0;

  auto rec = std::make_unique<WindowRecord>();
  rec->className = className;
  rec->title = title ? title : "";
  rec->style = style;
  rec->exStyle = exStyle;
  rec->proc = cls->second.lpfnWndProc;
  if (x == CW_USEDEFAULT) x = 0;
  if (y == CW_USEDEFAULT) y = 0;
  if (width == CW_USEDEFAULT) width = 640;
  if (height == CW_USEDEFAULT) height = 480;
  rec->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
  rec->visible = (style & WS_VISIBLE) != 0;
  rec->topmost = (exStyle & WS_EX_TOPMOST) != 0;
  if (style & WS_CHILD) {
    if (!parent) return 0;
    rec->parent = parent;
    if (!record(parent)) {
      RECT foreign;
      if (!foreignClientRect(parent, &foreign)) return 0;
      rec->foreignParent = true;
    }
  } else if (parent) {
    if (!record(parent)) return 0;
    rec->owner = parent;
  }
  rec->handle = nextHandle_;
  nextHandle_ += 0x10;
  if (!nativeCreate(*rec)) return 0;

  HWND handle = rec->handle;
  windows_[handle] = std::move(rec);
  order_.push_back(handle);

  CREATESTRUCTA cs;
  cs.lpCreateParams = param;
  cs.hInstance = instance;
  cs.hMenu = menu;
  cs.hwndParent = parent;
  cs.x = x;
  cs.y = y;
  cs.cx = width;
  cs.cy = height;
  cs.style = static_cast<LONG>(style);
  cs.lpszName = title;
  cs.lpszClass = className;
  cs.dwExStyle = exStyle;
  if (deliver(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs), true) == -1) {
    destroyWindow(handle);
    return 0;
  }
  if (WindowRecord* r = record(handle); r && r->visible) {
    invalidateRect(handle, nullptr, TRUE);
    setForeground(handle);
  }
  return handle;
}

bool BasicWindowSystem::isAncestor(HWND ancestor, HWND window) const {
  const WindowRecord* r = record(window);
  while (r && r->parent) {
    if (r->parent == ancestor) return true;
    r = record(r->parent);
  }
  return false;
}

BOOL BasicWindowSystem::destroyWindow(HWND window) {
  WindowRecord* rec = record(window);
  if (!rec || rec->destroying) return FALSE;
  rec->destroying = true;
  // Owned windows go first, then the window hears WM_DESTROY before its
  // children do.
  for (HWND other : std::vector<HWND>(order_)) {
    const WindowRecord* o = record(other);
    if (o && o->owner == window) destroyWindow(other);
  }
  deliver(window, WM_DESTROY, 0, 0, true);
  for (HWND other : std::vector<HWND>(order_)) {
    const WindowRecord* o = record(other);
    if (o && o->parent == window) destroyWindow(other);
  }
  rec = record(window);
  if (!rec) return TRUE;
  nativeDestroy(*rec);
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.window == window; }),
                timers_.end());
  queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [&](const MSG& m) { return m.hwnd == window; }),
               queue_.end());
  for (auto it = dcs_.begin(); it != dcs_.end();) {
    if (it->second == window)
      it = dcs_.erase(it);
    else
      ++it;
  }
  if (foreground_ == window) foreground_ = 0;
  order_.erase(std::remove(order_.begin(), order_.end(), window), order_.end());
  windows_.erase(window);
  return TRUE;
}

BOOL BasicWindowSystem::isWindow(HWND window) { return record(window) ? TRUE : FALSE; }

BOOL BasicWindowSystem::isWindowVisible(HWND window) {
  const WindowRecord* r = record(window);
  while (r) {
    if (!r->visible) return FALSE;
    if (!r->parent || r->foreignParent) return TRUE;
    r = record(r->parent);
  }
  return FALSE;
}

BOOL BasicWindowSystem::showWindow(HWND window, int command) {
  WindowRecord* rec = record(window);
  if (!rec) return FALSE;
  BOOL was = rec->visible ? TRUE : FALSE;
  rec->visible = command != SW_HIDE;
  nativeShow(*rec, command);
  if (rec->visible && !was) invalidateRect(window, nullptr, TRUE);
  if (command == SW_SHOW || command == SW_SHOWNORMAL || command == SW_RESTORE || command == SW_SHOWMAXIMIZED)
    setForeground(window);
  return was;
}

BOOL BasicWindowSystem::setWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags) {
  WindowRecord* rec = record(window);
  if (!rec) return FALSE;
  LONG oldWidth = rec->rect.right - rec->rect.left, oldHeight = rec->rect.bottom - rec->rect.top;
  if (!(flags & SWP_NOMOVE)) {
    rec->rect = RECT{x, y, x + oldWidth, y + oldHeight};
  }
  if (!(flags & SWP_NOSIZE)) {
    rec->rect.right = rec->rect.left + std::max(cx, 0);
    rec->rect.bottom = rec->rect.top + std::max(cy, 0);
  }
  if (!(flags & SWP_NOZORDER)) {
    if (after == HWND_TOPMOST) rec->topmost = true;
    if (after == HWND_NOTOPMOST) rec->topmost = false;
  }
  bool shown = false;
  if (flags & SWP_SHOWWINDOW) {
    shown = !rec->visible;
    rec->visible = true;
  }
  if (flags & SWP_HIDEWINDOW) rec->visible = false;
  nativePlace(*rec);
  LONG w = rec->rect.right - rec->rect.left, h = rec->rect.bottom - rec->rect.top;
  if (shown) invalidateRect(window, nullptr, TRUE);
  if (w != oldWidth || h != oldHeight) {
    if (!(flags & SWP_NOREDRAW)) invalidateRect(window, nullptr, TRUE);
    deliver(window, WM_SIZE, SIZE_RESTORED, MAKELONG(static_cast<WORD>(w), static_cast<WORD>(h)), true);
  }
  return TRUE;
}

BOOL BasicWindowSystem::getClientRect(HWND window, RECT* rect) {
  if (!rect) return FALSE;
  if (const WindowRecord* rec = record(window)) {
    *rect = RECT{0, 0, rec->rect.right - rec->rect.left, rec->rect.bottom - rec->rect.top};
    return TRUE;
  }
  RECT foreign;
  if (window && foreignClientRect(window, &foreign)) {
    *rect = RECT{0, 0, foreign.right - foreign.left, foreign.bottom - foreign.top};
    return TRUE;
  }
  return FALSE;
}

BOOL BasicWindowSystem::getWindowRect(HWND window, RECT* rect) {
  if (!rect) return FALSE;
  const WindowRecord* rec = record(window);
  if (!rec) {
    RECT foreign;
    if (window && foreignClientRect(window, &foreign)) {
      *rect = foreign;
      return TRUE;
    }
    return FALSE;
  }
  POINT origin{0, 0};
  clientToScreen(window, &origin);
  *rect = RECT{origin.x, origin.y, origin.x + rec->rect.right - rec->rect.left,
               origin.y + rec->rect.bottom - rec->rect.top};
  return TRUE;
}

BOOL BasicWindowSystem::clientToScreen(HWND window, POINT* point) {
  if (!point) return FALSE;
  const WindowRecord* rec = record(window);
  if (!rec) return FALSE;
  LONG x = 0, y = 0;
  while (rec) {
    x += rec->rect.left;
    y += rec->rect.top;
    if (!rec->parent) break;
    if (rec->foreignParent) {
      RECT foreign;
      if (foreignClientRect(rec->parent, &foreign)) {
        x += foreign.left;
        y += foreign.top;
      }
      break;
    }
    rec = record(rec->parent);
  }
  point->x += x;
  point->y += y;
  return TRUE;
}

BOOL BasicWindowSystem::screenToClient(HWND window, POINT* point) {
  if (!point) return FALSE;
  POINT origin{0, 0};
  if (!clientToScreen(window, &origin)) return FALSE;
  point->x -= origin.x;
  point->y -= origin.y;
  return TRUE;
}

BOOL BasicWindowSystem::setWindowText(HWND window, const char* text) {
  WindowRecord* rec = record(window);
  if (!rec) return FALSE;
  rec->title = text ? text : "";
  nativeSetTitle(*rec);
  return TRUE;
}

LONG_PTR BasicWindowSystem::getWindowLongPtr(HWND window, int index) {
  WindowRecord* rec = record(window);
  if (!rec) return 0;
  auto it = rec->longs.find(index);
  return it == rec->longs.end() ? 0 : it->second;
}

LONG_PTR BasicWindowSystem::setWindowLongPtr(HWND window, int index, LONG_PTR value) {
  WindowRecord* rec = record(window);
  if (!rec) return 0;
  LONG_PTR old = rec->longs[index];
  rec->longs[index] = value;
  return old;
}

BOOL BasicWindowSystem::postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window && !record(window)) return FALSE;
  MSG msg;
  msg.hwnd = window;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = now();
  queue_.push_back(msg);
  return TRUE;
}

LRESULT BasicWindowSystem::sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!record(window)) return 0;
  return deliver(window, message, wParam, lParam, true);
}

LRESULT BasicWindowSystem::deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool sent) {
  WindowRecord* rec = record(window);
  if (!rec) return 0;
  WNDPROC proc = rec->proc;
  LRESULT result = proc ? proc(window, message, wParam, lParam) : defWindowProc(window, message, wParam, lParam);
  MSG msg;
  msg.hwnd = window;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = now();
  delivered(msg, result, sent);
  return result;
}

bool BasicWindowSystem::matches(const MSG& msg, HWND window, UINT first, UINT last) const {
  if (window && msg.hwnd != window && !isAncestor(window, msg.hwnd)) return false;
  if (first == 0 && last == 0) return true;
  return msg.message >= first && msg.message <= last;
}

bool BasicWindowSystem::takePaint(MSG* msg, HWND window, UINT first, UINT last) {
  for (HWND h : order_) {
    WindowRecord* rec = record(h);
    if (!rec || !rec->invalid || !isWindowVisible(h)) continue;
    MSG m;
    m.hwnd = h;
    m.message = WM_PAINT;
    m.time = now();
    if (!matches(m, window, first, last)) continue;
    *msg = m;
    return true;
  }
  return false;
}

bool BasicWindowSystem::takeTimer(MSG* msg, HWND window, UINT first, UINT last, bool remove) {
  DWORD t = now();
  for (Timer& timer : timers_) {
    if (static_cast<int32_t>(t - timer.due) < 0) continue;
    MSG m;
    m.hwnd = timer.window;
    m.message = WM_TIMER;
    m.wParam = timer.id;
    m.time = t;
    if (!matches(m, window, first, last)) continue;
    if (remove) timer.due = t + timer.interval;
    *msg = m;
    return true;
  }
  return false;
}

BOOL BasicWindowSystem::peekMessage(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
  if (!msg) return FALSE;
  pumpNative();
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (!matches(*it, window, first, last)) continue;
    *msg = *it;
    if (remove & PM_REMOVE) queue_.erase(it);
    return TRUE;
  }
  // The quit message comes once the posted messages are taken, whatever
  // the filter.
  if (quitPending_) {
    *msg = MSG{};
    msg->message = WM_QUIT;
    msg->wParam = static_cast<WPARAM>(quitCode_);
    msg->time = now();
    if (remove & PM_REMOVE) quitPending_ = false;
    return TRUE;
  }
  if (takePaint(msg, window, first, last)) return TRUE;
  if (takeTimer(msg, window, first, last, (remove & PM_REMOVE) != 0)) return TRUE;
  return FALSE;
}

bool BasicWindowSystem::waitNative(DWORD milliseconds) {
  if (milliseconds == kInfinite) return false;
  clock().sleep(milliseconds);
  return true;
}

BOOL BasicWindowSystem::getMessage(MSG* msg, HWND window, UINT first, UINT last) {
  if (!msg) return -1;
  bool starvedOnce = false;
  for (;;) {
    if (peekMessage(msg, window, first, last, PM_REMOVE)) return msg->message == WM_QUIT ? 0 : 1;
    DWORD wait = kInfinite;
    DWORD t = now();
    for (const Timer& timer : timers_) {
      if (window && timer.window != window && !isAncestor(window, timer.window)) continue;
      int32_t left = static_cast<int32_t>(timer.due - t);
      DWORD w = left < 0 ? 0 : static_cast<DWORD>(left);
      wait = std::min(wait, w);
    }
    if (!waitNative(wait)) {
      if (starvedOnce) {
        // Nothing can ever arrive: answer as the quit message rather than
        // waiting for ever.
        *msg = MSG{};
        msg->message = WM_QUIT;
        return 0;
      }
      starvedOnce = true;
      onStarved();
    }
  }
}

BOOL BasicWindowSystem::translateMessage(const MSG* msg) {
  if (!msg) return FALSE;
  if (msg->message != WM_KEYDOWN && msg->message != WM_KEYUP && msg->message != WM_SYSKEYDOWN &&
      msg->message != WM_SYSKEYUP)
    return FALSE;
  if (msg->message == WM_KEYDOWN) {
    WPARAM vk = msg->wParam;
    WPARAM ch = 0;
    if (vk >= 'A' && vk <= 'Z')
      ch = vk - 'A' + 'a';
    else if ((vk >= '0' && vk <= '9') || vk == VK_SPACE || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_BACK ||
             vk == VK_TAB)
      ch = vk;
    if (ch) postMessage(msg->hwnd, WM_CHAR, ch, msg->lParam);
  }
  return TRUE;
}

LRESULT BasicWindowSystem::dispatchMessage(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  return deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam, false);
}

void BasicWindowSystem::postQuitMessage(int exitCode) {
  quitPending_ = true;
  quitCode_ = exitCode;
}

LRESULT BasicWindowSystem::defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowRecord* rec = record(window);
  if (!rec) return 0;
  switch (message) {
    case WM_CLOSE: destroyWindow(window); return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE: sendMessage(window, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: showWindow(window, SW_MINIMIZE); break;
        case SC_MAXIMIZE: showWindow(window, SW_MAXIMIZE); break;
        default: break;
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      beginPaint(window, &ps);
      endPaint(window, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      auto cls = classes_.find(rec->className);
      COLORREF colour;
      Painter* p = painter(static_cast<HDC>(wParam));
      if (cls == classes_.end() || !p || !brushColour(cls->second.hbrBackground, &colour)) return 0;
      p->fill(RECT{0, 0, p->width(), p->height()}, colour);
      return 1;
    }
    case WM_SETCURSOR:
      if (LOWORD(static_cast<uintptr_t>(lParam)) == HTCLIENT) {
        auto cls = classes_.find(rec->className);
        if (cls != classes_.end()) setCursor(cls->second.hCursor);
        return 1;
      }
      return 0;
    default: return 0;
  }
}

UINT_PTR BasicWindowSystem::setTimer(HWND window, UINT_PTR id, UINT milliseconds) {
  if (window && !record(window)) return 0;
  if (!window) {
    // A timer without a window gets an id of its own.
    UINT_PTR next = 0x7FF0;
    for (const Timer& t : timers_)
      if (!t.window) next = std::max(next, t.id + 1);
    id = next;
  }
  milliseconds = std::max(milliseconds, kMinimumTimer);
  DWORD due = now() + milliseconds;
  for (Timer& t : timers_) {
    if (t.window == window && t.id == id) {
      t.interval = milliseconds;
      t.due = due;
      return window ? 1 : id;
    }
  }
  timers_.push_back(Timer{window, id, milliseconds, due});
  return window ? 1 : id;
}

BOOL BasicWindowSystem::killTimer(HWND window, UINT_PTR id) {
  auto it =
      std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it == timers_.end()) return FALSE;
  timers_.erase(it);
  // A WM_TIMER already taken stays taken; none is generated any more.
  return TRUE;
}

BOOL BasicWindowSystem::invalidateRect(HWND window, const RECT* rect, BOOL erase) {
  if (!window) {
    for (HWND h : order_) invalidateRect(h, rect, erase);
    return TRUE;
  }
  WindowRecord* rec = record(window);
  if (!rec) return FALSE;
  RECT client{0, 0, rec->rect.right - rec->rect.left, rec->rect.bottom - rec->rect.top};
  RECT add = client;
  if (rect) IntersectRect(&add, rect, &client);
  if (rec->invalid)
    UnionRect(&rec->invalidRect, &rec->invalidRect, &add);
  else
    rec->invalidRect = add;
  rec->invalid = true;
  if (erase) rec->erase = true;
  return TRUE;
}

BOOL BasicWindowSystem::validateRect(HWND window, const RECT* rect) {
  WindowRecord* rec = record(window);
  if (!rec) return FALSE;
  if (!rect || (rect->left <= rec->invalidRect.left && rect->top <= rec->invalidRect.top &&
                rect->right >= rec->invalidRect.right && rect->bottom >= rec->invalidRect.bottom)) {
    rec->invalid = false;
    rec->erase = false;
    rec->invalidRect = RECT{};
  }
  return TRUE;
}

BOOL BasicWindowSystem::updateWindow(HWND window) {
  WindowRecord* rec = record(window);
  if (!rec) return FALSE;
  if (rec->invalid && isWindowVisible(window)) deliver(window, WM_PAINT, 0, 0, true);
  return TRUE;
}

void BasicWindowSystem::ensureCanvas(WindowRecord& window) {
  int w = window.rect.right - window.rect.left, h = window.rect.bottom - window.rect.top;
  if (!window.canvas || window.canvas->width() != w || window.canvas->height() != h) {
    window.canvas = std::make_unique<Painter>(w, h);
    window.canvas->keepLog = logCanvases_;
  }
  window.canvas->beginContext();
}

HDC BasicWindowSystem::newDc(HWND window) {
  HDC dc = nextDc_;
  nextDc_ += 0x10;
  dcs_[dc] = window;
  return dc;
}

HDC BasicWindowSystem::beginPaint(HWND window, PAINTSTRUCT* paint) {
  WindowRecord* rec = record(window);
  if (!rec || !paint) return 0;
  ensureCanvas(*rec);
  HDC dc = newDc(window);
  paint->hdc = dc;
  paint->rcPaint = rec->invalid ? rec->invalidRect : RECT{0, 0, rec->canvas->width(), rec->canvas->height()};
  bool erase = rec->erase;
  rec->invalid = false;
  rec->erase = false;
  rec->invalidRect = RECT{};
  paint->fErase = FALSE;
  if (erase) paint->fErase = deliver(window, WM_ERASEBKGND, dc, 0, true) ? FALSE : TRUE;
  return dc;
}

BOOL BasicWindowSystem::endPaint(HWND window, const PAINTSTRUCT* paint) {
  if (paint) dcs_.erase(paint->hdc);
  WindowRecord* rec = record(window);
  if (!rec) return FALSE;
  if (rec->canvas) presentCanvas(*rec);
  return TRUE;
}

HDC BasicWindowSystem::getDC(HWND window) {
  WindowRecord* rec = record(window);
  if (!rec) return 0;
  ensureCanvas(*rec);
  return newDc(window);
}

int BasicWindowSystem::releaseDC(HWND window, HDC dc) {
  auto it = dcs_.find(dc);
  if (it == dcs_.end()) return 0;
  dcs_.erase(it);
  if (WindowRecord* rec = record(window); rec && rec->canvas) presentCanvas(*rec);
  return 1;
}

Painter* BasicWindowSystem::painter(HDC dc) {
  auto it = dcs_.find(dc);
  if (it == dcs_.end()) return nullptr;
  WindowRecord* rec = record(it->second);
  return rec ? rec->canvas.get() : nullptr;
}

HCURSOR BasicWindowSystem::loadCursor(HINSTANCE, uintptr_t name) { return name == IDC_ARROW ? IDC_ARROW : 0; }

HCURSOR BasicWindowSystem::setCursor(HCURSOR cursor) {
  HCURSOR previous = cursor_;
  cursor_ = cursor;
  nativeCursor(cursorVisible());
  return previous;
}

int BasicWindowSystem::showCursor(BOOL show) {
  cursorShown_ += show ? 1 : -1;
  nativeCursor(cursorVisible());
  return cursorShown_;
}

long long overlapArea(const RECT& a, const RECT& b) {
  long long w = std::min(a.right, b.right) - std::max(a.left, b.left);
  long long h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
  return (w > 0 && h > 0) ? w * h : 0;
}

long long distanceSquared(const RECT& r, POINT p) {
  long long dx = p.x < r.left ? r.left - p.x : (p.x >= r.right ? p.x - r.right + 1 : 0);
  long long dy = p.y < r.top ? r.top - p.y : (p.y >= r.bottom ? p.y - r.bottom + 1 : 0);
  return dx * dx + dy * dy;
}

}  // namespace platform
