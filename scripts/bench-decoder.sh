#!/usr/bin/env bash
# The MPEG audio decoder's benchmark.  Makes 120 s music-like test files with
# Debian's encoders (sox, lame, twolame; cached in BUILD/bench/mpegaudio-data),
# then reports
#   - bench_mpegaudio: times real time per core of the decoder core on them
#     (Layer III 128 and 320 kbit/s, Layer II 256 kbit/s, 44.1 kHz stereo) and
#     on the conformance streams;
#   - whole-process user time and peak memory of mp3decode on each file,
#     median of RUNS, side by side with mpg123 (Debian's decoder) and, with
#     --baseline, with another mp3decode build (e.g. one of an older commit).
# Not run in CI.  Installs the encoders and mpg123 when missing (as root).
#   scripts/bench-decoder.sh [--runs N] [--build DIR] [--baseline MP3DECODE]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
runs=7
build="$here/build"
baseline=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    --baseline) baseline="$2"; shift 2 ;;
    *) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done

packages=(sox lame twolame mpg123)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bench-decoder: install ${missing[*]} first (apt-get install ${missing[*]})" >&2
    exit 1
  fi
  echo "bench-decoder: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ -f "$build/build.ninja" ] || "$here/scripts/setup.sh" "$build" >/dev/null
cmake --build "$build" -j2 --target bench_mpegaudio proctime mp3decode >/dev/null

# Music-like content: eight two-note plucked chords over pink noise, half a
# second each, the left and right channels mixed differently, repeated to 120 s.
data="$build/bench/mpegaudio-data"
if [ ! -f "$data/l2_256.mp2" ]; then
  mkdir -p "$data"
  tmp="$(mktemp -d)"
  trap 'rm -rf "$tmp"' EXIT
  i=0
  for chord in A2:E3 C3:G3 E3:B3 G2:D3 D3:A3 F3:C4 A3:E4 B2:F3; do
    sox -n -r 44100 -c 3 -b 16 -t wav - synth 0.5 pluck "${chord%:*}" pluck "${chord#*:}" pinknoise 2>/dev/null |
      sox -q -t wav - -c 2 "$tmp/n$i.wav" remix 1,2v0.5,3v0.12 2,1v0.5,3v0.12 2>/dev/null
    i=$((i + 1))
  done
  sox -q "$tmp"/n?.wav "$tmp/phrase.wav"
  sox -q "$tmp/phrase.wav" "$tmp/src.wav" repeat 29 gain -n -2
  lame --quiet -b 128 "$tmp/src.wav" "$data/l3_128.mp3"
  lame --quiet -b 320 "$tmp/src.wav" "$data/l3_320.mp3"
  twolame --quiet -b 256 "$tmp/src.wav" "$data/l2_256.mp2"
fi

echo "== decoder core, times real time per core (xRealtime)"
LM_MPEGAUDIO_BENCH_DATA="$data" "$build/bench/bench_mpegaudio" --benchmark_min_time=1 2>&1 |
  grep -v '^\*\*\*'

for f in l3_128.mp3 l3_320.mp3 l2_256.mp2; do
  echo
  echo "== whole process on $f (120 s), against mpg123"
  "$here/scripts/decoder-compare.sh" --runs "$runs" --build "$build" "$data/$f" mpg123 -q -s {} | tail -2
  if [ -n "$baseline" ]; then
    echo "== whole process on $f, against $baseline"
    "$here/scripts/decoder-compare.sh" --runs "$runs" --build "$build" "$data/$f" "$baseline" {} - | tail -2
  fi
done
