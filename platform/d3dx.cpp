#include "platform/d3dx.h"

#include <cmath>
#include <cstring>

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& b) const {
  D3DXMATRIX out;
  D3DXMatrixMultiply(&out, this, &b);
  return out;
}

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& b) {
  D3DXMatrixMultiply(this, this, &b);
  return *this;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& b) const {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (m[r][c] != b.m[r][c]) return false;
  return true;
}

float D3DXVec3LengthSq(const D3DXVECTOR3* v) { return v->x * v->x + v->y * v->y + v->z * v->z; }

float D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(D3DXVec3LengthSq(v)); }

float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  D3DXVECTOR3 r(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
  *out = r;
  return out;
}

D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = D3DXVECTOR3(a->x + b->x, a->y + b->y, a->z + b->z);
  return out;
}

D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = D3DXVECTOR3(a->x - b->x, a->y - b->y, a->z - b->z);
  return out;
}

D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* out, const D3DXVECTOR3* v, float s) {
  *out = D3DXVECTOR3(v->x * s, v->y * s, v->z * s);
  return out;
}

D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b, float s) {
  *out = D3DXVECTOR3(a->x + (b->x - a->x) * s, a->y + (b->y - a->y) * s, a->z + (b->z - a->z) * s);
  return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
  float x, y, z;
  d3dxNormalize3(v->x, v->y, v->z, x, y, z);
  *out = D3DXVECTOR3(x, y, z);
  return out;
}

D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  D3DXVECTOR4 r(
      v->x * m->_11 + v->y * m->_21 + v->z * m->_31 + m->_41, v->x * m->_12 + v->y * m->_22 + v->z * m->_32 + m->_42,
      v->x * m->_13 + v->y * m->_23 + v->z * m->_33 + m->_43, v->x * m->_14 + v->y * m->_24 + v->z * m->_34 + m->_44);
  *out = r;
  return out;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  D3DXVECTOR4 r;
  D3DXVec3Transform(&r, v, m);
  if (r.w != 0.0f) {
    *out = D3DXVECTOR3(r.x / r.w, r.y / r.w, r.z / r.w);
  } else {
    *out = D3DXVECTOR3(r.x, r.y, r.z);
  }
  return out;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  D3DXVECTOR3 r(v->x * m->_11 + v->y * m->_21 + v->z * m->_31, v->x * m->_12 + v->y * m->_22 + v->z * m->_32,
                v->x * m->_13 + v->y * m->_23 + v->z * m->_33);
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
  *out = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  return out;
}

bool D3DXMatrixIsIdentity(const D3DXMATRIX* m) {
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  return *m == identity;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] + a->m[i][3] * b->m[3][j];
    }
  }
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = m->m[j][i];
  *out = r;
  return out;
}

namespace {

// Cofactor expansion in double: the inverse of a camera matrix (rotation and
// translation) then comes out to the nearest floats.
void adjugate(const D3DXMATRIX* m, double adj[4][4], double* det) {
  double a[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) a[i][j] = m->m[i][j];
  // 2x2 minors of the lower two rows and of the upper two rows.
  double s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
  double s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
  double s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
  double s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
  double s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
  double s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
  double c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
  double c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
  double c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
  double c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
  double c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
  double c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
  *det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
  adj[0][0] = a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3;
  adj[0][1] = -a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3;
  adj[0][2] = a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3;
  adj[0][3] = -a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3;
  adj[1][0] = -a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1;
  adj[1][1] = a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1;
  adj[1][2] = -a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1;
  adj[1][3] = a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1;
  adj[2][0] = a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0;
  adj[2][1] = -a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0;
  adj[2][2] = a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0;
  adj[2][3] = -a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0;
  adj[3][0] = -a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0;
  adj[3][1] = a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0;
  adj[3][2] = -a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0;
  adj[3][3] = a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0;
}

}  // namespace

float D3DXMatrixDeterminant(const D3DXMATRIX* m) {
  double adj[4][4], det;
  adjugate(m, adj, &det);
  return static_cast<float>(det);
}

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m) {
  double adj[4][4], det;
  adjugate(m, adj, &det);
  if (determinant) *determinant = static_cast<float>(det);
  if (det == 0.0 || !std::isfinite(det)) return nullptr;
  double inv = 1.0 / det;
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = static_cast<float>(adj[i][j] * inv);
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
  *out = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
  *out = D3DXMATRIX(sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, sz, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
  float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX(1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
  float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
  float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX(c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixLookAtRH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up) {
  D3DXVECTOR3 zaxis = *eye - *at, xaxis, yaxis;
  D3DXVec3Normalize(&zaxis, &zaxis);
  D3DXVec3Cross(&xaxis, up, &zaxis);
  D3DXVec3Normalize(&xaxis, &xaxis);
  D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
  *out = D3DXMATRIX(xaxis.x, yaxis.x, zaxis.x, 0, xaxis.y, yaxis.y, zaxis.y, 0, xaxis.z, yaxis.z, zaxis.z, 0,
                    -D3DXVec3Dot(&xaxis, eye), -D3DXVec3Dot(&yaxis, eye), -D3DXVec3Dot(&zaxis, eye), 1);
  return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveOffCenterRH(D3DXMATRIX* out, float l, float r, float b, float t, float zn, float zf) {
  *out = D3DXMATRIX(2.0f * zn / (r - l), 0, 0, 0,                                 //
                    0, 2.0f * zn / (t - b), 0, 0,                                 //
                    (l + r) / (r - l), (t + b) / (t - b), zf / (zn - zf), -1.0f,  //
                    0, 0, zn * zf / (zn - zf), 0);
  return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveRH(D3DXMATRIX* out, float w, float h, float zn, float zf) {
  *out = D3DXMATRIX(2.0f * zn / w, 0, 0, 0,       //
                    0, 2.0f * zn / h, 0, 0,       //
                    0, 0, zf / (zn - zf), -1.0f,  //
                    0, 0, zn * zf / (zn - zf), 0);
  return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf) {
  float yScale = 1.0f / std::tan(fovy * 0.5f);
  float xScale = yScale / aspect;
  *out = D3DXMATRIX(xScale, 0, 0, 0,              //
                    0, yScale, 0, 0,              //
                    0, 0, zf / (zn - zf), -1.0f,  //
                    0, 0, zn * zf / (zn - zf), 0);
  return out;
}
