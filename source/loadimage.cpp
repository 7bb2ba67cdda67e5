#include "source/loadimage.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

#include "pack/pack.h"
#include "platform/bytes.h"

namespace {

using platform::readLe16;
using platform::readLe32;

bool resizeOrFail(PixelBuffer& pixels, size_t bytes) {
  try {
    pixels.clear();
    pixels.resize(bytes);
  } catch (const std::bad_alloc&) {
    pixels.clear();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- bitmaps

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

// One colour mask of a direct-colour bitmap, widened to 8 bits by
// repeating its bits as the system's bitmap services do.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int width = 0;

  explicit Channel(uint32_t m = 0) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    while (shift + width < 32 && ((m >> (shift + width)) & 1)) ++width;
  }
  uint8_t operator()(uint32_t pixel) const {
    if (width == 0) return 0;
    const uint32_t v = (pixel & mask) >> shift;
    if (width >= 8) return uint8_t(v >> (width - 8));
    uint32_t out = 0;
    int have = 0;
    while (have < 8) {
      out = (out << width) | v;
      have += width;
    }
    return uint8_t(out >> (have - 8));
  }
};

// The pixels of a decoded bitmap, written by source row (bottom-up unless
// the bitmap is stored top-down) and delivered top-down.
class Canvas {
 public:
  Canvas(PixelBuffer& pixels, int width, int height, bool topDown)
      : pixels_(pixels), width_(width), height_(height), topDown_(topDown) {}
  void put(int x, int sourceRow, Rgb c) {
    if (x < 0 || x >= width_ || sourceRow < 0 || sourceRow >= height_) return;
    const int row = topDown_ ? sourceRow : height_ - 1 - sourceRow;
    uint8_t* p = &pixels_[(size_t(row) * size_t(width_) + size_t(x)) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }

 private:
  PixelBuffer& pixels_;
  int width_, height_;
  bool topDown_;
};

// Run-length bitmaps (bottom-up only): encoded runs, absolute runs padded to
// a 16-bit boundary, end of line, end of bitmap and delta.  Pixels the data
// skips stay black; runs past the right edge are clipped.  Data that ends
// early ends the picture.
void decodeRle(const uint8_t* p, const uint8_t* end, bool four, const std::vector<Rgb>& table, Canvas& canvas,
               int width, int height) {
  // Past the right edge nothing more is drawn on a row; x stops there so
  // that endless runs can't overflow it.
  auto advance = [width](int x, unsigned by) { return x + int(by) > width ? width : x + int(by); };
  auto colour = [&table](unsigned index) { return index < table.size() ? table[index] : Rgb(); };
  int x = 0, y = 0;
  while (end - p >= 2 && y < height) {
    const unsigned count = p[0], value = p[1];
    p += 2;
    if (count > 0) {
      for (unsigned i = 0; i < count; ++i) {
        const unsigned index = four ? ((i & 1) ? (value & 15) : (value >> 4)) : value;
        canvas.put(x + int(i), y, colour(index));
      }
      x = advance(x, count);
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      if (end - p < 2) return;
      x = advance(x, p[0]);
      y += p[1];
      p += 2;
    } else {
      const size_t bytes = four ? (value + 1) / 2 : value;
      const size_t padded = (bytes + 1) & ~size_t(1);
      const size_t have = size_t(end - p) < bytes ? size_t(end - p) : bytes;
      for (unsigned i = 0; i < value; ++i) {
        const size_t at = four ? i / 2 : i;
        if (at >= have) break;
        const unsigned index = four ? ((i & 1) ? (p[at] & 15) : (p[at] >> 4)) : p[at];
        canvas.put(x + int(i), y, colour(index));
      }
      x = advance(x, value);
      if (size_t(end - p) < padded) return;
      p += padded;
    }
  }
}

}  // namespace

namespace {

// What a bitmap's headers say, before anything is checked against the file.
struct BitmapHeader {
  bool fileHeader = false;
  size_t bitsAt = 0;  // from the file header; computed for a bare bitmap
  uint32_t headerSize = 0;
  int64_t width = 0, height = 0;
  unsigned depth = 0;
  uint32_t compression = BI_RGB;
  uint32_t sizeImage = 0;
  uint32_t used = 0;
  size_t entrySize = 4;  // colour-table entry: 3 bytes after a core header
};

// A bitmap checked against its file: where its parts are and what they hold.
struct BitmapLayout {
  int width = 0, height = 0;
  bool topDown = false;
  bool runLength = false;
  unsigned depth = 0;
  uint32_t compression = BI_RGB;
  Channel red, green, blue;
  std::vector<Rgb> table;
  bool hasTable = false;
  const uint8_t* bits = nullptr;
  size_t bitsBytes = 0;  // run-length data, or the rows
  size_t stride = 0;
};

// The file header (when there is one) and the info or core header.
std::optional<BitmapHeader> parseBitmapHeader(const uint8_t* data, size_t size) {
  BitmapHeader h;
  size_t infoAt = 0;
  if (size >= 2 && readLe16(data) == 0x4D42) {
    if (size < 14) return std::nullopt;
    h.fileHeader = true;
    h.bitsAt = readLe32(data + 10);
    infoAt = 14;
  }
  const uint8_t* info = data + infoAt;
  const size_t infoRoom = size - infoAt;
  if (infoRoom < 4) return std::nullopt;
  h.headerSize = readLe32(info);
  if (h.headerSize == 12) {
    if (infoRoom < 12) return std::nullopt;
    h.width = readLe16(info + 4);
    h.height = readLe16(info + 6);
    h.depth = readLe16(info + 10);
    h.entrySize = 3;
  } else if (h.headerSize == 40) {
    if (infoRoom < 40) return std::nullopt;
    h.width = int32_t(readLe32(info + 4));
    h.height = int32_t(readLe32(info + 8));
    h.depth = readLe16(info + 14);
    h.compression = readLe32(info + 16);
    h.sizeImage = readLe32(info + 20);
    h.used = readLe32(info + 32);
  } else {
    return std::nullopt;  // the long headers (v4, v5) and the OS/2 variants are not read
  }
  return h;
}

// Checks the header against the file and the limits, before any pixel
// memory is taken.
std::optional<BitmapLayout> validateBitmap(const BitmapHeader& h, const uint8_t* data, size_t size) {
  BitmapLayout l;
  const size_t infoAt = h.fileHeader ? 14 : 0;
  const uint8_t* info = data + infoAt;
  const size_t infoRoom = size - infoAt;
  l.depth = h.depth;
  l.compression = h.compression;

  // Direct colour: default masks, or those following an info header.
  size_t tableAt = h.headerSize;
  if (h.compression == BI_BITFIELDS) {
    if (h.depth != 16 && h.depth != 32) return std::nullopt;
    if (infoRoom < 40 + 12) return std::nullopt;
    l.red = Channel(readLe32(info + 40));
    l.green = Channel(readLe32(info + 44));
    l.blue = Channel(readLe32(info + 48));
    tableAt += 12;
  } else if (h.depth == 16) {
    l.red = Channel(0x7C00), l.green = Channel(0x03E0), l.blue = Channel(0x001F);
  } else if (h.depth == 32) {
    l.red = Channel(0x00FF0000), l.green = Channel(0x0000FF00), l.blue = Channel(0x000000FF);
  }

  uint64_t colours = h.used;
  if (colours == 0) colours = h.depth == 1 ? 2 : h.depth == 4 ? 16 : h.depth == 8 ? 256 : 0;
  // A colour table shorter than it claims gives no pixels.
  const uint64_t tableBytes = colours * h.entrySize;
  if (tableAt > infoRoom || tableBytes > infoRoom - tableAt) return std::nullopt;
  const size_t bitsAt = h.fileHeader ? h.bitsAt : infoAt + tableAt + size_t(tableBytes);

  // Sizes: no pixels for a width or height of 0, a negative width, or more
  // than 32768 in either direction; a negative height is a top-down bitmap.
  int64_t w = h.width, ht = h.height;
  l.topDown = ht < 0;
  if (l.topDown) ht = -ht;
  if (w <= 0 || ht <= 0 || w > kMaxBitmapSide || ht > kMaxBitmapSide) return std::nullopt;
  const uint64_t pixels = uint64_t(w) * uint64_t(ht);
  if (pixels > kMaxImagePixels || pixels * 3 + size > kMaxImageMemory) return std::nullopt;

  l.runLength = h.compression == BI_RLE8 || h.compression == BI_RLE4;
  if (h.compression == BI_RGB) {
    if (h.depth != 1 && h.depth != 4 && h.depth != 8 && h.depth != 16 && h.depth != 24 && h.depth != 32)
      return std::nullopt;
  } else if (h.compression == BI_RLE8) {
    if (h.depth != 8 || l.topDown) return std::nullopt;
  } else if (h.compression == BI_RLE4) {
    if (h.depth != 4 || l.topDown) return std::nullopt;
  } else if (h.compression != BI_BITFIELDS) {
    return std::nullopt;
  }

  if (bitsAt > size) return std::nullopt;
  size_t available = size - bitsAt;
  l.stride = size_t((uint64_t(w) * h.depth + 31) / 32 * 4);
  if (l.runLength) {
    // Compressed data never reaches past what the header claims, nor past
    // the file; a file shorter than the claim gives no pixels.  Without a
    // claim (an image size of 0) the data runs to the end of the file: an
    // estimate from the uncompressed size could cut off valid data.
    if (h.sizeImage > available) return std::nullopt;
    if (h.sizeImage != 0) available = h.sizeImage;
    // An encoder paints at most 255 pixels with two bytes; a picture far
    // larger than its data could paint is a damaged or hostile header, and
    // must not claim the memory of a full picture.
    if (pixels > kMaxUnpaintedRunLengthPixels && pixels / kMaxRunLengthPixelsPerByte > available) return std::nullopt;
  } else if (uint64_t(l.stride) * uint64_t(ht) > available) {
    return std::nullopt;  // a pixel area shorter than the bitmap needs
  }
  l.bits = data + bitsAt;
  l.bitsBytes = available;

  l.hasTable = colours > 0;
  l.table.resize(size_t(colours > 256 ? 256 : colours));
  const uint8_t* entries = info + tableAt;
  for (size_t i = 0; i < l.table.size(); ++i) {
    l.table[i].b = entries[i * h.entrySize];
    l.table[i].g = entries[i * h.entrySize + 1];
    l.table[i].r = entries[i * h.entrySize + 2];
  }
  l.width = int(w);
  l.height = int(ht);
  return l;
}

// Uncompressed rows, bottom-up unless the bitmap is top-down.
void decodeRows(const BitmapLayout& l, Canvas& canvas) {
  auto colour = [&l](unsigned index) { return index < l.table.size() ? l.table[index] : Rgb(); };
  for (int y = 0; y < l.height; ++y) {
    const uint8_t* row = l.bits + size_t(y) * l.stride;
    for (int x = 0; x < l.width; ++x) {
      switch (l.depth) {
        case 1: canvas.put(x, y, colour((row[x >> 3] >> (7 - (x & 7))) & 1)); break;
        case 4: canvas.put(x, y, colour((x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4))); break;
        case 8: canvas.put(x, y, colour(row[x])); break;
        case 16: {
          const uint32_t v = readLe16(row + 2 * x);
          canvas.put(x, y, Rgb{l.red(v), l.green(v), l.blue(v)});
          break;
        }
        case 24: {
          const uint8_t* p = row + 3 * x;
          canvas.put(x, y, Rgb{p[2], p[1], p[0]});
          break;
        }
        case 32: {
          const uint32_t v = readLe32(row + 4 * x);
          canvas.put(x, y, Rgb{l.red(v), l.green(v), l.blue(v)});
          break;
        }
      }
    }
  }
}

}  // namespace

bool decodeBitmap(const uint8_t* data, size_t size, PixelBuffer& pixels, int& width, int& height, int* bits) {
  pixels.clear();
  if (!data) return false;
  const std::optional<BitmapHeader> header = parseBitmapHeader(data, size);
  if (!header) return false;
  const std::optional<BitmapLayout> layout = validateBitmap(*header, data, size);
  if (!layout) return false;
  const BitmapLayout& l = *layout;

  if (!resizeOrFail(pixels, size_t(l.width) * size_t(l.height) * 3)) return false;
  Canvas canvas(pixels, l.width, l.height, l.topDown);
  if (l.runLength) {
    // Pixels the run-length data skips stay black, as in a fresh section.
    std::fill(pixels.begin(), pixels.end(), uint8_t(0));
    decodeRle(l.bits, l.bits + l.bitsBytes, l.compression == BI_RLE4, l.table, canvas, l.width, l.height);
  } else {
    decodeRows(l, canvas);
  }
  width = l.width;
  height = l.height;
  if (l.hasTable && bits) *bits = 8;
  return true;
}

// ------------------------------------------------------------------- TGA

bool decodeTga(const uint8_t* data, size_t size, PixelBuffer& pixels, int& width, int& height) {
  pixels.clear();
  if (!data || size < 18) return false;
  if (data[2] != 2 || data[16] != 32) return false;  // uncompressed true colour, 32 bits
  const int w = readLe16(data + 12), h = readLe16(data + 14);
  if (w == 0 || h == 0 || uint64_t(w) * uint64_t(h) > kMaxImagePixels ||
      uint64_t(w) * uint64_t(h) * 4 + size > kMaxImageMemory)
    return false;
  // The image-ID field (its length is byte 0) stands between the header
  // and the pixels.
  const size_t at = 18 + size_t(data[0]);
  const size_t bytes = size_t(w) * size_t(h) * 4;
  if (at > size || bytes > size - at) return false;
  if (!resizeOrFail(pixels, bytes)) return false;
  std::memcpy(pixels.data(), data + at, bytes);
  width = w;
  height = h;
  return true;
}

// ------------------------------------------------------------------ JPEG

namespace {

constexpr size_t kJpegPiece = 4096;

struct MemorySource {
  jpeg_source_mgr pub;
  const JOCTET* data;
  size_t size;
  size_t next;
};

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}

// Hands the library the next piece of the data; past the end, a fake
// end-of-image marker as the standard file source does.
boolean fillInputBuffer(j_decompress_ptr cinfo) {
  MemorySource* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (src->next >= src->size) {
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->pub.next_input_byte = kFakeEoi;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
  }
  const size_t n = src->size - src->next < kJpegPiece ? src->size - src->next : kJpegPiece;
  src->pub.next_input_byte = src->data + src->next;
  src->pub.bytes_in_buffer = n;
  src->next += n;
  return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count) {
  MemorySource* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (count <= 0) return;
  while (count > long(src->pub.bytes_in_buffer)) {
    count -= long(src->pub.bytes_in_buffer);
    fillInputBuffer(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= size_t(count);
}

void termSource(j_decompress_ptr) {}

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf back;
};

// The library's message goes out (to standard error), then control returns
// to the decoder instead of ending the process.
void errorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->back, 1);
}

