#!/usr/bin/env bash
# Times mp3decode against another decoder command on the same file: the two
# run in turn, several times, each writing its PCM to /dev/null; prints the
# median user time and peak memory of each and the median ratio of the user
# times (mp3decode / other).
#   scripts/decoder-compare.sh [--runs N] [--build DIR] FILE COMMAND [ARGS...]
# "{}" in ARGS stands for FILE (FILE is appended when no argument holds it).
# Example:  scripts/decoder-compare.sh song.mp3 mpg123 -q -s {}
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
runs=7
build="$here/build"
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -lt 2 ]; then
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
file="$1"
shift
[ -f "$file" ] || { echo "decoder-compare: no file $file" >&2; exit 2; }
proctime="$build/bench/proctime"
decoder="$build/bin/mp3decode"
if [ ! -x "$proctime" ] || [ ! -x "$decoder" ]; then
  cmake --build "$build" -j2 --target proctime mp3decode >/dev/null
fi

other=()
placed=0
for a in "$@"; do
  if [ "$a" = "{}" ]; then other+=("$file"); placed=1; else other+=("$a"); fi
done
[ $placed -eq 1 ] || other+=("$file")

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for ((i = 1; i <= runs; ++i)); do
  "$proctime" "$work/a" "$decoder" "$file" - >/dev/null || { echo "decoder-compare: mp3decode failed" >&2; exit 1; }
  "$proctime" "$work/b" "${other[@]}" >/dev/null || { echo "decoder-compare: ${other[0]} failed" >&2; exit 1; }
  read -r ua _ ma _ <"$work/a"
  read -r ub _ mb _ <"$work/b"
  echo "$ua $ma $ub $mb" >>"$work/runs"
  awk -v i="$i" -v n="$(basename "${other[0]}")" '{ printf "run %d: mp3decode %.3f s %6.1f MiB   %s %.3f s %6.1f MiB\n", i, $1, $2 / 1024, n, $3, $4 / 1024 }' <<<"$ua $ma $ub $mb"
done

ua=$(awk '{ print $1 }' "$work/runs" | median)
ma=$(awk '{ print $2 / 1024 }' "$work/runs" | median)
ub=$(awk '{ print $3 }' "$work/runs" | median)
mb=$(awk '{ print $4 / 1024 }' "$work/runs" | median)
ratio=$(awk '{ print ($3 > 0 ? $1 / $3 : 0) }' "$work/runs" | median)
printf 'median of %d runs: mp3decode user %.3f s, peak %.1f MiB; %s user %.3f s, peak %.1f MiB\n' "$runs" "$ua" "$ma" \
  "$(basename "${other[0]}")" "$ub" "$mb"
printf 'median ratio of user time (mp3decode / %s): %.3f\n' "$(basename "${other[0]}")" "$ratio"
