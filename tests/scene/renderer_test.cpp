// The passes as the device sees them: the states each sets, its draw calls,
// the tiling of a picture and its texture coordinates, the light and the
// material.  Everything runs on the recording device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/crtrand.h"
#include "scenetest.h"

using namespace scenetest;
using platform::D3DCall;
using platform::MemoryTexture;
using platform::RecordingDevice;

namespace {

std::string stage(int type, uint32_t value) {
  return "SetTextureStageState(0, " + std::to_string(type) + ", " + std::to_string(value) + ")";
}
std::string render(int state, uint32_t value) {
  return "SetRenderState(" + std::to_string(state) + ", " + std::to_string(value) + ")";
}
std::string shader(uint32_t fvf) { return "SetVertexShader(" + std::to_string(fvf) + ")"; }

// The state calls of a picture pass, in the order they are made.
std::vector<std::string> pictureStates(uint32_t alphaOp, uint32_t alphaArg2) {
  return {stage(13, 3),      stage(14, 3), render(27, 1),       render(29, 1), render(137, 0),
          stage(4, alphaOp), stage(5, 2),  stage(6, alphaArg2), render(19, 5), render(20, 6),
          stage(1, 4),       stage(2, 2),  stage(3, 1),         shader(0x142)};
}

std::vector<std::string> textsOf(const RecordingDevice& d, size_t from, size_t count) {
  std::vector<std::string> out;
  for (size_t i = from; i < from + count && i < d.calls.size(); ++i) out.push_back(d.calls[i].text());
  return out;
}

PictureVertex pictureVertex(const D3DCall& call, size_t i) {
  PictureVertex v;
  std::memcpy(&v, call.vertices.data() + i * sizeof(PictureVertex), sizeof v);
  return v;
}

// A scene on the recording device (1024 x 768, no window, no desktop)
// with the given pictures.
struct SceneRig {
  RecordingDevice device;
  WaterScene scene;
  SceneRig(uint32_t flags, const std::vector<std::string>& pictures, bool random = false) {
    const std::string list = playList(pictures);
    scene.initialise(list.c_str(), random, waterSettings(flags));
    scene.offerDesktopPicture(nullptr);
    scene.restore(&device, false, 0);
  }
};

std::vector<std::string> twoPictures() {
  const std::string dir = testenv::freshDir("pictures");
  return {writeBitmap(dir, "red.bmp", 64, 48, solid(64, 48, 200, 30, 30)),
          writeBitmap(dir, "blue.bmp", 64, 48, solid(64, 48, 30, 30, 200))};
}

}  // namespace

