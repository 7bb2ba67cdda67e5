#pragma once
// Direct3D 8 as the shell and the scene use it: the published constants with
// their numeric values, the records (caps, adapter identifier, display mode,
// presentation parameters, light, material), and the Direct3D object, device
// and texture as abstract classes with the published method names and
// results.  Failures are negative HRESULTs.
//
// Direct3DCreate8(D3D_SDK_VERSION) asks the process-wide factory for the
// Direct3D object.  By default that is the SDL / OpenGL 3.3 back end, whose
// adapters are the SDL displays and whose HAL device renders with shaders
// that reproduce the fixed-function pipeline for the states listed in
// d3d8gl.cpp.  Tests install a ScriptedDirect3D8 (platform/testing/d3d8doubles.h)
// with setDirect3DFactory().
//
// Objects are reference counted as in COM: AddRef / Release, deleted when the
// count reaches 0.  Matrices are D3DXMATRIX (platform/d3dx.h): row-major,
// row vectors, v * World * View * Projection.
#include <functional>
#include <vector>

#include "platform/d3dx.h"
#include "platform/wintypes.h"

using HMONITOR = uintptr_t;
using ULONG = uint32_t;
using INT = int32_t;

// Direct3D's own matrix and vector are the same bytes as the extension
// library's, so the scene hands its D3DXMATRIX straight to SetTransform.
using D3DMATRIX = D3DXMATRIX;
using D3DVECTOR = D3DXVECTOR3;

struct GUID {
  DWORD Data1 = 0;
  WORD Data2 = 0;
  WORD Data3 = 0;
  BYTE Data4[8] = {};
  bool operator==(const GUID& o) const {
    for (int i = 0; i < 8; ++i)
      if (Data4[i] != o.Data4[i]) return false;
    return Data1 == o.Data1 && Data2 == o.Data2 && Data3 == o.Data3;
  }
  bool operator!=(const GUID& o) const { return !(*this == o); }
};
static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes");

inline constexpr UINT D3D_SDK_VERSION = 220;
inline constexpr UINT D3DADAPTER_DEFAULT = 0;
inline constexpr DWORD D3DENUM_NO_WHQL_LEVEL = 0x00000002;

// ---- results ---------------------------------------------------------------
inline constexpr HRESULT D3D_OK = 0;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT D3DERR_WRONGTEXTUREFORMAT = static_cast<HRESULT>(0x88760818u);
inline constexpr HRESULT D3DERR_UNSUPPORTEDCOLOROPERATION = static_cast<HRESULT>(0x88760819u);
inline constexpr HRESULT D3DERR_UNSUPPORTEDCOLORARG = static_cast<HRESULT>(0x8876081Au);
inline constexpr HRESULT D3DERR_UNSUPPORTEDALPHAOPERATION = static_cast<HRESULT>(0x8876081Bu);
inline constexpr HRESULT D3DERR_UNSUPPORTEDALPHAARG = static_cast<HRESULT>(0x8876081Cu);
inline constexpr HRESULT D3DERR_TOOMANYOPERATIONS = static_cast<HRESULT>(0x8876081Du);
inline constexpr HRESULT D3DERR_CONFLICTINGTEXTUREFILTER = static_cast<HRESULT>(0x8876081Eu);
inline constexpr HRESULT D3DERR_DRIVERINTERNALERROR = static_cast<HRESULT>(0x88760827u);
inline constexpr HRESULT D3DERR_NOTFOUND = static_cast<HRESULT>(0x88760866u);
inline constexpr HRESULT D3DERR_MOREDATA = static_cast<HRESULT>(0x88760867u);
inline constexpr HRESULT D3DERR_DEVICELOST = static_cast<HRESULT>(0x88760868u);
inline constexpr HRESULT D3DERR_DEVICENOTRESET = static_cast<HRESULT>(0x88760869u);
inline constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
inline constexpr HRESULT D3DERR_INVALIDDEVICE = static_cast<HRESULT>(0x8876086Bu);
inline constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);
inline constexpr HRESULT D3DERR_DRIVERINVALIDCALL = static_cast<HRESULT>(0x8876086Du);
inline constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017Cu);

