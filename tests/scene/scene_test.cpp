// The scene's own rules: where pictures come from and how they fit, the
// slideshow order, the boat, the frame update's clock, and what survives a
// device reset.  Everything runs on the recording device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/crtrand.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "scenetest.h"

using namespace scenetest;
using platform::MemoryTexture;
using platform::RecordingDevice;

namespace {

std::string tgaBytes(int width, int height, const std::vector<uint8_t>& bgraBottomUp) {
  std::string b(18, '\0');
  b[2] = 2;
  b[12] = static_cast<char>(width & 0xFF);
  b[13] = static_cast<char>(width >> 8);
  b[14] = static_cast<char>(height & 0xFF);
  b[15] = static_cast<char>(height >> 8);
  b[16] = 32;
  b[17] = 8;
  b.append(reinterpret_cast<const char*>(bgraBottomUp.data()), bgraBottomUp.size());
  return b;
}

// Pictures of distinct solid colours, named after their index.
struct Pictures {
  std::vector<std::string> paths;
  std::map<int64_t, std::string> byColour;
  explicit Pictures(int n) {
    const std::string dir = testenv::freshDir("slides");
    for (int i = 0; i < n; ++i) {
      const uint8_t r = static_cast<uint8_t>(40 + 50 * i), g = static_cast<uint8_t>(200 - 30 * i), b = 77;
      paths.push_back(writeBitmap(dir, "p" + std::to_string(i) + ".bmp", 40, 30, solid(40, 30, r, g, b)));
      byColour[(int64_t{r} << 16) | (int64_t{g} << 8) | b] = "P" + std::to_string(i);
    }
    byColour[0x0A0B0C] = "D";
  }
  std::string name(const TileSet& tiles) const {
    const int64_t c = middleColour(tiles);
    auto it = byColour.find(c);
    return it == byColour.end() ? "?" : it->second;
  }
};

std::shared_ptr<const RgbPicture> desktopPicture() {
  auto picture = std::make_shared<RgbPicture>();
  picture->width = 200;
  picture->height = 150;
  auto rgb = solid(200, 150, 0x0A, 0x0B, 0x0C);
  picture->rgb.assign(rgb.begin(), rgb.end());
  return picture;
}

// The pictures the upper set shows: the initial one, then one per
// finished cross-fade.
std::vector<std::string> revealed(int pictures, bool withDesktop, int advances) {
  Pictures p(pictures);
  RecordingDevice device;
  WaterScene scene;
  const std::string list = playList(p.paths);
  scene.initialise(list.c_str(), false, waterSettings(ConfigWater::ripple));
  scene.offerDesktopPicture(withDesktop ? desktopPicture() : nullptr);
  scene.restore(&device, false, 0);
  std::vector<std::string> shown{p.name(*scene.upperSet())};
  for (int i = 0; i < advances; ++i) {
    finishCrossFade(*scene.surface());
    scene.advanceSlideshow();
    shown.push_back(p.name(*scene.upperSet()));
  }
  return shown;
}

}  // namespace

TEST(Slideshow, Order) {
  using V = std::vector<std::string>;
  // With the desktop: it comes first and after the last picture.
  EXPECT_EQ(revealed(3, true, 7), (V{"D", "P0", "P1", "P2", "D", "P0", "P1", "P2"}));
  // Without: each picture in turn, round and round.
  EXPECT_EQ(revealed(3, false, 6), (V{"P0", "P1", "P2", "P0", "P1", "P2", "P0"}));
  EXPECT_EQ(revealed(2, false, 4), (V{"P0", "P1", "P0", "P1", "P0"}));
  // One picture and the desktop alternate.
  EXPECT_EQ(revealed(1, true, 4), (V{"D", "P0", "D", "P0", "D"}));
  // One picture alone is shown in both sets.
  EXPECT_EQ(revealed(1, false, 2), (V{"P0", "P0", "P0"}));
  // Only the desktop.
  EXPECT_EQ(revealed(0, true, 2), (V{"D", "D", "D"}));
}

