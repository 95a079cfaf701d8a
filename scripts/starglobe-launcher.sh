#!/bin/sh
# SPDX-License-Identifier: MIT
#
# starglobe: plays the demo with its own soundtrack or with any music file.
#
# The demo program takes no options and plays tessaloon.wav from its working folder, in one
# exact WAV layout. This runs it in a private temporary folder holding the chosen music under
# that name: a link to the file when the demo can play it as it is, else a copy converted by
# ffmpeg. The folder is removed afterwards, whatever the exit. The demo's own lines and exit
# status pass through unchanged.
#
# Made by CMake from scripts/starglobe-launcher.sh, once for the build tree and once for the
# installed layout; the paths below are relative to this script's own folder.

version='@PROJECT_VERSION@'
here=$(dirname -- "$(readlink -f -- "$0")")
demo=$(readlink -m -- "$here/@STARGLOBE_LAUNCHER_DEMO@")
soundtrack=$(readlink -m -- "$here/@STARGLOBE_LAUNCHER_SOUNDTRACK@")

usage() {
    cat <<USAGE
Usage: starglobe [FILE]
Plays the starglobe demo full screen with its own soundtrack, or with the music in FILE.

FILE may be any audio file ffmpeg can read (MP3, Ogg, FLAC, WAV, ...). A WAV already in the
demo's layout (16-bit stereo PCM at 44,100 Hz with the plain 44-byte header) is played as it
is; anything else is converted with ffmpeg into a temporary folder first.

Escape quits while the music plays; the closing card then stays for ten seconds.

  --help, -h     show this text and exit
  --version      show the version and exit
  --             end of options: the next argument is FILE even if it starts with -

Exit status: 0 when the demo ended normally or by Escape, 255 when it could not start (its
own line says why), 1 when FILE cannot be read or converted, 2 for a usage error, 128 plus
the signal's number when stopped by a signal. See starglobe(6).
USAGE
}

usage_error() {
    echo "starglobe: $1 (see starglobe --help)" >&2
    exit 2
}

file=
have_file=no
take_file() {
    [ "$have_file" = no ] || usage_error "only one FILE can be played at a time"
    file=$1
    have_file=yes
}
while [ $# -gt 0 ]; do
    case $1 in
        --help | -h) usage; exit 0 ;;
        --version) echo "starglobe $version"; exit 0 ;;
        --) shift; for arg in "$@"; do take_file "$arg"; done; break ;;
        -?*) usage_error "unknown option '$1'" ;;
        *) take_file "$1" ;;
    esac
    shift
done

