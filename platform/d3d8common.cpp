// What every Direct3D 8 implementation here shares: the factory behind
// Direct3DCreate8, texel and vertex sizes, index counts, the formats a
// device accepts, and the state defaults.
#include "platform/d3d8.h"

namespace platform {

namespace {
Direct3DFactory& factory() {
  static Direct3DFactory f;
  return f;
}
}  // namespace

Direct3D8* Direct3DCreate8(UINT sdkVersion) {
  if (factory()) return factory()(sdkVersion);
  if (sdkVersion != D3D_SDK_VERSION) return nullptr;
  return createOpenGLDirect3D8();
}

Direct3DFactory setDirect3DFactory(Direct3DFactory f) {
  Direct3DFactory previous = std::move(factory());
  factory() = std::move(f);
  return previous;
}

UINT bytesPerTexel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 4;
    case D3DFMT_R8G8B8: return 3;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A8R3G3B2: return 2;
    case D3DFMT_A8:
    case D3DFMT_R3G3B2: return 1;
    default: return 0;
  }
}

UINT vertexSizeOfFVF(DWORD fvf) {
  UINT size = 0;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ: size += 12; break;
    case D3DFVF_XYZRHW: size += 16; break;
    default: break;
  }
  if (fvf & D3DFVF_NORMAL) size += 12;
  if (fvf & D3DFVF_PSIZE) size += 4;
  if (fvf & D3DFVF_DIFFUSE) size += 4;
  if (fvf & D3DFVF_SPECULAR) size += 4;
  size += ((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT) * 8;
  return size;
}

UINT primitiveIndexCount(D3DPRIMITIVETYPE type, UINT primitives) {
  switch (type) {
    case D3DPT_POINTLIST: return primitives;
    case D3DPT_LINELIST: return primitives * 2;
    case D3DPT_LINESTRIP: return primitives + 1;
    case D3DPT_TRIANGLELIST: return primitives * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return primitives + 2;
    default: return 0;
  }
}

bool isAlphaForm(D3DFORMAT display, D3DFORMAT back) {
  return (display == D3DFMT_X8R8G8B8 && back == D3DFMT_A8R8G8B8) ||
         (display == D3DFMT_X1R5G5B5 && back == D3DFMT_A1R5G5B5);
}

bool windowedBackBuffer(D3DFORMAT f) {
  return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5 ||
         f == D3DFMT_A1R5G5B5;
}

DWORD defaultRenderState(D3DRENDERSTATETYPE state) {
  switch (state) {
    case D3DRS_ZENABLE: return D3DZB_FALSE;  // no depth buffer is requested
    case D3DRS_FILLMODE: return D3DFILL_SOLID;
    case D3DRS_SHADEMODE: return D3DSHADE_GOURAUD;
    case D3DRS_ZWRITEENABLE: return TRUE;
    case D3DRS_LASTPIXEL: return TRUE;
    case D3DRS_SRCBLEND: return D3DBLEND_ONE;
    case D3DRS_DESTBLEND: return D3DBLEND_ZERO;
    case D3DRS_CULLMODE: return D3DCULL_CCW;
    case D3DRS_ZFUNC: return D3DCMP_LESSEQUAL;
    case D3DRS_ALPHAFUNC: return D3DCMP_ALWAYS;
    case D3DRS_TEXTUREFACTOR: return 0xFFFFFFFF;
    case D3DRS_CLIPPING:
    case D3DRS_LIGHTING:
    case D3DRS_COLORVERTEX:
    case D3DRS_LOCALVIEWER: return TRUE;
    case D3DRS_DIFFUSEMATERIALSOURCE: return D3DMCS_COLOR1;
    case D3DRS_SPECULARMATERIALSOURCE: return D3DMCS_COLOR2;
    case D3DRS_AMBIENTMATERIALSOURCE:
    case D3DRS_EMISSIVEMATERIALSOURCE: return D3DMCS_MATERIAL;
    case D3DRS_COLORWRITEENABLE: return 0xF;
    case D3DRS_BLENDOP: return 1;  // D3DBLENDOP_ADD
    default: return 0;
  }
}

DWORD defaultTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
  switch (type) {
    case D3DTSS_COLOROP: return stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    case D3DTSS_ALPHAOP: return stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    case D3DTSS_COLORARG1:
    case D3DTSS_ALPHAARG1: return D3DTA_TEXTURE;
    case D3DTSS_COLORARG2:
    case D3DTSS_ALPHAARG2: return D3DTA_CURRENT;
    case D3DTSS_TEXCOORDINDEX: return stage;
    case D3DTSS_ADDRESSU:
    case D3DTSS_ADDRESSV:
    case D3DTSS_ADDRESSW: return D3DTADDRESS_WRAP;
    case D3DTSS_MAGFILTER:
    case D3DTSS_MINFILTER: return D3DTEXF_POINT;
    case D3DTSS_MIPFILTER: return D3DTEXF_NONE;
    case D3DTSS_MAXANISOTROPY: return 1;
    case D3DTSS_COLORARG0:
    case D3DTSS_ALPHAARG0:
    case D3DTSS_RESULTARG: return D3DTA_CURRENT;
    default: return 0;
  }
}

}  // namespace platform
