#include "platform/testing/scriptedwindows.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {
std::string hex(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}
std::string num(long long v) { return std::to_string(v); }

void copyText(char* out, size_t room, const std::string& text) {
  std::strncpy(out, text.c_str(), room - 1);
  out[room - 1] = '\0';
}
}  // namespace

ScriptedWindowSystem::ScriptedWindowSystem() {
  logCanvases_ = true;
  setMonitors({RECT{0, 0, 1024, 768}});
}

ScriptedWindowSystem::~ScriptedWindowSystem() = default;

void ScriptedWindowSystem::setMonitors(const std::vector<RECT>& rects) {
  displays.clear();
  for (size_t i = 0; i < rects.size(); ++i) {
    Display d;
    d.rect = rects[i];
    d.work = rects[i];
    d.deviceName = "\\\\.\\DISPLAY" + std::to_string(i + 1);
    d.description = "Scripted Display Adapter " + std::to_string(i + 1);
    d.stateFlags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | (i == 0 ? DISPLAY_DEVICE_PRIMARY_DEVICE : 0);
    d.handle = 0x00010001 + i;
    displays.push_back(d);
  }
}

const ScriptedWindowSystem::Display* ScriptedWindowSystem::primary() const {
  for (const Display& d : displays)
    if (d.handle && (d.stateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE)) return &d;
  for (const Display& d : displays)
    if (d.handle) return &d;
  return nullptr;
}

std::vector<ScriptedWindowSystem::Delivery> ScriptedWindowSystem::deliveriesOf(UINT message) const {
  std::vector<Delivery> out;
  for (const Delivery& d : deliveries)
    if (d.msg.message == message) out.push_back(d);
  return out;
}

int ScriptedWindowSystem::pump(int limit) {
  int count = 0;
  MSG msg;
  while (count < limit && peekMessage(&msg, 0, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit message for the code under test to find.
      postQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    translateMessage(&msg);
    dispatchMessage(&msg);
    ++count;
  }
  return count;
}

HWND ScriptedWindowSystem::createWindow(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                                        int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                                        void* param) {
  HWND h = BasicWindowSystem::createWindow(exStyle, className, title, style, x, y, width, height, parent, menu,
                                           instance, param);
  log.push_back("CreateWindowExA(" + hex(exStyle) + ", " + (className ? className : "") + ", " + hex(style) + ", " +
                num(x) + ", " + num(y) + ", " + num(width) + ", " + num(height) + ", " + hex(parent) + ") = " + hex(h));
  return h;
}

BOOL ScriptedWindowSystem::destroyWindow(HWND window) {
  log.push_back("DestroyWindow(" + hex(window) + ")");
  return BasicWindowSystem::destroyWindow(window);
}

BOOL ScriptedWindowSystem::showWindow(HWND window, int command) {
  log.push_back("ShowWindow(" + hex(window) + ", " + num(command) + ")");
  return BasicWindowSystem::showWindow(window, command);
}

BOOL ScriptedWindowSystem::setWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags) {
  log.push_back("SetWindowPos(" + hex(window) + ", " + num(static_cast<intptr_t>(after)) + ", " + num(x) + ", " +
                num(y) + ", " + num(cx) + ", " + num(cy) + ", " + hex(flags) + ")");
  return BasicWindowSystem::setWindowPos(window, after, x, y, cx, cy, flags);
}

BOOL ScriptedWindowSystem::postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  log.push_back("PostMessageA(" + hex(window) + ", " + hex(message) + ", " + hex(wParam) + ", " +
                hex(static_cast<uint64_t>(lParam)) + ")");
  return BasicWindowSystem::postMessage(window, message, wParam, lParam);
}

void ScriptedWindowSystem::postQuitMessage(int exitCode) {
  log.push_back("PostQuitMessage(" + num(exitCode) + ")");
  BasicWindowSystem::postQuitMessage(exitCode);
}

UINT_PTR ScriptedWindowSystem::setTimer(HWND window, UINT_PTR id, UINT milliseconds) {
  log.push_back("SetTimer(" + hex(window) + ", " + num(static_cast<long long>(id)) + ", " + num(milliseconds) + ")");
  return BasicWindowSystem::setTimer(window, id, milliseconds);
}

BOOL ScriptedWindowSystem::killTimer(HWND window, UINT_PTR id) {
  log.push_back("KillTimer(" + hex(window) + ", " + num(static_cast<long long>(id)) + ")");
  return BasicWindowSystem::killTimer(window, id);
}