// ---- enumerations ------------------------------------------------------------
enum D3DFORMAT : uint32_t {
  D3DFMT_UNKNOWN = 0,
  D3DFMT_R8G8B8 = 20,
  D3DFMT_A8R8G8B8 = 21,
  D3DFMT_X8R8G8B8 = 22,
  D3DFMT_R5G6B5 = 23,
  D3DFMT_X1R5G5B5 = 24,
  D3DFMT_A1R5G5B5 = 25,
  D3DFMT_A4R4G4B4 = 26,
  D3DFMT_R3G3B2 = 27,
  D3DFMT_A8 = 28,
  D3DFMT_A8R3G3B2 = 29,
  D3DFMT_X4R4G4B4 = 30,
  D3DFMT_D16_LOCKABLE = 70,
  D3DFMT_D32 = 71,
  D3DFMT_D15S1 = 73,
  D3DFMT_D24S8 = 75,
  D3DFMT_D16 = 80,
  D3DFMT_D24X8 = 77,
  D3DFMT_INDEX16 = 101,
  D3DFMT_INDEX32 = 102,
};

enum D3DDEVTYPE : uint32_t { D3DDEVTYPE_HAL = 1, D3DDEVTYPE_REF = 2, D3DDEVTYPE_SW = 3 };

enum D3DRESOURCETYPE : uint32_t {
  D3DRTYPE_SURFACE = 1,
  D3DRTYPE_VOLUME = 2,
  D3DRTYPE_TEXTURE = 3,
  D3DRTYPE_VOLUMETEXTURE = 4,
  D3DRTYPE_CUBETEXTURE = 5,
  D3DRTYPE_VERTEXBUFFER = 6,
  D3DRTYPE_INDEXBUFFER = 7,
};

enum D3DPOOL : uint32_t { D3DPOOL_DEFAULT = 0, D3DPOOL_MANAGED = 1, D3DPOOL_SYSTEMMEM = 2, D3DPOOL_SCRATCH = 3 };

enum D3DSWAPEFFECT : uint32_t {
  D3DSWAPEFFECT_DISCARD = 1,
  D3DSWAPEFFECT_FLIP = 2,
  D3DSWAPEFFECT_COPY = 3,
  D3DSWAPEFFECT_COPY_VSYNC = 4,
};

enum D3DMULTISAMPLE_TYPE : uint32_t { D3DMULTISAMPLE_NONE = 0 };

enum D3DRENDERSTATETYPE : uint32_t {
  D3DRS_ZENABLE = 7,
  D3DRS_FILLMODE = 8,
  D3DRS_SHADEMODE = 9,
  D3DRS_LINEPATTERN = 10,
  D3DRS_ZWRITEENABLE = 14,
  D3DRS_ALPHATESTENABLE = 15,
  D3DRS_LASTPIXEL = 16,
  D3DRS_SRCBLEND = 19,
  D3DRS_DESTBLEND = 20,
  D3DRS_CULLMODE = 22,
  D3DRS_ZFUNC = 23,
  D3DRS_ALPHAREF = 24,
  D3DRS_ALPHAFUNC = 25,
  D3DRS_DITHERENABLE = 26,
  D3DRS_ALPHABLENDENABLE = 27,
  D3DRS_FOGENABLE = 28,
  D3DRS_SPECULARENABLE = 29,
  D3DRS_ZVISIBLE = 30,
  D3DRS_FOGCOLOR = 34,
  D3DRS_FOGTABLEMODE = 35,
  D3DRS_FOGSTART = 36,
  D3DRS_FOGEND = 37,
  D3DRS_FOGDENSITY = 38,
  D3DRS_EDGEANTIALIAS = 40,
  D3DRS_ZBIAS = 47,
  D3DRS_RANGEFOGENABLE = 48,
  D3DRS_STENCILENABLE = 52,
  D3DRS_TEXTUREFACTOR = 60,
  D3DRS_WRAP0 = 128,
  D3DRS_CLIPPING = 136,
  D3DRS_LIGHTING = 137,
  D3DRS_AMBIENT = 139,
  D3DRS_FOGVERTEXMODE = 140,
  D3DRS_COLORVERTEX = 141,
  D3DRS_LOCALVIEWER = 142,
  D3DRS_NORMALIZENORMALS = 143,
  D3DRS_DIFFUSEMATERIALSOURCE = 145,
  D3DRS_SPECULARMATERIALSOURCE = 146,
  D3DRS_AMBIENTMATERIALSOURCE = 147,
  D3DRS_EMISSIVEMATERIALSOURCE = 148,
  D3DRS_VERTEXBLEND = 151,
  D3DRS_CLIPPLANEENABLE = 152,
  D3DRS_SOFTWAREVERTEXPROCESSING = 153,
  D3DRS_POINTSIZE = 154,
  D3DRS_MULTISAMPLEANTIALIAS = 161,
  D3DRS_COLORWRITEENABLE = 168,
  D3DRS_BLENDOP = 171,
};