TEST(Slideshow, NothingMovesWhileACrossFadeRuns) {
  Pictures p(3);
  RecordingDevice device;
  WaterScene scene;
  const std::string list = playList(p.paths);
  scene.initialise(list.c_str(), false, waterSettings(ConfigWater::ripple));
  scene.offerDesktopPicture(nullptr);
  scene.restore(&device, false, 0);
  TileSet* upper = scene.upperSet();
  scene.mouseDrop(500, 400, 130);
  scene.surface()->step(scene.camera().eye, 0.03f);
  scene.advanceSlideshow();
  EXPECT_EQ(scene.upperSet(), upper);
  EXPECT_EQ(scene.nextImage, 2);
}

TEST(Slideshow, RandomOrderDrawsBothInitialPictures) {
  Pictures p(5);
  platform::srand(99);
  const int first = platform::randomIndex(5), second = platform::randomIndex(5);
  platform::srand(99);
  RecordingDevice device;
  WaterScene scene;
  const std::string list = playList(p.paths);
  scene.initialise(list.c_str(), true, waterSettings(ConfigWater::ripple));
  scene.offerDesktopPicture(nullptr);
  scene.restore(&device, false, 0);
  EXPECT_EQ(p.name(*scene.upperSet()), "P" + std::to_string(first));
  EXPECT_EQ(p.name(*scene.lowerSet()), "P" + std::to_string(second));
}

TEST(Slideshow, EmptyListWithoutDesktopLeavesBothSetsEmpty) {
  RecordingDevice device;
  WaterScene scene;
  scene.initialise(nullptr, false, waterSettings(ConfigWater::ripple));
  scene.offerDesktopPicture(nullptr);
  scene.restore(&device, false, 0);
  EXPECT_FALSE(scene.upperSet()->hasPicture());
  EXPECT_FALSE(scene.lowerSet()->hasPicture());
  finishCrossFade(*scene.surface());
  scene.advanceSlideshow();
  EXPECT_FALSE(scene.upperSet()->hasPicture());
}

TEST(Pictures, TgaEntriesBecomeRgbRowsFromTheTop) {
  // 2 x 2, stored bottom row first: bottom = (red, green), top = (blue, white).
  const std::vector<uint8_t> stored = {0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255, 255, 255, 255, 255};
  const std::string dir = testenv::freshDir("tga");
  testenv::writeFile(dir + "/small.tga", tgaBytes(2, 2, stored));
  const auto picture = loadPicture(dir + "/small.tga");
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, 2);
  EXPECT_EQ(picture->height, 2);
  const std::vector<uint8_t> expected = {0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 0};
  EXPECT_EQ(std::vector<uint8_t>(picture->rgb.begin(), picture->rgb.end()), expected);
  EXPECT_FALSE(loadPicture(dir + "/missing.bmp"));
}

TEST(Pictures, LargePicturesAreReducedBilinearlyNeverEnlarged) {
  EXPECT_FLOAT_EQ(fitScale(2048, 1536, 1024, 768), 0.5f);
  EXPECT_FLOAT_EQ(fitScale(800, 600, 1024, 768), 1.0f);
  EXPECT_FLOAT_EQ(fitScale(1024, 1536, 1024, 768), 0.5f);
  EXPECT_FLOAT_EQ(fitScale(4000, 1000, 1000, 1000), 0.25f);

  // 4 x 2 to half size: each output pixel samples (2x, 2y) exactly.
  const std::vector<uint8_t> rgb = {0,  0, 0, 10, 0, 0, 20, 0, 0, 30, 0, 0,  //
                                    40, 0, 0, 50, 0, 0, 60, 0, 0, 70, 0, 0};
  RgbPicture out;
  ASSERT_TRUE(reducePicture(rgb.data(), 4, 2, 0.5f, out));
  EXPECT_EQ(out.width, 2);
  EXPECT_EQ(out.height, 1);
  EXPECT_EQ(out.rgb[0], 0);
  EXPECT_EQ(out.rgb[3], 20);
  // 3 x 2 at 0.75: x = 1 samples at 1.333: 10 + (20 - 10) / 3 = 13.
  const std::vector<uint8_t> row = {0, 0, 0, 10, 0, 0, 20, 0, 0, 0, 0, 0, 10, 0, 0, 20, 0, 0};
  ASSERT_TRUE(reducePicture(row.data(), 3, 2, 0.75f, out));
  EXPECT_EQ(out.width, 2);
  EXPECT_EQ(out.rgb[3], 13);
  EXPECT_FALSE(reducePicture(row.data(), 3, 2, 1.0f, out));
}

