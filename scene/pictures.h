#pragma once
// Where the pictures under the water come from, and how one is made to fit
// the screen: the user's picture files, a snapshot of the desktop, the
// bilinear reduction of pictures larger than the screen.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "source/loadimage.h"

// A picture as the slideshow shows it: 3 bytes per pixel (red, green,
// blue), rows from the top, packed without gaps.
struct RgbPicture {
  int width = 0;
  int height = 0;
  PixelBuffer rgb;
  bool empty() const { return width <= 0 || height <= 0 || rgb.empty(); }
};

// A picture file of the image list, read as the system reads pictures
// (through the pack, with the ".jpg" fallbacks).  A ".tga" file arrives as
// its stored blue-green-red-alpha pixels with the bottom row first; it is
// turned into RGB rows from the top like every other picture.  Nothing for
// a file that can't be read.
std::optional<RgbPicture> loadPicture(std::string_view path);

// The snapshot of the whole desktop, or nothing where it can't be read.
std::optional<RgbPicture> captureDesktop();

// The desktop snapshot is shown only at a sensible size: 100..4096 wide and
// 50..3072 high.  A snapshot one row taller than the screen loses its last
// row (height is changed in place).  False when the size is refused.
bool acceptDesktopSize(int& width, int& height, int screenHeight);

// The scale that fits a picture into the screen without enlarging it:
// sw / w when the picture is wider, then sh / h when that is smaller.
float fitScale(int width, int height, int screenWidth, int screenHeight);

// Reduces a picture by the scale when it is below 1 (each output pixel a
// bilinear sample of the source at (x / a, y / a)); false, with `out`
// untouched, when the picture already fits.
bool reducePicture(const uint8_t* rgb, int width, int height, float scale, RgbPicture& out);

// The image play list: the paths in list order and whether the initial
// pictures are drawn at random.  One list is in use per process (the last
// one a scene was initialised with); the scenes share it.
struct ImageList {
  std::vector<std::string> paths;
  bool randomOrder = false;
  size_t count() const { return paths.size(); }
};

// Splits a double-NUL play list ("a\0b\0\0"); none gives an empty list.
std::vector<std::string> splitPlayList(const char* doubleNul);
