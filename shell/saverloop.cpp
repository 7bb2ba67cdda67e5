// The saver windows, the message loop that renders whenever no message
// waits, the ending rules, device start and stop, lost devices, frame
// pacing and the bouncing error box.
#include <cstring>

#include "platform/clock.h"
#include "platform/draw2d.h"
#include "shell/frameclock.h"
#include "shell/saverapp.h"

using namespace platform;

namespace {

bool isWindowedRunMode(RunMode mode) { return mode == RunMode::preview || mode == RunMode::test; }

int32_t clampSleep(int32_t ms) { return ms < 10 ? 10 : (ms > 55 ? 55 : ms); }

RECT toClient(HWND window, const RECT& screen) {
  POINT topLeft{screen.left, screen.top};
  POINT bottomRight{screen.right, screen.bottom};
  ScreenToClient(window, &topLeft);
  ScreenToClient(window, &bottomRight);
  return RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

RECT boxRect(const MonitorInfo& m) {
  return RECT{static_cast<LONG>(m.errorX), static_cast<LONG>(m.errorY), static_cast<LONG>(m.errorX + m.errorWidth),
              static_cast<LONG>(m.errorY + m.errorHeight)};
}

}  // namespace

HRESULT SaverApp::createSaverWindows() {
  WNDCLASSA wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = saverWindowProc;
  wc.hInstance = instance;
  wc.hIcon = 0;
  wc.hCursor = LoadCursorA(0, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = kSaverWindowClass;
  RegisterClassA(&wc);

  if (mode == RunMode::preview || (mode == RunMode::full && hostWindow)) {
    // A child filling the window it was given: the control panel's preview,
    // or the window a screen locker gave the saver.
    const HWND parent = mode == RunMode::preview ? parentWindow : hostWindow;
    RECT rc;
    if (parent != 0 && GetClientRect(parent, &rc)) {
      AdjustWindowRect(&rc, WS_VISIBLE | WS_CHILD, FALSE);
      mainWindow = CreateWindowExA(0, kSaverWindowClass, title.c_str(), WS_VISIBLE | WS_CHILD, rc.left, rc.top,
                                   rc.right - rc.left, rc.bottom - rc.top, parent, 0, instance, this);
      monitors[0].window = mainWindow;
    }
  } else if (mode == RunMode::full) {
    for (uint32_t m = 0; m < monitorCount; ++m) {
      MonitorInfo& monitor = monitors[m];
      if (!monitor.monitorHandle) continue;
      const RECT& r = monitor.screenRect;
      const HWND window = CreateWindowExA(WS_EX_TOPMOST, kSaverWindowClass, title.c_str(), WS_POPUP, r.left, r.top,
                                          r.right - r.left, r.bottom - r.top, mainWindow, 0, instance, this);
      if (!window) return E_FAIL;
      monitor.window = window;
      if (!mainWindow) mainWindow = window;
    }
  } else if (mode == RunMode::test) {
    mainWindow = CreateWindowExA(0, kSaverWindowClass, title.c_str(), WS_POPUP, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                                 GetSystemMetrics(SM_CYSCREEN), 0, 0, instance, this);
    monitors[0].window = mainWindow;
  }

  if (mainWindow && (isWindowedRunMode(mode) || hostWindow)) GetClientRect(mainWindow, &renderRect);
  return mainWindow ? S_OK : E_FAIL;
}

HRESULT SaverApp::runSaver() {
  SystemLibraries& libraries = systemLibraries();
  isWin9x = libraries.isWin9x();
  if (mode == RunMode::full && isWin9x) {
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_READ, &key) == ERROR_SUCCESS) {
      DWORD value = 0;
      DWORD size = sizeof(value);
      DWORD type = 0;
      const LONG read =
          RegQueryValueExA(key, "ScreenSaveUsePassword", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
      RegCloseKey(key);
      if (read == ERROR_SUCCESS && size == sizeof(value) && value != 0) {
        passwordLibrary = libraries.loadLibrary("PASSWORD.CPL");
        if (passwordLibrary)
          verifyPassword = reinterpret_cast<VerifyScreenSavePwdProc>(
              libraries.getProcAddress(passwordLibrary, "VerifyScreenSavePwd"));
      }
    }
  }

  if (!errorMode) {
    const HRESULT hr = oneTimeSceneInit();
    if (FAILED(hr)) return hr;
    startDevices();
  }

  if (mode == RunMode::full) SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 1, nullptr, 0);

