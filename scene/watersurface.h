#pragma once
// The water surface: a grid of nodes carrying a damped wave height field, a
// per-node cross-fade value (the blend field) that reveals the next picture
// outwards from every disturbance, and the vertices the renderer draws, each
// displaced by refracting the line of sight through the rippled surface.
//
// Plain arithmetic, no device: one surface per screen, built at every device
// restore.  All of it is single precision and written in a fixed order, so a
// run is the same on every build and can be traced (tools/watersim).
//
// Grid: W columns by H rows, row-major (node = row * W + column, row 0 at the
// top).  The outer ring never moves and acts as a fixed border; rows 1..H-2
// and columns 1..W-2 are the interior.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/d3dx.h"
#include "platform/wintypes.h"
#include "scene/refractiontable.h"

// One vertex of the surface as the lit pass draws it (36 bytes: position,
// normal, diffuse, texture coordinates).
struct SurfaceVertex {
  float x = 0.0f, y = 0.0f, z = 0.0f;
  float nx = 0.0f, ny = 0.0f, nz = 0.0f;
  uint32_t diffuse = 0;
  float u = 0.0f, v = 0.0f;
};
static_assert(sizeof(SurfaceVertex) == 36, "the lit vertex layout is 36 bytes");

// The cross-fade state of one node.  colour is packed A8R8G8B8; its alpha
// equals the blend value.
struct BlendNode {
  uint32_t colour = 0;
  uint32_t phase = 1;  // 1 or 2: the direction the node is ready to run next
  float blend = 1.0f;
};

// A transition tint: alpha, red, green, blue.
struct ColourSlot {
  float alpha = 0.0f, red = 0.0f, green = 0.0f, blue = 0.0f;
};

class WaterSurface {
 public:
  // Bits of the water flags read here.
  static constexpr uint32_t kRipple = 1;
  static constexpr uint32_t kWaterRandomColor = 8;
  static constexpr float kDepthConstant = 50000.0f;
  // The largest surface build accepts (far beyond any screen's).
  static constexpr int64_t kMaxNodes = int64_t{1} << 22;

  WaterSurface() = default;
  WaterSurface(const WaterSurface&) = delete;
  WaterSurface& operator=(const WaterSurface&) = delete;

  // Builds everything anew for a screen of the given pixel size: W =
  // surfaceSize + 3 columns, trunc(surfaceSize * height / width) + 3 rows.
  // Returns 0; E_FAIL for a non-positive size or a surface too large to
  // hold, E_OUTOFMEMORY when the arrays cannot be had.  On failure the
  // surface is left empty and every other operation does nothing.
  [[nodiscard]] HRESULT build(int screenWidth, int screenHeight, int surfaceSize, COLORREF fixedColour, uint32_t flags);
  // Frees everything; the surface is then empty.
  void clear();

  // Advances the waves, the blend field and the vertices by dt seconds of
  // smoothed, clamped time, refracting towards eyePoint.  Returns 0.
  int step(const D3DXVECTOR3& eyePoint, float dt);

  // A disturbance at screen pixel (x, y) plus one; x <= 0 picks a random
  // node away from the edges, strength 0 a random strength.  Returns 0.
  int drop(int x, int y, int strength);
  // Disturbances along the segment between two screen pixels.  Returns 0.
  int dragLine(int x1, int y1, int x2, int y2, int strength);

  // Starts the next cross-fade (the other direction, with a new tint) when
  // the last one has finished.  Returns the busy count before the call: 0
  // means a transition has just been started.
  int startTransition();

  // ---- pieces of the above, public so that tools and tests can drive them
  // The disturbance at one node (row, column of the interior).
  void stamp(int row, int column, int strength);
  // Screen pixel to interior grid node, clamped.
  int columnForPixel(int x) const;
  int rowForPixel(int y) const;
  // A new tint for a slot: three rand() draws, then the fixed colour or the
  // random one scaled to a maximum of 1.
  void pickColour(ColourSlot& slot, float alpha);
  // The packed colour of a blend value between the two slots.
  uint32_t blendColour(float blend) const;

