// The SDL window system: native windows are SDL windows (each able to carry
// an OpenGL context), SDL events become Win32 messages, displays are the
// monitors.  Preview windows are placed inside a foreign X11 window by
// reparenting the SDL window's X window into it.
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "platform/clock.h"
#include "platform/sdlbackend.h"
#include "platform/windowcore.h"

namespace platform {

namespace {

constexpr LPARAM HTCLIENT = 1;

bool isX11() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver && std::strcmp(driver, "x11") == 0;
}

bool isHeadless() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return !driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0;
}

int xErrors = 0;
int countXError(::Display*, XErrorEvent*) {
  ++xErrors;
  return 0;
}

// A preview lives inside another program's window, which may vanish at any
// moment (the settings dialog closes), taking our window with it.  Errors
// about those windows are expected then and must not end the program; all
// other errors go to the handler that was there before.
std::set<unsigned long> embeddedWindows;
XErrorHandler outerHandler = nullptr;
int embeddedXError(::Display* display, XErrorEvent* e) {
  if (embeddedWindows.count(e->resourceid)) return 0;
  return outerHandler ? outerHandler(display, e) : 0;
}
void watchEmbedded(unsigned long window, unsigned long parent) {
  static bool installed = false;
  if (!installed) {
    outerHandler = XSetErrorHandler(embeddedXError);
    installed = true;
  }
  embeddedWindows.insert(window);
  embeddedWindows.insert(parent);
}

RECT toRect(const SDL_Rect& r) { return RECT{r.x, r.y, r.x + r.w, r.y + r.h}; }

WPARAM virtualKey(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return VK_F1 + (key - SDLK_F1);
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return VK_NUMPAD0 + 1 + (key - SDLK_KP_1);
  switch (key) {
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_PAUSE: return VK_PAUSE;
    case SDLK_CAPSLOCK: return VK_CAPITAL;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_KP_0: return VK_NUMPAD0;
    default:
      // Every other key still counts as a key: it must end the saver.
      return 0xFF;
  }
}

}  // namespace

bool ensureSdlVideo() {
  static int state = 0;  // 0 untried, 1 ready, -1 failed
  if (state == 0) {
    // Window surfaces must not take a GL renderer of their own: the device
    // owns the window's GL context.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    state = SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0 ? 1 : -1;
    if (state < 0) {
      std::fprintf(stderr, "aquaveil: no display: %s\n", SDL_GetError());
    } else {
      // Every window is made ready for the devices' OpenGL 3.3 core
      // contexts: the visual is chosen when the window is made.
      SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
      SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
      SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
      SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
      SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
      SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
      SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
      SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
      SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
      // Keep the OpenGL library loaded for the whole run: SDL would unload
      // and reload it with every last OpenGL window.
      SDL_GL_LoadLibrary(nullptr);
    }
  }
  return state > 0;
}

class SdlWindowSystem : public BasicWindowSystem {
 public:
  SDL_Window* sdlWindow(HWND window) {
    WindowRecord* rec = record(window);
    return rec ? static_cast<SDL_Window*>(rec->native) : nullptr;
  }

  int messageBox(HWND, const char* text, const char* caption, UINT type) override {
    UINT kind = type & 0xF;
    std::vector<SDL_MessageBoxButtonData> buttons;
    auto add = [&](int id, const char* label, Uint32 flags) {
      buttons.push_back(SDL_MessageBoxButtonData{flags, id, label});
    };
    if (kind == MB_OKCANCEL) {
      add(IDOK, "OK", SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT);
      add(IDCANCEL, "Cancel", SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT);
    } else if (kind == MB_YESNO) {
      add(IDYES, "Yes", SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT);
      add(IDNO, "No", SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT);
    } else if (kind == MB_YESNOCANCEL) {
      add(IDYES, "Yes", SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT);
      add(IDNO, "No", 0);
      add(IDCANCEL, "Cancel", SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT);
    } else {
      add(IDOK, "OK", SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT);
    }
    UINT icon = type & 0xF0;
    Uint32 flags = icon == MB_ICONERROR         ? SDL_MESSAGEBOX_ERROR
                   : icon == MB_ICONEXCLAMATION ? SDL_MESSAGEBOX_WARNING
                                                : SDL_MESSAGEBOX_INFORMATION;
    // Nobody can answer a box on a headless display: report and take the
    // default answer.
    if (!ensureSdlVideo() || isHeadless()) {
      std::fprintf(stderr, "%s: %s\n", caption, text);
      return buttons.front().buttonid;
    }
    SDL_MessageBoxData data{flags, nullptr, caption, text, static_cast<int>(buttons.size()), buttons.data(), nullptr};
    int chosen = buttons.front().buttonid;
    if (SDL_ShowMessageBox(&data, &chosen) != 0) {
      std::fprintf(stderr, "%s: %s\n", caption, text);
      return buttons.front().buttonid;
    }
    return chosen < 0 ? buttons.back().buttonid : chosen;
  }

