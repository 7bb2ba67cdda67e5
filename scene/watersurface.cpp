#include "scene/watersurface.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>
#include <utility>

#include "platform/crtrand.h"

namespace {

// The weight of the four orthogonal neighbours: one unit in the last place
// below the float nearest 0.15, so that the eight weights sum to just under 1
// and the waves always lose a little energy.
const float kOrthogonalWeight = std::bit_cast<float>(0x3E199999u);
const float kDiagonalWeight = 0.1f;

// Blend field thresholds.  The rising direction's lower bound sits just
// above the falling direction's snap-to-zero value on purpose: a node the
// falling pass left at 0.003 must not count as a live rising source.
const float kBlendHigh = 0.997f;
const float kBlendLow = 0.003f;
const float kBlendRisingLow = 0.003000021f;
// How fast the blend spreads: per unit of scaled time, a neighbour moves this
// share of the way towards a spreading node; diagonal neighbours, being
// farther, move 0.7 of that.
const float kBlendPull = 0.05f;
const float kBlendDiagonalShare = 0.7f;
// A transition counts as running until the top-left corner node, the last to
// be reached from anywhere on screen, is nearly there.
const float kCornerFallingBusy = 0.1f;
const float kCornerRisingBusy = 0.9f;

// The simulation counts time in steps of a 30 Hz frame: scaled time s is
// seconds times 33.333.
const float kStepsPerSecond = 33.333f;
// Per scaled time unit the waves lose 0.8 % of their velocity, and a node is
// pulled towards the weighted mean of its neighbours with gain s / 8.
const float kDamping = 0.008f;
const float kNeighbourGain = 0.125f;
// The y of the normal before normalising: the surface's slopes are taken
// against a nearly unit vertical, which sets how strongly ripples refract.
const float kNormalY = 0.99f;

// Disturbance impulses scale with the grid (1.5 / 163 per column) so that a
// drop looks the same at every surface size.  A given strength adds
// strength x 0.0015 grid-scaled units; a random one 0.05 to 0.25 of them
// (rand() x 6.1035157e-6 spans 0..0.2).
const float kImpulsePerColumn = 0.009202454f;
const float kImpulsePerStrength = 0.0015f;
const float kRandomImpulseSpan = 6.1035157e-6f;
const float kRandomImpulseBase = 0.05f;
// A drag line's slope is dy / (dx + 0.01): a line whose ends meet still
// has a slope.
const float kSlopeGuard = 0.01f;
// A random drop keeps seven nodes away from every edge.
const int kRandomDropMargin = 7;

// Random tints: rand() x 4.5776367e-5 spans 0..1.5 before the brightest
// channel is scaled to 1 (the 0.0001 keeps black from dividing by zero); a
// fixed tint takes each colour byte as byte / 256.
const float kRandomTintSpan = 4.5776367e-5f;
const float kTintFloor = 0.0001f;
const float kByteToUnit = 0.00390625f;

// D3DXVec3Normalize, written with selects instead of a branch so that the
// per-row loops below run four (or more) nodes at a time.  The same results
// bit for bit: x / |v| per component, or zero for a zero or non-finite length.
inline void normalizeLanes(float x, float y, float z, float& ox, float& oy, float& oz) {
  float length = std::sqrt(x * x + y * y + z * z);
  bool ok = length > 0.0f && length <= 3.4028235e38f;
  float divisor = ok ? length : 1.0f;
  ox = (ok ? x : 0.0f) / divisor;
  oy = (ok ? y : 0.0f) / divisor;
  oz = (ok ? z : 0.0f) / divisor;
}

inline __attribute__((always_inline)) uint32_t colourByte(float v) {
  // trunc(v); the slots keep v within 0..255, the clamp only guards a tint
  // that rounding pushed a hair past a byte.
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<uint32_t>(v);
}

// The packed colour of a blend value between slot B (at 0) and slot A (at 1).
inline __attribute__((always_inline)) uint32_t packBlend(const ColourSlot& a, const ColourSlot& b, float blend) {
  const float p = blend * 255.0f;
  const float q = 255.0f - p;
  return colourByte(q * b.alpha + p * a.alpha) << 24 | colourByte(q * b.red + p * a.red) << 16 |
         colourByte(q * b.green + p * a.green) << 8 | colourByte(q * b.blue + p * a.blue);
}

}  // namespace

