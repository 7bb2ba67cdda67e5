// Monitors, the device list and the choice of device and mode.
#include <gtest/gtest.h>

#include "shellrig.h"

using namespace shelltest;
using platform::ScriptedDirect3D8;

namespace {

D3DDISPLAYMODE m(UINT w, UINT h, D3DFORMAT f, UINT refresh = 60) { return ScriptedDirect3D8::mode(w, h, f, refresh); }

}  // namespace

TEST(DeviceList, FloorMergedRefreshRatesSortOrderAndDefaultMode) {
  Rig rig;
  rig.addAdapter(0, 0x11,
                 {m(320, 200, D3DFMT_X8R8G8B8), m(640, 350, D3DFMT_R5G6B5), m(512, 384, D3DFMT_X8R8G8B8),
                  m(800, 600, D3DFMT_X8R8G8B8), m(640, 480, D3DFMT_X8R8G8B8, 60), m(640, 480, D3DFMT_X8R8G8B8, 75),
                  m(640, 480, D3DFMT_R5G6B5, 60), m(640, 400, D3DFMT_R5G6B5), m(640, 480, D3DFMT_X1R5G5B5),
                  m(640, 480, D3DFMT_R5G6B5, 85)});
  auto app = rig.makeApp("/s");
  app->create(0);
  ASSERT_FALSE(app->errorMode);
  ASSERT_EQ(app->adapterCount, 1u);
  const AdapterInfo& adapter = *app->adapters[0];
  ASSERT_EQ(adapter.deviceKindCount, 1u);  // the water application refuses the software renderer
  const DeviceKind& hal = adapter.deviceKinds[0];
  EXPECT_STREQ(hal.name, "HAL");
  // Below 640x400 is dropped, refresh rates merge, and the order is width,
  // height, then format number downwards.
  EXPECT_EQ(modesText(hal), "640x400/23 640x480/24 640x480/23 640x480/22 800x600/22");
  // The default is the first 16-bit 640x480 mode.
  EXPECT_EQ(modeText(hal.modes[hal.currentMode]), "640x480/24");
  for (uint32_t i = 0; i < hal.modeCount; ++i) EXPECT_EQ(hal.modes[i].behaviourFlags, 0x80u);
  EXPECT_TRUE(adapter.hasHal && adapter.hasCompatibleHal);
  EXPECT_FALSE(adapter.hasSw || adapter.hasCompatibleSw);
  EXPECT_EQ(adapter.monitorIndex, 0);
  EXPECT_EQ(app->monitors[0].adapterIndex, 0);
}

TEST(DeviceList, DefaultModeWithout16BitOr640x480) {
  struct Case {
    std::vector<D3DDISPLAYMODE> modes;
    std::string expected;
  };
  const Case cases[] = {
      {{m(640, 480, D3DFMT_X8R8G8B8), m(640, 480, D3DFMT_A8R8G8B8), m(800, 600, D3DFMT_X8R8G8B8)}, "640x480/21"},
      {{m(800, 600, D3DFMT_X8R8G8B8), m(1024, 768, D3DFMT_X8R8G8B8)}, "800x600/22"},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.addAdapter(0, 0x11, c.modes);
    auto app = rig.makeApp("/s");
    app->create(0);
    const DeviceKind& hal = app->adapters[0]->deviceKinds[0];
    EXPECT_EQ(modeText(hal.modes[hal.currentMode]), c.expected);
  }
}

TEST(DeviceList, BehaviourFlagsFollowCapsAndConfirmDevice) {
  struct Case {
    bool plain;
    DWORD devCapsAdded;
    bool software;
    DWORD expected;
  };
  const Case cases[] = {
      {true, 0, false, 0x40},                       // hardware vertex processing
      {true, D3DDEVCAPS_PUREDEVICE, false, 0x50},   // pure device first
      {true, 0, true, 0x20},                        // no hardware T&L: software
      {false, D3DDEVCAPS_PUREDEVICE, false, 0x80},  // the water application asks for mixed
  };
  for (const Case& c : cases) {
    Rig rig;
    auto& adapter = rig.addAdapter(0);
    if (c.software) {
      adapter.swCaps = ScriptedDirect3D8::standardSwCaps();
      adapter.halCaps.reset();
    } else {
      adapter.halCaps->DevCaps |= c.devCapsAdded;
    }
    auto app = rig.makeApp("/s", c.plain);
    app->create(0);
    ASSERT_EQ(app->adapters[0]->deviceKindCount, 1u);
    EXPECT_EQ(app->adapters[0]->deviceKinds[0].modes[0].behaviourFlags, c.expected);
  }
}

