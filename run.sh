#!/usr/bin/env bash
# Installs what is missing, builds the demo (Release) and plays it from build/, where the
# build also places the soundtrack. Escape quits. `./run.sh web` serves the web page instead.
set -euo pipefail
cd "$(dirname "$0")"

# ./run.sh web: the demo as a web page (build-web/site/), served to this machine only.
if [[ "${1:-}" == web ]]; then
    scripts/build-web.sh
    echo "Open http://127.0.0.1:8000/ in a browser; Ctrl-C stops the server."
    exec python3 -m http.server --bind 127.0.0.1 --directory build-web/site 8000
fi

# Without a display SDL 1.2 would fall back to drawing ASCII art into this terminal: never let
# it choose. With an X display and no driver chosen, ask for X11 itself, and say so when no X
# server answers there rather than leave it to SDL's terse line.
if [[ -z "${SDL_VIDEODRIVER:-}" ]]; then
    if [[ -z "${DISPLAY:-}" ]]; then
        echo "No display found: run this from a desktop session (or set SDL_VIDEODRIVER)." >&2
        exit 1
    fi
    export SDL_VIDEODRIVER=x11
    # A local display (":0", "unix:0.0") is a socket we can look for; a remote one is SDL's to try.
    if [[ "$DISPLAY" =~ ^(unix)?:([0-9]+)(\.[0-9]+)?$ && ! -S /tmp/.X11-unix/X${BASH_REMATCH[2]} ]]; then
        echo "No X server answers on DISPLAY=$DISPLAY: start one, or unset DISPLAY in a" \
             "terminal without a desktop." >&2
        exit 1
    fi
fi

scripts/ensure-packages.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSTARGLOBE_TESTS=OFF
cmake --build build -j "$(nproc)"
# ./run.sh [FILE]: the starglobe command, as installed but pointed at build/, plays FILE (any
# music, named from where run.sh was started) or the build's soundtrack.
launcher=$PWD/build/launcher/starglobe
cd "$OLDPWD"
exec "$launcher" "$@"
