#include "platform/window.h"

#include <algorithm>
#include <cstring>

#include "platform/sdlbackend.h"

namespace platform {

namespace {
WindowSystem* installed = nullptr;

bool emulated() { return !windowSystem().hasMultiMonitorFunctions(); }

RECT primaryScreen() {
  RECT r;
  r.right = windowSystem().getSystemMetrics(SM_CXSCREEN);
  r.bottom = windowSystem().getSystemMetrics(SM_CYSCREEN);
  return r;
}

bool intersects(const RECT& a, const RECT& b) {
  RECT out;
  return IntersectRect(&out, &a, &b) != FALSE;
}

void copyName(char* out, size_t room, const char* text) {
  std::strncpy(out, text, room - 1);
  out[room - 1] = '\0';
}
}  // namespace

WindowSystem& windowSystem() {
  if (installed) return *installed;
  return sdlWindowSystem();
}

void setWindowSystem(WindowSystem* system) { installed = system; }

ScopedWindowSystem::ScopedWindowSystem(WindowSystem& system) : previous_(installed) { installed = &system; }
ScopedWindowSystem::~ScopedWindowSystem() { installed = previous_; }

ATOM RegisterClassA(const WNDCLASSA* wc) { return wc ? windowSystem().registerClass(*wc) : 0; }
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  return windowSystem().createWindow(exStyle, className, title, style, x, y, width, height, parent, menu, instance,
                                     param);
}
BOOL DestroyWindow(HWND window) { return windowSystem().destroyWindow(window); }
BOOL IsWindow(HWND window) { return windowSystem().isWindow(window); }
BOOL IsWindowVisible(HWND window) { return windowSystem().isWindowVisible(window); }
BOOL ShowWindow(HWND window, int command) { return windowSystem().showWindow(window, command); }
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags) {
  return windowSystem().setWindowPos(window, after, x, y, cx, cy, flags);
}
BOOL GetClientRect(HWND window, RECT* rect) { return windowSystem().getClientRect(window, rect); }
BOOL GetWindowRect(HWND window, RECT* rect) { return windowSystem().getWindowRect(window, rect); }
BOOL ClientToScreen(HWND window, POINT* point) { return windowSystem().clientToScreen(window, point); }
BOOL ScreenToClient(HWND window, POINT* point) { return windowSystem().screenToClient(window, point); }
BOOL SetWindowTextA(HWND window, const char* text) { return windowSystem().setWindowText(window, text); }
LONG_PTR GetWindowLongPtrA(HWND window, int index) { return windowSystem().getWindowLongPtr(window, index); }
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  return windowSystem().setWindowLongPtr(window, index, value);
}
HWND GetForegroundWindow() { return windowSystem().getForegroundWindow(); }
BOOL AdjustWindowRect(RECT* rect, DWORD, BOOL) { return rect ? TRUE : FALSE; }

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return windowSystem().postMessage(window, message, wParam, lParam);
}
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return windowSystem().sendMessage(window, message, wParam, lParam);
}
BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
  return windowSystem().peekMessage(msg, window, first, last, remove);
}
BOOL GetMessageA(MSG* msg, HWND window, UINT first, UINT last) {
  return windowSystem().getMessage(msg, window, first, last);
}
BOOL TranslateMessage(const MSG* msg) { return windowSystem().translateMessage(msg); }
LRESULT DispatchMessageA(const MSG* msg) { return windowSystem().dispatchMessage(msg); }
void PostQuitMessage(int exitCode) { windowSystem().postQuitMessage(exitCode); }
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return windowSystem().defWindowProc(window, message, wParam, lParam);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, void*) {
  return windowSystem().setTimer(window, id, milliseconds);
}
BOOL KillTimer(HWND window, UINT_PTR id) { return windowSystem().killTimer(window, id); }

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  return windowSystem().invalidateRect(window, rect, erase);
}
BOOL ValidateRect(HWND window, const RECT* rect) { return windowSystem().validateRect(window, rect); }
BOOL UpdateWindow(HWND window) { return windowSystem().updateWindow(window); }
HDC BeginPaint(HWND window, PAINTSTRUCT* paint) { return windowSystem().beginPaint(window, paint); }
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) { return windowSystem().endPaint(window, paint); }
HDC GetDC(HWND window) { return windowSystem().getDC(window); }
int ReleaseDC(HWND window, HDC dc) { return windowSystem().releaseDC(window, dc); }

HCURSOR LoadCursorA(HINSTANCE instance, uintptr_t name) { return windowSystem().loadCursor(instance, name); }
HCURSOR SetCursor(HCURSOR cursor) { return windowSystem().setCursor(cursor); }
int ShowCursor(BOOL show) { return windowSystem().showCursor(show); }

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  return windowSystem().messageBox(owner, text ? text : "", caption ? caption : "Error", type);
}

int GetSystemMetrics(int index) {
  if (emulated()) {
    // The virtual screen is the primary screen; one monitor, one format.
    switch (index) {
      case SM_XVIRTUALSCREEN:
      case SM_YVIRTUALSCREEN: return 0;
      case SM_CXVIRTUALSCREEN: return windowSystem().getSystemMetrics(SM_CXSCREEN);
      case SM_CYVIRTUALSCREEN: return windowSystem().getSystemMetrics(SM_CYSCREEN);
      case SM_CMONITORS:
      case SM_SAMEDISPLAYFORMAT: return 1;
      default: break;
    }
  }
  return windowSystem().getSystemMetrics(index);
}