TEST(Renderer, FrameThenPicturesThenSpecularThenBoatThenWorldReset) {
  for (bool specular : {false, true}) {
    SCOPED_TRACE(specular ? "specular on" : "specular off");
    const uint32_t flags = ConfigWater::ripple | ConfigWater::boat | (specular ? ConfigWater::specular : 0u);
    SceneRig rig(flags, twoPictures());
    RecordingDevice& d = rig.device;
    d.clearCalls();
    d.BeginScene();
    rig.scene.drawScene(1.0f / 30.0f);
    d.EndScene();

    // Transforms first: projection, world, view.
    ASSERT_GE(d.calls.size(), 4u);
    EXPECT_EQ(d.calls[1].name, "SetTransform");
    EXPECT_EQ(d.calls[1].args[0], uint64_t{D3DTS_PROJECTION});
    EXPECT_EQ(d.calls[2].args[0], uint64_t{D3DTS_WORLD});
    EXPECT_EQ(d.calls[3].args[0], uint64_t{D3DTS_VIEW});

    // The frame: its states, then one draw of 8 triangles over 8 vertices.
    const std::vector<std::string> frame{render(27, 0), render(29, 0), render(137, 0), stage(1, 4),
                                         stage(2, 2),   stage(3, 1),   shader(0x42)};
    EXPECT_EQ(textsOf(d, 4, frame.size()), frame);
    const D3DCall& frameDraw = d.calls[4 + frame.size()];
    ASSERT_EQ(frameDraw.name, "DrawIndexedPrimitiveUP");
    EXPECT_EQ(frameDraw.args[2], 8u);
    EXPECT_EQ(frameDraw.args[3], 8u);
    EXPECT_EQ(frameDraw.args[7], 16u);
    for (size_t v = 0; v < 8; ++v) {
      uint32_t diffuse;
      std::memcpy(&diffuse, frameDraw.vertices.data() + v * 16 + 12, 4);
      EXPECT_EQ(diffuse, 0xFF000000u);
    }

    // Then the lower pass (alpha from the picture alone), the upper pass
    // (alpha times the blend), each tile textured.
    size_t at = 4 + frame.size() + 1;
    const TileSet& lower = *rig.scene.lowerSet();
    const int tiles = lower.pictureRows() * lower.pictureCols();
    for (uint32_t alphaOp : {2u, 4u}) {
      const std::vector<std::string> states = pictureStates(alphaOp, 1);
      EXPECT_EQ(textsOf(d, at, states.size()), states);
      at += states.size();
      for (int t = 0; t < tiles; ++t) {
        ASSERT_EQ(d.calls[at].name, "SetTexture");
        EXPECT_NE(d.calls[at].texture, nullptr);
        ASSERT_EQ(d.calls[at + 1].name, "DrawIndexedPrimitiveUP");
        EXPECT_EQ(d.calls[at + 1].vertexShader, 0x142u);
        at += 2;
      }
    }
    if (specular) {
      std::vector<std::string> lit = pictureStates(4, 1);
      lit.pop_back();
      lit.push_back(render(137, 1));
      lit.push_back(render(19, 2));
      lit.push_back(render(20, 2));
      lit.push_back(shader(0x152));
      EXPECT_EQ(textsOf(d, at, lit.size()), lit);
      at += lit.size();
      for (int t = 0; t < tiles; ++t) {
        EXPECT_EQ(d.calls[at].text(), "SetTexture(0, 0)");
        EXPECT_EQ(d.calls[at + 1].vertexShader, 0x152u);
        EXPECT_EQ(d.calls[at + 1].args[7], 36u);
        at += 2;
      }
    }
    // The boat: its frame as the world, then its states and one draw.
    ASSERT_EQ(d.calls[at].name, "SetTransform");
    EXPECT_EQ(d.calls[at].args[0], uint64_t{D3DTS_WORLD});
    EXPECT_EQ(d.calls[at].matrix, rig.scene.boat()->frame);
    const std::vector<std::string> boat{render(137, 0), stage(6, 1),   render(19, 5), render(20, 6),
                                        render(27, 1),  render(29, 0), shader(0x142)};
    EXPECT_EQ(d.calls[at + 1].name, "SetTexture");
    EXPECT_EQ(textsOf(d, at + 2, boat.size()), boat);
    at += 2 + boat.size();
    ASSERT_EQ(d.calls[at].name, "DrawIndexedPrimitiveUP");
    at += 1;
    // Last: the world transform back to identity, then EndScene.
    ASSERT_EQ(d.calls[at].name, "SetTransform");
    EXPECT_EQ(d.calls[at].args[0], uint64_t{D3DTS_WORLD});
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    EXPECT_EQ(d.calls[at].matrix, identity);
    EXPECT_EQ(d.calls[at + 1].name, "EndScene");
    EXPECT_EQ(at + 2, d.calls.size());
  }
}