void WaterSurface::clear() {
  cols_ = rows_ = 0;
  height_.clear();
  height_.shrink_to_fit();
  velocity_.clear();
  velocity_.shrink_to_fit();
  restOffsetX_.clear();
  restOffsetX_.shrink_to_fit();
  restOffsetZ_.clear();
  restOffsetZ_.shrink_to_fit();
  blendNodes_.clear();
  blendNodes_.shrink_to_fit();
  vertices_.clear();
  vertices_.shrink_to_fit();
  vertexScratch_.clear();
  vertexScratch_.shrink_to_fit();
  indexScratch_.clear();
  indexScratch_.shrink_to_fit();
  for (std::vector<float>* row : {&rowHeight_, &rowNx_, &rowNy_, &rowNz_, &rowEx_, &rowEy_, &rowEz_, &rowA_, &rowB_}) {
    row->clear();
    row->shrink_to_fit();
  }
  rowIndex_.clear();
  rowIndex_.shrink_to_fit();
  widthUnits_ = heightUnits_ = 0.0f;
  colOffset_ = 1.0f;
  rowOffset_ = 0.0f;
  halfCols_ = halfRows_ = 0.0f;
  screenWidth_ = screenHeight_ = 0;
  flags_ = 0;
  colourMode_ = 0;
  fixedColour_ = 0;
  blendDirection_ = 1;
  busyCount_ = 1;
  slotA_ = ColourSlot{1.0f, 1.0f, 1.0f, 1.0f};
  slotB_ = ColourSlot{0.0f, 1.0f, 1.0f, 1.0f};
}

HRESULT WaterSurface::build(int screenWidth, int screenHeight, int surfaceSize, COLORREF fixedColour, uint32_t flags) {
  clear();
  if (screenWidth <= 0 || screenHeight <= 0 || surfaceSize <= 0) return E_FAIL;
  // The visible height in grid units, in extended precision as the row
  // count and the row offset are taken from it.
  long double d = static_cast<long double>(surfaceSize) * static_cast<long double>(screenHeight) /
                  static_cast<long double>(screenWidth);
  int64_t w = int64_t{surfaceSize} + 3;
  if (!(d < static_cast<long double>(kMaxNodes)) || w > kMaxNodes) return E_FAIL;
  int64_t h = static_cast<int64_t>(d) + 3;
  if (w * h > kMaxNodes) return E_FAIL;

  screenWidth_ = screenWidth;
  screenHeight_ = screenHeight;
  fixedColour_ = fixedColour;
  flags_ = flags;
  colourMode_ = (flags & kWaterRandomColor) ? 1 : 0;
  widthUnits_ = static_cast<float>(surfaceSize);
  heightUnits_ = static_cast<float>(d);
  colOffset_ = 1.0f;
  rowOffset_ = static_cast<float>((static_cast<long double>(h) - (d + 1.0L)) * 0.5L);
  depthConstant_ = kDepthConstant;
  // clear() has set blendDirection 1, busyCount 1 and the initial slots.

  const size_t count = static_cast<size_t>(w * h);
  try {
    indexScratch_.assign(6 * count, 0);
    blendNodes_.assign(count, BlendNode{blendColour(1.0f), 1, 1.0f});
    height_.assign(count, 0.0f);
    velocity_.assign(count, 0.0f);
    restOffsetX_.assign(count, 0.0f);
    restOffsetZ_.assign(count, 0.0f);
    vertexScratch_.assign(count, SurfaceVertex{});
    vertices_.resize(count);
    for (std::vector<float>* row : {&rowHeight_, &rowNx_, &rowNy_, &rowNz_, &rowEx_, &rowEy_, &rowEz_, &rowA_, &rowB_})
      row->assign(static_cast<size_t>(w), 0.0f);
    rowIndex_.assign(static_cast<size_t>(w), 256);
  } catch (const std::bad_alloc&) {
    clear();
    return E_OUTOFMEMORY;
  }
  cols_ = static_cast<int>(w);
  rows_ = static_cast<int>(h);
  halfCols_ = static_cast<float>(cols_ - 1) * 0.5f;
  halfRows_ = static_cast<float>(rows_ - 1) * 0.5f;

  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < cols_; ++c) {
      SurfaceVertex& v = vertices_[static_cast<size_t>(r) * cols_ + c];
      v = SurfaceVertex{};
      v.x = gridX(c);
      v.y = 0.0f;
      v.z = gridZ(r);
      v.nx = 0.0f;
      v.ny = 1.0f;
      v.nz = 0.0f;
      v.diffuse = 0xFFFFFFFFu;
    }
  }

  RefractionTable::shared().build();
  computeRestOffsets();
  return 0;
}