# Without a display and a chosen driver, SDL 1.2 would draw ASCII art into the terminal. With
# a DISPLAY, X11 is asked for by name, so an X server that does not answer gives an error line
# instead; a local display's socket is looked for first, to say so plainly.
if [ -z "${SDL_VIDEODRIVER:-}" ]; then
    if [ -n "${DISPLAY:-}" ]; then
        export SDL_VIDEODRIVER=x11
        case $DISPLAY in
            :[0-9]* | unix:[0-9]*)
                number=${DISPLAY#unix}
                number=${number#:}
                if [ ! -S "/tmp/.X11-unix/X${number%%.*}" ]; then
                    echo "starglobe: no X server answers on DISPLAY=$DISPLAY: start one, or unset" \
                        "DISPLAY in a terminal without a desktop" >&2
                    exit 1
                fi
                ;;
        esac
    elif [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "starglobe: no display found: start it from a desktop session (or set SDL_VIDEODRIVER)" >&2
        exit 1
    fi
fi

if [ ! -x "$demo" ]; then
    echo "starglobe: the demo program is missing: $demo" >&2
    exit 1
fi

# The four bytes of a little-endian 32-bit number as od prints them.
le32() {
    printf '%02x %02x %02x %02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) \
        $(($1 >> 24 & 255))
}

# True when $1 starts with exactly the header the demo expects for a file of its size:
# RIFF size = file size - 8, a 16-byte fmt chunk of PCM, 2 channels, 44,100 Hz, 176,400
# bytes a second, 4-byte frames, 16 bits, and the data chunk filling the rest.
in_demo_layout() {
    size=$(wc -c <"$1") || return 1
    [ "$size" -ge 44 ] && [ "$size" -le 4294967303 ] || return 1
    expected="52 49 46 46 $(le32 $((size - 8))) 57 41 56 45 66 6d 74 20 10 00 00 00"
    expected="$expected 01 00 02 00 44 ac 00 00 10 b1 02 00 04 00 10 00 64 61 74 61"
    expected="$expected $(le32 $((size - 44)))"
    [ "$(od -An -tx1 -v -w44 -N44 -- "$1")" = " $expected" ]
}

folder=
cleanup() {
    [ -z "$folder" ] || rm -rf -- "$folder"
}
# A stop signal is passed on to the running child (the demo, or ffmpeg while converting);
# the demo shuts down cleanly on INT and TERM, which gives the screen mode back, so a hang-up
# reaches it as TERM. Once the child has ended, this script ends by the same signal.
child=
caught=
passed_as=
# shellcheck disable=SC2317 # called by the traps below
pass_on() {
    caught=$1
    passed_as=$2
    [ -z "$child" ] || kill -s "$passed_as" "$child" 2>/dev/null
}
trap 'pass_on INT INT' INT
trap 'pass_on TERM TERM' TERM
trap 'pass_on HUP TERM' HUP
trap cleanup EXIT
end_if_stopped() {
    [ -n "$caught" ] || return 0
    cleanup
    trap - "$caught" EXIT
    kill -s "$caught" $$
    exit 1
}

# Runs a command as a child (not exec: the folder must be removed after it) and returns its
# status. A trapped signal interrupts wait while the child still runs: then wait again. The
# shell's own "Terminated" notice for a child ended by a signal is kept off standard error.
run() {
    "$@" &
    child=$!
    [ -z "$caught" ] || kill -s "$passed_as" "$child" 2>/dev/null
    while :; do
        wait "$child" 2>/dev/null
        status=$?
        kill -0 "$child" 2>/dev/null || break
    done
    child=
    return "$status"
}

folder=$(mktemp -d "${TMPDIR:-/tmp}/starglobe.XXXXXX") || exit 1
track=$folder/tessaloon.wav
if [ "$have_file" = no ]; then
    ln -s -- "$soundtrack" "$track" || exit 1
else
    case $file in
        /*) path=$file ;;
        *) path=$PWD/$file ;;
    esac
    if [ ! -f "$path" ] || [ ! -r "$path" ]; then
        echo "starglobe: cannot read '$file'" >&2
        exit 1
    fi
    if in_demo_layout "$path"; then
        ln -s -- "$path" "$track" || exit 1
    elif ! command -v ffmpeg >/dev/null 2>&1 || ! command -v ffprobe >/dev/null 2>&1; then
        echo "starglobe: '$file' is not a WAV the demo plays as it is (16-bit stereo PCM," \
            "44,100 Hz, 44-byte header); converting it needs ffmpeg: sudo apt-get install ffmpeg" >&2
        exit 1
    elif [ -z "$(ffprobe -v quiet -select_streams a -show_entries stream=index -of csv=p=0 \
        "file:$path")" ]; then
        # Not audio to ffmpeg either: the demo's loader says what is wrong with it.
        ln -s -- "$path" "$track" || exit 1
    else
        echo "starglobe: converting '$file' to 16-bit stereo PCM at 44,100 Hz with ffmpeg" >&2
        run ffmpeg -nostdin -v error -i "file:$path" -map 0:a:0 -fflags +bitexact \
            -flags:a +bitexact -map_metadata -1 -c:a pcm_s16le -ac 2 -ar 44100 -f wav \
            "file:$track"
        status=$?
        end_if_stopped
        if [ "$status" -ne 0 ]; then
            echo "starglobe: ffmpeg could not convert '$file'" >&2
            exit 1
        fi
    fi
fi

cd "$folder" || exit 1
end_if_stopped
run "$demo"
status=$?
cd / && cleanup
end_if_stopped
exit "$status"
