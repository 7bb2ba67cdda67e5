// The screen saver's entry point.
#include <cstdio>

int main() {
  std::puts("aquaveil: the screen saver is being built; it does not run yet.");
  return 0;
}