  MSG msg;
  for (;;) {
    if (terminationRequested()) {
      // The system asked the process to end (SIGTERM): stop as on a stop
      // request that no password guards.
      clearTerminationRequest();
      stopSaver();
    }
    if (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) break;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    } else if (errorMode || unitCount == 0) {
      // Nothing to render (an error, or every monitor left black): wait as
      // the error box does instead of spinning on an idle loop.
      Sleep(30);
      if (!errorMode) continue;
      if (!errorWindowShown) {
        // Every monitor shows the error, not only the first window.
        for (uint32_t m = 0; m < monitorCount; ++m)
          if (monitors[m].window) ShowWindow(monitors[m].window, SW_SHOW);
        if (mainWindow) ShowWindow(mainWindow, SW_SHOW);
        errorWindowShown = true;
      }
      animateErrorBox();
    } else {
      renderFrame();
    }
  }
  return S_OK;
}

LRESULT SaverApp::saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      if (isWindowedRunMode(mode)) stopSaver();
      break;

    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window, &paint);
      if (errorMode || !currentDevice) {
        doPaint(window, dc);
      } else if (FAILED(currentDevice->TestCooperativeLevel())) {
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      } else {
        renderFrame();
      }
      EndPaint(window, &paint);
      return 0;
    }

    case WM_ERASEBKGND:
      if (!checkingPassword) {
        for (uint32_t i = 0; i < unitCount; ++i) {
          const uint32_t a = units[i].adapterIndex;
          if (a < adapterCount && adapters[a] && adapters[a]->deviceWindow == window) return 1;
        }
      }
      break;

    case WM_ACTIVATEAPP:
      // The screen locker that hosts the saver keeps the focus itself.
      if (wParam == 0 && mode != RunMode::test && !hostWindow) requestStop();
      break;

    case WM_SETCURSOR:
      if (mode == RunMode::full && !checkingPassword) {
        SetCursor(NO_CURSOR);
        return 1;
      }
      break;

    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (mode != RunMode::test) requestStop();
      if (wParam == VK_ESCAPE) requestStop();
      break;

    case WM_SYSCOMMAND:
      if (wParam == SC_NEXTWINDOW || wParam == SC_PREVWINDOW || wParam == SC_CLOSE || wParam == SC_SCREENSAVE) return 0;
      break;

    case WM_TIMER:
      waitingForIdle = false;
      KillTimer(window, 1);
      break;

    case WM_MOUSEMOVE:
      if (mode != RunMode::test) {
        const POINT position{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (position.x != lastMousePosition.x || position.y != lastMousePosition.y) {
          lastMousePosition = position;
          ++mouseMoveCount;
          if (mouseMoveCount > 5) requestStop();
        }
      }
      break;

    case WM_POWERBROADCAST:
      if (wParam == PBT_APMSUSPEND && !verifyPassword) requestStop();
      break;

    case WM_USER: SetTimer(window, 1, 500); break;

    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void SaverApp::requestStop() {
  if (!(mode == RunMode::test || (mode == RunMode::full && !checkingPassword))) return;

  if (mode == RunMode::full && isWin9x && verifyPassword) {
    releaseUnitDevices();
    for (uint32_t a = 0; a < adapterCount; ++a) {
      if (!adapters[a] || !adapters[a]->deviceWindow) continue;
      ShowWindow(adapters[a]->deviceWindow, SW_RESTORE);
      ShowWindow(adapters[a]->deviceWindow, SW_MAXIMIZE);
    }

    checkingPassword = true;
    const BOOL accepted = verifyPassword(mainWindow);
    checkingPassword = false;

    if (accepted) {
      unitCount = 0;
      stopSaver();
      return;
    }

    SetCursor(NO_CURSOR);
    mouseMoveCount = 0;
    for (uint32_t i = 0; i < unitCount; ++i) {
      RenderUnit& unit = units[i];
      D3DPRESENT_PARAMETERS params = unit.presentParams;
      Direct3DDevice8* device = nullptr;
      const HRESULT hr =
          d3d ? d3d->CreateDevice(unit.adapterIndex, unit.deviceType, mainWindow, unit.behaviourFlags, &params, &device)
              : E_FAIL;
      if (FAILED(hr)) {
        setError(errCreateDeviceFailed);
        continue;
      }
      unit.device = device;
      selectUnit(i);
      // The scene went with the device objects: make it anew.
      prepareUnitScene(i);
      initAndRestoreUnit(i);
    }
    return;
  }
  stopSaver();
}

void SaverApp::stopSaver() {
  if (mode == RunMode::full) SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 0, nullptr, 0);
  releaseDevices();
  finalCleanup();
  if (passwordLibrary) {
    systemLibraries().freeLibrary(passwordLibrary);
    passwordLibrary = 0;
    verifyPassword = nullptr;
  }
  if (mode == RunMode::full) {
    if (stopped) return;
    stopped = true;
    ShowWindow(mainWindow, SW_HIDE);
    PostQuitMessage(0);
  } else {
    PostQuitMessage(0);
  }
}

