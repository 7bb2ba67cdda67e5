#pragma once
// A snapshot of the whole desktop as a picture: the X11 root window read back
// as RGB rows.  Where there is no X display (a headless run) there is no
// snapshot.  Tests install their own source to give any picture or none.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

struct DesktopPicture {
  int width = 0;
  int height = 0;
  // 3 bytes per pixel in the order red, green, blue; rows top to bottom,
  // packed without gaps (width * height * 3 bytes).
  std::vector<uint8_t> rgb;
};

// The current desktop, or nothing when it cannot be read.
std::optional<DesktopPicture> captureDesktop();

// Replaces the source of captureDesktop() (an empty function restores the X11
// one).  Returns the previous source.
using DesktopSource = std::function<std::optional<DesktopPicture>()>;
DesktopSource setDesktopSource(DesktopSource source);

// The X11 root window itself, whatever source is installed.
std::optional<DesktopPicture> captureX11Desktop();

// The id of the X11 root window of the default screen; 0 without a display.
unsigned long x11RootWindow();

}  // namespace platform