TEST(Renderer, UpperPassTakesTheComplementOfTheBlendRunningBack) {
  SceneRig rig(ConfigWater::ripple, twoPictures());
  WaterSurface& surface = *rig.scene.surface();
  RecordingDevice& d = rig.device;
  struct Case {
    int direction;
    D3DTEXTUREOP op;
    uint32_t alphaArg2;
  };
  for (const Case& c : {Case{1, D3DTOP_SELECTARG1, 1}, Case{1, D3DTOP_MODULATE, 1}, Case{2, D3DTOP_SELECTARG1, 1},
                        Case{2, D3DTOP_MODULATE, 17}}) {
    if (surface.blendDirection() != c.direction) {
      finishCrossFade(surface);
      ASSERT_EQ(surface.startTransition(), 0);
    }
    ASSERT_EQ(surface.blendDirection(), c.direction);
    d.clearCalls();
    d.BeginScene();
    drawPicture(&d, surface, *rig.scene.lowerSet(), c.op);
    d.EndScene();
    EXPECT_EQ(d.textureStageState(0, D3DTSS_ALPHAOP), static_cast<DWORD>(c.op));
    EXPECT_EQ(d.textureStageState(0, D3DTSS_ALPHAARG2), c.alphaArg2) << "direction " << c.direction << " op " << c.op;
  }
}

TEST(Renderer, NoPicturesDrawOnlyTheFrameAndTheBoat) {
  SceneRig rig(ConfigWater::ripple | ConfigWater::specular | ConfigWater::boat, {});
  RecordingDevice& d = rig.device;
  d.clearCalls();
  d.BeginScene();
  rig.scene.drawScene(0.03f);
  d.EndScene();
  const auto draws = d.callsNamed("DrawIndexedPrimitiveUP");
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0]->vertexShader, 0x42u);
  // Without boat.tga the hull: 6 points, 4 triangles, white stern point.
  EXPECT_EQ(draws[1]->args[2], 6u);
  EXPECT_EQ(draws[1]->args[3], 4u);
  EXPECT_EQ(pictureVertex(*draws[1], 4).diffuse, 0xFFFFFFFFu);
  EXPECT_EQ(pictureVertex(*draws[1], 0).diffuse, 0xFFB0B0C0u);
}

