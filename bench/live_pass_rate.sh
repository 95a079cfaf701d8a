#!/usr/bin/env bash
# The live loop's pass rate under Xvfb: the demo playing its soundtrack, and listening (to a
# private PulseAudio's silent null sink), each plain and gentle, and what the gentle view costs
# of the plain rate. Each run lasts SECONDS; the passes are counted by bench/flip_counter.c,
# preloaded. The end card is not counted: the runs end by SIGTERM while the music plays.
# Listening flips only the pictures a screen shows (its analyzer keeps the live look's pass
# rate): its figure is pictures a second.
#
#     bench/live_pass_rate.sh BUILD_DIR [SECONDS]      (default 10)
set -euo pipefail
build=$(cd "${1:?usage: live_pass_rate.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-10}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 400x300x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
until [[ -s $work/display ]]; do sleep 0.1; done
export DISPLAY=:$(cat "$work/display") SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
export XDG_RUNTIME_DIR=$work HOME=$work
pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no \
    --load="module-null-sink sink_name=out" --load=module-native-protocol-unix 2>/dev/null &
until pactl info >/dev/null 2>&1; do sleep 0.1; done
cp "$build/tessaloon.wav" "$work/"
cd "$work"
declare -A rate
for mode in play listen; do
    rate=()
    for look in plain gentle; do
        args=()
        [[ $mode == listen ]] && args+=(--listen)
        [[ $look == gentle ]] && args+=(--gentle)
        LD_PRELOAD=$build/bench/libflip_counter.so "$build/starglobe" "${args[@]}" 2>"$work/err" &
        sleep "$seconds"
        kill -TERM $! && wait $! || true
        echo "$mode $look: $(grep passes/s "$work/err" || cat "$work/err")"
        rate[$look]=$(awk '/passes\/s/ { print $2 }' "$work/err")
    done
    if [[ -n ${rate[plain]:-} && -n ${rate[gentle]:-} ]]; then
        awk -v p="${rate[plain]}" -v g="${rate[gentle]}" -v m="$mode" \
            'BEGIN { printf "%s: gentle costs %.0f%% of the passes\n", m, 100 * (p - g) / p }'
    fi
done
