#pragma once
// The water of one screen: a copy of the water settings, the surface, the
// two pictures of the slideshow, the boat and the camera, and the frame
// sequence that advances and draws them.  The water application creates one
// per render unit, restores it with every device and invalidates it before
// every reset; all of it runs on the thread that renders.
#include <array>
#include <memory>
#include <optional>

#include "platform/d3d8.h"
#include "platform/wintypes.h"
#include "scene/boat.h"
#include "scene/pictures.h"
#include "scene/renderer.h"
#include "scene/tileset.h"
#include "scene/watersurface.h"
#include "source/configwater.h"

class WaterScene {
 public:
  // The tick that advances the slideshow, drops and the boat's target comes
  // when this much smoothed time has gathered.
  static constexpr float kTickPeriod = 3.0f;
  // The first tick comes at the first frame; after a restore, one smoothed
  // unit later.
  static constexpr float kFirstTickAccumulator = 29.0f;
  static constexpr float kRestoreTickAccumulator = 2.0f;
  static constexpr float kIdleStart = 255.0f;
  // Random drops and the boat's wandering wait this long after the mouse.
  static constexpr float kIdleThreshold = 10.0f;
  static constexpr int kSmootherLength = 8;
  static constexpr int kDefaultWidth = 1024, kDefaultHeight = 768;

  WaterScene() = default;
  ~WaterScene();
  WaterScene(const WaterScene&) = delete;
  WaterScene& operator=(const WaterScene&) = delete;

  // Copies the settings, makes the boat when its bit is set and takes the
  // play list (a double-NUL list of picture paths, or none) as the image
  // list in use.
  void initialise(const char* playList, bool randomOrder, const ConfigWater& settings);
  // Builds everything that lives on the device: the boat's texture, the two
  // tile sets, the surface for the window's client size (1024 x 768 without
  // a window), the camera and transforms, the initial pictures.  Outside a
  // preview a desktop snapshot is taken first if the scene has none.
  // Returns S_OK.
  HRESULT restore(Direct3DDevice8* device, bool isPreview, HWND window);
  // Advances the scene by dt seconds of frame time and draws it; between
  // BeginScene and EndScene.  Nothing happens while the scene is not
  // restored.
  void drawScene(float dt);
  // Releases every device object; ripples and the cross-fade go with them.
  void invalidate();
  // invalidate, then lets go of the desktop picture, the image list and the
  // boat.
  void destroy();

  // The mouse: a drop at a pixel plus one, a line of disturbances.
  void mouseDrop(int x, int y, int strength);
  void mouseDrag(int x1, int y1, int x2, int y2, int strength);

  // The desktop snapshot the application took before any saver window was
  // shown (or none): the scene then never takes one itself.
  void offerDesktopPicture(std::shared_ptr<const RgbPicture> picture);

  // ---- the frame sequence's pieces, public for tools and tests
  // The simulation's part of a frame: clamp and smooth the time step, tick,
  // step the surface, move the boat and stamp its wake.
  void frameUpdate(float dt);
  void showInitialPictures();
  void advanceSlideshow();

  // ---- state
  float idleTime = kIdleStart;
  float speedFactor = 1.0f;
  float tickAccumulator = kFirstTickAccumulator;
  int nextImage = 1;
  // When set, the scene adds the time of its own arithmetic to it.
  FrameProfile* profile = nullptr;

  const ConfigWater& settings() const { return settings_; }
  bool restored() const { return device_ != nullptr && surface_ != nullptr; }
  WaterSurface* surface() const { return surface_.get(); }
  TileSet* lowerSet() const { return lowerSet_.get(); }
  TileSet* upperSet() const { return upperSet_.get(); }
  Boat* boat() const { return boat_.get(); }
  const Camera& camera() const { return camera_; }
  int screenWidth() const { return screenWidth_; }
  int screenHeight() const { return screenHeight_; }
  const RgbPicture* desktopPicture() const { return desktop_.get(); }
  // The image list in use: the last one any scene was initialised with.
  const ImageList& images();
  // The mean of the last eight scaled steps (the smoothed time step).
  float smoothedStep() const { return smootherSum_ * (1.0f / kSmootherLength); }

 private:
  bool loadPictureFile(const std::string& path, TileSet& tiles);
  bool loadDesktopPicture(TileSet& tiles);
  bool uploadFitted(const uint8_t* rgb, int width, int height, TileSet& tiles);
  void loadPictureAt(size_t index, TileSet& tiles);

  ConfigWater settings_;
  Direct3DDevice8* device_ = nullptr;  // the unit's device while restored; not owned
  int screenWidth_ = kDefaultWidth, screenHeight_ = kDefaultHeight;
  float aspect_ = static_cast<float>(kDefaultWidth) / kDefaultHeight;
  Camera camera_;
  std::unique_ptr<TileSet> lowerSet_, upperSet_;
  std::unique_ptr<WaterSurface> surface_;
  std::unique_ptr<Boat> boat_;
  std::shared_ptr<const ImageList> images_;
  std::shared_ptr<const RgbPicture> desktop_;
  bool desktopOffered_ = false;
  std::array<float, kSmootherLength> smootherRing_{};
  int smootherPosition_ = 0;
  float smootherSum_ = 0.0f;
  RgbPicture reduced_;  // reused for pictures larger than the screen
};
