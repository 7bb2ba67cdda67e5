#include "platform/draw2d.h"

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {

// A 5 x 7 font for ASCII 32..126: seven rows per character, bit 4 the
// leftmost column.
const uint8_t kFont[95][7] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x04, 0x04, 0x04, 0x04, 0x00, 0x00, 0x04},
    {0x0A, 0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00}, {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A},
    {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04}, {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03},
    {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}, {0x0C, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00},
    {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}, {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08},
    {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00}, {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}, {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}, {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00},
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}, {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08},
    {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}, {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00},
    {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}, {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04},
    {0x0E, 0x11, 0x01, 0x0D, 0x15, 0x15, 0x0E}, {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11},
    {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}, {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},
    {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}, {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F},
    {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}, {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}, {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11},
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}, {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},
    {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}, {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D},
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}, {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}, {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A},
    {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}, {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}, {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E},
    {0x00, 0x10, 0x08, 0x04, 0x02, 0x01, 0x00}, {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E},
    {0x04, 0x0A, 0x11, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F},
    {0x08, 0x04, 0x02, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F},
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}, {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E},
    {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}, {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E},
    {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}, {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E},
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}, {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E},
    {0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C}, {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12},
    {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11},
    {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}, {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E},
    {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}, {0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01},
    {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}, {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E},
    {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}, {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D},
    {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}, {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A},
    {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}, {0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E},
    {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}, {0x02, 0x04, 0x04, 0x08, 0x04, 0x04, 0x02},
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, {0x08, 0x04, 0x04, 0x02, 0x04, 0x04, 0x08},
    {0x00, 0x00, 0x08, 0x15, 0x02, 0x00, 0x00},
};

// COLORREF 0x00BBGGRR to a canvas pixel 0x00RRGGBB.
uint32_t toPixel(COLORREF c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

std::string rectText(const RECT& r) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d %d %d %d", r.left, r.top, r.right, r.bottom);
  return buf;
}

std::string colourText(COLORREF c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%06x", toPixel(c));
  return buf;
}

constexpr HBRUSH kStockBase = 0x7F000000;
constexpr HBRUSH kSysBase = 0x7E000000;
constexpr HBRUSH kSolidBase = 0x01000000;

}  // namespace

Painter::Painter(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), pixels_(static_cast<size_t>(width_) * height_, 0) {}

uint32_t Painter::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<size_t>(y) * width_ + x];
}

bool Painter::clipped(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return true;
  for (const RECT& r : excluded_)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

void Painter::plot(int x, int y, COLORREF colour) {
  if (!clipped(x, y)) pixels_[static_cast<size_t>(y) * width_ + x] = toPixel(colour);
}

void Painter::fill(const RECT& rect, COLORREF colour) {
  if (keepLog) log_.push_back("FillRect " + rectText(rect) + " " + colourText(colour));
  int x0 = std::max<int>(rect.left, 0), x1 = std::min<int>(rect.right, width_);
  int y0 = std::max<int>(rect.top, 0), y1 = std::min<int>(rect.bottom, height_);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) plot(x, y, colour);
}

void Painter::frame(const RECT& rect, COLORREF colour) {
  if (keepLog) log_.push_back("FrameRect " + rectText(rect) + " " + colourText(colour));
  if (rect.left >= rect.right || rect.top >= rect.bottom) return;
  for (int x = rect.left; x < rect.right; ++x) {
    plot(x, rect.top, colour);
    plot(x, rect.bottom - 1, colour);
  }
  for (int y = rect.top; y < rect.bottom; ++y) {
    plot(rect.left, y, colour);
    plot(rect.right - 1, y, colour);
  }
}

int Painter::excludeClip(const RECT& rect) {
  if (keepLog) log_.push_back("ExcludeClipRect " + rectText(rect));
  if (rect.left < rect.right && rect.top < rect.bottom) excluded_.push_back(rect);
  return excluded_.empty() ? SIMPLEREGION : COMPLEXREGION;
}

