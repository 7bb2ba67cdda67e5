#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/crtrand.h"
#include "platform/d3dx.h"
#include "scene/refractiontable.h"
#include "scene/watersurface.h"

namespace {

constexpr uint32_t kRipple = WaterSurface::kRipple;
constexpr uint32_t kRandomColour = WaterSurface::kWaterRandomColor;

int nodeOf(const WaterSurface& w, int row, int col) { return row * w.cols() + col; }

D3DXVECTOR3 restEye(const WaterSurface& w) { return D3DXVECTOR3(0.0f, w.widthUnits() * 0.5f, 0.0f); }

// The largest step the scene lets through: s * s / 8 = 0.999 with s = dt * 33.333.
float stabilityBoundDt() { return std::sqrt(0.999f * 8.0f) / 33.333f; }

// ---- an independent, node-by-node transcription of the surface step ------
//
// It keeps its own copy of the state and advances it exactly as the
// arithmetic reads (one node at a time, heights updated in place, vectors
// through the D3DX helpers), so that the surface's row-at-a-time version can
// be checked against it bit for bit.
struct ReferenceSurface {
  int w = 0, h = 0;
  float halfW = 0, halfH = 0;
  std::vector<float> height, velocity, restX, restZ;
  std::vector<SurfaceVertex> vertex;

  explicit ReferenceSurface(const WaterSurface& s) : w(s.cols()), h(s.rows()) {
    halfW = static_cast<float>(w - 1) / 2.0f;
    halfH = static_cast<float>(h - 1) / 2.0f;
    for (int n = 0; n < w * h; ++n) {
      height.push_back(s.height(n));
      velocity.push_back(s.velocity(n));
      restX.push_back(s.restOffsetX(n));
      restZ.push_back(s.restOffsetZ(n));
      vertex.push_back(s.vertices()[n]);
    }
  }

  float& H(int r, int c) { return height[r * w + c]; }

  void step(const D3DXVECTOR3& eye, float dt) {
    const float s = dt * 33.333f;
    const float orthogonal = std::bit_cast<float>(0x3E199999u);
    for (int r = 1; r < h - 1; ++r) {
      for (int c = 1; c < w - 1; ++c) {
        float diag = H(r - 1, c - 1) + H(r - 1, c + 1) + H(r + 1, c - 1) + H(r + 1, c + 1);
        float orth = H(r, c - 1) + H(r, c + 1) + H(r - 1, c) + H(r + 1, c);
        float& v = velocity[r * w + c];
        v = (1 - 0.008f * s) * v + (s * 0.125f) * (0.1f * diag + orthogonal * orth - H(r, c));
      }
    }
    const RefractionTable& table = RefractionTable::shared();
    for (int r = 1; r < h - 1; ++r) {
      for (int c = 1; c < w - 1; ++c) {
        const int n = r * w + c;
        height[n] = height[n] + s * velocity[n];
        float nx =
            (H(r, c + 1) - H(r, c - 1)) + (H(r + 1, c + 1) - H(r - 1, c - 1)) - (H(r + 1, c - 1) - H(r - 1, c + 1));
        float nz =
            (H(r + 1, c) - H(r - 1, c)) + (H(r + 1, c + 1) - H(r - 1, c - 1)) + (H(r + 1, c - 1) - H(r - 1, c + 1));
        D3DXVECTOR3 normal(nx, 0.99f, nz);
        D3DXVec3Normalize(&normal, &normal);
        const float x = static_cast<float>(c) - halfW;
        const float z = static_cast<float>(r) - halfH;
        D3DXVECTOR3 p(x, height[n], z);
        D3DXVECTOR3 e = eye - p;
        D3DXVec3Normalize(&e, &e);
        int index = static_cast<int>(255 * D3DXVec3Dot(&e, &normal));
        const RefractionEntry& ab = table.entry(index);
        D3DXVECTOR3 ray = (normal * ab.a + e) * ab.b;
        float b = 2 * (ray.x * p.x + ray.y * (p.y - 2000) + ray.z * p.z);
        float t = (std::sqrt(b * b + 4 * 50000.0f) - b) * 0.5f;
        SurfaceVertex& v = vertex[n];
        v.x = x - t * ray.x + restX[n];
        v.y = height[n];
        v.z = z - t * ray.z + restZ[n];
        v.nx = normal.x;
        v.ny = normal.y;
        v.nz = normal.z;
        v.diffuse = 0xFFFFFFFFu;
      }
    }
  }
};

uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }

// Compares every node's state bit for bit; reports the first difference.
void expectSameState(const WaterSurface& s, const ReferenceSurface& ref) {
  for (int n = 0; n < s.nodeCount(); ++n) {
    const SurfaceVertex& a = s.vertices()[n];
    const SurfaceVertex& b = ref.vertex[n];
    ASSERT_EQ(bits(s.height(n)), bits(ref.height[n])) << "height of node " << n;
    ASSERT_EQ(bits(s.velocity(n)), bits(ref.velocity[n])) << "velocity of node " << n;
    ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "vertex of node " << n << ": " << a.x << " " << a.y << " " << a.z
                                                << " vs " << b.x << " " << b.y << " " << b.z;
  }
}