TEST(Renderer, TilesCoverTheScreenAndTheirTextureMatchesThePicture) {
  // A picture as large as the screen takes 5 x 4 tiles at 1024 x 768.
  const std::string dir = testenv::freshDir("big");
  std::vector<uint8_t> rgb(1024 * 768 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7);
  const std::string path = writeBitmap(dir, "big.bmp", 1024, 768, rgb);
  SceneRig rig(ConfigWater::ripple, {path});
  const TileSet& tiles = *rig.scene.upperSet();
  ASSERT_TRUE(tiles.hasPicture());
  ASSERT_EQ(tiles.canvasWidth(), 1024);
  ASSERT_EQ(tiles.canvasHeight(), 768);
  ASSERT_EQ(tiles.pictureCols(), 5);
  ASSERT_EQ(tiles.pictureRows(), 4);

  WaterSurface& surface = *rig.scene.surface();
  RecordingDevice& d = rig.device;
  d.clearCalls();
  d.BeginScene();
  drawPicture(&d, surface, tiles, D3DTOP_MODULATE);
  d.EndScene();
  const auto draws = d.callsNamed("DrawIndexedPrimitiveUP");
  ASSERT_EQ(draws.size(), 20u);

  const float px = 1024.0f / surface.widthUnits(), py = 768.0f / surface.heightUnits();
  const float delta = -0.5f * surface.widthUnits() / 1024.0f;
  std::vector<int> coveredColumns(surface.cols(), 0), coveredRows(surface.rows(), 0);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 5; ++j) {
      SCOPED_TRACE("tile " + std::to_string(i) + "," + std::to_string(j));
      const D3DCall& call = *draws[static_cast<size_t>(i * 5 + j)];
      const TileCoverage t = coverTile(surface, tiles, i, j, false);
      const int rows = t.rowEnd - t.rowBegin, columns = t.columnEnd - t.columnBegin;
      ASSERT_EQ(call.args[2], static_cast<uint64_t>(rows * columns));
      ASSERT_EQ(call.args[3], static_cast<uint64_t>((rows - 1) * (columns - 1) * 2));
      for (int c = t.columnBegin; c < t.columnEnd; ++c) coveredColumns[c] = 1;
      for (int r = t.rowBegin; r < t.rowEnd; ++r) coveredRows[r] = 1;
      for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
          const PictureVertex v = pictureVertex(call, static_cast<size_t>(r * columns + c));
          const int node = (t.rowBegin + r) * surface.cols() + t.columnBegin + c;
          // The refracted position, half a pixel left and up.
          EXPECT_FLOAT_EQ(v.x, surface.vertices()[node].x + delta);
          EXPECT_FLOAT_EQ(v.z, surface.vertices()[node].z + delta);
          EXPECT_EQ(v.diffuse, surface.blendNodes()[node].colour);
          // The texel under the node's undisturbed place on the canvas.
          const float canvasX = (static_cast<float>(t.columnBegin + c) - surface.colOffset()) * px;
          const float canvasY = (static_cast<float>(t.rowBegin + r) - surface.rowOffset()) * py;
          EXPECT_NEAR(v.u * 256.0f, canvasX + static_cast<float>(tiles.leftPad() - 253 * j), 0.02f);
          EXPECT_NEAR(v.v * 256.0f, canvasY + static_cast<float>(tiles.topPad() - 253 * i), 0.02f);
        }
      }
      // Two triangles a quad, kept by clockwise culling (counter-clockwise
      // on screen: x right, z down).
      for (size_t k = 0; k + 2 < call.indices.size(); k += 3) {
        const PictureVertex a = pictureVertex(call, call.indices[k]), b = pictureVertex(call, call.indices[k + 1]),
                            e = pictureVertex(call, call.indices[k + 2]);
        const float cross = (b.x - a.x) * (e.z - a.z) - (b.z - a.z) * (e.x - a.x);
        ASSERT_LT(cross, 0.0f) << "triangle " << k / 3;
      }
    }
  }
  // Every node of the visible region lies in some tile.
  for (int c = 1; c <= 1 + static_cast<int>(surface.widthUnits()); ++c) EXPECT_TRUE(coveredColumns[c]) << c;
  for (int r = static_cast<int>(surface.rowOffset()) + 1;
       r <= static_cast<int>(surface.rowOffset() + surface.heightUnits()); ++r)
    EXPECT_TRUE(coveredRows[r]) << r;
}

TEST(Renderer, LitPassSharesOneRowAndColumnBetweenTiles) {
  const std::string dir = testenv::freshDir("lit");
  const std::string path = writeBitmap(dir, "big.bmp", 1024, 768, solid(1024, 768, 90, 120, 150));
  SceneRig rig(ConfigWater::ripple | ConfigWater::specular, {path});
  WaterSurface& surface = *rig.scene.surface();
  const TileSet& tiles = *rig.scene.lowerSet();
  RecordingDevice& d = rig.device;
  d.clearCalls();
  d.BeginScene();
  drawSpecular(&d, surface, tiles);
  d.EndScene();
  const auto draws = d.callsNamed("DrawIndexedPrimitiveUP");
  ASSERT_EQ(draws.size(), 20u);
  // x runs on across the tiles of a row: each tile starts on the column the
  // previous one ended on.
  float lastX = 0.0f;
  for (int j = 0; j < 5; ++j) {
    const D3DCall& call = *draws[static_cast<size_t>(j)];
    const TileCoverage t = coverTile(surface, tiles, 0, j, true);
    const int columns = t.columnEnd - t.columnBegin;
    SurfaceVertex first, last;
    std::memcpy(&first, call.vertices.data(), sizeof first);
    std::memcpy(&last, call.vertices.data() + static_cast<size_t>(columns - 1) * sizeof last, sizeof last);
    if (j == 0)
      EXPECT_FLOAT_EQ(first.x, -surface.widthUnits() * 0.5f - 0.5f * surface.widthUnits() / 1024.0f);
    else
      EXPECT_FLOAT_EQ(first.x, lastX);
    lastX = last.x;
    EXPECT_EQ(first.diffuse, 0xFF000000u);
    EXPECT_FLOAT_EQ(first.ny, 1.0f);
  }
}

