#include "scene/tileset.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kOpaque32 = 0xFF000000u;
constexpr uint32_t kOpaque16 = 0xF000u;
// What is left of a texel when its alpha is cleared.
constexpr uint32_t kColourMask32 = 0x00FFFFFFu;
constexpr uint32_t kColourMask16 = 0x0FFFu;

// A tile's texels in the staging texture, 32 or 16 bits each.
class TexelRows {
 public:
  TexelRows(uint8_t* bits, int pitch, D3DFORMAT format)
      : bits_(bits), pitch_(pitch), wide_(format != D3DFMT_A4R4G4B4) {}

  uint32_t get(int x, int y) const {
    const uint8_t* p = bits_ + static_cast<size_t>(y) * pitch_ + static_cast<size_t>(x) * (wide_ ? 4 : 2);
    if (wide_) {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  void set(int x, int y, uint32_t value) {
    uint8_t* p = bits_ + static_cast<size_t>(y) * pitch_ + static_cast<size_t>(x) * (wide_ ? 4 : 2);
    if (wide_) {
      std::memcpy(p, &value, 4);
    } else {
      const uint16_t v = static_cast<uint16_t>(value);
      std::memcpy(p, &v, 2);
    }
  }
  uint32_t colourMask() const { return wide_ ? kColourMask32 : kColourMask16; }

 private:
  uint8_t* bits_;
  int pitch_;
  bool wide_;
};

}  // namespace

uint32_t TileSet::texelOf(D3DFORMAT format, uint8_t red, uint8_t green, uint8_t blue) {
  if (format == D3DFMT_A4R4G4B4)
    return kOpaque16 | (static_cast<uint32_t>(red >> 4) << 8) | (green & 0xF0u) | static_cast<uint32_t>(blue >> 4);
  return kOpaque32 | (static_cast<uint32_t>(red) << 16) | (static_cast<uint32_t>(green) << 8) | blue;
}

void TileSet::allocate(Direct3DDevice8* device, D3DFORMAT format, int screenWidth, int screenHeight) {
  release();
  format_ = format;
  if (!device || screenWidth <= 0 || screenHeight <= 0) return;
  allocCols_ = (screenWidth + kOverlap) / kTileStep + 1;
  allocRows_ = (screenHeight + kOverlap) / kTileStep + 1;
  textures_.resize(static_cast<size_t>(allocCols_) * allocRows_);
  for (TexturePtr& texture : textures_) {
    Direct3DTexture8* made = nullptr;
    if (SUCCEEDED(device->CreateTexture(kTileSize, kTileSize, 1, 0, format, D3DPOOL_DEFAULT, &made)))
      texture.reset(made);
  }
  Direct3DTexture8* staging = nullptr;
  if (SUCCEEDED(device->CreateTexture(kTileSize, kTileSize, 1, 0, format, D3DPOOL_SYSTEMMEM, &staging)))
    staging_.reset(staging);
}

void TileSet::release() {
  textures_.clear();
  staging_.reset();
  allocCols_ = allocRows_ = 0;
  hasPicture_ = false;
  canvasWidth_ = canvasHeight_ = 0;
  pictureCols_ = pictureRows_ = 0;
  leftPad_ = rightPad_ = topPad_ = bottomPad_ = 0;
}

Direct3DTexture8* TileSet::poolTexture(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= textures_.size()) return nullptr;
  return textures_[static_cast<size_t>(index)].get();
}

Direct3DTexture8* TileSet::tileTexture(int row, int column) const {
  if (!hasPicture_ || row < 0 || column < 0 || row >= pictureRows_ || column >= pictureCols_) return nullptr;
  return poolTexture(row * pictureCols_ + column);
}

