#!/usr/bin/env bash
# Installs what is missing, builds the demo (Release) and plays it from build/.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target starglobe
cd build
exec ./starglobe "$@"