void WaterSurface::computeRestOffsets() {
  const RefractionTable& table = RefractionTable::shared();
  const float eyeY = widthUnits_ * 0.5f;
  for (int r = 1; r < rows_ - 1; ++r) {
    const float z = gridZ(r);
    for (int c = 1; c < cols_ - 1; ++c) {
      NodeRefraction o = refractNode(table, gridX(c), 0.0f, z, 0.0f, 1.0f, 0.0f, 0.0f, eyeY, 0.0f, depthConstant_);
      const size_t n = static_cast<size_t>(r) * cols_ + c;
      restOffsetX_[n] = o.tRx;
      restOffsetZ_[n] = o.tRz;
    }
  }
}

int WaterSurface::step(const D3DXVECTOR3& eyePoint, float dt) {
  if (empty()) return 0;
  // A time step that is not a number would turn the whole surface into
  // NaNs for the rest of the run; such a frame is skipped.
  if (!std::isfinite(dt)) return 0;
  const float s = dt * kStepsPerSecond;
  // The blend field touches neither heights nor velocities, so it can run
  // first; the velocity pass then runs inside the height sweep, one row
  // ahead of it (see sweepSurface), with exactly the same results.
  busyCount_ = 0;
  if (blendDirection_ == 1)
    updateBlend<false>(s);
  else
    updateBlend<true>(s);
  updateSurface(eyePoint, s);
  return 0;
}

// The blend field in one direction.  Falling (direction 1): the blend goes
// from 1 towards 0, spreading from every node already below 0.997 to the
// neighbours still above it; a neighbour below 0.003 has arrived at 0.
// Rising (direction 2) mirrors it towards 1.  A node whose eight neighbours
// have all arrived turns to the other phase, ready for the next transition.
template <bool kRising>
void WaterSurface::updateBlend(float s) {
  const float f = s * kBlendPull;
  const float g = s * kBlendPull * kBlendDiagonalShare;
  const int w = cols_;
  const int offsets[8] = {-w - 1, -w + 1, w - 1, w + 1, -1, 1, -w, w};
  const float pulls[8] = {g, g, g, g, f, f, f, f};
  // The phase a node spreads in, the value its neighbours arrive at, and
  // whether a blend value still takes part (for the edge rows as well).
  const int spreading = kRising ? 2 : 1;
  const float target = kRising ? 1.0f : 0.0f;
  auto active = [](float blend) { return kRising ? blend >= kBlendRisingLow : blend <= kBlendHigh; };
  auto arrivedAt = [](float blend) { return kRising ? blend > kBlendHigh : blend < kBlendLow; };
  auto behind = [](float neighbour, float blend) { return kRising ? neighbour < blend : neighbour > blend; };
  BlendNode* b = blendNodes_.data();
  const ColourSlot slotA = slotA_, slotB = slotB_;
  // The corner node tells whether the last transition has reached the edge.
  if (kRising ? b[0].blend < kCornerRisingBusy : b[0].blend > kCornerFallingBusy) busyCount_ = 1;
  for (int r = 1; r < rows_ - 1; ++r) {
    for (int c = 1; c < w - 1; ++c) {
      BlendNode& node = b[static_cast<size_t>(r) * w + c];
      if (node.phase != spreading) continue;
      const float bn = node.blend;
      if (!active(bn)) continue;
      int counted = 0;
      for (int k = 0; k < 8; ++k) {
        // Without branches: the three outcomes are too mixed along a
        // spreading front for the processor to guess them.
        float& mb = (&node)[offsets[k]].blend;
        const float old = mb;
        const bool arrived = arrivedAt(old);
        const float pulled = behind(old, bn) ? old + (bn - old) * pulls[k] : old;
        mb = arrived ? target : pulled;
        counted += arrived;
      }
      if (counted == 8) node.phase = 3 - spreading;
      node.colour = packBlend(slotA, slotB, node.blend);
      ++busyCount_;
    }
  }
  // The first and last rows are never spread from but are drawn: their
  // colours follow their blend.  (The first and last columns keep theirs.)
  for (int r : {0, rows_ - 1}) {
    BlendNode* row = b + static_cast<size_t>(r) * w;
    for (int c = 0; c < w; ++c)
      if (kRising ? row[c].blend >= kBlendRisingLow : row[c].blend < kBlendHigh)
        row[c].colour = packBlend(slotA, slotB, row[c].blend);
  }
}

