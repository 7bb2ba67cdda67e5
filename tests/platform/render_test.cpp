// The OpenGL device against Direct3D 8's fixed-function results, read back
// from the back buffer and compared with values worked out by hand.  Runs
// headless (SDL's offscreen driver with Mesa's software rasteriser).
#include <gtest/gtest.h>

#include "tests/common/testenv.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/d3d8.h"
#include "platform/d3dx.h"
#include "platform/window.h"

using namespace platform;

namespace {

constexpr int W = 32;
constexpr int H = 32;

struct V142 {
  float x, y, z;
  DWORD diffuse;
  float u, v;
};
struct V152 {
  float x, y, z;
  float nx, ny, nz;
  DWORD diffuse;
  float u, v;
};
static_assert(sizeof(V142) == 24 && sizeof(V152) == 36, "vertex layouts of the scene");

LRESULT CALLBACK_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

// Clip-space x, y of a Direct3D screen position with identity transforms.
float ndcX(float x, int width) { return 2.0f * x / width - 1.0f; }
float ndcY(float y, int height) { return 1.0f - 2.0f * y / height; }

int channel(DWORD p, int shift) { return static_cast<int>((p >> shift) & 0xFF); }

class RenderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
  }

  void SetUp() override {
    d3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (!d3d) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no display to render on");
    static bool registered = false;
    if (!registered) {
      WNDCLASSA wc;
      wc.lpfnWndProc = CALLBACK_proc;
      wc.lpszClassName = "RenderTestWindow";
      ASSERT_NE(RegisterClassA(&wc), 0);
      registered = true;
    }
    window = CreateWindowExA(0, "RenderTestWindow", "render test", WS_POPUP, 0, 0, W, H, 0, 0, 0, nullptr);
    ASSERT_NE(window, 0u);
    ASSERT_EQ(createDevice(W, H), D3D_OK);
  }

  HRESULT createDevice(UINT width, UINT height) {
    D3DPRESENT_PARAMETERS pp;
    pp.BackBufferWidth = width;
    pp.BackBufferHeight = height;
    pp.BackBufferFormat = D3DFMT_A8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.hDeviceWindow = window;
    pp.Windowed = TRUE;
    return d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_MIXED_VERTEXPROCESSING, &pp, &dev);
  }

  void TearDown() override {
    releaseTextures();
    if (dev) dev->Release();
    if (window) DestroyWindow(window);
    if (d3d) d3d->Release();
  }

  std::vector<DWORD> read() {
    std::vector<DWORD> pixels;
    UINT w = 0, h = 0;
    EXPECT_EQ(dev->readBackBuffer(&pixels, &w, &h), D3D_OK);
    EXPECT_EQ(w, static_cast<UINT>(W));
    EXPECT_EQ(h, static_cast<UINT>(H));
    return pixels;
  }

  // A texture filled through a system-memory staging texture and UpdateTexture.
  Direct3DTexture8* texture(UINT width, UINT height, D3DFORMAT format, const std::vector<DWORD>& texels) {
    Direct3DTexture8* staging = nullptr;
    Direct3DTexture8* tex = nullptr;
    EXPECT_EQ(dev->CreateTexture(width, height, 1, 0, format, D3DPOOL_SYSTEMMEM, &staging), D3D_OK);
    EXPECT_EQ(dev->CreateTexture(width, height, 1, 0, format, D3DPOOL_DEFAULT, &tex), D3D_OK);
    if (!staging || !tex) return nullptr;
    D3DLOCKED_RECT locked;
    EXPECT_EQ(staging->LockRect(0, &locked, nullptr, 0), D3D_OK);
    UINT bpp = bytesPerTexel(format);
    for (UINT y = 0; y < height; ++y)
      for (UINT x = 0; x < width; ++x) {
        DWORD t = texels[y * width + x];
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch + x * bpp, &t, bpp);
      }
    EXPECT_EQ(staging->UnlockRect(0), D3D_OK);
    EXPECT_EQ(dev->UpdateTexture(staging, tex), D3D_OK);
    staging->Release();
    textures.push_back(tex);
    return tex;
  }

  // A quad from screen (x0, y0) to (x1, y1), clockwise on screen, with
  // identity transforms.
  void quad(float x0, float y0, float x1, float y1, DWORD colour, float u0 = 0, float v0 = 0, float u1 = 1,
            float v1 = 1) {
    V142 v[4] = {{ndcX(x0, W), ndcY(y0, H), 0.5f, colour, u0, v0},
                 {ndcX(x1, W), ndcY(y0, H), 0.5f, colour, u1, v0},
                 {ndcX(x1, W), ndcY(y1, H), 0.5f, colour, u1, v1},
                 {ndcX(x0, W), ndcY(y1, H), 0.5f, colour, u0, v1}};
    const uint16_t idx[6] = {0, 1, 2, 0, 2, 3};
    dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    EXPECT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, idx, D3DFMT_INDEX16, v, sizeof(V142)), D3D_OK);
  }

  // The whole viewport, with the half-pixel offset that puts texel centres
  // on pixel centres.
  void fullQuad(DWORD colour) { quad(-0.5f, -0.5f, W - 0.5f, H - 0.5f, colour); }

  void unlit() {
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  }

  void clear(D3DCOLOR colour) { ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0), D3D_OK); }

  Direct3D8* d3d = nullptr;
  Direct3DDevice8* dev = nullptr;
  HWND window = 0;
  std::vector<Direct3DTexture8*> textures;

  void releaseTextures() {
    for (auto* t : textures) t->Release();
    textures.clear();
  }
};

