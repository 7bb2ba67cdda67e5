// What needs a real X display: preview windows inside a foreign X11 window
// and the desktop snapshot.  Skipped without a display (run under xvfb-run).
#include <gtest/gtest.h>

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/d3d8.h"
#include "platform/desktop.h"
#include "platform/draw2d.h"
#include "platform/sdlbackend.h"
#include "platform/window.h"
#include "tests/common/testenv.h"

namespace {

LRESULT plainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return platform::DefWindowProcA(w, m, wp, lp); }

class X11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    // A test that waits on the X server for ever must not stall the whole
    // run: past a generous limit the program ends with a message.
    watchdog = std::thread([this] {
      std::unique_lock<std::mutex> lock(watchMutex);
      if (!watchDone.wait_for(lock, std::chrono::seconds(60), [this] { return finished; })) {
        std::fprintf(stderr, "X11 test still waiting after 60 s: giving up\n");
        std::abort();
      }
    });
    if (!getenv("DISPLAY")) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no X display");
    display = XOpenDisplay(nullptr);
    if (!display) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "the X display cannot be opened");
  }
  void TearDown() override {
    if (display) XCloseDisplay(display);
    {
      std::lock_guard<std::mutex> lock(watchMutex);
      finished = true;
    }
    watchDone.notify_all();
    watchdog.join();
  }

  // A mapped top-level X window of one colour, as another program's.
  Window foreignWindow(int x, int y, int w, int h, unsigned long pixel) {
    XSetWindowAttributes a;
    a.background_pixel = pixel;
    a.override_redirect = True;  // placed exactly, without a window manager's say
    Window win = XCreateWindow(display, DefaultRootWindow(display), x, y, w, h, 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
    XSelectInput(display, win, ExposureMask);
    XMapWindow(display, win);
    XEvent e;
    do XNextEvent(display, &e);
    while (e.type != Expose);
    XSync(display, False);
    return win;
  }

  // A windowed device on the desktop's format in one of our windows.
  static void createWindowedDevice(HWND window, Direct3D8** d3d, Direct3DDevice8** device) {
    *d3d = platform::Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(*d3d, nullptr);
    D3DDISPLAYMODE desktop;
    (*d3d)->GetAdapterDisplayMode(0, &desktop);
    D3DPRESENT_PARAMETERS pp;
    pp.BackBufferFormat = desktop.Format;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.Windowed = TRUE;
    pp.hDeviceWindow = window;
    ASSERT_EQ((*d3d)->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_MIXED_VERTEXPROCESSING, &pp, device), D3D_OK);
  }

  Display* display = nullptr;
  std::thread watchdog;
  std::mutex watchMutex;
  std::condition_variable watchDone;
  bool finished = false;
};

// Tests of our windows inside or over X windows: SDL must run on X11.  The
// video driver is chosen once per process.
class X11SdlTest : public X11Test {
 protected:
  void SetUp() override {
    X11Test::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (!SDL_WasInit(SDL_INIT_VIDEO)) setenv("SDL_VIDEODRIVER", "x11", 1);
    if (!platform::ensureSdlVideo()) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "SDL video is not available");
    if (std::strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0)
      LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "SDL runs on another driver here");
  }
};

// Tests that compare pixels read from the screen need a true-colour visual.
template <class Base>
class TrueColour : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    visual = DefaultVisual(this->display, DefaultScreen(this->display));
    if (visual->c_class != TrueColor) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "the screen is not true colour");
  }
  Visual* visual = nullptr;
};
using X11TrueColourTest = TrueColour<X11Test>;
using X11SdlTrueColourTest = TrueColour<X11SdlTest>;

}  // namespace

TEST_F(X11SdlTest, PreviewWindowLivesInsideTheForeignWindow) {
  int sw = DisplayWidth(display, DefaultScreen(display)), sh = DisplayHeight(display, DefaultScreen(display));
  Window parent = foreignWindow(sw - 200, sh - 200, 152, 112, BlackPixel(display, DefaultScreen(display)));
  HWND parentHandle = static_cast<HWND>(parent);
  RECT client;
  ASSERT_TRUE(platform::GetClientRect(parentHandle, &client));
  EXPECT_EQ(client.right, 152);
  EXPECT_EQ(client.bottom, 112);

  WNDCLASSA wc;
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "X11PreviewTest";
  platform::RegisterClassA(&wc);
  HWND child = platform::CreateWindowExA(0, "X11PreviewTest", "Rillglass", WS_CHILD | WS_VISIBLE, 0, 0, client.right,
                                         client.bottom, parentHandle, 0, 0, nullptr);
  ASSERT_NE(child, 0u);
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(platform::sdlWindowOf(child), &info));
  Window root, reportedParent;
  Window* children = nullptr;
  unsigned int count = 0;
  ASSERT_TRUE(XQueryTree(info.info.x11.display, info.info.x11.window, &root, &reportedParent, &children, &count));
  if (children) XFree(children);
  EXPECT_EQ(reportedParent, parent);
  RECT screen;
  platform::GetWindowRect(child, &screen);
  EXPECT_EQ(screen.left, sw - 200);
  EXPECT_EQ(screen.top, sh - 200);
  platform::DestroyWindow(child);

  // A window id that names no window: no preview window, and no X error
  // ends the program.
  EXPECT_EQ(platform::CreateWindowExA(0, "X11PreviewTest", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, 0x1FFFFFF0, 0, 0,
                                      nullptr),
            0u);
  XDestroyWindow(display, parent);
}

