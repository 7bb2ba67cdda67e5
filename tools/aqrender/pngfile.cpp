#include "tools/aqrender/pngfile.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};

}  // namespace

bool writePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (width <= 0 || height <= 0 || pixels.size() < static_cast<size_t>(width) * height)
    return fail("no picture to write");
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return fail(std::strerror(errno));
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return fail("out of memory");
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return fail("out of memory");
  }
  std::vector<png_byte> row(static_cast<size_t>(width) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return fail("libpng could not write the file");
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const uint32_t* source = pixels.data() + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      row[x * 3 + 0] = static_cast<png_byte>(source[x] >> 16);
      row[x * 3 + 1] = static_cast<png_byte>(source[x] >> 8);
      row[x * 3 + 2] = static_cast<png_byte>(source[x]);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) return fail(std::strerror(errno));
  if (std::fclose(file.release()) != 0) return fail(std::strerror(errno));
  return true;
}

bool readPng(const std::string& path, std::vector<uint32_t>& pixels, int& width, int& height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_BGRA;
  pixels.assign(static_cast<size_t>(image.width) * image.height, 0);
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  for (uint32_t& p : pixels) p |= 0xFF000000u;
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return true;
}
