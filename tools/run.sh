#!/usr/bin/env bash
# Builds the installer and starts it under Wine.
#   tools/run.sh                       the choices page, as a player sees it first
#   tools/run.sh tests/data/stopped.txt   replays a recorded run (finished.txt, stopped.txt)
# Without a display (a server, CI) it runs in a virtual one, saves a screenshot to
# build/screenshot.png after a few seconds and closes the window.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh --target vorlen-setup >/dev/null
# A prefix apart from the tests': Wine shares one foreground window and one keyboard among the
# programs of a prefix, and this ends its Wine server when done; a test run beside keeps its own.
tools/prefix.sh build wineprefix-run
export WINEPREFIX="$PWD/build/wineprefix-run" WINEDEBUG=-all
if [ $# -gt 0 ]; then
  export VORLEN_SETUP_REPLAY="Z:$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
fi
if [ -n "${DISPLAY:-}" ]; then
  # Without address randomisation (see tools/wine-run for why).
  exec setarch "$(uname -m)" -R wine build/vorlen-setup.exe
fi
setarch "$(uname -m)" -R xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wine build/vorlen-setup.exe &
  sleep 6
  import -window root build/screenshot.png
  wineserver -k 2>/dev/null
  echo "screenshot: build/screenshot.png"'