// Kept free of objects with destructors: the error exit jumps back into it.
bool decodeJpegCore(const uint8_t* data, size_t size, PixelBuffer* pixels, int* width, int* height) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  MemorySource src;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = errorExit;
  if (setjmp(err.back)) {
    jpeg_destroy_decompress(&cinfo);
    pixels->clear();
    return false;
  }
  jpeg_create_decompress(&cinfo);
  src.pub.init_source = initSource;
  src.pub.fill_input_buffer = fillInputBuffer;
  src.pub.skip_input_data = skipInputData;
  src.pub.resync_to_restart = jpeg_resync_to_restart;
  src.pub.term_source = termSource;
  src.pub.next_input_byte = nullptr;
  src.pub.bytes_in_buffer = 0;
  src.data = data;
  src.size = size;
  src.next = 0;
  cinfo.src = &src.pub;

  jpeg_read_header(&cinfo, TRUE);
  // The size is checked before the library takes any memory for the
  // picture: the pixels, the file's bytes and the library's own working
  // memory (a progressive picture keeps all its coefficients) together stay
  // within the cap.
  const uint64_t claimed = uint64_t(cinfo.image_width) * uint64_t(cinfo.image_height);
  if (claimed == 0 || claimed > kMaxImagePixels || claimed * 3 + size >= kMaxImageMemory) {
    jpeg_destroy_decompress(&cinfo);
    pixels->clear();
    return false;
  }
  cinfo.mem->max_memory_to_use = long(kMaxImageMemory - claimed * 3 - size);
  jpeg_start_decompress(&cinfo);
  const size_t w = cinfo.output_width, h = cinfo.output_height;
  const int components = cinfo.output_components;
  // Only RGB and grey fit three bytes a pixel (a CMYK picture would not).
  if ((components != 1 && components != 3) || w == 0 || h == 0 || uint64_t(w) * uint64_t(h) > kMaxImagePixels ||
      !resizeOrFail(*pixels, w * h * 3)) {
    jpeg_destroy_decompress(&cinfo);
    pixels->clear();
    return false;
  }
  const size_t rowBytes = w * size_t(components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels->data() + size_t(cinfo.output_scanline) * rowBytes;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);

  if (components == 1) {
    // Widen grey in place from the end: each value three times.
    uint8_t* p = pixels->data();
    for (size_t i = w * h; i-- > 0;) p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = p[i];
  }
  *width = int(w);
  *height = int(h);
  return true;
}

}  // namespace

