#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through CTest.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh build test
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSTARGLOBE_WERROR=ON
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
