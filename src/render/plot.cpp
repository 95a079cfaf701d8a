#include "render/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "common/frame_controls.h"
#include "common/timeline.h"
#include "common/wav_format.h"

namespace {

constexpr int64_t kTargetBins = 750;        // about one bin per two pixels across the plot
constexpr double kLoudnessFloorDb = -60.0;  // quieter than this draws as silence
constexpr double kPercent = 100.0;
// Tick spacings tried in turn, in seconds, for at most kMaxTicks ticks across the time axis.
constexpr double kTickSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800, 3600};
constexpr double kMaxTicks = 16.0;

// Root mean square of the mid channel (left + right) / 2 over sample frames [first, end), in
// dBFS, floored.
double loudness_db(const PcmTrack& track, int64_t first, int64_t end) {
    end = std::min<int64_t>(end, track.frames);
    if (first >= end) return kLoudnessFloorDb;
    double sum = 0.0;
    for (int64_t i = first; i < end; ++i) {
        const double mid = (track.samples[2 * i] + track.samples[2 * i + 1]) / 2.0;
        sum += mid * mid;
    }
    const double rms = std::sqrt(sum / static_cast<double>(end - first)) / kSampleSpan;
    return rms > 0.0 ? std::max(kLoudnessFloorDb, 20.0 * std::log10(rms)) : kLoudnessFloorDb;
}

// One panel: its label, the y axis from `low` to `high` with ticks every `tick`, and what it
// draws: gnuplot's plot clause for the data columns, filled down to `low`.
struct Panel {
    const char* label;
    double low, high, tick;
    std::vector<std::pair<int, const char*>> columns;  // data column and its colour, back first
};

// Columns of the data block: 1 time (s), 2 loudness (dBFS), 3 mean flash, 4 highest flash,
// 5 mean pulse, 6 mean noise_range, 7 share inverted (%).
const Panel kPanels[] = {
    {"loudness\\n(dBFS)", kLoudnessFloorDb, 0, 20, {{2, "#5b6c8f"}}},
    {"flash\\n(globe lit)", 0, kMaxFlash, 100, {{4, "#f3d28a"}, {3, "#d99a1e"}}},
    {"pulse\\n(stars dark)", 0, kMaxPulse, 100, {{5, "#7b4fa6"}}},
    {"noise_range\\n(noise level)", 0, kMaxNoiseRange, 250, {{6, "#2a8f7d"}}},
    {"invert\\n(% of passes)", 0, kPercent, 50, {{7, "#c8414f"}}},
};

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string panel_script(const Panel& p) {
    std::string plot;
    for (const auto& [column, colour] : p.columns)
        plot += (plot.empty() ? "" : ", ") + std::string("$d using 1:") + std::to_string(column) +
                " with filledcurves y1=" + number(p.low) + " lc rgb '" + colour + "'";
    return std::string("set ylabel \"") + p.label + "\"\nset yrange [" + number(p.low) + ":" +
           number(p.high) + "]\nset ytics " + number(p.low) + "," + number(p.tick) + "," +
           number(p.high) + "\nplot " + plot + "\n";
}

}  // namespace

Plot plot_start(const PcmTrack& track, double end_ms, double pass_ms, double start_ms) {
    Plot plot;
    plot.track = &track;
    plot.start_ms = start_ms;
    const double span_ms = end_ms - start_ms;
    plot.bin_ms = std::max(span_ms / kTargetBins, pass_ms);
    plot.bins.resize(static_cast<size_t>(std::max(1.0, std::ceil(span_ms / plot.bin_ms))));
    return plot;
}

void plot_add(Plot* plot, double elapsed_ms, const FrameControls& c) {
    const size_t at = std::min(plot->bins.size() - 1,
                               static_cast<size_t>((elapsed_ms - plot->start_ms) / plot->bin_ms));
    PlotBin& bin = plot->bins[at];
    ++bin.passes;
    bin.flash_sum += c.flash;
    bin.flash_max = std::max(bin.flash_max, c.flash);
    bin.pulse_sum += c.pulse;
    bin.range_sum += c.noise_range;
    bin.inverted += c.invert ? 1 : 0;
}

std::string plot_script(const Plot& plot, bool svg) {
    const double span_s = static_cast<double>(plot.bins.size()) * plot.bin_ms / kMsPerSecond;
    double step = kTickSteps[std::size(kTickSteps) - 1];
    for (const double s : kTickSteps)
        if (span_s / s <= kMaxTicks) {
            step = s;
            break;
        }
    std::string script =
        svg ? "set terminal svg size 1600,1000 dynamic noenhanced font 'DejaVu Sans,14'\n"
            : "set terminal pngcairo size 1600,1000 noenhanced font 'DejaVu Sans,12'\n";
    script += "$d << EOD\n";
    char row[160];
    for (size_t i = 0; i < plot.bins.size(); ++i) {
        const PlotBin& b = plot.bins[i];
        const double start_ms = plot.start_ms + static_cast<double>(i) * plot.bin_ms;
        const double n = std::max(1, b.passes);
        const double first = start_ms * kSampleRateHz / kMsPerSecond;
        const double end = (start_ms + plot.bin_ms) * kSampleRateHz / kMsPerSecond;
        std::snprintf(
            row, sizeof row, "%.4f %.2f %.2f %d %.2f %.2f %.2f\n",
            (start_ms + plot.bin_ms / 2) / kMsPerSecond,
            loudness_db(*plot.track, static_cast<int64_t>(first), static_cast<int64_t>(end)),
            b.flash_sum / n, b.flash_max, b.pulse_sum / n, b.range_sum / n,
            kPercent * b.inverted / n);
        // Hours of music pass through here: keep none of it.
        wav_let_go(*plot.track, static_cast<int64_t>(first), static_cast<int64_t>(end));
        script += row;
    }
    script += "EOD\n";
    const std::string x_from = std::to_string(plot.start_ms / kMsPerSecond);
    const std::string x_to = std::to_string(plot.start_ms / kMsPerSecond + span_s);
    script +=
        "set multiplot layout 5,1 title ARG1 font ',16' margins 0.1,0.985,0.07,0.93 "
        "spacing 0,0.018\n";
    script += "set xrange [" + x_from + ":" + x_to + "]\n";
    script += "set xtics " + std::to_string(step) + " nomirror\n";
    script +=
        "set grid front xtics lt 1 dt solid lc rgb '#ffffff' lw 1.2\n"
        "set style fill solid 1.0 noborder\n"
        "set border 3 lc rgb '#555555'\n"
        "set ytics nomirror\n"
        "set ylabel offset -2,0\n"
        "unset key\n"
        "set format x ''\n";
    for (size_t i = 0; i < std::size(kPanels); ++i) {
        const Panel& p = kPanels[i];
        if (i + 1 == std::size(kPanels))
            script +=
                "set format x '%.0tM:%02.0tS' time\n"
                "set xlabel 'time in the soundtrack (minutes:seconds)'\n";
        script += panel_script(p);
    }
    script += "unset multiplot\n";
    return script;
}
