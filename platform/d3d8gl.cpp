// Direct3D 8 on OpenGL 3.3 core (through libepoxy) and SDL.
//
// Adapters are the SDL displays.  The HAL device is an OpenGL context on the
// device window; it renders into a frame buffer object the size of the back
// buffer, which Present copies to the window.  The frame buffer object holds
// the picture in Direct3D's row order (row 0 is the top), which is also what
// readBackBuffer returns.
//
// The shaders reproduce the fixed-function pipeline for the states this
// system uses:
//   - transforms: Direct3D's row-vector matrices are uploaded unchanged
//     (GLSL's M * v is Direct3D's v * M); clip-space z from 0..w is mapped to
//     OpenGL's -w..w, y is flipped so that screen space points down, and every
//     vertex moves half a pixel right and down so that OpenGL's sampling at
//     pixel centres (i + 0.5) covers and interpolates exactly as Direct3D's
//     integer pixel centres do;
//   - per-vertex lighting in camera space with directional lights, material
//     sources, ambient, and a local-viewer specular term of any power;
//   - two texture stages with DISABLE, SELECTARG1/2, MODULATE(2X/4X), ADD,
//     ADDSIGNED, SUBTRACT, ADDSMOOTH and the BLEND*ALPHA operations, the
//     arguments DIFFUSE, CURRENT, TEXTURE, TFACTOR, SPECULAR and the
//     COMPLEMENT / ALPHAREPLICATE modifiers; a stage with no texture samples
//     opaque white; the specular colour is added after the last stage;
//   - Gouraud and flat shading (the first vertex's colours);
//   - blending, alpha test, culling (CW / CCW as seen on screen), depth test
//     when a depth buffer was asked for, filters and addressing per stage.
// Not reproduced: fog, point and spot lights (treated as
// absent), texture transforms, vertex blending, user clip planes.
#include <SDL2/SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/d3d8.h"
#include "platform/memorytexture.h"
#include "platform/sdlbackend.h"

namespace platform {

namespace {

constexpr int kStages = 2;
constexpr int kLights = 8;
constexpr UINT kTextureBudget = 512u * 1024u * 1024u;

// ---- formats ------------------------------------------------------------------------

D3DFORMAT formatOfSdl(Uint32 f) {
  switch (f) {
    case SDL_PIXELFORMAT_ARGB8888:
    case SDL_PIXELFORMAT_ABGR8888:
    case SDL_PIXELFORMAT_RGBA8888:
    case SDL_PIXELFORMAT_BGRA8888: return D3DFMT_A8R8G8B8;
    case SDL_PIXELFORMAT_RGB24:
    case SDL_PIXELFORMAT_BGR24: return D3DFMT_R8G8B8;
    case SDL_PIXELFORMAT_RGB565:
    case SDL_PIXELFORMAT_BGR565: return D3DFMT_R5G6B5;
    case SDL_PIXELFORMAT_RGB555:
    case SDL_PIXELFORMAT_BGR555: return D3DFMT_X1R5G5B5;
    case SDL_PIXELFORMAT_ARGB1555:
    case SDL_PIXELFORMAT_ABGR1555: return D3DFMT_A1R5G5B5;
    case SDL_PIXELFORMAT_ARGB4444: return D3DFMT_A4R4G4B4;
    default:
      // Everything else a desktop runs in is 24-bit colour in 32-bit words.
      return SDL_BITSPERPIXEL(f) == 16 ? D3DFMT_R5G6B5 : D3DFMT_X8R8G8B8;
  }
}

Uint32 sdlOfFormat(D3DFORMAT f) {
  switch (f) {
    case D3DFMT_A8R8G8B8: return SDL_PIXELFORMAT_ARGB8888;
    case D3DFMT_R8G8B8: return SDL_PIXELFORMAT_RGB24;
    case D3DFMT_R5G6B5: return SDL_PIXELFORMAT_RGB565;
    case D3DFMT_X1R5G5B5: return SDL_PIXELFORMAT_RGB555;
    case D3DFMT_A1R5G5B5: return SDL_PIXELFORMAT_ARGB1555;
    default: return SDL_PIXELFORMAT_RGB888;
  }
}

struct GLFormat {
  GLenum format = 0, type = 0;
  bool alphaOne = false;  // the format has no alpha: it samples as 1
  bool alphaOnly = false;
};

bool glFormatOf(D3DFORMAT f, GLFormat* out) {
  switch (f) {
    case D3DFMT_A8R8G8B8: *out = {GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, false, false}; return true;
    case D3DFMT_X8R8G8B8: *out = {GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, true, false}; return true;
    case D3DFMT_R8G8B8: *out = {GL_BGR, GL_UNSIGNED_BYTE, true, false}; return true;
    case D3DFMT_A4R4G4B4: *out = {GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, false, false}; return true;
    case D3DFMT_X4R4G4B4: *out = {GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, true, false}; return true;
    case D3DFMT_A1R5G5B5: *out = {GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, false, false}; return true;
    case D3DFMT_X1R5G5B5: *out = {GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, true, false}; return true;
    case D3DFMT_R5G6B5: *out = {GL_RGB, GL_UNSIGNED_SHORT_5_6_5, true, false}; return true;
    case D3DFMT_A8: *out = {GL_RED, GL_UNSIGNED_BYTE, false, true}; return true;
    default: return false;
  }
}

// ---- adapters ---------------------------------------------------------------------

// A stable identifier per display: two FNV-1a hashes of what names it.
GUID adapterGuid(int index) {
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* name = SDL_GetDisplayName(index);
  std::string key = std::string("lumenmere-adapter:") + (driver ? driver : "") + ":" + (name ? name : "") + ":" +
                    std::to_string(index);
  uint64_t h1 = 0xcbf29ce484222325ull, h2 = 0x84222325cbf29ce4ull;
  for (unsigned char c : key) {
    h1 = (h1 ^ c) * 0x100000001b3ull;
    h2 = (h2 ^ (c + 0x5Bu)) * 0x100000001b3ull;
  }
  GUID g;
  g.Data1 = static_cast<DWORD>(h1 >> 32);
  g.Data2 = static_cast<WORD>(h1 >> 16);
  g.Data3 = static_cast<WORD>(h1);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(h2 >> (56 - 8 * i));
  return g;
}

std::vector<D3DDISPLAYMODE> adapterModes(int index) {
  std::vector<D3DDISPLAYMODE> modes;
  int count = SDL_GetNumDisplayModes(index);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(index, i, &m) != 0 || m.w <= 0 || m.h <= 0) continue;
    D3DDISPLAYMODE d;
    d.Width = static_cast<UINT>(m.w);
    d.Height = static_cast<UINT>(m.h);
    d.RefreshRate = static_cast<UINT>(m.refresh_rate);
    d.Format = formatOfSdl(m.format);
    bool seen = std::any_of(modes.begin(), modes.end(), [&](const D3DDISPLAYMODE& o) {
      return o.Width == d.Width && o.Height == d.Height && o.RefreshRate == d.RefreshRate && o.Format == d.Format;
    });
    if (!seen) modes.push_back(d);
  }
  // The desktop's own mode is always usable, even where the driver lists
  // no modes (the headless one).
  SDL_DisplayMode m;
  if (SDL_GetDesktopDisplayMode(index, &m) == 0 && m.w > 0 && m.h > 0) {
    D3DDISPLAYMODE d{static_cast<UINT>(m.w), static_cast<UINT>(m.h), static_cast<UINT>(m.refresh_rate),
                     formatOfSdl(m.format)};
    bool seen = std::any_of(modes.begin(), modes.end(), [&](const D3DDISPLAYMODE& o) {
      return o.Width == d.Width && o.Height == d.Height && o.Format == d.Format;
    });
    if (!seen) modes.push_back(d);
  }
  return modes;
}

D3DCAPS8 openGLCaps(UINT adapter) {
  D3DCAPS8 c = hardwareCaps();
  c.AdapterOrdinal = adapter;
  c.MaxSimultaneousTextures = kStages;
  c.MaxTextureBlendStages = kStages;
  c.MaxActiveLights = kLights;
  c.PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
  return c;
}

// ---- shaders ------------------------------------------------------------------------

const char* kVertexShader = R"(
layout(location = 0) in vec4 aPos;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aDiffuse;
layout(location = 3) in vec4 aSpecular;
layout(location = 4) in vec2 aTex0;
layout(location = 5) in vec2 aTex1;

