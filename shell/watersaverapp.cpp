#include "shell/watersaverapp.h"

#include <cstdio>

#include "platform/gtk/gtkdialoghost.h"
#include "platform/product.h"
#include "shell/displaysettingsdialog.h"
#include "shell/frameclock.h"
#include "source/config.h"
#include "source/settingsdialogs.h"

using namespace platform;

WaterSaverApp::WaterSaverApp() { title = product::kWindowTitle; }

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
  // Black until the water scene draws here.
  if (!currentDevice || FAILED(currentDevice->BeginScene())) return S_OK;
  currentDevice->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 0), 1.0f, 0);
  currentDevice->EndScene();
  return S_OK;
}