void SaverApp::initAndRestoreUnits() {
  for (uint32_t i = 0; i < unitCount; ++i) initAndRestoreUnit(i);
}

bool SaverApp::initAndRestoreUnit(uint32_t index) {
  RenderUnit& unit = units[index];
  selectUnit(index);
  if (FAILED(initDeviceObjects())) {
    setError(errDeviceObjectsFailed);
    return false;
  }
  unit.objectsInitialized = true;
  if (FAILED(restoreDeviceObjects())) {
    setError(errDeviceObjectsFailed);
    return false;
  }
  unit.objectsRestored = true;
  return true;
}

HRESULT SaverApp::startDevices() {
  const bool fullScreen = mode == RunMode::full && !hostWindow;
  if (fullScreen) {
    windowed = false;
    for (uint32_t m = 0; m < monitorCount && unitCount < kMaxRenderUnits; ++m) {
      const int32_t a = monitors[m].adapterIndex;
      if (a < 0 || static_cast<uint32_t>(a) >= adapterCount || !adapters[a]) continue;
      AdapterInfo& adapter = *adapters[a];
      // Hardware switched off without a software renderer leaves the
      // monitor black for this run.
      const bool leaveBlack = adapter.leaveBlack || (adapter.disableHardware && !adapter.hasCompatibleSw);
      if (leaveBlack || adapter.deviceKindCount == 0) continue;
      adapter.deviceWindow = monitors[m].window;
      prepareUnitScene(unitCount);
      RenderUnit& unit = units[unitCount];
      unit = RenderUnit{};
      unit.adapterIndex = static_cast<uint32_t>(a);
      if (FAILED(createFullscreenDevice(unit))) {
        setError(errCreateDeviceFailed);
        unit = RenderUnit{};
      } else {
        ++unitCount;
      }
    }
  } else {
    windowed = true;
    GetClientRect(mainWindow, &renderRect);
    uint32_t a = 0;
    if (!findBestAdapter(&a)) {
      setError(errCreateDeviceFailed);
    } else {
      adapters[a]->deviceWindow = mainWindow;
      if (!errorMode) {
        prepareUnitScene(unitCount);
        RenderUnit& unit = units[unitCount];
        unit = RenderUnit{};
        unit.adapterIndex = a;
        if (FAILED(createWindowedDevice(unit))) {
          unit = RenderUnit{};
          setError(mode == RunMode::preview ? errNoPreview : errCreateDeviceFailed);
        } else {
          ++unitCount;
        }
      }
    }
  }

  for (uint32_t m = 0; m < monitorCount; ++m) {
    MonitorInfo& monitor = monitors[m];
    if (!monitor.monitorHandle) continue;
    MONITORINFO info;
    info.cbSize = sizeof(MONITORINFO);
    if (GetMonitorInfoA(monitor.monitorHandle, &info)) monitor.screenRect = info.rcMonitor;
    if (fullScreen && monitor.window) {
      const RECT& r = monitor.screenRect;
      SetWindowPos(monitor.window, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOACTIVATE);
    }
  }

  if (fullScreen) {
    RECT all{};
    bool first = true;
    for (uint32_t i = 0; i < unitCount; ++i) {
      const int32_t m = units[i].monitorIndex;
      if (m < 0 || static_cast<uint32_t>(m) >= monitorCount) continue;
      if (first) {
        all = monitors[m].screenRect;
        first = false;
      } else {
        UnionRect(&all, &all, &monitors[m].screenRect);
      }
    }
    renderRect = all;
  }

  if (!errorMode) initAndRestoreUnits();
  mouseMoveCount = 0;
  return S_OK;
}

