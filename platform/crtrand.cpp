#include "platform/crtrand.h"

#include <atomic>

namespace platform {
namespace {
// Atomic so that the music engine's shuffle may reseed from its own thread.
std::atomic<uint32_t> state{1};
}  // namespace

int rand() {
  uint32_t s = state.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = s * 214013u + 2531011u;
  } while (!state.compare_exchange_weak(s, next, std::memory_order_relaxed));
  return static_cast<int>((next >> 16) & 0x7FFF);
}

void srand(uint32_t seed) { state.store(seed, std::memory_order_relaxed); }

uint32_t randState() { return state.load(std::memory_order_relaxed); }

int randomIndex(int k) {
  int r = rand();
  return static_cast<int>(static_cast<int64_t>(k) * r / 32768);
}

}  // namespace platform
