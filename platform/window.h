#pragma once
// Windows, messages, timers, painting, the cursor, message boxes and the
// monitors, with the Win32 names, numbers and parameter packings the shell is
// written against.
//
// Every call goes to the process-wide window system (windowSystem()).  By
// default that is the SDL back end; a test installs its own (for example a
// ScriptedWindowSystem, platform/testing/scriptedwindows.h) with setWindowSystem().
//
// Window kinds on this desktop, chosen by the styles given to CreateWindowExA:
//   - WS_CHILD with a parent: a child window filling the given rectangle of the
//     parent.  The parent may be one of our windows or a foreign X11 window
//     given by its id (the decimal number of the preview command line);
//   - WS_POPUP with WS_EX_TOPMOST: a borderless window that stays above the
//     others, covering the given screen rectangle (a saver window);
//   - any other window (a popup that is not topmost, as the test mode makes):
//     a plain window with a frame, which the user can move and resize.
// Every window can carry a Direct3D device (platform/d3d8.h).
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/wintypes.h"

using HMONITOR = uintptr_t;
using HDC = uintptr_t;
using HBRUSH = uintptr_t;
using HCURSOR = uintptr_t;
using HICON = uintptr_t;
using HMENU = uintptr_t;
using HGDIOBJ = uintptr_t;
using ATOM = WORD;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;

using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- messages -------------------------------------------------------------
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_MOVE = 0x0003;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_ACTIVATE = 0x0006;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_ACTIVATEAPP = 0x001C;
inline constexpr UINT WM_SETCURSOR = 0x0020;
inline constexpr UINT WM_DRAWITEM = 0x002B;
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSKEYUP = 0x0105;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MBUTTONUP = 0x0208;
inline constexpr UINT WM_MOUSEWHEEL = 0x020A;
inline constexpr UINT WM_POWERBROADCAST = 0x0218;
inline constexpr UINT WM_EXITSIZEMOVE = 0x0232;
inline constexpr UINT WM_USER = 0x0400;

// WM_SIZE wParam
inline constexpr WPARAM SIZE_RESTORED = 0;
inline constexpr WPARAM SIZE_MINIMIZED = 1;
inline constexpr WPARAM SIZE_MAXIMIZED = 2;
// WM_SYSCOMMAND wParam
inline constexpr WPARAM SC_SIZE = 0xF000;
inline constexpr WPARAM SC_MOVE = 0xF010;
inline constexpr WPARAM SC_MINIMIZE = 0xF020;
inline constexpr WPARAM SC_MAXIMIZE = 0xF030;
inline constexpr WPARAM SC_NEXTWINDOW = 0xF040;
inline constexpr WPARAM SC_PREVWINDOW = 0xF050;
inline constexpr WPARAM SC_CLOSE = 0xF060;
inline constexpr WPARAM SC_SCREENSAVE = 0xF140;
inline constexpr WPARAM SC_MONITORPOWER = 0xF170;
// WM_POWERBROADCAST wParam
inline constexpr WPARAM PBT_APMQUERYSUSPEND = 0;
inline constexpr WPARAM PBT_APMSUSPEND = 4;
inline constexpr WPARAM PBT_APMRESUMESUSPEND = 7;
// Mouse message wParam: the buttons and keys held.
inline constexpr WPARAM MK_LBUTTON = 0x0001;
inline constexpr WPARAM MK_RBUTTON = 0x0002;
inline constexpr WPARAM MK_SHIFT = 0x0004;
inline constexpr WPARAM MK_CONTROL = 0x0008;
inline constexpr WPARAM MK_MBUTTON = 0x0010;