// On x86-64 the whole sweep is also built for AVX2 and AVX-512 and the best
// the processor has is chosen when the program starts.  Wider registers do
// the same IEEE operations lane by lane (and no fused multiply-adds are
// formed), so every build gives the same floats.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define LM_SURFACE_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define LM_SURFACE_CLONES
#endif
#define LM_ROW_KERNEL inline __attribute__((always_inline))

namespace {

// The row kernels of updateSurface.  Each works on columns 1..w-2 of one row
// with plain arrays that do not overlap, so the optimizer can run several
// nodes at once; every lane does exactly the scalar arithmetic.

// New velocities of one row from the heights of it and its two neighbours,
// all still as the last step left them.
LM_ROW_KERNEL void velocityRow(int w, float damping, float gain, const float* __restrict up,
                               const float* __restrict mid, const float* __restrict down, float* __restrict vel) {
  for (int c = 1; c < w - 1; ++c) {
    // Neighbours summed in the blend field's order: up-left, up-right,
    // down-left, down-right; left, right, up, down.
    float diagonal = ((up[c - 1] + up[c + 1]) + down[c - 1]) + down[c + 1];
    float orthogonal = ((mid[c - 1] + mid[c + 1]) + up[c]) + down[c];
    vel[c] = damping * vel[c] + gain * ((kDiagonalWeight * diagonal + kOrthogonalWeight * orthogonal) - mid[c]);
  }
}

LM_ROW_KERNEL void advanceRow(int w, float s, const float* __restrict h, const float* __restrict vel,
                              float* __restrict nh) {
  nh[0] = h[0];
  nh[w - 1] = h[w - 1];
  for (int c = 1; c < w - 1; ++c) nh[c] = h[c] + s * vel[c];
}

// Normal and line of sight of every node of the row, and the table index of
// the angle between them.
LM_ROW_KERNEL void sightRow(int w, const float* __restrict h, const float* __restrict nh, const float* __restrict up,
                            const float* __restrict down, float halfCols, float z, float eyeX, float eyeY, float eyeZ,
                            float* __restrict nxs, float* __restrict nys, float* __restrict nzs, float* __restrict exs,
                            float* __restrict eys, float* __restrict ezs, int* __restrict idx) {
  for (int c = 1; c < w - 1; ++c) {
    float nx = (h[c + 1] - nh[c - 1]) + (down[c + 1] - up[c - 1]) - (down[c - 1] - up[c + 1]);
    float nz = (down[c] - up[c]) + (down[c + 1] - up[c - 1]) + (down[c - 1] - up[c + 1]);
    float nnx, nny, nnz;
    normalizeLanes(nx, kNormalY, nz, nnx, nny, nnz);
    const float x = static_cast<float>(c) - halfCols;
    float ex, ey, ez;
    normalizeLanes(eyeX - x, eyeY - nh[c], eyeZ - z, ex, ey, ez);
    float cosine = ex * nnx + ey * nny + ez * nnz;
    // trunc(255 * cosine), kept within the table (a NaN goes to its start).
    float fi = 255.0f * cosine;
    fi = fi >= -256.0f ? fi : -256.0f;
    fi = fi > 255.0f ? 255.0f : fi;
    idx[c] = static_cast<int>(fi) + 256;
    nxs[c] = nnx;
    nys[c] = nny;
    nzs[c] = nnz;
    exs[c] = ex;
    eys[c] = ey;
    ezs[c] = ez;
  }
}

LM_ROW_KERNEL void lookUpRow(int w, const float* __restrict tableA, const float* __restrict tableB,
                             const int* __restrict idx, float* __restrict as, float* __restrict bs) {
  for (int c = 1; c < w - 1; ++c) {
    as[c] = tableA[idx[c]];
    bs[c] = tableB[idx[c]];
  }
}

// The refracted ray and its travel to the picture plane; leaves the
// displacement (t * Rx, t * Rz) in as and bs.
LM_ROW_KERNEL void refractRow(int w, float halfCols, float z, float fourK, const float* __restrict nh,
                              const float* __restrict nxs, const float* __restrict nys, const float* __restrict nzs,
                              const float* __restrict exs, const float* __restrict eys, const float* __restrict ezs,
                              float* __restrict as, float* __restrict bs) {
  for (int c = 1; c < w - 1; ++c) {
    const float x = static_cast<float>(c) - halfCols;
    const float a = as[c], b = bs[c];
    float rx = b * (a * nxs[c] + exs[c]);
    float ry = b * (a * nys[c] + eys[c]);
    float rz = b * (a * nzs[c] + ezs[c]);
    float bb = 2.0f * (rx * x + ry * (nh[c] - kPictureDepthOrigin) + rz * z);
    float t = (std::sqrt(bb * bb + fourK) - bb) * 0.5f;
    as[c] = t * rx;
    bs[c] = t * rz;
  }
}

// Writes the row's vertices and its advanced heights.  The diffuse colour
// stays the white that build gave every vertex.
LM_ROW_KERNEL void writeRow(int w, float halfCols, float z, const float* __restrict nh, const float* __restrict trx,
                            const float* __restrict trz, const float* __restrict rox, const float* __restrict roz,
                            const float* __restrict nxs, const float* __restrict nys, const float* __restrict nzs,
                            SurfaceVertex* __restrict vert, float* __restrict h) {
  for (int c = 1; c < w - 1; ++c) {
    const float x = static_cast<float>(c) - halfCols;
    SurfaceVertex& v = vert[c];
    v.x = (x - trx[c]) + rox[c];
    v.y = nh[c];
    v.z = (z - trz[c]) + roz[c];
    v.nx = nxs[c];
    v.ny = nys[c];
    v.nz = nzs[c];
  }
  for (int c = 1; c < w - 1; ++c) h[c] = nh[c];
}

// Heights, normals and refracted vertices, row by row.  Each node's normal
// reads its neighbours as they stand at that moment of a row-major sweep:
// the row above and the left neighbour already advanced, the rest not.  A
// row is therefore advanced into a scratch row first, so that the arithmetic
// of a whole row can run side by side, and written back at the end.
struct SurfaceSweep {
  int w, rows;
  float s, fourK, halfCols, halfRows;
  float eyeX, eyeY, eyeZ;
  const float* tableA;
  const float* tableB;
  float* height;
  float* velocity;
  const float* restOffsetX;
  const float* restOffsetZ;
  SurfaceVertex* vertices;
  float *nh, *nx, *ny, *nz, *ex, *ey, *ez, *a, *b;
  int* index;
};

// The velocity of row r + 1 is computed just before row r advances: it needs
// rows r, r + 1 and r + 2 as the last step left them, and row r is the first
// of them the sweep changes.
LM_SURFACE_CLONES void sweepSurface(const SurfaceSweep& p) {
  const int w = p.w;
  const float damping = 1.0f - kDamping * p.s;
  const float gain = p.s * kNeighbourGain;
  if (p.rows > 2) velocityRow(w, damping, gain, p.height, p.height + w, p.height + 2 * w, p.velocity + w);
  for (int r = 1; r < p.rows - 1; ++r) {
    const size_t base = static_cast<size_t>(r) * w;
    float* h = p.height + base;
    const float z = static_cast<float>(r) - p.halfRows;
    if (r + 1 < p.rows - 1) velocityRow(w, damping, gain, h, h + w, h + 2 * w, p.velocity + base + w);
    advanceRow(w, p.s, h, p.velocity + base, p.nh);
    sightRow(w, h, p.nh, h - w, h + w, p.halfCols, z, p.eyeX, p.eyeY, p.eyeZ, p.nx, p.ny, p.nz, p.ex, p.ey, p.ez,
             p.index);
    lookUpRow(w, p.tableA, p.tableB, p.index, p.a, p.b);
    refractRow(w, p.halfCols, z, p.fourK, p.nh, p.nx, p.ny, p.nz, p.ex, p.ey, p.ez, p.a, p.b);
    writeRow(w, p.halfCols, z, p.nh, p.a, p.b, p.restOffsetX + base, p.restOffsetZ + base, p.nx, p.ny, p.nz,
             p.vertices + base, h);
  }
}

}  // namespace