  int getSystemMetrics(int index) override {
    if (!ensureSdlVideo()) return 0;
    int count = SDL_GetNumVideoDisplays();
    SDL_Rect primary{0, 0, 0, 0};
    if (count > 0) SDL_GetDisplayBounds(0, &primary);
    RECT virt{};
    for (int i = 0; i < count; ++i) {
      SDL_Rect b;
      if (SDL_GetDisplayBounds(i, &b) == 0) {
        RECT r = toRect(b);
        UnionRect(&virt, &virt, &r);
      }
    }
    switch (index) {
      case SM_CXSCREEN: return primary.w;
      case SM_CYSCREEN: return primary.h;
      case SM_XVIRTUALSCREEN: return virt.left;
      case SM_YVIRTUALSCREEN: return virt.top;
      case SM_CXVIRTUALSCREEN: return virt.right - virt.left;
      case SM_CYVIRTUALSCREEN: return virt.bottom - virt.top;
      case SM_CMONITORS: return count;
      case SM_SAMEDISPLAYFORMAT: {
        SDL_DisplayMode first, mode;
        if (count == 0 || SDL_GetDesktopDisplayMode(0, &first) != 0) return 1;
        for (int i = 1; i < count; ++i)
          if (SDL_GetDesktopDisplayMode(i, &mode) == 0 && mode.format != first.format) return 0;
        return 1;
      }
      default: return 0;
    }
  }

  BOOL systemParametersInfo(UINT action, UINT param, void* data, UINT) override {
    if (action == SPI_SCREENSAVERRUNNING) {
      (void)param;  // nothing on this desktop keys off it
      return TRUE;
    }
    if (action == SPI_GETWORKAREA && data) {
      SDL_Rect r;
      if (!ensureSdlVideo() || SDL_GetDisplayUsableBounds(0, &r) != 0) return FALSE;
      *static_cast<RECT*>(data) = toRect(r);
      return TRUE;
    }
    return FALSE;
  }

  bool hasMultiMonitorFunctions() override { return true; }

  std::vector<std::pair<HMONITOR, RECT>> monitors() {
    std::vector<std::pair<HMONITOR, RECT>> out;
    if (!ensureSdlVideo()) return out;
    int count = SDL_GetNumVideoDisplays();
    for (int i = 0; i < count; ++i) {
      SDL_Rect b;
      if (SDL_GetDisplayBounds(i, &b) == 0) out.emplace_back(sdlMonitorOfDisplay(i), toRect(b));
    }
    return out;
  }