TEST(Pictures, DesktopOnlyAtASensibleSize) {
  struct Case {
    int w, h, screenH;
    bool accepted;
    int heightAfter;
  };
  for (const Case& c :
       {Case{1024, 768, 768, true, 768}, Case{1024, 769, 768, true, 768}, Case{99, 768, 768, false, 768},
        Case{4097, 768, 768, false, 768}, Case{1024, 49, 768, false, 49}, Case{1024, 3073, 768, false, 3073}}) {
    int w = c.w, h = c.h;
    EXPECT_EQ(acceptDesktopSize(w, h, c.screenH), c.accepted) << c.w << "x" << c.h;
    if (c.accepted) {
      EXPECT_EQ(h, c.heightAfter);
    }
  }
}

TEST(Pictures, PreviewNeverTakesASnapshotOtherRunsDo) {
  int taken = 0;
  platform::DesktopSource previous = platform::setDesktopSource([&]() -> std::optional<platform::DesktopPicture> {
    ++taken;
    platform::DesktopPicture d;
    d.width = 320;
    d.height = 240;
    d.rgb.assign(320 * 240 * 3, 0x0A);
    return d;
  });
  for (bool preview : {true, false}) {
    RecordingDevice device;
    WaterScene scene;
    scene.initialise(nullptr, false, waterSettings(ConfigWater::ripple));
    scene.restore(&device, preview, 0);
    EXPECT_EQ(scene.desktopPicture() != nullptr, !preview);
    // The snapshot is shown in both sets when the list is empty.
    EXPECT_EQ(scene.upperSet()->hasPicture(), !preview);
    // It survives a reset and is not taken again.
    scene.invalidate();
    scene.restore(&device, preview, 0);
  }
  EXPECT_EQ(taken, 1);
  platform::setDesktopSource(previous);
}

TEST(Boat, SteersTowardsItsTarget) {
  Boat boat;
  boat.setPosition(D3DXVECTOR3(0, 0, 0));
  boat.velocity = D3DXVECTOR3(5, 0, 0);
  boat.setTarget(D3DXVECTOR3(0, 0, 40), 20.0f);
  float distance = 40.0f;
  for (int i = 0; i < 60; ++i) boat.move(nullptr, nullptr, 0.05f);
  D3DXVECTOR3 toTarget = boat.target - boat.position();
  distance = D3DXVec3Length(&toTarget);
  EXPECT_LT(distance, 30.0f);
  // It turned from heading +x to heading towards +z.
  EXPECT_GT(boat.velocity.z, std::fabs(boat.velocity.x));
  // It holds about half its speed.
  for (int i = 0; i < 200; ++i) boat.move(nullptr, nullptr, 0.05f);
  EXPECT_NEAR(D3DXVec3Length(&boat.velocity), 10.0f, 2.0f);
}

TEST(Boat, LongStepsCountAsOneTenthOfASecond) {
  Boat a, b;
  D3DXVECTOR3 oldA, newA, oldB, newB;
  a.move(&oldA, &newA, 0.5f);
  b.move(&oldB, &newB, 0.1f);
  EXPECT_EQ(newA, newB);
  EXPECT_EQ(oldA, D3DXVECTOR3(-100.1f, 0, -80));
  EXPECT_EQ(a.velocity, b.velocity);
  EXPECT_EQ(a.previousPosition, oldA);
}

TEST(Boat, KeepsItsOrientationBelowATenthOfAUnit) {
  RecordingDevice device;
  Boat boat;
  boat.velocity = D3DXVECTOR3(0, 0, 3);
  device.BeginScene();
  boat.draw(&device);
  EXPECT_FLOAT_EQ(boat.forward().z, 1.0f);
  boat.velocity = D3DXVECTOR3(3, 0, 0);
  boat.draw(&device);
  EXPECT_FLOAT_EQ(boat.forward().x, 1.0f);
  EXPECT_FLOAT_EQ(boat.right().z, -1.0f);  // up x forward
  boat.velocity = D3DXVECTOR3(0, 0, -0.09f);
  boat.draw(&device);
  EXPECT_FLOAT_EQ(boat.forward().x, 1.0f);
  EXPECT_EQ(device.transform(D3DTS_WORLD), boat.frame);
}