void expectPixel(DWORD actual, int a, int r, int g, int b, const std::string& what) {
  EXPECT_NEAR(channel(actual, 24), a, 1) << what << " alpha of " << std::hex << actual;
  EXPECT_NEAR(channel(actual, 16), r, 1) << what << " red of " << std::hex << actual;
  EXPECT_NEAR(channel(actual, 8), g, 1) << what << " green of " << std::hex << actual;
  EXPECT_NEAR(channel(actual, 0), b, 1) << what << " blue of " << std::hex << actual;
}

}  // namespace

// Texel 0x804080C0 (A 128, R 64, G 128, B 192) and vertex diffuse 0x60FF8020
// (A 96, R 255, G 128, B 32) through the stage operations the scene uses.
TEST_F(RenderTest, TextureStageOperationsMatchHandWorkedValues) {
  struct Case {
    const char* name;
    DWORD colorOp, colorArg1, colorArg2, alphaOp, alphaArg1, alphaArg2;
    int a, r, g, b;
  };
  const Case cases[] = {
      // SELECTARG1 of the texture: the texel as it is.
      {"select texture", D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE,
       D3DTA_CURRENT, 128, 64, 128, 192},
      // SELECTARG2 of CURRENT: stage 0's current is the diffuse colour.
      {"select current", D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG2, D3DTA_TEXTURE,
       D3DTA_CURRENT, 96, 255, 128, 32},
      // MODULATE: 64*255/255 = 64, 128*128/255 = 64.25, 192*32/255 = 24.09;
      // alpha 128*96/255 = 48.19.
      {"modulate", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, 48, 64,
       64, 24},
      // MODULATE with the complemented current: 64*0/255, 128*127/255 = 63.75,
      // 192*223/255 = 167.91; alpha 128*159/255 = 79.81.
      {"modulate complement", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT | D3DTA_COMPLEMENT, D3DTOP_MODULATE,
       D3DTA_TEXTURE, D3DTA_CURRENT | D3DTA_COMPLEMENT, 80, 0, 64, 168},
      // SELECTARG1 of the complemented texture: 255 - x.
      {"select complement texture", D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_CURRENT,
       D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_CURRENT, 127, 191, 127, 63},
      // DIFFUSE as an argument is the iterated colour itself.
      {"select diffuse", D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_DIFFUSE,
       D3DTA_TEXTURE, 96, 255, 128, 32},
      // The lower picture pass: colour modulated, alpha from the picture only.
      {"lower picture pass", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE,
       D3DTA_CURRENT, 128, 64, 64, 24},
      // A disabled stage 0 ends the cascade at once: the diffuse colour, its
      // alpha operation ignored.
      {"disabled", D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, 96,
       255, 128, 32},
  };
  Direct3DTexture8* tex = texture(2, 2, D3DFMT_A8R8G8B8, std::vector<DWORD>(4, 0x804080C0));
  ASSERT_NE(tex, nullptr);
  for (const Case& c : cases) {
    unlit();
    clear(0x00000000);
    dev->SetTexture(0, tex);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, c.colorOp);
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, c.colorArg1);
    dev->SetTextureStageState(0, D3DTSS_COLORARG2, c.colorArg2);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, c.alphaOp);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, c.alphaArg1);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, c.alphaArg2);
    dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    fullQuad(0x60FF8020);
    ASSERT_EQ(dev->EndScene(), D3D_OK);
    std::vector<DWORD> px = read();
    expectPixel(px[5 * W + 7], c.a, c.r, c.g, c.b, c.name);
    expectPixel(px[(H - 1) * W + (W - 1)], c.a, c.r, c.g, c.b, c.name);
  }
  dev->SetTexture(0, nullptr);
  releaseTextures();
}