enum D3DTEXTURESTAGESTATETYPE : uint32_t {
  D3DTSS_COLOROP = 1,
  D3DTSS_COLORARG1 = 2,
  D3DTSS_COLORARG2 = 3,
  D3DTSS_ALPHAOP = 4,
  D3DTSS_ALPHAARG1 = 5,
  D3DTSS_ALPHAARG2 = 6,
  D3DTSS_TEXCOORDINDEX = 11,
  D3DTSS_ADDRESSU = 13,
  D3DTSS_ADDRESSV = 14,
  D3DTSS_BORDERCOLOR = 15,
  D3DTSS_MAGFILTER = 16,
  D3DTSS_MINFILTER = 17,
  D3DTSS_MIPFILTER = 18,
  D3DTSS_MIPMAPLODBIAS = 19,
  D3DTSS_MAXMIPLEVEL = 20,
  D3DTSS_MAXANISOTROPY = 21,
  D3DTSS_TEXTURETRANSFORMFLAGS = 24,
  D3DTSS_ADDRESSW = 25,
  D3DTSS_COLORARG0 = 26,
  D3DTSS_ALPHAARG0 = 27,
  D3DTSS_RESULTARG = 28,
};

enum D3DTEXTUREOP : uint32_t {
  D3DTOP_DISABLE = 1,
  D3DTOP_SELECTARG1 = 2,
  D3DTOP_SELECTARG2 = 3,
  D3DTOP_MODULATE = 4,
  D3DTOP_MODULATE2X = 5,
  D3DTOP_MODULATE4X = 6,
  D3DTOP_ADD = 7,
  D3DTOP_ADDSIGNED = 8,
  D3DTOP_ADDSIGNED2X = 9,
  D3DTOP_SUBTRACT = 10,
  D3DTOP_ADDSMOOTH = 11,
  D3DTOP_BLENDDIFFUSEALPHA = 12,
  D3DTOP_BLENDTEXTUREALPHA = 13,
  D3DTOP_BLENDFACTORALPHA = 14,
  D3DTOP_BLENDTEXTUREALPHAPM = 15,
  D3DTOP_BLENDCURRENTALPHA = 16,
};

// Texture-stage arguments and modifiers
inline constexpr DWORD D3DTA_SELECTMASK = 0x0000000F;
inline constexpr DWORD D3DTA_DIFFUSE = 0x00000000;
inline constexpr DWORD D3DTA_CURRENT = 0x00000001;
inline constexpr DWORD D3DTA_TEXTURE = 0x00000002;
inline constexpr DWORD D3DTA_TFACTOR = 0x00000003;
inline constexpr DWORD D3DTA_SPECULAR = 0x00000004;
inline constexpr DWORD D3DTA_TEMP = 0x00000005;
inline constexpr DWORD D3DTA_COMPLEMENT = 0x00000010;
inline constexpr DWORD D3DTA_ALPHAREPLICATE = 0x00000020;

enum D3DTEXTUREADDRESS : uint32_t {
  D3DTADDRESS_WRAP = 1,
  D3DTADDRESS_MIRROR = 2,
  D3DTADDRESS_CLAMP = 3,
  D3DTADDRESS_BORDER = 4,
  D3DTADDRESS_MIRRORONCE = 5,
};

enum D3DTEXTUREFILTERTYPE : uint32_t {
  D3DTEXF_NONE = 0,
  D3DTEXF_POINT = 1,
  D3DTEXF_LINEAR = 2,
  D3DTEXF_ANISOTROPIC = 3,
};

enum D3DTRANSFORMSTATETYPE : uint32_t {
  D3DTS_VIEW = 2,
  D3DTS_PROJECTION = 3,
  D3DTS_TEXTURE0 = 16,
  D3DTS_WORLD = 256,
};
constexpr D3DTRANSFORMSTATETYPE D3DTS_WORLDMATRIX(uint32_t index) {
  return static_cast<D3DTRANSFORMSTATETYPE>(index + 256);
}

enum D3DPRIMITIVETYPE : uint32_t {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

enum D3DLIGHTTYPE : uint32_t { D3DLIGHT_POINT = 1, D3DLIGHT_SPOT = 2, D3DLIGHT_DIRECTIONAL = 3 };

enum D3DCMPFUNC : uint32_t {
  D3DCMP_NEVER = 1,
  D3DCMP_LESS = 2,
  D3DCMP_EQUAL = 3,
  D3DCMP_LESSEQUAL = 4,
  D3DCMP_GREATER = 5,
  D3DCMP_NOTEQUAL = 6,
  D3DCMP_GREATEREQUAL = 7,
  D3DCMP_ALWAYS = 8,
};

enum D3DCULL : uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };
enum D3DSHADEMODE : uint32_t { D3DSHADE_FLAT = 1, D3DSHADE_GOURAUD = 2, D3DSHADE_PHONG = 3 };
enum D3DFILLMODE : uint32_t { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };
enum D3DZBUFFERTYPE : uint32_t { D3DZB_FALSE = 0, D3DZB_TRUE = 1, D3DZB_USEW = 2 };
enum D3DMATERIALCOLORSOURCE : uint32_t { D3DMCS_MATERIAL = 0, D3DMCS_COLOR1 = 1, D3DMCS_COLOR2 = 2 };