// Takes down every unit's device objects and device; the units stay listed.
void SaverApp::releaseUnitDevices() {
  for (uint32_t i = 0; i < unitCount; ++i) {
    RenderUnit& unit = units[i];
    selectUnit(i);
    if (unit.objectsRestored) {
      invalidateDeviceObjects();
      unit.objectsRestored = false;
    }
    if (unit.objectsInitialized) {
      deleteDeviceObjects();
      unit.objectsInitialized = false;
    }
    if (unit.device) {
      unit.device->Release();
      unit.device = nullptr;
    }
  }
  currentDevice = nullptr;
}

void SaverApp::releaseDevices() {
  releaseUnitDevices();
  unitCount = 0;
  if (d3d) {
    d3d->Release();
    d3d = nullptr;
  }
}

void SaverApp::selectUnit(uint32_t index) {
  currentDevice = index < kMaxRenderUnits ? units[index].device : nullptr;
  selectUnitScene(index);
}

void SaverApp::renderFrame() {
  frameMove();
  FrameClock& clock = frameClock();
  for (uint32_t i = 0; i < unitCount; ++i) {
    RenderUnit& unit = units[i];
    selectUnit(i);
    if (!unit.device) continue;

    const HRESULT level = unit.device->TestCooperativeLevel();
    if (FAILED(level)) {
      Sleep(10);
      // A lost device shows nothing new until it can be reset.
      if (level == D3DERR_DEVICELOST) return;
      if (level == D3DERR_DEVICENOTRESET) {
        if (windowed && d3d && unit.adapterIndex < adapterCount && adapters[unit.adapterIndex])
          d3d->GetAdapterDisplayMode(unit.adapterIndex, &adapters[unit.adapterIndex]->desktopMode);
        if (unit.objectsRestored) {
          invalidateDeviceObjects();
          unit.objectsRestored = false;
        }
        D3DPRESENT_PARAMETERS params = unit.presentParams;
        if (FAILED(unit.device->Reset(&params))) {
          setError(errResetFailed);
          continue;
        }
        if (FAILED(restoreDeviceObjects()))
          setError(errDeviceObjectsFailed);
        else
          unit.objectsRestored = true;
      }
    }

    const uint32_t t0 = clock.nowMicroseconds();
    render();
    const uint32_t t1 = clock.nowMicroseconds();
    ++framesRendered;
    framePacing(t1 - t0);
  }
  for (uint32_t i = 0; i < unitCount; ++i) {
    selectUnit(i);
    if (units[i].device) units[i].device->Present(nullptr, nullptr, 0, nullptr);
  }
}

void SaverApp::framePacing(uint32_t renderMicroseconds) {
  ++pacedFrames;
  if (pacedFrames > 1 && baseRenderMs == 0) {
    baseRenderMs = renderMicroseconds / 1000;
    sleepMs = clampSleep(sleepMs);
  } else if (pacedFrames == 20) {
    int32_t ms = static_cast<int32_t>(frameClock().elapsedSeconds * 1000.0);
    if (ms < 30) ms = 30;
    sleepMs = ms - static_cast<int32_t>(baseRenderMs);
    sleepMs = sleepMs > 30 ? 30 : clampSleep(sleepMs);
  } else {
    sleepMs = clampSleep(sleepMs);
  }
  Sleep(static_cast<DWORD>(active ? sleepMs : 30));
}