bool TileSet::upload(Direct3DDevice8* device, const uint8_t* rgb, int width, int height, float aspect) {
  if (!device || !rgb || width <= 0 || height <= 0 || !(aspect > 0.0f) || !staging_) return false;

  // The canvas has the screen's shape and holds the picture centred.
  int canvasWidth = width, canvasHeight = height;
  if (static_cast<int>(static_cast<float>(width) / aspect) < height) {
    canvasWidth = static_cast<int>(aspect * static_cast<float>(height));
  } else {
    canvasHeight = static_cast<int>(static_cast<float>(width) / aspect);
  }
  canvasWidth = std::max(canvasWidth, width);
  canvasHeight = std::max(canvasHeight, height);
  const int offsetX = (canvasWidth - width) / 2, offsetY = (canvasHeight - height) / 2;
  if (offsetX == 0 && offsetY == 0) {
    // A canvas only a pixel larger is not worth a copy.
    canvasWidth = width;
    canvasHeight = height;
  }

  const int cols = (canvasWidth + kOverlap) / kTileStep + 1;
  const int rows = (canvasHeight + kOverlap) / kTileStep + 1;
  if (static_cast<size_t>(cols) * static_cast<size_t>(rows) > textures_.size()) return false;

  const uint8_t* canvas = rgb;
  if (offsetX != 0 || offsetY != 0) {
    canvas_.assign(static_cast<size_t>(canvasWidth) * canvasHeight * 3, 0);
    for (int y = 0; y < height; ++y)
      std::memcpy(&canvas_[(static_cast<size_t>(y + offsetY) * canvasWidth + offsetX) * 3],
                  rgb + static_cast<size_t>(y) * width * 3, static_cast<size_t>(width) * 3);
    canvas = canvas_.data();
  }

  canvasWidth_ = canvasWidth;
  canvasHeight_ = canvasHeight;
  pictureCols_ = cols;
  pictureRows_ = rows;
  const int spareX = cols * kTileStep - kOverlap - canvasWidth;
  const int spareY = rows * kTileStep - kOverlap - canvasHeight;
  leftPad_ = kOverlap + spareX / 2;
  rightPad_ = leftPad_ + spareX % 2;
  topPad_ = kOverlap + spareY / 2;
  bottomPad_ = topPad_ + spareY % 2;
  hasPicture_ = true;

  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      Direct3DTexture8* texture = poolTexture(i * cols + j);
      if (!texture) continue;
      D3DLOCKED_RECT locked;
      if (FAILED(staging_->LockRect(0, &locked, nullptr, 0))) continue;
      fillTile(i, j, canvas, static_cast<uint8_t*>(locked.pBits), locked.Pitch);
      staging_->UnlockRect(0);
      device->UpdateTexture(staging_.get(), texture);
    }
  }
  return true;
}

void TileSet::fillTile(int row, int column, const uint8_t* canvas, uint8_t* bits, int pitch) const {
  TexelRows texels(bits, pitch, format_);
  const int y0 = row == 0 ? topPad_ : 0;
  const int y1 = row == pictureRows_ - 1 ? kTileSize - bottomPad_ : kTileSize;
  const int x0 = column == 0 ? leftPad_ : 0;
  const int x1 = column == pictureCols_ - 1 ? kTileSize - rightPad_ : kTileSize;
  const int rowBase = kTileStep * row - topPad_;
  const int columnBase = kTileStep * column - leftPad_;

  for (int y = y0; y < y1; ++y) {
    const uint8_t* source = canvas + (static_cast<size_t>(y + rowBase) * canvasWidth_ + (x0 + columnBase)) * 3;
    for (int x = x0; x < x1; ++x, source += 3) texels.set(x, y, texelOf(format_, source[0], source[1], source[2]));
  }

  // The margins repeat the edge texels without alpha, and the outermost
  // texels lose theirs where there is no margin: every tile gets a fully
  // transparent ring.
  const uint32_t mask = texels.colourMask();
  for (int y = y0; y < y1; ++y) {
    if (x0 > 0) {
      const uint32_t first = texels.get(x0, y) & mask;
      for (int x = 0; x < x0; ++x) texels.set(x, y, first);
    } else {
      texels.set(0, y, texels.get(0, y) & mask);
    }
    if (x1 < kTileSize) {
      const uint32_t last = texels.get(x1 - 1, y) & mask;
      for (int x = x1; x < kTileSize; ++x) texels.set(x, y, last);
    } else {
      texels.set(kTileSize - 1, y, texels.get(kTileSize - 1, y) & mask);
    }
  }
  auto copyRowClear = [&](int from, int to) {
    for (int x = 0; x < kTileSize; ++x) texels.set(x, to, texels.get(x, from) & mask);
  };
  if (y0 > 0) {
    for (int y = 0; y < y0; ++y) copyRowClear(y0, y);
  } else {
    copyRowClear(0, 0);
  }
  if (y1 < kTileSize) {
    for (int y = y1; y < kTileSize; ++y) copyRowClear(y1 - 1, y);
  } else {
    copyRowClear(kTileSize - 1, kTileSize - 1);
  }
}

D3DFORMAT chooseTextureFormat(Direct3DDevice8* device, int screenWidth, int screenHeight) {
  if (!device) return D3DFMT_A4R4G4B4;
  // Room for about one and a half screens of 32-bit texels, in the 32-bit
  // unsigned arithmetic the check was designed with.
  const uint32_t needed = static_cast<uint32_t>(screenWidth) * static_cast<uint32_t>(screenHeight) * 8u / 10u * 15u;
  if (device->GetAvailableTextureMem() < needed) return D3DFMT_A4R4G4B4;
  Direct3DTexture8* probe = nullptr;
  if (FAILED(device->CreateTexture(TileSet::kTileSize, TileSet::kTileSize, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                   &probe)) ||
      !probe)
    return D3DFMT_A4R4G4B4;
  probe->Release();
  return D3DFMT_A8R8G8B8;
}
