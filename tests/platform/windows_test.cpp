// The message queue, windows, timers, painting and monitors, through the
// scripted window system (the queue logic is the SDL back end's too).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/draw2d.h"
#include "platform/testing/scriptedwindows.h"

using namespace platform;

namespace {

struct Seen {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen> seen;
LRESULT answerFor = 0;

void* createParam = nullptr;

LRESULT recordingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  seen.push_back({w, m, wp, lp});
  if (m == WM_CREATE) createParam = reinterpret_cast<const CREATESTRUCTA*>(lp)->lpCreateParams;
  if (m == WM_USER + 1) return answerFor;
  return DefWindowProcA(w, m, wp, lp);
}

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    setClock(&clock);
    WNDCLASSA wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = recordingProc;
    wc.hCursor = LoadCursorA(0, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "WaterSaverWndClass";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void TearDown() override { setClock(nullptr); }

  HWND popup(int x = 0, int y = 0, int w = 1024, int h = 768, DWORD exStyle = WS_EX_TOPMOST, HWND owner = 0) {
    return CreateWindowExA(exStyle, "WaterSaverWndClass", "Rillglass", WS_POPUP, x, y, w, h, owner, 0, 0, nullptr);
  }

  std::vector<UINT> messagesTo(HWND w) const {
    std::vector<UINT> out;
    for (const Seen& s : seen)
      if (s.window == w) out.push_back(s.message);
    return out;
  }

  ManualClock clock;
  ScriptedWindowSystem ws;
  ScopedWindowSystem guard{ws};
};

}  // namespace

TEST_F(WindowsTest, PostedMessagesReachTheWindowProcedureWithTheirPackings) {
  int param = 7;
  HWND w =
      CreateWindowExA(WS_EX_TOPMOST, "WaterSaverWndClass", "Rillglass", WS_POPUP, 0, 0, 1024, 768, 0, 0, 0, &param);
  ASSERT_NE(w, 0u);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0].message, WM_CREATE);
  EXPECT_EQ(createParam, &param);
  seen.clear();

  // Mouse at (-3, 700): signed halves of lParam, the left button in wParam.
  PostMessageA(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELONG(static_cast<WORD>(-3), 700));
  PostMessageA(w, WM_KEYDOWN, VK_ESCAPE, 1);
  PostMessageA(w, WM_ACTIVATEAPP, 0, 0);
  PostMessageA(w, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
  EXPECT_EQ(ws.pump(), 5);
  ASSERT_GE(seen.size(), 4u);
  EXPECT_EQ(seen[0].message, WM_MOUSEMOVE);
  EXPECT_EQ(seen[0].wParam, MK_LBUTTON);
  EXPECT_EQ(GET_X_LPARAM(seen[0].lParam), -3);
  EXPECT_EQ(GET_Y_LPARAM(seen[0].lParam), 700);
  EXPECT_EQ(seen[1].message, WM_KEYDOWN);
  EXPECT_EQ(seen[1].wParam, 27u);
  // TranslateMessage made a character of the key; it comes after what was
  // already waiting.
  std::vector<UINT> order = messagesTo(w);
  EXPECT_EQ(order, (std::vector<UINT>{WM_MOUSEMOVE, WM_KEYDOWN, WM_ACTIVATEAPP, WM_SYSCOMMAND, WM_CHAR}));
  EXPECT_EQ(ws.deliveriesOf(WM_ACTIVATEAPP).size(), 1u);
  EXPECT_FALSE(ws.deliveriesOf(WM_ACTIVATEAPP)[0].sent);
  // The result of a sent message comes back to the sender.
  answerFor = 42;
  EXPECT_EQ(SendMessageA(w, WM_USER + 1, 0, 0), 42);
  EXPECT_TRUE(ws.deliveries.back().sent);
}

TEST_F(WindowsTest, QuitMessageComesAfterPostedMessagesWhateverTheFilter) {
  HWND w = popup();
  PostMessageA(w, WM_USER, 0, 0);
  PostQuitMessage(3);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, w, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER);
  EXPECT_EQ(GetMessageA(&msg, w, 0, 0), 0);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) << "the quit message is taken once";
}

