#!/usr/bin/env bash
# Builds everything and runs every test.
#   scripts/test.sh                 the normal build in build/
#   scripts/test.sh --sanitize      AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/test.sh --thread        ThreadSanitizer in build-tsan/ (the music engine's tests)
# Extra arguments after the mode go to ctest (for example -L pack).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
mode=normal
case "${1:-}" in
  --sanitize) mode=asan; shift ;;
  --thread) mode=tsan; shift ;;
esac

labels=()
case "$mode" in
  normal) build="$here/build"; cmake_args=(-DLM_WERROR=ON) ;;
  asan) build="$here/build-asan"; cmake_args=(-DLM_WERROR=ON -DLM_SANITIZE=address -DLM_BUILD_BENCH=OFF) ;;
  tsan) build="$here/build-tsan"; cmake_args=(-DLM_WERROR=ON -DLM_SANITIZE=thread -DLM_BUILD_BENCH=OFF)
        # The rendering and X11 tests are left out: the races ThreadSanitizer
        # reports there are inside Mesa's, Xlib's and GTK's own threads.
        labels=(-L 'player|platform' -E '^(RenderTest|SdlWindowsTest|X11[A-Za-z]*Test|DesktopTest|GtkDialogsTest)[.]')
        export LM_TARGETS="test_player test_platform" ;;
esac

"$here/scripts/setup.sh" "$build" "${cmake_args[@]}"

# Headless: rendering through Mesa's software rasteriser, sound into nothing.
export SDL_VIDEODRIVER="${SDL_VIDEODRIVER:-offscreen}"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
export LIBGL_ALWAYS_SOFTWARE=1
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/scripts/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

# GTK and X11 tests need a display: run under a private virtual one.
run=(ctest --test-dir "$build" --output-on-failure --timeout 300 -j"$(nproc)" "${labels[@]}" "$@")
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}"
else
  "${run[@]}"
fi