// Virtual-key codes (WM_KEYDOWN / WM_KEYUP wParam).  Letters and digits are
// their upper-case ASCII codes ('A'..'Z', '0'..'9').
inline constexpr WPARAM VK_BACK = 0x08;
inline constexpr WPARAM VK_TAB = 0x09;
inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_SHIFT = 0x10;
inline constexpr WPARAM VK_CONTROL = 0x11;
inline constexpr WPARAM VK_MENU = 0x12;
inline constexpr WPARAM VK_PAUSE = 0x13;
inline constexpr WPARAM VK_CAPITAL = 0x14;
inline constexpr WPARAM VK_ESCAPE = 0x1B;
inline constexpr WPARAM VK_SPACE = 0x20;
inline constexpr WPARAM VK_PRIOR = 0x21;
inline constexpr WPARAM VK_NEXT = 0x22;
inline constexpr WPARAM VK_END = 0x23;
inline constexpr WPARAM VK_HOME = 0x24;
inline constexpr WPARAM VK_LEFT = 0x25;
inline constexpr WPARAM VK_UP = 0x26;
inline constexpr WPARAM VK_RIGHT = 0x27;
inline constexpr WPARAM VK_DOWN = 0x28;
inline constexpr WPARAM VK_INSERT = 0x2D;
inline constexpr WPARAM VK_DELETE = 0x2E;
inline constexpr WPARAM VK_NUMPAD0 = 0x60;
inline constexpr WPARAM VK_F1 = 0x70;  // F1..F12 are 0x70..0x7B

// ---- window styles and placement -------------------------------------------
inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_MINIMIZE = 0x20000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
inline constexpr DWORD WS_MAXIMIZE = 0x01000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_THICKFRAME = 0x00040000;
inline constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
inline constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
inline constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
inline constexpr DWORD WS_EX_TOPMOST = 0x00000008;
inline constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;

inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

// Class styles
inline constexpr UINT CS_VREDRAW = 0x0001;
inline constexpr UINT CS_HREDRAW = 0x0002;
inline constexpr UINT CS_DBLCLKS = 0x0008;

// ShowWindow commands
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_MAXIMIZE = 3;
inline constexpr int SW_SHOWNOACTIVATE = 4;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWNA = 8;
inline constexpr int SW_RESTORE = 9;

// SetWindowPos: the window to place after, and flags.
inline constexpr HWND HWND_TOP = 0;
inline constexpr HWND HWND_BOTTOM = 1;
inline constexpr HWND HWND_TOPMOST = static_cast<HWND>(-1);
inline constexpr HWND HWND_NOTOPMOST = static_cast<HWND>(-2);
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOREDRAW = 0x0008;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;
inline constexpr UINT SWP_FRAMECHANGED = 0x0020;
inline constexpr UINT SWP_SHOWWINDOW = 0x0040;
inline constexpr UINT SWP_HIDEWINDOW = 0x0080;

// PeekMessage removal flag
inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// Window data slots (GetWindowLongPtrA / SetWindowLongPtrA)
inline constexpr int GWLP_USERDATA = -21;

// ---- cursors, brushes, system metrics ---------------------------------------
// Cursor resources for LoadCursorA(0, IDC_ARROW); the value is its handle.
inline constexpr uintptr_t IDC_ARROW = 32512;
inline constexpr HCURSOR NO_CURSOR = 0;

// Stock objects (GetStockObject)
inline constexpr int WHITE_BRUSH = 0;
inline constexpr int LTGRAY_BRUSH = 1;
inline constexpr int GRAY_BRUSH = 2;
inline constexpr int DKGRAY_BRUSH = 3;
inline constexpr int BLACK_BRUSH = 4;
inline constexpr int NULL_BRUSH = 5;
// System colours: a class or FillRect brush may be given as (COLOR_x + 1).
inline constexpr int COLOR_BACKGROUND = 1;
inline constexpr int COLOR_WINDOW = 5;
inline constexpr int COLOR_WINDOWTEXT = 8;
inline constexpr int COLOR_BTNFACE = 15;

// GetSystemMetrics
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
inline constexpr int SM_XVIRTUALSCREEN = 76;
inline constexpr int SM_YVIRTUALSCREEN = 77;
inline constexpr int SM_CXVIRTUALSCREEN = 78;
inline constexpr int SM_CYVIRTUALSCREEN = 79;
inline constexpr int SM_CMONITORS = 80;
inline constexpr int SM_SAMEDISPLAYFORMAT = 81;