  // ---- read access for the renderer and the scene
  bool empty() const { return cols_ == 0; }
  int cols() const { return cols_; }
  int rows() const { return rows_; }
  int nodeCount() const { return cols_ * rows_; }
  float widthUnits() const { return widthUnits_; }
  float heightUnits() const { return heightUnits_; }
  float colOffset() const { return colOffset_; }
  float rowOffset() const { return rowOffset_; }
  int screenWidth() const { return screenWidth_; }
  int screenHeight() const { return screenHeight_; }
  uint32_t flags() const { return flags_; }
  int colourMode() const { return colourMode_; }
  COLORREF fixedColour() const { return fixedColour_; }
  int blendDirection() const { return blendDirection_; }
  int busyCount() const { return busyCount_; }
  const ColourSlot& slotA() const { return slotA_; }
  const ColourSlot& slotB() const { return slotB_; }

  const SurfaceVertex* vertices() const { return vertices_.data(); }
  const BlendNode* blendNodes() const { return blendNodes_.data(); }
  // Per node: the wave state and the rest offsets.
  float height(int node) const { return height_[node]; }
  float velocity(int node) const { return velocity_[node]; }
  float restOffsetX(int node) const { return restOffsetX_[node]; }
  float restOffsetZ(int node) const { return restOffsetZ_[node]; }
  // The grid position of a column or row (the centre of the grid is 0).
  float gridX(int column) const { return static_cast<float>(column) - halfCols_; }
  float gridZ(int row) const { return static_cast<float>(row) - halfRows_; }

  // Scratch space owned by the surface for the renderer: W * H vertices and
  // 6 * W * H 16-bit indices, reused every frame.
  SurfaceVertex* vertexScratch() { return vertexScratch_.data(); }
  size_t vertexScratchSize() const { return vertexScratch_.size(); }
  uint16_t* indexScratch() { return indexScratch_.data(); }
  size_t indexScratchSize() const { return indexScratch_.size(); }

  // Test and tool hooks: set a node's wave or cross-fade state directly.
  void setHeight(int node, float h) { height_[node] = h; }
  void setVelocity(int node, float v) { velocity_[node] = v; }
  void setBlend(int node, float blend, uint32_t phase) {
    blendNodes_[node].blend = blend;
    blendNodes_[node].phase = phase;
  }

 private:
  void computeRestOffsets();
  template <bool kRising>
  void updateBlend(float s);
  void updateSurface(const D3DXVECTOR3& eye, float s);

  int cols_ = 0, rows_ = 0;
  float widthUnits_ = 0.0f, heightUnits_ = 0.0f;
  float colOffset_ = 1.0f, rowOffset_ = 0.0f;
  float halfCols_ = 0.0f, halfRows_ = 0.0f;  // (W - 1) / 2, (H - 1) / 2
  int screenWidth_ = 0, screenHeight_ = 0;
  float depthConstant_ = kDepthConstant;
  uint32_t flags_ = 0;
  int colourMode_ = 0;
  COLORREF fixedColour_ = 0;
  int blendDirection_ = 1;
  int busyCount_ = 1;
  ColourSlot slotA_{1.0f, 1.0f, 1.0f, 1.0f};
  ColourSlot slotB_{0.0f, 1.0f, 1.0f, 1.0f};

  // The wave state, one array per field so the per-row passes stream.
  std::vector<float> height_, velocity_, restOffsetX_, restOffsetZ_;
  std::vector<BlendNode> blendNodes_;
  std::vector<SurfaceVertex> vertices_;
  std::vector<SurfaceVertex> vertexScratch_;
  std::vector<uint16_t> indexScratch_;
  // One row of working values for step (sized by build, never in step).
  std::vector<float> rowHeight_, rowNx_, rowNy_, rowNz_, rowEx_, rowEy_, rowEz_, rowA_, rowB_;
  std::vector<int> rowIndex_;
};
