// boatgen: draws the saver's boat picture, a small top-down motor boat with
// its bow at the top and a transparent surround, and writes it as an
// uncompressed 32-bit TGA with alpha (the format the saver reads for
// "boat.tga").
//
//   boatgen OUT.tga [SIZE]      SIZE: width and height in pixels (default 128)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Colour {
  float r, g, b, a;
};

// Half the hull's width (as a fraction of the picture) at v, 0 at the top
// of the picture and 1 at the bottom; negative outside the hull.
constexpr float kBow = 0.05f, kBeam = 0.55f, kTransom = 0.93f, kHalfBeam = 0.2f;

float halfWidth(float v) {
  if (v < kBow || v > kTransom) return -1.0f;
  if (v < kBeam) {
    // A fine bow that fills out towards the widest point.
    const float t = (kBeam - v) / (kBeam - kBow);
    return kHalfBeam * std::pow(1.0f - t * t, 0.7f);
  }
  const float t = (v - kBeam) / (kTransom - kBeam);
  return kHalfBeam * (1.0f - 0.18f * t * t);
}

bool inside(float x, float y, float x0, float y0, float x1, float y1) {
  return x >= x0 && x <= x1 && y >= y0 && y <= y1;
}

// The colour of one point of the picture; x runs -0.5..0.5 across, v 0..1
// from bow to stern.
Colour sample(float x, float v) {
  const float w = halfWidth(v);
  if (w < 0.0f || std::fabs(x) > w) return {0, 0, 0, 0};
  const float edge = w - std::fabs(x);
  const float fromEnds = std::min(v - kBow, kTransom - v);
  // The white rubbing strake all round.
  if (edge < 0.028f || fromEnds < 0.022f) return {0.95f, 0.95f, 0.93f, 1.0f};
  // A dark line inside it, where the deck meets the side.
  if (edge < 0.036f || fromEnds < 0.03f) return {0.25f, 0.2f, 0.17f, 1.0f};
  // The outboard motor's cover on the transom.
  if (inside(x, v, -0.035f, 0.84f, 0.035f, 0.92f)) return {0.12f, 0.12f, 0.14f, 1.0f};
  // The cabin: a pale roof with a dark rim and a blue windscreen at its
  // front.
  if (inside(x, v, -0.11f, 0.36f, 0.11f, 0.66f)) {
    if (inside(x, v, -0.1f, 0.37f, 0.1f, 0.41f)) return {0.25f, 0.45f, 0.65f, 1.0f};
    if (inside(x, v, -0.095f, 0.42f, 0.095f, 0.645f)) return {0.86f, 0.88f, 0.9f, 1.0f};
    return {0.3f, 0.3f, 0.33f, 1.0f};
  }
  // The wooden deck, planked along the boat.
  const float plank = std::fmod(x + 0.5f, 0.045f);
  const float shade = plank < 0.006f ? 0.62f : 1.0f;
  return {0.62f * shade, 0.42f * shade, 0.24f * shade, 1.0f};
}

bool writeTga(const std::string& path, int size, const std::vector<uint8_t>& bgra) {
  uint8_t header[18] = {};
  header[2] = 2;  // uncompressed true colour
  header[12] = static_cast<uint8_t>(size & 0xFF);
  header[13] = static_cast<uint8_t>(size >> 8);
  header[14] = static_cast<uint8_t>(size & 0xFF);
  header[15] = static_cast<uint8_t>(size >> 8);
  header[16] = 32;
  header[17] = 8;  // 8 alpha bits, rows from the bottom
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header &&
            std::fwrite(bgra.data(), 1, bgra.size(), f) == bgra.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: boatgen OUT.tga [SIZE]\n");
    return 2;
  }
  const int size = argc == 3 ? std::atoi(argv[2]) : 128;
  if (size < 8 || size > 1024) {
    std::fprintf(stderr, "boatgen: the size must be 8..1024 pixels\n");
    return 2;
  }
  // Four by four samples a pixel, so the outline is smooth.
  constexpr int kSub = 4;
  std::vector<uint8_t> bgra(static_cast<size_t>(size) * size * 4);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      float r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSub; ++sy)
        for (int sx = 0; sx < kSub; ++sx) {
          const float fx = (static_cast<float>(x) + (sx + 0.5f) / kSub) / static_cast<float>(size) - 0.5f;
          const float fv = (static_cast<float>(y) + (sy + 0.5f) / kSub) / static_cast<float>(size);
          const Colour c = sample(fx, fv);
          r += c.r * c.a;
          g += c.g * c.a;
          b += c.b * c.a;
          a += c.a;
        }
      // Colours are kept unpremultiplied, so the faded rim keeps its hue.
      const float n = kSub * kSub;
      const float alpha = a / n;
      auto byte = [](float v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
      // Rows are stored from the bottom of the picture.
      uint8_t* p = &bgra[(static_cast<size_t>(size - 1 - y) * size + x) * 4];
      p[0] = a > 0 ? byte(b / a) : 0;
      p[1] = a > 0 ? byte(g / a) : 0;
      p[2] = a > 0 ? byte(r / a) : 0;
      p[3] = byte(alpha);
    }
  }
  if (!writeTga(argv[1], size, bgra)) {
    std::fprintf(stderr, "boatgen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