// Steps until the cross-fade reports nothing left to do (or gives up).
int stepUntilIdle(WaterSurface& s, int limit) {
  for (int i = 1; i <= limit; ++i) {
    s.step(restEye(s), 0.03f);
    if (s.busyCount() == 0) return i;
  }
  return -1;
}

}  // namespace

TEST(WaterSurfaceBuild, GridFollowsTheScreenShape) {
  struct Case {
    int sw, sh, size;
    int w, h;
    float heightUnits, rowOffset;
  };
  const Case cases[] = {
      {800, 600, 60, 63, 48, 45.0f, 1.0f},
      {1920, 1080, 160, 163, 93, 90.0f, 1.0f},
      // 61 * 768 / 1024 = 45.75: H = 48, rowOffset = (48 - 46.75) / 2.
      {1024, 768, 61, 64, 48, 45.75f, 0.625f},
      // 100 * 768 / 1366 = 56.222547...: computed once in extended precision.
      {1366, 768, 100, 103, 59, static_cast<float>(100.0L * 768 / 1366),
       static_cast<float>((59 - (100.0L * 768 / 1366 + 1)) * 0.5L)},
      // Portrait: taller than wide.
      {768, 1024, 60, 63, 83, 80.0f, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " at " << c.size);
    WaterSurface s;
    ASSERT_EQ(s.build(c.sw, c.sh, c.size, 0, kRipple), 0);
    EXPECT_EQ(s.cols(), c.w);
    EXPECT_EQ(s.rows(), c.h);
    EXPECT_EQ(s.widthUnits(), static_cast<float>(c.size));
    EXPECT_EQ(s.heightUnits(), c.heightUnits);
    EXPECT_EQ(s.colOffset(), 1.0f);
    EXPECT_EQ(s.rowOffset(), c.rowOffset);
    EXPECT_EQ(s.screenWidth(), c.sw);
    EXPECT_EQ(s.screenHeight(), c.sh);
    EXPECT_EQ(s.vertexScratchSize(), static_cast<size_t>(c.w * c.h));
    EXPECT_EQ(s.indexScratchSize(), static_cast<size_t>(6 * c.w * c.h));
  }
}

TEST(WaterSurfaceBuild, StartsFlatWithTheFirstPictureShowing) {
  WaterSurface s;
  ASSERT_EQ(s.build(1024, 768, 61, 0x00336699, kRipple), 0);
  EXPECT_EQ(s.blendDirection(), 1);
  EXPECT_EQ(s.busyCount(), 1);
  EXPECT_EQ(s.slotA().alpha, 1.0f);
  EXPECT_EQ(s.slotB().alpha, 0.0f);
  EXPECT_EQ(s.slotB().red, 1.0f);
  for (int r = 0; r < s.rows(); ++r) {
    for (int c = 0; c < s.cols(); ++c) {
      const int n = nodeOf(s, r, c);
      const SurfaceVertex& v = s.vertices()[n];
      // W = 64: the grid is centred on a half column.
      ASSERT_EQ(v.x, static_cast<float>(c) - 31.5f);
      ASSERT_EQ(v.z, static_cast<float>(r) - 23.5f);
      ASSERT_EQ(v.y, 0.0f);
      ASSERT_EQ(v.ny, 1.0f);
      ASSERT_EQ(v.diffuse, 0xFFFFFFFFu);
      ASSERT_EQ(s.blendNodes()[n].blend, 1.0f);
      ASSERT_EQ(s.blendNodes()[n].phase, 1u);
      ASSERT_EQ(s.blendNodes()[n].colour, 0xFFFFFFFFu);
      ASSERT_EQ(s.height(n), 0.0f);
      ASSERT_EQ(s.velocity(n), 0.0f);
      bool border = r == 0 || c == 0 || r == s.rows() - 1 || c == s.cols() - 1;
      if (border) {
        ASSERT_EQ(s.restOffsetX(n), 0.0f);
        ASSERT_EQ(s.restOffsetZ(n), 0.0f);
      }
    }
  }
  // Off-centre nodes look through the surface at a slant: the picture point
  // seen there lies further out (the offset points away from the centre),
  // mirror-symmetric about the centre.
  const int top = nodeOf(s, 1, 1), mirrored = nodeOf(s, 1, s.cols() - 2);
  EXPECT_LT(s.restOffsetX(top), 0.0f);
  EXPECT_LT(s.restOffsetZ(top), 0.0f);
  EXPECT_EQ(s.restOffsetX(mirrored), -s.restOffsetX(top));
  EXPECT_EQ(s.restOffsetZ(mirrored), s.restOffsetZ(top));
}