TEST_F(X11TrueColourTest, DesktopSnapshotIsTheRootWindowAsTopDownRgbRows) {
  // A window of (0xC0, 0x40, 0x20) near the top-left, one of (0x10, 0x80,
  // 0xF0) near the bottom: their pixels must come back in place and order.
  auto pixelOf = [&](unsigned r, unsigned g, unsigned b) {
    XColor c;
    c.red = static_cast<unsigned short>(r * 257);
    c.green = static_cast<unsigned short>(g * 257);
    c.blue = static_cast<unsigned short>(b * 257);
    XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &c);
    return c.pixel;
  };
  // Windows near the right edge, away from where other test programs'
  // dialogs appear on the shared screen, raised just before the snapshot.
  int height = DisplayHeight(display, DefaultScreen(display));
  int width = DisplayWidth(display, DefaultScreen(display));
  Window top = foreignWindow(width - 50, 250, 40, 20, pixelOf(0xC0, 0x40, 0x20));
  Window bottom = foreignWindow(width - 50, height - 30, 40, 20, pixelOf(0x10, 0x80, 0xF0));
  XRaiseWindow(display, top);
  XRaiseWindow(display, bottom);
  XSync(display, False);
  auto picture = platform::captureX11Desktop();
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->width, DisplayWidth(display, DefaultScreen(display)));
  EXPECT_EQ(picture->height, height);
  ASSERT_EQ(picture->rgb.size(), static_cast<size_t>(picture->width) * picture->height * 3);
  auto at = [&](int x, int y) { return &picture->rgb[(static_cast<size_t>(y) * picture->width + x) * 3]; };
  EXPECT_EQ(at(width - 40, 260)[0], 0xC0);
  EXPECT_EQ(at(width - 40, 260)[1], 0x40);
  EXPECT_EQ(at(width - 40, 260)[2], 0x20);
  EXPECT_EQ(at(width - 40, height - 20)[0], 0x10);
  EXPECT_EQ(at(width - 40, height - 20)[1], 0x80);
  EXPECT_EQ(at(width - 40, height - 20)[2], 0xF0);
  XDestroyWindow(display, top);
  XDestroyWindow(display, bottom);
}

TEST_F(X11SdlTrueColourTest, PresentShowsTheBackBufferUprightInTheWindow) {
  WNDCLASSA wc;
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "X11PresentTest";
  platform::RegisterClassA(&wc);
  // Each test keeps to its own part of the shared screen (tests run side by
  // side on one X server), near the right edge where dialogs do not open.
  int right = DisplayWidth(display, DefaultScreen(display));
  HWND w = platform::CreateWindowExA(WS_EX_TOPMOST, "X11PresentTest", "Rillglass", WS_POPUP, right - 80, 10, 64, 64, 0,
                                     0, 0, nullptr);
  ASSERT_NE(w, 0u);
  platform::ShowWindow(w, SW_SHOW);
  Direct3D8* d3d = nullptr;
  Direct3DDevice8* dev = nullptr;
  ASSERT_NO_FATAL_FAILURE(createWindowedDevice(w, &d3d, &dev));
  // Top half red, bottom half blue, presented a few times while the window
  // is mapped.
  RECT top{0, 0, 64, 32}, bottom{0, 32, 64, 64};
  for (int i = 0; i < 10; ++i) {
    MSG msg;
    while (platform::PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) platform::DispatchMessageA(&msg);
    dev->Clear(1, &top, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0);
    dev->Clear(1, &bottom, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    ASSERT_EQ(dev->Present(nullptr, nullptr, 0, nullptr), D3D_OK);
    platform::Sleep(20);
  }
  SDL_RaiseWindow(platform::sdlWindowOf(w));
  dev->Present(nullptr, nullptr, 0, nullptr);
  XSync(display, False);
  auto picture = platform::captureX11Desktop();
  ASSERT_TRUE(picture.has_value());
  auto at = [&](int x, int y) { return &picture->rgb[(static_cast<size_t>(y) * picture->width + x) * 3]; };
  EXPECT_EQ(at(right - 70, 15)[0], 0xFF);
  EXPECT_EQ(at(right - 70, 15)[2], 0x00);
  EXPECT_EQ(at(right - 70, 68)[0], 0x00);
  EXPECT_EQ(at(right - 70, 68)[2], 0xFF);
  dev->Release();
  d3d->Release();
  platform::DestroyWindow(w);
}

TEST_F(X11SdlTrueColourTest, ErrorBoxDrawingReachesTheScreen) {
  int right = DisplayWidth(display, DefaultScreen(display));
  WNDCLASSA wc;
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "X11PaintTest";
  platform::RegisterClassA(&wc);
  HWND w = platform::CreateWindowExA(WS_EX_TOPMOST, "X11PaintTest", "Rillglass", WS_POPUP, right - 220, 100, 200, 100,
                                     0, 0, 0, nullptr);
  ASSERT_NE(w, 0u);
  platform::ShowWindow(w, SW_SHOW);
  for (int i = 0; i < 10; ++i) {
    MSG msg;
    while (platform::PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) platform::DispatchMessageA(&msg);
    HDC dc = platform::GetDC(w);
    RECT all{0, 0, 200, 100}, box{50, 25, 150, 75};
    platform::FillRect(dc, &all, static_cast<HBRUSH>(platform::GetStockObject(BLACK_BRUSH)));
    platform::FillRect(dc, &box, static_cast<HBRUSH>(COLOR_WINDOW + 1));
    platform::ReleaseDC(w, dc);
    if (i == 8) SDL_RaiseWindow(platform::sdlWindowOf(w));
    platform::Sleep(20);
  }
  XSync(display, False);
  auto picture = platform::captureX11Desktop();
  ASSERT_TRUE(picture.has_value());
  auto at = [&](int x, int y) { return &picture->rgb[(static_cast<size_t>(y) * picture->width + x) * 3]; };
  EXPECT_EQ(at(right - 120, 150)[0], 0xFF);
  EXPECT_EQ(at(right - 120, 150)[1], 0xFF);
  EXPECT_EQ(at(right - 200, 110)[0], 0x00);
  platform::DestroyWindow(w);
}

namespace {
int destroyed = 0;
LRESULT countingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_DESTROY) ++destroyed;
  return platform::DefWindowProcA(w, m, wp, lp);
}
}  // namespace