TEST_F(RenderTest, StageOneModulatesTheFirstStagesResult) {
  // Stage 0 selects the texture (R 64), stage 1 modulates CURRENT with the
  // diffuse colour (R 255, G 128, B 32): 64, 128*128/255 = 64.25, 192*32/255.
  Direct3DTexture8* tex = texture(1, 1, D3DFMT_A8R8G8B8, {0x804080C0});
  unlit();
  clear(0);
  dev->SetTexture(0, tex);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
  dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
  dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
  dev->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  dev->BeginScene();
  fullQuad(0x60FF8020);
  dev->EndScene();
  expectPixel(read()[3 * W + 3], 96, 64, 64, 24, "two stages");
  dev->SetTexture(0, nullptr);
  releaseTextures();
}

TEST_F(RenderTest, StageWithoutTextureSamplesOpaqueWhite) {
  unlit();
  clear(0);
  dev->SetTexture(0, nullptr);
  // Texture x diffuse and texture alpha alone: white leaves the diffuse
  // colour, and the alpha is white's 255.
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  dev->BeginScene();
  fullQuad(0x40336699);
  dev->EndScene();
  expectPixel(read()[10 * W + 20], 255, 0x33, 0x66, 0x99, "no texture");
}

TEST_F(RenderTest, A4R4G4B4TexelsKeepTheirFourBitValues) {
  // 0x8C3F: A 8, R C, G 3, B F; each 4-bit value n reads as n * 17.
  Direct3DTexture8* tex = texture(2, 1, D3DFMT_A4R4G4B4, {0x8C3F, 0x1E70});
  unlit();
  clear(0);
  dev->SetTexture(0, tex);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  dev->BeginScene();
  fullQuad(0xFFFFFFFF);
  dev->EndScene();
  std::vector<DWORD> px = read();
  EXPECT_EQ(px[4 * W + 3], 0x88CC33FFu);
  EXPECT_EQ(px[4 * W + 20], 0x11EE7700u);
  dev->SetTexture(0, nullptr);
  releaseTextures();
}

TEST_F(RenderTest, ViewportQuadWithHalfPixelOffsetMapsEachTexelToItsPixel) {
  // A W x H texture of distinct texels over the whole viewport, shifted half
  // a pixel up and left as the scene does: with linear filtering every pixel
  // must show exactly its own texel (no blur, no shift).
  std::vector<DWORD> texels(W * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) texels[y * W + x] = 0xFF000000u | (x * 8) << 16 | (y * 8) << 8 | ((x + y) * 3);
  Direct3DTexture8* tex = texture(W, H, D3DFMT_A8R8G8B8, texels);
  unlit();
  clear(0);
  dev->SetTexture(0, tex);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  dev->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
  dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  dev->BeginScene();
  fullQuad(0xFFFFFFFF);
  dev->EndScene();
  std::vector<DWORD> px = read();
  int wrong = 0;
  for (int i = 0; i < W * H; ++i)
    if (px[i] != texels[i]) ++wrong;
  EXPECT_EQ(wrong, 0) << "pixel (0,0) " << std::hex << px[0] << " texel " << texels[0] << "; pixel (5,9) "
                      << px[9 * W + 5] << " texel " << texels[9 * W + 5];
  dev->SetTexture(0, nullptr);
  releaseTextures();
}

