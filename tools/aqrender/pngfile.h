#pragma once
// Frames as PNG files (libpng): 8-bit RGB rows from the top.
#include <cstdint>
#include <string>
#include <vector>

// Writes 0xAARRGGBB pixels (alpha ignored) as an RGB PNG; false with a
// reason in `error` when the file can't be written.
bool writePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height,
              std::string* error = nullptr);
// Reads an 8-bit RGB or RGBA PNG into 0xFFRRGGBB pixels.
bool readPng(const std::string& path, std::vector<uint32_t>& pixels, int& width, int& height);
