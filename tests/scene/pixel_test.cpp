// The water as it appears: frames drawn by the OpenGL device, read back
// from the back buffer and compared with the pictures.  Runs headless
// (SDL's offscreen driver, Mesa's software rasteriser).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/window.h"
#include "scenetest.h"

using namespace scenetest;

namespace {

LRESULT plainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return platform::DefWindowProcA(w, m, wp, lp); }

int red(DWORD p) { return static_cast<int>((p >> 16) & 0xFF); }
int green(DWORD p) { return static_cast<int>((p >> 8) & 0xFF); }
int blue(DWORD p) { return static_cast<int>(p & 0xFF); }

class PixelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
  }

  void TearDown() override {
    scene.reset();
    if (device) device->Release();
    if (window) platform::DestroyWindow(window);
    if (d3d) d3d->Release();
  }

  // A device and window of the size; false (test skipped or failed) when
  // there is no renderer.
  bool open(int w, int h) {
    width = w;
    height = h;
    d3d = platform::Direct3DCreate8(D3D_SDK_VERSION);
    if (!d3d) return false;
    static bool registered = false;
    if (!registered) {
      WNDCLASSA wc;
      wc.lpfnWndProc = plainProc;
      wc.lpszClassName = "PixelTestWindow";
      registered = platform::RegisterClassA(&wc) != 0;
    }
    window = platform::CreateWindowExA(0, "PixelTestWindow", "pixels", WS_POPUP, 0, 0, w, h, 0, 0, 0, nullptr);
    if (!window) return false;
    D3DPRESENT_PARAMETERS pp;
    pp.BackBufferWidth = static_cast<UINT>(w);
    pp.BackBufferHeight = static_cast<UINT>(h);
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.hDeviceWindow = window;
    pp.Windowed = TRUE;
    if (FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_MIXED_VERTEXPROCESSING, &pp, &device)))
      return false;
    // The application's base states.
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    for (DWORD s = 0; s < 2; ++s) {
      device->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_DISABLE);
      device->SetTextureStageState(s, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
      device->SetTextureStageState(s, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
      device->SetTextureStageState(s, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    }
    return true;
  }

  void makeScene(uint32_t flags, const std::vector<std::string>& pictures,
                 std::shared_ptr<const RgbPicture> desktop = nullptr, int surfaceSize = 60) {
    scene = std::make_unique<WaterScene>();
    const std::string list = playList(pictures);
    scene->initialise(list.c_str(), false, waterSettings(flags, surfaceSize));
    scene->offerDesktopPicture(std::move(desktop));
    scene->restore(device, false, window);
  }

  std::vector<DWORD> frame(float dt = 1.0f / 30.0f) {
    device->BeginScene();
    device->SetVertexShader(kLitFvf);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    scene->drawScene(dt);
    device->EndScene();
    std::vector<DWORD> pixels;
    UINT w = 0, h = 0;
    EXPECT_EQ(device->readBackBuffer(&pixels, &w, &h), D3D_OK);
    EXPECT_EQ(static_cast<int>(w), width);
    EXPECT_EQ(static_cast<int>(h), height);
    return pixels;
  }

  DWORD at(const std::vector<DWORD>& p, int x, int y) const { return p[static_cast<size_t>(y) * width + x]; }

  int width = 0, height = 0;
  Direct3D8* d3d = nullptr;
  Direct3DDevice8* device = nullptr;
  HWND window = 0;
  std::unique_ptr<WaterScene> scene;
};

#define OPEN_OR_SKIP(w, h) \
  if (!open(w, h)) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no renderer to draw on")

}  // namespace