void WaterSurface::updateSurface(const D3DXVECTOR3& eye, float s) {
  SurfaceSweep p;
  p.w = cols_;
  p.rows = rows_;
  p.s = s;
  p.fourK = 4.0f * depthConstant_;
  p.halfCols = halfCols_;
  p.halfRows = halfRows_;
  p.eyeX = eye.x;
  p.eyeY = eye.y;
  p.eyeZ = eye.z;
  p.tableA = RefractionTable::shared().aColumn();
  p.tableB = RefractionTable::shared().bColumn();
  p.height = height_.data();
  p.velocity = velocity_.data();
  p.restOffsetX = restOffsetX_.data();
  p.restOffsetZ = restOffsetZ_.data();
  p.vertices = vertices_.data();
  p.nh = rowHeight_.data();
  p.nx = rowNx_.data();
  p.ny = rowNy_.data();
  p.nz = rowNz_.data();
  p.ex = rowEx_.data();
  p.ey = rowEy_.data();
  p.ez = rowEz_.data();
  p.index = rowIndex_.data();
  p.a = rowA_.data();
  p.b = rowB_.data();
  sweepSurface(p);
}

int WaterSurface::columnForPixel(int x) const {
  float v = static_cast<float>(x) * widthUnits_ / static_cast<float>(screenWidth_) + colOffset_ + 0.5f;
  // trunc, then clamp to the interior; clamping first keeps a far-off
  // pixel from overflowing the conversion.
  if (!(v >= 1.0f)) return 1;
  if (v >= static_cast<float>(cols_ - 2)) return cols_ - 2;
  return static_cast<int>(v);
}