BOOL ScriptedWindowSystem::invalidateRect(HWND window, const RECT* rect, BOOL erase) {
  std::string r =
      rect ? num(rect->left) + " " + num(rect->top) + " " + num(rect->right) + " " + num(rect->bottom) : "null";
  log.push_back("InvalidateRect(" + hex(window) + ", " + r + ", " + num(erase) + ")");
  return BasicWindowSystem::invalidateRect(window, rect, erase);
}

HCURSOR ScriptedWindowSystem::setCursor(HCURSOR cursor) {
  log.push_back("SetCursor(" + hex(cursor) + ")");
  return BasicWindowSystem::setCursor(cursor);
}

int ScriptedWindowSystem::showCursor(BOOL show) {
  log.push_back("ShowCursor(" + num(show) + ")");
  return BasicWindowSystem::showCursor(show);
}

int ScriptedWindowSystem::messageBox(HWND owner, const char* text, const char* caption, UINT type) {
  messageBoxes.push_back(MessageBoxCall{owner, text ? text : "", caption ? caption : "", type});
  log.push_back("MessageBoxA(" + hex(owner) + ", " + (text ? text : "") + ", " + (caption ? caption : "") + ", " +
                hex(type) + ")");
  if (messageBoxAnswers.empty()) return IDOK;
  int answer = messageBoxAnswers.front();
  messageBoxAnswers.pop_front();
  return answer;
}

int ScriptedWindowSystem::getSystemMetrics(int index) {
  auto fixed = systemMetrics.find(index);
  if (fixed != systemMetrics.end()) return fixed->second;
  const Display* p = primary();
  RECT virt{};
  int count = 0;
  for (const Display& d : displays) {
    if (!d.handle) continue;
    UnionRect(&virt, &virt, &d.rect);
    ++count;
  }
  switch (index) {
    case SM_CXSCREEN: return p ? p->rect.right - p->rect.left : 0;
    case SM_CYSCREEN: return p ? p->rect.bottom - p->rect.top : 0;
    case SM_XVIRTUALSCREEN: return virt.left;
    case SM_YVIRTUALSCREEN: return virt.top;
    case SM_CXVIRTUALSCREEN: return virt.right - virt.left;
    case SM_CYVIRTUALSCREEN: return virt.bottom - virt.top;
    case SM_CMONITORS: return count;
    case SM_SAMEDISPLAYFORMAT: {
      for (const Display& d : displays)
        if (d.handle && p && d.bitsPerPel != p->bitsPerPel) return 0;
      return 1;
    }
    default: return 0;
  }
}

BOOL ScriptedWindowSystem::systemParametersInfo(UINT action, UINT param, void* data, UINT winIni) {
  log.push_back("SystemParametersInfoA(" + num(action) + ", " + num(param) + ", " + num(winIni) + ")");
  if (action == SPI_SCREENSAVERRUNNING) {
    screenSaverRunning = static_cast<int>(param);
    return TRUE;
  }
  if (action == SPI_GETWORKAREA) {
    const Display* p = primary();
    if (!p || !data) return FALSE;
    *static_cast<RECT*>(data) = p->work;
    return TRUE;
  }
  return FALSE;
}

