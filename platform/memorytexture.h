#pragma once
// A texture held in memory, lockable in every pool but D3DPOOL_DEFAULT (as
// Direct3D), whose texels can be read back: the storage of the OpenGL
// device's textures and of the recording test device's.
#include <vector>

#include "platform/d3d8.h"

namespace platform {

class MemoryTexture : public Direct3DTexture8 {
 public:
  MemoryTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);

  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return refs_ > 0 ? --refs_ : 0; }
  DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
  HRESULT UnlockRect(UINT level) override;

  ULONG refCount() const { return refs_; }
  UINT width(UINT level = 0) const;
  UINT height(UINT level = 0) const;
  D3DFORMAT format() const { return format_; }
  D3DPOOL pool() const { return pool_; }
  DWORD usage() const { return usage_; }
  bool locked(UINT level = 0) const;
  // The raw bytes of a level, rows top to bottom, pitch = width * bytes per texel.
  std::vector<uint8_t>& bytes(UINT level = 0) { return levels_[level].bytes; }
  const std::vector<uint8_t>& bytes(UINT level = 0) const { return levels_[level].bytes; }
  // One texel as stored: 0xAARRGGBB for 32-bit formats, the 16-bit word for
  // 16-bit ones.
  DWORD texel(UINT x, UINT y, UINT level = 0) const;
  // Copies every level from another texture of the same size and format.
  HRESULT copyFrom(const MemoryTexture& source);
  // Lets D3DPOOL_DEFAULT textures be locked too (off: Direct3D's rule).
  bool lockableDefaultPool = false;

 private:
  struct Level {
    UINT width, height;
    std::vector<uint8_t> bytes;
    bool locked = false;
  };
  ULONG refs_ = 1;
  DWORD usage_;
  D3DFORMAT format_;
  D3DPOOL pool_;
  std::vector<Level> levels_;
};

// The capabilities of a hardware transform-and-lighting card with vertex
// shader 1.1 that can render windowed, as a display driver of the time
// reports: what the OpenGL device offers.
D3DCAPS8 hardwareCaps();

}  // namespace platform