TEST_F(X11SdlTest, PreviewEndsCleanlyWhenTheForeignWindowGoes) {
  int sw = DisplayWidth(display, DefaultScreen(display));
  Window parent = foreignWindow(sw - 400, 300, 120, 90, BlackPixel(display, DefaultScreen(display)));
  WNDCLASSA wc;
  wc.lpfnWndProc = countingProc;
  wc.lpszClassName = "X11VanishTest";
  platform::RegisterClassA(&wc);
  HWND child = platform::CreateWindowExA(0, "X11VanishTest", "Rillglass", WS_CHILD | WS_VISIBLE, 0, 0, 120, 90,
                                         static_cast<HWND>(parent), 0, 0, nullptr);
  ASSERT_NE(child, 0u);
  Direct3D8* d3d = nullptr;
  Direct3DDevice8* dev = nullptr;
  ASSERT_NO_FATAL_FAILURE(createWindowedDevice(child, &d3d, &dev));
  ASSERT_EQ(dev->Present(nullptr, nullptr, 0, nullptr), D3D_OK);

  // The settings dialog closes: its window, and ours inside it, are gone.
  XDestroyWindow(display, parent);
  XSync(display, False);
  destroyed = 0;
  for (int i = 0; i < 40 && platform::IsWindow(child); ++i) {
    MSG msg;
    while (platform::PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) platform::DispatchMessageA(&msg);
    dev->Present(nullptr, nullptr, 0, nullptr);  // may meet the dead window first: no X error may end us
    platform::Sleep(20);
  }
  EXPECT_FALSE(platform::IsWindow(child));
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICELOST);
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_DEVICELOST);
  dev->Release();
  d3d->Release();
}

TEST_F(X11SdlTest, HidingAWindowWhoseForeignParentJustWentReturns) {
  // A screen locker ends its hack by killing it and destroying the window it
  // lent: the hack may hide its window after the window is already gone,
  // before it has noticed.  Hiding and destroying must not wait for ever
  // for the server to confirm an unmap of a dead window.
  int sw = DisplayWidth(display, DefaultScreen(display));
  Window parent = foreignWindow(sw - 560, 300, 120, 90, BlackPixel(display, DefaultScreen(display)));
  WNDCLASSA wc;
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "X11HideDeadTest";
  platform::RegisterClassA(&wc);
  HWND child = platform::CreateWindowExA(0, "X11HideDeadTest", "Rillglass", WS_CHILD | WS_VISIBLE, 0, 0, 120, 90,
                                         static_cast<HWND>(parent), 0, 0, nullptr);
  ASSERT_NE(child, 0u);
  XDestroyWindow(display, parent);
  XSync(display, False);
  platform::ShowWindow(child, SW_HIDE);  // returns: the watchdog would end the run otherwise
  platform::DestroyWindow(child);
  EXPECT_FALSE(platform::IsWindow(child));
}