// SystemParametersInfoA
inline constexpr UINT SPI_GETWORKAREA = 0x0030;
inline constexpr UINT SPI_SCREENSAVERRUNNING = 97;

// ---- message boxes -----------------------------------------------------------
inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_OKCANCEL = 0x00000001;
inline constexpr UINT MB_YESNOCANCEL = 0x00000003;
inline constexpr UINT MB_YESNO = 0x00000004;
inline constexpr UINT MB_ICONERROR = 0x00000010;
inline constexpr UINT MB_ICONHAND = 0x00000010;
inline constexpr UINT MB_ICONSTOP = 0x00000010;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
inline constexpr UINT MB_ICONWARNING = 0x00000030;
inline constexpr UINT MB_ICONINFORMATION = 0x00000040;
inline constexpr UINT MB_ICONASTERISK = 0x00000040;
inline constexpr UINT MB_TOPMOST = 0x00040000;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// ---- monitors ----------------------------------------------------------------
inline constexpr DWORD MONITOR_DEFAULTTONULL = 0;
inline constexpr DWORD MONITOR_DEFAULTTOPRIMARY = 1;
inline constexpr DWORD MONITOR_DEFAULTTONEAREST = 2;
inline constexpr DWORD MONITORINFOF_PRIMARY = 1;
inline constexpr int CCHDEVICENAME = 32;

inline constexpr DWORD DISPLAY_DEVICE_ATTACHED_TO_DESKTOP = 0x00000001;
inline constexpr DWORD DISPLAY_DEVICE_MULTI_DRIVER = 0x00000002;
inline constexpr DWORD DISPLAY_DEVICE_PRIMARY_DEVICE = 0x00000004;
inline constexpr DWORD DISPLAY_DEVICE_MIRRORING_DRIVER = 0x00000008;
inline constexpr DWORD ENUM_CURRENT_SETTINGS = static_cast<DWORD>(-1);
inline constexpr DWORD ENUM_REGISTRY_SETTINGS = static_cast<DWORD>(-2);

// The single-monitor emulation's one pseudo monitor.
inline constexpr HMONITOR PRIMARY_MONITOR_EMULATED = 0x12340042;

struct MONITORINFO {
  DWORD cbSize = sizeof(MONITORINFO);
  RECT rcMonitor;
  RECT rcWork;
  DWORD dwFlags = 0;
};
struct MONITORINFOEXA : MONITORINFO {
  MONITORINFOEXA() { cbSize = sizeof(MONITORINFOEXA); }
  char szDevice[CCHDEVICENAME] = {};
};

// The Win32 record is 424 bytes (cb): 4 + 32 + 128 + 4 + 128 + 128.
struct DISPLAY_DEVICEA {
  DWORD cb = sizeof(DISPLAY_DEVICEA);
  char DeviceName[32] = {};
  char DeviceString[128] = {};
  DWORD StateFlags = 0;
  char DeviceID[128] = {};
  char DeviceKey[128] = {};
};
static_assert(sizeof(DISPLAY_DEVICEA) == 424, "the display-device record keeps its Win32 size");

// The display-settings fields this system reads (the Win32 record is 148
// bytes; dmSize carries that size so callers written against it stay right).
struct DEVMODEA {
  WORD dmSize = 148;
  DWORD dmFields = 0;
  POINT dmPosition;  // the device's top-left corner in the virtual screen
  DWORD dmBitsPerPel = 0;
  DWORD dmPelsWidth = 0;
  DWORD dmPelsHeight = 0;
  DWORD dmDisplayFlags = 0;
  DWORD dmDisplayFrequency = 0;
};

using MONITORENUMPROC = BOOL (*)(HMONITOR monitor, HDC dc, RECT* rect, LPARAM data);

// ---- messages, classes, windows ------------------------------------------------
struct MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;
  POINT pt;
};

struct WNDCLASSA {
  UINT style = 0;
  WNDPROC lpfnWndProc = nullptr;
  int cbClsExtra = 0;
  int cbWndExtra = 0;
  HINSTANCE hInstance = 0;
  HICON hIcon = 0;
  HCURSOR hCursor = 0;
  HBRUSH hbrBackground = 0;
  const char* lpszMenuName = nullptr;
  const char* lpszClassName = nullptr;
};

