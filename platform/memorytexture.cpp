#include "platform/memorytexture.h"

#include <cstring>

namespace platform {

MemoryTexture::MemoryTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : usage_(usage), format_(format), pool_(pool) {
  UINT w = std::max<UINT>(width, 1), h = std::max<UINT>(height, 1);
  UINT bpp = bytesPerTexel(format);
  for (;;) {
    Level level;
    level.width = w;
    level.height = h;
    level.bytes.assign(static_cast<size_t>(w) * h * bpp, 0);
    levels_.push_back(std::move(level));
    if ((levels != 0 && levels_.size() >= levels) || (w == 1 && h == 1)) break;
    w = std::max<UINT>(w / 2, 1);
    h = std::max<UINT>(h / 2, 1);
  }
}

UINT MemoryTexture::width(UINT level) const { return level < levels_.size() ? levels_[level].width : 0; }
UINT MemoryTexture::height(UINT level) const { return level < levels_.size() ? levels_[level].height : 0; }
bool MemoryTexture::locked(UINT level) const { return level < levels_.size() && levels_[level].locked; }

HRESULT MemoryTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
  if (level >= levels_.size() || !desc) return D3DERR_INVALIDCALL;
  desc->Format = format_;
  desc->Type = D3DRTYPE_SURFACE;
  desc->Usage = usage_;
  desc->Pool = pool_;
  desc->Size = static_cast<UINT>(levels_[level].bytes.size());
  desc->MultiSampleType = D3DMULTISAMPLE_NONE;
  desc->Width = levels_[level].width;
  desc->Height = levels_[level].height;
  return D3D_OK;
}

HRESULT MemoryTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
  if (level >= levels_.size() || !locked) return D3DERR_INVALIDCALL;
  Level& l = levels_[level];
  if (l.locked) return D3DERR_INVALIDCALL;
  if (pool_ == D3DPOOL_DEFAULT && !lockableDefaultPool && !(usage_ & D3DUSAGE_DYNAMIC)) return D3DERR_INVALIDCALL;
  UINT bpp = bytesPerTexel(format_);
  size_t offset = 0;
  if (rect) {
    if (rect->left < 0 || rect->top < 0 || rect->right > static_cast<LONG>(l.width) ||
        rect->bottom > static_cast<LONG>(l.height) || rect->left >= rect->right || rect->top >= rect->bottom)
      return D3DERR_INVALIDCALL;
    offset = (static_cast<size_t>(rect->top) * l.width + rect->left) * bpp;
  }
  l.locked = true;
  locked->Pitch = static_cast<INT>(l.width * bpp);
  locked->pBits = l.bytes.data() + offset;
  return D3D_OK;
}

HRESULT MemoryTexture::UnlockRect(UINT level) {
  if (level >= levels_.size() || !levels_[level].locked) return D3DERR_INVALIDCALL;
  levels_[level].locked = false;
  return D3D_OK;
}

DWORD MemoryTexture::texel(UINT x, UINT y, UINT level) const {
  if (level >= levels_.size() || x >= levels_[level].width || y >= levels_[level].height) return 0;
  UINT bpp = bytesPerTexel(format_);
  const uint8_t* p = levels_[level].bytes.data() + (static_cast<size_t>(y) * levels_[level].width + x) * bpp;
  DWORD v = 0;
  for (UINT i = 0; i < bpp; ++i) v |= static_cast<DWORD>(p[i]) << (8 * i);
  return v;
}

HRESULT MemoryTexture::copyFrom(const MemoryTexture& source) {
  if (source.format_ != format_ || source.width() != width() || source.height() != height()) return D3DERR_INVALIDCALL;
  for (size_t i = 0; i < levels_.size() && i < source.levels_.size(); ++i) levels_[i].bytes = source.levels_[i].bytes;
  return D3D_OK;
}

// ---- D3DCall ----------------------------------------------------------------------

D3DCAPS8 hardwareCaps() {
  D3DCAPS8 c;
  c.DeviceType = D3DDEVTYPE_HAL;
  c.Caps = D3DCAPS_READ_SCANLINE;
  c.Caps2 = D3DCAPS2_CANRENDERWINDOWED | D3DCAPS2_FULLSCREENGAMMA | D3DCAPS2_DYNAMICTEXTURES;
  c.Caps3 = D3DCAPS3_ALPHA_FULLSCREEN_FLIP_OR_DISCARD;
  c.PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
  c.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_EXECUTEVIDEOMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
              D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_TEXTUREVIDEOMEMORY |
              D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
              D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION;
  c.PrimitiveMiscCaps = D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW;
  c.ZCmpCaps = c.AlphaCmpCaps = 0xFF;
  c.SrcBlendCaps = c.DestBlendCaps = 0x3FF;
  c.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND;
  c.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP;
  c.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MIPFPOINT |
                        D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c.TextureAddressCaps =
      D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_BORDER;
  c.MaxTextureWidth = c.MaxTextureHeight = 4096;
  c.MaxTextureRepeat = 8192;
  c.MaxTextureAspectRatio = 4096;
  c.MaxAnisotropy = 1;
  c.MaxVertexW = 1e10f;
  c.GuardBandLeft = c.GuardBandTop = -8192.0f;
  c.GuardBandRight = c.GuardBandBottom = 8192.0f;
  c.FVFCaps = 8;
  c.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 | D3DTEXOPCAPS_MODULATE |
                    D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X | D3DTEXOPCAPS_ADD | D3DTEXOPCAPS_ADDSIGNED |
                    D3DTEXOPCAPS_SUBTRACT;
  c.MaxTextureBlendStages = 8;
  c.MaxSimultaneousTextures = 2;
  c.VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                           D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER;
  c.MaxActiveLights = 8;
  c.MaxUserClipPlanes = 0;
  c.MaxVertexBlendMatrices = 1;
  c.MaxPointSize = 1.0f;
  c.MaxPrimitiveCount = 0xFFFFF;
  c.MaxVertexIndex = 0xFFFFF;
  c.MaxStreams = 16;
  c.MaxStreamStride = 255;
  c.VertexShaderVersion = D3DVS_VERSION(1, 1);
  c.MaxVertexShaderConst = 96;
  c.PixelShaderVersion = 0;
  c.MaxPixelShaderValue = 1.0f;
  return c;
}

}  // namespace platform
