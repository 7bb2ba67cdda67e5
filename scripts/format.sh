#!/usr/bin/env bash
# Formats every C and C++ file of the tree with the project's .clang-format.
#   scripts/format.sh            rewrite the files in place
#   scripts/format.sh --check    list the files that differ and exit 1 if any
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
if [ "${1:-}" = "--check" ]; then
  bad=()
  for f in "${files[@]}"; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
  done
  if [ ${#bad[@]} -gt 0 ]; then
    printf 'format: not formatted: %s\n' "${bad[@]}" >&2
    echo "format: run scripts/format.sh" >&2
    exit 1
  fi
  exit 0
fi
clang-format -i "${files[@]}"