BOOL SystemParametersInfoA(UINT action, UINT param, void* data, UINT winIni) {
  return windowSystem().systemParametersInfo(action, param, data, winIni);
}

HMONITOR MonitorFromWindow(HWND window, DWORD flags) {
  if (!emulated()) return windowSystem().monitorFromWindow(window, flags);
  if (flags & (MONITOR_DEFAULTTOPRIMARY | MONITOR_DEFAULTTONEAREST)) return PRIMARY_MONITOR_EMULATED;
  RECT r;
  if (!windowSystem().getWindowRect(window, &r)) return 0;
  return intersects(r, primaryScreen()) ? PRIMARY_MONITOR_EMULATED : 0;
}

HMONITOR MonitorFromRect(const RECT* rect, DWORD flags) {
  if (!emulated()) return windowSystem().monitorFromRect(rect, flags);
  if (flags & (MONITOR_DEFAULTTOPRIMARY | MONITOR_DEFAULTTONEAREST)) return PRIMARY_MONITOR_EMULATED;
  return rect && intersects(*rect, primaryScreen()) ? PRIMARY_MONITOR_EMULATED : 0;
}

HMONITOR MonitorFromPoint(POINT point, DWORD flags) {
  if (!emulated()) return windowSystem().monitorFromPoint(point, flags);
  if (flags & (MONITOR_DEFAULTTOPRIMARY | MONITOR_DEFAULTTONEAREST)) return PRIMARY_MONITOR_EMULATED;
  RECT screen = primaryScreen();
  return PtInRect(&screen, point) ? PRIMARY_MONITOR_EMULATED : 0;
}

BOOL EnumDisplayMonitors(HDC dc, const RECT* clip, MONITORENUMPROC callback, LPARAM data) {
  if (!emulated()) return windowSystem().enumDisplayMonitors(dc, clip, callback, data);
  if (!callback) return FALSE;
  RECT r = primaryScreen();
  if (clip && !IntersectRect(&r, &r, clip)) return TRUE;
  callback(PRIMARY_MONITOR_EMULATED, dc, &r, data);
  return TRUE;
}

BOOL GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info) {
  if (!emulated()) return windowSystem().getMonitorInfo(monitor, info);
  if (monitor != PRIMARY_MONITOR_EMULATED || !info || info->cbSize < sizeof(MONITORINFO)) return FALSE;
  info->rcMonitor = primaryScreen();
  if (!windowSystem().systemParametersInfo(SPI_GETWORKAREA, 0, &info->rcWork, 0)) info->rcWork = info->rcMonitor;
  info->dwFlags = MONITORINFOF_PRIMARY;
  if (info->cbSize >= sizeof(MONITORINFOEXA)) {
    copyName(static_cast<MONITORINFOEXA*>(info)->szDevice, CCHDEVICENAME, "DISPLAY");
  }
  return TRUE;
}

BOOL EnumDisplayDevicesA(const char* device, DWORD index, DISPLAY_DEVICEA* info, DWORD flags) {
  if (!emulated()) return windowSystem().enumDisplayDevices(device, index, info, flags);
  if (device || index != 0 || !info || info->cb < sizeof(DISPLAY_DEVICEA)) return FALSE;
  std::memset(reinterpret_cast<char*>(info) + sizeof(info->cb), 0, sizeof(DISPLAY_DEVICEA) - sizeof(info->cb));
  copyName(info->DeviceName, sizeof(info->DeviceName), "DISPLAY");
  copyName(info->DeviceString, sizeof(info->DeviceString), "DISPLAY");
  info->StateFlags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE;
  return TRUE;
}

BOOL EnumDisplaySettingsA(const char* device, DWORD mode, DEVMODEA* info) {
  // The emulation's one device "DISPLAY" is the primary screen.
  if (emulated() && device && std::strcmp(device, "DISPLAY") == 0) device = nullptr;
  return windowSystem().enumDisplaySettings(device, mode, info);
}

BOOL IntersectRect(RECT* out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
         std::min(a->bottom, b->bottom)};
  if (r.left >= r.right || r.top >= r.bottom) {
    *out = RECT{};
    return FALSE;
  }
  *out = r;
  return TRUE;
}

BOOL UnionRect(RECT* out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  bool aEmpty = IsRectEmpty(a), bEmpty = IsRectEmpty(b);
  if (aEmpty && bEmpty) {
    *out = RECT{};
    return FALSE;
  }
  if (aEmpty) {
    *out = *b;
    return TRUE;
  }
  if (bEmpty) {
    *out = *a;
    return TRUE;
  }
  *out = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
              std::max(a->bottom, b->bottom)};
  return TRUE;
}

BOOL IsRectEmpty(const RECT* rect) { return !rect || rect->left >= rect->right || rect->top >= rect->bottom; }

BOOL PtInRect(const RECT* rect, POINT point) {
  return rect && point.x >= rect->left && point.x < rect->right && point.y >= rect->top && point.y < rect->bottom;
}

BOOL SetRect(RECT* rect, int left, int top, int right, int bottom) {
  if (!rect) return FALSE;
  *rect = RECT{left, top, right, bottom};
  return TRUE;
}

BOOL OffsetRect(RECT* rect, int dx, int dy) {
  if (!rect) return FALSE;
  rect->left += dx;
  rect->right += dx;
  rect->top += dy;
  rect->bottom += dy;
  return TRUE;
}

}  // namespace platform