TEST(Boat, TargetsFollowTheIdleTime) {
  Boat boat;
  // While the mouse moves: the resting place near the left edge.
  boat.chooseTarget(4.0f, 120.0f);
  EXPECT_EQ(boat.target, D3DXVECTOR3(120.0f * -0.99f, 0.0f, 120.0f * -0.05f));
  EXPECT_EQ(boat.speed, 25.0f);
  boat.chooseTarget(10.0f, 120.0f);
  EXPECT_EQ(boat.speed, 25.0f);
  // Left alone: x, z and the speed drawn at random, in that order.
  platform::srand(5);
  const int rx = platform::rand(), rz = platform::rand(), rs = platform::rand();
  platform::srand(5);
  boat.chooseTarget(10.5f, 120.0f);
  EXPECT_FLOAT_EQ(boat.target.x, static_cast<float>(rx) * 120.0f / 32768.0f - 60.0f);
  EXPECT_FLOAT_EQ(boat.target.z, static_cast<float>(rz) * 120.0f * 2.2194603e-5f - 42.0f);
  EXPECT_FLOAT_EQ(boat.speed, static_cast<float>(rs) * 0.0025939941f);
}

TEST(Boat, WakeMapsGridToPixelsAndStampsNearTheScreen) {
  const POINT p = wakePixel(D3DXVECTOR3(10.0f, 0.0f, -5.0f), 1024, 768, 120.0f);
  EXPECT_EQ(p.x, 85 + 512);
  EXPECT_EQ(p.y, -42 + 384);
  const POINT q = wakePixel(D3DXVECTOR3(-0.05f, 0.0f, 0.05f), 1024, 768, 120.0f);
  EXPECT_EQ(q.x, 512);  // trunc(-0.43) is 0
  EXPECT_EQ(q.y, 384);

  WaterSurface surface;
  ASSERT_EQ(surface.build(1024, 768, 120, 0xFFFFFFFF, WaterSurface::kRipple), 0);
  // Far outside (the start position): nothing.
  EXPECT_FALSE(stampWake(surface, D3DXVECTOR3(-100.1f, 0, -80), D3DXVECTOR3(-100.0f, 0, -80)));
  // Just within 100 pixels of the left edge: a line of strength 5.
  const D3DXVECTOR3 a(-65.0f, 0, 0), b(-64.0f, 0, 0);
  EXPECT_TRUE(stampWake(surface, a, b));
  WaterSurface reference;
  ASSERT_EQ(reference.build(1024, 768, 120, 0xFFFFFFFF, WaterSurface::kRipple), 0);
  const POINT pa = wakePixel(a, 1024, 768, 120.0f), pb = wakePixel(b, 1024, 768, 120.0f);
  reference.dragLine(pa.x, pa.y, pb.x, pb.y, 5);
  for (int n = 0; n < surface.nodeCount(); ++n) ASSERT_EQ(surface.velocity(n), reference.velocity(n)) << n;
}

TEST(Boat, TexturePictureAndItsRefusal) {
  // The picture in the current directory: bottom row first, so texture row
  // 0 is the picture's top.
  const std::string cwd = platform::currentDirectory();
  const std::string dir = testenv::freshDir("boatdir");
  ASSERT_TRUE(platform::setCurrentDirectory(dir));
  std::vector<uint8_t> stored(4 * 2 * 4);
  for (size_t i = 0; i < stored.size(); i += 4) {
    const bool bottom = i < 16;
    stored[i] = bottom ? 0x10 : 0xE0;      // blue
    stored[i + 1] = 0x80;                  // green
    stored[i + 2] = bottom ? 0xF0 : 0x20;  // red
    stored[i + 3] = bottom ? 0xFF : 0x00;  // alpha
  }
  testenv::writeFile(dir + "/boat.tga", tgaBytes(4, 2, stored));
  {
    RecordingDevice device;
    Boat boat;
    boat.loadTexture(&device);
    auto* t = dynamic_cast<MemoryTexture*>(boat.texture.get());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->format(), D3DFMT_A4R4G4B4);
    EXPECT_EQ(t->pool(), D3DPOOL_DEFAULT);
    EXPECT_EQ(t->texel(0, 0), 0x028Eu);  // the top row: transparent
    EXPECT_EQ(t->texel(3, 1), 0xFF81u);  // the bottom row: opaque
    EXPECT_EQ(device.liveTextures(D3DPOOL_SYSTEMMEM), 0);
    // Drawn as the textured quad.
    device.BeginScene();
    boat.draw(&device);
    const auto draws = device.callsNamed("DrawIndexedPrimitiveUP");
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0]->args[2], 4u);
    EXPECT_EQ(draws[0]->args[3], 2u);
    boat.releaseTexture();
    EXPECT_EQ(device.liveTextures(), 0);
  }
  // A boat.tga that is no 32-bit TGA falls back to boat.jpg, whose pixels
  // have 3 bytes: refused, and the hull is drawn.
  testenv::writeFile(dir + "/boat.tga", "not a picture");
  const std::string jpeg = testenv::readFile(testenv::dataDir() + "/../../fuzz/image/corpus/rgb16x16.jpg");
  ASSERT_FALSE(jpeg.empty());
  testenv::writeFile(dir + "/boat.jpg", jpeg);
  {
    PixelBuffer pixels;
    int w = 0, h = 0, bits = 0;
    ASSERT_EQ(loadImage("boat.tga", pixels, w, h, &bits), 0);
    ASSERT_EQ(bits, 32);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(w * h * 3));
    RecordingDevice device;
    Boat boat;
    boat.loadTexture(&device);
    EXPECT_EQ(boat.texture, nullptr);
    EXPECT_EQ(device.liveTextures(), 0);
  }
  ASSERT_TRUE(platform::setCurrentDirectory(cwd));
}

