#!/usr/bin/env bash
# Unpacks Debian's sdl12-compat runtime (SDL 1.2 on top of SDL2, what most distributions now
# ship as SDL 1.2) into a folder, for running the tests a second time against it. Its
# development package conflicts with libsdl1.2-dev, so it is never installed: the tests load
# its libSDL-1.2.so.0 through LD_LIBRARY_PATH. It needs SDL2's runtime (libsdl2-2.0-0).
#
# Usage: scripts/fetch-sdl12-compat.sh FOLDER
# Prints the folder that holds libSDL-1.2.so.0. Does nothing more when that is already there.
set -euo pipefail
dest=$1
package=libsdl1.2-compat

find_library() { find "$dest" -name libSDL-1.2.so.0 -printf '%h\n' 2>/dev/null | head -n 1 || true; }

found=$(find_library)
if [[ -z "$found" ]]; then
    mkdir -p "$dest"
    download=$(mktemp -d)
    trap 'rm -rf "$download"' EXIT
    # apt-get download needs the package lists, which a fresh machine may not have yet.
    if ! (cd "$download" && apt-get download -qq "$package" 2>/dev/null); then
        apt-get update -qq
        (cd "$download" && apt-get download -qq "$package")
    fi
    dpkg -x "$download"/"$package"_*.deb "$dest"
    found=$(find_library)
fi
if [[ -z "$found" ]]; then
    echo "no libSDL-1.2.so.0 in $package" >&2
    exit 1
fi
echo "$found"
