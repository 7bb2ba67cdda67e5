#pragma once
// A scripted desktop for the shell's tests: monitors and windows from the
// scripted window system, adapters from the scripted Direct3D, a manual
// clock that records every sleep, and an application that notes its hooks
// and lets a test act at chosen frames or timer ticks.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/testing/d3d8doubles.h"
#include "platform/testing/scriptedwindows.h"
#include "shell/frameclock.h"
#include "shell/watersaverapp.h"

namespace shelltest {

// Keeps every sleep so that tests can check the frame pacing.
class SleepLog : public platform::ManualClock {
 public:
  void sleep(DWORD milliseconds) override {
    sleeps.push_back(milliseconds);
    ManualClock::sleep(milliseconds);
  }
  std::vector<DWORD> sleeps;
};

inline HMONITOR monitorHandle(int index) { return static_cast<HMONITOR>(0x00010001 + index); }

// A test's timer id: its WM_TIMER runs the test's action.
inline constexpr UINT_PTR kTestTimer = 99;

// The water application with its hooks noted.  `plain` makes confirmDevice
// accept everything (the shell's own behaviour) for tests of the shell's
// choices without the water application's requirements.
class RecordingApp : public WaterSaverApp {
 public:
  bool plain = false;
  std::vector<std::string> hooks;
  uint64_t renders = 0;
  uint32_t renderMicroseconds = 100;
  SleepLog* clock = nullptr;
  // Called after each render with the count so far.
  std::function<void(RecordingApp&, uint64_t)> onRender;
  // Called on WM_TIMER kTestTimer.
  std::function<void(RecordingApp&)> onTimer;
  // A run that reaches this many renders ends (so that a failing test
  // cannot loop for ever).
  uint64_t renderLimit = 2000;
  HRESULT initResult = S_OK;

  HRESULT confirmDevice(const D3DCAPS8& caps, DWORD flags, D3DFORMAT format) override {
    return plain ? S_OK : WaterSaverApp::confirmDevice(caps, flags, format);
  }
  void prepareUnitScene(uint32_t unit) override { hooks.push_back("prepareUnitScene " + std::to_string(unit)); }
  HRESULT oneTimeSceneInit() override {
    hooks.push_back("oneTimeSceneInit");
    return S_OK;
  }
  HRESULT initDeviceObjects() override {
    hooks.push_back("initDeviceObjects " + deviceName());
    return initResult;
  }
  HRESULT restoreDeviceObjects() override {
    hooks.push_back("restoreDeviceObjects " + deviceName());
    return S_OK;
  }
  HRESULT invalidateDeviceObjects() override {
    hooks.push_back("invalidateDeviceObjects " + deviceName());
    return S_OK;
  }
  HRESULT deleteDeviceObjects() override {
    hooks.push_back("deleteDeviceObjects " + deviceName());
    return S_OK;
  }
  HRESULT finalCleanup() override {
    hooks.push_back("finalCleanup");
    return S_OK;
  }
  // A run whose loop turns this many times without ending ends (so that a
  // loop that renders nothing cannot spin a failing test for ever).
  uint64_t frameMoves = 0;
  uint64_t frameMoveLimit = 100000;
  HRESULT frameMove() override {
    if (++frameMoves >= frameMoveLimit) platform::PostQuitMessage(0);
    return WaterSaverApp::frameMove();
  }
  HRESULT render() override {
    if (clock) clock->advanceMicroseconds(renderMicroseconds);
    WaterSaverApp::render();
    ++renders;
    if (onRender) onRender(*this, renders);
    if (renders >= renderLimit) platform::PostQuitMessage(0);
    return S_OK;
  }
  LRESULT saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_TIMER && wParam == kTestTimer) {
      if (onTimer) onTimer(*this);
      return 0;
    }
    return WaterSaverApp::saverProc(window, message, wParam, lParam);
  }
  // The device of the current unit as "d<index in creation order>".
  std::string deviceName() const;
  int count(const std::string& hook) const {
    int n = 0;
    for (const auto& h : hooks)
      if (h.rfind(hook, 0) == 0) ++n;
    return n;
  }

  platform::ScriptedDirect3D8* d3dDouble = nullptr;
};

class Rig {
 public:
  Rig();
  ~Rig();

  // Monitors side by side, each 1024x768 unless given.
  void setMonitors(int count, int width = 1024, int height = 768);
  // An adapter on monitor `monitor` (-1: none) with HAL caps, desktop
  // 1024x768 X8R8G8B8 and the given modes (a common set when empty).
  platform::ScriptedAdapter& addAdapter(int monitor, BYTE guidByte = 0x11, std::vector<D3DDISPLAYMODE> modes = {});
  static std::vector<D3DDISPLAYMODE> commonModes();

  // A recording application on this rig with the command line "aquaveil <switches>".
  std::unique_ptr<RecordingApp> makeApp(const std::string& switches, bool plain = false);

  platform::ScriptedWindowSystem ws;
  platform::ScriptedDirect3D8 d3d;
  SleepLog clock;

 private:
  platform::ScopedWindowSystem wsGuard_{ws};
  platform::ScopedDirect3D d3dGuard_{d3d};
};

// The display mode as "WxH/format".
std::string modeText(const ModeInfo& mode);
std::string modesText(const DeviceKind& kind);

}  // namespace shelltest