TEST_F(RenderTest, PixelCentresAreIntegerScreenCoordinates) {
  // A quad from 4 to 8 covers the pixel centres 4, 5, 6 and 7 (top-left
  // rule), and a quad from 10.5 to 12.5 covers 11 and 12: Direct3D's
  // pixel (i, j) is covered when the point (i, j) is inside.
  unlit();
  clear(0xFF000000);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  dev->BeginScene();
  quad(4, 4, 8, 8, 0xFFFFFFFF);
  quad(10.5f, 10.5f, 12.5f, 12.5f, 0xFFFFFFFF);
  dev->EndScene();
  std::vector<DWORD> px = read();
  for (int i = 2; i < 15; ++i) {
    bool first = i >= 4 && i < 8, second = i >= 11 && i < 13;
    EXPECT_EQ(px[i * W + i], (first || second) ? 0xFFFFFFFFu : 0xFF000000u) << "diagonal pixel " << i;
  }
  // And the rows run downwards: y = 4 is the fifth row from the top.
  EXPECT_EQ(px[4 * W + 5], 0xFFFFFFFFu);
  EXPECT_EQ(px[(H - 1 - 4) * W + 5], 0xFF000000u);
}

TEST_F(RenderTest, CullingRemovesTrianglesByTheirOrderOnScreen) {
  // Left triangle clockwise on screen (top-left, top-right, bottom-left),
  // right triangle counter-clockwise.
  auto draw = [&](DWORD cull) {
    clear(0xFF000000);
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, cull);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    V142 v[6] = {{ndcX(0, W), ndcY(0, H), 0.5f, 0xFFFF0000, 0, 0},   {ndcX(14, W), ndcY(0, H), 0.5f, 0xFFFF0000, 0, 0},
                 {ndcX(0, W), ndcY(14, H), 0.5f, 0xFFFF0000, 0, 0},  {ndcX(18, W), ndcY(0, H), 0.5f, 0xFF00FF00, 0, 0},
                 {ndcX(18, W), ndcY(14, H), 0.5f, 0xFF00FF00, 0, 0}, {ndcX(32, W), ndcY(0, H), 0.5f, 0xFF00FF00, 0, 0}};
    const uint16_t idx[6] = {0, 1, 2, 3, 4, 5};
    dev->SetVertexShader(0x142);
    dev->BeginScene();
    EXPECT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 6, 2, idx, D3DFMT_INDEX16, v, sizeof(V142)), D3D_OK);
    dev->EndScene();
    std::vector<DWORD> px = read();
    return std::pair<DWORD, DWORD>(px[2 * W + 3], px[2 * W + 24]);
  };
  auto cw = draw(D3DCULL_CW);
  EXPECT_EQ(cw.first, 0xFF000000u) << "clockwise triangle culled";
  EXPECT_EQ(cw.second, 0xFF00FF00u) << "counter-clockwise triangle kept";
  auto ccw = draw(D3DCULL_CCW);
  EXPECT_EQ(ccw.first, 0xFFFF0000u);
  EXPECT_EQ(ccw.second, 0xFF000000u);
  auto none = draw(D3DCULL_NONE);
  EXPECT_EQ(none.first, 0xFFFF0000u);
  EXPECT_EQ(none.second, 0xFF00FF00u);
}

TEST_F(RenderTest, BlendFactorsCombineSourceAndDestination) {
  struct Case {
    DWORD src, dst;
    D3DCOLOR background, colour;
    int r, g, b;
  };
  const Case cases[] = {
      // SRCALPHA / INVSRCALPHA with alpha 0x40 (0.251): red 255 over blue 255:
      // 255 * 0.251 = 64, blue 255 * 0.749 = 191.
      {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0xFF0000FF, 0x40FF0000, 64, 0, 191},
      // ONE / ONE adds and saturates: (100+200, 50+60, 10+20) -> (255, 110, 30).
      {D3DBLEND_ONE, D3DBLEND_ONE, 0xFFC83C14, 0x1064320A, 255, 110, 30},
      // ONE / ZERO replaces.
      {D3DBLEND_ONE, D3DBLEND_ZERO, 0xFF0000FF, 0x40FF0000, 255, 0, 0},
  };
  for (const Case& c : cases) {
    unlit();
    clear(c.background);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, c.src);
    dev->SetRenderState(D3DRS_DESTBLEND, c.dst);
    dev->BeginScene();
    fullQuad(c.colour);
    dev->EndScene();
    DWORD p = read()[16 * W + 16];
    EXPECT_NEAR(channel(p, 16), c.r, 1) << std::hex << p;
    EXPECT_NEAR(channel(p, 8), c.g, 1) << std::hex << p;
    EXPECT_NEAR(channel(p, 0), c.b, 1) << std::hex << p;
  }
}

