#!/usr/bin/env bash
# Configures and builds everything into build/ with the mingw-w64 cross compiler.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" "$@"
tools/prefix.sh build