TEST(TileSetTest, EveryTileHasATransparentRingInBothFormats) {
  for (D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4}) {
    SCOPED_TRACE(format == D3DFMT_A8R8G8B8 ? "A8R8G8B8" : "A4R4G4B4");
    RecordingDevice device;
    TileSet tiles;
    tiles.allocate(&device, format, 640, 480);
    ASSERT_EQ(tiles.poolSize(), 3 * 2);
    // 600 x 480 with a distinct corner pixel: two tiles across, two down.
    std::vector<uint8_t> rgb = solid(600, 480, 0x12, 0x34, 0x56);
    rgb[0] = 0xF0;
    rgb[1] = 0x80;
    rgb[2] = 0x10;
    ASSERT_TRUE(tiles.upload(&device, rgb.data(), 600, 480, 600.0f / 480.0f));
    EXPECT_EQ(tiles.pictureCols(), 3);
    EXPECT_EQ(tiles.pictureRows(), 2);
    const uint32_t alphaMask = format == D3DFMT_A8R8G8B8 ? 0xFF000000u : 0xF000u;
    for (int i = 0; i < tiles.pictureRows(); ++i) {
      for (int j = 0; j < tiles.pictureCols(); ++j) {
        auto* t = dynamic_cast<MemoryTexture*>(tiles.tileTexture(i, j));
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->format(), format);
        for (UINT k = 0; k < 256; ++k) {
          EXPECT_EQ(t->texel(k, 0) & alphaMask, 0u);
          EXPECT_EQ(t->texel(k, 255) & alphaMask, 0u);
          EXPECT_EQ(t->texel(0, k) & alphaMask, 0u);
          EXPECT_EQ(t->texel(255, k) & alphaMask, 0u);
        }
        EXPECT_EQ(t->texel(128, 128) & alphaMask, alphaMask);
      }
    }
    // The corner pixel sits at (leftPad, topPad) of tile (0, 0) in the
    // format's packing; the margin left of it repeats it without alpha.
    auto* first = dynamic_cast<MemoryTexture*>(tiles.tileTexture(0, 0));
    const UINT x = static_cast<UINT>(tiles.leftPad()), y = static_cast<UINT>(tiles.topPad());
    const uint32_t corner = format == D3DFMT_A8R8G8B8 ? 0xFFF08010u : 0xFF81u;
    EXPECT_EQ(first->texel(x, y), corner);
    EXPECT_EQ(first->texel(x - 1, y), corner & ~alphaMask);
    EXPECT_EQ(first->texel(x, y - 1), corner & ~alphaMask);
    EXPECT_EQ(first->texel(x + 1, y), format == D3DFMT_A8R8G8B8 ? 0xFF123456u : 0xF135u);
    // The staging texture stays in system memory; the tiles in the default pool.
    EXPECT_EQ(device.liveTextures(D3DPOOL_SYSTEMMEM), 1);
    EXPECT_EQ(device.liveTextures(D3DPOOL_DEFAULT), 6);
    tiles.release();
    EXPECT_EQ(device.liveTextures(), 0);
  }
}