TEST_F(RenderTest, SpecularPeaksWhereTheHalfVectorMeetsTheNormal) {
  // A lit grid of black diffuse in the plane z = -2, facing the camera, one
  // vertex on every pixel centre, under a light shining straight down the
  // view (L = (0, 0, 1)).  With the projection below, pixel (i, j) lies at
  // x = 2 (2i/W - 1), y = 2 (1 - 2j/H).  Local viewer: V = normalize(-P),
  // H = normalize(L + V), specular = (N.H)^power with N = (0, 0, 1).
  for (float power : {10.0f, 1000.0f}) {
    clear(0xFF000000);
    D3DXMATRIX identityMatrix, projection;
    D3DXMatrixIdentity(&identityMatrix);
    D3DXMatrixPerspectiveOffCenterRH(&projection, -1, 1, -1, 1, 1, 10);
    dev->SetTransform(D3DTS_WORLD, &identityMatrix);
    dev->SetTransform(D3DTS_VIEW, &identityMatrix);
    dev->SetTransform(D3DTS_PROJECTION, &projection);
    D3DLIGHT8 light;
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Specular = {1, 1, 1, 1};
    light.Direction = D3DVECTOR(0, 0, -1);
    dev->SetLight(0, &light);
    dev->LightEnable(0, TRUE);
    D3DMATERIAL8 material;
    material.Diffuse = {0, 0, 0, 1};
    material.Specular = {1, 1, 1, 1};
    material.Power = power;
    dev->SetMaterial(&material);
    dev->SetRenderState(D3DRS_LIGHTING, TRUE);
    dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetTexture(0, nullptr);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1);

    std::vector<V152> vertices;
    for (int j = 0; j < H; ++j)
      for (int i = 0; i < W; ++i) {
        float x = 2.0f * (2.0f * i / W - 1.0f), y = 2.0f * (1.0f - 2.0f * j / H);
        vertices.push_back(V152{x, y, -2.0f, 0, 0, 1, 0xFF000000, 0, 0});
      }
    std::vector<uint16_t> indices;
    for (int j = 0; j + 1 < H; ++j)
      for (int i = 0; i + 1 < W; ++i) {
        uint16_t k = static_cast<uint16_t>(j * W + i);
        for (uint16_t t : {k, static_cast<uint16_t>(k + W + 1), static_cast<uint16_t>(k + 1), k,
                           static_cast<uint16_t>(k + W), static_cast<uint16_t>(k + W + 1)})
          indices.push_back(t);
      }
    dev->BeginScene();
    ASSERT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(vertices.size()),
                                          static_cast<UINT>(indices.size() / 3), indices.data(), D3DFMT_INDEX16,
                                          vertices.data(), sizeof(V152)),
              D3D_OK);
    dev->EndScene();
    std::vector<DWORD> px = read();

    auto expected = [&](int i, int j) {
      double x = 2.0 * (2.0 * i / W - 1.0), y = 2.0 * (1.0 - 2.0 * j / H), z = -2.0;
      double len = std::sqrt(x * x + y * y + z * z);
      double vx = -x / len, vy = -y / len, vz = -z / len;
      double hx = vx, hy = vy, hz = vz + 1.0;
      double hl = std::sqrt(hx * hx + hy * hy + hz * hz);
      return 255.0 * std::pow(hz / hl, power);
    };
    // The brightest pixel is the centre, where V = L.
    int best = 0;
    for (int k = 0; k < W * H; ++k)
      if (channel(px[k], 16) > channel(px[best], 16)) best = k;
    EXPECT_EQ(best % W, W / 2) << "power " << power;
    EXPECT_EQ(best / W, H / 2) << "power " << power;
    for (auto [i, j] : {std::pair{16, 16}, {17, 16}, {18, 16}, {20, 16}, {16, 21}, {24, 24}, {2, 30}}) {
      DWORD p = px[j * W + i];
      double e = expected(i, j);
      EXPECT_NEAR(channel(p, 16), e, 1.5) << "power " << power << " at " << i << "," << j;
      EXPECT_NEAR(channel(p, 8), e, 1.5) << "power " << power << " at " << i << "," << j;
      EXPECT_NEAR(channel(p, 0), e, 1.5) << "power " << power << " at " << i << "," << j;
    }
  }
}

