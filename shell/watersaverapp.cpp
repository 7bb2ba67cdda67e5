#include "shell/watersaverapp.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/gtk/gtkdialoghost.h"
#include "platform/product.h"
#include "player/musiccontroller.h"
#include "player/soundcardoutput.h"
#include "shell/displaysettingsdialog.h"
#include "shell/frameclock.h"
#include "source/config.h"
#include "source/settingsdialogs.h"

using namespace platform;

namespace {

bool isWindowedRunMode(RunMode mode) { return mode == RunMode::preview || mode == RunMode::test; }

// The position a mouse message names, plus one (the water maps pixel 0 to
// its border, and 0 would ask for a random drop).
POINT mousePoint(LPARAM lParam) {
  return POINT{static_cast<LONG>(LOWORD(static_cast<uintptr_t>(lParam))) + 1,
               static_cast<LONG>(HIWORD(static_cast<uintptr_t>(lParam))) + 1};
}

constexpr POINT kNoPosition{-1, -1};

const ConfigWater& liveWaterSettings() {
  static const ConfigWater defaults;
  const Config* config = Config::instance();
  return config ? config->water : defaults;
}

}  // namespace

WaterSaverApp::WaterSaverApp() { title = product::kWindowTitle; }

WaterSaverApp::~WaterSaverApp() {
  for (auto& slot : sceneSlots_) slot.reset();
  currentScene_ = nullptr;
  music_.reset();
}

HRESULT WaterSaverApp::create(HINSTANCE inst) {
  // The snapshot comes before the shell makes any window, so that it shows
  // the desktop and not the saver.  A preview never takes one.
  HWND parent = 0;
  const RunMode runMode = parseCommandLine(commandLine.c_str(), moduleFileName, parent);
  if ((runMode == RunMode::full || runMode == RunMode::test) && !desktopSnapshotTaken) {
    if (std::optional<RgbPicture> shot = captureDesktop())
      desktopSnapshot = std::make_shared<const RgbPicture>(std::move(*shot));
    desktopSnapshotTaken = true;
  }
  return SaverApp::create(inst);
}

void WaterSaverApp::doConfig() {
  // The settings menu reaches the display settings through the shell.
  showDisplaySettingsHook = showDisplaySettingsDialog;
  if (!ensureGtkDialogHost()) {
    MessageBoxA(parentWindow, "The settings need a graphical display.", title.c_str(), MB_OK | MB_ICONERROR);
    return;
  }
  showSettings(parentWindow, instance);
}

void WaterSaverApp::readSettings() {
  // What the screen locker's settings page chose overrides the settings
  // file for this run.  Only the saver modes take them: the settings
  // dialogs save what they show.
  if (mode == RunMode::preview || mode == RunMode::full || mode == RunMode::test) {
    Config& config = Config::ensureInstance();
    auto setFlag = [&](const std::optional<bool>& on, uint32_t bit) {
      if (on) config.water.waterFlags = *on ? (config.water.waterFlags | bit) : (config.water.waterFlags & ~bit);
    };
    setFlag(hackOptions.boat, ConfigWater::boat);
    setFlag(hackOptions.drops, ConfigWater::waterDrop);
    if (hackOptions.music) config.mp3.listEnabled = *hackOptions.music ? 1 : 0;
  }

  HKEY key = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, Config::kProductKey, &key) != ERROR_SUCCESS) return;
  loadDisplaySettings(key);
  RegCloseKey(key);
}

HRESULT WaterSaverApp::confirmDevice(const D3DCAPS8& caps, DWORD behaviourFlags, D3DFORMAT) {
  if ((behaviourFlags & D3DCREATE_MIXED_VERTEXPROCESSING) && caps.VertexShaderVersion >= D3DVS_VERSION(1, 1))
    return S_OK;
  return E_FAIL;
}

WaterScene* WaterSaverApp::sceneInSlot(uint32_t unit) const {
  return unit < static_cast<uint32_t>(kSceneSlots) ? sceneSlots_[unit].get() : nullptr;
}

