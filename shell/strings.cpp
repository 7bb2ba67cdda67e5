#include "shell/strings.h"

#include <cstring>

namespace {

struct StringEntry {
  int id;
  const char* text;
};

constexpr StringEntry stringTable[] = {
    {2100, "There was an unspecified problem with this screen saver."},
    {2101, "Direct3D 8.0 could not be initialized.  Please install the latest version of DirectX."},
    {2102, "Could not initialize the screen saver."},
    {2103, "Could not create the Direct3D device."},
    {2104,
     "Could not find any compatible Direct3D devices. If your display card is a Direct3D hardware accelerated card, "
     "please install the latest display driver for your display card."},
    {2105,
     "No hardware-accelerated Direct3D devices were found. If your display card is a Direct3D hardware accelerated "
     "card, please install the latest display driver for your display card."},
    {2106, "This screen saver requires functionality that is not available on your Direct3D hardware accelerator."},
    {2107,
     "This screen saver requires functionality that is not available on your Direct3D hardware accelerator with the "
     "current desktop display settings."},
    {2108, "Could not load required media."},
    {2109, "Could not reset the Direct3D device."},
    {2110, "Not enough memory."},
    {2111, "Not enough video memory."},
    {2112, "No preview available"},
    {2200, "This video adapter supports hardware 3D rendering.  This screen saver can be displayed on this monitor."},
    {2201,
     "This video adapter supports hardware 3D rendering, but this screensaver requires functionality not available in "
     "hardware.  A software renderer will be used instead.  This screen saver can be displayed on this monitor."},
    {2202,
     "This video adapter supports hardware 3D rendering, but this screensaver requires functionality not available in "
     "hardware or software.  This screen saver cannot be displayed on this monitor."},
    {2203,
     "This video adapter supports hardware 3D rendering, but this screensaver requires functionality not available in "
     "hardware.  No software renderer is available.  This screen saver cannot be displayed on this monitor."},
    {2204,
     "This video adapter does not support hardware 3D rendering.  A software renderer will be used instead.  This "
     "screen saver can be displayed on this monitor."},
    {2205,
     "This video adapter does not support hardware 3D rendering.  This screensaver requires functionality not "
     "available in the software renderer.  This screen saver cannot be displayed on this monitor."},
    {2206,
     "This video adapter does not support hardware 3D rendering.  No software renderer is available.  This screen "
     "saver cannot be displayed on this monitor."},
    {2207,
     "The video adapter supports hardware 3D rendering, but it has been disabled.  A software renderer will be used "
     "instead.  This screen saver can be displayed on this monitor."},
    {2208,
     "This video adapter supports hardware 3D rendering, but it has been disabled.  This screensaver requires "
     "functionality not available in the software renderer.  This screen saver cannot be displayed on this monitor."},
    {2209,
     "This video adapter supports hardware 3D rendering, but it has been disabled.  No software renderer is available. "
     " This screen saver cannot be displayed on this monitor."},
    {2210, "The screen saver can use hardware 3D rendering on this monitor."},
    {2211, "The screen saver can use software 3D rendering on this monitor."},
    {2212, "The screen saver cannot be displayed on this monitor."},
};

struct ErrorEntry {
  HRESULT code;
  int id;
};

// The codes that have messages of their own; every other code, and
// errDeviceObjectsFailed, is explained by the general message 2100.
constexpr ErrorEntry errorTable[] = {
    {E_FAIL, 2100},
    {errNoDirect3D, 2101},
    {errNoWindowedHal, 2102},
    {errCreateDeviceFailed, 2103},
    {errNoCompatibleDevices, 2104},
    {errNoHardwareDevice, 2105},
    {errHalNotCompatible, 2106},
    {errHalNotCompatibleWithDesktop, 2107},
    {errMediaNotFound, 2108},
    {errResetFailed, 2109},
    {E_OUTOFMEMORY, 2110},
    {errOutOfVideoMemory, 2111},
    {errNoPreview, 2112},
};

}  // namespace

const char* loadString(int id) {
  for (const StringEntry& e : stringTable)
    if (e.id == id) return e.text;
  return "";
}

int stringIdForError(HRESULT code) {
  for (const ErrorEntry& e : errorTable)
    if (e.code == code) return e.id;
  return 2100;
}

bool getTextForError(HRESULT code, char* buffer, size_t size) {
  int id = stringIdForError(code);
  if (buffer && size > 0) {
    const char* text = loadString(id);
    size_t n = std::strlen(text);
    if (n >= size) n = size - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = 0;
  }
  return id != 2100;
}