enum D3DBLEND : uint32_t {
  D3DBLEND_ZERO = 1,
  D3DBLEND_ONE = 2,
  D3DBLEND_SRCCOLOR = 3,
  D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5,
  D3DBLEND_INVSRCALPHA = 6,
  D3DBLEND_DESTALPHA = 7,
  D3DBLEND_INVDESTALPHA = 8,
  D3DBLEND_DESTCOLOR = 9,
  D3DBLEND_INVDESTCOLOR = 10,
  D3DBLEND_SRCALPHASAT = 11,
  D3DBLEND_BOTHSRCALPHA = 12,
  D3DBLEND_BOTHINVSRCALPHA = 13,
};

// Device-creation behaviour flags
inline constexpr DWORD D3DCREATE_FPU_PRESERVE = 0x00000002;
inline constexpr DWORD D3DCREATE_MULTITHREADED = 0x00000004;
inline constexpr DWORD D3DCREATE_PUREDEVICE = 0x00000010;
inline constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x00000020;
inline constexpr DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x00000040;
inline constexpr DWORD D3DCREATE_MIXED_VERTEXPROCESSING = 0x00000080;

// Presentation
inline constexpr UINT D3DPRESENT_RATE_DEFAULT = 0;
inline constexpr UINT D3DPRESENT_INTERVAL_DEFAULT = 0x00000000;
inline constexpr UINT D3DPRESENT_INTERVAL_ONE = 0x00000001;
inline constexpr UINT D3DPRESENT_INTERVAL_TWO = 0x00000002;
inline constexpr UINT D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000;
inline constexpr DWORD D3DPRESENTFLAG_LOCKABLE_BACKBUFFER = 0x00000001;

// Clear, lock, usage
inline constexpr DWORD D3DCLEAR_TARGET = 0x00000001;
inline constexpr DWORD D3DCLEAR_ZBUFFER = 0x00000002;
inline constexpr DWORD D3DCLEAR_STENCIL = 0x00000004;
inline constexpr DWORD D3DLOCK_DISCARD = 0x00002000;
inline constexpr DWORD D3DLOCK_NOOVERWRITE = 0x00001000;
inline constexpr DWORD D3DLOCK_NOSYSLOCK = 0x00000800;
inline constexpr DWORD D3DLOCK_READONLY = 0x00000010;
inline constexpr DWORD D3DUSAGE_RENDERTARGET = 0x00000001;
inline constexpr DWORD D3DUSAGE_DEPTHSTENCIL = 0x00000002;
inline constexpr DWORD D3DUSAGE_DYNAMIC = 0x00000200;

// Flexible vertex format bits; a format number is also the "vertex shader"
// handle given to SetVertexShader.
inline constexpr DWORD D3DFVF_XYZ = 0x002;
inline constexpr DWORD D3DFVF_XYZRHW = 0x004;
inline constexpr DWORD D3DFVF_POSITION_MASK = 0x00E;
inline constexpr DWORD D3DFVF_NORMAL = 0x010;
inline constexpr DWORD D3DFVF_PSIZE = 0x020;
inline constexpr DWORD D3DFVF_DIFFUSE = 0x040;
inline constexpr DWORD D3DFVF_SPECULAR = 0x080;
inline constexpr DWORD D3DFVF_TEXCOUNT_MASK = 0xF00;
inline constexpr DWORD D3DFVF_TEXCOUNT_SHIFT = 8;
inline constexpr DWORD D3DFVF_TEX0 = 0x000;
inline constexpr DWORD D3DFVF_TEX1 = 0x100;
inline constexpr DWORD D3DFVF_TEX2 = 0x200;

