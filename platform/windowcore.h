#pragma once
// The part of a window system that is the same for every back end: window
// classes and records, the message queue with Win32's order of retrieval
// (posted messages, then the quit message, then WM_PAINT for invalid visible
// windows, then due timers), sending and dispatching to window procedures,
// the default window procedure, timers, invalidation and painting, the
// cursor state.  A back end derives from it and supplies the native windows,
// the native events, message boxes, system values and monitors.
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/draw2d.h"
#include "platform/window.h"

namespace platform {

class BasicWindowSystem : public WindowSystem {
 public:
  // One window as the queue sees it.
  struct WindowRecord {
    HWND handle = 0;
    std::string className;
    std::string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = 0;  // WS_CHILD windows: the parent (ours or foreign)
    HWND owner = 0;   // popups: the owner given as parent
    bool foreignParent = false;
    // Top-level windows: screen coordinates; children: the parent's client
    // coordinates.  Windows have no frame, so this is the client area too.
    RECT rect;
    bool visible = false;
    bool topmost = false;
    WNDPROC proc = nullptr;
    std::map<int, LONG_PTR> longs;
    bool invalid = false;
    bool erase = false;
    bool destroying = false;
    RECT invalidRect;
    std::unique_ptr<Painter> canvas;
    void* native = nullptr;  // the back end's own window object
  };

  BasicWindowSystem();
  ~BasicWindowSystem() override;

  ATOM registerClass(const WNDCLASSA& wc) override;
  HWND createWindow(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y, int width,
                    int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) override;
  BOOL destroyWindow(HWND window) override;
  BOOL isWindow(HWND window) override;
  BOOL isWindowVisible(HWND window) override;
  BOOL showWindow(HWND window, int command) override;
  BOOL setWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags) override;
  BOOL getClientRect(HWND window, RECT* rect) override;
  BOOL getWindowRect(HWND window, RECT* rect) override;
  BOOL clientToScreen(HWND window, POINT* point) override;
  BOOL screenToClient(HWND window, POINT* point) override;
  BOOL setWindowText(HWND window, const char* text) override;
  LONG_PTR getWindowLongPtr(HWND window, int index) override;
  LONG_PTR setWindowLongPtr(HWND window, int index, LONG_PTR value) override;
  HWND getForegroundWindow() override { return foreground_; }

  BOOL postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL peekMessage(MSG* msg, HWND window, UINT first, UINT last, UINT remove) override;
  BOOL getMessage(MSG* msg, HWND window, UINT first, UINT last) override;
  BOOL translateMessage(const MSG* msg) override;
  LRESULT dispatchMessage(const MSG* msg) override;
  void postQuitMessage(int exitCode) override;
  LRESULT defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  UINT_PTR setTimer(HWND window, UINT_PTR id, UINT milliseconds) override;
  BOOL killTimer(HWND window, UINT_PTR id) override;

  BOOL invalidateRect(HWND window, const RECT* rect, BOOL erase) override;
  BOOL validateRect(HWND window, const RECT* rect) override;
  BOOL updateWindow(HWND window) override;
  HDC beginPaint(HWND window, PAINTSTRUCT* paint) override;
  BOOL endPaint(HWND window, const PAINTSTRUCT* paint) override;
  HDC getDC(HWND window) override;
  int releaseDC(HWND window, HDC dc) override;
  Painter* painter(HDC dc) override;

  HCURSOR loadCursor(HINSTANCE instance, uintptr_t name) override;
  HCURSOR setCursor(HCURSOR cursor) override;
  int showCursor(BOOL show) override;

  // ---- for back ends and tests ----
  WindowRecord* record(HWND window);
  const WindowRecord* record(HWND window) const;
  std::vector<HWND> windows() const;  // live windows in creation order
  bool cursorVisible() const { return cursorShown_ >= 0 && cursor_ != 0; }
  HCURSOR currentCursor() const { return cursor_; }
  size_t queuedMessages() const { return queue_.size(); }
  // Whether the quit message is waiting, and its exit code.
  bool quitPending() const { return quitPending_; }
  int quitCode() const { return quitCode_; }

 protected:
  // Native windows: create (false if it cannot be made), destroy, show or
  // hide, follow a new rectangle or z order, retitle.
  virtual bool nativeCreate(WindowRecord& window) = 0;
  virtual void nativeDestroy(WindowRecord& window) = 0;
  virtual void nativeShow(WindowRecord& window, int command) = 0;
  virtual void nativePlace(WindowRecord& window) = 0;
  virtual void nativeSetTitle(WindowRecord&) {}
  // The client size and screen origin of a foreign parent window; false if
  // there is no such window.
  virtual bool foreignClientRect(HWND window, RECT* rect) = 0;
  // Turns waiting native events into posted or sent messages; never blocks.
  virtual void pumpNative() {}
  // Blocks until a native event may be waiting or the time has passed.
  // Returns false when nothing could ever arrive (GetMessage would wait for
  // ever); the default sleeps on the process clock and returns false when
  // no time limit is given.
  virtual bool waitNative(DWORD milliseconds);
  // Shows a canvas that was painted (EndPaint, ReleaseDC).
  virtual void presentCanvas(WindowRecord&) {}
  virtual void nativeCursor(bool visible) { (void)visible; }
  // Called when GetMessage finds nothing and nothing can arrive.
  virtual void onStarved() {}
  // Whether new canvases keep a log of their drawing calls.
  bool logCanvases_ = false;

  // Hands a message to a window's procedure (also used for sent input).
  LRESULT deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool sent);
  // Each delivery, for tests: override to observe.
  virtual void delivered(const MSG& msg, LRESULT result, bool sent) {
    (void)msg;
    (void)result;
    (void)sent;
  }
  void setForeground(HWND window) { foreground_ = window; }
  // The process clock's milliseconds.
  static DWORD now();

 private:
  struct Timer {
    HWND window;
    UINT_PTR id;
    UINT interval;
    DWORD due;
  };
  bool matches(const MSG& msg, HWND window, UINT first, UINT last) const;
  bool takePaint(MSG* msg, HWND window, UINT first, UINT last);
  bool takeTimer(MSG* msg, HWND window, UINT first, UINT last, bool remove);
  void ensureCanvas(WindowRecord& window);
  HDC newDc(HWND window);
  bool isAncestor(HWND ancestor, HWND window) const;

  std::map<std::string, WNDCLASSA> classes_;
  std::map<std::string, std::string> classNames_;  // keeps class name storage alive
  std::map<HWND, std::unique_ptr<WindowRecord>> windows_;
  std::vector<HWND> order_;
  std::deque<MSG> queue_;
  std::vector<Timer> timers_;
  std::map<HDC, HWND> dcs_;
  HWND nextHandle_ = 0x40000010;
  HDC nextDc_ = 0x20000010;
  bool quitPending_ = false;
  int quitCode_ = 0;
  HCURSOR cursor_ = IDC_ARROW;
  int cursorShown_ = 0;
  HWND foreground_ = 0;
};

// For choosing monitors, the same for every back end: the area two
// rectangles share (0 when they do not meet), and the squared distance from
// a point to a rectangle's nearest pixel (0 inside it).
long long overlapArea(const RECT& a, const RECT& b);
long long distanceSquared(const RECT& r, POINT p);

}  // namespace platform