TEST_F(WindowsTest, TimersArriveAsWmTimerWhenDueAndStopWhenKilled) {
  HWND w = popup();
  ASSERT_NE(SetTimer(w, 1, 500), 0u);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) << "not yet due";
  // GetMessage waits for the timer by sleeping on the process clock.
  ASSERT_EQ(GetMessageA(&msg, w, 0, 0), 1);
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_EQ(clock.milliseconds(), 500u);
  DispatchMessageA(&msg);
  EXPECT_EQ(messagesTo(w).back(), WM_TIMER);
  EXPECT_TRUE(KillTimer(w, 1));
  EXPECT_FALSE(KillTimer(w, 1));
  clock.advanceMicroseconds(2000000);
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
  // With nothing that could ever arrive, GetMessage does not hang.
  EXPECT_EQ(GetMessageA(&msg, 0, 0, 0), 0);
  EXPECT_TRUE(ws.starved);
}

TEST_F(WindowsTest, OnIdleLetsATestFeedAWaitingLoop) {
  HWND w = popup();
  int calls = 0;
  ws.onIdle = [&] {
    if (++calls == 1) PostMessageA(w, WM_USER, 5, 0);
  };
  MSG msg;
  ASSERT_EQ(GetMessageA(&msg, 0, 0, 0), 1);
  EXPECT_EQ(msg.message, WM_USER);
  EXPECT_EQ(msg.wParam, 5u);
  EXPECT_FALSE(ws.starved);
}

TEST_F(WindowsTest, InvalidVisibleWindowsGetWmPaintUntilPainted) {
  HWND w = popup(0, 0, 300, 200);
  MSG msg;
  InvalidateRect(w, nullptr, TRUE);
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) << "hidden windows are not painted";
  ShowWindow(w, SW_SHOW);
  EXPECT_TRUE(IsWindowVisible(w));
  ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_PAINT);
  EXPECT_EQ(msg.hwnd, w);
  seen.clear();
  DispatchMessageA(&msg);  // DefWindowProc paints: erases with the class brush
  EXPECT_EQ(messagesTo(w), (std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}));
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) << "painted windows are valid";
  // UpdateWindow paints at once, by sending.
  RECT r{10, 10, 20, 20};
  InvalidateRect(w, &r, FALSE);
  seen.clear();
  UpdateWindow(w);
  EXPECT_EQ(messagesTo(w), (std::vector<UINT>{WM_PAINT}));
}

TEST_F(WindowsTest, DestroyingAWindowDestroysOwnedWindowsAndClearsItsMessages) {
  HWND main = popup();
  HWND second = popup(1024, 0, 1024, 768, WS_EX_TOPMOST, main);
  PostMessageA(main, WM_USER, 0, 0);
  SetTimer(main, 1, 10);
  seen.clear();
  EXPECT_TRUE(DestroyWindow(main));
  EXPECT_FALSE(IsWindow(main));
  EXPECT_FALSE(IsWindow(second));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].window, second);
  EXPECT_EQ(seen[0].message, WM_DESTROY);
  EXPECT_EQ(seen[1].window, main);
  clock.advanceMicroseconds(100000);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PostMessageA(main, WM_USER, 0, 0));
}

TEST_F(WindowsTest, SystemMenuCloseEndsInDestroyThroughTheDefaultProcedure) {
  HWND w = popup();
  PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
  ws.pump();
  EXPECT_EQ(messagesTo(w), (std::vector<UINT>{WM_CREATE, WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY}));
  EXPECT_FALSE(IsWindow(w));
}

