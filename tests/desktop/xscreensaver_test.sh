#!/usr/bin/env bash
# End to end with the desktop's screen locker: xscreensaver, run as an
# ordinary user (it refuses to run hacks as root) on a private X server, with
# Lumenmere as its only hack.  Activated, the hack must run and draw the water
# over the configured picture; deactivated, the hack must end.  Then the same
# program drawn into a window this test made, with -window-id.
#   xscreensaver_test.sh BUILD_DIR OUT_DIR
# Skips (exit 77) where it can't run (not root, no xscreensaver) unless
# LM_REQUIRE_DISPLAY=1, where that is a failure.
set -uo pipefail
build="$1"
out="${2:-$build/screenshots}"
here="$(cd "$(dirname "$0")" && pwd)"
skip() {
  if [ "${LM_REQUIRE_DISPLAY:-0}" = 1 ]; then
    echo "FAIL: $* (required here)" >&2
    exit 1
  fi
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root to run xscreensaver as an ordinary user"
for tool in xscreensaver xscreensaver-command Xvfb xwd xwininfo xmessage runuser python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

user=lumenmere-hack
id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user" ||
  { echo "FAIL: cannot make the user $user" >&2; exit 1; }

work="$(mktemp -d /tmp/lumenmere-xss-XXXXXX)"
chmod 755 "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  sleep 0.3
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  pkill -u "$user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
mkdir -p "$out"

# The program and its boat picture where the user may read them; the folder
# is not the user's to write, so the settings live in the user's own folder.
mkdir -p "$work/bin" "$work/home/.config/Lumenmere"
cp "$build/bin/aquaveil" "$work/bin/"
[ -f "$build/bin/boat.tga" ] && cp "$build/bin/boat.tga" "$work/bin/"
chown -R "$user" "$work/home"

# A picture of four coloured quarters, as the saver's one picture (a BMP)
# and as the reference to compare the screen with (a PPM).
python3 - "$work/home/quarters.bmp" "$work/quarters.ppm" <<'PY'
import struct, sys
w, h = 512, 384
def colour(x, y):
    if y < h // 2:
        return (230, 40, 40) if x < w // 2 else (40, 200, 60)
    return (40, 80, 230) if x < w // 2 else (240, 220, 40)
rows = [[colour(x, y) for x in range(w)] for y in range(h)]
bmp_rows = b''.join(bytes(c for p in row for c in (p[2], p[1], p[0])) for row in reversed(rows))
header = b'BM' + struct.pack('<IHHI', 54 + len(bmp_rows), 0, 0, 54)
info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(bmp_rows), 2835, 2835, 0, 0)
open(sys.argv[1], 'wb').write(header + info + bmp_rows)
open(sys.argv[2], 'wb').write(b'P6 %d %d 255\n' % (w, h) + b''.join(bytes(c for p in row for c in p) for row in rows))
PY
chown "$user" "$work/home/quarters.bmp"
settings="$work/home/.config/Lumenmere/Lumenmere.ini"
"$build/bin/aqsettings" set "$settings" "images.file=$work/home/quarters.bmp" images.randomizeOrder=0 \
  mp3.listEnabled=0 water.waterFlags=35 || fail "cannot write the settings"
chown -R "$user" "$work/home/.config"

cat >"$work/home/.xscreensaver" <<XS
mode:		one
selected:	0
timeout:	0:30:00
lock:		False
fade:		False
unfade:		False
splash:		False
programs:	$work/bin/aquaveil --root \n
XS
chown "$user" "$work/home/.xscreensaver"

as_user() {
  runuser -u "$user" -- env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_DATA_HOME="$work/home/.local/share" DISPLAY="$display" SDL_VIDEODRIVER=x11 \
    LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy "$@"
}
hack_pids() { pgrep -u "$user" -f "$work/bin/aquaveil" || true; }

# A private X server the user may talk to.
for n in $(seq 71 99); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -ac >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xwininfo -display "$display" -root >/dev/null 2>&1 && break; sleep 0.1; done

# shoot NAME: a screenshot of the whole screen once the water has revealed
# the picture (drops fall at random moments, so it is looked at every two
# seconds from 8 s on, for at most 30 s); sets lit and match.
shoot() {
  local name="$1" waited=8
  sleep 8
  while :; do
    xwd -display "$display" -root -silent >"$work/$name.xwd" || { fail "no screenshot ($name)"; lit=0; match=0; return; }
    lit="$(python3 "$here/xshot.py" stats "$work/$name.xwd")"
    match="$(python3 "$here/xshot.py" match "$work/$name.xwd" "$work/quarters.ppm" 0 0 1024 768)"
    python3 -c "import sys; sys.exit(0 if float('$lit') > 0.5 and float('$match') > 0.25 else 1)" && break
    [ "$waited" -ge 30 ] && break
    sleep 2
    waited=$((waited + 2))
  done
  python3 "$here/xshot.py" png "$work/$name.xwd" "$out/xscreensaver-$name.png"
}