TEST(WaterSurfaceBuild, ABuildAfterADeviceResetStartsAfresh) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0x00102030, kRipple), 0);
  for (int i = 0; i < s.nodeCount(); ++i) s.setBlend(i, 0.0f, 2);
  s.step(restEye(s), 0.03f);
  ASSERT_EQ(s.startTransition(), 0);
  s.drop(400, 300, 130);
  s.step(restEye(s), 0.03f);
  ASSERT_EQ(s.blendDirection(), 2);
  // Rebuilt at another size: ripples and the fade are gone.
  ASSERT_EQ(s.build(1024, 768, 61, 0x00102030, kRipple), 0);
  EXPECT_EQ(s.blendDirection(), 1);
  EXPECT_EQ(s.busyCount(), 1);
  EXPECT_EQ(s.slotA().red, 1.0f);
  EXPECT_EQ(s.cols(), 64);
  for (int n = 0; n < s.nodeCount(); ++n) {
    ASSERT_EQ(s.velocity(n), 0.0f);
    ASSERT_EQ(s.blendNodes()[n].blend, 1.0f);
    ASSERT_EQ(s.blendNodes()[n].phase, 1u);
  }
}

TEST(WaterSurfaceBuild, RejectsSizesItCannotHold) {
  const int bad[][3] = {{0, 600, 60}, {800, 0, 60}, {-800, 600, 60}, {800, 600, 0}, {1, 1000000, 160}};
  for (const auto& b : bad) {
    WaterSurface s;
    EXPECT_LT(s.build(b[0], b[1], b[2], 0, kRipple), 0) << b[0] << "x" << b[1] << " at " << b[2];
    EXPECT_TRUE(s.empty());
    // Nothing may touch the missing arrays.
    EXPECT_EQ(s.step(D3DXVECTOR3(0, 30, 0), 0.03f), 0);
    EXPECT_EQ(s.drop(5, 5, 130), 0);
    EXPECT_EQ(s.dragLine(1, 1, 50, 50, 10), 0);
    EXPECT_NE(s.startTransition(), 0);
  }
  // A failed rebuild leaves no stale grid behind.
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, kRipple), 0);
  EXPECT_LT(s.build(800, 0, 60, 0, kRipple), 0);
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s.nodeCount(), 0);
  EXPECT_EQ(s.screenWidth(), 0);
  // And a good build after that works again.
  EXPECT_EQ(s.build(800, 600, 60, 0, kRipple), 0);
  EXPECT_EQ(s.nodeCount(), 63 * 48);
}

TEST(RefractionTableTest, HoldsSnellsLawForLeavingWater) {
  RefractionTable& t = RefractionTable::shared();
  t.build();
  // Straight down (cos 0 stands for grazing incidence, i = 0): sin 1, so
  // b = -0.7501876 and a = cos(asin(0.7501876)) / 0.7501876.
  EXPECT_EQ(t.entry(0).b, -0.7501876f);
  EXPECT_NEAR(t.entry(0).a, std::cos(std::asin(0.7501876)) / 0.7501876, 1e-6);
  for (int i = -256; i < 0; ++i) {
    ASSERT_EQ(bits(t.entry(i).a), bits(t.entry(0).a)) << i;
    ASSERT_EQ(bits(t.entry(i).b), bits(t.entry(0).b)) << i;
  }
  // Every entry bends a unit ray by Snell's law: with E at angle theta to N,
  // R = b (a N + E) has sin(angle to -N) = 0.7501876 sin(theta), unit length.
  for (int i = 1; i < 256; i += 17) {
    double c = i / 256.0, s = std::sqrt(1 - c * c);
    double ex = s, ey = c;  // E in the plane of N = (0, 1)
    double rx = t.entry(i).b * ex, ry = t.entry(i).b * (t.entry(i).a + ey);
    EXPECT_NEAR(rx * rx + ry * ry, 1.0, 1e-5) << i;
    EXPECT_NEAR(-rx, 0.7501876 * s, 1e-5) << i;
    EXPECT_LT(ry, 0.0) << i;  // heading down into the water
  }
  // Indices outside the table (by rounding or from NaN) stay inside it.
  EXPECT_EQ(RefractionTable::indexFor(1.0f), 255);
  EXPECT_EQ(RefractionTable::indexFor(1.0001f), 255);
  EXPECT_EQ(RefractionTable::indexFor(-1.0f), -255);
  EXPECT_EQ(RefractionTable::indexFor(-2.0f), -256);
  EXPECT_EQ(RefractionTable::indexFor(std::nanf("")), -256);
  EXPECT_EQ(RefractionTable::indexFor(-0.001f), 0);
}

TEST(WaterSurfaceStep, CalmSurfaceShowsThePictureUndistorted) {
  struct Case {
    int sw, sh, size;
  };
  for (Case c : {Case{800, 600, 60}, Case{1024, 768, 61}, Case{1920, 1080, 160}, Case{1280, 1024, 97}}) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " at " << c.size);
    WaterSurface s;
    ASSERT_EQ(s.build(c.sw, c.sh, c.size, 0, kRipple), 0);
    for (int i = 0; i < 3; ++i) s.step(restEye(s), 0.03f);
    for (int r = 0; r < s.rows(); ++r) {
      for (int col = 0; col < s.cols(); ++col) {
        const SurfaceVertex& v = s.vertices()[nodeOf(s, r, col)];
        ASSERT_EQ(v.x, s.gridX(col)) << r << "," << col;
        ASSERT_EQ(v.z, s.gridZ(r)) << r << "," << col;
        ASSERT_EQ(v.y, 0.0f);
        ASSERT_EQ(v.nx, 0.0f);
        ASSERT_EQ(v.ny, 1.0f);
        ASSERT_EQ(v.nz, 0.0f);
      }
    }
  }
}

