#pragma once
// The saver's water application on a device of its own, without a screen:
// an offscreen window (SDL's offscreen video driver), the OpenGL Direct3D
// device, and WaterSaverApp in test mode with its one unit, driven frame by
// frame with a fixed frame time.  Mouse input goes through the
// application's window procedure as a real mouse's does.
//
// The process-wide settings (Config::publish) are what the scene is made
// from; publish them before open().
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shell/watersaverapp.h"

class HeadlessSaver {
 public:
  HeadlessSaver();
  ~HeadlessSaver();
  HeadlessSaver(const HeadlessSaver&) = delete;
  HeadlessSaver& operator=(const HeadlessSaver&) = delete;

  // Makes the window, the device and the scene.  `desktop` stands in for
  // the desktop snapshot (none: no snapshot).  False, with the reason in
  // `error`, when there is no GL device.
  bool open(int width, int height, std::shared_ptr<const RgbPicture> desktop, std::string* error);

  // A left-button press and release at pixel (x, y).
  void click(int x, int y);
  // The mouse moves to (x1, y1), then with the left button held to (x2, y2).
  void drag(int x1, int y1, int x2, int y2);
  // One frame of dt seconds: the scene advances and is drawn.
  void renderFrame(double dt);
  // Shows the frame as the saver does (and waits for the drawing).
  bool present();
  // The frame as 0xAARRGGBB pixels, rows from the top.
  bool readFrame(std::vector<uint32_t>& pixels, int& width, int& height);

  WaterSaverApp& app() { return *app_; }
  WaterScene* scene() { return app_->currentScene(); }
  Direct3DDevice8* device() { return app_->currentDevice; }
  HWND window() const { return window_; }

 private:
  void send(UINT message, WPARAM wParam, int x, int y);

  std::unique_ptr<WaterSaverApp> app_;
  HWND window_ = 0;
};
