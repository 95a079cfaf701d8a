#!/usr/bin/env bash
# Measures how far a soundtrack drives the picture: runs starglobe-render over the whole track
# at each analysis rate given (passes a second) and prints the share of passes at the marks the
# soundtrack aims for.
#
#     tools/soundtrack/control_stats.sh build/starglobe-render build/tessaloon.wav [FPS...]
#
# FPS defaults to "60 1000". One line per rate; the bounds in brackets are the piece's targets.
set -euo pipefail
render=${1:?usage: control_stats.sh RENDER WAV [FPS...]}
wav=${2:?usage: control_stats.sh RENDER WAV [FPS...]}
shift 2
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(60 1000)
csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
for fps in "${rates[@]}"; do
    "$render" --wav "$wav" --loop-fps "$fps" --controls "$csv" --quiet
    # Columns: pass,elapsed_ms,flash,pulse,invert,noise_range,noise_offset,ring_length,star,globe
    awk -F, -v fps="$fps" '
        NR == 1 { next }
        {
            n++
            if ($6 < 50) quiet++
            if ($6 >= 600) loud++
            if ($3 == 255) lit++
            if ($3 == 0) dark++
            pulse[$4]++
            if ($5 == 1) inverted++
        }
        function pct(k) { return sprintf("%.1f%%", 100.0 * k / n) }
        END {
            printf "fps %d, %d passes: noise_range<50 %s [>=5%%]  >=600 %s [>=10%%]  flash=255 %s [>=5%%]  flash=0 %s [>=10%%]  pulse 0/100/200/255 %s/%s/%s/%s [each >0]  invert %s [10-60%%]\n",
                fps, n, pct(quiet), pct(loud), pct(lit), pct(dark),
                pct(pulse[0]), pct(pulse[100]), pct(pulse[200]), pct(pulse[255]), pct(inverted)
        }' "$csv"
done
