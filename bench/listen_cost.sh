#!/usr/bin/env bash
# What listening costs: the share of one core (CPU time over wall time, from /proc) that
# starglobe --listen takes at the live look under Xvfb, in silence and while the soundtrack
# plays into the server at full level, on a private PulseAudio and on a private PipeWire.
#
#     bench/listen_cost.sh BUILD_DIR [SECONDS]      (default 10)
set -euo pipefail
build=$(cd "${1:?usage: listen_cost.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-10}
work=$(mktemp -d)
source "$(dirname "$0")/sound_server.sh"
trap 'stop_sound_server; kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
start_xvfb

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }  # user + system, in clock ticks
hz=$(getconf CLK_TCK)
for server in pulseaudio pipewire; do
    start_sound_server "$server"
    for sound in silence music; do
        "$build/starglobe" --listen 2>/dev/null &
        demo=$!
        player=
        if [[ $sound == music ]]; then
            paplay -d out "$build/tessaloon.wav" &  # 139 s: longer than any measurement
            player=$!
        fi
        sleep 2  # past the start-up
        t0=$(ticks $demo) w0=$(date +%s.%N)
        sleep "$seconds"
        t1=$(ticks $demo) w1=$(date +%s.%N)
        kill -TERM $demo; wait $demo || true
        [[ -n $player ]] && { kill $player; wait $player 2>/dev/null || true; }
        echo "$server $sound: $(echo "scale=1; 100 * ($t1 - $t0) / $hz / ($w1 - $w0)" | bc)% of a core"
    done
    stop_sound_server
done
