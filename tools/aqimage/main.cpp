// aqimage: loads a picture as the screen saver does and writes what it got.
//   aqimage IN OUT
// Prints "width height bits", then writes OUT as a binary PPM (P6) for
// 3-byte pixels or a PAM (P7, RGB_ALPHA) for 4-byte pixels (a TGA's B, G,
// R, A turned into R, G, B, A), rows in the order delivered.
#include <cstdio>
#include <string>
#include <vector>

#include "source/loadimage.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: aqimage IN OUT\n");
    return 2;
  }
  PixelBuffer pixels;
  int width = 0, height = 0, bits = 0;
  if (loadImage(argv[1], pixels, width, height, &bits) != 0) {
    std::fprintf(stderr, "aqimage: no pixels from %s\n", argv[1]);
    return 1;
  }
  std::printf("%d %d %d\n", width, height, bits);
  const size_t count = size_t(width) * size_t(height);
  const size_t perPixel = count ? pixels.size() / count : 0;
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::fprintf(stderr, "aqimage: cannot write %s\n", argv[2]);
    return 1;
  }
  bool ok = true;
  if (perPixel == 4) {
    std::fprintf(out, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", width, height);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* p = &pixels[4 * i];
      const uint8_t rgba[4] = {p[2], p[1], p[0], p[3]};
      ok = ok && std::fwrite(rgba, 1, 4, out) == 4;
    }
  } else {
    std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    ok = std::fwrite(pixels.data(), 1, count * 3, out) == count * 3;
  }
  ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "aqimage: writing %s failed\n", argv[2]);
    std::remove(argv[2]);
    return 1;
  }
  return 0;
}