uniform mat4 uWorldView;
uniform mat4 uProj;
uniform mat3 uNormalMatrix;
uniform vec4 uViewport;      // x, y, width, height in pixels
#ifdef FIXED_STATE
const bool uPretransformed = FIXED_PRETRANSFORMED;
const bool uLighting = FIXED_LIGHTING;
const bool uHasDiffuse = FIXED_HAS_DIFFUSE;
const bool uHasSpecular = FIXED_HAS_SPECULAR;
const bool uColorVertex = FIXED_COLOR_VERTEX;
const bool uLocalViewer = FIXED_LOCAL_VIEWER;
const bool uNormalize = FIXED_NORMALIZE;
const bool uSpecularEnable = FIXED_SPECULAR;
const int uDiffuseSource = FIXED_DIFFUSE_SOURCE;
const int uSpecularSource = FIXED_SPECULAR_SOURCE;
const int uAmbientSource = FIXED_AMBIENT_SOURCE;
const int uEmissiveSource = FIXED_EMISSIVE_SOURCE;
#else
uniform bool uPretransformed;
uniform bool uLighting;
uniform bool uHasDiffuse;
uniform bool uHasSpecular;
uniform bool uColorVertex;
uniform bool uLocalViewer;
uniform bool uNormalize;
uniform bool uSpecularEnable;
uniform int uDiffuseSource;
uniform int uSpecularSource;
uniform int uAmbientSource;
uniform int uEmissiveSource;
#endif
uniform vec4 uMatDiffuse;
uniform vec4 uMatAmbient;
uniform vec4 uMatSpecular;
uniform vec4 uMatEmissive;
uniform float uMatPower;
uniform vec4 uAmbient;
uniform int uLightCount;
uniform vec3 uLightDir[8];   // towards the light, camera space, unit length
uniform vec4 uLightDiffuse[8];
uniform vec4 uLightSpecular[8];
uniform vec4 uLightAmbient[8];

out vec4 vGouraudDiffuse;
out vec4 vGouraudSpecular;
flat out vec4 vFlatDiffuse;
flat out vec4 vFlatSpecular;
out vec2 vTex0;
out vec2 vTex1;

vec4 vDiffuse;
vec4 vSpecular;

vec4 source(int which, vec4 material) {
  if (uColorVertex) {
    if (which == 1 && uHasDiffuse) return aDiffuse;
    if (which == 2 && uHasSpecular) return aSpecular;
  }
  return material;
}

void main() {
  vec4 clip;
  if (uPretransformed) {
    float w = aPos.w != 0.0 ? 1.0 / aPos.w : 1.0;
    vec2 ndc = vec2((aPos.x - uViewport.x) / uViewport.z * 2.0 - 1.0, 1.0 - (aPos.y - uViewport.y) / uViewport.w * 2.0);
    clip = vec4(ndc * w, aPos.z * w, w);
    vDiffuse = uHasDiffuse ? aDiffuse : vec4(1.0);
    vSpecular = uHasSpecular ? aSpecular : vec4(0.0);
  } else {
    vec4 cameraPos = uWorldView * vec4(aPos.xyz, 1.0);
    clip = uProj * cameraPos;
    if (uLighting) {
      vec4 md = source(uDiffuseSource, uMatDiffuse);
      vec4 ma = source(uAmbientSource, uMatAmbient);
      vec4 ms = source(uSpecularSource, uMatSpecular);
      vec4 me = source(uEmissiveSource, uMatEmissive);
      vec3 n = uNormalMatrix * aNormal;
      if (uNormalize) n = normalize(n);
      vec3 v = uLocalViewer ? normalize(-cameraPos.xyz) : vec3(0.0, 0.0, 1.0);
      vec3 diffuse = me.rgb + ma.rgb * uAmbient.rgb;
      vec3 specular = vec3(0.0);
      for (int i = 0; i < uLightCount; ++i) {
        vec3 l = uLightDir[i];
        float nl = dot(n, l);
        diffuse += ma.rgb * uLightAmbient[i].rgb;
        if (nl > 0.0) {
          diffuse += md.rgb * uLightDiffuse[i].rgb * nl;
          if (uSpecularEnable) {
            float nh = dot(n, normalize(l + v));
            float s = nh > 0.0 ? pow(nh, uMatPower) : (uMatPower <= 0.0 ? 1.0 : 0.0);
            specular += ms.rgb * uLightSpecular[i].rgb * s;
          }
        }
      }
      vDiffuse = vec4(clamp(diffuse, 0.0, 1.0), clamp(md.a, 0.0, 1.0));
      vSpecular = vec4(clamp(specular, 0.0, 1.0), clamp(ms.a, 0.0, 1.0));
    } else {
      vDiffuse = uHasDiffuse ? aDiffuse : vec4(1.0);
      vSpecular = uHasSpecular ? aSpecular : vec4(0.0);
    }
  }
  vGouraudDiffuse = vDiffuse;
  vGouraudSpecular = vSpecular;
  vFlatDiffuse = vDiffuse;
  vFlatSpecular = vSpecular;
  vTex0 = aTex0;
  vTex1 = aTex1;
  // Direct3D to OpenGL: screen y points down, pixel centres lie half a
  // pixel further right and down, and visible z runs 0..w.
  clip.y = -clip.y;
  clip.xy += clip.w * vec2(1.0 / uViewport.z, 1.0 / uViewport.w);
  clip.z = 2.0 * clip.z - clip.w;
  gl_Position = clip;
}
)";

const char* kFragmentShader = R"(
in vec4 vGouraudDiffuse;
in vec4 vGouraudSpecular;
flat in vec4 vFlatDiffuse;
flat in vec4 vFlatSpecular;
in vec2 vTex0;
in vec2 vTex1;
out vec4 fragColour;

uniform sampler2D uTex0;
uniform sampler2D uTex1;
uniform vec4 uTFactor;
uniform float uAlphaRef;
#ifdef FIXED_STATE
const bool uHasTex[2] = bool[2](FIXED_HAS_TEX);
const int uTexIndex[2] = int[2](FIXED_TEX_INDEX);
const int uColorOp[2] = int[2](FIXED_COLOR_OP);
const int uColorArg1[2] = int[2](FIXED_COLOR_ARG1);
const int uColorArg2[2] = int[2](FIXED_COLOR_ARG2);
const int uAlphaOp[2] = int[2](FIXED_ALPHA_OP);
const int uAlphaArg1[2] = int[2](FIXED_ALPHA_ARG1);
const int uAlphaArg2[2] = int[2](FIXED_ALPHA_ARG2);
const bool uSpecularEnable = FIXED_SPECULAR;
const bool uAlphaTest = FIXED_ALPHA_TEST;
const int uAlphaFunc = FIXED_ALPHA_FUNC;
const bool uFlat = FIXED_FLAT;
#else
uniform bool uHasTex[2];
uniform int uTexIndex[2];
uniform int uColorOp[2];
uniform int uColorArg1[2];
uniform int uColorArg2[2];
uniform int uAlphaOp[2];
uniform int uAlphaArg1[2];
uniform int uAlphaArg2[2];
uniform bool uSpecularEnable;
uniform bool uAlphaTest;
uniform int uAlphaFunc;
uniform bool uFlat;
#endif
vec4 vDiffuse;
vec4 vSpecular;

vec4 argument(int a, vec4 current, vec4 tex) {
  int which = a & 15;
  vec4 v;
  if (which == 0) v = vDiffuse;
  else if (which == 1) v = current;
  else if (which == 2) v = tex;
  else if (which == 3) v = uTFactor;
  else if (which == 4) v = vSpecular;
  else v = vec4(0.0);
  if ((a & 16) != 0) v = vec4(1.0) - v;
  if ((a & 32) != 0) v = vec4(v.a);
  return v;
}

vec4 operation(int op, vec4 a1, vec4 a2, vec4 current, vec4 tex) {
  if (op == 2) return a1;
  if (op == 3) return a2;
  if (op == 4) return a1 * a2;
  if (op == 5) return 2.0 * a1 * a2;
  if (op == 6) return 4.0 * a1 * a2;
  if (op == 7) return a1 + a2;
  if (op == 8) return a1 + a2 - 0.5;
  if (op == 9) return 2.0 * (a1 + a2 - 0.5);
  if (op == 10) return a1 - a2;
  if (op == 11) return a1 + a2 - a1 * a2;
  if (op == 12) return mix(a2, a1, vDiffuse.a);
  if (op == 13) return mix(a2, a1, tex.a);
  if (op == 14) return mix(a2, a1, uTFactor.a);
  if (op == 15) return a1 + a2 * (1.0 - tex.a);
  if (op == 16) return mix(a2, a1, current.a);
  return a1;
}

vec2 coords(int index) { return index == 1 ? vTex1 : vTex0; }

bool passes(float a) {
  if (uAlphaFunc == 1) return false;
  if (uAlphaFunc == 2) return a < uAlphaRef;
  if (uAlphaFunc == 3) return a == uAlphaRef;
  if (uAlphaFunc == 4) return a <= uAlphaRef;
  if (uAlphaFunc == 5) return a > uAlphaRef;
  if (uAlphaFunc == 6) return a != uAlphaRef;
  if (uAlphaFunc == 7) return a >= uAlphaRef;
  return true;
}