int WaterSurface::rowForPixel(int y) const {
  float v = static_cast<float>(y) * heightUnits_ / static_cast<float>(screenHeight_) + rowOffset_ + 0.5f;
  if (!(v >= 1.0f)) return 1;
  if (v >= static_cast<float>(rows_ - 2)) return rows_ - 2;
  return static_cast<int>(v);
}

void WaterSurface::stamp(int row, int column, int strength) {
  if (empty()) return;
  // The stamp touches the eight neighbours, so it stays on the interior.
  row = std::clamp(row, 1, rows_ - 2);
  column = std::clamp(column, 1, cols_ - 2);
  const size_t n = static_cast<size_t>(row) * cols_ + column;
  // The cross-fade starts here whether or not the water ripples.
  blendNodes_[n].blend = blendDirection_ == 1 ? 0.0f : 1.0f;
  if (!(flags_ & kRipple)) return;
  const float k = static_cast<float>(cols_) * kImpulsePerColumn;
  float m;
  if (strength != 0)
    m = static_cast<float>(strength) * k * kImpulsePerStrength;
  else
    m = (static_cast<float>(platform::rand()) * kRandomImpulseSpan + kRandomImpulseBase) * k;
  const float half = m * 0.5f;
  const float quarter = m * 0.25f;
  const size_t w = static_cast<size_t>(cols_);
  float* v = velocity_.data();
  v[n] += m;
  v[n - 1] += half;
  v[n + 1] += half;
  v[n - w] += half;
  v[n + w] += half;
  v[n - w - 1] += quarter;
  v[n - w + 1] += quarter;
  v[n + w - 1] += quarter;
  v[n + w + 1] += quarter;
}

