#pragma once
// The refraction table shared by every water surface: for a cosine of
// incidence i/256 (i = 0..255) the two factors (a, b) that turn a unit
// normal N and a unit direction E towards the eye into the refracted ray
// R = b * (a * N + E), Snell's law for light leaving water (index ratio
// 1/1.333).  Negative indices (the eye below the local surface plane, which
// only very steep waves give) all hold entry 0.
#include <cmath>

struct RefractionEntry {
  float a = 0.0f;
  float b = 0.0f;
};

class RefractionTable {
 public:
  static constexpr int kFirstIndex = -256;
  static constexpr int kLastIndex = 255;
  static constexpr float kIndexRatio = 0.7501876f;  // 1 / 1.333
  // Entry i stands for a cosine of incidence i / 256.
  static constexpr float kCosineStep = 0.00390625f;

  // The one table of the process; every WaterSurface::build rebuilds it.
  static RefractionTable& shared();

  // Fills every entry; the same values every time.
  void build();

  // index -256..255 (nothing outside is ever asked for).
  RefractionEntry entry(int index) const { return RefractionEntry{a_[index - kFirstIndex], b_[index - kFirstIndex]}; }
  // The two columns, indexed from -256 (entry i at [i + 256]), for loops
  // that look up many nodes at once.
  const float* aColumn() const { return a_; }
  const float* bColumn() const { return b_; }

  // trunc(255 * cosine), kept inside the table even for a cosine that is
  // not finite or lies (by rounding) a little outside -1..1.
  static int indexFor(float cosine) {
    float f = 255.0f * cosine;
    if (!(f >= -256.0f)) f = -256.0f;  // also NaN
    if (f > 255.0f) f = 255.0f;
    return static_cast<int>(f);
  }

 private:
  static constexpr int kSize = kLastIndex - kFirstIndex + 1;
  float a_[kSize] = {};
  float b_[kSize] = {};
};

// The refracted ray travels to a picture plane about 12.5 units below the
// surface; the plane's equation is written relative to a point 2000 units
// down.
constexpr float kPictureDepthOrigin = 2000.0f;

struct NodeRefraction {
  float tRx = 0.0f;
  float tRz = 0.0f;
};

// The refraction of one surface node: position P, unit normal N, eye point
// V.  Outputs the horizontal displacement (t * Rx, t * Rz) of the point of
// the picture seen through P, for a picture plane far below (travel
// constant k).  Every operation is single precision, in the order written.

NodeRefraction refractNode(const RefractionTable& table, float px, float py, float pz, float nx, float ny, float nz,
                           float vx, float vy, float vz, float k);
