#include "tools/aqrender/headless.h"

#include <cstdlib>

#include "shell/frameclock.h"

using namespace platform;

HeadlessSaver::HeadlessSaver() : app_(std::make_unique<WaterSaverApp>()) {}

HeadlessSaver::~HeadlessSaver() {
  // Scenes, device and Direct3D go with the unit, as when a saver ends.
  app_->releaseDevices();
  app_.reset();
  if (window_) DestroyWindow(window_);
}

bool HeadlessSaver::open(int width, int height, std::shared_ptr<const RgbPicture> desktop, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  // Nothing of this appears on a screen.
  setenv("SDL_VIDEODRIVER", "offscreen", 1);

  WaterSaverApp& app = *app_;
  app.mode = RunMode::test;
  app.desktopSnapshot = std::move(desktop);
  app.desktopSnapshotTaken = true;

  WNDCLASSA wc;
  wc.lpfnWndProc = saverWindowProc;
  wc.lpszClassName = kSaverWindowClass;
  RegisterClassA(&wc);
  window_ = CreateWindowExA(0, kSaverWindowClass, app.title.c_str(), WS_POPUP, 0, 0, width, height, 0, 0, 0, &app);
  if (!window_) return fail("no window can be made (SDL's offscreen video driver is missing)");
  app.mainWindow = window_;

  app.d3d = Direct3DCreate8(D3D_SDK_VERSION);
  if (!app.d3d) return fail("no Direct3D object: the display cannot be opened");
  D3DPRESENT_PARAMETERS params;
  params.BackBufferWidth = static_cast<UINT>(width);
  params.BackBufferHeight = static_cast<UINT>(height);
  params.BackBufferFormat = D3DFMT_X8R8G8B8;
  params.BackBufferCount = 1;
  params.SwapEffect = D3DSWAPEFFECT_COPY;
  params.hDeviceWindow = window_;
  params.Windowed = TRUE;
  D3DPRESENT_PARAMETERS given = params;
  Direct3DDevice8* device = nullptr;
  const HRESULT hr =
      app.d3d->CreateDevice(0, D3DDEVTYPE_HAL, window_, D3DCREATE_MIXED_VERTEXPROCESSING, &given, &device);
  if (FAILED(hr) || !device) return fail("no OpenGL 3.3 device could be created");

  RenderUnit& unit = app.units[0];
  unit = RenderUnit{};
  unit.device = device;
  unit.presentParams = params;
  unit.behaviourFlags = D3DCREATE_MIXED_VERTEXPROCESSING;
  app.unitCount = 1;
  app.windowed = true;
  GetClientRect(window_, &app.renderRect);

  app.prepareUnitScene(0);
  app.selectUnit(0);
  if (FAILED(app.initDeviceObjects())) return fail("the device objects could not be made");
  unit.objectsInitialized = true;
  if (FAILED(app.restoreDeviceObjects())) return fail("the device objects could not be restored");
  unit.objectsRestored = true;
  if (!app.currentScene() || !app.currentScene()->restored()) return fail("the scene could not be made");
  return true;
}

void HeadlessSaver::send(UINT message, WPARAM wParam, int x, int y) {
  const LPARAM lParam = MAKELONG(static_cast<WORD>(x), static_cast<WORD>(y));
  app_->saverProc(window_, message, wParam, lParam);
}

void HeadlessSaver::click(int x, int y) {
  send(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
  send(WM_LBUTTONUP, 0, x, y);
}

void HeadlessSaver::drag(int x1, int y1, int x2, int y2) {
  send(WM_MOUSEMOVE, 0, x1, y1);
  send(WM_MOUSEMOVE, MK_LBUTTON, x2, y2);
}

void HeadlessSaver::renderFrame(double dt) {
  app_->selectUnit(0);
  frameClock().elapsedSeconds = dt;
  app_->render();
}

bool HeadlessSaver::present() {
  Direct3DDevice8* d = device();
  return d && SUCCEEDED(d->Present(nullptr, nullptr, 0, nullptr));
}

bool HeadlessSaver::readFrame(std::vector<uint32_t>& pixels, int& width, int& height) {
  Direct3DDevice8* d = device();
  if (!d) return false;
  std::vector<DWORD> words;
  UINT w = 0, h = 0;
  if (FAILED(d->readBackBuffer(&words, &w, &h))) return false;
  pixels.assign(words.begin(), words.end());
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}
