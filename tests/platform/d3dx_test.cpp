#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/d3dx.h"

namespace {

void expectVec(const D3DXVECTOR3& v, float x, float y, float z, float tolerance = 0.0f) {
  EXPECT_NEAR(v.x, x, tolerance);
  EXPECT_NEAR(v.y, y, tolerance);
  EXPECT_NEAR(v.z, z, tolerance);
}

void expectMatrixNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float tolerance) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.m[r][c], b.m[r][c], tolerance) << "element " << r + 1 << c + 1;
}

}  // namespace

TEST(D3DXVector, ProductsAndLengths) {
  D3DXVECTOR3 a(1, 2, 3), b(4, 5, 6), out;
  EXPECT_EQ(D3DXVec3Dot(&a, &b), 32.0f);
  D3DXVec3Cross(&out, &a, &b);
  expectVec(out, -3, 6, -3);
  // Right-handed: x cross y is z.
  D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0);
  D3DXVec3Cross(&out, &x, &y);
  expectVec(out, 0, 0, 1);
  // The output may be one of the inputs.
  D3DXVec3Cross(&a, &a, &b);
  expectVec(a, -3, 6, -3);
  D3DXVECTOR3 c(2, 3, 6);
  EXPECT_EQ(D3DXVec3Length(&c), 7.0f);
  EXPECT_EQ(D3DXVec3LengthSq(&c), 49.0f);
  D3DXVec3Add(&out, &c, &b);
  expectVec(out, 6, 8, 12);
  D3DXVec3Subtract(&out, &c, &b);
  expectVec(out, -2, -2, 0);
  D3DXVec3Scale(&out, &c, 0.5f);
  expectVec(out, 1, 1.5f, 3);
  D3DXVec3Lerp(&out, &c, &b, 0.5f);
  expectVec(out, 3, 4, 6);
  expectVec(c * 2.0f - b + D3DXVECTOR3(1, 1, 1), 1, 2, 7);
  expectVec(-c / 2.0f, -1, -1.5f, -3);
}

TEST(D3DXVector, NormalizeNeverGivesNaN) {
  D3DXVECTOR3 v(3, 4, 0), out;
  EXPECT_EQ(D3DXVec3Normalize(&out, &v), &out);
  expectVec(out, 0.6f, 0.8f, 0.0f);
  // Exactly each component divided by the length.
  D3DXVECTOR3 w(1.0f, 0.99f, -0.25f);
  D3DXVec3Normalize(&out, &w);
  float length = std::sqrt(1.0f * 1.0f + 0.99f * 0.99f + 0.25f * 0.25f);
  EXPECT_EQ(out.x, 1.0f / length);
  EXPECT_EQ(out.y, 0.99f / length);
  EXPECT_EQ(out.z, -0.25f / length);

  const float inf = std::numeric_limits<float>::infinity();
  const D3DXVECTOR3 degenerate[] = {{0, 0, 0}, {-0.0f, 0, 0}, {std::nanf(""), 1, 0}, {inf, 0, 0}};
  for (const D3DXVECTOR3& d : degenerate) {
    D3DXVec3Normalize(&out, &d);
    EXPECT_EQ(out, D3DXVECTOR3(0, 0, 0)) << d.x << " " << d.y << " " << d.z;
  }
  // In place.
  D3DXVECTOR3 z(0, 0, -5);
  D3DXVec3Normalize(&z, &z);
  expectVec(z, 0, 0, -1);
}

TEST(D3DXMatrix, RowVectorsApplyTheLeftMatrixFirst) {
  D3DXMATRIX t, s, ts, st;
  D3DXMatrixTranslation(&t, 1, 2, 3);
  D3DXMatrixScaling(&s, 2, 2, 2);
  D3DXMatrixMultiply(&ts, &t, &s);
  D3DXMatrixMultiply(&st, &s, &t);
  D3DXVECTOR3 p(1, 1, 1), out;
  D3DXVec3TransformCoord(&out, &p, &ts);  // translate, then scale
  expectVec(out, 4, 6, 8);
  D3DXVec3TransformCoord(&out, &p, &st);  // scale, then translate
  expectVec(out, 3, 4, 5);
  EXPECT_EQ(t * s, ts);
  // A direction ignores the translation row.
  D3DXVec3TransformNormal(&out, &p, &ts);
  expectVec(out, 2, 2, 2);
  D3DXMATRIX id;
  D3DXMatrixIdentity(&id);
  EXPECT_TRUE(D3DXMatrixIsIdentity(&id));
  EXPECT_FALSE(D3DXMatrixIsIdentity(&t));
  EXPECT_EQ(t * id, t);
  D3DXMATRIX tt;
  D3DXMatrixTranspose(&tt, &t);
  EXPECT_EQ(tt._14, 1.0f);
  EXPECT_EQ(tt._41, 0.0f);
}

TEST(D3DXMatrix, RotationsTurnTheAxesRightHandedly) {
  const float quarter = 1.5707964f;
  D3DXMATRIX m;
  D3DXVECTOR3 out;
  D3DXMatrixRotationX(&m, quarter);
  EXPECT_EQ(m._22, std::cos(quarter));
  EXPECT_EQ(m._23, 1.0f);
  EXPECT_EQ(m._32, -1.0f);
  D3DXVECTOR3 y(0, 1, 0), z(0, 0, 1), x(1, 0, 0);
  D3DXVec3TransformCoord(&out, &y, &m);
  expectVec(out, 0, 0, 1, 1e-7f);  // y turns into z
  D3DXMatrixRotationY(&m, quarter);
  D3DXVec3TransformCoord(&out, &z, &m);
  expectVec(out, 1, 0, 0, 1e-7f);  // z turns into x
  D3DXMatrixRotationZ(&m, quarter);
  D3DXVec3TransformCoord(&out, &x, &m);
  expectVec(out, 0, 1, 0, 1e-7f);  // x turns into y
}