TEST(DeviceList, NoCompatibleDevice) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> setUp;
  };
  const Case cases[] = {
      {"only modes below 640x400",
       [](Rig& r) {
         r.addAdapter(0, 0x11, {m(512, 384, D3DFMT_X8R8G8B8), m(640, 350, D3DFMT_R5G6B5)});
       }},
      {"no hardware T&L",
       [](Rig& r) {
         auto& a = r.addAdapter(0);
         a.halCaps->DevCaps &= ~D3DDEVCAPS_HWTRANSFORMANDLIGHT;
       }},
      {"vertex shader 1.0",
       [](Rig& r) {
         auto& a = r.addAdapter(0);
         a.halCaps->VertexShaderVersion = D3DVS_VERSION(1, 0);
         a.swCaps = ScriptedDirect3D8::standardSwCaps();
       }},
      {"no adapter at all", [](Rig&) {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    c.setUp(rig);
    auto app = rig.makeApp("/s");
    app->create(0);
    EXPECT_TRUE(app->errorMode);
    EXPECT_EQ(app->errorCode, errNoCompatibleDevices);
    for (uint32_t a = 0; a < app->adapterCount; ++a) EXPECT_EQ(app->adapters[a]->deviceKindCount, 0u);
  }
}

TEST(DeviceList, RefusedAdapterBesideAGoodOne) {
  Rig rig;
  rig.setMonitors(2);
  rig.addAdapter(0).halCaps->VertexShaderVersion = 0;
  rig.addAdapter(1, 0x22);
  auto app = rig.makeApp("/s");
  app->create(0);
  EXPECT_FALSE(app->errorMode);
  EXPECT_EQ(app->adapters[0]->deviceKindCount, 0u);
  EXPECT_TRUE(app->adapters[0]->hasHal);
  EXPECT_FALSE(app->adapters[0]->hasCompatibleHal);
  EXPECT_EQ(app->adapters[1]->deviceKindCount, 1u);
  uint32_t best = 99;
  ASSERT_TRUE(app->findBestAdapter(&best));
  EXPECT_EQ(best, 1u);
}

TEST(DeviceList, FindBestAdapterPrefersHardwareElseTheLastSoftware) {
  Rig rig;
  rig.setMonitors(3);
  for (int i = 0; i < 3; ++i) {
    auto& a = rig.addAdapter(i, static_cast<BYTE>(0x10 + i));
    a.swCaps = ScriptedDirect3D8::standardSwCaps();
    if (i != 2) a.halCaps.reset();
  }
  auto app = rig.makeApp("/s", true);
  app->create(0);
  uint32_t best = 99;
  ASSERT_TRUE(app->findBestAdapter(&best));
  EXPECT_EQ(best, 2u);  // the only hardware one
  app->adapters[2]->hasCompatibleHal = false;
  ASSERT_TRUE(app->findBestAdapter(&best));
  EXPECT_EQ(best, 2u);  // software everywhere: the last monitor's
  app->adapters[2]->hasCompatibleSw = false;
  ASSERT_TRUE(app->findBestAdapter(&best));
  EXPECT_EQ(best, 1u);
  for (int i = 0; i < 3; ++i) app->adapters[i]->hasCompatibleSw = false;
  EXPECT_FALSE(app->findBestAdapter(&best));
}

TEST(FullscreenDevice, AutomaticHalUsesTheDesktopModeThenStepsDownToSixteenBit) {
  Rig rig;
  rig.addAdapter(0, 0x11,
                 {m(640, 480, D3DFMT_X8R8G8B8), m(1024, 768, D3DFMT_X8R8G8B8), m(1024, 768, D3DFMT_R5G6B5),
                  m(1024, 768, D3DFMT_X1R5G5B5), m(800, 600, D3DFMT_X8R8G8B8)});
  rig.d3d.createDeviceResults = {D3DERR_NOTAVAILABLE};
  auto app = rig.makeApp("/s");
  app->create(0);
  ASSERT_FALSE(app->errorMode);
  app->startDevices();
  ASSERT_FALSE(app->errorMode);
  ASSERT_EQ(rig.d3d.createCalls.size(), 2u);
  const auto& first = rig.d3d.createCalls[0];
  EXPECT_EQ(first.params.BackBufferWidth, 1024u);
  EXPECT_EQ(first.params.BackBufferHeight, 768u);
  EXPECT_EQ(first.params.BackBufferFormat, D3DFMT_X8R8G8B8);
  // The next try: the same size in the highest-numbered format that is not 32-bit.
  const auto& second = rig.d3d.createCalls[1];
  EXPECT_EQ(second.params.BackBufferFormat, D3DFMT_X1R5G5B5);
  EXPECT_EQ(second.params.BackBufferWidth, 1024u);
  EXPECT_EQ(second.type, D3DDEVTYPE_HAL);
  EXPECT_EQ(second.behaviourFlags, 0x80u);
  EXPECT_EQ(second.focusWindow, app->mainWindow);
  EXPECT_EQ(second.params.SwapEffect, D3DSWAPEFFECT_DISCARD);
  EXPECT_EQ(second.params.FullScreen_PresentationInterval, D3DPRESENT_INTERVAL_ONE);
  EXPECT_EQ(second.params.BackBufferCount, 1u);
  EXPECT_FALSE(second.params.Windowed);
  EXPECT_FALSE(second.params.EnableAutoDepthStencil);
  EXPECT_EQ(second.params.hDeviceWindow, app->monitors[0].window);
  ASSERT_EQ(app->unitCount, 1u);
  EXPECT_EQ(app->units[0].presentParams.BackBufferFormat, D3DFMT_X1R5G5B5);
  EXPECT_EQ(app->units[0].monitorIndex, 0);
}

TEST(FullscreenDevice, StepDownOrder) {
  DeviceKind kind;
  const std::pair<uint32_t, uint32_t> sizes[] = {{640, 480}, {800, 600}, {1024, 768}};
  for (auto [w, h] : sizes)
    for (D3DFORMAT f : {D3DFMT_R5G6B5, D3DFMT_X8R8G8B8}) kind.modes[kind.modeCount++] = ModeInfo{w, h, f, 0x80};
  kind.currentMode = 5;  // 1024x768 X8R8G8B8
  std::vector<std::string> tried{modeText(kind.modes[kind.currentMode])};
  while (SaverApp::stepDownMode(kind)) tried.push_back(modeText(kind.modes[kind.currentMode]));
  const std::vector<std::string> expected{"1024x768/22", "1024x768/23", "800x600/22",
                                          "800x600/23",  "640x480/22",  "640x480/23"};
  EXPECT_EQ(tried, expected);
}

TEST(FullscreenDevice, EveryModeFailingReturnsTheLastFailure) {
  Rig rig;
  rig.addAdapter(0);
  rig.d3d.createDeviceRule = [](UINT, D3DDEVTYPE, DWORD, const D3DPRESENT_PARAMETERS& p) {
    return p.BackBufferWidth == 640 ? D3DERR_OUTOFVIDEOMEMORY : D3DERR_NOTAVAILABLE;
  };
  auto app = rig.makeApp("/s");
  app->create(0);
  RenderUnit unit;
  unit.adapterIndex = 0;
  EXPECT_EQ(app->createFullscreenDevice(unit), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(rig.d3d.createCalls.size(), 6u);
  EXPECT_EQ(unit.device, nullptr);
}

TEST(FullscreenDevice, SoftwareAutomaticNeverUsesHeight400) {
  Rig rig;
  auto& adapter =
      rig.addAdapter(0, 0x11,
                     {m(640, 400, D3DFMT_R5G6B5), m(640, 400, D3DFMT_X8R8G8B8), m(640, 480, D3DFMT_X8R8G8B8),
                      m(640, 480, D3DFMT_R5G6B5), m(800, 600, D3DFMT_R5G6B5)});
  adapter.halCaps.reset();
  adapter.swCaps = ScriptedDirect3D8::standardSwCaps();
  auto app = rig.makeApp("/s", true);
  app->create(0);
  RenderUnit unit;
  unit.adapterIndex = 0;
  ASSERT_EQ(app->createFullscreenDevice(unit), S_OK);
  EXPECT_EQ(unit.deviceType, D3DDEVTYPE_SW);
  EXPECT_EQ(unit.presentParams.BackBufferHeight, 480u);
  // On equal height a 16-bit mode is kept.
  EXPECT_EQ(unit.presentParams.BackBufferFormat, D3DFMT_R5G6B5);
}

TEST(FullscreenDevice, SavedModeIsUsedWhenOfferedElseAutomatic) {
  struct Case {
    DWORD width, height, format;
    std::string expected;
  };
  const Case cases[] = {
      {800, 600, D3DFMT_R5G6B5, "800x600/23"},
      {800, 600, D3DFMT_A8R8G8B8, "1024x768/22"},  // no longer offered: the desktop mode
      {1280, 1024, D3DFMT_X8R8G8B8, "1024x768/22"},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.addAdapter(0);
    auto app = rig.makeApp("/s");
    app->create(0);
    app->adapters[0]->modeWidth = c.width;
    app->adapters[0]->modeHeight = c.height;
    app->adapters[0]->modeFormat = c.format;
    RenderUnit unit;
    unit.adapterIndex = 0;
    ASSERT_EQ(app->createFullscreenDevice(unit), S_OK);
    const auto& p = unit.presentParams;
    EXPECT_EQ(std::to_string(p.BackBufferWidth) + "x" + std::to_string(p.BackBufferHeight) + "/" +
                  std::to_string(p.BackBufferFormat),
              c.expected);
  }
}

TEST(FullscreenDevice, DisabledHardware) {
  {
    // Without a software renderer there is nothing to use...
    Rig rig;
    rig.addAdapter(0);
    auto app = rig.makeApp("/s");
    app->create(0);
    app->adapters[0]->disableHardware = 1;
    RenderUnit unit;
    unit.adapterIndex = 0;
    EXPECT_EQ(app->createFullscreenDevice(unit), errNoHardwareDevice);
    // ...and the saver leaves that monitor black rather than failing.
    app->startDevices();
    EXPECT_FALSE(app->errorMode);
    EXPECT_EQ(app->unitCount, 0u);
    EXPECT_TRUE(rig.d3d.createCalls.empty());
  }
  {
    Rig rig;
    rig.addAdapter(0).swCaps = ScriptedDirect3D8::standardSwCaps();
    auto app = rig.makeApp("/s", true);
    app->create(0);
    app->adapters[0]->disableHardware = 1;
    RenderUnit unit;
    unit.adapterIndex = 0;
    ASSERT_EQ(app->createFullscreenDevice(unit), S_OK);
    EXPECT_EQ(unit.deviceType, D3DDEVTYPE_SW);
  }
}

TEST(WindowedDevice, FormatOrderAndParameters) {
  Rig rig;
  auto& adapter = rig.addAdapter(0);
  adapter.desktopMode.Format = D3DFMT_X1R5G5B5;
  adapter.modes.push_back(m(1024, 768, D3DFMT_X1R5G5B5));
  // The desktop's own format and A8R8G8B8 are refused for windows.
  adapter.checkDeviceType = [](D3DDEVTYPE, D3DFORMAT display, D3DFORMAT back, BOOL windowed) -> HRESULT {
    if (!windowed) return back == display ? D3D_OK : D3DERR_NOTAVAILABLE;
    return (back == D3DFMT_X1R5G5B5 || back == D3DFMT_A8R8G8B8) ? D3DERR_NOTAVAILABLE : D3D_OK;
  };
  auto app = rig.makeApp("/t");
  app->create(0);
  ASSERT_FALSE(app->errorMode);
  app->startDevices();
  ASSERT_FALSE(app->errorMode);
  ASSERT_EQ(rig.d3d.createCalls.size(), 1u);
  const auto& call = rig.d3d.createCalls[0];
  EXPECT_EQ(call.params.BackBufferFormat, D3DFMT_X8R8G8B8);
  EXPECT_TRUE(call.params.Windowed);
  EXPECT_EQ(call.params.BackBufferWidth, 0u);
  EXPECT_EQ(call.params.SwapEffect, D3DSWAPEFFECT_COPY);
  EXPECT_EQ(call.params.FullScreen_PresentationInterval, D3DPRESENT_INTERVAL_DEFAULT);
  EXPECT_EQ(call.params.hDeviceWindow, app->mainWindow);
  EXPECT_EQ(call.behaviourFlags, 0x80u);
  EXPECT_EQ(app->adapters[0]->currentDeviceKind, 0u);
}

TEST(WindowedDevice, NoWindowedKindFails) {
  struct Case {
    const char* switches;
    HRESULT expected;
  };
  for (const Case& c : {Case{"/t", errCreateDeviceFailed}, Case{"/p 77", errNoPreview}}) {
    Rig rig;
    rig.ws.foreignWindows[77] = RECT{0, 0, 200, 150};
    rig.addAdapter(0).halCaps->Caps2 &= ~D3DCAPS2_CANRENDERWINDOWED;
    auto app = rig.makeApp(c.switches);
    app->create(0);
    ASSERT_FALSE(app->errorMode);
    RenderUnit unit;
    unit.adapterIndex = 0;
    EXPECT_EQ(app->createWindowedDevice(unit), errNoHardwareDevice);
    EXPECT_EQ(app->adapters[0]->currentDeviceKind, kNone);
    app->startDevices();
    EXPECT_TRUE(app->errorMode);
    EXPECT_EQ(app->errorCode, c.expected);
  }
}

TEST(Monitors, MirrorsSkippedDetachedWithoutHandleAndEmulation) {
  Rig rig;
  rig.setMonitors(2);
  platform::ScriptedWindowSystem::Display mirror = rig.ws.displays[1];
  mirror.stateFlags = DISPLAY_DEVICE_MIRRORING_DRIVER;
  mirror.description = "Mirror";
  platform::ScriptedWindowSystem::Display detached = rig.ws.displays[1];
  detached.stateFlags = 0;
  detached.handle = 0;
  detached.description = "Detached";
  detached.deviceName = "\\\\.\\DISPLAY9";
  rig.ws.displays.insert(rig.ws.displays.begin() + 1, mirror);
  rig.ws.displays.push_back(detached);
  rig.addAdapter(0);
  rig.addAdapter(1, 0x22);
  rig.addAdapter(-1, 0x33);  // the detached one: Direct3D names no monitor
  auto app = rig.makeApp("/s");
  app->create(0);
  ASSERT_EQ(app->monitorCount, 3u);
  EXPECT_STREQ(app->monitors[0].adapterName, "Scripted Display Adapter 1");
  EXPECT_STREQ(app->monitors[1].adapterName, "Scripted Display Adapter 2");
  EXPECT_EQ(app->monitors[1].screenRect.left, 1024);
  EXPECT_EQ(app->monitors[1].screenRect.right, 2048);
  EXPECT_STREQ(app->monitors[2].adapterName, "Detached");
  EXPECT_EQ(app->monitors[2].monitorHandle, 0u);
  EXPECT_EQ(app->monitors[2].adapterIndex, -1);
  EXPECT_EQ(app->monitors[2].window, 0u);  // no window for it in full mode
  EXPECT_EQ(app->adapters[2]->monitorIndex, -1);

  platform::ScriptedWindowSystem single;
  single.multiMonitorFunctions = false;
  platform::ScopedWindowSystem guard(single);
  SaverApp plain;
  plain.enumMonitors();
  ASSERT_EQ(plain.monitorCount, 1u);
  EXPECT_STREQ(plain.monitors[0].adapterName, "DISPLAY");
  EXPECT_EQ(plain.monitors[0].monitorHandle, PRIMARY_MONITOR_EMULATED);
  EXPECT_EQ(plain.monitors[0].screenRect.right, 1024);
}
