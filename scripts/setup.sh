#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12, as root), then
# configures and builds.  Quiet and quick when everything is already there.
#   scripts/setup.sh [--packages-only] [BUILD_DIR [extra cmake args...]]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"

packages=(
  build-essential cmake ninja-build pkg-config git
  clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libepoxy-dev libgtk-3-dev libjpeg62-turbo-dev libpng-dev libx11-dev libxtst-dev
  libgl1-mesa-dri libegl-mesa0 libegl1 mesa-utils
  xvfb xauth x11-utils x11-apps xscreensaver
  desktop-file-utils appstream librsvg2-bin man-db dpkg-dev lintian
  fonts-dejavu-core librsvg2-common
  dbus at-spi2-core python3-pyatspi python3-gi gir1.2-gtk-3.0
  strace
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]}" >&2
    echo "setup: run this script as root (or install them with apt-get)" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ "${1:-}" = "--packages-only" ] && exit 0

build="${1:-build}"
shift || true
case "$build" in /*) ;; *) build="$here/$build" ;; esac
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
# LM_TARGETS narrows the build to some targets (the ThreadSanitizer run).
cmake --build "$build" -j"$(nproc)" ${LM_TARGETS:+--target $LM_TARGETS}