TEST(FrameUpdate, StabilityClampSmootherAndTicks) {
  RecordingDevice device;
  WaterScene scene;
  scene.initialise(nullptr, false, waterSettings(ConfigWater::ripple));
  EXPECT_FLOAT_EQ(scene.speedFactor, 26 * 0.03f + 0.2f);
  scene.offerDesktopPicture(nullptr);
  scene.restore(&device, false, 0);
  scene.speedFactor = 1.0f;

  // The first tick comes at the first frame.
  EXPECT_EQ(scene.tickAccumulator, 29.0f);
  scene.frameUpdate(0.5f);
  EXPECT_EQ(scene.tickAccumulator, 0.0f);
  // 0.5 s was cut to the largest stable step, about 0.0848 s, and the
  // smoother's mean takes an eighth of it.
  const float bound = 0.5f * 0.999f / std::sqrt((0.5f * 33.333f) * (0.5f * 33.333f) * 0.125f);
  EXPECT_NEAR(bound, 0.0848f, 0.0001f);
  EXPECT_FLOAT_EQ(scene.smoothedStep(), bound / 8.0f);
  EXPECT_FLOAT_EQ(scene.idleTime, 255.5f);
  // A step below the bound is taken as it is.
  scene.frameUpdate(0.05f);
  EXPECT_FLOAT_EQ(scene.smoothedStep(), (bound + 0.05f) / 8.0f);

  // After a reset the first tick comes one smoothed unit later, not three.
  scene.invalidate();
  EXPECT_EQ(scene.tickAccumulator, 2.0f);
  scene.restore(&device, false, 0);
  float gathered = 0.0f;
  int frames = 0;
  while (scene.tickAccumulator != 0.0f && frames < 1000) {
    const float before = scene.tickAccumulator;
    scene.frameUpdate(0.05f);
    if (scene.tickAccumulator != 0.0f) gathered += scene.tickAccumulator - before;
    ++frames;
  }
  ASSERT_LT(frames, 1000);
  EXPECT_LE(gathered, 1.0f + 1e-4f);
  EXPECT_GT(gathered + 0.05f, 1.0f - 1e-4f);
}

TEST(FrameUpdate, RandomDropsOnlyWhileIdleAndTheBoatTargetFollows) {
  for (float idle : {255.0f, 2.0f}) {
    RecordingDevice device;
    WaterScene scene;
    scene.initialise(nullptr, false, waterSettings(ConfigWater::ripple | ConfigWater::waterDrop | ConfigWater::boat));
    scene.offerDesktopPicture(nullptr);
    scene.restore(&device, false, 0);
    scene.idleTime = idle;
    scene.frameUpdate(0.03f);
    const WaterSurface& s = *scene.surface();
    bool moved = false;
    for (int n = 0; n < s.nodeCount(); ++n) {
      // The boat starts far outside, so only a drop moves the water.
      if (s.velocity(n) != 0.0f) moved = true;
    }
    EXPECT_EQ(moved, idle > 10.0f) << idle;
    if (idle <= 10.0f) {
      EXPECT_EQ(scene.boat()->target, D3DXVECTOR3(120.0f * -0.99f, 0.0f, 120.0f * -0.05f));
    } else {
      EXPECT_NE(scene.boat()->speed, 25.0f);
    }
  }
}

