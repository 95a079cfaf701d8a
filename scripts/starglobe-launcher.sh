#!/bin/sh
# SPDX-License-Identifier: MIT
#
# starglobe: the command for the demo. The demo program itself does the work (options, any
# music file, the display and its messages: see starglobe --help); this only finds it and the
# soundtrack it plays without FILE, and becomes it, so that the terminal's Ctrl-C, a kill and
# the exit status all are the demo's own.
#
# Made by CMake from scripts/starglobe-launcher.sh, once for the build tree and once for the
# installed layout; the paths below are relative to this script's own folder.
here=$(dirname -- "$(readlink -f -- "$0")")
demo=$(readlink -m -- "$here/@STARGLOBE_LAUNCHER_DEMO@")
STARGLOBE_SOUNDTRACK=$(readlink -m -- "$here/@STARGLOBE_LAUNCHER_SOUNDTRACK@")
export STARGLOBE_SOUNDTRACK
if [ ! -x "$demo" ]; then
    echo "starglobe: the demo program is missing: $demo" >&2
    exit 1
fi
exec "$demo" "$@"