void main() {
  // Flat shading takes the first vertex's colours (the provoking vertex).
  vDiffuse = uFlat ? vFlatDiffuse : vGouraudDiffuse;
  vSpecular = uFlat ? vFlatSpecular : vGouraudSpecular;
  vec4 tex0 = uHasTex[0] ? texture(uTex0, coords(uTexIndex[0])) : vec4(1.0);
  vec4 tex1 = uHasTex[1] ? texture(uTex1, coords(uTexIndex[1])) : vec4(1.0);
  vec4 current = vDiffuse;
  for (int i = 0; i < 2; ++i) {
    if (uColorOp[i] == 1) break;
    vec4 tex = i == 0 ? tex0 : tex1;
    vec3 colour = operation(uColorOp[i], argument(uColorArg1[i], current, tex), argument(uColorArg2[i], current, tex),
                            current, tex).rgb;
    float alpha = current.a;
    if (uAlphaOp[i] != 1)
      alpha = operation(uAlphaOp[i], argument(uAlphaArg1[i], current, tex), argument(uAlphaArg2[i], current, tex),
                        current, tex).a;
    current = clamp(vec4(colour, alpha), 0.0, 1.0);
  }
  if (uSpecularEnable) current.rgb = min(current.rgb + vSpecular.rgb, vec3(1.0));
  if (uAlphaTest && !passes(current.a)) discard;
  fragColour = current;
}
)";

GLuint compile(GLenum kind, const char* source) {
  GLuint shader = glCreateShader(kind);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[2048];
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    std::fprintf(stderr, "aquaveil: shader: %s\n", log);
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

GLenum blendFactor(DWORD b, bool source) {
  switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BOTHSRCALPHA: return source ? GL_SRC_ALPHA : GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_BOTHINVSRCALPHA: return source ? GL_ONE_MINUS_SRC_ALPHA : GL_SRC_ALPHA;
    default: return source ? GL_ONE : GL_ZERO;
  }
}

GLenum compareFunc(DWORD f) {
  switch (f) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
  }
}

GLenum addressMode(DWORD a) {
  switch (a) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE: return GL_MIRRORED_REPEAT;
    default: return GL_REPEAT;
  }
}

GLenum primitiveMode(D3DPRIMITIVETYPE type) {
  switch (type) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
  }
}

void colourOf(D3DCOLOR c, float out[4]) {
  out[0] = ((c >> 16) & 0xFF) / 255.0f;
  out[1] = ((c >> 8) & 0xFF) / 255.0f;
  out[2] = (c & 0xFF) / 255.0f;
  out[3] = ((c >> 24) & 0xFF) / 255.0f;
}

// Row-vector matrix product a * b.
D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float s = 0.0f;
      for (int k = 0; k < 4; ++k) s += a.m[i][k] * b.m[k][j];
      r.m[i][j] = s;
    }
  return r;
}