TEST(WaterSurfaceStep, MatchesTheNodeByNodeArithmetic) {
  struct Case {
    int sw, sh, size;
    D3DXVECTOR3 eye;
    float dt;
  };
  const Case cases[] = {
      {800, 600, 60, D3DXVECTOR3(0, 30, 0), 0.03f},
      {1024, 768, 61, D3DXVECTOR3(3.5f, 40, -2.25f), 0.05f},
      {1920, 1080, 160, D3DXVECTOR3(0, 80, 0), stabilityBoundDt()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " at " << c.size);
    WaterSurface s;
    ASSERT_EQ(s.build(c.sw, c.sh, c.size, 0, kRipple), 0);
    platform::srand(77);
    for (int i = 0; i < 6; ++i) s.drop(0, 0, 0);
    s.drop(1, 1, 130);        // at the corner, next to the border
    s.drop(c.sw, c.sh, 130);  // the other corner
    s.dragLine(10, c.sh / 2, c.sw - 5, 40, 10);
    // A steep spike: normals far from vertical, cosines near the table's end.
    s.setHeight(nodeOf(s, 10, 10), 40.0f);
    s.setHeight(nodeOf(s, 11, 30), -25.0f);
    ReferenceSurface ref(s);
    for (int i = 0; i < 12; ++i) {
      s.step(c.eye, c.dt);
      ref.step(c.eye, c.dt);
      ASSERT_NO_FATAL_FAILURE(expectSameState(s, ref)) << "step " << i;
    }
  }
}

TEST(WaterSurfaceStep, StaysFiniteForTenThousandStepsAtTheStabilityBound) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, kRipple), 0);
  platform::srand(2024);
  const float dt = stabilityBoundDt();
  ASSERT_LE(dt * 33.333f * dt * 33.333f / 8.0f, 0.999f);
  float largest = 0.0f;
  for (int i = 0; i < 10000; ++i) {
    if (i % 50 == 0) s.drop(0, 0, 0);
    if (i % 500 == 0) s.drop(400, 300, 130);
    if (i % 700 == 0) s.dragLine(10, 10, 790, 590, 10);
    s.step(restEye(s), dt);
    if (i % 1000 == 999 || i == 9999) {
      for (int n = 0; n < s.nodeCount(); ++n) {
        const SurfaceVertex& v = s.vertices()[n];
        ASSERT_TRUE(std::isfinite(s.height(n)) && std::isfinite(s.velocity(n)) && std::isfinite(v.x) &&
                    std::isfinite(v.z) && std::isfinite(v.nx))
            << "node " << n << " after step " << i;
        largest = std::max(largest, std::fabs(s.height(n)));
      }
    }
  }
  // Damped: the waves stay of the size the drops give them.
  EXPECT_LT(largest, 50.0f);
}

TEST(WaterSurfaceStep, BorderNeverMoves) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, kRipple), 0);
  s.drop(1, 1, 1000);  // the stamp reaches into the border ring
  for (int i = 0; i < 20; ++i) s.step(D3DXVECTOR3(5, 30, 5), 0.05f);
  EXPECT_NE(s.velocity(0), 0.0f);  // the ring takes the impulse...
  for (int r = 0; r < s.rows(); ++r)
    for (int c = 0; c < s.cols(); ++c)
      if (r == 0 || c == 0 || r == s.rows() - 1 || c == s.cols() - 1) {
        const SurfaceVertex& v = s.vertices()[nodeOf(s, r, c)];
        ASSERT_EQ(s.height(nodeOf(s, r, c)), 0.0f);  // ...but never moves
        ASSERT_EQ(v.x, s.gridX(c));
        ASSERT_EQ(v.z, s.gridZ(r));
        ASSERT_EQ(v.y, 0.0f);
      }
  EXPECT_NE(s.height(nodeOf(s, 1, 1)), 0.0f);
}

TEST(WaterSurfaceStep, SkipsATimeStepThatIsNotANumber) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, kRipple), 0);
  s.drop(400, 300, 130);
  s.step(restEye(s), std::nanf(""));
  s.step(restEye(s), 0.03f);
  for (int n = 0; n < s.nodeCount(); ++n) ASSERT_TRUE(std::isfinite(s.vertices()[n].x)) << n;
}

TEST(WaterSurfaceDrop, MapsPixelsToNodes) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, 0), 0);
  EXPECT_EQ(s.columnForPixel(1), 1);
  // A press at pixel (0, 0) arrives as (1, 1): row trunc(45/600 + 1 + 0.5) = 1.
  EXPECT_EQ(s.rowForPixel(1), static_cast<int>(45.0f / 600.0f + 1.0f + 0.5f));
  EXPECT_EQ(s.rowForPixel(1), 1);
  // Screen centre: 400 * 60 / 800 + 1.5 = 31.5 -> column 31 (x = -0.0 on the grid).
  EXPECT_EQ(s.columnForPixel(400), 31);
  EXPECT_EQ(s.rowForPixel(300), 24);
  // Clamped to the interior, even far off the screen.
  EXPECT_EQ(s.columnForPixel(800), 61);
  EXPECT_EQ(s.columnForPixel(-100), 1);
  EXPECT_EQ(s.columnForPixel(2147483647), 61);
  EXPECT_EQ(s.rowForPixel(-2147483647), 1);
  EXPECT_EQ(s.rowForPixel(600), 46);
}