void WaterSaverApp::prepareUnitScene(uint32_t unit) {
  if (mode == RunMode::configure || unit >= static_cast<uint32_t>(kSceneSlots) || sceneSlots_[unit]) return;
  Config& config = Config::ensureInstance();
  auto scene = std::make_unique<WaterScene>();
  const PlayList images = config.images.drawPlayList();
  scene->initialise(images.data(), config.images.randomizeOrder != 0, config.water);
  if (desktopSnapshotTaken) scene->offerDesktopPicture(desktopSnapshot);
  scene->profile = profile;
  sceneSlots_[unit] = std::move(scene);
}

void WaterSaverApp::selectUnitScene(uint32_t unit) {
  currentUnit_ = unit;
  currentScene_ = sceneInSlot(unit);
}

HRESULT WaterSaverApp::initDeviceObjects() {
  // The music starts with the first unit and then plays on: the other
  // units and a re-creation after a refused password keep it running
  // rather than starting the list over.
  Config& config = Config::ensureInstance();
  if (config.mp3.listEnabled && !musicRequested_) {
    const PlayList songs = config.mp3.drawPlayList();
    if (songs && songs.count() > 0) {
      musicRequested_ = true;
      SoundCardOutput::setProcessWindow(mainWindow);
      if (musicStarter)
        music_ = musicStarter(songs.data());
      else
        music_ = MusicController::startMusic(songs.data());
    }
  }
  return S_OK;
}

HRESULT WaterSaverApp::restoreDeviceObjects() {
  if (!currentDevice) return S_OK;
  Direct3DDevice8* device = currentDevice;
  const ConfigWater& water = liveWaterSettings();
  light.update(device, 0.0f, water.waterFlags, water.specularColor, water.specularPower);

  device->SetVertexShader(D3DFVF_XYZ);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
  device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  for (DWORD stage = 0; stage < 2; ++stage) {
    device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_CURRENT);
    device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
    device->SetTextureStageState(stage, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(stage, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(stage, D3DTSS_MIPFILTER, stage == 0 ? D3DTEXF_LINEAR : D3DTEXF_POINT);
    device->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, 0);
  }
  // The texture loaders reach the device through the scene they belong to
  // (the shell's currentDevice is the process-wide one).
  if (currentScene_) {
    // Each unit's scene takes the size of its own window: monitors of
    // different sizes each get water of their own shape.
    HWND window = mainWindow;
    const RenderUnit& unit = units[currentUnit_ < static_cast<uint32_t>(kMaxRenderUnits) ? currentUnit_ : 0];
    if (unit.device == device && unit.adapterIndex < adapterCount && adapters[unit.adapterIndex] &&
        adapters[unit.adapterIndex]->deviceWindow)
      window = adapters[unit.adapterIndex]->deviceWindow;
    currentScene_->restore(device, mode == RunMode::preview, window);
  }
  return S_OK;
}

HRESULT WaterSaverApp::frameMove() {
  // The first frame only counts, so that the window appears with a drawn
  // picture rather than an empty one.
  if (++frameMoveCalls == 2) {
    ShowWindow(mainWindow, SW_SHOW);
    // Owned windows do not appear with their owner here: every monitor's
    // saver window is shown with the first.
    if (mode == RunMode::full)
      for (uint32_t m = 0; m < monitorCount; ++m)
        if (monitors[m].window && monitors[m].window != mainWindow) ShowWindow(monitors[m].window, SW_SHOWNA);
  }
  frameClock().tick();
  return S_OK;
}

HRESULT WaterSaverApp::render() {
  if (!currentDevice || FAILED(currentDevice->BeginScene())) return S_OK;
  Direct3DDevice8* device = currentDevice;
  device->SetVertexShader(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  const float dt = static_cast<float>(frameClock().elapsedSeconds);
  if (currentScene_)
    currentScene_->drawScene(dt);
  else
    device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 0), 1.0f, 0);
  const ConfigWater& water = liveWaterSettings();
  light.update(device, dt, water.waterFlags, water.specularColor, water.specularPower);
  device->EndScene();
  return S_OK;
}

HRESULT WaterSaverApp::invalidateDeviceObjects() {
  if (currentScene_) currentScene_->invalidate();
  return S_OK;
}

