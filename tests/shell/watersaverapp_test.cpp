// The water application's hooks on the scripted desktop: the base states of
// a restore, the scenes per unit, the mouse in the water, the windowed
// reset and its messages, the music.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "player/musiccontroller.h"
#include "player/soundcardoutput.h"
#include "shellrig.h"
#include "source/config.h"

using namespace shelltest;
using platform::RecordingDevice;

namespace {

// The real application, counting its renders so that a run can end.
class WaterApp : public WaterSaverApp {
 public:
  uint64_t renders = 0;
  uint64_t renderLimit = 500;
  std::function<void(WaterApp&, uint64_t)> onRender;
  std::vector<std::string> songLists;

  HRESULT render() override {
    WaterSaverApp::render();
    ++renders;
    if (onRender) onRender(*this, renders);
    if (renders >= renderLimit) platform::PostQuitMessage(0);
    return S_OK;
  }
};

// The settings the application reads, published for one test; no desktop
// snapshot unless a test gives one.
class WaterApplication : public ::testing::Test {
 protected:
  void SetUp() override {
    config.images.listEnabled = 0;
    config.mp3.listEnabled = 0;
    Config::publish(&config);
    previousDesktop = platform::setDesktopSource([] { return std::optional<platform::DesktopPicture>(); });
  }
  void TearDown() override {
    Config::publish(nullptr);
    platform::setDesktopSource(previousDesktop);
  }

  std::unique_ptr<WaterApp> makeApp(const std::string& switches) {
    auto app = std::make_unique<WaterApp>();
    app->commandLine = "aquaveil " + switches;
    app->moduleFileName = "/usr/lib/aquaveil/aquaveil";
    app->musicStarter = [a = app.get()](const char* list) {
      std::string s;
      for (const char* p = list; *p; p += std::strlen(p) + 1) s += std::string(p) + ";";
      a->songLists.push_back(s);
      return std::unique_ptr<MusicController>();
    };
    return app;
  }

  RecordingDevice& device(size_t i = 0) { return *rig.d3d.devices.at(i); }

  Rig rig;
  Config config;
  platform::DesktopSource previousDesktop;
};

std::string stageText(int stage, int type, int value) {
  return "SetTextureStageState(" + std::to_string(stage) + ", " + std::to_string(type) + ", " + std::to_string(value) +
         ")";
}

// A surface made as the scene makes its own, for comparing the water.
std::unique_ptr<WaterSurface> referenceSurface(const WaterScene& scene) {
  auto s = std::make_unique<WaterSurface>();
  EXPECT_EQ(s->build(scene.screenWidth(), scene.screenHeight(), scene.settings().surfaceSize,
                     scene.settings().waterColor, scene.settings().waterFlags),
            0);
  return s;
}

void expectSameWater(const WaterSurface& a, const WaterSurface& b) {
  ASSERT_EQ(a.nodeCount(), b.nodeCount());
  for (int n = 0; n < a.nodeCount(); ++n) {
    ASSERT_EQ(a.velocity(n), b.velocity(n)) << "node " << n;
    ASSERT_EQ(a.blendNodes()[n].blend, b.blendNodes()[n].blend) << "node " << n;
  }
}

}  // namespace

TEST_F(WaterApplication, RestoreSetsTheBaseStatesInOrderThenRestoresTheScene) {
  rig.addAdapter(0);
  auto app = makeApp("/t");
  app->create(0);
  app->startDevices();
  ASSERT_FALSE(app->errorMode);
  ASSERT_NE(app->currentScene(), nullptr);
  EXPECT_TRUE(app->currentScene()->restored());

  const std::vector<std::string> calls = device().callTexts();
  auto start = std::find(calls.begin(), calls.end(), "SetVertexShader(2)");
  ASSERT_NE(start, calls.end());
  // The light and material come first (the light update with no time).
  const size_t at = static_cast<size_t>(start - calls.begin());
  ASSERT_GE(at, 3u);
  EXPECT_EQ(device().calls[at - 3].name, "SetLight");
  EXPECT_EQ(device().calls[at - 2].name, "LightEnable");
  EXPECT_EQ(device().calls[at - 1].name, "SetMaterial");
  std::vector<std::string> expected{"SetVertexShader(2)",    "SetRenderState(137, 0)", "SetRenderState(29, 1)",
                                    "SetRenderState(23, 4)", "SetRenderState(22, 2)",  "SetRenderState(9, 2)",
                                    "SetRenderState(19, 2)", "SetRenderState(20, 2)"};
  for (int stage = 0; stage < 2; ++stage)
    for (auto [type, value] : std::vector<std::pair<int, int>>{
             {1, 1}, {2, 2}, {3, 1}, {4, 1}, {5, 2}, {6, 1}, {17, 2}, {16, 2}, {18, stage == 0 ? 2 : 1}, {11, 0}})
      expected.push_back(stageText(stage, type, value));
  EXPECT_EQ(std::vector<std::string>(start, start + static_cast<long>(expected.size())), expected);
  // Then the scene: the texture format for its tiles, the textures.
  EXPECT_EQ(calls[at + expected.size()], "GetAvailableTextureMem()");
  EXPECT_GT(device().liveTextures(D3DPOOL_DEFAULT), 0);
}

