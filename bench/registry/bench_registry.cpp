// Registry calls against a file of 20,000 values under one key, as a
// long-used installation may have: the first call after the file changed
// (read and parse), a call on the unchanged file, and a value written
// (the whole file rewritten).  The file lives in a temporary directory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/registry.h"

namespace {

constexpr int kValues = 20000;
constexpr const char* kKey = "Software\\Tessolar\\Lumenmere";

const std::string& registryFile() {
  static const std::string path = [] {
    char dir[] = "/tmp/bench_registry.XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    std::string p = std::string(dir) + "/registry.reg";
    std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessolar\\Lumenmere]\n";
    char line[64];
    for (int i = 0; i < kValues; ++i) {
      std::snprintf(line, sizeof line, "\"value%05d\"=\"some text %d\"\n", i, i);
      text += line;
    }
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) std::abort();
    setenv("LUMENMERE_REGISTRY", p.c_str(), 1);
    return p;
  }();
  return path;
}

DWORD queryOne(const char* name) {
  HKEY key = 0;
  if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) std::abort();
  char buf[64];
  DWORD size = sizeof buf, type = 0;
  platform::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  platform::RegCloseKey(key);
  return size;
}

// The file changed since the last call: it is read and parsed again.
void BM_FirstCallAfterAChange(benchmark::State& state) {
  const std::string& path = registryFile();
  long tick = 1;
  for (auto _ : state) {
    state.PauseTiming();
    const struct timespec times[2] = {{tick, 0}, {tick, 0}};
    ++tick;
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    state.ResumeTiming();
    benchmark::DoNotOptimize(queryOne("value19999"));
  }
}
BENCHMARK(BM_FirstCallAfterAChange)->Unit(benchmark::kMillisecond);

void BM_CallOnAnUnchangedFile(benchmark::State& state) {
  registryFile();
  queryOne("value00000");
  for (auto _ : state) benchmark::DoNotOptimize(queryOne("value12345"));
}
BENCHMARK(BM_CallOnAnUnchangedFile)->Unit(benchmark::kMicrosecond);

void BM_SetOneValue(benchmark::State& state) {
  registryFile();
  HKEY key = 0;
  if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) std::abort();
  DWORD n = 0;
  for (auto _ : state) {
    ++n;
    platform::RegSetValueExA(key, "counter", 0, REG_DWORD, reinterpret_cast<BYTE*>(&n), 4);
  }
  platform::RegCloseKey(key);
}
BENCHMARK(BM_SetOneValue)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
