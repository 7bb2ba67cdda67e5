// Picture load time: a 12-megapixel JPEG through loadImage (file read
// through the pack, memory source in 4 KiB pieces, error handling, RGB
// rows) against libjpeg alone decoding the same bytes with its own memory
// source.  The picture is made at start with libjpeg's compressor.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "source/loadimage.h"

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

struct Picture {
  std::string bytes;
  std::string path;
};

// A photograph-like picture: smooth gradients with some fine texture.
const Picture& picture() {
  static Picture p = [] {
    Picture out;
    std::vector<uint8_t> row(size_t(kWidth) * 3);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    uint32_t noise = 12345;
    while (c.next_scanline < c.image_height) {
      const int y = int(c.next_scanline);
      for (int x = 0; x < kWidth; ++x) {
        noise = noise * 1664525u + 1013904223u;
        const int n = int(noise >> 28) - 8;
        const double v = 0.5 + 0.5 * std::sin(x * 0.004 + y * 0.003) * std::cos(y * 0.002 - x * 0.001);
        row[3 * x] = uint8_t(std::clamp(int(255 * v) + n, 0, 255));
        row[3 * x + 1] = uint8_t(std::clamp(int(200 * (1 - v)) + 30 + n, 0, 255));
        row[3 * x + 2] = uint8_t(std::clamp(x * 255 / kWidth + n, 0, 255));
      }
      JSAMPROW r = row.data();
      jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    out.bytes.assign(reinterpret_cast<char*>(mem), size);
    std::free(mem);
    char tmpl[] = "/tmp/lumenmere-bench-XXXXXX.jpg";
    const int fd = mkstemps(tmpl, 4);
    if (fd >= 0) {
      if (write(fd, out.bytes.data(), out.bytes.size()) != ssize_t(out.bytes.size())) std::abort();
      close(fd);
      out.path = tmpl;
      std::atexit([] { std::remove(picture().path.c_str()); });
    }
    return out;
  }();
  return p;
}

void libjpegAlone(benchmark::State& state) {
  const Picture& p = picture();
  for (auto _ : state) {
    // A fresh buffer per picture, as a caller gets one.
    std::unique_ptr<uint8_t[]> pixels;
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(p.bytes.data()), p.bytes.size());
    jpeg_read_header(&c, TRUE);
    jpeg_start_decompress(&c);
    pixels.reset(new uint8_t[size_t(c.output_width) * c.output_height * c.output_components]);
    while (c.output_scanline < c.output_height) {
      JSAMPROW row = pixels.get() + size_t(c.output_scanline) * c.output_width * c.output_components;
      jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    benchmark::DoNotOptimize(pixels.get());
  }
  state.counters["MB"] = double(p.bytes.size()) / 1e6;
}

void decodeJpegFromMemory(benchmark::State& state) {
  const Picture& p = picture();
  int w = 0, h = 0;
  for (auto _ : state) {
    PixelBuffer pixels;
    if (!decodeJpeg(reinterpret_cast<const uint8_t*>(p.bytes.data()), p.bytes.size(), pixels, w, h))
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(pixels.data());
  }
}

void loadImageFromFile(benchmark::State& state) {
  const Picture& p = picture();
  int w = 0, h = 0;
  for (auto _ : state) {
    PixelBuffer pixels;
    if (loadImage(p.path, pixels, w, h) != 0) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(pixels.data());
  }
}

}  // namespace

BENCHMARK(libjpegAlone)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(decodeJpegFromMemory)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(loadImageFromFile)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK_MAIN();