TEST_F(RenderTest, DiffuseLightingFollowsTheNormalAndTheMaterialSource) {
  // White vertex colour as diffuse material (COLOR1), light diffuse
  // (0.5, 0.25, 1) from 60 degrees off the normal: N.L = 0.5, so
  // 255 * (0.25, 0.125, 0.5) = (64, 32, 128), alpha the vertex's 0x80.
  clear(0xFF000000);
  D3DXMATRIX identityMatrix;
  D3DXMatrixIdentity(&identityMatrix);
  dev->SetTransform(D3DTS_WORLD, &identityMatrix);
  dev->SetTransform(D3DTS_VIEW, &identityMatrix);
  dev->SetTransform(D3DTS_PROJECTION, &identityMatrix);
  D3DLIGHT8 light;
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = {0.5f, 0.25f, 1.0f, 1.0f};
  light.Direction = D3DVECTOR(0, -std::sqrt(3.0f) / 2, -0.5f);
  dev->SetLight(0, &light);
  dev->LightEnable(0, TRUE);
  dev->SetRenderState(D3DRS_LIGHTING, TRUE);
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
  V152 v[4] = {{-1.2f, 1.2f, 0.5f, 0, 0, 1, 0x80FFFFFF, 0, 0},
               {1.2f, 1.2f, 0.5f, 0, 0, 1, 0x80FFFFFF, 0, 0},
               {1.2f, -1.2f, 0.5f, 0, 0, 1, 0x80FFFFFF, 0, 0},
               {-1.2f, -1.2f, 0.5f, 0, 0, 1, 0x80FFFFFF, 0, 0}};
  const uint16_t idx[6] = {0, 1, 2, 0, 2, 3};
  dev->SetVertexShader(0x152);
  dev->BeginScene();
  ASSERT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, idx, D3DFMT_INDEX16, v, sizeof(V152)), D3D_OK);
  dev->EndScene();
  expectPixel(read()[12 * W + 9], 0x80, 64, 32, 128, "diffuse lighting");
}

TEST_F(RenderTest, FrameFormatWithoutTextureCoordinatesDraws) {
  // The black edge frame: FVF 0x42, texture-by-current modulation with no
  // texture bound.
  unlit();
  clear(0xFFFFFFFF);
  struct V42 {
    float x, y, z;
    DWORD diffuse;
  } v[3] = {{ndcX(0, W), ndcY(0, H), 0.5f, 0xFF000000},
            {ndcX(32, W), ndcY(0, H), 0.5f, 0xFF000000},
            {ndcX(0, W), ndcY(32, H), 0.5f, 0xFF000000}};
  const uint16_t idx[3] = {0, 1, 2};
  dev->SetVertexShader(0x42);
  dev->BeginScene();
  ASSERT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, idx, D3DFMT_INDEX16, v, 16), D3D_OK);
  dev->EndScene();
  std::vector<DWORD> px = read();
  EXPECT_EQ(px[1 * W + 1], 0xFF000000u);
  EXPECT_EQ(px[30 * W + 30], 0xFFFFFFFFu);
}

TEST_F(RenderTest, DeviceRulesOfTexturesScenesAndReset) {
  Direct3DTexture8* def = nullptr;
  Direct3DTexture8* sys = nullptr;
  ASSERT_EQ(dev->CreateTexture(256, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &def), D3D_OK);
  ASSERT_EQ(dev->CreateTexture(256, 256, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_SYSTEMMEM, &sys), D3D_OK);
  D3DLOCKED_RECT locked;
  EXPECT_EQ(def->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL) << "default-pool textures are not lockable";
  EXPECT_EQ(dev->UpdateTexture(sys, def), D3DERR_INVALIDCALL) << "formats differ";
  EXPECT_LT(dev->GetAvailableTextureMem(), 512u * 1024u * 1024u);
  D3DPRESENT_PARAMETERS pp;
  pp.BackBufferWidth = 16;
  pp.BackBufferHeight = 8;
  pp.BackBufferFormat = D3DFMT_A8R8G8B8;
  pp.SwapEffect = D3DSWAPEFFECT_COPY;
  pp.Windowed = TRUE;
  pp.hDeviceWindow = window;
  EXPECT_EQ(dev->Reset(&pp), D3DERR_INVALIDCALL) << "a default-pool texture still lives";
  def->Release();
  sys->Release();
  EXPECT_EQ(dev->Reset(&pp), D3D_OK);
  std::vector<DWORD> pixels;
  UINT w = 0, h = 0;
  EXPECT_EQ(dev->readBackBuffer(&pixels, &w, &h), D3D_OK);
  EXPECT_EQ(w, 16u);
  EXPECT_EQ(h, 8u);
  DWORD lighting = 0;
  dev->GetRenderState(D3DRS_LIGHTING, &lighting);
  EXPECT_EQ(lighting, static_cast<DWORD>(TRUE)) << "Reset returns states to their defaults";
  EXPECT_EQ(dev->EndScene(), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->BeginScene(), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->EndScene(), D3D_OK);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
  EXPECT_EQ(dev->Present(nullptr, nullptr, 0, nullptr), D3D_OK);
}

