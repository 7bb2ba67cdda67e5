#include "scene/refractiontable.h"

#include "platform/d3dx.h"

RefractionTable& RefractionTable::shared() {
  static RefractionTable table;
  return table;
}

void RefractionTable::build() {
  // The trigonometry is done once per entry, each function's result rounded
  // to single precision, so the table is the same on every machine whatever
  // its float library does.
  for (int i = 0; i <= kLastIndex; ++i) {
    float c = static_cast<float>(i) * kCosineStep;
    float theta = static_cast<float>(std::acos(static_cast<double>(c)));
    float s = static_cast<float>(std::sin(static_cast<double>(theta)));
    float st = s * kIndexRatio;
    float refracted = static_cast<float>(std::asin(static_cast<double>(st)));
    float ct = static_cast<float>(std::cos(static_cast<double>(refracted)));
    a_[i - kFirstIndex] = ct * (s / st) - c;
    b_[i - kFirstIndex] = -(st / s);
    a_[-256 + i - kFirstIndex] = a_[0 - kFirstIndex];
    b_[-256 + i - kFirstIndex] = b_[0 - kFirstIndex];
  }
}

NodeRefraction refractNode(const RefractionTable& table, float px, float py, float pz, float nx, float ny, float nz,
                           float vx, float vy, float vz, float k) {
  float ex, ey, ez;
  d3dxNormalize3(vx - px, vy - py, vz - pz, ex, ey, ez);
  float cosine = ex * nx + ey * ny + ez * nz;
  const RefractionEntry e = table.entry(RefractionTable::indexFor(cosine));
  float rx = e.b * (e.a * nx + ex);
  float ry = e.b * (e.a * ny + ey);
  float rz = e.b * (e.a * nz + ez);
  float bb = 2.0f * (rx * px + ry * (py - kPictureDepthOrigin) + rz * pz);
  float t = (std::sqrt(bb * bb + 4.0f * k) - bb) * 0.5f;
  NodeRefraction out;
  out.tRx = t * rx;
  out.tRz = t * rz;
  return out;
}