TEST(SceneLife, ResetKeepsBoatSmootherAndSlideshowNotTheWater) {
  Pictures p(3);
  RecordingDevice device;
  WaterScene scene;
  const std::string list = playList(p.paths);
  scene.initialise(list.c_str(), false, waterSettings(ConfigWater::ripple | ConfigWater::boat));
  scene.offerDesktopPicture(nullptr);
  scene.restore(&device, false, 0);
  for (int i = 0; i < 5; ++i) scene.frameUpdate(0.03f);
  scene.mouseDrop(300, 300, 130);
  finishCrossFade(*scene.surface());
  scene.advanceSlideshow();
  const D3DXVECTOR3 boatAt = scene.boat()->position();
  const float smoothed = scene.smoothedStep();
  const int next = scene.nextImage;
  scene.invalidate();
  EXPECT_FALSE(scene.restored());
  EXPECT_EQ(device.liveTextures(), 0);
  // Drawing an invalidated scene does nothing.
  device.clearCalls();
  scene.drawScene(0.03f);
  EXPECT_TRUE(device.calls.empty());
  scene.restore(&device, false, 0);
  EXPECT_EQ(scene.boat()->position(), boatAt);
  EXPECT_EQ(scene.smoothedStep(), smoothed);
  EXPECT_EQ(scene.nextImage, next);
  for (int n = 0; n < scene.surface()->nodeCount(); ++n) ASSERT_EQ(scene.surface()->velocity(n), 0.0f);
  // Both sets are refilled with the initial pictures.
  EXPECT_EQ(p.name(*scene.upperSet()), "P0");
  EXPECT_EQ(p.name(*scene.lowerSet()), "P1");
  scene.destroy();
  EXPECT_EQ(scene.boat(), nullptr);
}

TEST(SceneLife, ScenesShareTheImageListUntilTheLastGoes) {
  Pictures p(2);
  RecordingDevice device;
  auto first = std::make_unique<WaterScene>();
  auto second = std::make_unique<WaterScene>();
  const std::string list = playList(p.paths);
  first->initialise(list.c_str(), false, waterSettings(ConfigWater::ripple));
  second->initialise(list.c_str(), false, waterSettings(ConfigWater::ripple));
  first->offerDesktopPicture(nullptr);
  second->offerDesktopPicture(nullptr);
  first->restore(&device, false, 0);
  second->restore(&device, false, 0);
  // The first screen goes; the second still reads its pictures.
  first->destroy();
  first.reset();
  EXPECT_EQ(second->images().count(), 2u);
  finishCrossFade(*second->surface());
  second->advanceSlideshow();
  EXPECT_EQ(p.name(*second->upperSet()), "P1");
  EXPECT_EQ(p.name(*second->lowerSet()), "P0");
}

TEST(SceneLife, WindowSizeMakesTheSurface) {
  RecordingDevice device;
  WaterScene scene;
  scene.initialise(nullptr, false, waterSettings(ConfigWater::ripple, 60));
  scene.offerDesktopPicture(nullptr);
  scene.restore(&device, true, 0);
  EXPECT_EQ(scene.screenWidth(), 1024);
  EXPECT_EQ(scene.surface()->cols(), 63);
  EXPECT_EQ(scene.surface()->rows(), 45 + 3);
  // The camera sees exactly the surface's width at the water plane.
  const Camera& c = scene.camera();
  D3DXVECTOR3 edge(30.0f, 0.0f, 0.0f), projected;
  D3DXMATRIX viewProjection;
  D3DXMatrixMultiply(&viewProjection, &c.view, &c.projection);
  D3DXVec3TransformCoord(&projected, &edge, &viewProjection);
  EXPECT_NEAR(projected.x, 1.0f, 1e-5f);
  D3DXVECTOR3 top(0.0f, 0.0f, -22.5f);
  D3DXVec3TransformCoord(&projected, &top, &viewProjection);
  EXPECT_NEAR(projected.y, 1.0f, 1e-5f);  // -z is up on the screen
}
