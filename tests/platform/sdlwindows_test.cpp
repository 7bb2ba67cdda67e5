// The SDL window system: SDL events become the Win32 messages and packings
// the shell relies on.  Runs on SDL's offscreen driver.
#include <gtest/gtest.h>

#include "tests/common/testenv.h"

#include <SDL2/SDL.h>

#include <cstdlib>
#include <vector>

#include "platform/draw2d.h"
#include "platform/sdlbackend.h"
#include "platform/window.h"

using namespace platform;

namespace {

std::vector<MSG> received;

LRESULT proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  MSG msg;
  msg.hwnd = w;
  msg.message = m;
  msg.wParam = wp;
  msg.lParam = lp;
  received.push_back(msg);
  return DefWindowProcA(w, m, wp, lp);
}

class SdlWindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("SDL_VIDEODRIVER", "offscreen", 0); }

  void SetUp() override {
    if (!ensureSdlVideo()) LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no SDL video");
    static bool registered = false;
    if (!registered) {
      WNDCLASSA wc;
      wc.lpfnWndProc = proc;
      wc.hCursor = LoadCursorA(0, IDC_ARROW);
      wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
      wc.lpszClassName = "SdlTestWindow";
      ASSERT_NE(RegisterClassA(&wc), 0);
      registered = true;
    }
    window = CreateWindowExA(WS_EX_TOPMOST, "SdlTestWindow", "Rillglass", WS_POPUP, 0, 0, 320, 240, 0, 0, 0, nullptr);
    ASSERT_NE(window, 0u);
    sdl = sdlWindowOf(window);
    ASSERT_NE(sdl, nullptr);
    drain();
    received.clear();
  }

  void TearDown() override {
    if (window) DestroyWindow(window);
  }

  void drain() {
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) break;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  void push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1); }

  std::vector<MSG> of(UINT message) const {
    std::vector<MSG> out;
    for (const MSG& m : received)
      if (m.message == message) out.push_back(m);
    return out;
  }

  HWND window = 0;
  SDL_Window* sdl = nullptr;
};

}  // namespace

TEST_F(SdlWindowsTest, MouseMotionAndButtonsBecomeMouseMessages) {
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.windowID = SDL_GetWindowID(sdl);
  e.motion.x = 12;
  e.motion.y = 34;
  e.motion.state = SDL_BUTTON_LMASK;
  push(e);
  SDL_Event b{};
  b.type = SDL_MOUSEBUTTONDOWN;
  b.button.windowID = SDL_GetWindowID(sdl);
  b.button.button = SDL_BUTTON_RIGHT;
  b.button.x = 5;
  b.button.y = 6;
  push(b);
  b.button.button = SDL_BUTTON_MIDDLE;
  push(b);
  b.type = SDL_MOUSEBUTTONUP;
  b.button.button = SDL_BUTTON_LEFT;
  push(b);
  drain();

  ASSERT_EQ(of(WM_SETCURSOR).size(), 1u) << "the cursor is asked for before the move";
  std::vector<MSG> moves = of(WM_MOUSEMOVE);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].wParam & MK_LBUTTON, MK_LBUTTON);
  EXPECT_EQ(GET_X_LPARAM(moves[0].lParam), 12);
  EXPECT_EQ(GET_Y_LPARAM(moves[0].lParam), 34);
  ASSERT_EQ(of(WM_RBUTTONDOWN).size(), 1u);
  EXPECT_EQ(GET_X_LPARAM(of(WM_RBUTTONDOWN)[0].lParam), 5);
  EXPECT_EQ(GET_Y_LPARAM(of(WM_RBUTTONDOWN)[0].lParam), 6);
  EXPECT_EQ(of(WM_MBUTTONDOWN).size(), 1u);
  ASSERT_EQ(of(WM_LBUTTONUP).size(), 1u);
  EXPECT_EQ(of(WM_LBUTTONUP)[0].wParam & MK_LBUTTON, 0u) << "the left button is up after its release";
}

