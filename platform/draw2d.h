#pragma once
// Plain 2D drawing into a window's device context, for the error box that
// replaces the scene when something failed: filled and framed rectangles,
// word-wrapped text in a small built-in font, and clipping by excluded
// rectangles, with the GDI names and meanings (FillRect, FrameRect,
// DrawTextA with DT_CALCRECT / DT_WORDBREAK / DT_CENTER, ExcludeClipRect).
//
// A device context (HDC, from BeginPaint or GetDC in platform/window.h) stands
// for a Painter: a canvas of 0x00RRGGBB pixels the size of the window's
// client area.  The SDL back end shows the canvas in the window at EndPaint /
// ReleaseDC; the scripted window system keeps it for tests to look at.
#include <string>
#include <vector>

#include "platform/window.h"

// DrawTextA formats
inline constexpr UINT DT_TOP = 0x0000;
inline constexpr UINT DT_LEFT = 0x0000;
inline constexpr UINT DT_CENTER = 0x0001;
inline constexpr UINT DT_RIGHT = 0x0002;
inline constexpr UINT DT_VCENTER = 0x0004;
inline constexpr UINT DT_BOTTOM = 0x0008;
inline constexpr UINT DT_WORDBREAK = 0x0010;
inline constexpr UINT DT_SINGLELINE = 0x0020;
inline constexpr UINT DT_NOCLIP = 0x0100;
inline constexpr UINT DT_CALCRECT = 0x0400;
inline constexpr UINT DT_NOPREFIX = 0x0800;

// Background modes
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// Region kinds returned by ExcludeClipRect
inline constexpr int ERROR_REGION = 0;
inline constexpr int NULLREGION = 1;
inline constexpr int SIMPLEREGION = 2;
inline constexpr int COMPLEXREGION = 3;

namespace platform {

// The canvas behind one device context.
class Painter {
 public:
  Painter(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  // 0x00RRGGBB, rows top to bottom.
  const std::vector<uint32_t>& pixels() const { return pixels_; }
  uint32_t pixel(int x, int y) const;
  // Every drawing call made on this canvas, one line each, in order (for
  // tests): "FillRect 10 20 310 170 #d4d0c8", "FrameRect ...",
  // "DrawText 10 20 310 170 0x411 <text>", "ExcludeClipRect ...".
  const std::vector<std::string>& log() const { return log_; }

  // Fills the rectangle, less the excluded ones, clipped to the canvas.
  void fill(const RECT& rect, COLORREF colour);
  // A one-pixel border just inside the rectangle.
  void frame(const RECT& rect, COLORREF colour);
  // Lays out text in the rectangle as DrawTextA does; returns the text's
  // height, and with DT_CALCRECT only measures (rect gets the text's box).
  int drawText(const std::string& text, RECT& rect, UINT format);
  // Removes a rectangle from the area later drawing reaches.
  int excludeClip(const RECT& rect);
  // A new device context starts without exclusions and with the default
  // text colours and background mode.
  void beginContext() {
    excluded_.clear();
    textColour = 0x000000;
    backColour = 0xFFFFFF;
    backMode = TRANSPARENT;
  }
  // Keep the log of drawing calls (tests); off, nothing is kept.
  bool keepLog = false;

  COLORREF textColour = 0x000000;
  COLORREF backColour = 0xFFFFFF;
  // Text is drawn without a background unless SetBkMode asks for OPAQUE,
  // so that a line as wide as its box leaves the box's frame alone.
  int backMode = TRANSPARENT;

  // The built-in font: every character cell is this many pixels.
  static constexpr int cellWidth = 6;
  static constexpr int lineHeight = 10;

  // Lines that DrawTextA would show for text in a box of this width.
  static std::vector<std::string> wrapText(const std::string& text, int width, UINT format);

 private:
  void plot(int x, int y, COLORREF colour);
  bool clipped(int x, int y) const;
  void drawGlyph(unsigned char c, int x, int y, const RECT& clip);

  int width_, height_;
  std::vector<uint32_t> pixels_;
  std::vector<RECT> excluded_;
  std::vector<std::string> log_;
};

// ---- the GDI calls ----------------------------------------------------------
HGDIOBJ GetStockObject(int object);
HBRUSH GetSysColorBrush(int index);
COLORREF GetSysColor(int index);
HBRUSH CreateSolidBrush(COLORREF colour);
BOOL DeleteObject(HGDIOBJ object);
// The colour a brush paints with (brushes from GetStockObject,
// GetSysColorBrush, CreateSolidBrush, or a system colour index + 1);
// false for the null brush or an unknown handle.
bool brushColour(HBRUSH brush, COLORREF* colour);

int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
int FrameRect(HDC dc, const RECT* rect, HBRUSH brush);
int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format);
int ExcludeClipRect(HDC dc, int left, int top, int right, int bottom);
COLORREF SetTextColor(HDC dc, COLORREF colour);
COLORREF SetBkColor(HDC dc, COLORREF colour);
int SetBkMode(HDC dc, int mode);

}  // namespace platform
