// Monitors, adapters and the choice of device type, vertex processing,
// display mode and back-buffer format.
#include <algorithm>
#include <cstring>

#include "shell/saverapp.h"

using namespace platform;

namespace {

bool is16Bit(D3DFORMAT f) {
  return f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5 || f == D3DFMT_A1R5G5B5 || f == D3DFMT_A4R4G4B4 ||
         f == D3DFMT_X4R4G4B4;
}

// The 16-bit formats the default 640x480 mode prefers.
bool isDefault16Bit(D3DFORMAT f) { return f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5 || f == D3DFMT_A1R5G5B5; }

bool is32Bit(D3DFORMAT f) { return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8; }

void copyText(char* out, size_t room, const char* text) {
  size_t n = 0;
  while (n + 1 < room && text[n]) {
    out[n] = text[n];
    ++n;
  }
  out[n] = '\0';
}

struct CollectedMode {
  uint32_t width, height;
  D3DFORMAT format;
};

}  // namespace

void SaverApp::enumMonitors() {
  monitorCount = 0;
  for (DWORD index = 0; monitorCount < kMaxMonitors; ++index) {
    DISPLAY_DEVICEA device;
    device.cb = sizeof(DISPLAY_DEVICEA);
    if (!EnumDisplayDevicesA(nullptr, index, &device, 0)) break;
    if (device.StateFlags & DISPLAY_DEVICE_MIRRORING_DRIVER) continue;

    MonitorInfo& monitor = monitors[monitorCount];
    monitor = MonitorInfo{};
    copyText(monitor.adapterName, sizeof(monitor.adapterName), device.DeviceString);
    monitor.adapterIndex = -1;
    if (device.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP) {
      DEVMODEA settings;
      settings.dmSize = 148;
      EnumDisplaySettingsA(device.DeviceName, ENUM_CURRENT_SETTINGS, &settings);
      RECT& r = monitor.screenRect;
      if (device.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) {
        r.left = 0;
        r.top = 0;
      } else {
        r.left = settings.dmPosition.x;
        r.top = settings.dmPosition.y;
      }
      r.right = r.left + static_cast<LONG>(settings.dmPelsWidth);
      r.bottom = r.top + static_cast<LONG>(settings.dmPelsHeight);
      monitor.monitorHandle = MonitorFromRect(&r, MONITOR_DEFAULTTONULL);
    }
    ++monitorCount;
  }
}

DWORD SaverApp::chooseBehaviour(const D3DCAPS8& caps, D3DFORMAT format) {
  if (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) {
    if ((caps.DevCaps & D3DDEVCAPS_PUREDEVICE) &&
        SUCCEEDED(confirmDevice(caps, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE, format)))
      return D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE;
    if (SUCCEEDED(confirmDevice(caps, D3DCREATE_HARDWARE_VERTEXPROCESSING, format)))
      return D3DCREATE_HARDWARE_VERTEXPROCESSING;
    if (SUCCEEDED(confirmDevice(caps, D3DCREATE_MIXED_VERTEXPROCESSING, format)))
      return D3DCREATE_MIXED_VERTEXPROCESSING;
  }
  if (SUCCEEDED(confirmDevice(caps, D3DCREATE_SOFTWARE_VERTEXPROCESSING, format)))
    return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  return 0;
}