TEST(TileSetTest, BarsKeepThePictureShape) {
  struct Case {
    const char* name;
    int screenW, screenH, picW, picH;
    int canvasW, canvasH;
  };
  // 4:3 on 16:10 gets bars left and right; 16:9 on 4:3 above and below.
  for (const Case& c :
       {Case{"4:3 on 16:10", 1280, 800, 400, 300, 480, 300}, Case{"16:9 on 4:3", 1024, 768, 480, 270, 480, 360}}) {
    SCOPED_TRACE(c.name);
    RecordingDevice device;
    TileSet tiles;
    tiles.allocate(&device, D3DFMT_A8R8G8B8, c.screenW, c.screenH);
    const std::vector<uint8_t> rgb = solid(c.picW, c.picH, 250, 250, 250);
    ASSERT_TRUE(tiles.upload(&device, rgb.data(), c.picW, c.picH,
                             static_cast<float>(c.screenW) / static_cast<float>(c.screenH)));
    EXPECT_EQ(tiles.canvasWidth(), c.canvasW);
    EXPECT_EQ(tiles.canvasHeight(), c.canvasH);
    auto* t = dynamic_cast<MemoryTexture*>(tiles.tileTexture(0, 0));
    const int barX = (c.canvasW - c.picW) / 2, barY = (c.canvasH - c.picH) / 2;
    const UINT x0 = static_cast<UINT>(tiles.leftPad()), y0 = static_cast<UINT>(tiles.topPad());
    // Inside the bars black, inside the picture white.
    EXPECT_EQ(t->texel(x0 + 1, y0 + 1), barX + barY > 0 ? 0xFF000000u : 0xFFFAFAFAu);
    EXPECT_EQ(t->texel(x0 + static_cast<UINT>(barX) + 1, y0 + static_cast<UINT>(barY) + 1), 0xFFFAFAFAu);
    if (barX > 0) {
      EXPECT_EQ(t->texel(x0 + static_cast<UINT>(barX) - 1, y0 + 100), 0xFF000000u);
    }
    if (barY > 0) {
      EXPECT_EQ(t->texel(x0 + 100, y0 + static_cast<UINT>(barY) - 1), 0xFF000000u);
    }
  }
}

TEST(TileSetTest, TexturesThatCannotBeMadeLeaveTheirTilesEmpty) {
  RecordingDevice device;
  device.texturesBeforeFailure = 2;
  TileSet tiles;
  tiles.allocate(&device, D3DFMT_A8R8G8B8, 640, 480);
  ASSERT_EQ(tiles.poolSize(), 6);
  EXPECT_NE(tiles.poolTexture(1), nullptr);
  EXPECT_EQ(tiles.poolTexture(2), nullptr);
  // Without a staging texture no picture can be uploaded.
  const std::vector<uint8_t> rgb = solid(100, 100, 1, 2, 3);
  EXPECT_FALSE(tiles.upload(&device, rgb.data(), 100, 100, 4.0f / 3.0f));
}

TEST(TextureFormat, ThirtyTwoBitsWhenThereIsRoom) {
  struct Case {
    UINT memory;
    int texturesBeforeFailure;
    D3DFORMAT expected;
  };
  // 1024 x 768: (1024 * 768 * 8 / 10) * 15 = 9,437,175 bytes needed.
  for (const Case& c : {Case{512u << 20, -1, D3DFMT_A8R8G8B8}, Case{9437175, -1, D3DFMT_A8R8G8B8},
                        Case{9437174, -1, D3DFMT_A4R4G4B4}, Case{512u << 20, 0, D3DFMT_A4R4G4B4}}) {
    RecordingDevice device;
    device.availableTextureMem = c.memory;
    device.texturesBeforeFailure = c.texturesBeforeFailure;
    EXPECT_EQ(chooseTextureFormat(&device, 1024, 768), c.expected) << c.memory;
    // The probe texture is given back at once.
    EXPECT_EQ(device.liveTextures(), 0);
  }
}

