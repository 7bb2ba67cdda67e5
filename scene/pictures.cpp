#include "scene/pictures.h"

#include <strings.h>
#include <cstring>

#include "platform/desktop.h"

namespace {

bool hasTgaExtension(std::string_view path) {
  const size_t nameAt = path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (nameAt != std::string_view::npos && dot < nameAt)) return false;
  const std::string extension(path.substr(dot));
  return strcasecmp(extension.c_str(), ".tga") == 0;
}

}  // namespace

std::optional<RgbPicture> loadPicture(std::string_view path) {
  RgbPicture picture;
  if (loadImage(path, picture.rgb, picture.width, picture.height) != 0 || picture.width <= 0 || picture.height <= 0)
    return std::nullopt;
  const size_t pixels = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
  // A TGA delivers 4 bytes a pixel; when it could not be read and its
  // ".jpg" twin was, the pixels are already RGB rows from the top.
  if (hasTgaExtension(path) && picture.rgb.size() == pixels * 4) {
    PixelBuffer rgb(pixels * 3);
    const size_t rowBytes = static_cast<size_t>(picture.width) * 4;
    for (int y = 0; y < picture.height; ++y) {
      const uint8_t* source = picture.rgb.data() + static_cast<size_t>(picture.height - 1 - y) * rowBytes;
      uint8_t* target = rgb.data() + static_cast<size_t>(y) * picture.width * 3;
      for (int x = 0; x < picture.width; ++x, source += 4, target += 3) {
        target[0] = source[2];
        target[1] = source[1];
        target[2] = source[0];
      }
    }
    picture.rgb = std::move(rgb);
  }
  if (picture.rgb.size() != pixels * 3) return std::nullopt;
  return picture;
}

std::optional<RgbPicture> captureDesktop() {
  std::optional<platform::DesktopPicture> desktop = platform::captureDesktop();
  if (!desktop || desktop->width <= 0 || desktop->height <= 0 ||
      desktop->rgb.size() != static_cast<size_t>(desktop->width) * desktop->height * 3)
    return std::nullopt;
  RgbPicture picture;
  picture.width = desktop->width;
  picture.height = desktop->height;
  picture.rgb.assign(desktop->rgb.begin(), desktop->rgb.end());
  return picture;
}

bool acceptDesktopSize(int& width, int& height, int screenHeight) {
  if (width < 100 || width > 4096 || height < 50 || height > 3072) return false;
  if (height == screenHeight + 1) --height;
  return true;
}

float fitScale(int width, int height, int screenWidth, int screenHeight) {
  float a = width > screenWidth ? static_cast<float>(screenWidth) / static_cast<float>(width) : 1.0f;
  const float byHeight = static_cast<float>(screenHeight) / static_cast<float>(height);
  if (byHeight < a) a = byHeight;
  return a;
}

bool reducePicture(const uint8_t* rgb, int width, int height, float scale, RgbPicture& out) {
  if (!rgb || width <= 0 || height <= 0 || !(scale < 1.0f) || !(scale > 0.0f)) return false;
  const int newWidth = static_cast<int>(scale * static_cast<float>(width));
  const int newHeight = static_cast<int>(scale * static_cast<float>(height));
  if (newWidth <= 0 || newHeight <= 0) return false;
  out.width = newWidth;
  out.height = newHeight;
  out.rgb.resize(static_cast<size_t>(newWidth) * newHeight * 3);
  const size_t stride = static_cast<size_t>(width) * 3;
  uint8_t* target = out.rgb.data();
  for (int y = 0; y < newHeight; ++y) {
    const float sy = static_cast<float>(y) / scale;
    int r = static_cast<int>(sy);
    const float fy = sy - static_cast<float>(r);
    // The sample's lower neighbours stay inside the picture even where the
    // float division lands on its last row or column.
    if (r > height - 1) r = height - 1;
    const int r1 = r + 1 < height ? r + 1 : height - 1;
    const uint8_t* row0 = rgb + static_cast<size_t>(r) * stride;
    const uint8_t* row1 = rgb + static_cast<size_t>(r1) * stride;
    for (int x = 0; x < newWidth; ++x, target += 3) {
      const float sx = static_cast<float>(x) / scale;
      int c = static_cast<int>(sx);
      const float fx = sx - static_cast<float>(c);
      if (c > width - 1) c = width - 1;
      const int c1 = c + 1 < width ? c + 1 : width - 1;
      for (int k = 0; k < 3; ++k) {
        const float p00 = row0[c * 3 + k], p10 = row1[c * 3 + k];
        const float p01 = row0[c1 * 3 + k], p11 = row1[c1 * 3 + k];
        const float value = (1.0f - fx) * ((1.0f - fy) * p00 + fy * p10) + fx * ((1.0f - fy) * p01 + fy * p11);
        target[k] = static_cast<uint8_t>(value);
      }
    }
  }
  return true;
}

std::vector<std::string> splitPlayList(const char* doubleNul) {
  std::vector<std::string> paths;
  if (!doubleNul) return paths;
  for (const char* p = doubleNul; *p; p += std::strlen(p) + 1) paths.emplace_back(p);
  return paths;
}
