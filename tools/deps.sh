#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need from Debian's packages.
# Idempotent: when everything is there it only checks and returns.
set -euo pipefail
need=(cmake make g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth imagemagick googletest x11-utils)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_=""
  [ "$(id -u)" -ne 0 ] && sudo_="sudo"
  $sudo_ apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
