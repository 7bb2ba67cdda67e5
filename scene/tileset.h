#pragma once
// One picture under the water, cut into 256 x 256 textures.
//
// Textures of that size are what every card of the time could hold, so a
// picture is laid on a canvas of the screen's shape, centred between black
// bars, and split into tiles 253 texels apart: neighbouring tiles overlap by
// 3 texels, and every tile's outer ring of texels is transparent, so that
// the seams blend instead of showing a line.  The textures live in the
// default pool and are filled through one reused system-memory staging
// texture.
#include <cstdint>
#include <vector>

#include "platform/d3d8.h"
#include "scene/deviceobject.h"

class TileSet {
 public:
  static constexpr int kTileSize = 256;
  static constexpr int kTileStep = 253;
  static constexpr int kOverlap = 3;

  TileSet() = default;
  TileSet(const TileSet&) = delete;
  TileSet& operator=(const TileSet&) = delete;

  // Makes the texture pool for a screen: ((width + 3) / 253 + 1) x
  // ((height + 3) / 253 + 1) textures of the format and one staging
  // texture.  A texture that can't be made stays empty (its tile is drawn
  // untextured).  Any earlier textures are released first.
  void allocate(Direct3DDevice8* device, D3DFORMAT format, int screenWidth, int screenHeight);
  // Lays the picture (3 bytes R G B per pixel, rows from the top) on a
  // canvas of the given aspect (width / height) and fills the tiles.
  // False, with the set unchanged, for an empty picture or one that needs
  // more tiles than the pool holds.
  bool upload(Direct3DDevice8* device, const uint8_t* rgb, int width, int height, float aspect);
  // Gives every texture back; the set then holds no picture.
  void release();

  bool hasPicture() const { return hasPicture_; }
  D3DFORMAT format() const { return format_; }
  int allocCols() const { return allocCols_; }
  int allocRows() const { return allocRows_; }
  // The canvas (W', H') and its tiling.
  int canvasWidth() const { return canvasWidth_; }
  int canvasHeight() const { return canvasHeight_; }
  int pictureCols() const { return pictureCols_; }
  int pictureRows() const { return pictureRows_; }
  int leftPad() const { return leftPad_; }
  int rightPad() const { return rightPad_; }
  int topPad() const { return topPad_; }
  int bottomPad() const { return bottomPad_; }
  // The texture of tile (row, column) of the current picture: the pool is
  // used flat, tile (i, j) is texture i * pictureCols + j.  Null when it
  // could not be made.
  Direct3DTexture8* tileTexture(int row, int column) const;
  Direct3DTexture8* poolTexture(int index) const;
  int poolSize() const { return static_cast<int>(textures_.size()); }

  // The texel a canvas pixel becomes in a format.
  static uint32_t texelOf(D3DFORMAT format, uint8_t red, uint8_t green, uint8_t blue);

 private:
  void fillTile(int row, int column, const uint8_t* canvas, uint8_t* texels, int pitch) const;

  D3DFORMAT format_ = D3DFMT_A8R8G8B8;
  int allocCols_ = 0, allocRows_ = 0;
  std::vector<TexturePtr> textures_;
  TexturePtr staging_;
  bool hasPicture_ = false;
  int canvasWidth_ = 0, canvasHeight_ = 0;
  int pictureCols_ = 0, pictureRows_ = 0;
  int leftPad_ = 0, rightPad_ = 0, topPad_ = 0, bottomPad_ = 0;
  // The canvas when the picture needs bars, kept to avoid a new buffer for
  // every picture of the slideshow.
  std::vector<uint8_t> canvas_;
};

// D3DFMT_A8R8G8B8 when the device has room for the tiles of two screens'
// pictures and can make such a texture, else D3DFMT_A4R4G4B4.
D3DFORMAT chooseTextureFormat(Direct3DDevice8* device, int screenWidth, int screenHeight);