// Caps bits
inline constexpr DWORD D3DCAPS_READ_SCANLINE = 0x00020000;
inline constexpr DWORD D3DCAPS2_NO2DDURING3DSCENE = 0x00000002;
inline constexpr DWORD D3DCAPS2_FULLSCREENGAMMA = 0x00020000;
inline constexpr DWORD D3DCAPS2_CANRENDERWINDOWED = 0x00080000;
inline constexpr DWORD D3DCAPS2_CANCALIBRATEGAMMA = 0x00100000;
inline constexpr DWORD D3DCAPS2_DYNAMICTEXTURES = 0x20000000;
inline constexpr DWORD D3DCAPS3_ALPHA_FULLSCREEN_FLIP_OR_DISCARD = 0x00000020;
inline constexpr DWORD D3DDEVCAPS_EXECUTESYSTEMMEMORY = 0x00000010;
inline constexpr DWORD D3DDEVCAPS_EXECUTEVIDEOMEMORY = 0x00000020;
inline constexpr DWORD D3DDEVCAPS_TLVERTEXSYSTEMMEMORY = 0x00000040;
inline constexpr DWORD D3DDEVCAPS_TLVERTEXVIDEOMEMORY = 0x00000080;
inline constexpr DWORD D3DDEVCAPS_TEXTURESYSTEMMEMORY = 0x00000100;
inline constexpr DWORD D3DDEVCAPS_TEXTUREVIDEOMEMORY = 0x00000200;
inline constexpr DWORD D3DDEVCAPS_DRAWPRIMTLVERTEX = 0x00000400;
inline constexpr DWORD D3DDEVCAPS_CANRENDERAFTERFLIP = 0x00000800;
inline constexpr DWORD D3DDEVCAPS_DRAWPRIMITIVES2 = 0x00002000;
inline constexpr DWORD D3DDEVCAPS_DRAWPRIMITIVES2EX = 0x00008000;
inline constexpr DWORD D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x00010000;
inline constexpr DWORD D3DDEVCAPS_HWRASTERIZATION = 0x00080000;
inline constexpr DWORD D3DDEVCAPS_PUREDEVICE = 0x00100000;
inline constexpr DWORD D3DPMISCCAPS_CULLNONE = 0x00000010;
inline constexpr DWORD D3DPMISCCAPS_CULLCW = 0x00000020;
inline constexpr DWORD D3DPMISCCAPS_CULLCCW = 0x00000040;
inline constexpr DWORD D3DPMISCCAPS_BLENDOP = 0x00000800;
inline constexpr DWORD D3DPSHADECAPS_COLORGOURAUDRGB = 0x00000008;
inline constexpr DWORD D3DPSHADECAPS_SPECULARGOURAUDRGB = 0x00000200;
inline constexpr DWORD D3DPSHADECAPS_ALPHAGOURAUDBLEND = 0x00004000;
inline constexpr DWORD D3DPBLENDCAPS_ZERO = 0x00000001;
inline constexpr DWORD D3DPBLENDCAPS_ONE = 0x00000002;
inline constexpr DWORD D3DPBLENDCAPS_SRCCOLOR = 0x00000004;
inline constexpr DWORD D3DPBLENDCAPS_INVSRCCOLOR = 0x00000008;
inline constexpr DWORD D3DPBLENDCAPS_SRCALPHA = 0x00000010;
inline constexpr DWORD D3DPBLENDCAPS_INVSRCALPHA = 0x00000020;
inline constexpr DWORD D3DPBLENDCAPS_DESTALPHA = 0x00000040;
inline constexpr DWORD D3DPBLENDCAPS_INVDESTALPHA = 0x00000080;
inline constexpr DWORD D3DPBLENDCAPS_DESTCOLOR = 0x00000100;
inline constexpr DWORD D3DPBLENDCAPS_INVDESTCOLOR = 0x00000200;
inline constexpr DWORD D3DPTEXTURECAPS_PERSPECTIVE = 0x00000001;
inline constexpr DWORD D3DPTEXTURECAPS_POW2 = 0x00000002;
inline constexpr DWORD D3DPTEXTURECAPS_ALPHA = 0x00000004;
inline constexpr DWORD D3DPTEXTURECAPS_SQUAREONLY = 0x00000020;
inline constexpr DWORD D3DPTEXTURECAPS_MIPMAP = 0x00004000;
inline constexpr DWORD D3DPTFILTERCAPS_MINFPOINT = 0x00000100;
inline constexpr DWORD D3DPTFILTERCAPS_MINFLINEAR = 0x00000200;
inline constexpr DWORD D3DPTFILTERCAPS_MIPFPOINT = 0x00010000;
inline constexpr DWORD D3DPTFILTERCAPS_MIPFLINEAR = 0x00020000;
inline constexpr DWORD D3DPTFILTERCAPS_MAGFPOINT = 0x01000000;
inline constexpr DWORD D3DPTFILTERCAPS_MAGFLINEAR = 0x02000000;
inline constexpr DWORD D3DPTADDRESSCAPS_WRAP = 0x00000001;
inline constexpr DWORD D3DPTADDRESSCAPS_MIRROR = 0x00000002;
inline constexpr DWORD D3DPTADDRESSCAPS_CLAMP = 0x00000004;
inline constexpr DWORD D3DPTADDRESSCAPS_BORDER = 0x00000008;
inline constexpr DWORD D3DTEXOPCAPS_DISABLE = 0x00000001;
inline constexpr DWORD D3DTEXOPCAPS_SELECTARG1 = 0x00000002;
inline constexpr DWORD D3DTEXOPCAPS_SELECTARG2 = 0x00000004;
inline constexpr DWORD D3DTEXOPCAPS_MODULATE = 0x00000008;
inline constexpr DWORD D3DTEXOPCAPS_MODULATE2X = 0x00000010;
inline constexpr DWORD D3DTEXOPCAPS_MODULATE4X = 0x00000020;
inline constexpr DWORD D3DTEXOPCAPS_ADD = 0x00000040;
inline constexpr DWORD D3DTEXOPCAPS_ADDSIGNED = 0x00000080;
inline constexpr DWORD D3DTEXOPCAPS_SUBTRACT = 0x00000200;
inline constexpr DWORD D3DVTXPCAPS_TEXGEN = 0x00000001;
inline constexpr DWORD D3DVTXPCAPS_MATERIALSOURCE7 = 0x00000002;
inline constexpr DWORD D3DVTXPCAPS_DIRECTIONALLIGHTS = 0x00000008;
inline constexpr DWORD D3DVTXPCAPS_POSITIONALLIGHTS = 0x00000010;
inline constexpr DWORD D3DVTXPCAPS_LOCALVIEWER = 0x00000020;