as_user xscreensaver --no-splash --log "$work/home/xscreensaver.log" >/dev/null 2>&1 &
pids+=($!)
sleep 2
as_user xscreensaver-command -activate >/dev/null 2>&1 || fail "xscreensaver-command -activate"
hack=""
for _ in $(seq 100); do hack="$(hack_pids)"; [ -n "$hack" ] && break; sleep 0.1; done
[ -n "$hack" ] || fail "the hack did not start ($(tail -5 "$work/home/xscreensaver.log" 2>/dev/null))"

shoot active
echo "xscreensaver: hack $hack drew a screen ${lit} lit, ${match} like the picture"
python3 -c "import sys; sys.exit(0 if float('$lit') > 0.5 else 1)" || fail "the screen is black (${lit} lit)"
python3 -c "import sys; sys.exit(0 if float('$match') > 0.25 else 1)" ||
  fail "the screen does not show the configured picture (${match} alike)"

as_user xscreensaver-command -deactivate >/dev/null 2>&1 || fail "xscreensaver-command -deactivate"
gone=""
for i in $(seq 100); do [ -z "$(hack_pids)" ] && { gone=$i; break; }; sleep 0.1; done
[ -n "$gone" ] || fail "the hack did not end after deactivation"
grep -qi 'crash\|signal 11\|core dumped' "$work/home/xscreensaver.log" && fail "xscreensaver reports: $(grep -i 'crash\|signal' "$work/home/xscreensaver.log")"
as_user xscreensaver-command -exit >/dev/null 2>&1

# start_program NAME COMMAND...: a program run by hand as the user, in the
# background.  runuser stands
# between this script and the program, so the program's own exit status is
# written to a file, and signals go to the program itself.
start_program() {
  local name="$1"
  shift
  rm -f "$work/home/$name.status"
  as_user sh -c '"$@"; echo $? >"$HOME/'"$name"'.status"' sh "$@" >"$work/$name.log" 2>&1 &
  pids+=($!)
}
program_running() { [ -n "$(hack_pids)" ] && [ ! -f "$work/home/$1.status" ]; }
# end_program NAME: SIGTERM must end the program cleanly (status 0).
end_program() {
  local name="$1" status=""
  pkill -TERM -u "$user" -x aquaveil
  for _ in $(seq 50); do [ -f "$work/home/$name.status" ] && { status="$(cat "$work/home/$name.status")"; break; }; sleep 0.1; done
  [ "$status" = 0 ] || fail "$name: the program did not end cleanly on SIGTERM (status ${status:-still running})"
  pkill -KILL -u "$user" -x aquaveil 2>/dev/null
}

# -window-id: into a window this test made.
as_user xmessage -geometry 480x360+40+40 -name lumenmere-host -buttons '' ' ' >/dev/null 2>&1 &
xmessage=$!
pids+=($xmessage)
host=""
for _ in $(seq 50); do
  host="$(xwininfo -display "$display" -name lumenmere-host 2>/dev/null | awk '/Window id:/ {print $4}')"
  [ -n "$host" ] && break
  sleep 0.1
done
[ -n "$host" ] || fail "no host window"
if [ -n "$host" ]; then
  start_program window-id "$work/bin/aquaveil" -window-id "$host"
  sleep 6
  xwd -display "$display" -root -silent >"$work/window.xwd"
  python3 "$here/xshot.py" png "$work/window.xwd" "$out/xscreensaver-window-id.png"
  geometry="$(xwininfo -display "$display" -id "$host" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')"
  lit="$(python3 "$here/xshot.py" stats "$work/window.xwd" $geometry)"
  echo "-window-id $host: the window ($geometry) is ${lit} lit"
  program_running window-id || fail "the program drawing into the window ended early: $(cat "$work/window-id.log")"
  python3 -c "import sys; sys.exit(0 if float('$lit') > 0.5 else 1)" || fail "nothing drawn into the window"
  end_program window-id
fi
pkill -u "$user" -x xmessage 2>/dev/null
sleep 0.5

# -root with no locker window: on the desktop itself, the root window.
start_program root env -u XSCREENSAVER_WINDOW "$work/bin/aquaveil" -root --no-boat
shoot root
echo "-root: the screen is ${lit} lit, ${match} like the picture"
program_running root || fail "the program drawing on the root window ended early: $(cat "$work/root.log")"
python3 -c "import sys; sys.exit(0 if float('$lit') > 0.5 else 1)" || fail "nothing drawn on the root window"
python3 -c "import sys; sys.exit(0 if float('$match') > 0.25 else 1)" ||
  fail "the root window does not show the configured picture (${match} alike)"
end_program root

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; screenshots in $out" >&2
  exit 1
fi
echo "xscreensaver end to end: all checks passed; screenshots in $out"
