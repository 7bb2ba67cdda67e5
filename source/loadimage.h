#pragma once
// Pictures from files: Windows bitmaps, uncompressed 32-bit TGA and JPEG,
// read through the process-wide pack so that a standalone copy finds its
// pictures in its own container.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// An allocator whose vectors leave grown bytes uninitialised: a decoder
// writes every byte it delivers, and clearing a 36 MB picture first would
// cost a tenth of its decoding time.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  DefaultInitAllocator() noexcept = default;
  template <class U>
  DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// The pixels loadImage delivers, owned by the caller.
using PixelBuffer = std::vector<uint8_t, DefaultInitAllocator<uint8_t>>;

// Loads the picture at `path`.  The format follows the extension:
//   ".bmp"  rows top-down, R G B, bits report 8 when the bitmap has a colour
//           table (else left as the caller set it);
//   ".tga"  the file's pixel bytes as stored (B G R A, rows in file order),
//           bits report 32;
//   other   JPEG: rows top-down, R G B (grey repeated three times), bits
//           report left as set.
// A bitmap or TGA that can't be decoded, and any other extension, is looked
// for as the same name with ".jpg" in place of the extension.  Returns 0
// with the pixels, or -1 with `pixels` empty.  `bits` may be null.
int loadImage(std::string_view path, PixelBuffer& pixels, int& width, int& height, int* bits = nullptr);

// The decoders on bytes in memory; false (and `pixels` empty) when they
// give no pixels.  Nothing outside [data, data + size) is ever read.
bool decodeBitmap(const uint8_t* data, size_t size, PixelBuffer& pixels, int& width, int& height, int* bits);
bool decodeTga(const uint8_t* data, size_t size, PixelBuffer& pixels, int& width, int& height);
// libjpeg's messages go to standard error.
bool decodeJpeg(const uint8_t* data, size_t size, PixelBuffer& pixels, int& width, int& height);

// Bitmaps larger than this in either direction give no pixels.
inline constexpr int kMaxBitmapSide = 32768;
// Nor does a picture of any format with more pixels than this (768 MiB of
// RGB): a few bytes of a damaged header must not claim gigabytes.
inline constexpr uint64_t kMaxImagePixels = uint64_t(1) << 28;
// The memory one picture load may take: the file's bytes, the pixels and
// the decoder's working memory (libjpeg is held to what is left) together.
// A picture that would need more gives no pixels; sizes are checked right
// after the header, before any of it is taken.
inline constexpr uint64_t kMaxImageMemory = uint64_t(1) << 30;
// A run-length bitmap claiming more pixels than this, and more than this
// many per byte of its data, gives no pixels: an encoder paints at most 255
// pixels with two bytes, so only a damaged or hostile header claims more.
inline constexpr uint64_t kMaxUnpaintedRunLengthPixels = uint64_t(1) << 20;
inline constexpr uint64_t kMaxRunLengthPixelsPerByte = 1024;
