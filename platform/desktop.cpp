#include "platform/desktop.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace platform {

namespace {
DesktopSource& source() {
  static DesktopSource s;
  return s;
}

// The shift that brings a colour mask's top bit to bit 7.
int shiftOf(unsigned long mask) {
  int top = -1;
  for (int i = 0; i < 64; ++i)
    if (mask & (1ul << i)) top = i;
  return top - 7;
}

uint8_t channel(unsigned long pixel, unsigned long mask, int shift) {
  unsigned long v = pixel & mask;
  return static_cast<uint8_t>(shift >= 0 ? v >> shift : v << -shift);
}
}  // namespace

std::optional<DesktopPicture> captureDesktop() {
  if (source()) return source()();
  return captureX11Desktop();
}

DesktopSource setDesktopSource(DesktopSource s) {
  DesktopSource previous = std::move(source());
  source() = std::move(s);
  return previous;
}

std::optional<DesktopPicture> captureX11Desktop() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return std::nullopt;
  std::optional<DesktopPicture> result;
  Window root = DefaultRootWindow(display);
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, root, &attributes) && attributes.width > 0 && attributes.height > 0) {
    XImage* image = XGetImage(display, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (image) {
      // Only true-colour screens are read; masks give each channel's place.
      if (image->red_mask && image->green_mask && image->blue_mask) {
        DesktopPicture picture;
        picture.width = image->width;
        picture.height = image->height;
        picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
        int rs = shiftOf(image->red_mask), gs = shiftOf(image->green_mask), bs = shiftOf(image->blue_mask);
        size_t o = 0;
        for (int y = 0; y < picture.height; ++y)
          for (int x = 0; x < picture.width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            picture.rgb[o++] = channel(p, image->red_mask, rs);
            picture.rgb[o++] = channel(p, image->green_mask, gs);
            picture.rgb[o++] = channel(p, image->blue_mask, bs);
          }
        result = std::move(picture);
      }
      XDestroyImage(image);
    }
  }
  XCloseDisplay(display);
  return result;
}

unsigned long x11RootWindow() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 0;
  const Window root = DefaultRootWindow(display);
  XCloseDisplay(display);
  return root;
}

}  // namespace platform
