#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the tree; validates
# the desktop entry, the AppStream metadata and the manual pages as
# distributions do; builds the Debian package and checks it with lintian and
# against the installed tree.
#   install_test.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(
  bin/aquaveil
  libexec/xscreensaver/lumenmere
  share/xscreensaver/config/lumenmere.xml
  share/applications/lumenmere-settings.desktop
  share/metainfo/com.tessolar.lumenmere.metainfo.xml
  share/icons/hicolor/scalable/apps/lumenmere.svg
  share/icons/hicolor/48x48/apps/lumenmere.png
  share/icons/hicolor/256x256/apps/lumenmere.png
  share/man/man6/aquaveil.6.gz
  share/doc/lumenmere/copyright
  share/doc/lumenmere/changelog.gz
)
for f in "${expected[@]}"; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
# The hack is the screen saver itself, found through a relative link.
if [ -L "$prefix/libexec/xscreensaver/lumenmere" ]; then
  [ "$(readlink -f "$prefix/libexec/xscreensaver/lumenmere")" = "$(readlink -f "$prefix/bin/aquaveil")" ] ||
    fail "the hack does not lead to bin/aquaveil"
  case "$(readlink "$prefix/libexec/xscreensaver/lumenmere")" in /*) fail "the hack's link is absolute" ;; esac
fi
[ -x "$prefix/bin/aquaveil" ] || fail "bin/aquaveil is not executable"
for size in 16 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/lumenmere.png"
  [ -f "$png" ] || { fail "no ${size}x${size} icon"; continue; }
  # PNG: width and height, big-endian, at bytes 16..23.
  dims="$(od -An -tu4 --endian=big -j16 -N8 "$png" | tr -s ' ')"
  [ "$dims" = " $size $size" ] || fail "the ${size}x${size} icon is$dims"
done

out="$(desktop-file-validate "$prefix/share/applications/lumenmere-settings.desktop" 2>&1)" ||
  fail "desktop-file-validate: $out"
grep -qx 'Name=Lumenmere Settings' "$prefix/share/applications/lumenmere-settings.desktop" || fail "menu entry name"
grep -qx 'Exec=aquaveil /c' "$prefix/share/applications/lumenmere-settings.desktop" || fail "menu entry command"
out="$(appstreamcli validate --no-net --strict "$prefix/share/metainfo/com.tessolar.lumenmere.metainfo.xml" 2>&1)" ||
  fail "appstreamcli: $out"
grep -q "version=\"$version\"" "$prefix/share/metainfo/com.tessolar.lumenmere.metainfo.xml" || fail "metainfo version"
xmllint_out="$(python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' \
  "$prefix/share/xscreensaver/config/lumenmere.xml" 2>&1)" || fail "lumenmere.xml is not well-formed: $xmllint_out"
# Every switch the locker's settings page may add is one the program takes.
usage="$("$prefix/bin/aquaveil" --help 2>&1)"
for arg in $(grep -o 'arg\(-set\|-unset\)\?="[^"]*"' "$prefix/share/xscreensaver/config/lumenmere.xml" | cut -d'"' -f2); do
  grep -q -- "$arg\b" <<<"$usage" || fail "lumenmere.xml offers $arg, which aquaveil --help does not name"
done

for page in "$prefix"/share/man/man*/*.gz; do
  warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "man $(basename "$page"): $warnings"
  LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null | grep -q '^NAME' || fail "man $(basename "$page") renders no NAME"
done

# The Debian package, from a copy of the build's packaging settings so that
# parallel runs don't meet in the build folder.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null)
deb="$work/deb/lumenmere_${version}_amd64.deb"
if [ ! -f "$deb" ]; then
  fail "no package lumenmere_${version}_amd64.deb"
else
  lint="$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'root privileges' || true)"
  if grep -q '^E:' <<<"$lint"; then fail "lintian: $(grep '^E:' <<<"$lint")"; fi
  depends="$(dpkg-deb -f "$deb" Depends)"
  for lib in libc6 libsdl2 libepoxy0 libx11-6; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
  done
  # The package holds what the install tree holds, under /usr.
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's#^\./usr/##' -e 's#/$##' | grep -v '^\./*$' | grep -v '^\.\?/\?usr$' |
    grep -v '^$' | sort >"$work/packaged"
  (cd "$prefix" && find . -mindepth 1 | sed 's#^\./##' | sort) >"$work/installed"
  if ! diff -u "$work/installed" "$work/packaged" >"$work/diff"; then
    fail "package and install tree differ: $(cat "$work/diff")"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install tree, desktop entry, metainfo, manual pages and package: all checks passed"