TEST_F(SdlWindowsTest, KeysBecomeKeyMessagesWithVirtualKeyCodes) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.windowID = SDL_GetWindowID(sdl);
  e.key.keysym.sym = SDLK_ESCAPE;
  e.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
  push(e);
  e.key.keysym.sym = SDLK_a;
  push(e);
  e.key.keysym.sym = SDLK_F5;
  push(e);
  e.type = SDL_KEYUP;
  e.key.keysym.sym = SDLK_ESCAPE;
  push(e);
  drain();
  std::vector<MSG> downs = of(WM_KEYDOWN);
  ASSERT_EQ(downs.size(), 3u);
  EXPECT_EQ(downs[0].wParam, 27u);
  EXPECT_EQ(downs[1].wParam, static_cast<WPARAM>('A'));
  EXPECT_EQ(downs[2].wParam, VK_F1 + 4);
  ASSERT_EQ(of(WM_KEYUP).size(), 1u);
  EXPECT_EQ(of(WM_KEYUP)[0].wParam, 27u);
  EXPECT_EQ(of(WM_CHAR).size(), 2u) << "Escape and 'a' translate to characters";
}

TEST_F(SdlWindowsTest, WindowEventsBecomeActivationSizeAndCloseMessages) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = SDL_GetWindowID(sdl);
  e.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
  push(e);
  drain();
  ASSERT_EQ(of(WM_ACTIVATEAPP).size(), 1u);
  EXPECT_EQ(of(WM_ACTIVATEAPP)[0].wParam, 1u);
  received.clear();
  e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
  push(e);
  drain();
  ASSERT_EQ(of(WM_ACTIVATEAPP).size(), 1u);
  EXPECT_EQ(of(WM_ACTIVATEAPP)[0].wParam, 0u);

  received.clear();
  e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
  e.window.data1 = 400;
  e.window.data2 = 300;
  push(e);
  drain();
  ASSERT_EQ(of(WM_SIZE).size(), 1u);
  EXPECT_EQ(of(WM_SIZE)[0].wParam, SIZE_RESTORED);
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(of(WM_SIZE)[0].lParam)), 400);
  EXPECT_EQ(HIWORD(static_cast<uintptr_t>(of(WM_SIZE)[0].lParam)), 300);
  EXPECT_EQ(of(WM_EXITSIZEMOVE).size(), 1u);
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 400);
  EXPECT_EQ(client.bottom, 300);

  received.clear();
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  push(e);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_SYSCOMMAND);
  EXPECT_EQ(msg.wParam, SC_CLOSE);
}

TEST_F(SdlWindowsTest, TimersAndPaintingRunOnTheRealQueue) {
  ASSERT_NE(SetTimer(window, 1, 20), 0u);
  MSG msg;
  ASSERT_EQ(GetMessageA(&msg, window, 0, 0), 1);
  while (msg.message != WM_TIMER) ASSERT_EQ(GetMessageA(&msg, window, 0, 0), 1);
  EXPECT_EQ(msg.wParam, 1u);
  KillTimer(window, 1);

  // The error box's drawing reaches the window's canvas.
  ShowWindow(window, SW_SHOW);
  HDC dc = GetDC(window);
  RECT box{10, 10, 50, 30};
  FillRect(dc, &box, static_cast<HBRUSH>(COLOR_WINDOW + 1));
  Painter* p = windowSystem().painter(dc);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->pixel(20, 20), 0xFFFFFFu);
  ReleaseDC(window, dc);
}

TEST_F(SdlWindowsTest, MonitorsAreTheSdlDisplays) {
  DISPLAY_DEVICEA dd;
  ASSERT_TRUE(EnumDisplayDevicesA(nullptr, 0, &dd, 0));
  EXPECT_EQ(dd.StateFlags, DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE);
  DEVMODEA dm;
  ASSERT_TRUE(EnumDisplaySettingsA(dd.DeviceName, ENUM_CURRENT_SETTINGS, &dm));
  EXPECT_EQ(static_cast<int>(dm.dmPelsWidth), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(dm.dmBitsPerPel, 32u);
  RECT r{dm.dmPosition.x, dm.dmPosition.y, dm.dmPosition.x + static_cast<LONG>(dm.dmPelsWidth),
         dm.dmPosition.y + static_cast<LONG>(dm.dmPelsHeight)};
  HMONITOR m = MonitorFromRect(&r, MONITOR_DEFAULTTONULL);
  EXPECT_EQ(m, sdlMonitorOfDisplay(0));
  MONITORINFOEXA info;
  ASSERT_TRUE(GetMonitorInfoA(m, &info));
  EXPECT_EQ(info.dwFlags, MONITORINFOF_PRIMARY);
  EXPECT_EQ(info.rcMonitor.right - info.rcMonitor.left, static_cast<LONG>(dm.dmPelsWidth));
  EXPECT_EQ(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), m);
}
