#pragma once
// Vector and matrix helpers with the Direct3D extension library's names and
// conventions, as plain single-precision functions:
//   - row vectors: a point p transforms as p * M, and M1 * M2 applies M1 first;
//   - matrices are row-major, element _rc in row r, column c (m[r-1][c-1]);
//   - projections are right-handed with clip-space z from 0 (near) to w (far).
// Every function takes its output first and returns it, as the library does;
// outputs may alias inputs.  Arithmetic is float, written out in the order
// given beside each function, so that results are the same on every build.
#include <cmath>
#include <cstdint>

struct D3DXVECTOR3 {
  float x = 0.0f, y = 0.0f, z = 0.0f;

  D3DXVECTOR3() = default;
  constexpr D3DXVECTOR3(float ax, float ay, float az) : x(ax), y(ay), z(az) {}

  D3DXVECTOR3& operator+=(const D3DXVECTOR3& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    return *this;
  }
  D3DXVECTOR3& operator-=(const D3DXVECTOR3& v) {
    x -= v.x;
    y -= v.y;
    z -= v.z;
    return *this;
  }
  D3DXVECTOR3& operator*=(float f) {
    x *= f;
    y *= f;
    z *= f;
    return *this;
  }
  D3DXVECTOR3& operator/=(float f) {
    x /= f;
    y /= f;
    z /= f;
    return *this;
  }
  D3DXVECTOR3 operator+() const { return *this; }
  D3DXVECTOR3 operator-() const { return {-x, -y, -z}; }
  D3DXVECTOR3 operator+(const D3DXVECTOR3& v) const { return {x + v.x, y + v.y, z + v.z}; }
  D3DXVECTOR3 operator-(const D3DXVECTOR3& v) const { return {x - v.x, y - v.y, z - v.z}; }
  D3DXVECTOR3 operator*(float f) const { return {x * f, y * f, z * f}; }
  D3DXVECTOR3 operator/(float f) const { return {x / f, y / f, z / f}; }
  friend D3DXVECTOR3 operator*(float f, const D3DXVECTOR3& v) { return {f * v.x, f * v.y, f * v.z}; }
  bool operator==(const D3DXVECTOR3& v) const { return x == v.x && y == v.y && z == v.z; }
  bool operator!=(const D3DXVECTOR3& v) const { return !(*this == v); }
};

struct D3DXVECTOR4 {
  float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;

  D3DXVECTOR4() = default;
  constexpr D3DXVECTOR4(float ax, float ay, float az, float aw) : x(ax), y(ay), z(az), w(aw) {}
  bool operator==(const D3DXVECTOR4& v) const { return x == v.x && y == v.y && z == v.z && w == v.w; }
};

// 16 floats, row-major; the same 64 bytes Direct3D's device takes for a
// transform.
struct D3DXMATRIX {
  union {
    struct {
      float _11, _12, _13, _14;
      float _21, _22, _23, _24;
      float _31, _32, _33, _34;
      float _41, _42, _43, _44;
    };
    float m[4][4];
  };

  D3DXMATRIX() : m{} {}
  D3DXMATRIX(float a11, float a12, float a13, float a14, float a21, float a22, float a23, float a24, float a31,
             float a32, float a33, float a34, float a41, float a42, float a43, float a44)
      : m{{a11, a12, a13, a14}, {a21, a22, a23, a24}, {a31, a32, a33, a34}, {a41, a42, a43, a44}} {}

  float& operator()(int row, int col) { return m[row][col]; }
  float operator()(int row, int col) const { return m[row][col]; }
  operator float*() { return &m[0][0]; }
  operator const float*() const { return &m[0][0]; }
  D3DXMATRIX operator*(const D3DXMATRIX& b) const;
  D3DXMATRIX& operator*=(const D3DXMATRIX& b);
  bool operator==(const D3DXMATRIX& b) const;
  bool operator!=(const D3DXMATRIX& b) const { return !(*this == b); }
};
static_assert(sizeof(D3DXMATRIX) == 64, "a transform is 16 packed floats");
static_assert(sizeof(D3DXVECTOR3) == 12, "a vector is 3 packed floats");

// ---- 3-vectors ----------------------------------------------------------

// x*x + y*y + z*z, summed left to right.
float D3DXVec3LengthSq(const D3DXVECTOR3* v);
// sqrt of D3DXVec3LengthSq.
float D3DXVec3Length(const D3DXVECTOR3* v);
// a.x*b.x + a.y*b.y + a.z*b.z, summed left to right.
float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b);
// (a.y*b.z - a.z*b.y, a.z*b.x - a.x*b.z, a.x*b.y - a.y*b.x).
D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* out, const D3DXVECTOR3* v, float s);
// a + (b - a) * s per component.
D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b, float s);
// Each component divided by D3DXVec3Length.  A zero (or non-finite-length)
// vector gives the zero vector rather than NaNs, so a resting boat or a flat
// surface never poisons what is computed from it.
D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);
// (x, y, z, 1) * M, divided by the resulting w (w of 0 leaves it undivided).
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 0) * M: a direction, without translation.
D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 1) * M, with w.
D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);

// The same normalization as D3DXVec3Normalize on plain floats, inline for
// loops that run over every node of the water each frame.
inline void d3dxNormalize3(float x, float y, float z, float& ox, float& oy, float& oz);

// ---- 4x4 matrices -------------------------------------------------------

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
bool D3DXMatrixIsIdentity(const D3DXMATRIX* m);
// out = a * b (a applied first); each element summed over k = 1..4 in order.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b);
D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m);
// The inverse, or nullptr (out untouched) when m is singular.  The
// determinant is stored through determinant when that is not null.
D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m);
float D3DXMatrixDeterminant(const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);
// [1 0 0 0; 0 cos sin 0; 0 -sin cos 0; 0 0 0 1]
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
// [cos 0 -sin 0; 0 1 0 0; sin 0 cos 0; 0 0 0 1]
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
// [cos sin 0 0; -sin cos 0 0; 0 0 1 0; 0 0 0 1]
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);
// Right-handed view matrix looking from eye towards at.
D3DXMATRIX* D3DXMatrixLookAtRH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up);
// [2zn/(r-l) 0 0 0; 0 2zn/(t-b) 0 0; (l+r)/(r-l) (t+b)/(t-b) zf/(zn-zf) -1; 0 0 zn*zf/(zn-zf) 0]
D3DXMATRIX* D3DXMatrixPerspectiveOffCenterRH(D3DXMATRIX* out, float l, float r, float b, float t, float zn, float zf);
// The symmetric case: width w and height h at the near plane.
D3DXMATRIX* D3DXMatrixPerspectiveRH(D3DXMATRIX* out, float w, float h, float zn, float zf);
// Vertical field of view fovy (radians) and aspect = width / height.
D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf);

// ---- inline definitions -------------------------------------------------

inline void d3dxNormalize3(float x, float y, float z, float& ox, float& oy, float& oz) {
  float lengthSq = x * x + y * y + z * z;
  float length = std::sqrt(lengthSq);
  // Written so that a NaN or infinite length also falls to the zero vector.
  if (!(length > 0.0f) || !(length <= 3.4028235e38f)) {
    ox = oy = oz = 0.0f;
    return;
  }
  ox = x / length;
  oy = y / length;
  oz = z / length;
}
