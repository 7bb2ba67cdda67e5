// The saver windows, the ending rules, lost devices, frame pacing, the
// error box and the Windows 95/98 password path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>

#include "platform/draw2d.h"
#include "platform/testing/scripteddialogs.h"
#include "shellrig.h"
#include "source/settingsdialogs.h"

using namespace shelltest;
using platform::ScriptedDirect3D8;

namespace {

struct Input {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

bool containsLine(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& l : lines)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

std::string hex(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

TEST(EndingRules, ByMode) {
  struct Case {
    const char* name;
    const char* switches;
    std::vector<Input> inputs;
    bool stops;
  };
  auto moves = [](int distinct, int repeats) {
    std::vector<Input> out;
    for (int i = 0; i < distinct; ++i) out.push_back({WM_MOUSEMOVE, 0, MAKELONG(100 + i, 200)});
    for (int i = 0; i < repeats; ++i) out.push_back({WM_MOUSEMOVE, 0, MAKELONG(100 + distinct - 1, 200)});
    return out;
  };
  const Case cases[] = {
      {"test: left click", "/t", {{WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(5, 5)}}, false},
      {"test: right click", "/t", {{WM_RBUTTONDOWN, MK_RBUTTON, MAKELONG(5, 5)}}, false},
      {"test: mouse moves", "/t", moves(10, 0), false},
      {"test: a key", "/t", {{WM_KEYDOWN, 'A', 0}}, false},
      {"test: deactivation", "/t", {{WM_ACTIVATEAPP, 0, 0}}, false},
      {"test: Escape", "/t", {{WM_KEYDOWN, VK_ESCAPE, 0}}, true},
      {"full: a key", "/s", {{WM_KEYDOWN, 'A', 0}}, true},
      {"full: right click", "/s", {{WM_RBUTTONDOWN, MK_RBUTTON, MAKELONG(5, 5)}}, true},
      {"full: middle click", "/s", {{WM_MBUTTONDOWN, MK_MBUTTON, MAKELONG(5, 5)}}, true},
      {"full: five new positions", "/s", moves(5, 0), false},
      {"full: five new positions, then the same again", "/s", moves(5, 10), false},
      {"full: the sixth new position", "/s", moves(6, 0), true},
      {"full: deactivation", "/s", {{WM_ACTIVATEAPP, 0, 0}}, true},
      {"full: activation", "/s", {{WM_ACTIVATEAPP, 1, 0}}, false},
      {"full: power suspend", "/s", {{WM_POWERBROADCAST, PBT_APMSUSPEND, 0}}, true},
      {"full: SC_CLOSE", "/s", {{WM_SYSCOMMAND, SC_CLOSE, 0}}, false},
      {"full: SC_SCREENSAVE", "/s", {{WM_SYSCOMMAND, SC_SCREENSAVE, 0}}, false},
      {"full: SC_NEXTWINDOW", "/s", {{WM_SYSCOMMAND, SC_NEXTWINDOW, 0}}, false},
      {"preview: a key", "/p 77", {{WM_KEYDOWN, 'A', 0}, {WM_KEYDOWN, VK_ESCAPE, 0}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.ws.foreignWindows[77] = RECT{0, 0, 320, 240};
    rig.addAdapter(0);
    auto app = rig.makeApp(c.switches);
    app->create(0);
    ASSERT_FALSE(app->errorMode);
    HWND window = app->mainWindow;
    app->onRender = [&](RecordingApp&, uint64_t n) {
      if (n == 2)
        for (const Input& in : c.inputs) platform::PostMessageA(window, in.message, in.wParam, in.lParam);
      if (n == 12) platform::PostQuitMessage(0);
    };
    EXPECT_EQ(app->run(), 0);
    EXPECT_EQ(app->count("finalCleanup") > 0, c.stops);
    EXPECT_EQ(app->renders, c.stops ? 2u : 12u);
    if (c.stops) {
      // Devices and scene objects went before the loop ended.
      EXPECT_EQ(app->count("deleteDeviceObjects"), 1);
      EXPECT_EQ(rig.d3d.devices[0]->refCount(), 0u);
    }
    // The system menu cannot close a saver window.
    EXPECT_TRUE(rig.ws.deliveriesOf(WM_CLOSE).empty());
    EXPECT_TRUE(platform::IsWindow(window));
  }
}

TEST(EndingRules, StopTurnsOffTheRunningFlagAndHidesOnce) {
  Rig rig;
  rig.addAdapter(0);
  auto app = rig.makeApp("/s");
  app->create(0);
  app->onRender = [&](RecordingApp& a, uint64_t n) {
    if (n == 3) {
      EXPECT_EQ(rig.ws.screenSaverRunning, 1);
      platform::PostMessageA(a.mainWindow, WM_KEYDOWN, 'A', 0);
      platform::PostMessageA(a.mainWindow, WM_KEYDOWN, 'B', 0);
    }
  };
  EXPECT_EQ(app->run(), 0);
  EXPECT_EQ(rig.ws.screenSaverRunning, 0);
  int quits = 0;
  for (const auto& l : rig.ws.log)
    if (l.rfind("PostQuitMessage", 0) == 0) ++quits;
  EXPECT_EQ(quits, 1);  // a repeated stop posts nothing more
  EXPECT_FALSE(platform::IsWindowVisible(app->mainWindow));
}

TEST(EndingRules, TerminationRequestEndsTheRun) {
  Rig rig;
  rig.addAdapter(0);
  auto app = rig.makeApp("/s");
  app->create(0);
  app->onRender = [](RecordingApp&, uint64_t n) {
    if (n == 3) requestTermination();
  };
  EXPECT_EQ(app->run(), 0);
  EXPECT_EQ(app->renders, 3u);
  EXPECT_EQ(app->count("finalCleanup"), 1);
  EXPECT_FALSE(terminationRequested());
}

TEST(SaverWindows, OnePerMonitorInFullModeOneInTestMode) {
  {
    Rig rig;
    rig.setMonitors(2);
    rig.addAdapter(0);
    rig.addAdapter(1, 0x22);
    auto app = rig.makeApp("/s");
    app->create(0);
    ASSERT_FALSE(app->errorMode);
    const HWND first = app->monitors[0].window;
    const HWND second = app->monitors[1].window;
    EXPECT_EQ(app->mainWindow, first);
    EXPECT_TRUE(containsLine(
        rig.ws.log, "CreateWindowExA(0x8, WaterSaverWndClass, 0x80000000, 0, 0, 1024, 768, 0x0) = " + hex(first)));
    EXPECT_TRUE(containsLine(rig.ws.log, "CreateWindowExA(0x8, WaterSaverWndClass, 0x80000000, 1024, 0, 1024, 768, " +
                                             hex(first) + ") = " + hex(second)));
    EXPECT_FALSE(platform::IsWindowVisible(first));
    app->startDevices();
    EXPECT_EQ(app->unitCount, 2u);
    EXPECT_EQ(app->renderRect.right, 2048);
    EXPECT_EQ(app->renderRect.bottom, 768);
    EXPECT_EQ(app->count("initDeviceObjects"), 2);
    EXPECT_EQ(app->hooks.front(), "prepareUnitScene 0");
  }
  {
    Rig rig;
    rig.setMonitors(2);
    rig.addAdapter(0);
    auto app = rig.makeApp("/t");
    app->create(0);
    EXPECT_TRUE(containsLine(
        rig.ws.log,
        "CreateWindowExA(0x0, WaterSaverWndClass, 0x80000000, 0, 0, 1024, 768, 0x0) = " + hex(app->mainWindow)));
    EXPECT_EQ(app->monitors[1].window, 0u);
    EXPECT_EQ(app->renderRect.right, 1024);
  }
}

TEST(SaverWindows, PreviewWaitsForTheControlPanelToSettle) {
  Rig rig;
  rig.ws.foreignWindows[4242] = RECT{0, 0, 152, 112};
  rig.addAdapter(0);
  auto app = rig.makeApp("/p 4242");
  app->create(0);
  ASSERT_FALSE(app->errorMode);
  const std::string w = hex(app->mainWindow);
  EXPECT_TRUE(
      containsLine(rig.ws.log, "CreateWindowExA(0x0, WaterSaverWndClass, 0x50000000, 0, 0, 152, 112, 0x1092) = " + w));
  EXPECT_TRUE(containsLine(rig.ws.log, "SetTimer(" + w + ", 1, 500)"));
  EXPECT_TRUE(containsLine(rig.ws.log, "KillTimer(" + w + ", 1)"));
  EXPECT_FALSE(app->waitingForIdle);
  EXPECT_GE(rig.clock.nowMicroseconds(), 500000);
  EXPECT_EQ(app->renderRect.right, 152);
}

TEST(SaverWindows, NoWindowEndsAtOnceWithTheErrorOnStandardError) {
  struct Case {
    const char* switches;
    bool failCreate;
    const char* said;  // what standard error says
  };
  const Case cases[] = {
      {"/p", false, "the preview window could not be created: no window id was given"},
      {"/p 999", false, "aquaveil: no window 999\n"},
      {"/p 0x3E7", false, "aquaveil: no window 0x3E7\n"},
      {"/p abc", false, "aquaveil: invalid window id 'abc'\n"},
      {"/p 99999999999", false, "aquaveil: invalid window id '99999999999'\n"},
      {"/p 0x77", true,
       "could not be created in window 0x77: There was an unspecified problem with this screen saver."},
      {"/s", true, "could not be created: There was an unspecified problem with this screen saver."},
      {"/t", true, "could not be created: There was an unspecified problem with this screen saver."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.switches);
    Rig rig;
    rig.ws.foreignWindows[0x77] = RECT{0, 0, 320, 240};
    rig.addAdapter(0);
    if (c.failCreate) rig.ws.failCreate = [](DWORD, DWORD) { return true; };
    auto app = rig.makeApp(c.switches);
    app->create(0);
    EXPECT_TRUE(app->errorMode);
    testing::internal::CaptureStderr();
    EXPECT_EQ(app->run(), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.said), std::string::npos) << err;
    EXPECT_EQ(app->count("oneTimeSceneInit"), 0);
  }
}

TEST(SaverWindows, ScreenLockerWindowHostsOneUnit) {
  Rig rig;
  rig.setMonitors(2);
  rig.addAdapter(0);
  rig.addAdapter(1, 0x22);
  rig.ws.foreignWindows[0x5000] = RECT{0, 0, 640, 480};
  setenv("XSCREENSAVER_WINDOW", "0x5000", 1);
  auto app = rig.makeApp("/s");
  app->create(0);
  unsetenv("XSCREENSAVER_WINDOW");
  ASSERT_FALSE(app->errorMode);
  EXPECT_EQ(app->hostWindow, 0x5000u);
  EXPECT_TRUE(containsLine(rig.ws.log, "CreateWindowExA(0x0, WaterSaverWndClass, 0x50000000, 0, 0, 640, 480, 0x5000)"));
  EXPECT_EQ(app->monitors[1].window, 0u);
  app->renderLimit = 5;
  EXPECT_EQ(app->run(), 0);
  ASSERT_EQ(rig.d3d.createCalls.size(), 1u);
  EXPECT_TRUE(rig.d3d.createCalls[0].params.Windowed);
  EXPECT_EQ(rig.d3d.createCalls[0].params.hDeviceWindow, app->mainWindow);
  EXPECT_EQ(app->renders, 5u);
}

TEST(SaverWindows, ConfigureModeOpensTheSettingsMenu) {
  Rig rig;
  rig.addAdapter(0);
  platform::ScriptedDialogHost dialogs;
  platform::ScopedDialogHost dialogsGuard(dialogs);
  dialogs.onDialog(kSettingsMenu, [](platform::ScriptedDialog& d) { d.pressEscape(); });
  auto app = rig.makeApp("/c:5678");
  app->create(0);
  EXPECT_EQ(app->parentWindow, 5678u);
  EXPECT_EQ(app->run(), 0);
  EXPECT_EQ(dialogs.opened, std::vector<int>{kSettingsMenu});
  EXPECT_TRUE(rig.ws.messageBoxes.empty());

  // An error from start-up is shown instead.
  Rig bare;
  auto failing = bare.makeApp("/c");
  failing->create(0);
  EXPECT_EQ(failing->run(), 0);
  ASSERT_EQ(bare.ws.messageBoxes.size(), 1u);
  // The text gives Windows advice: this platform's reason stands beside it.
  EXPECT_EQ(bare.ws.messageBoxes[0].text.rfind(loadString(2104), 0), 0u) << bare.ws.messageBoxes[0].text;
  EXPECT_NE(bare.ws.messageBoxes[0].text.find("OpenGL 3.3"), std::string::npos);
  EXPECT_EQ(bare.ws.messageBoxes[0].type, MB_OK | MB_ICONERROR);
}

TEST(ErrorBox, FailureOnTheSecondMonitorShowsTheBoxOnBoth) {
  Rig rig;
  rig.setMonitors(2);
  rig.addAdapter(0);
  rig.addAdapter(1, 0x22);
  rig.d3d.createDeviceRule = [](UINT adapter, D3DDEVTYPE, DWORD, const D3DPRESENT_PARAMETERS&) {
    return adapter == 1 ? D3DERR_NOTAVAILABLE : D3D_OK;
  };
  auto app = rig.makeApp("/s");
  app->create(0);
  ASSERT_FALSE(app->errorMode);
  platform::SetTimer(app->mainWindow, kTestTimer, 300);
  app->onTimer = [](RecordingApp&) { platform::PostQuitMessage(0); };
  EXPECT_EQ(app->run(), 0);

  EXPECT_TRUE(app->errorMode);
  EXPECT_EQ(app->errorCode, errCreateDeviceFailed);
  EXPECT_EQ(app->renders, 0u);
  EXPECT_EQ(app->count("initDeviceObjects"), 0);  // no scene was started anywhere
  EXPECT_EQ(rig.d3d.devices[0]->refCount(), 0u);  // the first monitor's device was let go
  EXPECT_EQ(app->errorText, "Could not create the Direct3D device.");
  for (int m = 0; m < 2; ++m) {
    SCOPED_TRACE(m);
    const HWND window = app->monitors[m].window;
    EXPECT_TRUE(platform::IsWindowVisible(window));
    EXPECT_EQ(app->monitors[m].errorWidth, 300.0f);
    auto* record = rig.ws.record(window);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->canvas);
    EXPECT_TRUE(containsLine(record->canvas->log(), "Could not create the Direct3D device."));
  }
}

TEST(ErrorBox, GeometryBounceAndPaint) {
  Rig rig;  // no adapter: the saver starts in error mode
  auto app = rig.makeApp("/s");
  app->create(0);
  ASSERT_EQ(app->errorCode, errNoCompatibleDevices);
  const HWND window = app->mainWindow;
  platform::ShowWindow(window, SW_SHOW);

  app->animateErrorBox();
  const MonitorInfo& box = app->monitors[0];
  EXPECT_EQ(box.errorX, 362.0f);
  EXPECT_EQ(box.errorY, 309.0f);
  EXPECT_EQ(box.errorWidth, 300.0f);
  EXPECT_EQ(box.errorHeight, 150.0f);
  EXPECT_FLOAT_EQ(box.errorVelocityX, 102.4f);
  EXPECT_FLOAT_EQ(box.errorVelocityY, 38.4f);

  rig.ws.log.clear();
  rig.clock.advanceMicroseconds(1000000);
  app->animateErrorBox();
  EXPECT_FLOAT_EQ(box.errorX, 464.4f);
  EXPECT_FLOAT_EQ(box.errorY, 347.4f);
  const std::string w = hex(window);
  EXPECT_TRUE(containsLine(rig.ws.log, "InvalidateRect(" + w + ", 362 309 662 459, 0)"));
  EXPECT_TRUE(containsLine(rig.ws.log, "InvalidateRect(" + w + ", 464 347 764 497, 0)"));

  // The box was painted where it now is, on black.
  const platform::Painter& canvas = *rig.ws.record(window)->canvas;
  EXPECT_EQ(canvas.pixel(10, 10), 0u);
  EXPECT_EQ(canvas.pixel(464, 347), 0u);  // the black frame
  EXPECT_NE(canvas.pixel(470, 352), 0u);  // the box's face
  EXPECT_TRUE(containsLine(canvas.log(), loadString(2104)));

  // Bouncing at 50 ms steps keeps it inside the screen, turning at each
  // edge.  (Hidden, the window is not repainted at every step.)
  platform::ShowWindow(window, SW_HIDE);
  bool turnedX = false, turnedY = false;
  for (int i = 0; i < 420; ++i) {
    rig.clock.advanceMicroseconds(50000);
    app->animateErrorBox();
    turnedX |= box.errorVelocityX < 0;
    turnedY |= box.errorVelocityY < 0;
    ASSERT_GE(box.errorX, 0.0f);
    ASSERT_LE(box.errorX + box.errorWidth, 1024.0f);
    ASSERT_GE(box.errorY, 0.0f);
    ASSERT_LE(box.errorY + box.errorHeight, 768.0f);
  }
  EXPECT_TRUE(turnedX);
  EXPECT_TRUE(turnedY);
}

TEST(ErrorBox, PreviewFillsTheWholeWindowAndStaysPut) {
  Rig rig;
  rig.ws.foreignWindows[77] = RECT{0, 0, 200, 150};
  auto app = rig.makeApp("/p 77");
  app->create(0);
  ASSERT_TRUE(app->errorMode);
  app->animateErrorBox();
  const MonitorInfo& box = app->monitors[0];
  EXPECT_EQ(box.errorX, 0.0f);
  EXPECT_EQ(box.errorWidth, 200.0f);
  EXPECT_EQ(box.errorHeight, 150.0f);
  EXPECT_TRUE(containsLine(rig.ws.log, "InvalidateRect(" + hex(app->mainWindow) + ", null, 0)"));
  rig.clock.advanceMicroseconds(1000000);
  app->animateErrorBox();
  EXPECT_EQ(box.errorX, 0.0f);
  EXPECT_EQ(box.errorY, 0.0f);
}

TEST(LostDevice, NothingNewUntilNotResetThenResetAndResume) {
  Rig rig;
  rig.addAdapter(0);
  auto app = rig.makeApp("/t");
  app->create(0);
  platform::RecordingDevice* device = nullptr;
  uint64_t rendersWhenLost = 0, rendersAtTimer = 0;
  size_t presentsWhenLost = 0, presentsAtTimer = 0, hooksAtTimer = 0;
  app->onRender = [&](RecordingApp& a, uint64_t n) {
    device = rig.d3d.devices[0].get();
    if (n == 3) {
      device->cooperativeLevel = D3DERR_DEVICELOST;
      rendersWhenLost = n;
      presentsWhenLost = device->callsNamed("Present").size();
      platform::SetTimer(a.mainWindow, kTestTimer, 100);
    }
    if (n == 6) platform::PostQuitMessage(0);
  };
  app->onTimer = [&](RecordingApp& a) {
    platform::KillTimer(a.mainWindow, kTestTimer);
    rendersAtTimer = a.renders;
    presentsAtTimer = device->callsNamed("Present").size();
    hooksAtTimer = a.hooks.size();
    device->cooperativeLevel = D3DERR_DEVICENOTRESET;
  };
  app->run();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(rendersAtTimer, rendersWhenLost);
  EXPECT_EQ(presentsAtTimer, presentsWhenLost + 1);  // the frame that was under way
  ASSERT_EQ(device->callsNamed("Reset").size(), 1u);
  EXPECT_TRUE(device->callsNamed("Reset")[0]->params.Windowed);
  EXPECT_EQ(device->callsNamed("Reset")[0]->params.SwapEffect, D3DSWAPEFFECT_COPY);
  const std::vector<std::string> after(app->hooks.begin() + static_cast<long>(hooksAtTimer), app->hooks.end());
  ASSERT_GE(after.size(), 2u);
  EXPECT_EQ(after[0], "invalidateDeviceObjects d0");
  EXPECT_EQ(after[1], "restoreDeviceObjects d0");
  EXPECT_EQ(app->renders, 6u);
  EXPECT_FALSE(app->errorMode);
  // While lost, each idle turn paused 10 ms.
  int tens = 0;
  for (DWORD s : rig.clock.sleeps) tens += s == 10;
  EXPECT_GE(tens, 10);
}

TEST(LostDevice, FailedResetShowsTheErrorBox) {
  Rig rig;
  rig.addAdapter(0);
  auto app = rig.makeApp("/t");
  app->create(0);
  app->onRender = [&](RecordingApp&, uint64_t n) {
    if (n == 2) {
      rig.d3d.devices[0]->cooperativeLevel = D3DERR_DEVICENOTRESET;
      rig.d3d.devices[0]->failNext("Reset", D3DERR_INVALIDCALL);
      platform::SetTimer(app->mainWindow, kTestTimer, 200);
    }
  };
  app->onTimer = [](RecordingApp&) { platform::PostQuitMessage(0); };
  app->run();
  EXPECT_TRUE(app->errorMode);
  EXPECT_EQ(app->errorCode, errResetFailed);
  EXPECT_EQ(app->renders, 2u);
  EXPECT_EQ(app->unitCount, 0u);  // released at the first idle moment
  EXPECT_EQ(rig.d3d.devices[0]->refCount(), 0u);
}

TEST(FramePacing, SleepsOverTheFirstRenders) {
  struct Case {
    uint32_t renderMicroseconds;
    bool active;
    DWORD fromTwentieth;
  };
  const Case cases[] = {
      {500, true, 10},    // under 1 ms: the base is never measured
      {5000, true, 25},   // 30 - 5
      {2000, true, 28},   // 30 - 2
      {20000, true, 10},  // 30 - 20 is the floor already
      {5000, false, 30},  // inactive frames always sleep 30 ms
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.renderMicroseconds);
    Rig rig;
    rig.addAdapter(0);
    auto app = rig.makeApp("/t");
    app->create(0);
    app->renderMicroseconds = c.renderMicroseconds;
    app->active = c.active;
    app->renderLimit = 24;
    app->run();
    ASSERT_EQ(rig.clock.sleeps.size(), 24u);
    for (size_t i = 0; i < 24; ++i) {
      const DWORD expected = !c.active ? 30 : (i < 19 ? 10 : c.fromTwentieth);
      EXPECT_EQ(rig.clock.sleeps[i], expected) << "render " << i + 1;
    }
  }
}

TEST(FrameClock, CounterAndMillisecondSources) {
  {
    platform::ManualClock clock(3000000);  // 3 MHz counter
    platform::setClock(&clock);
    FrameClock fc;
    fc.start();
    EXPECT_TRUE(fc.hasCounter);
    EXPECT_EQ(fc.unitsPerSecond, 1000000);
    clock.advanceMicroseconds(16667);
    fc.tick();
    EXPECT_NEAR(fc.elapsedSeconds, 0.016667, 1e-6);
    EXPECT_EQ(fc.nowMicroseconds(), 16667u);
    platform::setClock(nullptr);
  }
  {
    platform::ManualClock clock(0);  // no counter: the millisecond timer
    platform::setClock(&clock);
    FrameClock fc;
    fc.start();
    EXPECT_FALSE(fc.hasCounter);
    EXPECT_EQ(fc.unitsPerSecond, 1000);
    clock.advanceMicroseconds(40500);
    fc.tick();
    EXPECT_DOUBLE_EQ(fc.elapsedSeconds, 0.040);
    EXPECT_EQ(fc.nowMicroseconds(), 40000u);
    platform::setClock(nullptr);
  }
}

namespace {

// A Windows 95/98 system with the password check: answers in order.
std::deque<BOOL> passwordAnswers;
std::vector<HWND> passwordOwners;
bool checkingDuringCall = false;

BOOL fakeVerifyScreenSavePwd(HWND owner) {
  passwordOwners.push_back(owner);
  checkingDuringCall = currentApp() && currentApp()->checkingPassword;
  const BOOL answer = passwordAnswers.empty() ? TRUE : passwordAnswers.front();
  if (!passwordAnswers.empty()) passwordAnswers.pop_front();
  return answer;
}

class Win9xLibraries : public SystemLibraries {
 public:
  bool isWin9x() override { return true; }
  HMODULE loadLibrary(const char* name) override {
    loads.push_back(name);
    return std::string(name) == "PASSWORD.CPL" ? 0x5150 : 0;
  }
  FARPROC getProcAddress(HMODULE library, const char* name) override {
    if (library == 0x5150 && std::string(name) == "VerifyScreenSavePwd")
      return reinterpret_cast<FARPROC>(&fakeVerifyScreenSavePwd);
    return nullptr;
  }
  void freeLibrary(HMODULE library) override { frees.push_back(library); }
  std::vector<std::string> loads;
  std::vector<HMODULE> frees;
};

void setPasswordFlag(DWORD value) {
  HKEY key = 0;
  ASSERT_EQ(platform::RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key), ERROR_SUCCESS);
  platform::RegSetValueExA(key, "ScreenSaveUsePassword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof(value));
  platform::RegCloseKey(key);
}

}  // namespace

TEST(Password, RefusedRecreatesTheDevicesAcceptedEnds) {
  Rig rig;
  rig.addAdapter(0);
  Win9xLibraries libraries;
  setSystemLibraries(&libraries);
  setPasswordFlag(1);
  passwordAnswers = {FALSE, TRUE};
  passwordOwners.clear();

  auto app = rig.makeApp("/s");
  app->create(0);
  app->onRender = [&](RecordingApp& a, uint64_t n) {
    if (n == 3) platform::PostMessageA(a.mainWindow, WM_KEYDOWN, 'A', 0);
    // With a password check loaded a suspend does not end the saver.
    if (n == 5) platform::PostMessageA(a.mainWindow, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    if (n == 8) platform::PostMessageA(a.mainWindow, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  };
  EXPECT_EQ(app->run(), 0);
  setSystemLibraries(nullptr);
  setPasswordFlag(0);

  EXPECT_EQ(libraries.loads, std::vector<std::string>{"PASSWORD.CPL"});
  ASSERT_EQ(passwordOwners.size(), 2u);
  EXPECT_EQ(passwordOwners[0], app->mainWindow);
  EXPECT_TRUE(checkingDuringCall);
  EXPECT_FALSE(app->checkingPassword);
  EXPECT_EQ(app->renders, 8u);
  // The refusal re-created the device as it was and started its objects again.
  ASSERT_EQ(rig.d3d.createCalls.size(), 2u);
  EXPECT_EQ(rig.d3d.createCalls[1].type, rig.d3d.createCalls[0].type);
  EXPECT_EQ(rig.d3d.createCalls[1].behaviourFlags, rig.d3d.createCalls[0].behaviourFlags);
  EXPECT_EQ(rig.d3d.createCalls[1].params.BackBufferWidth, rig.d3d.createCalls[0].params.BackBufferWidth);
  EXPECT_EQ(rig.d3d.createCalls[1].params.BackBufferFormat, rig.d3d.createCalls[0].params.BackBufferFormat);
  EXPECT_EQ(rig.d3d.createCalls[1].focusWindow, app->mainWindow);
  const std::vector<std::string> expected{
      "oneTimeSceneInit",           "prepareUnitScene 0",         "initDeviceObjects d0",   "restoreDeviceObjects d0",
      "invalidateDeviceObjects d0", "deleteDeviceObjects d0",     "prepareUnitScene 0",     "initDeviceObjects d1",
      "restoreDeviceObjects d1",    "invalidateDeviceObjects d1", "deleteDeviceObjects d1", "finalCleanup"};
  EXPECT_EQ(app->hooks, expected);
  EXPECT_EQ(rig.d3d.devices[0]->refCount(), 0u);
  EXPECT_EQ(rig.d3d.devices[1]->refCount(), 0u);
  EXPECT_EQ(libraries.frees, std::vector<HMODULE>{0x5150});
}

TEST(Password, NotAskedWithoutTheFlagOrOutsideWindows9x) {
  for (DWORD flag : {0u, 1u}) {
    Rig rig;
    rig.addAdapter(0);
    Win9xLibraries libraries;
    if (flag) {
      // The flag is set but this is no Windows 95/98: the default libraries.
      setPasswordFlag(1);
    } else {
      setSystemLibraries(&libraries);
      setPasswordFlag(0);
    }
    passwordOwners.clear();
    auto app = rig.makeApp("/s");
    app->create(0);
    app->onRender = [](RecordingApp& a, uint64_t n) {
      if (n == 2) platform::PostMessageA(a.mainWindow, WM_KEYDOWN, 'A', 0);
    };
    app->run();
    setSystemLibraries(nullptr);
    setPasswordFlag(0);
    EXPECT_TRUE(libraries.loads.empty());
    EXPECT_TRUE(passwordOwners.empty());
    EXPECT_EQ(app->renders, 2u);
  }
}

namespace {

std::vector<std::string> passwordChanges;

DWORD fakePwdChangePassword(const char* provider, HWND owner, DWORD reserved, void* reserved2) {
  passwordChanges.push_back(std::string(provider) + " " + std::to_string(owner) + " " + std::to_string(reserved) + " " +
                            (reserved2 ? "ptr" : "null"));
  return 0;
}

class MprLibraries : public SystemLibraries {
 public:
  HMODULE loadLibrary(const char* name) override { return std::string(name) == "MPR.DLL" ? 0x4d50 : 0; }
  FARPROC getProcAddress(HMODULE library, const char* name) override {
    if (library == 0x4d50 && std::string(name) == "PwdChangePasswordA")
      return reinterpret_cast<FARPROC>(&fakePwdChangePassword);
    return nullptr;
  }
  void freeLibrary(HMODULE library) override { frees.push_back(library); }
  std::vector<HMODULE> frees;
};

}  // namespace

TEST(Password, ChangeGoesToTheSystemDialogWhenThereIsOne) {
  Rig rig;
  rig.addAdapter(0);
  passwordChanges.clear();
  {
    // This desktop has no such dialog: nothing happens.
    auto app = rig.makeApp("/a 99");
    app->create(0);
    EXPECT_EQ(app->mode, RunMode::passwordChange);
    EXPECT_EQ(app->run(), 0);
    EXPECT_TRUE(passwordChanges.empty());
    EXPECT_TRUE(rig.ws.messageBoxes.empty());
  }
  MprLibraries libraries;
  setSystemLibraries(&libraries);
  auto app = rig.makeApp("/a 99");
  app->create(0);
  EXPECT_EQ(app->run(), 0);
  setSystemLibraries(nullptr);
  EXPECT_EQ(passwordChanges, std::vector<std::string>{"SCRSAVE 99 0 null"});
  EXPECT_EQ(libraries.frees, std::vector<HMODULE>{0x4d50});
}

TEST(SaverLoop, WithNothingToRenderTheLoopSleeps) {
  // Every monitor left black: no unit, no error.  The loop waits as the
  // error box does instead of turning without pause.
  Rig rig;
  rig.setMonitors(2);
  rig.addAdapter(0);
  rig.addAdapter(1, 0x22);
  auto app = rig.makeApp("/s");
  app->create(0);
  ASSERT_FALSE(app->errorMode);
  app->adapters[0]->leaveBlack = 1;
  app->adapters[1]->leaveBlack = 1;
  platform::SetTimer(app->mainWindow, kTestTimer, 3000);
  app->onTimer = [](RecordingApp&) { platform::PostQuitMessage(0); };
  EXPECT_EQ(app->run(), 0);
  EXPECT_FALSE(app->errorMode);
  EXPECT_EQ(app->unitCount, 0u);
  EXPECT_EQ(app->renders, 0u);
  // Three seconds of 30 ms waits, not thousands of idle turns.
  ASSERT_FALSE(rig.clock.sleeps.empty());
  for (DWORD ms : rig.clock.sleeps) EXPECT_EQ(ms, 30u);
  EXPECT_LE(rig.clock.sleeps.size(), 101u);
  EXPECT_LT(app->frameMoves, 10u);
}

TEST(ErrorBox, EachPreviewErrorShowsItsOwnText) {
  // The preview is painted during its start-up wait, before any error: the
  // text must still be the error's own once one comes.
  struct Case {
    const char* what;
    bool adapter;
    HRESULT code;
    int text;
  } cases[] = {{"no preview device", true, errNoPreview, 2112}, {"no adapter", false, errCreateDeviceFailed, 2103}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    rig.ws.foreignWindows[77] = RECT{0, 0, 200, 150};
    if (c.adapter) rig.addAdapter(0);
    auto app = rig.makeApp("/p 77");
    app->create(0);
    if (!c.adapter) {
      // create() found nothing compatible; the preview itself fails later.
      app->errorMode = false;
      app->errorCode = S_OK;
    }
    rig.d3d.createDeviceRule = [](UINT, D3DDEVTYPE, DWORD, const D3DPRESENT_PARAMETERS&) { return E_FAIL; };
    // What the start-up wait paints, before any error.
    platform::InvalidateRect(app->mainWindow, nullptr, FALSE);
    platform::UpdateWindow(app->mainWindow);
    EXPECT_TRUE(app->errorText.empty()) << app->errorText;
    platform::SetTimer(app->mainWindow, kTestTimer, 300);
    app->onTimer = [](RecordingApp&) { platform::PostQuitMessage(0); };
    app->run();
    EXPECT_TRUE(app->errorMode);
    EXPECT_EQ(app->errorCode, c.code);
    EXPECT_EQ(app->errorText, loadString(c.text));
  }
}
