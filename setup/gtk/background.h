#pragma once
// The installer's full-screen background: bands from light blue at the top
// to black at the bottom, and the caption in large bold italic white.
#include <cairo.h>

#include <memory>
#include <string>

// Paints the background of a W x H screen.
void paintBackground(cairo_t* cr, int width, int height, const std::string& caption);

// The window that shows it over the whole screen (maximized, and sized to
// the screen where no window manager maximizes it).
class BackgroundWindow {
 public:
  BackgroundWindow();
  ~BackgroundWindow();
  BackgroundWindow(const BackgroundWindow&) = delete;
  BackgroundWindow& operator=(const BackgroundWindow&) = delete;

  void show(const std::string& caption);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
