#include "scene/waterscene.h"

#include <cmath>
#include <utility>

#include "platform/crtrand.h"
#include "platform/window.h"

namespace {

// The image list in use by every scene: each initialise puts its own in
// place, and each scene keeps a share of the list it last used, so a list
// lives as long as any scene reads it.
std::shared_ptr<const ImageList>& processImageList() {
  static std::shared_ptr<const ImageList> list;
  return list;
}

constexpr float kStepScale = 33.333f;   // simulation steps per second at speed 1
constexpr float kStableLimit = 0.999f;  // the largest s * s / 8 the surface takes
constexpr float kSpeedBase = 0.2f, kSpeedPerUnit = 0.03f;

}  // namespace

WaterScene::~WaterScene() { destroy(); }

void WaterScene::initialise(const char* playList, bool randomOrder, const ConfigWater& settings) {
  settings_ = settings;
  speedFactor = static_cast<float>(settings_.animationSpeed) * kSpeedPerUnit + kSpeedBase;
  auto list = std::make_shared<ImageList>();
  list->paths = splitPlayList(playList);
  list->randomOrder = randomOrder;
  processImageList() = list;
  images_ = std::move(list);
  if (settings_.waterFlags & ConfigWater::boat) boat_ = std::make_unique<Boat>();
}

const ImageList& WaterScene::images() {
  if (processImageList()) images_ = processImageList();
  if (!images_) images_ = std::make_shared<ImageList>();
  return *images_;
}

void WaterScene::offerDesktopPicture(std::shared_ptr<const RgbPicture> picture) {
  desktop_ = std::move(picture);
  desktopOffered_ = true;
}

HRESULT WaterScene::restore(Direct3DDevice8* device, bool isPreview, HWND window) {
  if (!desktop_ && !desktopOffered_ && !isPreview) {
    if (std::optional<RgbPicture> snapshot = captureDesktop())
      desktop_ = std::make_shared<const RgbPicture>(std::move(*snapshot));
  }

  device_ = device;
  if (boat_) boat_->loadTexture(device);

  screenWidth_ = kDefaultWidth;
  screenHeight_ = kDefaultHeight;
  if (window) {
    RECT client;
    if (platform::GetClientRect(window, &client)) {
      screenWidth_ = client.right - client.left;
      screenHeight_ = client.bottom - client.top;
    }
  }

  const D3DFORMAT format = chooseTextureFormat(device, screenWidth_, screenHeight_);
  lowerSet_ = std::make_unique<TileSet>();
  upperSet_ = std::make_unique<TileSet>();
  lowerSet_->allocate(device, format, screenWidth_, screenHeight_);
  upperSet_->allocate(device, format, screenWidth_, screenHeight_);

  surface_ = std::make_unique<WaterSurface>();
  // A surface that can't be built (a window of no size) stays empty and
  // draws nothing.
  (void)surface_->build(screenWidth_, screenHeight_, settings_.surfaceSize, settings_.waterColor, settings_.waterFlags);

  aspect_ = screenHeight_ > 0 ? static_cast<float>(screenWidth_) / static_cast<float>(screenHeight_) : 1.0f;
  camera_.build(static_cast<float>(settings_.surfaceSize), aspect_);
  if (device) camera_.apply(device);

  showInitialPictures();
  return S_OK;
}

void WaterScene::invalidate() {
  if (boat_) boat_->releaseTexture();
  lowerSet_.reset();
  upperSet_.reset();
  surface_.reset();
  device_ = nullptr;
  tickAccumulator = kRestoreTickAccumulator;
}

void WaterScene::destroy() {
  invalidate();
  desktop_.reset();
  // The process-wide list goes with the last scene that holds it.
  if (images_ && processImageList() == images_ && images_.use_count() <= 2) processImageList().reset();
  images_.reset();
  boat_.reset();
}

void WaterScene::mouseDrop(int x, int y, int strength) {
  if (surface_) surface_->drop(x, y, strength);
}

void WaterScene::mouseDrag(int x1, int y1, int x2, int y2, int strength) {
  if (surface_) surface_->dragLine(x1, y1, x2, y2, strength);
}

void WaterScene::drawScene(float dt) {
  if (!restored()) return;
  frameUpdate(dt);

  camera_.apply(device_);
  drawFrame(device_, *surface_, profile);
  drawPicture(device_, *surface_, *lowerSet_, D3DTOP_SELECTARG1, profile);
  drawPicture(device_, *surface_, *upperSet_, D3DTOP_MODULATE, profile);
  if (settings_.waterFlags & ConfigWater::specular) drawSpecular(device_, *surface_, *lowerSet_, profile);
  if (boat_) boat_->draw(device_);
  device_->SetTransform(D3DTS_WORLD, &camera_.world);
}