TEST_F(WaterApplication, ARunDrawsWaterAndGivesEverythingBack) {
  rig.addAdapter(0);
  auto app = makeApp("/t");
  app->create(0);
  app->onRender = [](WaterApp& a, uint64_t n) {
    if (n == 6) platform::PostMessageA(a.mainWindow, WM_KEYDOWN, VK_ESCAPE, 0);
  };
  EXPECT_EQ(app->run(), 0);
  EXPECT_EQ(app->renders, 6u);
  // Every frame drew the black frame (one draw of 8 triangles at least).
  int frames = 0;
  for (const auto* call : device().callsNamed("DrawIndexedPrimitiveUP"))
    if (call->vertexShader == 0x42) ++frames;
  EXPECT_EQ(frames, 6);
  EXPECT_EQ(device().liveTextures(), 0);
  EXPECT_EQ(device().refCount(), 0u);
  EXPECT_EQ(app->currentScene(), nullptr);
}

TEST_F(WaterApplication, ALeftClickDropsAndNeverEndsTheSaver) {
  rig.addAdapter(0);
  auto app = makeApp("/s");
  app->create(0);
  app->startDevices();
  WaterScene* scene = app->currentScene();
  ASSERT_NE(scene, nullptr);
  scene->idleTime = 40.0f;
  auto reference = referenceSurface(*scene);
  EXPECT_EQ(app->saverProc(app->mainWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(100, 50)), 1);
  reference->drop(101, 51, 130);
  expectSameWater(*scene->surface(), *reference);
  EXPECT_EQ(scene->idleTime, 0.0f);
  EXPECT_FALSE(app->stopped);
  EXPECT_NE(app->units[0].device, nullptr);
  // A right click ends it.
  app->saverProc(app->mainWindow, WM_RBUTTONDOWN, 0, MAKELONG(100, 50));
  EXPECT_TRUE(app->stopped);
}

TEST_F(WaterApplication, ADragDrawsALineOfStrengthTen) {
  rig.addAdapter(0);
  auto app = makeApp("/t");
  app->create(0);
  app->startDevices();
  WaterScene* scene = app->currentScene();
  ASSERT_NE(scene, nullptr);
  auto reference = referenceSurface(*scene);
  app->saverProc(app->mainWindow, WM_MOUSEMOVE, 0, MAKELONG(200, 100));
  expectSameWater(*scene->surface(), *reference);  // a move without the button does nothing
  app->saverProc(app->mainWindow, WM_MOUSEMOVE, MK_LBUTTON, MAKELONG(260, 130));
  reference->dragLine(201, 101, 261, 131, 10);
  expectSameWater(*scene->surface(), *reference);
  // After the button was released there is no previous point: the next
  // move with the button held draws nothing (no line from the corner).
  app->saverProc(app->mainWindow, WM_LBUTTONUP, 0, MAKELONG(260, 130));
  app->saverProc(app->mainWindow, WM_MOUSEMOVE, MK_LBUTTON, MAKELONG(300, 200));
  expectSameWater(*scene->surface(), *reference);
  app->saverProc(app->mainWindow, WM_MOUSEMOVE, MK_LBUTTON, MAKELONG(310, 200));
  reference->dragLine(301, 201, 311, 201, 10);
  expectSameWater(*scene->surface(), *reference);
}

TEST_F(WaterApplication, EveryThirdMoveToANewXResetsTheIdleTime) {
  rig.addAdapter(0);
  auto app = makeApp("/t");
  app->create(0);
  app->startDevices();
  WaterScene* scene = app->currentScene();
  ASSERT_NE(scene, nullptr);
  scene->idleTime = 50.0f;
  const std::vector<std::pair<int, int>> moves{{10, 5}, {10, 9}, {11, 9}, {11, 30}};
  for (auto [x, y] : moves) app->saverProc(app->mainWindow, WM_MOUSEMOVE, 0, MAKELONG(x, y));
  EXPECT_EQ(scene->idleTime, 50.0f);
  app->saverProc(app->mainWindow, WM_MOUSEMOVE, 0, MAKELONG(12, 30));
  EXPECT_EQ(scene->idleTime, 0.0f);
  EXPECT_EQ(app->horizontalMoves, 0);
}

