#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
#
# Builds the Debian package, starglobe_<version>_<architecture>.deb, and prints its path as
# the last line. The build is configured for /usr with Debian's hardening flags; CPack
# installs it into a staging root, strips the programs, computes Depends from the libraries
# they link (dpkg-shlibdeps) and writes the package with root as the owner of every file.
#
# Usage: scripts/make-deb.sh [BUILD_DIR [CMAKE_OPTION...]]      (default BUILD_DIR: build-deb)
# Then:  sudo apt-get install ./build-deb/starglobe_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-deb}
shift $(($# > 0 ? 1 : 0))

scripts/ensure-packages.sh build package >&2
# Stack protector, fortified C library calls, read-only relocations bound at start-up.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cppflags=$(flags CPPFLAGS)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DSTARGLOBE_TESTS=OFF -DCMAKE_STRIP="$PWD/scripts/debian-strip.sh" \
    -DCMAKE_C_FLAGS="$(flags CFLAGS) $cppflags" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $cppflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" "$@" >&2
cmake --build "$dir" -j "$(nproc)" >&2
rm -f "$dir"/starglobe_*.deb
(cd "$dir" && cpack -G DEB) >&2
deb=$(echo "$PWD/$dir"/starglobe_*.deb)
[[ -f "$deb" ]] || { echo "make-deb: cpack wrote no package" >&2; exit 1; }
echo "$deb"
