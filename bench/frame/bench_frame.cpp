// The saver's frame on this machine's renderer (SDL offscreen + the OpenGL
// device, Mesa's llvmpipe where there is no GPU): 1920 x 1080, surface size
// 160, ripples, specular light and the boat on, two pictures.  Each
// iteration is one frame as the saver draws and shows it (render + Present);
// the counter cpu_ms is the scene's own arithmetic in that frame (frame
// update, simulation, vertex and index building), outside the GL driver.
//
//   SDL_VIDEODRIVER=offscreen LIBGL_ALWAYS_SOFTWARE=1 build/bench/bench_frame
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/crtrand.h"
#include "platform/files.h"
#include "source/config.h"
#include "tools/aqrender/headless.h"

namespace {

// A 24-bit bitmap of the size, from a colour function.
template <class F>
std::string writeBitmap(const std::string& path, int w, int h, F colour) {
  const int rowBytes = (w * 3 + 3) & ~3;
  std::vector<uint8_t> b(54 + static_cast<size_t>(rowBytes) * h, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<uint32_t>(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(w));
  put32(22, static_cast<uint32_t>(h));
  b[26] = 1;
  b[28] = 24;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c = colour(x, y);
      uint8_t* p = &b[54 + static_cast<size_t>(h - 1 - y) * rowBytes + static_cast<size_t>(x) * 3];
      p[0] = static_cast<uint8_t>(c);
      p[1] = static_cast<uint8_t>(c >> 8);
      p[2] = static_cast<uint8_t>(c >> 16);
    }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
  }
  return path;
}

void BM_Frame1920x1080(benchmark::State& state) {
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
  char dirTemplate[] = "/tmp/bench_frame.XXXXXX";
  const char* dir = mkdtemp(dirTemplate);
  if (!dir) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::string first = writeBitmap(std::string(dir) + "/one.bmp", 1920, 1080, [](int x, int y) {
    return static_cast<uint32_t>(((x * 255 / 1920) << 16) | ((y * 255 / 1080) << 8) | 128);
  });
  const std::string second = writeBitmap(std::string(dir) + "/two.bmp", 1920, 1080, [](int x, int y) {
    return static_cast<uint32_t>((((x / 60 + y / 60) % 2) ? 0xC87830 : 0x3078C8));
  });

  Config config;
  config.water.surfaceSize = 160;
  config.water.waterFlags = ConfigWater::ripple | ConfigWater::specular | ConfigWater::boat;
  config.mp3.listEnabled = 0;
  config.images.clearLists();
  config.images.fileList.append(first);
  config.images.fileList.append(second);
  config.images.playMode = ConfigFileList::kFileList;
  config.images.randomizeOrder = 0;
  Config::publish(&config);
  platform::srand(1);
  {
    FrameProfile profile;
    HeadlessSaver saver;
    saver.app().profile = &profile;
    std::string error;
    if (!saver.open(1920, 1080, nullptr, &error)) {
      state.SkipWithError(error.c_str());
    } else {
      saver.scene()->profile = &profile;
      // Ripples everywhere, the boat under way.
      saver.drag(100, 100, 1800, 1000);
      for (int i = 0; i < 10; ++i) {
        saver.renderFrame(1.0 / 30.0);
        saver.present();
      }
      double cpu = 0.0;
      for (auto _ : state) {
        profile.clear();
        saver.renderFrame(1.0 / 30.0);
        saver.present();
        cpu += profile.updateSeconds + profile.buildSeconds;
      }
      state.counters["cpu_ms"] =
          benchmark::Counter(cpu * 1000.0 / static_cast<double>(state.iterations()), benchmark::Counter::kDefaults);
    }
  }
  Config::publish(nullptr);
  std::remove(first.c_str());
  std::remove(second.c_str());
  rmdir(dir);
}
BENCHMARK(BM_Frame1920x1080)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

}  // namespace

BENCHMARK_MAIN();