TEST(WaterSurfaceDrop, AClickIsNeverARandomDrop) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, kRipple), 0);
  platform::srand(5);
  s.drop(1, 1, 130);
  EXPECT_EQ(platform::randState(), 5u) << "a click with a strength draws no random numbers";
  const float k = 63 * 0.009202454f;
  const float m = 130.0f * k * 0.0015f;
  EXPECT_EQ(s.velocity(nodeOf(s, 1, 1)), m);
  EXPECT_EQ(s.velocity(nodeOf(s, 1, 2)), m * 0.5f);
  EXPECT_EQ(s.velocity(nodeOf(s, 0, 1)), m * 0.5f);
  EXPECT_EQ(s.velocity(nodeOf(s, 2, 2)), m * 0.25f);
  EXPECT_EQ(s.velocity(nodeOf(s, 0, 0)), m * 0.25f);
  EXPECT_EQ(s.velocity(nodeOf(s, 1, 3)), 0.0f);
  EXPECT_EQ(s.blendNodes()[nodeOf(s, 1, 1)].blend, 0.0f);
  for (int n = 0; n < s.nodeCount(); ++n) ASSERT_EQ(s.height(n), 0.0f) << "heights untouched";

  // With a random strength, the click still lands on (1, 1): one draw, for
  // the strength only.
  ASSERT_EQ(s.build(800, 600, 60, 0, kRipple), 0);
  platform::srand(5);
  const float expected = (static_cast<float>(platform::rand()) * 6.1035157e-6f + 0.05f) * k;
  const uint32_t afterOneDraw = platform::randState();
  platform::srand(5);
  s.drop(1, 1, 0);
  EXPECT_EQ(platform::randState(), afterOneDraw);
  EXPECT_EQ(s.velocity(nodeOf(s, 1, 1)), expected);
  EXPECT_EQ(s.blendNodes()[nodeOf(s, 1, 1)].blend, 0.0f);
}

TEST(WaterSurfaceDrop, RandomDropsKeepSevenNodesFromTheEdge) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, 0), 0);
  const int w = s.cols(), h = s.rows();
  bool seenFirstCol = false, seenFirstRow = false, seenLastCol = false, seenLastRow = false;
  for (uint32_t seed = 0; seed < 3000; ++seed) {
    platform::srand(seed * 7919u);
    // The node comes from two draws: column, then row.
    int expectedCol = platform::rand() * (w - 14) / 32768 + 7;
    int expectedRow = platform::rand() * (h - 14) / 32768 + 7;
    uint32_t after = platform::randState();
    platform::srand(seed * 7919u);
    ASSERT_EQ(s.build(800, 600, 60, 0, 0), 0);
    s.drop(0, 0, 130);
    ASSERT_EQ(platform::randState(), after) << "exactly two draws without ripples";
    int found = -1;
    for (int n = 0; n < s.nodeCount(); ++n)
      if (s.blendNodes()[n].blend == 0.0f) found = n;
    ASSERT_EQ(found, nodeOf(s, expectedRow, expectedCol));
    int r = found / w, c = found % w;
    ASSERT_GE(c, 7);
    ASSERT_LE(c, w - 8);
    ASSERT_GE(r, 7);
    ASSERT_LE(r, h - 8);
    seenFirstCol |= c == 7;
    seenFirstRow |= r == 7;
    seenLastCol |= c == w - 8;
    seenLastRow |= r == h - 8;
  }
  // Both ends of both ranges are reached.
  EXPECT_TRUE(seenFirstCol);
  EXPECT_TRUE(seenFirstRow);
  EXPECT_TRUE(seenLastCol);
  EXPECT_TRUE(seenLastRow);
  // The extremes themselves come from the values 0 and 32767.
  EXPECT_EQ(32767 * (w - 14) / 32768 + 7, w - 8);
  EXPECT_EQ(32767 * (h - 14) / 32768 + 7, h - 8);
}

TEST(WaterSurfaceDrop, RandomDropOnAVeryWideScreenStaysInside) {
  // 60 * 100 / 1000 = 6: H = 9, below the 14 the margin needs.
  WaterSurface s;
  ASSERT_EQ(s.build(1000, 100, 60, 0, kRipple), 0);
  ASSERT_EQ(s.rows(), 9);
  for (uint32_t seed = 0; seed < 500; ++seed) {
    platform::srand(seed * 104729u);
    platform::rand();  // the column
    int rowDraw = platform::rand();
    int unclamped = rowDraw * (9 - 14) / 32768 + 7;
    platform::srand(seed * 104729u);
    ASSERT_EQ(s.build(1000, 100, 60, 0, kRipple), 0);
    s.drop(0, 0, 100);
    int found = -1;
    for (int n = 0; n < s.nodeCount(); ++n)
      if (s.blendNodes()[n].blend == 0.0f) found = n;
    ASSERT_GE(found, 0);
    int r = found / s.cols();
    ASSERT_GE(r, 1);
    ASSERT_LE(r, 7);
    ASSERT_EQ(r, std::min(unclamped, 7));
  }
}

