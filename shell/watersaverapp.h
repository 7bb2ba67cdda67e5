#pragma once
// The program's one application: the shell with the water screen saver's
// hooks.  It creates one water scene per render unit, starts the music,
// sets the device's base states, draws the scene every frame, turns the
// mouse into drops and lines in the water, and resets the windowed device
// when the preview or test window changes size.  Devices must offer mixed
// vertex processing and vertex shader 1.1; the display settings come from
// the product's registry key.
#include <functional>
#include <memory>

#include "scene/pictures.h"
#include "scene/renderer.h"
#include "scene/waterscene.h"
#include "shell/saverapp.h"

class MusicController;

class WaterSaverApp : public SaverApp {
 public:
  static constexpr int kSceneSlots = 10;
  static constexpr int kDropStrength = 130;
  static constexpr int kDragStrength = 10;

  WaterSaverApp();
  ~WaterSaverApp() override;

  // Takes the desktop snapshot of a saver run before the shell makes any
  // window, then creates as the shell does.
  HRESULT create(HINSTANCE instance) override;
  void doConfig() override;
  void readSettings() override;
  LRESULT saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  void prepareUnitScene(uint32_t unit) override;
  void selectUnitScene(uint32_t unit) override;
  HRESULT confirmDevice(const D3DCAPS8& caps, DWORD behaviourFlags, D3DFORMAT backBufferFormat) override;
  HRESULT initDeviceObjects() override;
  HRESULT restoreDeviceObjects() override;
  HRESULT frameMove() override;
  HRESULT render() override;
  HRESULT invalidateDeviceObjects() override;
  HRESULT deleteDeviceObjects() override;
  HRESULT finalCleanup() override;

  // Resets unit 0's device after the window changed size (windowed modes).
  void resetWindowedDevice();

  // The scene of the current unit (null when it has none).
  WaterScene* currentScene() const { return currentScene_; }
  WaterScene* sceneInSlot(uint32_t unit) const;

  // frameMove calls of this run (the window is shown on the second).
  uint32_t frameMoveCalls = 0;
  // The light and material state, shared by all units.
  LightState light;
  // The desktop as it was before the saver's windows appeared, shared by
  // every unit's scene; taken once in create outside a preview.
  std::shared_ptr<const RgbPicture> desktopSnapshot;
  bool desktopSnapshotTaken = false;
  // How the music is started (the engine's startMusic; tests replace it).
  // The application keeps what it returns: the music plays until the
  // saver ends.
  std::function<std::unique_ptr<MusicController>(const char* songList)> musicStarter;
  bool musicStarted() const { return music_ != nullptr || musicRequested_; }
  // When set, each scene adds the time of its own arithmetic to it.
  FrameProfile* profile = nullptr;

  // The window procedure's own remembered values.
  POINT mousePosition{-1, -1};
  int horizontalMoves = 0;
  bool maximised = false;
  RECT rememberedClient{};

 private:
  std::unique_ptr<WaterScene> sceneSlots_[kSceneSlots];
  WaterScene* currentScene_ = nullptr;
  uint32_t currentUnit_ = 0;
  std::unique_ptr<MusicController> music_;
  bool musicRequested_ = false;
};