TEST_F(WindowsTest, ChildOfAForeignWindowFillsItsGivenRectangle) {
  ws.foreignWindows[0x3a00007] = RECT{100, 50, 252, 162};
  RECT parent;
  ASSERT_TRUE(GetClientRect(0x3a00007, &parent));
  EXPECT_EQ(parent.right, 152);
  EXPECT_EQ(parent.bottom, 112);
  HWND child = CreateWindowExA(0, "WaterSaverWndClass", "Rillglass", WS_CHILD | WS_VISIBLE, 0, 0, parent.right,
                               parent.bottom, 0x3a00007, 0, 0, nullptr);
  ASSERT_NE(child, 0u);
  RECT client, screen;
  GetClientRect(child, &client);
  GetWindowRect(child, &screen);
  EXPECT_EQ(client.right, 152);
  EXPECT_EQ(screen.left, 100);
  EXPECT_EQ(screen.top, 50);
  EXPECT_TRUE(IsWindowVisible(child));
  // An unknown parent cannot take a child.
  EXPECT_EQ(CreateWindowExA(0, "WaterSaverWndClass", "", WS_CHILD, 0, 0, 10, 10, 1234, 0, 0, nullptr), 0u);
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, nullptr), 0u);
}

TEST_F(WindowsTest, PlacingAndCursorAndMessageBoxesAreSeen) {
  HWND w = popup(0, 0, 640, 480, 0);
  seen.clear();
  SetWindowPos(w, HWND_TOPMOST, 10, 20, 800, 600, SWP_NOACTIVATE);
  RECT r;
  GetWindowRect(w, &r);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.bottom, 620);
  EXPECT_TRUE(ws.record(w)->topmost);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().message, WM_SIZE);
  EXPECT_EQ(LOWORD(static_cast<uintptr_t>(seen.back().lParam)), 800);
  POINT p{5, 5};
  ClientToScreen(w, &p);
  EXPECT_EQ(p.x, 15);
  ScreenToClient(w, &p);
  EXPECT_EQ(p.y, 5);

  SetCursor(0);
  EXPECT_FALSE(ws.cursorVisible());
  SetCursor(LoadCursorA(0, IDC_ARROW));
  EXPECT_TRUE(ws.cursorVisible());

  ws.messageBoxAnswers.push_back(IDCANCEL);
  EXPECT_EQ(MessageBoxA(w, "Could not reset the Direct3D device.", "Rillglass", MB_OKCANCEL | MB_ICONERROR), IDCANCEL);
  EXPECT_EQ(MessageBoxA(0, "Not enough memory.", "Error", MB_ICONEXCLAMATION), IDOK);
  ASSERT_EQ(ws.messageBoxes.size(), 2u);
  EXPECT_EQ(ws.messageBoxes[0].owner, w);
  EXPECT_EQ(ws.messageBoxes[0].caption, "Rillglass");
  EXPECT_EQ(ws.messageBoxes[1].type, MB_ICONEXCLAMATION);

  SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 1, nullptr, 0);
  EXPECT_EQ(ws.screenSaverRunning, 1);
}

// ---- monitors ---------------------------------------------------------------------