TEST_F(WaterApplication, DeactivationInTestModeOnlySlowsDown) {
  rig.addAdapter(0);
  auto app = makeApp("/t");
  app->create(0);
  app->startDevices();
  app->saverProc(app->mainWindow, WM_ACTIVATEAPP, 0, 0);
  EXPECT_FALSE(app->active);
  EXPECT_NE(app->units[0].device, nullptr);
  app->saverProc(app->mainWindow, WM_ACTIVATEAPP, 1, 0);
  EXPECT_TRUE(app->active);
}

TEST_F(WaterApplication, WindowedResetAndItsMessages) {
  struct Case {
    HRESULT result;
    const char* text;
    int resets;
  };
  for (const Case& c :
       {Case{S_OK, nullptr, 1}, Case{E_OUTOFMEMORY, "Not enough memory.", 1},
        Case{D3DERR_OUTOFVIDEOMEMORY, "Not enough video memory.", 1},
        Case{E_FAIL, "Generic application error. Enable\ndebug output for detailed information.", 1},
        Case{D3DERR_INVALIDCALL, "Generic application error. Enable\ndebug output for detailed information.", 2}}) {
    SCOPED_TRACE(c.text ? c.text : "success");
    Rig local;
    local.addAdapter(0);
    auto app = makeApp("/t");
    app->create(0);
    app->startDevices();
    RecordingDevice& d = *local.d3d.devices.at(0);
    if (FAILED(c.result)) d.failNext("Reset", c.result);
    const size_t boxes = local.ws.messageBoxes.size();
    // The window's size changed: the first WM_EXITSIZEMOVE finds it new.
    app->saverProc(app->mainWindow, WM_EXITSIZEMOVE, 0, 0);
    EXPECT_EQ(static_cast<int>(d.callsNamed("Reset").size()), c.resets);
    if (c.text) {
      ASSERT_EQ(local.ws.messageBoxes.size(), boxes + 1);
      EXPECT_EQ(local.ws.messageBoxes.back().text, c.text);
      EXPECT_EQ(local.ws.messageBoxes.back().caption, "Error");
      EXPECT_EQ(local.ws.messageBoxes.back().owner, 0u);
      EXPECT_EQ(local.ws.messageBoxes.back().type, MB_ICONEXCLAMATION);
      EXPECT_TRUE(app->errorMode);
      EXPECT_FALSE(app->units[0].objectsRestored);
    } else {
      EXPECT_EQ(local.ws.messageBoxes.size(), boxes);
      EXPECT_FALSE(app->errorMode);
      EXPECT_TRUE(app->units[0].objectsRestored);
      EXPECT_TRUE(app->currentScene()->restored());
      // The same size again does not reset.
      app->saverProc(app->mainWindow, WM_EXITSIZEMOVE, 0, 0);
      EXPECT_EQ(d.callsNamed("Reset").size(), 1u);
    }
  }
}