HRESULT SaverApp::buildDeviceList() {
  const UINT count = std::min<UINT>(d3d ? d3d->GetAdapterCount() : 0, kMaxAdapters);
  adapterCount = 0;
  for (UINT a = 0; a < count; ++a) {
    if (!adapters[a]) {
      adapters[a].reset(new (std::nothrow) AdapterInfo());
      if (!adapters[a]) return E_OUTOFMEMORY;
    }
    AdapterInfo& adapter = *adapters[a];
    // Everything starts afresh, the user's choices too: readSettings fills
    // them after the list is built.
    adapter = AdapterInfo{};
    d3d->GetAdapterIdentifier(a, D3DENUM_NO_WHQL_LEVEL, &adapter.identifier);
    d3d->GetAdapterDisplayMode(a, &adapter.desktopMode);
    adapter.monitorIndex = -1;

    const HMONITOR monitorHandle = d3d->GetAdapterMonitor(a);
    if (monitorHandle != 0) {
      for (uint32_t m = 0; m < monitorCount; ++m) {
        if (monitors[m].monitorHandle == monitorHandle) {
          adapter.monitorIndex = static_cast<int32_t>(m);
          monitors[m].adapterIndex = static_cast<int32_t>(a);
          break;
        }
      }
    }

    // Distinct modes (refresh rates not told apart) and their formats.
    CollectedMode modes[kMaxCollectedModes];
    int modeCount = 0;
    D3DFORMAT formats[kMaxCollectedFormats];
    int formatCount = 0;
    formats[formatCount++] = adapter.desktopMode.Format;
    const UINT listed = d3d->GetAdapterModeCount(a);
    for (UINT i = 0; i < listed; ++i) {
      D3DDISPLAYMODE listedMode;
      if (FAILED(d3d->EnumAdapterModes(a, i, &listedMode))) continue;
      if (listedMode.Width < 640 || listedMode.Height < 400) continue;
      bool known = false;
      for (int j = 0; j < modeCount && !known; ++j)
        known = modes[j].width == listedMode.Width && modes[j].height == listedMode.Height &&
                modes[j].format == listedMode.Format;
      if (known) continue;
      if (modeCount < kMaxCollectedModes) modes[modeCount++] = {listedMode.Width, listedMode.Height, listedMode.Format};
      bool formatKnown = false;
      for (int j = 0; j < formatCount && !formatKnown; ++j) formatKnown = formats[j] == listedMode.Format;
      if (!formatKnown && formatCount < kMaxCollectedFormats) formats[formatCount++] = listedMode.Format;
    }
    std::sort(modes, modes + modeCount, [](const CollectedMode& x, const CollectedMode& y) {
      if (x.width != y.width) return x.width < y.width;
      if (x.height != y.height) return x.height < y.height;
      return x.format > y.format;
    });

    static constexpr D3DDEVTYPE kTypes[] = {D3DDEVTYPE_HAL, D3DDEVTYPE_SW};
    for (D3DDEVTYPE type : kTypes) {
      DeviceKind& kind = adapter.deviceKinds[adapter.deviceKindCount];
      kind = DeviceKind{};
      kind.deviceType = type;
      if (FAILED(d3d->GetDeviceCaps(a, type, &kind.caps))) kind.caps = D3DCAPS8{};
      copyText(kind.name, sizeof(kind.name), type == D3DDEVTYPE_HAL ? "HAL" : "SW");

      DWORD formatFlags[kMaxCollectedFormats] = {};
      bool usable[kMaxCollectedFormats] = {};
      for (int f = 0; f < formatCount; ++f) {
        if (FAILED(d3d->CheckDeviceType(a, type, formats[f], formats[f], FALSE))) continue;
        if (type == D3DDEVTYPE_SW)
          adapter.hasSw = true;
        else
          adapter.hasHal = true;
        formatFlags[f] = chooseBehaviour(kind.caps, formats[f]);
        usable[f] = formatFlags[f] != 0;
      }

      for (int i = 0; i < modeCount && kind.modeCount < kMaxModes; ++i) {
        for (int f = 0; f < formatCount; ++f) {
          if (formats[f] != modes[i].format || !usable[f]) continue;
          ModeInfo& added = kind.modes[kind.modeCount++];
          added.width = modes[i].width;
          added.height = modes[i].height;
          added.format = modes[i].format;
          added.behaviourFlags = formatFlags[f];
          added.depthStencilFormat = D3DFMT_UNKNOWN;
          break;
        }
      }

      // The default: the first 16-bit 640x480 mode, else the last 640x480
      // one, else the first mode.
      for (uint32_t i = 0; i < kind.modeCount; ++i) {
        if (kind.modes[i].width == 640 && kind.modes[i].height == 480) {
          kind.currentMode = i;
          if (isDefault16Bit(kind.modes[i].format)) break;
        }
      }

      kind.canWindowed = usable[0] && (kind.caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED) != 0;

      if (kind.modeCount > 0) {
        ++adapter.deviceKindCount;
        if (type == D3DDEVTYPE_SW)
          adapter.hasCompatibleSw = true;
        else
          adapter.hasCompatibleHal = true;
      }
    }
    adapterCount = a + 1;
  }
  return S_OK;
}

bool SaverApp::findBestAdapter(uint32_t* adapter) {
  int32_t softwareChoice = -1;
  for (uint32_t m = 0; m < monitorCount; ++m) {
    const int32_t a = monitors[m].adapterIndex;
    if (a < 0 || static_cast<uint32_t>(a) >= adapterCount || !adapters[a]) continue;
    if (adapters[a]->hasCompatibleHal) {
      *adapter = static_cast<uint32_t>(a);
      return true;
    }
    if (adapters[a]->hasCompatibleSw) softwareChoice = a;
  }
  if (softwareChoice >= 0) {
    *adapter = static_cast<uint32_t>(softwareChoice);
    return true;
  }
  return false;
}