TEST(WaterSurfaceDrop, RandomStrengthLiesBetweenATwentiethAndAQuarterOfK) {
  WaterSurface s;
  const float k = 63 * 0.009202454f;
  float smallest = 1e9f, largest = 0.0f;
  for (uint32_t seed = 0; seed < 2000; ++seed) {
    ASSERT_EQ(s.build(800, 600, 60, 0, kRipple), 0);
    platform::srand(seed * 2654435761u);
    platform::rand();
    platform::rand();
    float expected = (static_cast<float>(platform::rand()) * 6.1035157e-6f + 0.05f) * k;
    uint32_t after = platform::randState();
    platform::srand(seed * 2654435761u);
    s.drop(0, 0, 0);
    ASSERT_EQ(platform::randState(), after) << "column, row, then the strength";
    float m = 0.0f;
    int at = -1;
    for (int n = 0; n < s.nodeCount(); ++n)
      if (s.velocity(n) > m) m = s.velocity(n), at = n;
    ASSERT_EQ(m, expected);
    ASSERT_EQ(s.velocity(at + 1), m * 0.5f);
    ASSERT_EQ(s.velocity(at + s.cols() + 1), m * 0.25f);
    ASSERT_GE(m, 0.05f * k);
    ASSERT_LE(m, 0.25f * k);
    smallest = std::min(smallest, m);
    largest = std::max(largest, m);
  }
  // The range is used, not a constant.
  EXPECT_LT(smallest, 0.06f * k);
  EXPECT_GT(largest, 0.24f * k);
}

TEST(WaterSurfaceDrop, WithoutRipplesOnlyTheCrossFadeStarts) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, 0), 0);
  platform::srand(9);
  s.drop(400, 300, 0);  // even a random strength draws nothing when it is unused
  EXPECT_EQ(platform::randState(), 9u);
  const int n = nodeOf(s, 24, 31);
  EXPECT_EQ(s.blendNodes()[n].blend, 0.0f);
  for (int i = 0; i < s.nodeCount(); ++i) ASSERT_EQ(s.velocity(i), 0.0f);
  s.step(restEye(s), 0.03f);
  EXPECT_LT(s.blendNodes()[n + 1].blend, 1.0f) << "the fade spreads";
  EXPECT_GT(s.busyCount(), 1) << "node 0 not arrived, plus the seeded node and those it reached";
}

TEST(WaterSurfaceDrag, StampsOneNodePerColumnOrRow) {
  WaterSurface s;
  // 600 x 450 at 60: one node per 10 pixels, rowOffset 1, so pixel p maps
  // to node trunc(p / 10 + 1.5).
  struct Case {
    int x1, y1, x2, y2;
    std::vector<std::pair<int, int>> nodes;  // (row, column)
  };
  const Case cases[] = {
      // Both ends on the same node: stamped once.
      {100, 100, 103, 102, {{11, 11}}},
      // Flatter than 45 degrees, drawn right to left: the ends are swapped,
      // one node per column, rows from the left end by the slope -3 / 10.01
      // (which never quite reaches the far end's row).
      {200,
       100,
       100,
       130,
       {{14, 11}, {14, 12}, {14, 13}, {14, 14}, {13, 15}, {13, 16}, {13, 17}, {12, 18}, {12, 19}, {12, 20}, {12, 21}}},
      // Steeper: one node per row, columns from the top by the slope -2 / 4.01.
      {100, 100, 80, 140, {{11, 11}, {12, 11}, {13, 11}, {14, 10}, {15, 10}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1 << " - " << c.x2 << "," << c.y2);
    ASSERT_EQ(s.build(600, 450, 60, 0, kRipple), 0);
    s.dragLine(c.x1, c.y1, c.x2, c.y2, 10);
    const float m = 10.0f * (63 * 0.009202454f) * 0.0015f;
    std::vector<std::pair<int, int>> stamped;
    for (int n = 0; n < s.nodeCount(); ++n)
      if (s.blendNodes()[n].blend == 0.0f) stamped.emplace_back(n / s.cols(), n % s.cols());
    std::vector<std::pair<int, int>> expected = c.nodes;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stamped, expected);
    if (expected.size() == 1) {
      EXPECT_EQ(s.velocity(nodeOf(s, 11, 11)), m) << "one impulse, not two";
    }
  }
}

TEST(WaterSurfaceBlend, ColourPacksTheBlendBetweenTheSlots) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, kRipple), 0);
  // Slot A (1, 1, 1, 1), slot B (0, 1, 1, 1): white, alpha = the blend.
  EXPECT_EQ(s.blendColour(1.0f), 0xFFFFFFFFu);
  EXPECT_EQ(s.blendColour(0.0f), 0x00FFFFFFu);
  EXPECT_EQ(s.blendColour(0.5f), 0x7FFFFFFFu);  // 127.5
  for (float b : {0.1f, 0.25f, 0.3f, 0.75f, 0.997f})
    EXPECT_EQ(s.blendColour(b) >> 24, static_cast<uint32_t>(b * 255.0f)) << b;
}