bool decodeJpeg(const uint8_t* data, size_t size, PixelBuffer& pixels, int& width, int& height) {
  pixels.clear();
  if (!data) return false;
  return decodeJpegCore(data, size, &pixels, &width, &height);
}

// ----------------------------------------------------------------- files

namespace {

bool readFile(const std::string& path, std::string& bytes) {
  return processPack().load(path, bytes) != kPackLoadNothing;
}

}  // namespace

int loadImage(std::string_view pathIn, PixelBuffer& pixels, int& width, int& height, int* bits) {
  pixels.clear();
  std::string path(pathIn);
  // The extension is taken from the file name only: a '.' in a directory
  // name is no extension.
  const size_t nameAt = path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && (nameAt == std::string::npos || dot > nameAt);
  const std::string extension = hasExtension ? path.substr(dot) : std::string();
  auto toJpg = [&] {
    if (hasExtension) path = path.substr(0, dot) + ".jpg";
  };

  std::string bytes;
  if (strcasecmp(extension.c_str(), ".bmp") == 0) {
    if (readFile(path, bytes) &&
        decodeBitmap(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pixels, width, height, bits))
      return 0;
    toJpg();
  } else if (strcasecmp(extension.c_str(), ".tga") == 0) {
    if (readFile(path, bytes))
      decodeTga(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pixels, width, height);
    if (bits) *bits = 32;
  }
  if (pixels.empty()) {
    toJpg();
    if (readFile(path, bytes))
      decodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pixels, width, height);
  }
  return pixels.empty() ? -1 : 0;
}