TEST_F(RenderTest, HeadlessAdapterListsItsDesktopMode) {
  ASSERT_GE(d3d->GetAdapterCount(), 1u);
  D3DDISPLAYMODE desktop;
  ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &desktop), D3D_OK);
  EXPECT_GT(desktop.Width, 0u);
  EXPECT_GT(desktop.Height, 0u);
  EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);
  bool found = false;
  for (UINT i = 0; i < d3d->GetAdapterModeCount(0); ++i) {
    D3DDISPLAYMODE m;
    ASSERT_EQ(d3d->EnumAdapterModes(0, i, &m), D3D_OK);
    if (m.Width == desktop.Width && m.Height == desktop.Height && m.Format == desktop.Format) found = true;
  }
  EXPECT_TRUE(found);
  D3DADAPTER_IDENTIFIER8 a, b;
  ASSERT_EQ(d3d->GetAdapterIdentifier(0, D3DENUM_NO_WHQL_LEVEL, &a), D3D_OK);
  ASSERT_EQ(d3d->GetAdapterIdentifier(0, D3DENUM_NO_WHQL_LEVEL, &b), D3D_OK);
  EXPECT_STRNE(a.Description, "");
  EXPECT_EQ(a.DeviceIdentifier, b.DeviceIdentifier);
  EXPECT_NE(a.DeviceIdentifier, GUID{});
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, desktop.Format, desktop.Format, FALSE), D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, desktop.Format, D3DFMT_A8R8G8B8, TRUE), D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_SW, desktop.Format, desktop.Format, FALSE), D3DERR_NOTAVAILABLE);
  D3DCAPS8 caps;
  ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
  EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
  EXPECT_TRUE(caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED);
  EXPECT_GE(caps.VertexShaderVersion, D3DVS_VERSION(1, 1));
  EXPECT_NE(d3d->GetAdapterMonitor(0), 0u);
}

TEST_F(RenderTest, WindowedDeviceOfSizeZeroTakesTheClientSize) {
  dev->Release();
  dev = nullptr;
  ASSERT_EQ(createDevice(0, 0), D3D_OK);
  std::vector<DWORD> pixels;
  UINT w = 0, h = 0;
  ASSERT_EQ(dev->readBackBuffer(&pixels, &w, &h), D3D_OK);
  EXPECT_EQ(w, static_cast<UINT>(W));
  EXPECT_EQ(h, static_cast<UINT>(H));
  D3DVIEWPORT8 vp;
  dev->GetViewport(&vp);
  EXPECT_EQ(vp.Width, static_cast<DWORD>(W));
  EXPECT_EQ(vp.MaxZ, 1.0f);
}