std::vector<std::string> Painter::wrapText(const std::string& text, int width, UINT format) {
  std::vector<std::string> lines;
  int perLine = std::max(width / cellWidth, 1);
  if (format & DT_SINGLELINE) {
    std::string line;
    for (char c : text)
      if (c != '\n' && c != '\r') line += c;
    lines.push_back(line);
    return lines;
  }
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    std::string paragraph = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
    if (!(format & DT_WORDBREAK)) {
      lines.push_back(paragraph);
    } else {
      // Greedy: as many whole words as fit; a word longer than a line is
      // cut so that nothing runs out of the box.
      std::string line;
      size_t i = 0;
      while (i < paragraph.size()) {
        size_t wordEnd = paragraph.find(' ', i);
        if (wordEnd == std::string::npos) wordEnd = paragraph.size();
        std::string word = paragraph.substr(i, wordEnd - i);
        std::string candidate = line.empty() ? word : line + " " + word;
        if (static_cast<int>(candidate.size()) <= perLine) {
          line = candidate;
        } else {
          if (!line.empty()) lines.push_back(line);
          while (static_cast<int>(word.size()) > perLine) {
            lines.push_back(word.substr(0, perLine));
            word = word.substr(perLine);
          }
          line = word;
        }
        i = wordEnd;
        while (i < paragraph.size() && paragraph[i] == ' ') ++i;
      }
      lines.push_back(line);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

void Painter::drawGlyph(unsigned char c, int x, int y, const RECT& clip) {
  if (backMode == OPAQUE) {
    for (int gy = 0; gy < lineHeight; ++gy)
      for (int gx = 0; gx < cellWidth; ++gx) {
        int px = x + gx, py = y + gy;
        if (px >= clip.left && px < clip.right && py >= clip.top && py < clip.bottom) plot(px, py, backColour);
      }
  }
  if (c < 32 || c > 126) c = '?';
  const uint8_t* rows = kFont[c - 32];
  for (int gy = 0; gy < 7; ++gy)
    for (int gx = 0; gx < 5; ++gx) {
      if (!(rows[gy] & (0x10 >> gx))) continue;
      int px = x + gx, py = y + 1 + gy;
      if (px >= clip.left && px < clip.right && py >= clip.top && py < clip.bottom) plot(px, py, textColour);
    }
}

int Painter::drawText(const std::string& text, RECT& rect, UINT format) {
  int boxWidth = rect.right - rect.left;
  std::vector<std::string> lines = wrapText(text, boxWidth, format);
  int height = static_cast<int>(lines.size()) * lineHeight;
  if (format & DT_CALCRECT) {
    size_t widest = 0;
    for (const std::string& l : lines) widest = std::max(widest, l.size());
    int textWidth = static_cast<int>(widest) * cellWidth;
    if (lines.size() <= 1 || textWidth > boxWidth) rect.right = rect.left + textWidth;
    rect.bottom = rect.top + height;
    return height;
  }
  if (keepLog) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " 0x%x ", format);
    log_.push_back("DrawText " + rectText(rect) + buf + text);
  }
  int y = rect.top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) y = rect.top + (rect.bottom - rect.top - lineHeight) / 2;
    if (format & DT_BOTTOM) y = rect.bottom - lineHeight;
  }
  RECT clip = (format & DT_NOCLIP) ? RECT{-(1 << 30), -(1 << 30), 1 << 30, 1 << 30} : rect;
  for (const std::string& line : lines) {
    int lineWidth = static_cast<int>(line.size()) * cellWidth;
    int x = rect.left;
    if (format & DT_CENTER) x = rect.left + (boxWidth - lineWidth) / 2;
    if (format & DT_RIGHT) x = rect.right - lineWidth;
    for (size_t i = 0; i < line.size(); ++i)
      drawGlyph(static_cast<unsigned char>(line[i]), x + static_cast<int>(i) * cellWidth, y, clip);
    y += lineHeight;
  }
  return height;
}

// ---- GDI -------------------------------------------------------------------------

HGDIOBJ GetStockObject(int object) {
  if (object < WHITE_BRUSH || object > NULL_BRUSH) return 0;
  return kStockBase + static_cast<HBRUSH>(object);
}

HBRUSH GetSysColorBrush(int index) { return kSysBase + static_cast<HBRUSH>(index); }

COLORREF GetSysColor(int index) {
  switch (index) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_BACKGROUND: return RGB(0, 128, 128);
    case COLOR_BTNFACE:
    default: return RGB(192, 192, 192);
  }
}

HBRUSH CreateSolidBrush(COLORREF colour) { return kSolidBase | (colour & 0xFFFFFF); }

BOOL DeleteObject(HGDIOBJ object) { return object ? TRUE : FALSE; }

bool brushColour(HBRUSH brush, COLORREF* colour) {
  COLORREF c;
  if (brush >= 1 && brush <= 31) {
    c = GetSysColor(static_cast<int>(brush) - 1);
  } else if (brush >= kSysBase && brush < kSysBase + 32) {
    c = GetSysColor(static_cast<int>(brush - kSysBase));
  } else if (brush >= kStockBase && brush <= kStockBase + NULL_BRUSH) {
    static const COLORREF stock[] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128), RGB(64, 64, 64),
                                     RGB(0, 0, 0)};
    int index = static_cast<int>(brush - kStockBase);
    if (index == NULL_BRUSH) return false;
    c = stock[index];
  } else if ((brush & ~static_cast<HBRUSH>(0xFFFFFF)) == kSolidBase) {
    c = static_cast<COLORREF>(brush & 0xFFFFFF);
  } else {
    return false;
  }
  if (colour) *colour = c;
  return true;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  Painter* p = windowSystem().painter(dc);
  COLORREF c;
  if (!p || !rect || !brushColour(brush, &c)) return 0;
  p->fill(*rect, c);
  return 1;
}

int FrameRect(HDC dc, const RECT* rect, HBRUSH brush) {
  Painter* p = windowSystem().painter(dc);
  COLORREF c;
  if (!p || !rect || !brushColour(brush, &c)) return 0;
  p->frame(*rect, c);
  return 1;
}

int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) {
  Painter* p = windowSystem().painter(dc);
  if (!p || !text || !rect) return 0;
  std::string s = count < 0 ? std::string(text) : std::string(text, static_cast<size_t>(count));
  return p->drawText(s, *rect, format);
}

int ExcludeClipRect(HDC dc, int left, int top, int right, int bottom) {
  Painter* p = windowSystem().painter(dc);
  if (!p) return ERROR_REGION;
  return p->excludeClip(RECT{left, top, right, bottom});
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
  Painter* p = windowSystem().painter(dc);
  if (!p) return 0xFFFFFFFF;
  COLORREF old = p->textColour;
  p->textColour = colour;
  return old;
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
  Painter* p = windowSystem().painter(dc);
  if (!p) return 0xFFFFFFFF;
  COLORREF old = p->backColour;
  p->backColour = colour;
  return old;
}

int SetBkMode(HDC dc, int mode) {
  Painter* p = windowSystem().painter(dc);
  if (!p) return 0;
  int old = p->backMode;
  p->backMode = mode;
  return old;
}

}  // namespace platform
