#pragma once
// A small X11 client for the end-to-end tests: it looks at the windows the
// screen saver made, makes a window for the preview to draw in, and types
// keys as a keyboard would.  No X11 types leak out of here.
#include <cstdint>
#include <string>
#include <vector>

namespace x11probe {

struct WindowInfo {
  unsigned long id = 0;
  std::string name;
  int x = 0, y = 0, width = 0, height = 0;
  bool mapped = false;
  bool above = false;  // _NET_WM_STATE_ABOVE: stays over other windows
  long pid = 0;        // _NET_WM_PID: the process that made it (0 when unknown)
};

class Connection {
 public:
  Connection();  // opens $DISPLAY
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  bool ok() const { return display_ != nullptr; }

  int screenWidth() const;
  int screenHeight() const;
  unsigned long root() const;
  // Direct children of a window (the root for top-level windows).
  std::vector<WindowInfo> children(unsigned long window);
  // A mapped plain window of this size at (0, 0).
  unsigned long createWindow(int width, int height);
  void destroyWindow(unsigned long window);
  // Gives the window the keyboard focus and presses and releases the key
  // named by its keysym ("Escape", "a").
  void typeKey(unsigned long window, const char* keysym);
  void sync();

  // A borderless window at (0, 0) showing the picture (0xRRGGBB pixels,
  // rows from the top), above what is there: a stand-in desktop.
  unsigned long showPicture(int width, int height, const std::vector<uint32_t>& pixels);
  // What the screen shows in the rectangle, as 0xRRGGBB pixels.
  std::vector<uint32_t> screenshot(int x, int y, int width, int height);
  // Moves the pointer to (x, y) and clicks the left button (XTest); false
  // where XTest is missing.
  bool click(int x, int y);

 private:
  void* display_ = nullptr;
};

}  // namespace x11probe
