#!/usr/bin/env bash
# Builds every fuzz target (fuzz/<name>/ defines the executable fuzz_<name>)
# with clang, libFuzzer and AddressSanitizer in build-fuzz, then runs each for
# the given number of seconds (default 60).  The MPEG audio decoder runs once
# per build of its inner loops (scalar, sse2, avx2: LM_FUZZ_DECODER_PATHS
# narrows the list), each for that long.  Exits non-zero when a target
# crashes or fails to build.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build="${LM_FUZZ_BUILD_DIR:-$here/build-fuzz}"

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DLM_BUILD_FUZZ=ON -DLM_SANITIZE=address -DLM_BUILD_TESTS=OFF -DLM_BUILD_BENCH=OFF >/dev/null
fi

shift || true
only=("$@")

# run TARGET DIR [VAR=VALUE...]: one fuzzing run with its own working corpus.
run() {
  local target="$1" dir="$2"
  shift 2
  local work
  work="$(mktemp -d)"
  local seeds=()
  [ -d "$dir/corpus" ] && seeds=("$dir/corpus")
  echo "fuzz: running $target ${*:+($*) }for ${seconds}s"
  if ! env "$@" "$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
       -artifact_prefix="$work/" -print_final_stats=1 "$work" "${seeds[@]}"; then
    echo "fuzz: $target ${*:+($*) }FAILED; crash inputs:" >&2
    # Each input that failed, in hex, so that a CI log is enough to replay it.
    for f in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
      [ -f "$f" ] || continue
      echo "$f ($(stat -c %s "$f") bytes):" >&2
      od -An -tx1 -v "$f" | head -64 >&2
    done
    status=1
  fi
}

status=0
for dir in "$here"/fuzz/*/; do
  [ -f "$dir/CMakeLists.txt" ] || continue
  name="$(basename "$dir")"
  if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
  target="fuzz_$name"
  echo "fuzz: building $target"
  cmake --build "$build" --target "$target" -j2
  if [ "$name" = mpegaudio ]; then
    for path in ${LM_FUZZ_DECODER_PATHS:-scalar sse2 avx2}; do
      run "$target" "$dir" LM_MPEGAUDIO_SIMD="$path"
    done
  else
    run "$target" "$dir"
  fi
done
exit $status