HRESULT WaterSaverApp::deleteDeviceObjects() {
  for (auto& slot : sceneSlots_) {
    if (slot && slot.get() == currentScene_) {
      slot->destroy();
      slot.reset();
    }
  }
  currentScene_ = nullptr;
  return S_OK;
}

HRESULT WaterSaverApp::finalCleanup() {
  // The saver has ended: so does its music.
  music_.reset();
  return S_OK;
}

LRESULT WaterSaverApp::saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WaterScene* scene = currentScene_;
  if (!scene) return SaverApp::saverProc(window, message, wParam, lParam);

  switch (message) {
    case WM_SIZE:
      if (wParam == SIZE_MAXIMIZED) {
        maximised = true;
        PostMessageA(window, WM_EXITSIZEMOVE, 2, 0);
      } else if (wParam == SIZE_RESTORED && maximised) {
        PostMessageA(window, WM_EXITSIZEMOVE, 2, 0);
        maximised = false;
      }
      break;

    case WM_ACTIVATEAPP:
      if (wParam != 0) {
        active = true;
      } else if (mode == RunMode::test) {
        active = false;
      } else if (!hostWindow) {
        // (A screen locker that hosts the saver keeps the focus itself.)
        requestStop();
      }
      break;

    case WM_KEYUP:
      if (wParam == VK_ESCAPE) requestStop();
      break;

    case WM_MOUSEMOVE: {
      const POINT previous = mousePosition;
      const POINT now = mousePoint(lParam);
      mousePosition = now;
      // Right after the button was released there is no previous point:
      // a line from (-1, -1) would cut across the water from its corner.
      const bool known = previous.x != kNoPosition.x || previous.y != kNoPosition.y;
      if ((wParam & MK_LBUTTON) && known) scene->mouseDrag(previous.x, previous.y, now.x, now.y, kDragStrength);
      if (now.x != previous.x && ++horizontalMoves > 2) {
        horizontalMoves = 0;
        scene->idleTime = 0.0f;
      }
      break;
    }

    case WM_LBUTTONDOWN: {
      const POINT at = mousePoint(lParam);
      scene->mouseDrop(at.x, at.y, kDropStrength);
      scene->idleTime = 0.0f;
      // A left click plays with the water; it never ends the saver.
      return 1;
    }

    case WM_LBUTTONUP: mousePosition = kNoPosition; break;

    case WM_EXITSIZEMOVE:
      if (isWindowedRunMode(mode)) {
        RECT client;
        if (GetClientRect(mainWindow, &client) &&
            (client.right - client.left != rememberedClient.right - rememberedClient.left ||
             client.bottom - client.top != rememberedClient.bottom - rememberedClient.top)) {
          units[0].presentParams.BackBufferWidth = static_cast<UINT>(client.right - client.left);
          units[0].presentParams.BackBufferHeight = static_cast<UINT>(client.bottom - client.top);
          resetWindowedDevice();
          rememberedClient = client;
        }
      }
      break;

    default: break;
  }
  return SaverApp::saverProc(window, message, wParam, lParam);
}

void WaterSaverApp::resetWindowedDevice() {
  if (!isWindowedRunMode(mode)) return;
  RenderUnit& unit = units[0];
  if (unit.objectsRestored) {
    invalidateDeviceObjects();
    unit.objectsRestored = false;
    Sleep(100);
  }
  if (!currentDevice) return;
  D3DPRESENT_PARAMETERS params = unit.presentParams;
  const HRESULT hr = currentDevice->Reset(&params);
  if (FAILED(hr)) {
    const char* text = hr == E_OUTOFMEMORY             ? "Not enough memory."
                       : hr == D3DERR_OUTOFVIDEOMEMORY ? "Not enough video memory."
                                                       : "Generic application error. Enable\ndebug output for "
                                                         "detailed information.";
    MessageBoxA(0, text, "Error", MB_ICONEXCLAMATION);
    setError(errResetFailed);
    if (hr == D3DERR_INVALIDCALL) {
      D3DPRESENT_PARAMETERS again = unit.presentParams;
      (void)currentDevice->Reset(&again);
    }
    return;
  }
  if (FAILED(restoreDeviceObjects()))
    setError(errDeviceObjectsFailed);
  else
    unit.objectsRestored = true;
}
