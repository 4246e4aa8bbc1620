#!/usr/bin/env bash
# Builds everything and runs every test: the C++ tests under Wine (in a virtual X display, since
# Wine makes no window without one) and the install script's tests under PowerShell 7.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
[ -x tools/pwsh.sh ] && tools/pwsh.sh build
tools/build.sh
export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all
# One wineserver for the whole run: each Wine start then costs a tenth of a second, not seconds.
# Every Wine start without address randomisation (see tools/wine-run for why).
exec setarch "$(uname -m)" -R xvfb-run -a -s "-screen 0 2560x1600x24" bash -c '
  wineserver -p
  # Start Wine'"'"'s own services now, away from ctest'"'"'s pipes: started by a test, they would
  # inherit its output pipe and keep it open, and ctest would wait for them until it timed out.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null
  ctest --test-dir build --output-on-failure -j 2 "$@"
  rc=$?
  wineserver -k 2>/dev/null
  exit $rc' ctest "$@"
