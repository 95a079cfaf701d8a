#!/usr/bin/env bash
# The flash check over the whole production: the demo as it is at the live look, and the
# gentle view at 60 passes a second (one pass per frame), 1,000 (the live look) and 10,000 (the
# last takes several minutes). Prints each summary, how closely the gentle brightness of each
# second follows the default's, and how colourful both are (bench/colourfulness.cpp, frames
# twice a second), and draws the brightness into PLOT.png when given (the README's
# docs/gentle-brightness.png).
#
#     bench/gentle_production.sh BUILD_DIR [PLOT.png]
set -euo pipefail
build=$(cd "${1:?usage: gentle_production.sh BUILD_DIR [PLOT.png]}" && pwd)
plot=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
render() { "$build/starglobe-render" --wav "$build/tessaloon.wav" --quiet "$@"; }
echo -n "default, 1000 passes a second: " && render --flashes "$work/default.csv" 2>&1
for rate in 60 1000 10000; do
    echo -n "gentle, $rate passes a second: "
    render --loop-fps "$rate" --gentle --flashes "$work/gentle-$rate.csv" 2>&1
done
# Columns of --flashes: second, general, red, window_x, window_y, luminance.
paste -d, "$work/default.csv" "$work/gentle-1000.csv" | awk -F, 'NR > 1 {
        x = $6; y = $12; n++; sx += x; sy += y; sxx += x * x; syy += y * y; sxy += x * y }
    END { printf "brightness of each second, as it is against gentle: correlation %.2f\n",
          (n * sxy - sx * sy) / sqrt((n * sxx - sx * sx) * (n * syy - sy * sy)) }'
for look in default gentle; do
    args=()
    [[ $look == gentle ]] && args+=(--gentle)
    render --fps 2 "${args[@]}" --raw "$work/$look.raw"
done
"$build/colourfulness" "$build/tessaloon.wav" 2 "as it is=$work/default.raw" \
    "gentle=$work/gentle.raw"
rm "$work"/*.raw
[[ -n $plot ]] || exit 0
gnuplot <<PLOT
set terminal pngcairo size 1200,420 font 'DejaVu Sans,12'
set output '$plot'
set datafile separator ','
set key top right
set xlabel 'second of the production (the end card from 139 on)'
set ylabel 'mean relative luminance'
set yrange [0:1.05]
set grid ytics lc rgb '#dddddd'
plot '$work/default.csv' every ::1 using 1:6 with lines lw 2 lc rgb '#c8414f' title 'as it is', \
     '$work/gentle-1000.csv' every ::1 using 1:6 with lines lw 2 lc rgb '#2a8f7d' title 'gentle'
PLOT
echo "drew $plot"
