#!/usr/bin/env bash
# Builds and runs the benchmarks; each figure is printed on a line of its own as "name: value unit".
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
# A prefix apart from the tests': Wine shares one foreground window and one keyboard among the
# programs of a prefix, and this ends its Wine server when done; a test run beside keeps its own.
tools/prefix.sh build wineprefix-run
export WINEPREFIX="$PWD/build/wineprefix-run" WINEDEBUG=-all
# Every Wine start without address randomisation (see tools/wine-run for why).
exec setarch "$(uname -m)" -R xvfb-run -a -s "-screen 0 2560x1600x24" bash -c '
  wineserver -p
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null
  for b in build/bench/*.exe; do wine "$b" || exit 1; done
  wineserver -k 2>/dev/null' </dev/null