int WaterSurface::drop(int x, int y, int strength) {
  if (empty()) return 0;
  int row, column;
  if (x > 0) {
    column = columnForPixel(x);
    row = rowForPixel(y);
  } else {
    // A random node at least seven nodes in from every edge; on a surface
    // too small for that margin it is kept on the interior.
    int64_t rc = platform::rand();
    column = static_cast<int>(rc * (cols_ - 2 * kRandomDropMargin) / 32768) + kRandomDropMargin;
    int64_t rr = platform::rand();
    row = static_cast<int>(rr * (rows_ - 2 * kRandomDropMargin) / 32768) + kRandomDropMargin;
    column = std::clamp(column, 1, cols_ - 2);
    row = std::clamp(row, 1, rows_ - 2);
  }
  stamp(row, column, strength);
  return 0;
}

int WaterSurface::dragLine(int x1, int y1, int x2, int y2, int strength) {
  if (empty()) return 0;
  int c1 = columnForPixel(x1), r1 = rowForPixel(y1);
  int c2 = columnForPixel(x2), r2 = rowForPixel(y2);
  const int dx = std::abs(c2 - c1);
  const int dy = std::abs(r2 - r1);
  if (dx >= dy) {
    if (c1 > c2) {
      std::swap(c1, c2);
      std::swap(r1, r2);
    }
    float slope = static_cast<float>(dy) / (static_cast<float>(dx) + kSlopeGuard);
    if (r2 < r1) slope = -slope;
    for (int c = c1; c <= c2; ++c) stamp(r1 + static_cast<int>(static_cast<float>(c - c1) * slope), c, strength);
  } else {
    if (r1 > r2) {
      std::swap(c1, c2);
      std::swap(r1, r2);
    }
    float slope = static_cast<float>(dx) / (static_cast<float>(dy) + kSlopeGuard);
    if (c2 < c1) slope = -slope;
    for (int r = r1; r <= r2; ++r) stamp(r, c1 + static_cast<int>(static_cast<float>(r - r1) * slope), strength);
  }
  return 0;
}

int WaterSurface::startTransition() {
  if (empty() || busyCount_ != 0) return busyCount_;
  if (blendDirection_ == 1) {
    blendDirection_ = 2;
    pickColour(slotA_, 1.0f);
  } else {
    blendDirection_ = 1;
    pickColour(slotB_, 0.0f);
  }
  return busyCount_;
}

void WaterSurface::pickColour(ColourSlot& slot, float alpha) {
  slot.alpha = alpha;
  float red = static_cast<float>(platform::rand()) * kRandomTintSpan;
  float green = static_cast<float>(platform::rand()) * kRandomTintSpan;
  float blue = static_cast<float>(platform::rand()) * kRandomTintSpan;
  if (colourMode_ == 0) {
    red = static_cast<float>(fixedColour_ & 0xFF) * kByteToUnit;
    green = static_cast<float>((fixedColour_ >> 8) & 0xFF) * kByteToUnit;
    blue = static_cast<float>((fixedColour_ >> 16) & 0xFF) * kByteToUnit;
  } else {
    float m = std::max(red, std::max(green, blue));
    float scale = 1.0f / (m + kTintFloor);
    red *= scale;
    green *= scale;
    blue *= scale;
  }
  slot.red = red;
  slot.green = green;
  slot.blue = blue;
}

uint32_t WaterSurface::blendColour(float blend) const { return packBlend(slotA_, slotB_, blend); }
