#!/usr/bin/env bash
# Installs what is missing and builds the demo's web page into build-web/site/: index.html and
# everything it loads (the WebAssembly core, its loader, the page's scripts and style, the 45
# PNG pictures in one file), its manifest and icons, and the service worker that keeps it all.
# Serve that folder from any plain web server; ./run.sh web does.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh web
# Debian's emcc runs its JavaScript optimizer under node, which finds acorn only there.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
# The same top-level project as the native build: under emcmake it builds the core libraries
# and web/ only.
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release -DSTARGLOBE_WERROR=ON >/dev/null
cmake --build build-web -j "$(nproc)"
echo "Built build-web/site/"