// Shader versions as the caps report them.
constexpr DWORD D3DVS_VERSION(DWORD major, DWORD minor) { return 0xFFFE0000u | (major << 8) | minor; }
constexpr DWORD D3DPS_VERSION(DWORD major, DWORD minor) { return 0xFFFF0000u | (major << 8) | minor; }

// A 32-bit colour 0xAARRGGBB.
using D3DCOLOR = DWORD;
constexpr D3DCOLOR D3DCOLOR_ARGB(DWORD a, DWORD r, DWORD g, DWORD b) {
  return ((a & 0xFF) << 24) | ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
}
constexpr D3DCOLOR D3DCOLOR_XRGB(DWORD r, DWORD g, DWORD b) { return D3DCOLOR_ARGB(0xFF, r, g, b); }

// ---- records -------------------------------------------------------------------
struct D3DCOLORVALUE {
  float r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;
};

struct D3DDISPLAYMODE {
  UINT Width = 0;
  UINT Height = 0;
  UINT RefreshRate = 0;
  D3DFORMAT Format = D3DFMT_UNKNOWN;
};

struct D3DADAPTER_IDENTIFIER8 {
  char Driver[512] = {};
  char Description[512] = {};
  int64_t DriverVersion = 0;  // LARGE_INTEGER
  DWORD VendorId = 0;
  DWORD DeviceId = 0;
  DWORD SubSysId = 0;
  DWORD Revision = 0;
  GUID DeviceIdentifier;
  DWORD WHQLLevel = 0;
};

struct D3DPRESENT_PARAMETERS {
  UINT BackBufferWidth = 0;
  UINT BackBufferHeight = 0;
  D3DFORMAT BackBufferFormat = D3DFMT_UNKNOWN;
  UINT BackBufferCount = 0;
  D3DMULTISAMPLE_TYPE MultiSampleType = D3DMULTISAMPLE_NONE;
  D3DSWAPEFFECT SwapEffect = D3DSWAPEFFECT_DISCARD;
  HWND hDeviceWindow = 0;
  BOOL Windowed = FALSE;
  BOOL EnableAutoDepthStencil = FALSE;
  D3DFORMAT AutoDepthStencilFormat = D3DFMT_UNKNOWN;
  DWORD Flags = 0;
  UINT FullScreen_RefreshRateInHz = 0;
  UINT FullScreen_PresentationInterval = 0;
};