TEST(Light, PowerFadeInAndRandomColours) {
  RecordingDevice device;
  {
    LightState light;
    light.update(&device, 0.0f, 0, 0xFF80FFFF, 100);
    EXPECT_FLOAT_EQ(device.material().Power, 10.0f);
    light.update(&device, 0.0f, 0, 0xFF80FFFF, 1);
    EXPECT_FLOAT_EQ(device.material().Power, 1000.0f);
    EXPECT_FLOAT_EQ(device.material().Diffuse.a, 1.0f);
    EXPECT_FLOAT_EQ(device.material().Diffuse.r, 0.0f);
    EXPECT_FLOAT_EQ(device.material().Specular.a, 1.0f);
  }
  {
    // The fixed colour fades in at 0.05 a second, from nothing.
    LightState light;
    light.update(&device, 0.0f, 0, RGB(0x80, 0x40, 0xFF), 35);
    EXPECT_FLOAT_EQ(device.material().Specular.r, 0.0f);
    for (int i = 0; i < 4; ++i) light.update(&device, 0.25f, 0, RGB(0x80, 0x40, 0xFF), 35);
    EXPECT_NEAR(light.fadeIn, 0.05f, 1e-6f);
    EXPECT_NEAR(device.material().Specular.r, 0.05f * 128.0f / 256.0f, 1e-6f);
    EXPECT_NEAR(device.material().Specular.g, 0.05f * 64.0f / 256.0f, 1e-6f);
    EXPECT_NEAR(device.material().Specular.b, 0.05f * 255.0f / 256.0f, 1e-6f);
    for (int i = 0; i < 100; ++i) light.update(&device, 0.3f, 0, RGB(0x80, 0x40, 0xFF), 35);
    EXPECT_FLOAT_EQ(light.fadeIn, 1.0f);
    // Frames longer than 0.3 s count as 0.3 s.
    const float fade = light.fadeIn, yaw = light.yaw;
    light.update(&device, 2.0f, 0, RGB(0x80, 0x40, 0xFF), 35);
    EXPECT_NEAR(light.yaw - yaw, 2.03f * 0.3f, 1e-4f);
    EXPECT_EQ(light.fadeIn, fade);
  }
  {
    // Random colours: the first update draws one (the timer starts past
    // 20 s), and the material fades from the previous to the current one.
    platform::srand(7);
    LightState light;
    light.update(&device, 0.0f, LightState::kSpecularRandomColor, 0, 35);
    platform::srand(7);
    float drawn[3];
    for (float& c : drawn) c = static_cast<float>(platform::rand()) * 3.0212403e-5f;
    EXPECT_FLOAT_EQ(light.currentColour[0], drawn[0]);
    EXPECT_FLOAT_EQ(light.currentColour[2], drawn[2]);
    EXPECT_FLOAT_EQ(device.material().Specular.r, 0.0f);  // k = 0: all previous (black)
    light.update(&device, 0.25f, LightState::kSpecularRandomColor, 0, 35);
    light.update(&device, 0.25f, LightState::kSpecularRandomColor, 0, 35);
    const float k = 0.5f * 0.05f;
    EXPECT_NEAR(device.material().Specular.g, k * drawn[1], 1e-6f);
  }
  {
    // The light tilts from straight down to 65 degrees in 5 s and circles.
    LightState light;
    light.update(&device, 0.0f, 0, 0, 35);
    D3DLIGHT8 l = device.light(0);
    EXPECT_EQ(l.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_NEAR(l.Direction.y, -1.0f, 1e-6f);
    EXPECT_NEAR(l.Direction.x, 0.0f, 1e-6f);
    EXPECT_TRUE(device.lightEnabled(0));
    for (int i = 0; i < 20; ++i) light.update(&device, 0.3f, 0, 0, 35);
    EXPECT_FLOAT_EQ(light.pitch, 65.0f);
    l = device.light(0);
    EXPECT_NEAR(l.Direction.y, -std::sin(65.0f * 0.017453292f), 1e-5f);
    EXPECT_FLOAT_EQ(l.Specular.r, 1.0f);
    EXPECT_FLOAT_EQ(l.Diffuse.g, 1.0f);
  }
}
