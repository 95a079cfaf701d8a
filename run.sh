#!/usr/bin/env bash
# Installs what is missing, builds the demo (Release) and plays it from build/, where the
# build also places the soundtrack. Escape quits. `./run.sh web` serves the web page instead.
set -euo pipefail
cd "$(dirname "$0")"

# ./run.sh web: the demo as a web page (build-web/site/), served to this machine only.
if [[ "${1:-}" == web ]]; then
    scripts/build-web.sh
    exec scripts/serve-web.py build-web/site 8000
fi

scripts/ensure-packages.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSTARGLOBE_TESTS=OFF
cmake --build build -j "$(nproc)"
# ./run.sh [FILE]: the starglobe command, as installed but pointed at build/, plays FILE (any
# music, named from where run.sh was started) or the build's soundtrack. It also refuses to
# start without a display, or with a DISPLAY that no X server answers, rather than let SDL 1.2
# draw ASCII art into this terminal.
launcher=$PWD/build/launcher/starglobe
cd "$OLDPWD"
exec "$launcher" "$@"