struct D3DCAPS8 {
  D3DDEVTYPE DeviceType = D3DDEVTYPE_HAL;
  UINT AdapterOrdinal = 0;
  DWORD Caps = 0;
  DWORD Caps2 = 0;
  DWORD Caps3 = 0;
  DWORD PresentationIntervals = 0;
  DWORD CursorCaps = 0;
  DWORD DevCaps = 0;
  DWORD PrimitiveMiscCaps = 0;
  DWORD RasterCaps = 0;
  DWORD ZCmpCaps = 0;
  DWORD SrcBlendCaps = 0;
  DWORD DestBlendCaps = 0;
  DWORD AlphaCmpCaps = 0;
  DWORD ShadeCaps = 0;
  DWORD TextureCaps = 0;
  DWORD TextureFilterCaps = 0;
  DWORD CubeTextureFilterCaps = 0;
  DWORD VolumeTextureFilterCaps = 0;
  DWORD TextureAddressCaps = 0;
  DWORD VolumeTextureAddressCaps = 0;
  DWORD LineCaps = 0;
  DWORD MaxTextureWidth = 0;
  DWORD MaxTextureHeight = 0;
  DWORD MaxVolumeExtent = 0;
  DWORD MaxTextureRepeat = 0;
  DWORD MaxTextureAspectRatio = 0;
  DWORD MaxAnisotropy = 0;
  float MaxVertexW = 0.0f;
  float GuardBandLeft = 0.0f;
  float GuardBandTop = 0.0f;
  float GuardBandRight = 0.0f;
  float GuardBandBottom = 0.0f;
  float ExtentsAdjust = 0.0f;
  DWORD StencilCaps = 0;
  DWORD FVFCaps = 0;
  DWORD TextureOpCaps = 0;
  DWORD MaxTextureBlendStages = 0;
  DWORD MaxSimultaneousTextures = 0;
  DWORD VertexProcessingCaps = 0;
  DWORD MaxActiveLights = 0;
  DWORD MaxUserClipPlanes = 0;
  DWORD MaxVertexBlendMatrices = 0;
  DWORD MaxVertexBlendMatrixIndex = 0;
  float MaxPointSize = 0.0f;
  DWORD MaxPrimitiveCount = 0;
  DWORD MaxVertexIndex = 0;
  DWORD MaxStreams = 0;
  DWORD MaxStreamStride = 0;
  DWORD VertexShaderVersion = 0;
  DWORD MaxVertexShaderConst = 0;
  DWORD PixelShaderVersion = 0;
  float MaxPixelShaderValue = 0.0f;
};

struct D3DLIGHT8 {
  D3DLIGHTTYPE Type = D3DLIGHT_DIRECTIONAL;
  D3DCOLORVALUE Diffuse;
  D3DCOLORVALUE Specular;
  D3DCOLORVALUE Ambient;
  D3DVECTOR Position;
  D3DVECTOR Direction;
  float Range = 0.0f;
  float Falloff = 0.0f;
  float Attenuation0 = 0.0f;
  float Attenuation1 = 0.0f;
  float Attenuation2 = 0.0f;
  float Theta = 0.0f;
  float Phi = 0.0f;
};

struct D3DMATERIAL8 {
  D3DCOLORVALUE Diffuse;
  D3DCOLORVALUE Ambient;
  D3DCOLORVALUE Specular;
  D3DCOLORVALUE Emissive;
  float Power = 0.0f;
};

struct D3DVIEWPORT8 {
  DWORD X = 0;
  DWORD Y = 0;
  DWORD Width = 0;
  DWORD Height = 0;
  float MinZ = 0.0f;
  float MaxZ = 1.0f;
};

struct D3DLOCKED_RECT {
  INT Pitch = 0;
  void* pBits = nullptr;
};

struct D3DSURFACE_DESC {
  D3DFORMAT Format = D3DFMT_UNKNOWN;
  D3DRESOURCETYPE Type = D3DRTYPE_SURFACE;
  DWORD Usage = 0;
  D3DPOOL Pool = D3DPOOL_DEFAULT;
  UINT Size = 0;
  D3DMULTISAMPLE_TYPE MultiSampleType = D3DMULTISAMPLE_NONE;
  UINT Width = 0;
  UINT Height = 0;
};

// ---- interfaces -------------------------------------------------------------------
class Direct3DTexture8 {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual DWORD GetLevelCount() = 0;
  virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
  // Row 0 of a locked level is the texture's top row (v = 0).  Textures in
  // D3DPOOL_DEFAULT cannot be locked (D3DERR_INVALIDCALL): fill them through a
  // D3DPOOL_SYSTEMMEM texture and UpdateTexture.
  virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
  virtual HRESULT UnlockRect(UINT level) = 0;

 protected:
  virtual ~Direct3DTexture8() = default;
};

class Direct3DDevice8 {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

