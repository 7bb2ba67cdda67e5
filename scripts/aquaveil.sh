#!/usr/bin/env bash
# Builds the screen saver and runs it; arguments go to aquaveil
# (default /t: the test mode, a full-screen run that Escape ends).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/setup.sh" build
[ $# -eq 0 ] && set -- /t
exec "$here/build/bin/aquaveil" "$@"