TEST(WaterSurfaceBlend, PickColourDrawsThreeNumbersAndTints) {
  // Fixed colour: 0x00BBGGRR, each byte / 256; the draws are still made.
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0x00804020, kRipple), 0);
  platform::srand(1);
  ColourSlot slot;
  s.pickColour(slot, 0.0f);
  const uint32_t afterPick = platform::randState();
  platform::srand(1);
  for (int i = 0; i < 3; ++i) platform::rand();
  EXPECT_EQ(afterPick, platform::randState());
  EXPECT_EQ(slot.alpha, 0.0f);
  EXPECT_EQ(slot.red, 0x20 / 256.0f);
  EXPECT_EQ(slot.green, 0x40 / 256.0f);
  EXPECT_EQ(slot.blue, 0x80 / 256.0f);

  // Random colour: the three draws (41, 18467, 6334 from seed 1) scaled so
  // that the largest is just under 1.
  ASSERT_EQ(s.build(800, 600, 60, 0x00804020, kRipple | kRandomColour), 0);
  platform::srand(1);
  s.pickColour(slot, 1.0f);
  const float r = 41 * 4.5776367e-5f, g = 18467 * 4.5776367e-5f, b = 6334 * 4.5776367e-5f;
  const float scale = 1.0f / (g + 0.0001f);
  EXPECT_EQ(slot.alpha, 1.0f);
  EXPECT_EQ(slot.red, r * scale);
  EXPECT_EQ(slot.green, g * scale);
  EXPECT_EQ(slot.blue, b * scale);
  EXPECT_LT(slot.green, 1.0f);
  EXPECT_GT(slot.green, 0.9998f);
}

TEST(WaterSurfaceBlend, TransitionRunsBothWaysAndTheFieldComesBack) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0x00FF8000, kRipple), 0);
  // Nothing moves before the first disturbance, and nothing can start.
  s.step(restEye(s), 0.03f);
  EXPECT_EQ(s.busyCount(), 1);
  EXPECT_EQ(s.startTransition(), 1);
  EXPECT_EQ(s.blendDirection(), 1);

  // Direction 1: the fade falls from the drop until every node is at 0.
  s.drop(400, 300, 130);
  ASSERT_GT(stepUntilIdle(s, 3000), 0) << "the first fade never finished";
  for (int n = 0; n < s.nodeCount(); ++n) {
    const int r = n / s.cols(), c = n % s.cols();
    ASSERT_EQ(s.blendNodes()[n].blend, 0.0f) << n;
    if (r > 0 && c > 0 && r < s.rows() - 1 && c < s.cols() - 1) {
      ASSERT_EQ(s.blendNodes()[n].phase, 2u) << n;
      ASSERT_EQ(s.blendNodes()[n].colour, 0x00FFFFFFu) << n;  // alpha 0, slot B's white
    }
  }

  // The next transition runs the other way with a new tint in slot A.
  platform::srand(3);
  EXPECT_EQ(s.startTransition(), 0);
  EXPECT_EQ(s.blendDirection(), 2);
  EXPECT_EQ(s.slotA().alpha, 1.0f);
  EXPECT_EQ(s.slotA().red, 0.0f);
  EXPECT_EQ(s.slotA().green, 0x80 / 256.0f);
  EXPECT_EQ(s.slotA().blue, 0xFF / 256.0f);
  s.step(restEye(s), 0.03f);
  EXPECT_EQ(s.busyCount(), 1) << "node 0 has not risen yet";
  EXPECT_EQ(s.startTransition(), 1) << "a running fade is not interrupted";
  EXPECT_EQ(s.blendDirection(), 2);

  // Direction 2: a drop now seeds 1 and the field rises back.
  s.drop(100, 100, 0);
  ASSERT_GT(stepUntilIdle(s, 3000), 0) << "the second fade never finished";
  for (int n = 0; n < s.nodeCount(); ++n) {
    const int r = n / s.cols(), c = n % s.cols();
    ASSERT_EQ(s.blendNodes()[n].blend, 1.0f) << n;
    if (r > 0 && c > 0 && r < s.rows() - 1 && c < s.cols() - 1) {
      ASSERT_EQ(s.blendNodes()[n].phase, 1u) << n;
      ASSERT_EQ(s.blendNodes()[n].colour, s.blendColour(1.0f)) << n;
    }
  }
  EXPECT_EQ(s.blendColour(1.0f), 0xFF007FFEu);  // slot A: 255 * (0, 128/256, 255/256)

  // And round again: the field needs no reset.
  EXPECT_EQ(s.startTransition(), 0);
  EXPECT_EQ(s.blendDirection(), 1);
  EXPECT_EQ(s.slotB().alpha, 0.0f);
  s.drop(0, 0, 0);
  ASSERT_GT(stepUntilIdle(s, 3000), 0);
  EXPECT_EQ(s.blendNodes()[nodeOf(s, 20, 20)].blend, 0.0f);
}

