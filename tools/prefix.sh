#!/usr/bin/env bash
# Makes one of the build folder's private Wine prefixes once (it takes a while); later calls
# return at once. tools/prefix.sh BUILD [NAME]: NAME is wineprefix (the tests') unless given.
set -euo pipefail
build=${1:-build}
export WINEPREFIX="$(cd "$build" && pwd)/${2:-wineprefix}" WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/.made" ]; then
  echo "making the Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  # No display here: the prefix needs none, and Wine must not remember one.
  DISPLAY= wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  touch "$WINEPREFIX/.made"
fi