bool SaverApp::stepDownMode(DeviceKind& kind) {
  if (kind.currentMode >= kind.modeCount) return false;
  const ModeInfo current = kind.modes[kind.currentMode];
  const uint64_t area = static_cast<uint64_t>(current.width) * current.height;

  // A 32-bit mode that failed is tried at the same size in another depth first.
  if (is32Bit(current.format)) {
    for (uint32_t i = 0; i < kind.modeCount; ++i) {
      const ModeInfo& m = kind.modes[i];
      if (i != kind.currentMode && m.width == current.width && m.height == current.height && !is32Bit(m.format)) {
        kind.currentMode = i;
        return true;
      }
    }
  }

  // Else the largest smaller mode, preferring 32-bit ones.
  int64_t best = -1;
  uint64_t bestArea = 0;
  bool best32 = false;
  for (uint32_t i = 0; i < kind.modeCount; ++i) {
    if (i == kind.currentMode) continue;
    const ModeInfo& m = kind.modes[i];
    const uint64_t a = static_cast<uint64_t>(m.width) * m.height;
    if (a >= area) continue;
    if (a > bestArea || (!best32 && is32Bit(m.format))) {
      best = i;
      bestArea = a;
      best32 = is32Bit(m.format);
    }
  }
  if (best < 0) return false;
  kind.currentMode = static_cast<uint32_t>(best);
  return true;
}

HRESULT SaverApp::createFullscreenDevice(RenderUnit& unit) {
  if (unit.adapterIndex >= adapterCount || !adapters[unit.adapterIndex] ||
      adapters[unit.adapterIndex]->deviceKindCount == 0)
    return E_FAIL;
  AdapterInfo& adapter = *adapters[unit.adapterIndex];

  DeviceKind* kind = nullptr;
  for (uint32_t k = 0; k < adapter.deviceKindCount && !kind; ++k) {
    DeviceKind& candidate = adapter.deviceKinds[k];
    if (candidate.deviceType == D3DDEVTYPE_HAL && !adapter.disableHardware) kind = &candidate;
    if (candidate.deviceType == D3DDEVTYPE_SW) kind = &candidate;
  }
  if (!kind) return errNoHardwareDevice;

  kind->currentMode = kNone;
  if (adapter.modeWidth != 0) {
    for (uint32_t i = 0; i < kind->modeCount; ++i) {
      const ModeInfo& m = kind->modes[i];
      if (m.width == adapter.modeWidth && m.height == adapter.modeHeight && m.format == adapter.modeFormat) {
        kind->currentMode = i;
        break;
      }
    }
  }

  if (kind->currentMode == kNone) {
    if (kind->deviceType == D3DDEVTYPE_SW) {
      // The software renderer gets the lowest mode; 640x400 is never used
      // (the sorted list starts with it when offered, so it cannot be the
      // starting choice either).
      int64_t best = -1;
      for (uint32_t i = 0; i < kind->modeCount; ++i) {
        const ModeInfo& m = kind->modes[i];
        if (m.height == 400) continue;
        if (best < 0 || m.height < kind->modes[best].height ||
            (m.height == kind->modes[best].height && !is16Bit(kind->modes[best].format)))
          best = i;
      }
      kind->currentMode = best < 0 ? 0 : static_cast<uint32_t>(best);
    } else {
      // The hardware keeps the desktop's size, in its format when offered.
      kind->currentMode = 0;
      bool sizeFound = false;
      for (uint32_t i = 0; i < kind->modeCount; ++i) {
        const ModeInfo& m = kind->modes[i];
        if (m.width != adapter.desktopMode.Width || m.height != adapter.desktopMode.Height) continue;
        if (m.format == adapter.desktopMode.Format) {
          kind->currentMode = i;
          break;
        }
        if (!sizeFound) {
          kind->currentMode = i;
          sizeFound = true;
        }
      }
    }
  }

  HRESULT hr = E_FAIL;
  for (;;) {
    const ModeInfo& chosen = kind->modes[kind->currentMode];
    D3DPRESENT_PARAMETERS& pp = unit.presentParams;
    pp = D3DPRESENT_PARAMETERS{};
    pp.BackBufferWidth = chosen.width;
    pp.BackBufferHeight = chosen.height;
    pp.BackBufferFormat = chosen.format;
    pp.BackBufferCount = 1;
    pp.MultiSampleType = D3DMULTISAMPLE_NONE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.hDeviceWindow = adapter.deviceWindow;
    pp.Windowed = FALSE;
    pp.EnableAutoDepthStencil = FALSE;
    pp.AutoDepthStencilFormat = chosen.depthStencilFormat;
    pp.Flags = 0;
    pp.FullScreen_RefreshRateInHz = D3DPRESENT_RATE_DEFAULT;
    pp.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_ONE;
    unit.monitorIndex = adapter.monitorIndex;
    unit.deviceType = kind->deviceType;
    unit.behaviourFlags = chosen.behaviourFlags;

    Direct3DDevice8* device = nullptr;
    D3DPRESENT_PARAMETERS params = pp;
    hr = d3d->CreateDevice(unit.adapterIndex, kind->deviceType, mainWindow, chosen.behaviourFlags, &params, &device);
    if (SUCCEEDED(hr)) {
      hr = confirmMode(device);
      if (FAILED(hr)) {
        device->Release();
        device = nullptr;
      }
    }
    if (SUCCEEDED(hr)) {
      unit.device = device;
      return hr;
    }
    if (!stepDownMode(*kind)) return hr;
  }
}