TEST_F(RenderTest, FullScreenDeviceTakesTheModeAndRendersAtItsSize) {
  dev->Release();
  dev = nullptr;
  D3DDISPLAYMODE desktop;
  ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &desktop), D3D_OK);
  D3DPRESENT_PARAMETERS pp;
  pp.BackBufferWidth = desktop.Width;
  pp.BackBufferHeight = desktop.Height;
  pp.BackBufferFormat = desktop.Format;
  pp.BackBufferCount = 1;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.hDeviceWindow = window;
  pp.Windowed = FALSE;
  pp.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_ONE;
  // A format the adapter does not list is refused before anything changes.
  D3DPRESENT_PARAMETERS bad = pp;
  bad.BackBufferFormat = D3DFMT_A4R4G4B4;
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_MIXED_VERTEXPROCESSING, &bad, &dev),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev, nullptr);
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0, &pp, &dev), D3DERR_INVALIDCALL)
      << "one kind of vertex processing must be named";
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_MIXED_VERTEXPROCESSING, &pp, &dev), D3D_OK);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF204060, 1.0f, 0), D3D_OK);
  std::vector<DWORD> pixels;
  UINT w = 0, h = 0;
  ASSERT_EQ(dev->readBackBuffer(&pixels, &w, &h), D3D_OK);
  EXPECT_EQ(w, desktop.Width);
  EXPECT_EQ(h, desktop.Height);
  EXPECT_EQ(pixels[(h - 1) * w + (w - 1)], 0xFF204060u) << "an X8R8G8B8 back buffer reads alpha 255";
  EXPECT_EQ(dev->Present(nullptr, nullptr, 0, nullptr), D3D_OK);
}

TEST_F(RenderTest, FlatShadingTakesTheFirstVertexColour) {
  unlit();
  clear(0xFF000000);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  V142 v[3] = {{ndcX(0, W), ndcY(0, H), 0.5f, 0xFF102030, 0, 0},
               {ndcX(32, W), ndcY(0, H), 0.5f, 0xFFFFFFFF, 0, 0},
               {ndcX(0, W), ndcY(32, H), 0.5f, 0xFF808080, 0, 0}};
  const uint16_t idx[3] = {0, 1, 2};
  dev->SetVertexShader(0x142);
  for (DWORD mode : {D3DSHADE_FLAT, D3DSHADE_GOURAUD}) {
    dev->SetRenderState(D3DRS_SHADEMODE, mode);
    dev->BeginScene();
    ASSERT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, idx, D3DFMT_INDEX16, v, sizeof(V142)), D3D_OK);
    dev->EndScene();
    DWORD p = read()[10 * W + 10];
    if (mode == D3DSHADE_FLAT)
      EXPECT_EQ(p, 0xFF102030u);
    else
      EXPECT_NE(p, 0xFF102030u);
  }
}

TEST_F(RenderTest, OddSizedSixteenBitTexturesKeepTheirRows) {
  // 3 x 2 texels of 6 bytes a row: each lands on its own part of the
  // viewport, rows top to bottom.
  const std::vector<DWORD> texels = {0xF100, 0xF020, 0xF003, 0xF400, 0xF050, 0xF006};
  Direct3DTexture8* tex = texture(3, 2, D3DFMT_A4R4G4B4, texels);
  unlit();
  clear(0);
  dev->SetTexture(0, tex);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  dev->BeginScene();
  fullQuad(0xFFFFFFFF);
  dev->EndScene();
  std::vector<DWORD> px = read();
  const DWORD expected[6] = {0xFF110000, 0xFF002200, 0xFF000033, 0xFF440000, 0xFF005500, 0xFF000066};
  const int xs[3] = {5, 16, 26}, ys[2] = {8, 24};
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(px[ys[r] * W + xs[c]], expected[r * 3 + c]) << "texel " << c << "," << r;
}

TEST_F(RenderTest, ClampAddressingHoldsTheEdgeTexelsWhereWrapRepeats) {
  // Red and blue texels under u from -1 to 2.  At pixel 8, u = -1 + 3 *
  // 8.5 / 32 = -0.20: clamped that is the red texel, wrapped (0.80) the blue.
  Direct3DTexture8* tex = texture(2, 1, D3DFMT_A8R8G8B8, {0xFFFF0000, 0xFF0000FF});
  for (DWORD address : {D3DTADDRESS_CLAMP, D3DTADDRESS_WRAP}) {
    unlit();
    clear(0);
    dev->SetTexture(0, tex);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_ADDRESSU, address);
    dev->SetTextureStageState(0, D3DTSS_ADDRESSV, address);
    dev->BeginScene();
    quad(-0.5f, -0.5f, W - 0.5f, H - 0.5f, 0xFFFFFFFF, -1.0f, 0.0f, 2.0f, 1.0f);
    dev->EndScene();
    std::vector<DWORD> px = read();
    EXPECT_EQ(px[4 * W + 8] & 0xFFFFFF, address == D3DTADDRESS_CLAMP ? 0xFF0000u : 0x0000FFu);
    EXPECT_EQ(px[4 * W + 30] & 0xFFFFFF, 0x0000FFu);
  }
}