// WM_CREATE's lParam points to this; lpCreateParams is CreateWindowExA's
// last argument.
struct CREATESTRUCTA {
  void* lpCreateParams = nullptr;
  HINSTANCE hInstance = 0;
  HMENU hMenu = 0;
  HWND hwndParent = 0;
  int cy = 0, cx = 0, y = 0, x = 0;
  LONG style = 0;
  const char* lpszName = nullptr;
  const char* lpszClass = nullptr;
  DWORD dwExStyle = 0;
};

struct PAINTSTRUCT {
  HDC hdc = 0;
  BOOL fErase = FALSE;
  RECT rcPaint;
};

namespace platform {

class Painter;  // platform/draw2d.h

// One window system: the SDL back end or a test double.  The free functions
// below forward to the process-wide one; its operations take and return
// exactly what the Win32 calls of the same names do.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Classes and windows
  virtual ATOM registerClass(const WNDCLASSA& wc) = 0;
  virtual HWND createWindow(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) = 0;
  virtual BOOL destroyWindow(HWND window) = 0;
  virtual BOOL isWindow(HWND window) = 0;
  virtual BOOL isWindowVisible(HWND window) = 0;
  virtual BOOL showWindow(HWND window, int command) = 0;
  virtual BOOL setWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags) = 0;
  virtual BOOL getClientRect(HWND window, RECT* rect) = 0;
  virtual BOOL getWindowRect(HWND window, RECT* rect) = 0;
  virtual BOOL clientToScreen(HWND window, POINT* point) = 0;
  virtual BOOL screenToClient(HWND window, POINT* point) = 0;
  virtual BOOL setWindowText(HWND window, const char* text) = 0;
  virtual LONG_PTR getWindowLongPtr(HWND window, int index) = 0;
  virtual LONG_PTR setWindowLongPtr(HWND window, int index, LONG_PTR value) = 0;
  virtual HWND getForegroundWindow() = 0;

  // Messages
  virtual BOOL postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual LRESULT sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual BOOL peekMessage(MSG* msg, HWND window, UINT first, UINT last, UINT remove) = 0;
  // > 0 for a message, 0 for WM_QUIT, -1 on failure (Win32's three results).
  virtual BOOL getMessage(MSG* msg, HWND window, UINT first, UINT last) = 0;
  virtual BOOL translateMessage(const MSG* msg) = 0;
  virtual LRESULT dispatchMessage(const MSG* msg) = 0;
  virtual void postQuitMessage(int exitCode) = 0;
  virtual LRESULT defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

  // Timers arrive as WM_TIMER with wParam = the id.
  virtual UINT_PTR setTimer(HWND window, UINT_PTR id, UINT milliseconds) = 0;
  virtual BOOL killTimer(HWND window, UINT_PTR id) = 0;

  // Painting: invalid windows receive WM_PAINT when no other message waits.
  virtual BOOL invalidateRect(HWND window, const RECT* rect, BOOL erase) = 0;
  virtual BOOL validateRect(HWND window, const RECT* rect) = 0;
  virtual BOOL updateWindow(HWND window) = 0;
  virtual HDC beginPaint(HWND window, PAINTSTRUCT* paint) = 0;
  virtual BOOL endPaint(HWND window, const PAINTSTRUCT* paint) = 0;
  virtual HDC getDC(HWND window) = 0;
  virtual int releaseDC(HWND window, HDC dc) = 0;
  // The drawing surface behind a device context (nullptr for a bad one).
  virtual Painter* painter(HDC dc) = 0;

  // Cursor
  virtual HCURSOR loadCursor(HINSTANCE instance, uintptr_t name) = 0;
  virtual HCURSOR setCursor(HCURSOR cursor) = 0;
  virtual int showCursor(BOOL show) = 0;

  // Message boxes: the button chosen (IDOK ...).
  virtual int messageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;

  // System values
  virtual int getSystemMetrics(int index) = 0;
  virtual BOOL systemParametersInfo(UINT action, UINT param, void* data, UINT winIni) = 0;

  // Monitors.  hasMultiMonitorFunctions() tells whether the system offers the
  // multi-monitor functions; when it does not, the free functions below
  // answer with the single-monitor emulation instead of calling these.
  virtual bool hasMultiMonitorFunctions() = 0;
  virtual HMONITOR monitorFromWindow(HWND window, DWORD flags) = 0;
  virtual HMONITOR monitorFromRect(const RECT* rect, DWORD flags) = 0;
  virtual HMONITOR monitorFromPoint(POINT point, DWORD flags) = 0;
  virtual BOOL enumDisplayMonitors(HDC dc, const RECT* clip, MONITORENUMPROC callback, LPARAM data) = 0;
  virtual BOOL getMonitorInfo(HMONITOR monitor, MONITORINFO* info) = 0;
  virtual BOOL enumDisplayDevices(const char* device, DWORD index, DISPLAY_DEVICEA* info, DWORD flags) = 0;
  virtual BOOL enumDisplaySettings(const char* device, DWORD mode, DEVMODEA* info) = 0;
};