  virtual HRESULT TestCooperativeLevel() = 0;
  virtual UINT GetAvailableTextureMem() = 0;
  virtual HRESULT GetDeviceCaps(D3DCAPS8* caps) = 0;
  virtual HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) = 0;
  // Every D3DPOOL_DEFAULT texture must have been released first
  // (D3DERR_INVALIDCALL otherwise).  States return to their defaults.
  virtual HRESULT Reset(D3DPRESENT_PARAMETERS* params) = 0;
  virtual HRESULT Present(const RECT* source, const RECT* dest, HWND overrideWindow, const void* dirtyRegion) = 0;

  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  virtual HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD stencil) = 0;

  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
  virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
  virtual HRESULT SetViewport(const D3DVIEWPORT8* viewport) = 0;
  virtual HRESULT GetViewport(D3DVIEWPORT8* viewport) = 0;
  virtual HRESULT SetMaterial(const D3DMATERIAL8* material) = 0;
  virtual HRESULT GetMaterial(D3DMATERIAL8* material) = 0;
  virtual HRESULT SetLight(DWORD index, const D3DLIGHT8* light) = 0;
  virtual HRESULT GetLight(DWORD index, D3DLIGHT8* light) = 0;
  virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
  virtual HRESULT GetLightEnable(DWORD index, BOOL* enable) = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
  virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) = 0;
  // nullptr unbinds: the stage then samples opaque white.
  virtual HRESULT SetTexture(DWORD stage, Direct3DTexture8* texture) = 0;
  // A fixed-function vertex format (D3DFVF_...) serves as the handle.
  virtual HRESULT SetVertexShader(DWORD handle) = 0;
  virtual HRESULT GetVertexShader(DWORD* handle) = 0;

  // levels 0 means the whole chain down to 1x1.
  virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                Direct3DTexture8** texture) = 0;
  // Copies a D3DPOOL_SYSTEMMEM texture into a D3DPOOL_DEFAULT one of the
  // same size and format.
  virtual HRESULT UpdateTexture(Direct3DTexture8* source, Direct3DTexture8* destination) = 0;

  virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                  UINT vertexStride) = 0;
  virtual HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                         UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                         const void* vertexData, UINT vertexStride) = 0;

  // Not part of Direct3D 8: the back buffer as 0xAARRGGBB words, rows top to
  // bottom (for tests and the preview tool).
  virtual HRESULT readBackBuffer(std::vector<DWORD>* pixels, UINT* width, UINT* height) = 0;

 protected:
  virtual ~Direct3DDevice8() = default;
};

class Direct3D8 {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

  virtual UINT GetAdapterCount() = 0;
  virtual HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER8* identifier) = 0;
  virtual UINT GetAdapterModeCount(UINT adapter) = 0;
  virtual HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* displayMode) = 0;
  virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* displayMode) = 0;
  virtual HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat, D3DFORMAT backBufferFormat,
                                  BOOL windowed) = 0;
  virtual HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                    D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) = 0;
  virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) = 0;
  // The monitor of the adapter, as the window system names it (0 for none).
  virtual HMONITOR GetAdapterMonitor(UINT adapter) = 0;
  virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviourFlags,
                               D3DPRESENT_PARAMETERS* params, Direct3DDevice8** device) = 0;

 protected:
  virtual ~Direct3D8() = default;
};

// The published interface names.
using IDirect3D8 = Direct3D8;
using IDirect3DDevice8 = Direct3DDevice8;
using IDirect3DTexture8 = Direct3DTexture8;
using IDirect3DBaseTexture8 = Direct3DTexture8;
using LPDIRECT3D8 = Direct3D8*;
using LPDIRECT3DDEVICE8 = Direct3DDevice8*;
using LPDIRECT3DTEXTURE8 = Direct3DTexture8*;

namespace platform {

// Makes the Direct3D object; the caller owns one reference.  Returns nullptr
// for an SDK version other than D3D_SDK_VERSION or when no display can be
// opened.
Direct3D8* Direct3DCreate8(UINT sdkVersion);

// The factory behind Direct3DCreate8; an empty function restores the SDL /
// OpenGL back end.  Returns the previous factory.
using Direct3DFactory = std::function<Direct3D8*(UINT sdkVersion)>;
Direct3DFactory setDirect3DFactory(Direct3DFactory factory);

// The SDL / OpenGL back end's Direct3D object, whatever factory is installed.
Direct3D8* createOpenGLDirect3D8();
// Why the back end's Direct3D object could not be made ("" when it could).
const char* direct3DFailureReason();

// Bytes per texel of a texture format (0 for one this layer does not hold).
UINT bytesPerTexel(D3DFORMAT format);
// Bytes of one vertex of a flexible vertex format.
UINT vertexSizeOfFVF(DWORD fvf);
// Vertices (or indices) a draw of `primitives` primitives of `type` reads.
UINT primitiveIndexCount(D3DPRIMITIVETYPE type, UINT primitives);
// Whether `back` is the alpha-carrying twin of display format `display`.
bool isAlphaForm(D3DFORMAT display, D3DFORMAT back);
// Whether `format` can be the back buffer of a windowed device.
bool windowedBackBuffer(D3DFORMAT format);

// The defaults a fresh device starts with (and returns to at Reset).
DWORD defaultRenderState(D3DRENDERSTATETYPE state);
DWORD defaultTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type);

}  // namespace platform