D3DMATRIX identity() {
  D3DMATRIX m;
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

class GLDevice;

// A texture: a copy of every level in memory (so that system-memory
// textures can be locked and copied) and, outside the system-memory pool,
// an OpenGL texture.
class GLTexture : public MemoryTexture {
 public:
  GLTexture(GLDevice* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
      : MemoryTexture(width, height, levels, usage, format, pool), device_(device) {
    lockableDefaultPool = (usage & D3DUSAGE_DYNAMIC) != 0;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override;
  HRESULT UnlockRect(UINT level) override;

  bool createGL();
  void uploadAll();
  void upload(UINT level);
  GLuint name() const { return name_; }
  void deviceGone() {
    device_ = nullptr;
    name_ = 0;
  }
  size_t byteSize() const {
    size_t n = 0;
    for (UINT i = 0; i < GetLevelCountConst(); ++i) n += bytes(i).size();
    return n;
  }
  UINT GetLevelCountConst() const { return levelCount_; }
  void setLevelCount(UINT n) { levelCount_ = n; }

 private:
  GLDevice* device_;
  GLuint name_ = 0;
  ULONG refs_ = 1;
  UINT levelCount_ = 1;
};

class GLDevice : public Direct3DDevice8 {
 public:
  GLDevice(UINT adapter, SDL_Window* window, DWORD behaviour)
      : adapter_(adapter), window_(window), windowId_(SDL_GetWindowID(window)) {
    (void)behaviour;
  }

  HRESULT initialise(const D3DPRESENT_PARAMETERS& params) {
    context_ = SDL_GL_CreateContext(window_);
    if (!context_) {
      std::fprintf(stderr, "aquaveil: no OpenGL 3.3 context: %s\n", SDL_GetError());
      return D3DERR_NOTAVAILABLE;
    }
    if (!makeCurrent()) return D3DERR_NOTAVAILABLE;
    // The general program, every switch a uniform: if it builds here, every
    // specialised one does.
    const Program general = buildProgram(std::string());
    if (!general.id) return D3DERR_NOTAVAILABLE;
    glDeleteProgram(general.id);
    glGenVertexArrays(1, &vao_);
    glBindVertexArray(vao_);
    glGenBuffers(1, &vbo_);
    glGenBuffers(1, &ebo_);
    glGenSamplers(kStages, samplers_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    // Direct3D's flat shading takes the first vertex of each triangle.
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    return applyParams(params);
  }

  ~GLDevice() override {
    for (GLTexture* t : textures_) t->deviceGone();
    if (context_ && !makeCurrent()) {
      // Without its window the context goes with everything in it.
      SDL_GL_DeleteContext(context_);
      context_ = nullptr;
    }
    if (context_) {
      if (fbo_) glDeleteFramebuffers(1, &fbo_);
      if (colour_) glDeleteRenderbuffers(1, &colour_);
      if (depth_) glDeleteRenderbuffers(1, &depth_);
      for (auto& [key, program] : programs_) glDeleteProgram(program.id);
      if (vbo_) glDeleteBuffers(1, &vbo_);
      if (ebo_) glDeleteBuffers(1, &ebo_);
      if (vao_) glDeleteVertexArrays(1, &vao_);
      glDeleteSamplers(kStages, samplers_);
      SDL_GL_MakeCurrent(window_, nullptr);
      SDL_GL_DeleteContext(context_);
      if (!params_.Windowed) SDL_SetWindowFullscreen(window_, 0);
    }
  }

  // The device window can be destroyed under the device (a preview whose
  // parent went away); from then on the device is lost for good.
  bool windowAlive() const { return SDL_GetWindowFromID(windowId_) == window_; }

  bool makeCurrent() {
    if (!windowAlive()) return false;
    if (SDL_GL_GetCurrentContext() != context_) SDL_GL_MakeCurrent(window_, context_);
    return true;
  }

  void forget(GLTexture* t) { textures_.erase(t); }

  // ---- IUnknown ----
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    if (refs_ == 0) return 0;
    if (--refs_ > 0) return refs_;
    for (int s = 0; s < kStages; ++s)
      if (bound_[s]) bound_[s]->Release();
    delete this;
    return 0;
  }

  HRESULT TestCooperativeLevel() override {
    if (!windowAlive()) return D3DERR_DEVICELOST;
    if (!params_.Windowed) {
      bool minimised = (SDL_GetWindowFlags(window_) & SDL_WINDOW_MINIMIZED) != 0;
      if (minimised) lost_ = true;
      if (lost_) return minimised ? D3DERR_DEVICELOST : D3DERR_DEVICENOTRESET;
    }
    return D3D_OK;
  }

  UINT GetAvailableTextureMem() override {
    size_t used = 0;
    for (GLTexture* t : textures_)
      if (t->pool() != D3DPOOL_SYSTEMMEM) used += t->byteSize();
    return used >= kTextureBudget ? 0 : static_cast<UINT>(kTextureBudget - used);
  }

  HRESULT GetDeviceCaps(D3DCAPS8* caps) override {
    if (!caps) return D3DERR_INVALIDCALL;
    *caps = openGLCaps(adapter_);
    return D3D_OK;
  }

  HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) override {
    SDL_DisplayMode m;
    int display = SDL_GetWindowDisplayIndex(window_);
    if (!mode || SDL_GetCurrentDisplayMode(display < 0 ? 0 : display, &m) != 0) return D3DERR_INVALIDCALL;
    *mode = D3DDISPLAYMODE{static_cast<UINT>(m.w), static_cast<UINT>(m.h), static_cast<UINT>(m.refresh_rate),
                           formatOfSdl(m.format)};
    return D3D_OK;
  }

  HRESULT Reset(D3DPRESENT_PARAMETERS* params) override {
    if (!params) return D3DERR_INVALIDCALL;
    for (GLTexture* t : textures_)
      if (t->pool() == D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;  // must be released first
    if (!makeCurrent()) return D3DERR_DEVICELOST;
    HRESULT hr = applyParams(*params);
    if (FAILED(hr)) return hr;
    lost_ = false;
    inScene_ = false;
    return D3D_OK;
  }

  HRESULT Present(const RECT*, const RECT*, HWND, const void*) override {
    if (lost_ || TestCooperativeLevel() == D3DERR_DEVICELOST || !makeCurrent()) return D3DERR_DEVICELOST;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window_, &w, &h);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    GLint bw = static_cast<GLint>(width_), bh = static_cast<GLint>(height_);
    // The back buffer's row 0 is the top: flip onto the window.
    glBlitFramebuffer(0, 0, bw, bh, 0, h, w, 0, GL_COLOR_BUFFER_BIT, (bw == w && bh == h) ? GL_NEAREST : GL_LINEAR);
    SDL_GL_SwapWindow(window_);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    return D3D_OK;
  }

  HRESULT BeginScene() override {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
  }

  HRESULT EndScene() override {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    if (makeCurrent()) glFlush();
    return D3D_OK;
  }

  HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD) override {
    if (count > 0 && !rects) return D3DERR_INVALIDCALL;
    if (!makeCurrent()) return D3DERR_DEVICELOST;
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    float c[4];
    colourOf(colour, c);
    glClearColor(c[0], c[1], c[2], c[3]);
    glClearDepth(z);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) mask |= GL_COLOR_BUFFER_BIT;
    if ((flags & D3DCLEAR_ZBUFFER) && depth_) mask |= GL_DEPTH_BUFFER_BIT;
    if (!mask) return D3D_OK;
    glEnable(GL_SCISSOR_TEST);
    RECT vp{static_cast<LONG>(viewport_.X), static_cast<LONG>(viewport_.Y),
            static_cast<LONG>(viewport_.X + viewport_.Width), static_cast<LONG>(viewport_.Y + viewport_.Height)};
    auto clearRect = [&](const RECT& r) {
      RECT x{std::max(r.left, vp.left), std::max(r.top, vp.top), std::min(r.right, vp.right),
             std::min(r.bottom, vp.bottom)};
      if (x.left >= x.right || x.top >= x.bottom) return;
      // Rows of the frame buffer object are Direct3D's rows.
      glScissor(x.left, x.top, x.right - x.left, x.bottom - x.top);
      glClear(mask);
    };
    if (count == 0)
      clearRect(vp);
    else
      for (DWORD i = 0; i < count; ++i) clearRect(rects[i]);
    glDisable(GL_SCISSOR_TEST);
    return D3D_OK;
  }

  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override {
    if (!matrix) return D3DERR_INVALIDCALL;
    if (state == D3DTS_WORLD)
      world_ = *matrix;
    else if (state == D3DTS_VIEW)
      view_ = *matrix;
    else if (state == D3DTS_PROJECTION)
      projection_ = *matrix;
    else
      return D3D_OK;  // texture transforms are not used
    return D3D_OK;
  }

  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override {
    if (!matrix) return D3DERR_INVALIDCALL;
    if (state == D3DTS_WORLD)
      *matrix = world_;
    else if (state == D3DTS_VIEW)
      *matrix = view_;
    else if (state == D3DTS_PROJECTION)
      *matrix = projection_;
    else
      *matrix = identity();
    return D3D_OK;
  }

  HRESULT SetViewport(const D3DVIEWPORT8* viewport) override {
    if (!viewport || viewport->Width == 0 || viewport->Height == 0 || viewport->X + viewport->Width > width_ ||
        viewport->Y + viewport->Height > height_)
      return D3DERR_INVALIDCALL;
    viewport_ = *viewport;
    return D3D_OK;
  }

  HRESULT GetViewport(D3DVIEWPORT8* viewport) override {
    if (!viewport) return D3DERR_INVALIDCALL;
    *viewport = viewport_;
    return D3D_OK;
  }

  HRESULT SetMaterial(const D3DMATERIAL8* material) override {
    if (!material) return D3DERR_INVALIDCALL;
    material_ = *material;
    return D3D_OK;
  }

  HRESULT GetMaterial(D3DMATERIAL8* material) override {
    if (!material) return D3DERR_INVALIDCALL;
    *material = material_;
    return D3D_OK;
  }

  HRESULT SetLight(DWORD index, const D3DLIGHT8* light) override {
    if (!light || index >= kLights) return D3DERR_INVALIDCALL;
    lights_[index] = *light;
    lightSet_[index] = true;
    return D3D_OK;
  }

  HRESULT GetLight(DWORD index, D3DLIGHT8* light) override {
    if (!light || index >= kLights || !lightSet_[index]) return D3DERR_INVALIDCALL;
    *light = lights_[index];
    return D3D_OK;
  }

  HRESULT LightEnable(DWORD index, BOOL enable) override {
    if (index >= kLights) return D3DERR_INVALIDCALL;
    if (!lightSet_[index]) {
      // Direct3D's default light: white, pointing along +z.
      lights_[index] = D3DLIGHT8{};
      lights_[index].Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
      lights_[index].Direction = D3DVECTOR(0.0f, 0.0f, 1.0f);
      lightSet_[index] = true;
    }
    lightOn_[index] = enable != FALSE;
    return D3D_OK;
  }

  HRESULT GetLightEnable(DWORD index, BOOL* enable) override {
    if (!enable || index >= kLights || !lightSet_[index]) return D3DERR_INVALIDCALL;
    *enable = lightOn_[index] ? TRUE : FALSE;
    return D3D_OK;
  }

  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
    if (state >= 256) return D3DERR_INVALIDCALL;
    renderStates_[state] = value;
    return D3D_OK;
  }

  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
    if (!value || state >= 256) return D3DERR_INVALIDCALL;
    *value = renderStates_[state];
    return D3D_OK;
  }

  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
    if (stage >= 8 || type >= 32) return D3DERR_INVALIDCALL;
    stageStates_[stage][type] = value;
    return D3D_OK;
  }

  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override {
    if (!value || stage >= 8 || type >= 32) return D3DERR_INVALIDCALL;
    *value = stageStates_[stage][type];
    return D3D_OK;
  }

  HRESULT SetTexture(DWORD stage, Direct3DTexture8* texture) override {
    if (stage >= 8) return D3DERR_INVALIDCALL;
    if (stage >= kStages) return texture ? D3DERR_INVALIDCALL : D3D_OK;
    auto* t = dynamic_cast<GLTexture*>(texture);
    if (texture && (!t || t->pool() == D3DPOOL_SYSTEMMEM || !textures_.count(t))) return D3DERR_INVALIDCALL;
    if (t) t->AddRef();
    if (bound_[stage]) bound_[stage]->Release();
    bound_[stage] = t;
    return D3D_OK;
  }

  HRESULT SetVertexShader(DWORD handle) override {
    fvf_ = handle;
    return D3D_OK;
  }

  HRESULT GetVertexShader(DWORD* handle) override {
    if (!handle) return D3DERR_INVALIDCALL;
    *handle = fvf_;
    return D3D_OK;
  }

  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        Direct3DTexture8** texture) override {
    if (texture) *texture = nullptr;
    GLFormat gf;
    if (!texture || width == 0 || height == 0 || width > 8192 || height > 8192 || !glFormatOf(format, &gf) ||
        (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) || pool > D3DPOOL_SYSTEMMEM)
      return D3DERR_INVALIDCALL;
    auto* t = new GLTexture(this, width, height, levels, usage, format, pool);
    t->setLevelCount(t->GetLevelCount());
    if (pool != D3DPOOL_SYSTEMMEM) {
      if (static_cast<size_t>(GetAvailableTextureMem()) < t->byteSize()) {
        delete t;
        return D3DERR_OUTOFVIDEOMEMORY;
      }
      if (!makeCurrent() || !t->createGL()) {
        delete t;
        return D3DERR_OUTOFVIDEOMEMORY;
      }
    }
    textures_.insert(t);
    *texture = t;
    return D3D_OK;
  }

  HRESULT UpdateTexture(Direct3DTexture8* source, Direct3DTexture8* destination) override {
    auto* src = dynamic_cast<GLTexture*>(source);
    auto* dst = dynamic_cast<GLTexture*>(destination);
    if (!src || !dst || !textures_.count(src) || !textures_.count(dst) || src->pool() != D3DPOOL_SYSTEMMEM ||
        dst->pool() != D3DPOOL_DEFAULT || src->format() != dst->format() || src->width() != dst->width() ||
        src->height() != dst->height() || src->GetLevelCount() < dst->GetLevelCount() || src->locked())
      return D3DERR_INVALIDCALL;
    for (UINT i = 0; i < dst->GetLevelCount(); ++i) dst->bytes(i) = src->bytes(i);
    if (makeCurrent()) dst->uploadAll();
    return D3D_OK;
  }

  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                          UINT vertexStride) override {
    UINT count = primitiveIndexCount(type, primitiveCount);
    if (!inScene_ || !vertexData || count == 0 || vertexStride == 0) return D3DERR_INVALIDCALL;
    if (!makeCurrent()) return D3DERR_DEVICELOST;
    if (!prepare(vertexData, count, vertexStride)) return D3DERR_INVALIDCALL;
    glDrawArrays(primitiveMode(type), 0, static_cast<GLsizei>(count));
    return D3D_OK;
  }

  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices, UINT primitiveCount,
                                 const void* indexData, D3DFORMAT indexFormat, const void* vertexData,
                                 UINT vertexStride) override {
    UINT count = primitiveIndexCount(type, primitiveCount);
    if (!inScene_ || !vertexData || !indexData || count == 0 || vertexStride == 0 || numVertices == 0 ||
        (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32))
      return D3DERR_INVALIDCALL;
    // Indices outside the range named would read beyond the caller's
    // vertices.
    UINT end = minVertexIndex + numVertices;
    for (UINT i = 0; i < count; ++i) {
      UINT index = indexFormat == D3DFMT_INDEX32 ? static_cast<const uint32_t*>(indexData)[i]
                                                 : static_cast<const uint16_t*>(indexData)[i];
      if (index < minVertexIndex || index >= end) return D3DERR_INVALIDCALL;
    }
    if (!makeCurrent()) return D3DERR_DEVICELOST;
    if (!prepare(vertexData, end, vertexStride)) return D3DERR_INVALIDCALL;
    size_t indexBytes = static_cast<size_t>(count) * (indexFormat == D3DFMT_INDEX32 ? 4 : 2);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ebo_);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indexBytes), indexData, GL_STREAM_DRAW);
    glDrawElements(primitiveMode(type), static_cast<GLsizei>(count),
                   indexFormat == D3DFMT_INDEX32 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT, nullptr);
    return D3D_OK;
  }

  HRESULT readBackBuffer(std::vector<DWORD>* pixels, UINT* width, UINT* height) override {
    if (!pixels || !width || !height) return D3DERR_INVALIDCALL;
    if (!makeCurrent()) return D3DERR_DEVICELOST;
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    *width = width_;
    *height = height_;
    pixels->assign(static_cast<size_t>(width_) * height_, 0);
    // Rows come from the bottom of OpenGL's frame buffer, which holds
    // Direct3D's top row.
    glReadPixels(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_BGRA,
                 GL_UNSIGNED_INT_8_8_8_8_REV, pixels->data());
    return glGetError() == GL_NO_ERROR ? D3D_OK : D3DERR_DRIVERINTERNALERROR;
  }

 private:
  void resetStates() {
    for (DWORD s = 0; s < 256; ++s) renderStates_[s] = defaultRenderState(static_cast<D3DRENDERSTATETYPE>(s));
    for (DWORD stage = 0; stage < 8; ++stage)
      for (DWORD t = 0; t < 32; ++t)
        stageStates_[stage][t] = defaultTextureStageState(stage, static_cast<D3DTEXTURESTAGESTATETYPE>(t));
    world_ = view_ = projection_ = identity();
    material_ = D3DMATERIAL8{};
    for (int i = 0; i < kLights; ++i) {
      lightSet_[i] = false;
      lightOn_[i] = false;
    }
    for (int s = 0; s < kStages; ++s) {
      if (bound_[s]) bound_[s]->Release();
      bound_[s] = nullptr;
    }
    fvf_ = 0;
    viewport_ = D3DVIEWPORT8{0, 0, width_, height_, 0.0f, 1.0f};
  }

  HRESULT applyParams(const D3DPRESENT_PARAMETERS& params) {
    if (params.Windowed) {
      SDL_SetWindowFullscreen(window_, 0);
    } else {
      int display = static_cast<int>(adapter_);
      SDL_DisplayMode want{sdlOfFormat(params.BackBufferFormat), static_cast<int>(params.BackBufferWidth),
                           static_cast<int>(params.BackBufferHeight),
                           static_cast<int>(params.FullScreen_RefreshRateInHz), nullptr};
      SDL_DisplayMode closest;
      if (!SDL_GetClosestDisplayMode(display, &want, &closest)) return D3DERR_NOTAVAILABLE;
      SDL_Rect bounds;
      if (SDL_GetDisplayBounds(display, &bounds) == 0) SDL_SetWindowPosition(window_, bounds.x, bounds.y);
      if (SDL_SetWindowDisplayMode(window_, &closest) != 0 ||
          SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN) != 0) {
        std::fprintf(stderr, "aquaveil: cannot switch the display mode: %s\n", SDL_GetError());
        return D3DERR_NOTAVAILABLE;
      }
    }
    params_ = params;
    width_ = params.BackBufferWidth;
    height_ = params.BackBufferHeight;
    if (params.Windowed && (width_ == 0 || height_ == 0)) {
      int w = 0, h = 0;
      SDL_GetWindowSize(window_, &w, &h);
      if (width_ == 0) width_ = static_cast<UINT>(std::max(w, 1));
      if (height_ == 0) height_ = static_cast<UINT>(std::max(h, 1));
    }
    if (width_ == 0 || height_ == 0 || width_ > 16384 || height_ > 16384) return D3DERR_INVALIDCALL;
    bool alpha = params.BackBufferFormat == D3DFMT_A8R8G8B8 || params.BackBufferFormat == D3DFMT_A1R5G5B5;
    if (!fbo_) glGenFramebuffers(1, &fbo_);
    if (!colour_) glGenRenderbuffers(1, &colour_);
    glBindRenderbuffer(GL_RENDERBUFFER, colour_);
    glRenderbufferStorage(GL_RENDERBUFFER, alpha ? GL_RGBA8 : GL_RGB8, static_cast<GLsizei>(width_),
                          static_cast<GLsizei>(height_));
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    if (params.EnableAutoDepthStencil) {
      if (!depth_) glGenRenderbuffers(1, &depth_);
      glBindRenderbuffer(GL_RENDERBUFFER, depth_);
      glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, static_cast<GLsizei>(width_),
                            static_cast<GLsizei>(height_));
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth_);
    } else {
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
      if (depth_) glDeleteRenderbuffers(1, &depth_);
      depth_ = 0;
    }
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return D3DERR_OUTOFVIDEOMEMORY;
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    UINT interval = params.FullScreen_PresentationInterval;
    SDL_GL_SetSwapInterval(params.Windowed || interval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
    resetStates();
    return D3D_OK;
  }

  DWORD rs(D3DRENDERSTATETYPE s) const { return renderStates_[s]; }
  DWORD ts(int stage, D3DTEXTURESTAGESTATETYPE t) const { return stageStates_[stage][t]; }

  // What a vertex format carries, as a draw's states need it.
  struct VertexLayout {
    bool pretransformed = false;
    bool hasDiffuse = false;
    bool hasSpecular = false;
  };

  // A uniform of the program in use; -1 (which OpenGL ignores) for a
  // switch that program has as a constant.
  GLint loc(const char* name) {
    auto it = program_->locations.find(name);
    if (it != program_->locations.end()) return it->second;
    GLint l = glGetUniformLocation(program_->id, name);
    program_->locations[name] = l;
    return l;
  }

  // A program with its uniforms' places.
  struct Program {
    GLuint id = 0;
    // Keyed by the name's address: every call site passes its own literal.
    std::map<const char*, GLint> locations;
  };

  // The fixed-function switches a specialised program has as constants:
  // their values in the order of kSwitches, two for a per-stage switch.
  struct Switch {
    const char* name;  // the shader's FIXED_ macro
    bool boolean;
    int values;
  };
  static constexpr Switch kSwitches[] = {
      {"FIXED_PRETRANSFORMED", true, 1},
      {"FIXED_LIGHTING", true, 1},
      {"FIXED_HAS_DIFFUSE", true, 1},
      {"FIXED_HAS_SPECULAR", true, 1},
      {"FIXED_COLOR_VERTEX", true, 1},
      {"FIXED_LOCAL_VIEWER", true, 1},
      {"FIXED_NORMALIZE", true, 1},
      {"FIXED_SPECULAR", true, 1},
      {"FIXED_DIFFUSE_SOURCE", false, 1},
      {"FIXED_SPECULAR_SOURCE", false, 1},
      {"FIXED_AMBIENT_SOURCE", false, 1},
      {"FIXED_EMISSIVE_SOURCE", false, 1},
      {"FIXED_HAS_TEX", true, 2},
      {"FIXED_TEX_INDEX", false, 2},
      {"FIXED_COLOR_OP", false, 2},
      {"FIXED_COLOR_ARG1", false, 2},
      {"FIXED_COLOR_ARG2", false, 2},
      {"FIXED_ALPHA_OP", false, 2},
      {"FIXED_ALPHA_ARG1", false, 2},
      {"FIXED_ALPHA_ARG2", false, 2},
      {"FIXED_ALPHA_TEST", true, 1},
      {"FIXED_ALPHA_FUNC", false, 1},
      {"FIXED_FLAT", true, 1},
  };
  static constexpr size_t kSwitchValues = [] {
    size_t n = 0;
    for (const Switch& s : kSwitches) n += static_cast<size_t>(s.values);
    return n;
  }();
  using ProgramKey = std::array<uint32_t, kSwitchValues>;

  // This draw's switches.
  ProgramKey programKey(const VertexLayout& v) const {
    ProgramKey key{};
    size_t at = 0;
    auto put = [&](uint32_t value) { key[at++] = value; };
    auto stages = [&](D3DTEXTURESTAGESTATETYPE t, DWORD mask) {
      put(ts(0, t) & mask);
      put(ts(1, t) & mask);
    };
    put(v.pretransformed);
    put(rs(D3DRS_LIGHTING) != 0 && !v.pretransformed);
    put(v.hasDiffuse);
    put(v.hasSpecular);
    put(rs(D3DRS_COLORVERTEX) != 0);
    put(rs(D3DRS_LOCALVIEWER) != 0);
    put(rs(D3DRS_NORMALIZENORMALS) != 0);
    put(rs(D3DRS_SPECULARENABLE) != 0);
    put(rs(D3DRS_DIFFUSEMATERIALSOURCE));
    put(rs(D3DRS_SPECULARMATERIALSOURCE));
    put(rs(D3DRS_AMBIENTMATERIALSOURCE));
    put(rs(D3DRS_EMISSIVEMATERIALSOURCE));
    put(bound_[0] && bound_[0]->name());
    put(bound_[1] && bound_[1]->name());
    stages(D3DTSS_TEXCOORDINDEX, 0xFFFF);
    stages(D3DTSS_COLOROP, ~0u);
    stages(D3DTSS_COLORARG1, ~0u);
    stages(D3DTSS_COLORARG2, ~0u);
    stages(D3DTSS_ALPHAOP, ~0u);
    stages(D3DTSS_ALPHAARG1, ~0u);
    stages(D3DTSS_ALPHAARG2, ~0u);
    put(rs(D3DRS_ALPHATESTENABLE) != 0);
    put(rs(D3DRS_ALPHAFUNC));
    put(rs(D3DRS_SHADEMODE) == D3DSHADE_FLAT);
    assert(at == key.size());  // one value for each of kSwitches' places
    return key;
  }

  // The #defines that turn the switches of `key` into constants.
  static std::string specialisation(const ProgramKey& key) {
    std::string h = "#define FIXED_STATE 1\n";
    size_t at = 0;
    for (const Switch& s : kSwitches) {
      h += std::string("#define ") + s.name + " ";
      for (int i = 0; i < s.values; ++i, ++at) {
        if (i > 0) h += ", ";
        h += s.boolean ? (key[at] ? "true" : "false") : std::to_string(static_cast<int32_t>(key[at]));
      }
      h += "\n";
    }
    return h;
  }

  // A program built from the shaders after `header` (empty: the general
  // program, every switch a uniform); id 0 when it does not build.
  static Program buildProgram(const std::string& header) {
    const std::string vsText = "#version 330 core\n" + header + kVertexShader;
    const std::string fsText = "#version 330 core\n" + header + kFragmentShader;
    GLuint vs = compile(GL_VERTEX_SHADER, vsText.c_str()), fs = compile(GL_FRAGMENT_SHADER, fsText.c_str());
    if (!vs || !fs) {
      if (vs) glDeleteShader(vs);
      if (fs) glDeleteShader(fs);
      return Program{};
    }
    GLuint id = glCreateProgram();
    glAttachShader(id, vs);
    glAttachShader(id, fs);
    glLinkProgram(id);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(id, GL_LINK_STATUS, &ok);
    if (!ok) {
      char log[2048];
      glGetProgramInfoLog(id, sizeof log, nullptr, log);
      std::fprintf(stderr, "aquaveil: shader program: %s\n", log);
      glDeleteProgram(id);
      return Program{};
    }
    glUseProgram(id);
    glUniform1i(glGetUniformLocation(id, "uTex0"), 0);
    glUniform1i(glGetUniformLocation(id, "uTex1"), 1);
    Program program;
    program.id = id;
    return program;
  }

  // Makes the program for this draw's fixed-function switches current,
  // building it on first use.  A software rasteriser runs every branch of a
  // shader whose branches hang on uniforms, for every pixel; with the
  // switches as constants the compiler keeps only the path taken.  A scene
  // uses a handful of combinations.
  bool useProgramFor(const VertexLayout& v) {
    const ProgramKey key = programKey(v);
    auto found = programs_.find(key);
    if (found == programs_.end()) {
      Program built = buildProgram(specialisation(key));
      if (!built.id) return false;
      found = programs_.emplace(key, std::move(built)).first;
    }
    Program* program = &found->second;
    if (program != program_) glUseProgram(program->id);
    program_ = program;
    return true;
  }

  // Sets every state a draw depends on, in four stages: the vertices and
  // their attributes, the transforms and lights, the texture stages and the
  // raster state.  False for a vertex format the device can't draw.
  bool prepare(const void* vertexData, UINT vertexCount, UINT stride) {
    const std::optional<VertexLayout> layout = uploadVertices(vertexData, vertexCount, stride);
    if (!layout || !useProgramFor(*layout)) return false;
    setTransformsAndLights(*layout);
    setTextureStages();
    setRasterState();
    return true;
  }

  // Uploads the vertices and points the attributes at them; an element the
  // format lacks gets Direct3D's value for it.
  std::optional<VertexLayout> uploadVertices(const void* vertexData, UINT vertexCount, UINT stride) {
    const DWORD fvf = fvf_;
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position != D3DFVF_XYZ && position != D3DFVF_XYZRHW) return std::nullopt;
    if (fvf & 0xFFFF0000u) return std::nullopt;  // only two-component texture coordinates
    if (vertexSizeOfFVF(fvf) > stride) return std::nullopt;
    VertexLayout v;
    v.pretransformed = position == D3DFVF_XYZRHW;
    v.hasDiffuse = (fvf & D3DFVF_DIFFUSE) != 0;
    v.hasSpecular = (fvf & D3DFVF_SPECULAR) != 0;
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vbo_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(static_cast<size_t>(vertexCount) * stride), vertexData,
                 GL_STREAM_DRAW);
    size_t offset = 0;
    auto attribute = [&](GLuint index, GLint size, GLenum type, GLboolean normalised, size_t bytes) {
      glEnableVertexAttribArray(index);
      glVertexAttribPointer(index, size, type, normalised, static_cast<GLsizei>(stride),
                            reinterpret_cast<const void*>(offset));
      offset += bytes;
    };
    auto absent = [&](GLuint index, float x, float y, float z, float w) {
      glDisableVertexAttribArray(index);
      glVertexAttrib4f(index, x, y, z, w);
    };
    if (v.pretransformed)
      attribute(0, 4, GL_FLOAT, GL_FALSE, 16);
    else
      attribute(0, 3, GL_FLOAT, GL_FALSE, 12);
    if (fvf & D3DFVF_NORMAL)
      attribute(1, 3, GL_FLOAT, GL_FALSE, 12);
    else
      absent(1, 0, 0, 0, 0);
    if (fvf & D3DFVF_PSIZE) offset += 4;
    // Packed 0xAARRGGBB colours are the bytes B, G, R, A: OpenGL's BGRA.
    if (v.hasDiffuse)
      attribute(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4);
    else
      absent(2, 1, 1, 1, 1);
    if (v.hasSpecular)
      attribute(3, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4);
    else
      absent(3, 0, 0, 0, 0);
    DWORD sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    for (GLuint s = 0; s < 2; ++s) {
      if (s < sets)
        attribute(4 + s, 2, GL_FLOAT, GL_FALSE, 8);
      else
        absent(4 + s, 0, 0, 0, 1);
    }
    return v;
  }

  // The viewport, the matrices, the material and the directional lights.
  void setTransformsAndLights(const VertexLayout& v) {
    glViewport(static_cast<GLint>(viewport_.X), static_cast<GLint>(viewport_.Y), static_cast<GLsizei>(viewport_.Width),
               static_cast<GLsizei>(viewport_.Height));
    glDepthRange(viewport_.MinZ, viewport_.MaxZ);
    glUniform4f(loc("uViewport"), static_cast<float>(viewport_.X), static_cast<float>(viewport_.Y),
                static_cast<float>(viewport_.Width), static_cast<float>(viewport_.Height));
    glUniform1i(loc("uPretransformed"), v.pretransformed);

    D3DMATRIX worldView = multiply(world_, view_);
    glUniformMatrix4fv(loc("uWorldView"), 1, GL_FALSE, &worldView.m[0][0]);
    glUniformMatrix4fv(loc("uProj"), 1, GL_FALSE, &projection_.m[0][0]);
    float normalMatrix[9];
    normalMatrixOf(worldView, normalMatrix);
    glUniformMatrix3fv(loc("uNormalMatrix"), 1, GL_FALSE, normalMatrix);

    bool lighting = rs(D3DRS_LIGHTING) != 0 && !v.pretransformed;
    glUniform1i(loc("uLighting"), lighting);
    glUniform1i(loc("uHasDiffuse"), v.hasDiffuse);
    glUniform1i(loc("uHasSpecular"), v.hasSpecular);
    glUniform1i(loc("uColorVertex"), rs(D3DRS_COLORVERTEX) != 0);
    glUniform1i(loc("uLocalViewer"), rs(D3DRS_LOCALVIEWER) != 0);
    glUniform1i(loc("uNormalize"), rs(D3DRS_NORMALIZENORMALS) != 0);
    bool specular = rs(D3DRS_SPECULARENABLE) != 0;
    glUniform1i(loc("uSpecularEnable"), specular);
    glUniform1i(loc("uDiffuseSource"), static_cast<GLint>(rs(D3DRS_DIFFUSEMATERIALSOURCE)));
    glUniform1i(loc("uSpecularSource"), static_cast<GLint>(rs(D3DRS_SPECULARMATERIALSOURCE)));
    glUniform1i(loc("uAmbientSource"), static_cast<GLint>(rs(D3DRS_AMBIENTMATERIALSOURCE)));
    glUniform1i(loc("uEmissiveSource"), static_cast<GLint>(rs(D3DRS_EMISSIVEMATERIALSOURCE)));
    glUniform4fv(loc("uMatDiffuse"), 1, &material_.Diffuse.r);
    glUniform4fv(loc("uMatAmbient"), 1, &material_.Ambient.r);
    glUniform4fv(loc("uMatSpecular"), 1, &material_.Specular.r);
    glUniform4fv(loc("uMatEmissive"), 1, &material_.Emissive.r);
    glUniform1f(loc("uMatPower"), material_.Power);
    float ambient[4];
    colourOf(rs(D3DRS_AMBIENT), ambient);
    glUniform4fv(loc("uAmbient"), 1, ambient);

    // Directional lights only; the direction goes to camera space and is
    // turned to point at the light.
    float dirs[kLights * 3], diffuse[kLights * 4], spec[kLights * 4], amb[kLights * 4];
    int count = 0;
    for (int i = 0; i < kLights; ++i) {
      if (!lightOn_[i] || lights_[i].Type != D3DLIGHT_DIRECTIONAL) continue;
      const D3DLIGHT8& l = lights_[i];
      float d[3];
      for (int c = 0; c < 3; ++c)
        d[c] = l.Direction.x * view_.m[0][c] + l.Direction.y * view_.m[1][c] + l.Direction.z * view_.m[2][c];
      float len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      if (!(len > 0.0f)) continue;
      for (int c = 0; c < 3; ++c) dirs[count * 3 + c] = -d[c] / len;
      std::memcpy(&diffuse[count * 4], &l.Diffuse.r, sizeof(float) * 4);
      std::memcpy(&spec[count * 4], &l.Specular.r, sizeof(float) * 4);
      std::memcpy(&amb[count * 4], &l.Ambient.r, sizeof(float) * 4);
      ++count;
    }
    glUniform1i(loc("uLightCount"), count);
    if (count) {
      glUniform3fv(loc("uLightDir"), count, dirs);
      glUniform4fv(loc("uLightDiffuse"), count, diffuse);
      glUniform4fv(loc("uLightSpecular"), count, spec);
      glUniform4fv(loc("uLightAmbient"), count, amb);
    }
  }

  // Each stage's texture, sampler, operations and arguments.
  void setTextureStages() {
    GLint hasTex[kStages], texIndex[kStages], colorOp[kStages], colorArg1[kStages], colorArg2[kStages],
        alphaOp[kStages], alphaArg1[kStages], alphaArg2[kStages];
    for (int s = 0; s < kStages; ++s) {
      GLTexture* t = bound_[s];
      hasTex[s] = t && t->name() ? 1 : 0;
      texIndex[s] = static_cast<GLint>(ts(s, D3DTSS_TEXCOORDINDEX) & 0xFFFF);
      colorOp[s] = static_cast<GLint>(ts(s, D3DTSS_COLOROP));
      colorArg1[s] = static_cast<GLint>(ts(s, D3DTSS_COLORARG1));
      colorArg2[s] = static_cast<GLint>(ts(s, D3DTSS_COLORARG2));
      alphaOp[s] = static_cast<GLint>(ts(s, D3DTSS_ALPHAOP));
      alphaArg1[s] = static_cast<GLint>(ts(s, D3DTSS_ALPHAARG1));
      alphaArg2[s] = static_cast<GLint>(ts(s, D3DTSS_ALPHAARG2));
      glActiveTexture(GL_TEXTURE0 + s);
      glBindTexture(GL_TEXTURE_2D, hasTex[s] ? t->name() : 0);
      glBindSampler(static_cast<GLuint>(s), samplers_[s]);
      setSampler(s, t);
    }
    glActiveTexture(GL_TEXTURE0);
    glUniform1iv(loc("uHasTex"), kStages, hasTex);
    glUniform1iv(loc("uTexIndex"), kStages, texIndex);
    glUniform1iv(loc("uColorOp"), kStages, colorOp);
    glUniform1iv(loc("uColorArg1"), kStages, colorArg1);
    glUniform1iv(loc("uColorArg2"), kStages, colorArg2);
    glUniform1iv(loc("uAlphaOp"), kStages, alphaOp);
    glUniform1iv(loc("uAlphaArg1"), kStages, alphaArg1);
    glUniform1iv(loc("uAlphaArg2"), kStages, alphaArg2);
    float factor[4];
    colourOf(rs(D3DRS_TEXTUREFACTOR), factor);
    glUniform4fv(loc("uTFactor"), 1, factor);
    glUniform1i(loc("uFlat"), rs(D3DRS_SHADEMODE) == D3DSHADE_FLAT);
    glUniform1i(loc("uAlphaTest"), rs(D3DRS_ALPHATESTENABLE) != 0);
    glUniform1i(loc("uAlphaFunc"), static_cast<GLint>(rs(D3DRS_ALPHAFUNC)));
    glUniform1f(loc("uAlphaRef"), static_cast<float>(rs(D3DRS_ALPHAREF) & 0xFF) / 255.0f);
  }

  // Blending, culling, depth, colour writes and fill mode.
  void setRasterState() {
    if (rs(D3DRS_ALPHABLENDENABLE)) {
      glEnable(GL_BLEND);
      glBlendFunc(blendFactor(rs(D3DRS_SRCBLEND), true), blendFactor(rs(D3DRS_DESTBLEND), false));
      switch (rs(D3DRS_BLENDOP)) {
        case 2: glBlendEquation(GL_FUNC_SUBTRACT); break;
        case 3: glBlendEquation(GL_FUNC_REVERSE_SUBTRACT); break;
        case 4: glBlendEquation(GL_MIN); break;
        case 5: glBlendEquation(GL_MAX); break;
        default: glBlendEquation(GL_FUNC_ADD); break;
      }
    } else {
      glDisable(GL_BLEND);
    }
    // Frame buffer rows are Direct3D's rows, so a triangle Direct3D sees
    // clockwise on screen has OpenGL's counter-clockwise (front) winding.
    switch (rs(D3DRS_CULLMODE)) {
      case D3DCULL_CW:
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(GL_FRONT);
        break;
      case D3DCULL_CCW:
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(GL_BACK);
        break;
      default: glDisable(GL_CULL_FACE); break;
    }
    if (depth_ && rs(D3DRS_ZENABLE)) {
      glEnable(GL_DEPTH_TEST);
      glDepthFunc(compareFunc(rs(D3DRS_ZFUNC)));
      glDepthMask(rs(D3DRS_ZWRITEENABLE) ? GL_TRUE : GL_FALSE);
    } else {
      glDisable(GL_DEPTH_TEST);
    }
    DWORD write = rs(D3DRS_COLORWRITEENABLE);
    glColorMask(write & 1, (write >> 1) & 1, (write >> 2) & 1, (write >> 3) & 1);
    glPolygonMode(GL_FRONT_AND_BACK, rs(D3DRS_FILLMODE) == D3DFILL_WIREFRAME ? GL_LINE
                                     : rs(D3DRS_FILLMODE) == D3DFILL_POINT   ? GL_POINT
                                                                             : GL_FILL);
  }

  void setSampler(int stage, GLTexture* t) {
    GLuint sampler = samplers_[stage];
    DWORD mag = ts(stage, D3DTSS_MAGFILTER), min = ts(stage, D3DTSS_MINFILTER), mip = ts(stage, D3DTSS_MIPFILTER);
    bool mips = t && t->GetLevelCount() > 1;
    GLenum minFilter;
    bool linear = min >= D3DTEXF_LINEAR;
    if (!mips || mip == D3DTEXF_NONE)
      minFilter = linear ? GL_LINEAR : GL_NEAREST;
    else if (mip == D3DTEXF_POINT)
      minFilter = linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    else
      minFilter = linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(minFilter));
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, mag >= D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, static_cast<GLint>(addressMode(ts(stage, D3DTSS_ADDRESSU))));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, static_cast<GLint>(addressMode(ts(stage, D3DTSS_ADDRESSV))));
    float border[4];
    colourOf(ts(stage, D3DTSS_BORDERCOLOR), border);
    glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
  }

  // The inverse transpose of the world-view matrix's upper 3 x 3, in the
  // same row-vector layout as the matrices.
  static void normalMatrixOf(const D3DMATRIX& m, float out[9]) {
    float a = m._11, b = m._12, c = m._13, d = m._21, e = m._22, f = m._23, g = m._31, h = m._32, i = m._33;
    float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
    float D = -(b * i - c * h), E = a * i - c * g, F = -(a * h - b * g);
    float G = b * f - c * e, H = -(a * f - c * d), I = a * e - b * d;
    float det = a * A + b * B + c * C;
    if (std::fabs(det) < 1e-20f) {
      const float id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
      std::memcpy(out, id, sizeof id);
      return;
    }
    // inverse = adjugate / det with adjugate = transpose of the cofactors;
    // its transpose is the cofactor matrix / det.
    float r = 1.0f / det;
    const float cof[9] = {A * r, B * r, C * r, D * r, E * r, F * r, G * r, H * r, I * r};
    std::memcpy(out, cof, sizeof cof);
  }

  ULONG refs_ = 1;
  UINT adapter_;
  SDL_Window* window_;
  Uint32 windowId_;
  SDL_GLContext context_ = nullptr;
  D3DPRESENT_PARAMETERS params_;
  UINT width_ = 0, height_ = 0;
  bool inScene_ = false;
  bool lost_ = false;
  GLuint vao_ = 0, vbo_ = 0, ebo_ = 0, fbo_ = 0, colour_ = 0, depth_ = 0;
  GLuint samplers_[kStages] = {};
  std::map<ProgramKey, Program> programs_;  // built on first use
  Program* program_ = nullptr;              // the one in use
  DWORD renderStates_[256] = {};
  DWORD stageStates_[8][32] = {};
  D3DMATRIX world_, view_, projection_;
  D3DMATERIAL8 material_;
  D3DLIGHT8 lights_[kLights];
  bool lightSet_[kLights] = {};
  bool lightOn_[kLights] = {};
  D3DVIEWPORT8 viewport_;
  GLTexture* bound_[kStages] = {};
  DWORD fvf_ = 0;
  std::set<GLTexture*> textures_;
};