// The process-wide window system; the SDL back end unless a test installed
// another.  setWindowSystem(nullptr) goes back to the SDL back end.  The
// caller keeps ownership of what it installs.
WindowSystem& windowSystem();
void setWindowSystem(WindowSystem* system);

// Installs a window system for the life of this object (tests).
class ScopedWindowSystem {
 public:
  explicit ScopedWindowSystem(WindowSystem& system);
  ~ScopedWindowSystem();
  ScopedWindowSystem(const ScopedWindowSystem&) = delete;
  ScopedWindowSystem& operator=(const ScopedWindowSystem&) = delete;

 private:
  WindowSystem* previous_;
};

// ---- the Win32 calls ----------------------------------------------------------
ATOM RegisterClassA(const WNDCLASSA* wc);
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
BOOL SetWindowTextA(HWND window, const char* text);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
HWND GetForegroundWindow();
// Windows have no frame to add here: the rectangle stays as it is.
BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu);

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove);
BOOL GetMessageA(MSG* msg, HWND window, UINT first, UINT last);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
void PostQuitMessage(int exitCode);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, void* timerProc = nullptr);
BOOL KillTimer(HWND window, UINT_PTR id);

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);
BOOL UpdateWindow(HWND window);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

HCURSOR LoadCursorA(HINSTANCE instance, uintptr_t name);
HCURSOR SetCursor(HCURSOR cursor);
int ShowCursor(BOOL show);

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

int GetSystemMetrics(int index);
BOOL SystemParametersInfoA(UINT action, UINT param, void* data, UINT winIni);

// Monitors: the system's answers when it has the multi-monitor functions,
// else the single-monitor emulation (one pseudo monitor with handle
// PRIMARY_MONITOR_EMULATED covering the primary screen, named "DISPLAY").
HMONITOR MonitorFromWindow(HWND window, DWORD flags);
HMONITOR MonitorFromRect(const RECT* rect, DWORD flags);
HMONITOR MonitorFromPoint(POINT point, DWORD flags);
BOOL EnumDisplayMonitors(HDC dc, const RECT* clip, MONITORENUMPROC callback, LPARAM data);
// info->cbSize tells the form: sizeof(MONITORINFO) or sizeof(MONITORINFOEXA).
BOOL GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info);
BOOL EnumDisplayDevicesA(const char* device, DWORD index, DISPLAY_DEVICEA* info, DWORD flags);
BOOL EnumDisplaySettingsA(const char* device, DWORD mode, DEVMODEA* info);

// Rectangle helpers with their Win32 meaning.
BOOL IntersectRect(RECT* out, const RECT* a, const RECT* b);
BOOL UnionRect(RECT* out, const RECT* a, const RECT* b);
BOOL IsRectEmpty(const RECT* rect);
BOOL PtInRect(const RECT* rect, POINT point);
BOOL SetRect(RECT* rect, int left, int top, int right, int bottom);
BOOL OffsetRect(RECT* rect, int dx, int dy);

}  // namespace platform