TEST(WaterSurfaceBlend, NeighboursArePulledAndSnapAtTheThresholds) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, 0), 0);
  const int w = s.cols();
  const int n = nodeOf(s, 10, 10);
  const float dt = 0.03f, sv = dt * 33.333f;
  const float f = sv * 0.05f, g = sv * 0.05f * 0.7f;
  // Falling.  Every other node is made inert (phase 2), so only n spreads.
  for (int i = 0; i < s.nodeCount(); ++i) s.setBlend(i, 1.0f, 2);
  s.setBlend(n, 0.5f, 1);
  s.setBlend(n - w - 1, 0.0029f, 2);  // up-left: below 0.003, snaps to 0
  s.setBlend(n + w - 1, 0.3f, 2);     // down-left: already lower, untouched
  s.setBlend(n + 1, 0.9f, 2);         // right: pulled part of the way
  s.step(restEye(s), dt);
  const BlendNode* b = s.blendNodes();
  EXPECT_EQ(b[n - w - 1].blend, 0.0f);
  EXPECT_EQ(b[n - w + 1].blend, 1.0f + (0.5f - 1.0f) * g);  // diagonals by g
  EXPECT_EQ(b[n + w + 1].blend, 1.0f + (0.5f - 1.0f) * g);
  EXPECT_EQ(b[n + w - 1].blend, 0.3f);
  EXPECT_EQ(b[n - 1].blend, 1.0f + (0.5f - 1.0f) * f);  // orthogonals by f
  EXPECT_EQ(b[n + 1].blend, 0.9f + (0.5f - 0.9f) * f);
  EXPECT_EQ(b[n - w].blend, 1.0f + (0.5f - 1.0f) * f);
  EXPECT_EQ(b[n + w].blend, 1.0f + (0.5f - 1.0f) * f);
  EXPECT_EQ(b[n].blend, 0.5f);
  EXPECT_EQ(b[n].phase, 1u) << "one neighbour arrived, not all eight";
  EXPECT_EQ(b[n].colour, s.blendColour(0.5f));
  EXPECT_EQ(b[n + 1].colour, 0xFFFFFFFFu) << "an inert node keeps its colour";
  EXPECT_EQ(s.busyCount(), 2) << "node 0 not arrived, plus n";

  // When all eight have arrived the node turns round.
  for (int k : {-w - 1, -w + 1, w - 1, w + 1, -1, 1, -w, w}) s.setBlend(n + k, 0.00299f, 2);
  s.step(restEye(s), dt);
  EXPECT_EQ(b[n].phase, 2u);
  for (int k : {-w - 1, -w + 1, w - 1, w + 1, -1, 1, -w, w}) EXPECT_EQ(b[n + k].blend, 0.0f) << k;

  // Rising: reach direction 2 through a finished transition.
  for (int i = 0; i < s.nodeCount(); ++i) s.setBlend(i, 0.0f, 2);
  s.step(restEye(s), dt);
  ASSERT_EQ(s.busyCount(), 0);
  ASSERT_EQ(s.startTransition(), 0);
  ASSERT_EQ(s.blendDirection(), 2);
  for (int i = 0; i < s.nodeCount(); ++i) s.setBlend(i, 0.0f, 1);
  s.setBlend(n, 0.5f, 2);
  s.setBlend(n + 1, 0.9971f, 1);  // above 0.997: snaps to 1
  s.setBlend(n - 1, 0.6f, 1);     // already higher: untouched
  // 0.003 is not a live source (the rising threshold is 0.003000021) ...
  const int quiet = nodeOf(s, 20, 20), live = nodeOf(s, 30, 30);
  s.setBlend(quiet, 0.003f, 2);
  // ... a little more is.
  s.setBlend(live, 0.0030001f, 2);
  s.step(restEye(s), dt);
  EXPECT_EQ(b[n + 1].blend, 1.0f);
  EXPECT_EQ(b[n - 1].blend, 0.6f);
  EXPECT_EQ(b[n - w].blend, 0.0f + (0.5f - 0.0f) * f);
  EXPECT_EQ(b[n + w + 1].blend, 0.0f + (0.5f - 0.0f) * g);
  EXPECT_EQ(b[quiet + 1].blend, 0.0f);
  EXPECT_EQ(b[live + 1].blend, 0.0f + (0.0030001f - 0.0f) * f);
  EXPECT_EQ(s.busyCount(), 1 + 2) << "node 0 below 0.9, and two live nodes";
}

TEST(WaterSurfaceBlend, EdgeRowsTakeTheirColourButNotEdgeColumns) {
  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0, 0), 0);
  s.drop(1, 1, 130);  // node (1, 1): its neighbours include the corner and both edges
  for (int i = 0; i < 40; ++i) s.step(restEye(s), 0.03f);
  const BlendNode* b = s.blendNodes();
  EXPECT_LT(b[0].blend, 0.997f);
  EXPECT_EQ(b[0].colour, s.blendColour(b[0].blend)) << "row 0 is recoloured";
  const int leftEdge = nodeOf(s, 3, 0);
  EXPECT_LT(b[leftEdge].blend, 0.997f);
  EXPECT_EQ(b[leftEdge].colour, 0xFFFFFFFFu) << "column 0 keeps its colour";
}