TEST_F(PixelTest, CalmWaterShowsThePictureUndistortedEdgeToEdge) {
  OPEN_OR_SKIP(256, 192);
  // A picture the size of the screen: a gradient with a coloured border.
  std::vector<uint8_t> rgb(256 * 192 * 3);
  for (int y = 0; y < 192; ++y)
    for (int x = 0; x < 256; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * 256 + x) * 3];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y + 40);
      p[2] = 128;
      if (x == 0) p[2] = 255;
      if (x == 255) p[2] = 0;
      if (y == 0) p[0] = 255;
      if (y == 191) p[0] = 0;
    }
  const std::string dir = testenv::freshDir("calm");
  makeScene(ConfigWater::ripple, {writeBitmap(dir, "gradient.bmp", 256, 192, rgb)});
  const std::vector<DWORD> pixels = frame();
  int close = 0, far = 0;
  for (int y = 0; y < 192; ++y)
    for (int x = 0; x < 256; ++x) {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * 256 + x) * 3];
      const DWORD q = at(pixels, x, y);
      const int d = std::max({std::abs(red(q) - p[0]), std::abs(green(q) - p[1]), std::abs(blue(q) - p[2])});
      if (d <= 3) ++close;
      if (d > 24) ++far;
    }
  EXPECT_GE(close, 256 * 192 * 98 / 100);
  EXPECT_EQ(far, 0);
  // The picture's edges lie on the screen's edges: no black frame, no
  // shift.
  for (int y = 8; y < 184; y += 8) {
    EXPECT_NEAR(blue(at(pixels, 0, y)), 255, 8) << y;
    EXPECT_NEAR(blue(at(pixels, 255, y)), 0, 8) << y;
    EXPECT_NEAR(blue(at(pixels, 1, y)), 128, 8) << y;
  }
  for (int x = 8; x < 248; x += 8) {
    EXPECT_NEAR(red(at(pixels, x, 0)), 255, 8) << x;
    EXPECT_NEAR(red(at(pixels, x, 191)), 0, 8) << x;
    EXPECT_NEAR(red(at(pixels, x, 1)), x, 8) << x;
  }
}

TEST_F(PixelTest, BarsBesideAndAboveThePicture) {
  {
    // 4:3 on a 16:10 screen: black left and right.
    OPEN_OR_SKIP(320, 200);
    const std::string dir = testenv::freshDir("bars");
    makeScene(ConfigWater::ripple, {writeBitmap(dir, "green.bmp", 160, 120, solid(160, 120, 20, 220, 40))});
    const std::vector<DWORD> pixels = frame();
    // The canvas is 192 x 120; the picture spans canvas x 16..175, on the
    // screen 26.7..293.3.
    for (int y = 2; y < 198; y += 13) {
      for (int x : {0, 10, 24, 296, 310, 319}) EXPECT_EQ(at(pixels, x, y) & 0xFFFFFF, 0u) << x << "," << y;
      for (int x : {29, 100, 160, 250, 290}) EXPECT_NEAR(green(at(pixels, x, y)), 220, 4) << x << "," << y;
    }
  }
  TearDown();
  scene.reset();
  device = nullptr;
  window = 0;
  d3d = nullptr;
  {
    // 16:9 on a 4:3 screen: black above and below.  320 x 180 is reduced
    // to 256 x 144 on a canvas of 256 x 191.
    OPEN_OR_SKIP(256, 192);
    const std::string dir = testenv::freshDir("bars2");
    makeScene(ConfigWater::ripple, {writeBitmap(dir, "wide.bmp", 320, 180, solid(320, 180, 230, 200, 10))});
    const std::vector<DWORD> pixels = frame();
    for (int x = 3; x < 253; x += 11) {
      for (int y : {0, 10, 20, 172, 182, 191}) EXPECT_EQ(at(pixels, x, y) & 0xFFFFFF, 0u) << x << "," << y;
      for (int y : {26, 60, 96, 140, 165}) EXPECT_NEAR(red(at(pixels, x, y)), 230, 4) << x << "," << y;
    }
  }
}