TEST_F(WindowsTest, MonitorsFromRectanglesPointsAndWindows) {
  ws.setMonitors({RECT{0, 0, 1280, 1024}, RECT{1280, 0, 2304, 768}});
  ws.displays[1].work = RECT{1280, 0, 2304, 740};
  HMONITOR first = 0x00010001, second = 0x00010002;
  RECT onSecond{1300, 10, 1400, 100}, mostlyFirst{1000, 0, 1300, 100}, nowhere{-500, -500, -400, -400};
  EXPECT_EQ(MonitorFromRect(&onSecond, MONITOR_DEFAULTTONULL), second);
  EXPECT_EQ(MonitorFromRect(&mostlyFirst, MONITOR_DEFAULTTONULL), first);
  EXPECT_EQ(MonitorFromRect(&nowhere, MONITOR_DEFAULTTONULL), 0u);
  EXPECT_EQ(MonitorFromRect(&nowhere, MONITOR_DEFAULTTOPRIMARY), first);
  EXPECT_EQ(MonitorFromPoint(POINT{3000, 100}, MONITOR_DEFAULTTONEAREST), second);
  HWND w = popup(1280, 0, 1024, 768);
  EXPECT_EQ(MonitorFromWindow(w, MONITOR_DEFAULTTONEAREST), second);

  MONITORINFOEXA info;
  ASSERT_TRUE(GetMonitorInfoA(second, &info));
  EXPECT_EQ(info.rcMonitor.left, 1280);
  EXPECT_EQ(info.rcWork.bottom, 740);
  EXPECT_EQ(info.dwFlags, 0u);
  EXPECT_STREQ(info.szDevice, "\\\\.\\DISPLAY2");
  EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 2);
  EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), 2304);

  std::vector<HMONITOR> listed;
  EnumDisplayMonitors(
      0, nullptr,
      [](HMONITOR m, HDC, RECT*, LPARAM data) -> BOOL {
        reinterpret_cast<std::vector<HMONITOR>*>(data)->push_back(m);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&listed));
  EXPECT_EQ(listed, (std::vector<HMONITOR>{first, second}));

  // A display device that is not on the desktop: listed, no monitor.
  ScriptedWindowSystem::Display off;
  off.deviceName = "\\\\.\\DISPLAY3";
  off.description = "Detached Adapter";
  off.stateFlags = 0;
  ws.displays.push_back(off);
  DISPLAY_DEVICEA dd;
  ASSERT_TRUE(EnumDisplayDevicesA(nullptr, 2, &dd, 0));
  EXPECT_STREQ(dd.DeviceString, "Detached Adapter");
  EXPECT_EQ(dd.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP, 0u);
  EXPECT_FALSE(EnumDisplayDevicesA(nullptr, 3, &dd, 0));
  DEVMODEA dm;
  ASSERT_TRUE(EnumDisplaySettingsA("\\\\.\\DISPLAY2", ENUM_CURRENT_SETTINGS, &dm));
  EXPECT_EQ(dm.dmPosition.x, 1280);
  EXPECT_EQ(dm.dmPelsWidth, 1024u);
  EXPECT_EQ(dm.dmBitsPerPel, 32u);
}

TEST_F(WindowsTest, WithoutMultiMonitorFunctionsOnePseudoMonitorNamedDisplay) {
  ws.setMonitors({RECT{0, 0, 1280, 1024}, RECT{1280, 0, 2304, 768}});
  ws.displays[0].work = RECT{0, 0, 1280, 994};
  ws.multiMonitorFunctions = false;
  RECT onPrimary{100, 100, 200, 200}, offPrimary{1500, 0, 1600, 100};
  EXPECT_EQ(MonitorFromRect(&onPrimary, MONITOR_DEFAULTTONULL), PRIMARY_MONITOR_EMULATED);
  EXPECT_EQ(MonitorFromRect(&offPrimary, MONITOR_DEFAULTTONULL), 0u);
  EXPECT_EQ(MonitorFromRect(&offPrimary, MONITOR_DEFAULTTONEAREST), PRIMARY_MONITOR_EMULATED);
  EXPECT_EQ(MonitorFromPoint(POINT{1500, 5}, MONITOR_DEFAULTTONULL), 0u);
  EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 1);
  EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), 1280);
  EXPECT_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), 0);
  EXPECT_EQ(GetSystemMetrics(SM_SAMEDISPLAYFORMAT), 1);

  MONITORINFOEXA info;
  ASSERT_TRUE(GetMonitorInfoA(PRIMARY_MONITOR_EMULATED, &info));
  EXPECT_EQ(info.rcMonitor.right, 1280);
  EXPECT_EQ(info.rcMonitor.bottom, 1024);
  EXPECT_EQ(info.rcWork.bottom, 994);
  EXPECT_EQ(info.dwFlags, MONITORINFOF_PRIMARY);
  EXPECT_STREQ(info.szDevice, "DISPLAY");
  MONITORINFO plain;
  EXPECT_TRUE(GetMonitorInfoA(PRIMARY_MONITOR_EMULATED, &plain));
  EXPECT_FALSE(GetMonitorInfoA(0x00010002, &plain));

  DISPLAY_DEVICEA dd;
  ASSERT_TRUE(EnumDisplayDevicesA(nullptr, 0, &dd, 0));
  EXPECT_STREQ(dd.DeviceName, "DISPLAY");
  EXPECT_STREQ(dd.DeviceString, "DISPLAY");
  EXPECT_EQ(dd.StateFlags, DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE);
  EXPECT_FALSE(EnumDisplayDevicesA(nullptr, 1, &dd, 0));
  DEVMODEA dm;
  ASSERT_TRUE(EnumDisplaySettingsA("DISPLAY", ENUM_CURRENT_SETTINGS, &dm));
  EXPECT_EQ(dm.dmPelsWidth, 1280u);
  int count = 0;
  EnumDisplayMonitors(
      0, nullptr, [](HMONITOR, HDC, RECT*, LPARAM data) -> BOOL { return ++*reinterpret_cast<int*>(data), TRUE; },
      reinterpret_cast<LPARAM>(&count));
  EXPECT_EQ(count, 1);
}

