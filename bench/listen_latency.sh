#!/usr/bin/env bash
# How soon listening answers sound, timed from outside the demo: burst_player hands bursts of a
# loud tone to a private sound server's sink at known moments, and flip_watch, preloaded into
# starglobe --listen under Xvfb, stamps the first flipped picture that is no longer the white of
# silence. Both read the system's monotonic clock. For each server (PulseAudio, and PipeWire
# with its PulseAudio service) it prints the median, least and most over the bursts, what the
# player's stream held ahead of each burst (the sound waits behind it), and the fragment the
# server granted the demo (its start-up line). Each burst goes into an empty queue; with "fed"
# the player keeps its stream fed with silence, as a music player does, and the burst also
# waits behind the queue the server imposes on the player (burst_player.c says how long).
#
#     bench/listen_latency.sh BUILD_DIR [BURSTS [fed]]      (default 8)
#     PIPEWIRE_PULSE_MIN=64 bench/listen_latency.sh ...     (a PipeWire set up for low latency)
set -euo pipefail
build=$(cd "${1:?usage: listen_latency.sh BUILD_DIR [BURSTS [fed]]}" && pwd)
bursts=${2:-8}
fed=${3:-}
work=$(mktemp -d)
source "$(dirname "$0")/sound_server.sh"
trap 'stop_sound_server; kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
start_xvfb

for server in pulseaudio pipewire; do
    start_sound_server "$server"
    log=$work/flips-$server
    FLIP_WATCH_LOG=$log LD_PRELOAD=$build/bench/libflip_watch.so \
        "$build/starglobe" --listen 2>"$work/err" &
    demo=$!
    until grep -q white "$log" 2>/dev/null; do sleep 0.1; done
    # Two seconds apart: the picture is white again well before the next burst.
    "$build/burst_player" "$bursts" 2 $fed >"$work/bursts-$server"
    kill -TERM $demo; wait $demo || true
    stop_sound_server
    fragment=$(sed -n 's/.*(sound every \([0-9.]* ms\)).*/\1/p' "$work/err")
    python3 - "$work/bursts-$server" "$log" "$server" "$fragment" <<'PY'
import statistics, sys
bursts = [l.split() for l in open(sys.argv[1])]
flips = [(float(t), s) for t, s in (l.split() for l in open(sys.argv[2]))]
late, ahead = [], []
starts = [float(b[1]) for b in bursts] + [float("inf")]
for (_, at, held), next_at in zip(bursts, starts[1:]):
    at = float(at)
    before = [s for t, s in flips if t < at]
    dark = [t for t, s in flips if s == "dark" and at <= t < next_at]
    if before and before[-1] == "white" and dark:  # else the burst is not counted
        late.append(1000 * (dark[0] - at)); ahead.append(float(held))
print(f"{sys.argv[3]}: first answering picture {statistics.median(late):.1f} ms after the burst "
      f"(median of {len(late)}; {min(late):.1f} to {max(late):.1f}); the player's stream held "
      f"{statistics.median(ahead):.1f} ms ahead of it; fragment granted {sys.argv[4]}")
PY
done
