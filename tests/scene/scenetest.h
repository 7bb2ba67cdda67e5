#pragma once
// Shared pieces of the scene's tests: picture files made on the spot, a
// scene on the recording device, and a way to finish a cross-fade so that
// the slideshow can move on.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/d3d8.h"
#include "platform/testing/d3d8doubles.h"
#include "scene/renderer.h"
#include "scene/waterscene.h"
#include "scene/watersurface.h"
#include "source/configwater.h"
#include "tests/common/testenv.h"

namespace scenetest {

// A 24-bit bottom-up Windows bitmap of the RGB pixels (rows from the top).
inline std::string bitmapBytes(int width, int height, const std::vector<uint8_t>& rgb) {
  const int rowBytes = (width * 3 + 3) & ~3;
  const uint32_t imageSize = static_cast<uint32_t>(rowBytes * height);
  std::string b(54 + imageSize, '\0');
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto put16 = [&](size_t at, uint16_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<uint32_t>(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  put16(26, 1);
  put16(28, 24);
  put32(34, imageSize);
  for (int y = 0; y < height; ++y) {
    const size_t row = 54 + static_cast<size_t>(height - 1 - y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      b[row + x * 3 + 0] = static_cast<char>(p[2]);
      b[row + x * 3 + 1] = static_cast<char>(p[1]);
      b[row + x * 3 + 2] = static_cast<char>(p[0]);
    }
  }
  return b;
}

inline std::vector<uint8_t> solid(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = r;
    rgb[i + 1] = g;
    rgb[i + 2] = b;
  }
  return rgb;
}

// Writes a bitmap into `dir` and returns its path.
inline std::string writeBitmap(const std::string& dir, const std::string& name, int width, int height,
                               const std::vector<uint8_t>& rgb) {
  const std::string path = dir + "/" + name;
  testenv::writeFile(path, bitmapBytes(width, height, rgb));
  return path;
}

// A double-NUL play list of the paths.
inline std::string playList(const std::vector<std::string>& paths) {
  std::string s;
  for (const auto& p : paths) {
    s += p;
    s += '\0';
  }
  s += '\0';
  return s;
}

// Ends the cross-fade that runs, as if its spread had reached every node:
// the next startTransition starts a new one.
inline void finishCrossFade(WaterSurface& surface) {
  const bool falling = surface.blendDirection() == 1;
  for (int n = 0; n < surface.nodeCount(); ++n) surface.setBlend(n, falling ? 0.0f : 1.0f, falling ? 2u : 1u);
  surface.step(D3DXVECTOR3(0.0f, surface.widthUnits() * 0.5f, 0.0f), 0.001f);
}

inline ConfigWater waterSettings(uint32_t flags, int surfaceSize = 120) {
  ConfigWater w;
  w.waterFlags = flags;
  w.surfaceSize = surfaceSize;
  return w;
}

// The colour at the middle of tile (0, 0) of a set as 0xRRGGBB (32-bit
// textures), or -1 without a texture.
inline int64_t middleColour(const TileSet& tiles) {
  auto* texture = dynamic_cast<platform::MemoryTexture*>(tiles.tileTexture(0, 0));
  if (!texture) return -1;
  const int x = tiles.leftPad() + 2, y = tiles.topPad() + 2;
  return texture->texel(static_cast<UINT>(x), static_cast<UINT>(y)) & 0xFFFFFF;
}

}  // namespace scenetest