// ---- the error box's drawing ----------------------------------------------------

TEST_F(WindowsTest, ErrorBoxDrawingFillsFramesWrapsAndExcludes) {
  HWND w = popup(0, 0, 400, 300);
  ShowWindow(w, SW_SHOW);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(w, &ps);
  ASSERT_NE(dc, 0u);
  RECT box{50, 75, 350, 225};
  EXPECT_EQ(FillRect(dc, &box, static_cast<HBRUSH>(COLOR_WINDOW + 1)), 1);
  EXPECT_EQ(FrameRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 1);
  const char* text = "There was an unspecified problem with this screen saver.";
  RECT measure = box;
  int height = DrawTextA(dc, text, -1, &measure, DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
  // 300 pixels hold 50 cells: two lines.
  EXPECT_EQ(height, 2 * Painter::lineHeight);
  EXPECT_EQ(measure.bottom, box.top + height);
  EXPECT_EQ(measure.right, box.right);
  RECT place = box;
  place.top = (box.top + box.bottom - height) / 2;
  DrawTextA(dc, text, -1, &place, DT_WORDBREAK | DT_CENTER);
  ExcludeClipRect(dc, box.left, box.top, box.right, box.bottom);
  RECT all{0, 0, 400, 300};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  EndPaint(w, &ps);

  const Painter& p = *ws.record(w)->canvas;
  EXPECT_EQ(p.pixel(10, 10), 0x000000u) << "outside the box: black";
  EXPECT_EQ(p.pixel(52, 77), 0xFFFFFFu) << "inside the box: the window colour";
  EXPECT_EQ(p.pixel(50, 100), 0x000000u) << "the frame";
  EXPECT_EQ(p.pixel(349, 224), 0x000000u) << "the frame";
  // Some text pixels (black) within the two centred lines, none beyond them.
  int inked = 0, stray = 0;
  for (int y = box.top + 1; y < box.bottom - 1; ++y)
    for (int x = box.left + 1; x < box.right - 1; ++x)
      if (p.pixel(x, y) == 0) (y >= place.top && y < place.top + height ? inked : stray)++;
  EXPECT_GT(inked, 100);
  EXPECT_EQ(stray, 0);
  EXPECT_EQ(Painter::wrapText(text, 300, DT_WORDBREAK),
            (std::vector<std::string>{"There was an unspecified problem with this screen", "saver."}));
  EXPECT_NE(std::find(p.log().begin(), p.log().end(), "FillRect 50 75 350 225 #ffffff"), p.log().end());
}

TEST(Draw2dTest, WrappingBreaksLongWordsAndKeepsLineBreaks) {
  EXPECT_EQ(Painter::wrapText("Generic application error. Enable\ndebug output", 600, DT_WORDBREAK),
            (std::vector<std::string>{"Generic application error. Enable", "debug output"}));
  EXPECT_EQ(Painter::wrapText("abcdefghij", 24, DT_WORDBREAK), (std::vector<std::string>{"abcd", "efgh", "ij"}));
  EXPECT_EQ(Painter::wrapText("a b\nc", 600, DT_SINGLELINE), (std::vector<std::string>{"a bc"}));
}
