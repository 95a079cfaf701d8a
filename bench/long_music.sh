#!/usr/bin/env bash
# The renderer on the longest music the WAV layout holds (6 h 44 min of quiet noise, made with
# sox in a temporary folder, 4.3 GB): the resident memory at the peak of a whole render of its
# controls and plot, and how fast --start skips to its last minutes (music seconds skipped per
# second of wall time; the same run from the start is taken off). Then the demo's resident
# memory a few seconds into a 3 h 9 min file, the longest SDL_mixer seeks through.
#
#     bench/long_music.sh BUILD_DIR [TMPDIR]
set -euo pipefail
build=$(cd "${1:?usage: long_music.sh BUILD_DIR [TMPDIR]}" && pwd)
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/long_music.XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
render=$build/starglobe-render
seconds=24240  # 6 h 44 min: 4,275,936,000 bytes of samples, under the layout's 4 GiB

# Peak resident KiB of a command, as its parent sees it.
peak_kib() {
    python3 -c 'import resource, subprocess, sys
status = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL).returncode
if status: sys.exit(status)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
}
# Wall seconds of a command.
wall_s() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

sox -n -b 16 -e signed-integer -c 2 -r 44100 "$work/long.wav" synth "$seconds" pinknoise vol 0.3
echo "music: $(stat -c %s "$work/long.wav") bytes, $seconds s"

kib=$(peak_kib "$render" --wav "$work/long.wav" -q --controls /dev/null --plot "$work/p.svg")
echo "whole render (--controls, --plot): peak resident $((kib / 1024)) MiB"

start=$((seconds - 240))
late=$(wall_s "$render" --wav "$work/long.wav" -q --start "$start" --frames 1 --raw /dev/null)
early=$(wall_s "$render" --wav "$work/long.wav" -q --start 0 --frames 1 --raw /dev/null)
kib=$(peak_kib "$render" --wav "$work/long.wav" -q --start "$start" --frames 60 --raw /dev/null)
printf -- '--start %d: %.2f s (from 0: %.2f s), skipping %.0fx real time; peak %d MiB\n' \
    "$start" "$late" "$early" "$(echo "$start / ($late - $early)" | bc -l)" $((kib / 1024))

# The demo plays in real time, from a file SDL_mixer can seek in (2 GiB at most).
rm -f "$work/long.wav"
mkdir "$work/demo"
sox -n -b 16 -e signed-integer -c 2 -r 44100 "$work/demo/tessaloon.wav" synth 11340 \
    pinknoise vol 0.3
(cd "$work/demo" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy exec "$build/starglobe") &
demo=$!
sleep 5
echo "demo, 5 s into 3 h 9 min: peak resident $(awk '/VmHWM/ {print int($2 / 1024)}' \
    "/proc/$demo/status") MiB"
kill -TERM "$demo"
wait "$demo" || true
