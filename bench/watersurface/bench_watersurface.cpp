// WaterSurface::step time per node, on a surface kept busy the way a running
// saver keeps it: waves from random drops, a boat wake and a cross-fade in
// progress.  The goal is at most 3 ns per node per step.
#include <benchmark/benchmark.h>

#include "platform/crtrand.h"
#include "scene/watersurface.h"

namespace {

void stepPerNode(benchmark::State& state) {
  const int screenWidth = static_cast<int>(state.range(0));
  const int screenHeight = static_cast<int>(state.range(1));
  const int surfaceSize = static_cast<int>(state.range(2));
  WaterSurface surface;
  if (surface.build(screenWidth, screenHeight, surfaceSize, 0x00FF8040, WaterSurface::kRipple) != 0) {
    state.SkipWithError("build failed");
    return;
  }
  platform::srand(1);
  const D3DXVECTOR3 eye(0.0f, surface.widthUnits() * 0.5f, 0.0f);
  const float dt = 1.0f / 60.0f;
  // Let waves and the fade spread over the whole surface first.
  for (int i = 0; i < 200; ++i) {
    if (i % 20 == 0) surface.drop(0, 0, 0);
    surface.step(eye, dt);
  }
  int frame = 0;
  for (auto _ : state) {
    if (++frame % 60 == 0) surface.drop(0, 0, 0);
    surface.dragLine(100, 100, 110, 104, 5);
    surface.step(eye, dt);
    benchmark::DoNotOptimize(surface.vertices());
  }
  const double nodes = static_cast<double>(surface.nodeCount());
  state.counters["nodes"] = nodes;
  state.counters["per_node"] =
      benchmark::Counter(nodes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A surface left alone for many minutes: no drops, no boat, the waves
// damped down to the smallest floats the processor has.  Gradual underflow
// is part of the arithmetic, so this is what such a surface costs.
void settledStepPerNode(benchmark::State& state) {
  WaterSurface surface;
  if (surface.build(1024, 768, 160, 0, WaterSurface::kRipple) != 0) {
    state.SkipWithError("build failed");
    return;
  }
  platform::srand(1);
  const int w = surface.cols();
  for (int r = 1; r < surface.rows() - 1; ++r)
    for (int c = 1; c < w - 1; ++c) {
      surface.setHeight(r * w + c, static_cast<float>(platform::rand() - 16384) * 1e-42f);
      surface.setVelocity(r * w + c, static_cast<float>(platform::rand() - 16384) * 1e-43f);
    }
  const D3DXVECTOR3 eye(0.0f, surface.widthUnits() * 0.5f, 0.0f);
  for (auto _ : state) {
    surface.step(eye, 1.0f / 60.0f);
    benchmark::DoNotOptimize(surface.vertices());
  }
  state.counters["per_node"] = benchmark::Counter(
      surface.nodeCount(), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

// Screen width, height, surfaceSize: 4:3 and 16:9 at 60, 120 and 160.
BENCHMARK(stepPerNode)
    ->ArgNames({"w", "h", "size"})
    ->Args({1024, 768, 60})
    ->Args({1024, 768, 120})
    ->Args({1024, 768, 160})
    ->Args({1920, 1080, 60})
    ->Args({1920, 1080, 120})
    ->Args({1920, 1080, 160})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(settledStepPerNode)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