TEST(D3DXMatrix, InverseAndDeterminant) {
  D3DXMATRIX m(2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 5, 6, 7, 1), inv;
  float det = 0;
  ASSERT_EQ(D3DXMatrixInverse(&inv, &det, &m), &inv);
  EXPECT_EQ(det, 24.0f);
  D3DXMATRIX expected(0.5f, 0, 0, 0, 0, 1.0f / 3, 0, 0, 0, 0, 0.25f, 0, -2.5f, -2, -1.75f, 1);
  expectMatrixNear(inv, expected, 1e-7f);

  // A general matrix: its inverse undoes it.
  D3DXMATRIX g(1, 2, 0, 1, 0, 1, 3, 0, 4, 0, 1, 2, 1, 1, 1, 1), gi, product, id;
  ASSERT_NE(D3DXMatrixInverse(&gi, nullptr, &g), nullptr);
  D3DXMatrixMultiply(&product, &g, &gi);
  D3DXMatrixIdentity(&id);
  expectMatrixNear(product, id, 1e-6f);
  EXPECT_EQ(D3DXMatrixDeterminant(&g), 8.0f);

  // Singular: no inverse, and the output is left alone.
  D3DXMATRIX singular(1, 2, 3, 4, 2, 4, 6, 8, 0, 0, 1, 0, 0, 0, 0, 1), untouched = id;
  EXPECT_EQ(D3DXMatrixInverse(&untouched, &det, &singular), nullptr);
  EXPECT_EQ(det, 0.0f);
  EXPECT_EQ(untouched, id);
}

TEST(D3DXMatrix, DownwardCameraSeesTheWaterPlane) {
  // The water camera: turned by -pi/2 about x, standing widthUnits / 2 = 30
  // above the centre; its view matrix is the inverse.
  D3DXMATRIX camera, view, projection;
  D3DXMatrixRotationX(&camera, -1.5707964f);
  camera._41 = 0;
  camera._42 = 30;
  camera._43 = 0;
  ASSERT_NE(D3DXMatrixInverse(&view, nullptr, &camera), nullptr);
  D3DXVECTOR3 centre(0, 0, 0), out;
  D3DXVec3TransformCoord(&out, &centre, &view);
  expectVec(out, 0, 0, -30, 1e-5f);  // straight ahead (-z), 30 away
  // World +x stays camera +x; world +z (towards the bottom row) is camera -y.
  D3DXVECTOR3 corner(30, 0, 22.5f);
  D3DXVec3TransformCoord(&out, &corner, &view);
  expectVec(out, 30, -22.5f, -30, 1e-5f);

  // zn = 24, zf = 36, r = 24, t = 18 (4:3): the plane at 30 fills the view.
  const float zn = 24, zf = 36, r = std::tan(0.7853982f) * zn, t = r / (4.0f / 3.0f);
  D3DXMatrixPerspectiveOffCenterRH(&projection, -r, r, -t, t, zn, zf);
  EXPECT_NEAR(projection._11, 1.0f, 1e-6f);  // 2 zn / (r - l)
  EXPECT_NEAR(projection._22, 4.0f / 3.0f, 1e-6f);
  EXPECT_EQ(projection._31, 0.0f);
  EXPECT_EQ(projection._34, -1.0f);
  EXPECT_EQ(projection._33, 36.0f / -12.0f);
  EXPECT_EQ(projection._43, 24.0f * 36.0f / -12.0f);
  EXPECT_EQ(projection._44, 0.0f);
  D3DXMATRIX viewProjection = view * projection;
  D3DXVec3TransformCoord(&out, &corner, &viewProjection);
  expectVec(out, 1, -1, 0.6f, 1e-5f);  // bottom-right corner of the screen
  // Depth runs 0 at the near plane to 1 at the far plane.
  D3DXVECTOR3 nearPoint(0, 0, -24), farPoint(0, 0, -36);
  D3DXVec3TransformCoord(&out, &nearPoint, &projection);
  EXPECT_NEAR(out.z, 0.0f, 1e-6f);
  D3DXVec3TransformCoord(&out, &farPoint, &projection);
  EXPECT_NEAR(out.z, 1.0f, 1e-6f);
  // An off-centre window shifts the image: l + r appears in row 3.
  D3DXMatrixPerspectiveOffCenterRH(&projection, 0, 2, -1, 1, 1, 10);
  EXPECT_EQ(projection._31, 1.0f);
  EXPECT_EQ(projection._32, 0.0f);
}

TEST(D3DXMatrix, OtherProjectionsAndLookAt) {
  D3DXMATRIX a, b;
  D3DXMatrixPerspectiveRH(&a, 2, 2, 1, 10);
  D3DXMatrixPerspectiveOffCenterRH(&b, -1, 1, -1, 1, 1, 10);
  EXPECT_EQ(a, b);
  D3DXMatrixPerspectiveFovRH(&a, 1.5707964f, 1.0f, 1, 10);
  expectMatrixNear(a, b, 1e-6f);
  // Looking from above straight down at the origin, +z towards the viewer's
  // bottom: the same view as the water camera's.
  D3DXVECTOR3 eye(0, 30, 0), at(0, 0, 0), up(0, 0, -1), out, centre(0, 0, 0);
  D3DXMatrixLookAtRH(&a, &eye, &at, &up);
  D3DXVec3TransformCoord(&out, &centre, &a);
  expectVec(out, 0, 0, -30, 1e-5f);
}