  HMONITOR monitorFromRect(const RECT* rect, DWORD flags) override {
    auto list = monitors();
    HMONITOR best = 0;
    long long bestArea = 0;
    if (rect)
      for (auto& [h, r] : list)
        if (long long a = overlapArea(*rect, r); a > bestArea) {
          bestArea = a;
          best = h;
        }
    if (best) return best;
    if (flags == MONITOR_DEFAULTTOPRIMARY) return list.empty() ? 0 : list.front().first;
    if (flags == MONITOR_DEFAULTTONEAREST && rect)
      return monitorFromPoint(POINT{(rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2}, flags);
    return 0;
  }

  HMONITOR monitorFromPoint(POINT point, DWORD flags) override {
    auto list = monitors();
    HMONITOR nearest = 0;
    long long nearestDistance = -1;
    for (auto& [h, r] : list) {
      long long d = distanceSquared(r, point);
      if (d == 0) return h;
      if (nearestDistance < 0 || d < nearestDistance) {
        nearestDistance = d;
        nearest = h;
      }
    }
    if (flags == MONITOR_DEFAULTTOPRIMARY) return list.empty() ? 0 : list.front().first;
    if (flags == MONITOR_DEFAULTTONEAREST) return nearest;
    return 0;
  }

  HMONITOR monitorFromWindow(HWND window, DWORD flags) override {
    RECT r;
    if (!getWindowRect(window, &r)) return flags == MONITOR_DEFAULTTONULL ? 0 : monitorFromRect(nullptr, flags);
    if (IsRectEmpty(&r)) return monitorFromPoint(POINT{r.left, r.top}, flags);
    return monitorFromRect(&r, flags);
  }

  BOOL enumDisplayMonitors(HDC dc, const RECT* clip, MONITORENUMPROC callback, LPARAM data) override {
    if (!callback) return FALSE;
    for (auto& [h, rect] : monitors()) {
      RECT r = rect;
      if (clip && !IntersectRect(&r, &r, clip)) continue;
      if (!callback(h, dc, &r, data)) break;
    }
    return TRUE;
  }

  BOOL getMonitorInfo(HMONITOR monitor, MONITORINFO* info) override {
    if (!info || info->cbSize < sizeof(MONITORINFO) || !ensureSdlVideo()) return FALSE;
    int index = sdlDisplayOfMonitor(monitor);
    SDL_Rect bounds, usable;
    if (index < 0 || index >= SDL_GetNumVideoDisplays() || SDL_GetDisplayBounds(index, &bounds) != 0) return FALSE;
    if (SDL_GetDisplayUsableBounds(index, &usable) != 0) usable = bounds;
    info->rcMonitor = toRect(bounds);
    info->rcWork = toRect(usable);
    info->dwFlags = index == 0 ? MONITORINFOF_PRIMARY : 0;
    if (info->cbSize >= sizeof(MONITORINFOEXA)) {
      std::snprintf(static_cast<MONITORINFOEXA*>(info)->szDevice, CCHDEVICENAME, "\\\\.\\DISPLAY%d", index + 1);
    }
    return TRUE;
  }

  BOOL enumDisplayDevices(const char* device, DWORD index, DISPLAY_DEVICEA* info, DWORD) override {
    if (device || !info || info->cb < sizeof(DISPLAY_DEVICEA) || !ensureSdlVideo()) return FALSE;
    if (static_cast<int>(index) >= SDL_GetNumVideoDisplays()) return FALSE;
    std::memset(reinterpret_cast<char*>(info) + sizeof(info->cb), 0, sizeof(DISPLAY_DEVICEA) - sizeof(info->cb));
    std::snprintf(info->DeviceName, sizeof info->DeviceName, "\\\\.\\DISPLAY%u", index + 1);
    const char* name = SDL_GetDisplayName(static_cast<int>(index));
    std::snprintf(info->DeviceString, sizeof info->DeviceString, "%s", name && *name ? name : "Display");
    info->StateFlags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | (index == 0 ? DISPLAY_DEVICE_PRIMARY_DEVICE : 0);
    return TRUE;
  }

  BOOL enumDisplaySettings(const char* device, DWORD mode, DEVMODEA* info) override {
    if (!info || mode != ENUM_CURRENT_SETTINGS || !ensureSdlVideo()) return FALSE;
    int index = 0;
    if (device && std::sscanf(device, "\\\\.\\DISPLAY%d", &index) == 1)
      --index;
    else if (device)
      return FALSE;
    SDL_DisplayMode current;
    SDL_Rect bounds;
    if (index < 0 || index >= SDL_GetNumVideoDisplays() || SDL_GetCurrentDisplayMode(index, &current) != 0 ||
        SDL_GetDisplayBounds(index, &bounds) != 0)
      return FALSE;
    info->dmPosition = POINT{bounds.x, bounds.y};
    info->dmPelsWidth = static_cast<DWORD>(current.w);
    info->dmPelsHeight = static_cast<DWORD>(current.h);
    info->dmBitsPerPel = SDL_BYTESPERPIXEL(current.format) * 8;
    info->dmDisplayFrequency = static_cast<DWORD>(current.refresh_rate);
    return TRUE;
  }

 protected:
  bool nativeCreate(WindowRecord& w) override {
    if (!ensureSdlVideo()) return false;
    int width = std::max<int>(w.rect.right - w.rect.left, 1), height = std::max<int>(w.rect.bottom - w.rect.top, 1);
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    int x = w.rect.left, y = w.rect.top;
    bool child = (w.style & WS_CHILD) != 0;
    if (child) {
      flags |= SDL_WINDOW_BORDERLESS;
      if (!w.foreignParent) {
        POINT origin{0, 0};
        clientToScreen(w.parent, &origin);
        x += origin.x;
        y += origin.y;
      }
    } else if (w.exStyle & WS_EX_TOPMOST) {
      flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR;
    } else {
      flags |= SDL_WINDOW_RESIZABLE;
    }
    if (child && w.foreignParent && !isX11()) return false;
    SDL_Window* win = SDL_CreateWindow(w.title.c_str(), x, y, width, height, flags);
    // A display without a suitable OpenGL visual still gets its windows
    // (the error box needs none); only a device cannot be made on them.
    if (!win) win = SDL_CreateWindow(w.title.c_str(), x, y, width, height, flags & ~SDL_WINDOW_OPENGL);
    if (!win) {
      std::fprintf(stderr, "aquaveil: cannot create a window: %s\n", SDL_GetError());
      return false;
    }
    if (child && isX11()) {
      // Embed: the SDL window's X window becomes a child of the parent's.
      SDL_SysWMinfo info;
      SDL_VERSION(&info.version);
      Window parentXid = 0;
      if (w.foreignParent) {
        parentXid = static_cast<Window>(w.parent);
      } else if (SDL_Window* p = sdlWindow(w.parent)) {
        SDL_SysWMinfo pinfo;
        SDL_VERSION(&pinfo.version);
        if (SDL_GetWindowWMInfo(p, &pinfo)) parentXid = pinfo.info.x11.window;
      }
      if (parentXid && SDL_GetWindowWMInfo(win, &info)) {
        ::Display* display = info.info.x11.display;
        XSync(display, False);
        xErrors = 0;
        auto previous = XSetErrorHandler(countXError);
        XReparentWindow(display, info.info.x11.window, parentXid, w.rect.left, w.rect.top);
        XSync(display, False);
        XSetErrorHandler(previous);
        if (xErrors) {
          SDL_DestroyWindow(win);
          return false;
        }
        if (w.foreignParent) watchEmbedded(info.info.x11.window, parentXid);
      }
    }
    if (w.visible) SDL_ShowWindow(win);
    w.native = win;
    byId_[SDL_GetWindowID(win)] = w.handle;
    return true;
  }

  void nativeDestroy(WindowRecord& w) override {
    if (!w.native) return;
    SDL_Window* win = static_cast<SDL_Window*>(w.native);
    // SDL hides a shown window before destroying it.
    if (w.foreignParent && (SDL_GetWindowFlags(win) & SDL_WINDOW_SHOWN)) confirmUnmapAhead(win);
    byId_.erase(SDL_GetWindowID(win));
    SDL_DestroyWindow(win);
    w.native = nullptr;
  }

  void nativeShow(WindowRecord& w, int command) override {
    SDL_Window* win = static_cast<SDL_Window*>(w.native);
    if (!win) return;
    switch (command) {
      case SW_HIDE:
        if (w.foreignParent && (SDL_GetWindowFlags(win) & SDL_WINDOW_SHOWN)) confirmUnmapAhead(win);
        SDL_HideWindow(win);
        break;
      case SW_MINIMIZE:
      case SW_SHOWMINIMIZED: SDL_MinimizeWindow(win); break;
      case SW_MAXIMIZE:
        SDL_ShowWindow(win);
        SDL_MaximizeWindow(win);
        break;
      case SW_RESTORE:
        SDL_ShowWindow(win);
        SDL_RestoreWindow(win);
        break;
      default: SDL_ShowWindow(win); break;
    }
  }

  void nativePlace(WindowRecord& w) override {
    SDL_Window* win = static_cast<SDL_Window*>(w.native);
    if (!win) return;
    int x = w.rect.left, y = w.rect.top;
    if ((w.style & WS_CHILD) && !w.foreignParent && !isX11()) {
      POINT origin{0, 0};
      clientToScreen(w.parent, &origin);
      x += origin.x;
      y += origin.y;
    }
    SDL_SetWindowPosition(win, x, y);
    SDL_SetWindowSize(win, std::max<int>(w.rect.right - w.rect.left, 1), std::max<int>(w.rect.bottom - w.rect.top, 1));
    SDL_SetWindowAlwaysOnTop(win, w.topmost ? SDL_TRUE : SDL_FALSE);
    if (w.visible) {
      SDL_ShowWindow(win);
    } else {
      if (w.foreignParent && (SDL_GetWindowFlags(win) & SDL_WINDOW_SHOWN)) confirmUnmapAhead(win);
      SDL_HideWindow(win);
    }
  }

  // SDL hides an X window by unmapping it and then waits for the server to
  // confirm the unmap.  A window inside a foreign one dies with it, at any
  // moment another program chooses (a screen locker destroys the window it
  // lent its hack), and a dead window is never confirmed: SDL would wait for
  // ever.  So the confirmation is handed to SDL ahead of time.  Where the
  // window was alive, the server's own confirmation follows later and SDL
  // takes it as a plain event.
  static void confirmUnmapAhead(SDL_Window* win) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(win, &info) || info.subsystem != SDL_SYSWM_X11) return;
    XEvent unmap{};
    unmap.xunmap.type = UnmapNotify;
    unmap.xunmap.display = info.info.x11.display;
    unmap.xunmap.event = info.info.x11.window;
    unmap.xunmap.window = info.info.x11.window;
    XPutBackEvent(info.info.x11.display, &unmap);
  }

  void nativeSetTitle(WindowRecord& w) override {
    if (w.native) SDL_SetWindowTitle(static_cast<SDL_Window*>(w.native), w.title.c_str());
  }

  bool foreignClientRect(HWND window, RECT* rect) override {
    if (!ensureSdlVideo() || !isX11()) return false;
    ::Display* display = x11Display();
    if (!display) return false;
    XSync(display, False);
    xErrors = 0;
    auto previous = XSetErrorHandler(countXError);
    XWindowAttributes attributes;
    Status ok = XGetWindowAttributes(display, static_cast<Window>(window), &attributes);
    int x = 0, y = 0;
    Window ignored;
    if (ok && !xErrors)
      XTranslateCoordinates(display, static_cast<Window>(window), DefaultRootWindow(display), 0, 0, &x, &y, &ignored);
    XSync(display, False);
    XSetErrorHandler(previous);
    if (!ok || xErrors) return false;
    if (rect) *rect = RECT{x, y, x + attributes.width, y + attributes.height};
    return true;
  }

  void pumpNative() override {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    checkForeignParents();
    SDL_PumpEvents();
    SDL_Event e;
    std::set<HWND> resized;
    int focus = 0;  // +1 the last focus event was a gain, -1 a loss
    while (SDL_PollEvent(&e)) translate(e, resized, focus);
    for (HWND h : resized)
      if (record(h)) postMessage(h, WM_EXITSIZEMOVE, 0, 0);
    if (focus != 0) {
      // Moving between our own windows is no change of application.
      SDL_Window* now = SDL_GetKeyboardFocus();
      bool ours = focus > 0 || (now && byId_.count(SDL_GetWindowID(now)));
      if (ours != appActive_) {
        appActive_ = ours;
        for (HWND h : windows()) {
          const WindowRecord* r = record(h);
          if (r && !(r->style & WS_CHILD)) postMessage(h, WM_ACTIVATEAPP, ours ? 1 : 0, 0);
        }
      }
    }
  }

  bool waitNative(DWORD milliseconds) override {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return BasicWindowSystem::waitNative(milliseconds);
    // Short slices: timers are kept on the process clock, not by SDL.
    SDL_WaitEventTimeout(nullptr, static_cast<int>(std::min<DWORD>(milliseconds, 50)));
    return true;
  }

  void presentCanvas(WindowRecord& w) override {
    SDL_Window* win = static_cast<SDL_Window*>(w.native);
    if (!win || !w.canvas) return;
    SDL_Surface* surface = SDL_GetWindowSurface(win);
    if (!surface) return;
    SDL_LockSurface(surface);
    int width = std::min(surface->w, w.canvas->width()), height = std::min(surface->h, w.canvas->height());
    const std::vector<uint32_t>& pixels = w.canvas->pixels();
    for (int y = 0; y < height; ++y) {
      auto* row = static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch;
      for (int x = 0; x < width; ++x) {
        uint32_t p = pixels[static_cast<size_t>(y) * w.canvas->width() + x];
        Uint32 mapped = SDL_MapRGB(surface->format, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
        std::memcpy(row + x * surface->format->BytesPerPixel, &mapped, surface->format->BytesPerPixel);
      }
    }
    SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(win);
  }

  void nativeCursor(bool visible) override {
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
  }

 private:
  ::Display* x11Display() {
    // Any SDL window tells the display connection; make a hidden one if
    // none exists yet.
    SDL_Window* any = nullptr;
    for (HWND h : windows())
      if ((any = sdlWindow(h))) break;
    if (!any) {
      if (!probe_) probe_ = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_HIDDEN);
      any = probe_;
    }
    if (!any) return nullptr;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(any, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
    return info.info.x11.display;
  }

  // A preview whose foreign parent has gone is destroyed as Windows
  // destroys a child with its parent (WM_DESTROY reaches its procedure).
  // Looked at a few times a second: it costs a round trip to the server.
  void checkForeignParents() {
    if (!isX11()) return;
    DWORD t = now();
    if (static_cast<int32_t>(t - nextParentCheck_) < 0) return;
    nextParentCheck_ = t + 250;
    for (HWND h : windows()) {
      const WindowRecord* r = record(h);
      if (!r || !r->foreignParent || r->destroying) continue;
      RECT ignored;
      if (!foreignClientRect(r->parent, &ignored)) {
        destroyWindow(h);
      }
    }
  }

  HWND windowOf(Uint32 id) {
    auto it = byId_.find(id);
    return it == byId_.end() ? 0 : it->second;
  }

  WPARAM mouseKeys() const {
    WPARAM w = 0;
    if (buttons_ & SDL_BUTTON_LMASK) w |= MK_LBUTTON;
    if (buttons_ & SDL_BUTTON_RMASK) w |= MK_RBUTTON;
    if (buttons_ & SDL_BUTTON_MMASK) w |= MK_MBUTTON;
    SDL_Keymod mod = SDL_GetModState();
    if (mod & KMOD_SHIFT) w |= MK_SHIFT;
    if (mod & KMOD_CTRL) w |= MK_CONTROL;
    return w;
  }

  static LPARAM packPoint(int x, int y) {
    return MAKELONG(static_cast<WORD>(static_cast<int16_t>(x)), static_cast<WORD>(static_cast<int16_t>(y)));
  }

  void translate(const SDL_Event& e, std::set<HWND>& resized, int& focus) {
    switch (e.type) {
      case SDL_MOUSEMOTION: {
        HWND h = windowOf(e.motion.windowID);
        if (!h) return;
        buttons_ = e.motion.state;
        sendMessage(h, WM_SETCURSOR, h, MAKELONG(static_cast<WORD>(HTCLIENT), static_cast<WORD>(WM_MOUSEMOVE)));
        postMessage(h, WM_MOUSEMOVE, mouseKeys(), packPoint(e.motion.x, e.motion.y));
        return;
      }
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        HWND h = windowOf(e.button.windowID);
        if (!h) return;
        bool down = e.type == SDL_MOUSEBUTTONDOWN;
        Uint32 mask = SDL_BUTTON(e.button.button);
        buttons_ = down ? (buttons_ | mask) : (buttons_ & ~mask);
        UINT message = 0;
        if (e.button.button == SDL_BUTTON_LEFT) message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        if (e.button.button == SDL_BUTTON_RIGHT) message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        if (e.button.button == SDL_BUTTON_MIDDLE) message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        if (message) postMessage(h, message, mouseKeys(), packPoint(e.button.x, e.button.y));
        return;
      }
      case SDL_MOUSEWHEEL: {
        HWND h = windowOf(e.wheel.windowID);
        if (!h) return;
        int x = 0, y = 0;
        SDL_GetGlobalMouseState(&x, &y);
        WPARAM w = mouseKeys() | (static_cast<WPARAM>(static_cast<WORD>(static_cast<int16_t>(e.wheel.y * 120))) << 16);
        postMessage(h, WM_MOUSEWHEEL, w, packPoint(x, y));
        return;
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        HWND h = windowOf(e.key.windowID);
        if (!h) h = getForegroundWindow();
        if (!h) return;
        bool down = e.type == SDL_KEYDOWN;
        // lParam: repeat count 1, scan code, previous state and transition.
        LPARAM lp = 1 | (static_cast<LPARAM>(e.key.keysym.scancode & 0xFF) << 16);
        if (e.key.repeat) lp |= 1L << 30;
        if (!down) lp |= static_cast<LPARAM>(0xC0000000u);
        postMessage(h, down ? WM_KEYDOWN : WM_KEYUP, virtualKey(e.key.keysym.sym), lp);
        return;
      }
      case SDL_WINDOWEVENT: {
        HWND h = windowOf(e.window.windowID);
        if (!h) return;
        WindowRecord* rec = record(h);
        switch (e.window.event) {
          case SDL_WINDOWEVENT_SHOWN:
          case SDL_WINDOWEVENT_EXPOSED: invalidateRect(h, nullptr, FALSE); return;
          case SDL_WINDOWEVENT_MOVED:
            if (rec && !(rec->style & WS_CHILD)) {
              LONG w = rec->rect.right - rec->rect.left, hh = rec->rect.bottom - rec->rect.top;
              rec->rect = RECT{e.window.data1, e.window.data2, e.window.data1 + w, e.window.data2 + hh};
            }
            return;
          case SDL_WINDOWEVENT_SIZE_CHANGED: {
            if (!rec) return;
            int w = e.window.data1, hh = e.window.data2;
            if (w == rec->rect.right - rec->rect.left && hh == rec->rect.bottom - rec->rect.top) return;
            rec->rect.right = rec->rect.left + w;
            rec->rect.bottom = rec->rect.top + hh;
            bool maximized = SDL_GetWindowFlags(static_cast<SDL_Window*>(rec->native)) & SDL_WINDOW_MAXIMIZED;
            postMessage(h, WM_SIZE, maximized ? SIZE_MAXIMIZED : SIZE_RESTORED,
                        MAKELONG(static_cast<WORD>(w), static_cast<WORD>(hh)));
            invalidateRect(h, nullptr, TRUE);
            resized.insert(h);
            return;
          }
          case SDL_WINDOWEVENT_MINIMIZED: postMessage(h, WM_SIZE, SIZE_MINIMIZED, 0); return;
          case SDL_WINDOWEVENT_RESTORED:
            if (rec)
              postMessage(h, WM_SIZE, SIZE_RESTORED,
                          MAKELONG(static_cast<WORD>(rec->rect.right - rec->rect.left),
                                   static_cast<WORD>(rec->rect.bottom - rec->rect.top)));
            return;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
            focus = 1;
            setForeground(h);
            return;
          case SDL_WINDOWEVENT_FOCUS_LOST: focus = -1; return;
          case SDL_WINDOWEVENT_CLOSE:
            // The window manager's close button is the system menu's Close.
            postMessage(h, WM_SYSCOMMAND, SC_CLOSE, 0);
            return;
          default: return;
        }
      }
      default: return;
    }
  }

  std::map<Uint32, HWND> byId_;
  Uint32 buttons_ = 0;
  bool appActive_ = false;
  SDL_Window* probe_ = nullptr;
  DWORD nextParentCheck_ = 0;
};

namespace {
SdlWindowSystem& theSdlSystem() {
  static SdlWindowSystem* system = new SdlWindowSystem;  // lives for the process
  return *system;
}
}  // namespace

WindowSystem& sdlWindowSystem() { return theSdlSystem(); }

SDL_Window* sdlWindowOf(HWND window) { return theSdlSystem().sdlWindow(window); }

}  // namespace platform