TEST_F(WaterApplication, MaximisingAsksForTheSizeCheck) {
  rig.addAdapter(0);
  auto app = makeApp("/t");
  app->create(0);
  app->startDevices();
  app->saverProc(app->mainWindow, WM_SIZE, SIZE_MAXIMIZED, 0);
  EXPECT_TRUE(app->maximised);
  MSG msg;
  ASSERT_TRUE(platform::PeekMessageA(&msg, app->mainWindow, WM_EXITSIZEMOVE, WM_EXITSIZEMOVE, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  app->saverProc(app->mainWindow, WM_SIZE, SIZE_RESTORED, 0);
  EXPECT_FALSE(app->maximised);
  EXPECT_TRUE(platform::PeekMessageA(&msg, app->mainWindow, WM_EXITSIZEMOVE, WM_EXITSIZEMOVE, PM_REMOVE));
}

TEST_F(WaterApplication, MusicStartsOnceWithTheListAndTheFirstWindow) {
  for (bool enabled : {false, true}) {
    Rig local;
    local.addAdapter(0);
    config.mp3.clearLists();
    config.mp3.fileList.append("/music/one.mp3");
    config.mp3.playMode = ConfigFileList::kFileList;
    config.mp3.randomizeOrder = 0;
    config.mp3.listEnabled = enabled ? 1 : 0;
    auto app = makeApp("/t");
    app->create(0);
    app->startDevices();
    app->initDeviceObjects();  // as after a re-creation: the music plays on
    if (enabled) {
      EXPECT_EQ(app->songLists, std::vector<std::string>{"/music/one.mp3;"});
      EXPECT_EQ(SoundCardOutput::processWindow(), app->mainWindow);
    } else {
      EXPECT_TRUE(app->songLists.empty());
    }
  }
}

// The options a screen locker adds to the line override the settings for a
// saver run (the scene is made with them, the music follows them) and are
// never taken by the settings dialogs, which would save them.
TEST_F(WaterApplication, LockerOptionsOverrideTheSettingsOnlyWhileSaving) {
  struct Case {
    const char* switches;
    uint32_t flagsBefore;
    int musicBefore;
    uint32_t flagsAfter;
    int musicAfter;
  } cases[] = {
      {"/t", ConfigWater::ripple | ConfigWater::boat, 1, ConfigWater::ripple | ConfigWater::boat, 1},
      {"--root --no-boat --no-music", ConfigWater::ripple | ConfigWater::boat, 1, ConfigWater::ripple, 0},
      {"--no-drops -window", ConfigWater::ripple | ConfigWater::waterDrop, 0, ConfigWater::ripple, 0},
      {"-window --boat --drops --music", ConfigWater::ripple, 0,
       ConfigWater::ripple | ConfigWater::boat | ConfigWater::waterDrop, 1},
      {"/c --no-boat --music", ConfigWater::ripple | ConfigWater::boat, 0, ConfigWater::ripple | ConfigWater::boat, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.switches);
    Rig local;
    local.addAdapter(0);
    config.water.waterFlags = c.flagsBefore;
    config.mp3.clearLists();
    config.mp3.fileList.append("/music/one.mp3");
    config.mp3.playMode = ConfigFileList::kFileList;
    config.mp3.listEnabled = c.musicBefore;
    auto app = makeApp(c.switches);
    // The window a locker lends its hack (-root draws there).
    local.ws.foreignWindows[0x5000] = RECT{0, 0, 640, 480};
    setenv("XSCREENSAVER_WINDOW", "0x5000", 1);
    app->create(0);
    unsetenv("XSCREENSAVER_WINDOW");
    EXPECT_EQ(config.water.waterFlags, c.flagsAfter);
    EXPECT_EQ(config.mp3.listEnabled, c.musicAfter);
    if (app->mode == RunMode::configure) continue;
    app->startDevices();
    ASSERT_NE(app->currentScene(), nullptr);
    EXPECT_EQ(app->currentScene()->settings().waterFlags, c.flagsAfter);
    EXPECT_EQ(app->songLists.size(), c.musicAfter ? 1u : 0u);
  }
}

TEST_F(WaterApplication, EachMonitorsWaterHasItsShape) {
  rig.ws.setMonitors({RECT{0, 0, 1024, 768}, RECT{1024, 0, 1824, 600}});
  rig.addAdapter(0);
  rig.addAdapter(1, 0x22);
  auto app = makeApp("/s");
  app->create(0);
  app->startDevices();
  ASSERT_EQ(app->unitCount, 2u);
  ASSERT_NE(app->sceneInSlot(0), nullptr);
  ASSERT_NE(app->sceneInSlot(1), nullptr);
  EXPECT_EQ(app->sceneInSlot(0)->screenWidth(), 1024);
  EXPECT_EQ(app->sceneInSlot(1)->screenWidth(), 800);
  EXPECT_EQ(app->sceneInSlot(1)->screenHeight(), 600);
}

TEST_F(WaterApplication, TheDesktopIsTakenBeforeAnyWindowAndNeverForAPreview) {
  std::vector<size_t> windowsAtCapture;
  platform::setDesktopSource([&]() -> std::optional<platform::DesktopPicture> {
    size_t made = 0;
    for (const auto& line : rig.ws.log)
      if (line.rfind("CreateWindowExA", 0) == 0) ++made;
    windowsAtCapture.push_back(made);
    platform::DesktopPicture d;
    d.width = 640;
    d.height = 480;
    d.rgb.assign(640 * 480 * 3, 0x33);
    return d;
  });
  rig.addAdapter(0);
  {
    auto app = makeApp("/s");
    app->create(0);
    app->startDevices();
    ASSERT_EQ(windowsAtCapture.size(), 1u);
    EXPECT_EQ(windowsAtCapture[0], 0u);
    ASSERT_NE(app->currentScene(), nullptr);
    ASSERT_NE(app->currentScene()->desktopPicture(), nullptr);
    EXPECT_EQ(app->currentScene()->desktopPicture()->width, 640);
  }
  rig.ws.foreignWindows[4242] = RECT{0, 0, 320, 240};
  auto preview = makeApp("/p 4242");
  preview->create(0);
  EXPECT_EQ(windowsAtCapture.size(), 1u);
}
