// Any bytes through the three picture decoders (bitmap, TGA, JPEG).  Beyond
// the sanitizers' checks: a decoder that gives pixels gives exactly
// width x height of them, one that gives none leaves the buffer empty, and
// every byte delivered is written by the decoder (decoding into buffers
// prefilled with two different patterns must give the same pixels).
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "source/loadimage.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_image: %s\n", what);
  std::abort();
}

// Pictures whose headers claim more pixels than this are not decoded: the
// decoders accept up to 2^28 pixels by design, and filling or decoding
// hundreds of megabytes per input would leave the fuzzer no time for
// anything else.
constexpr uint64_t kMaxFuzzPixels = uint64_t(1) << 20;

uint32_t le16(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The pixel count a bitmap header claims, read as loosely as the decoder
// reads it (0 when there is no header to read).
uint64_t bitmapClaim(const uint8_t* data, size_t size) {
  size_t at = (size >= 14 && le16(data) == 0x4D42) ? 14 : 0;
  if (size < at + 16) return 0;
  const uint8_t* info = data + at;
  const uint32_t header = le32(info);
  int64_t w = 0, h = 0;
  if (header == 12) {
    w = le16(info + 4);
    h = le16(info + 6);
  } else if (header == 40 && size >= at + 12) {
    w = int32_t(le32(info + 4));
    h = int32_t(le32(info + 8));
  }
  if (w < 0) w = -w;
  if (h < 0) h = -h;
  return uint64_t(w) * uint64_t(h);
}

struct HeaderError {
  jpeg_error_mgr pub;
  jmp_buf back;
};

void headerErrorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<HeaderError*>(cinfo->err)->back, 1); }
void quietMessage(j_common_ptr) {}

// The output size a JPEG header claims (0 when the header can't be read).
uint64_t jpegClaim(const uint8_t* data, size_t size) {
  jpeg_decompress_struct cinfo;
  HeaderError err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = headerErrorExit;
  err.pub.output_message = quietMessage;
  if (setjmp(err.back)) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  const uint64_t pixels = uint64_t(cinfo.image_width) * uint64_t(cinfo.image_height);
  jpeg_destroy_decompress(&cinfo);
  return pixels;
}

// A buffer whose storage holds `fill` in every byte up to `capacity`; the
// decoders clear and resize it within that capacity, so bytes they don't
// write keep the fill.
PixelBuffer prefilled(size_t capacity, uint8_t fill) {
  PixelBuffer b;
  b.resize(capacity, fill);
  b.clear();
  return b;
}

using Decoder = bool (*)(const uint8_t*, size_t, PixelBuffer&, int&, int&);

bool viaBitmap(const uint8_t* d, size_t n, PixelBuffer& p, int& w, int& h) {
  int bits = -7;
  const bool ok = decodeBitmap(d, n, p, w, h, &bits);
  if (bits != -7 && bits != 8) fail("bitmap reported bits other than 8");
  return ok;
}

void check(Decoder decode, const uint8_t* data, size_t size, size_t bytesPerPixel) {
  PixelBuffer pixels = prefilled(64, 0x5A);
  int w = -1, h = -1;
  if (!decode(data, size, pixels, w, h)) {
    if (!pixels.empty()) fail("failed decode left pixels");
    return;
  }
  if (w <= 0 || h <= 0) fail("pixels with an empty size");
  if (pixels.size() != size_t(w) * size_t(h) * bytesPerPixel) fail("pixel count differs from the size");

  // Every delivered byte is the decoder's: two different prefills agree.
  PixelBuffer a = prefilled(pixels.size(), 0x00), b = prefilled(pixels.size(), 0xFF);
  int wa = 0, ha = 0, wb = 0, hb = 0;
  if (!decode(data, size, a, wa, ha) || !decode(data, size, b, wb, hb)) fail("second decode failed");
  if (wa != w || ha != h || wb != w || hb != h) fail("second decode differs in size");
  if (a != b || a != pixels) fail("pixels not written by the decoder");
}

}  // namespace

// libjpeg writes a line to standard error for every damaged picture; the
// fuzzer's own output and the sanitizers' reports are kept apart from it.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i)
    if (std::strncmp((*argv)[i], "-close_fd_mask=", 15) == 0) return 0;
  static std::vector<char*> args;
  args.assign(*argv, *argv + *argc);
  static char quiet[] = "-close_fd_mask=2";
  args.insert(args.begin() + 1, quiet);
  args.push_back(nullptr);
  *argc += 1;
  *argv = args.data();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  if (bitmapClaim(data, size) <= kMaxFuzzPixels) check(viaBitmap, data, size, 3);
  check(decodeTga, data, size, 4);
  if (jpegClaim(data, size) <= kMaxFuzzPixels) check(decodeJpeg, data, size, 3);
  return 0;
}