void SaverApp::animateErrorBox() {
  if (errorMode && unitCount > 0) releaseDevices();

  const DWORD now = timeGetTime();
  if (!errorBoxClockStarted) {
    lastErrorBoxTime = now;
    errorBoxClockStarted = true;
  }
  const float dt = static_cast<float>(static_cast<DWORD>(now - lastErrorBoxTime)) * 0.001f;
  lastErrorBoxTime = now;

  ensureErrorText();

  for (uint32_t m = 0; m < monitorCount; ++m) {
    MonitorInfo& monitor = monitors[m];
    if (!monitor.window) continue;
    const RECT area =
        (mode == RunMode::full && !hostWindow) ? toClient(monitor.window, monitor.screenRect) : renderRect;

    if (monitor.errorWidth == 0.0f) {
      if (mode == RunMode::preview) {
        monitor.errorX = 0.0f;
        monitor.errorY = 0.0f;
        monitor.errorWidth = static_cast<float>(area.right - area.left);
        monitor.errorHeight = static_cast<float>(area.bottom - area.top);
        monitor.errorVelocityX = 0.0f;
        monitor.errorVelocityY = 0.0f;
        InvalidateRect(monitor.window, nullptr, FALSE);
        UpdateWindow(monitor.window);
      } else {
        monitor.errorWidth = 300.0f;
        monitor.errorHeight = 150.0f;
        monitor.errorX = static_cast<float>((area.left + area.right - 300) / 2);
        monitor.errorY = static_cast<float>((area.top + area.bottom - 150) / 2);
        monitor.errorVelocityX = static_cast<float>(area.right - area.left) * 0.1f;
        monitor.errorVelocityY = static_cast<float>(area.bottom - area.top) * 0.05f;
      }
    } else if (mode != RunMode::preview) {
      const RECT before = boxRect(monitor);
      const float nextX = monitor.errorX + dt * monitor.errorVelocityX;
      if ((nextX + monitor.errorWidth > area.right && monitor.errorVelocityX > 0) ||
          (nextX < area.left && monitor.errorVelocityX < 0))
        monitor.errorVelocityX = -monitor.errorVelocityX;
      const float nextY = monitor.errorY + dt * monitor.errorVelocityY;
      if ((nextY + monitor.errorHeight > area.bottom && monitor.errorVelocityY > 0) ||
          (nextY < area.top && monitor.errorVelocityY < 0))
        monitor.errorVelocityY = -monitor.errorVelocityY;
      monitor.errorX += dt * monitor.errorVelocityX;
      monitor.errorY += dt * monitor.errorVelocityY;
      const RECT after = boxRect(monitor);
      if (after.left != before.left || after.top != before.top) {
        InvalidateRect(monitor.window, &before, FALSE);
        InvalidateRect(monitor.window, &after, FALSE);
        UpdateWindow(monitor.window);
      }
    }
  }
}

void SaverApp::ensureErrorText() {
  if (!errorText.empty()) return;
  char text[401];
  getTextForError(errorCode, text, sizeof(text));
  errorText = text;
}

void SaverApp::doPaint(HWND window, HDC dc) {
  // The box of the monitor this window belongs to: the one it was made
  // for, else the monitor nearest to it.
  MonitorInfo* monitor = nullptr;
  for (uint32_t m = 0; m < monitorCount && !monitor; ++m)
    if (monitors[m].window == window) monitor = &monitors[m];
  if (!monitor) {
    const HMONITOR nearest = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    for (uint32_t m = 0; m < monitorCount && !monitor; ++m)
      if (nearest && monitors[m].monitorHandle == nearest) monitor = &monitors[m];
  }
  if (!monitor) return;

  // Painted before any error (the preview paints during its start-up
  // wait), the box is empty: the text is taken only once there is an error,
  // so that it is that error's own text.
  if (errorMode) ensureErrorText();
  RECT box = boxRect(*monitor);
  FillRect(dc, &box, static_cast<HBRUSH>(COLOR_WINDOW + 1));
  FrameRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

  RECT measured = box;
  const char* text = errorMode ? errorText.c_str() : "";
  const int textHeight = DrawTextA(dc, text, -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
  RECT textRect = box;
  textRect.top = (box.top + box.bottom - textHeight) / 2;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  DrawTextA(dc, text, -1, &textRect, DT_WORDBREAK | DT_CENTER);

  ExcludeClipRect(dc, box.left, box.top, box.right, box.bottom);
  const RECT screen = toClient(window, monitor->screenRect);
  FillRect(dc, &screen, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}