TEST_F(PixelTest, TheLowerPictureAppearsWhereTheBlendHasFallen) {
  OPEN_OR_SKIP(256, 192);
  // Without ripples a drop only seeds the cross-fade: nothing moves, so
  // the blend at a node (the alpha of its colour) decides what shows under
  // it.
  const std::string dir = testenv::freshDir("fade");
  auto desktop = std::make_shared<RgbPicture>();
  desktop->width = 256;
  desktop->height = 192;
  const auto blueRgb = solid(256, 192, 0, 0, 250);
  desktop->rgb.assign(blueRgb.begin(), blueRgb.end());
  makeScene(0, {writeBitmap(dir, "red.bmp", 256, 192, solid(256, 192, 250, 0, 0))}, desktop);
  std::vector<DWORD> pixels = frame();
  EXPECT_NEAR(blue(at(pixels, 128, 96)), 250, 3);
  scene->mouseDrop(61, 97, 130);
  for (int i = 0; i < 90; ++i) pixels = frame();

  const WaterSurface& s = *scene->surface();
  const float ppu = 256.0f / s.widthUnits();
  const TileSet& tiles = *scene->upperSet();
  auto seamX = [&](int j) { return (253.0f * j + 1.5f - tiles.leftPad()) * 256.0f / tiles.canvasWidth(); };
  auto seamY = [&](int i) { return (253.0f * i + 1.5f - tiles.topPad()) * 192.0f / tiles.canvasHeight(); };
  int fallen = 0, standing = 0;
  for (int r = 1; r < s.rows() - 1; ++r) {
    for (int c = 1; c < s.cols() - 1; ++c) {
      const int x = static_cast<int>(std::lround((static_cast<float>(c) - s.colOffset()) * ppu - 0.5f));
      const int y = static_cast<int>(std::lround((static_cast<float>(r) - s.rowOffset()) * ppu - 0.5f));
      if (x < 2 || y < 2 || x > 253 || y > 189) continue;
      // Where two tiles overlap the upper picture is laid twice over a
      // pixel or two: leave those out.
      bool nearSeam = false;
      for (int j = 1; j < tiles.pictureCols(); ++j)
        if (std::fabs(static_cast<float>(x) - seamX(j)) < 2.5f * ppu) nearSeam = true;
      for (int i = 1; i < tiles.pictureRows(); ++i)
        if (std::fabs(static_cast<float>(y) - seamY(i)) < 2.5f * ppu) nearSeam = true;
      if (nearSeam) continue;
      const float b = static_cast<float>(s.blendNodes()[r * s.cols() + c].colour >> 24) / 255.0f;
      const DWORD p = at(pixels, x, y);
      if (b < 0.02f) {
        ++fallen;
        EXPECT_GT(red(p), 200) << "node " << r << "," << c;
        EXPECT_LT(blue(p), 50) << "node " << r << "," << c;
      } else if (b > 0.98f) {
        ++standing;
        EXPECT_GT(blue(p), 200) << "node " << r << "," << c;
      }
      // In between, the colours mix by the blend.
      EXPECT_NEAR(red(p), 250.0f * (1.0f - b), 40.0f) << "node " << r << "," << c;
    }
  }
  EXPECT_GT(fallen, 5);
  EXPECT_GT(standing, 100);
  EXPECT_GT(red(at(pixels, 60, 96)), 200);
  EXPECT_GT(blue(at(pixels, 2, 2)), 200);
}

TEST_F(PixelTest, TheGlintComesOnlyWithTheSpecularBit) {
  OPEN_OR_SKIP(128, 96);
  const std::string dir = testenv::freshDir("glint");
  const std::string grey = writeBitmap(dir, "grey.bmp", 128, 96, solid(128, 96, 100, 100, 100));
  long sums[2] = {0, 0};
  int brighter = 0;
  for (int withBit = 0; withBit < 2; ++withBit) {
    makeScene(ConfigWater::ripple | (withBit ? ConfigWater::specular : 0u), {grey});
    // A light straight above, fully faded in, with a broad highlight.
    LightState light;
    light.fadeIn = 1.0f;
    light.update(device, 0.0f, 0, RGB(255, 255, 255), 100);
    const std::vector<DWORD> pixels = frame();
    for (int y = 0; y < 96; ++y)
      for (int x = 0; x < 128; ++x) {
        const DWORD p = at(pixels, x, y);
        sums[withBit] += red(p) + green(p) + blue(p);
        if (!withBit) {
          EXPECT_NEAR(red(p), 100, 3) << x << "," << y;
        } else if (green(p) > 130) {
          ++brighter;
        }
      }
    scene.reset();
  }
  EXPECT_GT(sums[1], sums[0] + 128 * 96 * 30);
  EXPECT_GT(brighter, 128 * 96 / 4);
}
