#!/usr/bin/env bash
# Installs what is missing, builds the demo (Release) and plays it from build/, where the
# build also places the soundtrack. Escape quits.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSTARGLOBE_TESTS=OFF
cmake --build build -j "$(nproc)"

# Without a display and a chosen driver, SDL 1.2 would draw ASCII art into this terminal.
if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${SDL_VIDEODRIVER:-}" ]]; then
    echo "No display found: run this from a desktop session (or set SDL_VIDEODRIVER)." >&2
    exit 1
fi
# ./run.sh [FILE]: the starglobe command, as installed but pointed at build/, plays FILE (any
# music, named from where run.sh was started) or the build's soundtrack.
launcher=$PWD/build/launcher/starglobe
cd "$OLDPWD"
exec "$launcher" "$@"
