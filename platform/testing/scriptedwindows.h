#pragma once
// A scripted window system for tests: windows exist only as records, the
// monitors and display devices are whatever the test describes, message
// boxes answer what the test says, and every call the code makes is logged.
//
//   platform::ScriptedWindowSystem ws;              // one 1024x768 monitor
//   ws.setMonitors({{0, 0, 1280, 1024}, {1280, 0, 2560, 1024}});
//   platform::ScopedWindowSystem guard(ws);
//   ... code creates windows ...
//   ws.postMessage(hwnd, WM_MOUSEMOVE, 0, MAKELONG(10, 20));
//   ws.pump();                                       // dispatch what waits
//   EXPECT_EQ(ws.delivered.back().msg.message, WM_MOUSEMOVE);
//
// Timers run on the process clock (platform/clock.h): with a ManualClock
// installed, GetMessage waiting for a timer advances that clock.  When
// GetMessage finds nothing and no timer is running, onIdle (if set) is
// called; if it posts nothing, GetMessage answers as for WM_QUIT and
// `starved` is set, so a test never hangs.
#include <functional>

#include "platform/testing/manualclock.h"
#include "platform/windowcore.h"

namespace platform {

class ScriptedWindowSystem : public BasicWindowSystem {
 public:
  // One display device; it is a monitor when attached to the desktop.
  struct Display {
    RECT rect;                // in virtual-screen coordinates
    RECT work;                // work area (defaults to rect)
    std::string deviceName;   // "\\.\DISPLAY1" ...
    std::string description;  // the adapter's description
    DWORD stateFlags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
    DWORD bitsPerPel = 32;
    DWORD frequency = 60;
    HMONITOR handle = 0;  // 0 when not attached to the desktop
  };

  ScriptedWindowSystem();
  ~ScriptedWindowSystem() override;

  // Describes the monitors: the first is primary; each gets the handle
  // 0x00010001 + index, the device name "\\.\DISPLAY<n>" and the
  // description "Scripted Display Adapter <n>".
  void setMonitors(const std::vector<RECT>& rects);
  std::vector<Display> displays;
  // false: the system lacks the multi-monitor functions (single-monitor
  // emulation applies).
  bool multiMonitorFunctions = true;
  // System metrics the test wants to fix (others come from the displays).
  std::map<int, int> systemMetrics;

  // Foreign windows (preview parents): id -> client size.
  std::map<HWND, RECT> foreignWindows;
  // Native creation fails for windows of this kind when set (checked with
  // the style and extended style).
  std::function<bool(DWORD style, DWORD exStyle)> failCreate;

  // Message boxes: each call is kept; the answers are taken in order
  // (IDOK when none is left).
  struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
  };
  std::vector<MessageBoxCall> messageBoxes;
  std::deque<int> messageBoxAnswers;

  // What reached window procedures, in order.
  struct Delivery {
    MSG msg;
    LRESULT result;
    bool sent;  // through SendMessage (or sent by the system), not dispatched
  };
  std::vector<Delivery> deliveries;
  std::vector<Delivery> deliveriesOf(UINT message) const;
  // Every window-system call, one line each:
  // "CreateWindowExA(0x8, WaterSaverWndClass, 0x80000000, 0, 0, 1024, 768, 0) = 0x40000010".
  std::vector<std::string> log;
  // The value last given with SPI_SCREENSAVERRUNNING (-1 before any).
  int screenSaverRunning = -1;

  // Dispatches every waiting message (PeekMessage with removal, translate,
  // dispatch) until none is left or the quit message comes; returns how
  // many were dispatched.
  int pump(int limit = 10000);
  std::function<void()> onIdle;
  bool starved = false;

  // ---- WindowSystem ----
  HWND createWindow(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y, int width,
                    int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) override;
  BOOL destroyWindow(HWND window) override;
  BOOL showWindow(HWND window, int command) override;
  BOOL setWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags) override;
  BOOL postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  void postQuitMessage(int exitCode) override;
  UINT_PTR setTimer(HWND window, UINT_PTR id, UINT milliseconds) override;
  BOOL killTimer(HWND window, UINT_PTR id) override;
  BOOL invalidateRect(HWND window, const RECT* rect, BOOL erase) override;
  HCURSOR setCursor(HCURSOR cursor) override;
  int showCursor(BOOL show) override;
  int messageBox(HWND owner, const char* text, const char* caption, UINT type) override;
  int getSystemMetrics(int index) override;
  BOOL systemParametersInfo(UINT action, UINT param, void* data, UINT winIni) override;
  bool hasMultiMonitorFunctions() override { return multiMonitorFunctions; }
  HMONITOR monitorFromWindow(HWND window, DWORD flags) override;
  HMONITOR monitorFromRect(const RECT* rect, DWORD flags) override;
  HMONITOR monitorFromPoint(POINT point, DWORD flags) override;
  BOOL enumDisplayMonitors(HDC dc, const RECT* clip, MONITORENUMPROC callback, LPARAM data) override;
  BOOL getMonitorInfo(HMONITOR monitor, MONITORINFO* info) override;
  BOOL enumDisplayDevices(const char* device, DWORD index, DISPLAY_DEVICEA* info, DWORD flags) override;
  BOOL enumDisplaySettings(const char* device, DWORD mode, DEVMODEA* info) override;

 protected:
  bool nativeCreate(WindowRecord& window) override;
  void nativeDestroy(WindowRecord&) override {}
  void nativeShow(WindowRecord&, int) override {}
  void nativePlace(WindowRecord&) override {}
  bool foreignClientRect(HWND window, RECT* rect) override;
  bool waitNative(DWORD milliseconds) override;
  void delivered(const MSG& msg, LRESULT result, bool sent) override;

 private:
  const Display* primary() const;
  bool idleCalled_ = false;
};

}  // namespace platform