ULONG GLTexture::Release() {
  if (refs_ == 0) return 0;
  if (--refs_ > 0) return refs_;
  if (device_) {
    device_->forget(this);
    if (name_ && device_->makeCurrent()) glDeleteTextures(1, &name_);
  }
  delete this;
  return 0;
}

HRESULT GLTexture::UnlockRect(UINT level) {
  HRESULT hr = MemoryTexture::UnlockRect(level);
  if (SUCCEEDED(hr) && pool() != D3DPOOL_SYSTEMMEM && device_ && name_ && device_->makeCurrent()) {
    upload(level);
  }
  return hr;
}

bool GLTexture::createGL() {
  GLFormat gf;
  if (!glFormatOf(format(), &gf)) return false;
  glGenTextures(1, &name_);
  glBindTexture(GL_TEXTURE_2D, name_);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(GetLevelCount()) - 1);
  if (gf.alphaOne) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
  if (gf.alphaOnly) {
    GLint swizzle[4] = {GL_ZERO, GL_ZERO, GL_ZERO, GL_RED};
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
  }
  GLenum internal = gf.alphaOnly ? GL_R8 : GL_RGBA8;
  for (UINT i = 0; i < GetLevelCount(); ++i)
    glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i), static_cast<GLint>(internal), static_cast<GLsizei>(width(i)),
                 static_cast<GLsizei>(height(i)), 0, gf.format, gf.type, bytes(i).data());
  bool ok = glGetError() == GL_NO_ERROR;
  glBindTexture(GL_TEXTURE_2D, 0);
  return ok;
}