HRESULT SaverApp::confirmWindowedFormat(uint32_t adapterIndex, D3DFORMAT format, DWORD* flags) {
  AdapterInfo& adapter = *adapters[adapterIndex];
  const DeviceKind& kind = adapter.deviceKinds[adapter.currentDeviceKind];
  const HRESULT hr = d3d->CheckDeviceType(adapterIndex, kind.deviceType, adapter.desktopMode.Format, format, TRUE);
  if (FAILED(hr)) return hr;
  const DWORD chosen = chooseBehaviour(kind.caps, format);
  if (chosen == 0) return E_FAIL;
  if (flags) *flags = chosen;
  return S_OK;
}

HRESULT SaverApp::createWindowedDevice(RenderUnit& unit) {
  if (unit.adapterIndex >= adapterCount || !adapters[unit.adapterIndex]) return E_FAIL;
  AdapterInfo& adapter = *adapters[unit.adapterIndex];

  adapter.currentDeviceKind = kNone;
  for (uint32_t k = 0; k < adapter.deviceKindCount; ++k) {
    const DeviceKind& candidate = adapter.deviceKinds[k];
    if (!candidate.canWindowed) continue;
    if ((candidate.deviceType == D3DDEVTYPE_HAL && !adapter.disableHardware) || candidate.deviceType == D3DDEVTYPE_SW) {
      adapter.currentDeviceKind = k;
      break;
    }
  }
  if (adapter.currentDeviceKind == kNone) return errNoHardwareDevice;
  const DeviceKind& kind = adapter.deviceKinds[adapter.currentDeviceKind];

  const D3DFORMAT candidates[] = {adapter.desktopMode.Format, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A1R5G5B5,
                                  D3DFMT_R5G6B5};
  D3DFORMAT format = D3DFMT_UNKNOWN;
  DWORD flags = 0;
  for (D3DFORMAT candidate : candidates) {
    if (SUCCEEDED(confirmWindowedFormat(unit.adapterIndex, candidate, &flags))) {
      format = candidate;
      break;
    }
  }
  if (format == D3DFMT_UNKNOWN) return E_FAIL;

  D3DPRESENT_PARAMETERS& pp = unit.presentParams;
  pp = D3DPRESENT_PARAMETERS{};
  pp.BackBufferWidth = 0;
  pp.BackBufferHeight = 0;
  pp.BackBufferFormat = format;
  pp.BackBufferCount = 1;
  pp.MultiSampleType = D3DMULTISAMPLE_NONE;
  pp.SwapEffect = D3DSWAPEFFECT_COPY;
  pp.hDeviceWindow = adapter.deviceWindow;
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = FALSE;
  pp.AutoDepthStencilFormat = D3DFMT_UNKNOWN;
  pp.Flags = 0;
  pp.FullScreen_RefreshRateInHz = 0;
  pp.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
  unit.monitorIndex = adapter.monitorIndex;
  unit.deviceType = kind.deviceType;
  unit.behaviourFlags = flags;

  Direct3DDevice8* device = nullptr;
  D3DPRESENT_PARAMETERS params = pp;
  const HRESULT hr = d3d->CreateDevice(unit.adapterIndex, kind.deviceType, mainWindow, flags, &params, &device);
  if (SUCCEEDED(hr)) unit.device = device;
  return hr;
}