void WaterScene::frameUpdate(float dt) {
  if (!surface_) return;
  const double started = profile ? threadSeconds() : 0.0;

  // The scaled step, cut to the largest one the surface stays stable at.
  float a = dt * speedFactor;
  const float b = a * kStepScale;
  if (b * b * 0.125f > kStableLimit) a = a * kStableLimit / std::sqrt(b * b * 0.125f);

  // The mean of the last eight steps smooths out uneven frames.
  smootherSum_ = smootherSum_ + a - smootherRing_[static_cast<size_t>(smootherPosition_)];
  smootherRing_[static_cast<size_t>(smootherPosition_)] = a;
  const float tau = smootherSum_ * (1.0f / kSmootherLength);
  smootherPosition_ = (smootherPosition_ + 1) % kSmootherLength;

  tickAccumulator += tau;
  idleTime += dt;
  if (tickAccumulator > kTickPeriod) {
    advanceSlideshow();
    tickAccumulator = 0.0f;
    if ((settings_.waterFlags & ConfigWater::waterDrop) && idleTime > kIdleThreshold) surface_->drop(0, 0, 0);
    if (boat_) boat_->chooseTarget(idleTime, static_cast<float>(settings_.surfaceSize));
  }

  surface_->step(camera_.eye, tau);

  if (boat_) {
    D3DXVECTOR3 from, to;
    boat_->move(&from, &to, dt);
    stampWake(*surface_, from, to);
  }
  if (profile) profile->updateSeconds += threadSeconds() - started;
}

// ---- pictures ---------------------------------------------------------------

bool WaterScene::uploadFitted(const uint8_t* rgb, int width, int height, TileSet& tiles) {
  const float scale = fitScale(width, height, screenWidth_, screenHeight_);
  if (reducePicture(rgb, width, height, scale, reduced_))
    return tiles.upload(device_, reduced_.rgb.data(), reduced_.width, reduced_.height, aspect_);
  return tiles.upload(device_, rgb, width, height, aspect_);
}

bool WaterScene::loadPictureFile(const std::string& path, TileSet& tiles) {
  std::optional<RgbPicture> picture = loadPicture(path);
  if (!picture) return false;
  return uploadFitted(picture->rgb.data(), picture->width, picture->height, tiles);
}

bool WaterScene::loadDesktopPicture(TileSet& tiles) {
  if (!desktop_ || desktop_->empty()) return false;
  int width = desktop_->width, height = desktop_->height;
  if (!acceptDesktopSize(width, height, screenHeight_)) return false;
  return uploadFitted(desktop_->rgb.data(), width, height, tiles);
}

void WaterScene::loadPictureAt(size_t index, TileSet& tiles) {
  const ImageList& list = images();
  if (index < list.count()) loadPictureFile(list.paths[index], tiles);
}

void WaterScene::showInitialPictures() {
  if (!lowerSet_ || !upperSet_) return;
  const ImageList& list = images();
  const int count = static_cast<int>(list.count());
  const bool random = list.randomOrder;

  if (desktop_) {
    loadDesktopPicture(*upperSet_);
  } else if (count > 0) {
    loadPictureAt(static_cast<size_t>(random ? platform::randomIndex(count) : 0), *upperSet_);
  }

  if (count > 0) {
    int index = 0;
    if (random) {
      index = platform::randomIndex(count);
    } else if (!desktop_ && count > 1) {
      // The next picture after the first; with only one picture it is
      // shown in both sets rather than leaving the lower one empty.
      index = 1;
      // The slideshow goes on after the picture the lower set holds, so
      // that picture 1 is not revealed twice in a row.
      if (nextImage == 1) nextImage = 2;
    }
    loadPictureAt(static_cast<size_t>(index), *lowerSet_);
  } else if (desktop_) {
    loadDesktopPicture(*lowerSet_);
  }
}

void WaterScene::advanceSlideshow() {
  if (!surface_ || !lowerSet_ || !upperSet_) return;
  if (surface_->startTransition() != 0) return;
  // The picture just revealed is now the upper one.
  std::swap(lowerSet_, upperSet_);
  const int count = static_cast<int>(images().count());
  int i = nextImage;
  // The place after the last picture belongs to the desktop; without one
  // the show goes straight back to the first picture instead of revealing
  // the picture it already shows.
  if (i >= count && !desktop_ && count > 0) i = 0;
  nextImage = i + 1 > count ? 0 : i + 1;
  if (i < count)
    loadPictureAt(static_cast<size_t>(i), *lowerSet_);
  else if (desktop_)
    loadDesktopPicture(*lowerSet_);
}