void GLTexture::upload(UINT level) {
  GLFormat gf;
  if (!name_ || !glFormatOf(format(), &gf)) return;
  glBindTexture(GL_TEXTURE_2D, name_);
  glTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), 0, 0, static_cast<GLsizei>(width(level)),
                  static_cast<GLsizei>(height(level)), gf.format, gf.type, bytes(level).data());
  glBindTexture(GL_TEXTURE_2D, 0);
}

void GLTexture::uploadAll() {
  for (UINT i = 0; i < GetLevelCount(); ++i) upload(i);
}

// ---- the Direct3D object ------------------------------------------------------------

class GLDirect3D8 : public Direct3D8 {
 public:
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    if (refs_ == 0) return 0;
    if (--refs_ > 0) return refs_;
    delete this;
    return 0;
  }

  UINT GetAdapterCount() override {
    int n = SDL_GetNumVideoDisplays();
    return n > 0 ? static_cast<UINT>(n) : 0;
  }

  HRESULT GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER8* id) override {
    if (!id || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    *id = D3DADAPTER_IDENTIFIER8{};
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* name = SDL_GetDisplayName(static_cast<int>(adapter));
    std::snprintf(id->Driver, sizeof id->Driver, "OpenGL 3.3 on SDL %s", driver ? driver : "");
    std::snprintf(id->Description, sizeof id->Description, "%s", name && *name ? name : "Display");
    id->DeviceIdentifier = adapterGuid(static_cast<int>(adapter));
    return D3D_OK;
  }

  UINT GetAdapterModeCount(UINT adapter) override {
    if (adapter >= GetAdapterCount()) return 0;
    return static_cast<UINT>(adapterModes(static_cast<int>(adapter)).size());
  }

  HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* out) override {
    if (!out || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    std::vector<D3DDISPLAYMODE> modes = adapterModes(static_cast<int>(adapter));
    if (mode >= modes.size()) return D3DERR_INVALIDCALL;
    *out = modes[mode];
    return D3D_OK;
  }

  HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* out) override {
    SDL_DisplayMode m;
    if (!out || adapter >= GetAdapterCount() || SDL_GetDesktopDisplayMode(static_cast<int>(adapter), &m) != 0)
      return D3DERR_INVALIDCALL;
    *out = D3DDISPLAYMODE{static_cast<UINT>(m.w), static_cast<UINT>(m.h), static_cast<UINT>(m.refresh_rate),
                          formatOfSdl(m.format)};
    return D3D_OK;
  }

  HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT back, BOOL windowed) override {
    if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    if (windowed) {
      D3DDISPLAYMODE desktop;
      if (FAILED(GetAdapterDisplayMode(adapter, &desktop))) return D3DERR_INVALIDCALL;
      return display == desktop.Format && windowedBackBuffer(back) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    std::vector<D3DDISPLAYMODE> modes = adapterModes(static_cast<int>(adapter));
    bool listed = std::any_of(modes.begin(), modes.end(), [&](const D3DDISPLAYMODE& m) { return m.Format == display; });
    return listed && (back == display || isAlphaForm(display, back)) ? D3D_OK : D3DERR_NOTAVAILABLE;
  }

  HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT, DWORD usage, D3DRESOURCETYPE resourceType,
                            D3DFORMAT checkFormat) override {
    if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    GLFormat gf;
    if (type != D3DDEVTYPE_HAL || resourceType != D3DRTYPE_TEXTURE || !glFormatOf(checkFormat, &gf) ||
        (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)))
      return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }

  HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) override {
    if (!caps || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    *caps = openGLCaps(adapter);
    return D3D_OK;
  }

  HMONITOR GetAdapterMonitor(UINT adapter) override {
    return adapter < GetAdapterCount() ? sdlMonitorOfDisplay(static_cast<int>(adapter)) : 0;
  }

  HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour, D3DPRESENT_PARAMETERS* params,
                       Direct3DDevice8** device) override {
    if (device) *device = nullptr;
    if (!device || !params || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    DWORD processing = behaviour & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                    D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        processing != D3DCREATE_MIXED_VERTEXPROCESSING)
      return D3DERR_INVALIDCALL;
    if (params->BackBufferCount > 3 || params->MultiSampleType != D3DMULTISAMPLE_NONE) return D3DERR_INVALIDCALL;
    HWND windowHandle = params->hDeviceWindow ? params->hDeviceWindow : focusWindow;
    SDL_Window* window = sdlWindowOf(windowHandle);
    if (!window) return D3DERR_INVALIDCALL;
    if (params->Windowed) {
      D3DDISPLAYMODE desktop;
      GetAdapterDisplayMode(adapter, &desktop);
      D3DFORMAT back = params->BackBufferFormat == D3DFMT_UNKNOWN ? desktop.Format : params->BackBufferFormat;
      if (FAILED(CheckDeviceType(adapter, type, desktop.Format, back, TRUE))) return D3DERR_INVALIDCALL;
    } else if (FAILED(CheckDeviceType(adapter, type, params->BackBufferFormat, params->BackBufferFormat, FALSE))) {
      return D3DERR_INVALIDCALL;
    }
    auto* d = new GLDevice(adapter, window, behaviour);
    HRESULT hr = d->initialise(*params);
    if (FAILED(hr)) {
      d->Release();
      return hr;
    }
    *device = d;
    return D3D_OK;
  }

 private:
  ULONG refs_ = 1;
};

}  // namespace

namespace {
std::string& failureReason() {
  static std::string reason;
  return reason;
}
}  // namespace

Direct3D8* createOpenGLDirect3D8() {
  if (!ensureSdlVideo()) {
    // SDL's own words, kept from the first failure.
    if (failureReason().empty()) failureReason() = std::string("no display: ") + SDL_GetError();
    return nullptr;
  }
  return new GLDirect3D8;
}

const char* direct3DFailureReason() { return failureReason().c_str(); }

}  // namespace platform