HMONITOR ScriptedWindowSystem::monitorFromRect(const RECT* rect, DWORD flags) {
  HMONITOR best = 0;
  long long bestArea = 0;
  if (rect) {
    for (const Display& d : displays) {
      if (!d.handle) continue;
      long long a = overlapArea(*rect, d.rect);
      if (a > bestArea) {
        bestArea = a;
        best = d.handle;
      }
    }
  }
  if (best) return best;
  if (flags == MONITOR_DEFAULTTOPRIMARY) return primary() ? primary()->handle : 0;
  if (flags == MONITOR_DEFAULTTONEAREST && rect) {
    POINT centre{(rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2};
    return monitorFromPoint(centre, MONITOR_DEFAULTTONEAREST);
  }
  return 0;
}

HMONITOR ScriptedWindowSystem::monitorFromPoint(POINT point, DWORD flags) {
  HMONITOR nearest = 0;
  long long nearestDistance = -1;
  for (const Display& d : displays) {
    if (!d.handle) continue;
    long long dist = distanceSquared(d.rect, point);
    if (dist == 0) return d.handle;
    if (nearestDistance < 0 || dist < nearestDistance) {
      nearestDistance = dist;
      nearest = d.handle;
    }
  }
  if (flags == MONITOR_DEFAULTTOPRIMARY) return primary() ? primary()->handle : 0;
  if (flags == MONITOR_DEFAULTTONEAREST) return nearest;
  return 0;
}

HMONITOR ScriptedWindowSystem::monitorFromWindow(HWND window, DWORD flags) {
  RECT r;
  if (!getWindowRect(window, &r)) return flags == MONITOR_DEFAULTTONULL ? 0 : monitorFromRect(nullptr, flags);
  if (IsRectEmpty(&r)) {
    POINT p{r.left, r.top};
    return monitorFromPoint(p, flags);
  }
  return monitorFromRect(&r, flags);
}

BOOL ScriptedWindowSystem::enumDisplayMonitors(HDC dc, const RECT* clip, MONITORENUMPROC callback, LPARAM data) {
  if (!callback) return FALSE;
  for (const Display& d : displays) {
    if (!d.handle) continue;
    RECT r = d.rect;
    if (clip && !IntersectRect(&r, &r, clip)) continue;
    if (!callback(d.handle, dc, &r, data)) break;
  }
  return TRUE;
}

BOOL ScriptedWindowSystem::getMonitorInfo(HMONITOR monitor, MONITORINFO* info) {
  if (!info || info->cbSize < sizeof(MONITORINFO)) return FALSE;
  for (const Display& d : displays) {
    if (!d.handle || d.handle != monitor) continue;
    info->rcMonitor = d.rect;
    info->rcWork = d.work;
    info->dwFlags = (d.stateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) ? MONITORINFOF_PRIMARY : 0;
    if (info->cbSize >= sizeof(MONITORINFOEXA))
      copyText(static_cast<MONITORINFOEXA*>(info)->szDevice, CCHDEVICENAME, d.deviceName);
    return TRUE;
  }
  return FALSE;
}

BOOL ScriptedWindowSystem::enumDisplayDevices(const char* device, DWORD index, DISPLAY_DEVICEA* info, DWORD) {
  if (device || !info || info->cb < sizeof(DISPLAY_DEVICEA) || index >= displays.size()) return FALSE;
  const Display& d = displays[index];
  std::memset(reinterpret_cast<char*>(info) + sizeof(info->cb), 0, sizeof(DISPLAY_DEVICEA) - sizeof(info->cb));
  copyText(info->DeviceName, sizeof(info->DeviceName), d.deviceName);
  copyText(info->DeviceString, sizeof(info->DeviceString), d.description);
  info->StateFlags = d.stateFlags;
  return TRUE;
}

BOOL ScriptedWindowSystem::enumDisplaySettings(const char* device, DWORD mode, DEVMODEA* info) {
  if (!info || mode != ENUM_CURRENT_SETTINGS) return FALSE;
  const Display* found = device ? nullptr : primary();
  for (const Display& d : displays)
    if (device && d.deviceName == device) found = &d;
  if (!found) return FALSE;
  info->dmPosition = POINT{found->rect.left, found->rect.top};
  info->dmPelsWidth = static_cast<DWORD>(found->rect.right - found->rect.left);
  info->dmPelsHeight = static_cast<DWORD>(found->rect.bottom - found->rect.top);
  info->dmBitsPerPel = found->bitsPerPel;
  info->dmDisplayFrequency = found->frequency;
  return TRUE;
}

bool ScriptedWindowSystem::nativeCreate(WindowRecord& window) {
  return !(failCreate && failCreate(window.style, window.exStyle));
}

bool ScriptedWindowSystem::foreignClientRect(HWND window, RECT* rect) {
  auto it = foreignWindows.find(window);
  if (it == foreignWindows.end()) return false;
  if (rect) *rect = it->second;
  return true;
}

bool ScriptedWindowSystem::waitNative(DWORD milliseconds) {
  if (milliseconds != 0xFFFFFFFFu) return BasicWindowSystem::waitNative(milliseconds);
  if (onIdle && !idleCalled_) {
    // One chance per wait for the test to post something.
    idleCalled_ = true;
    size_t before = queuedMessages();
    bool quit = quitPending();
    onIdle();
    idleCalled_ = false;
    if (queuedMessages() != before || quitPending() != quit) return true;
  }
  starved = true;
  log.push_back("GetMessageA: nothing to wait for");
  return false;
}

void ScriptedWindowSystem::delivered(const MSG& msg, LRESULT result, bool sent) {
  deliveries.push_back(Delivery{msg, result, sent});
}

}  // namespace platform
