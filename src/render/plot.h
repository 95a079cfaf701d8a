// The picture of how the music drives the demo, for people making music for it (--plot). Over
// the music's time, in five stacked panels: the loudness of the music itself, and the flash,
// pulse, noise_range and invert the analysis made of it. Drawn by gnuplot.
//
//     Plot plot = plot_start(track, end_ms, pass_ms, start_ms);
//     ...plot_add(&plot, elapsed_ms, controls) for every analysed pass...
//     std::string script = plot_script(plot, svg);   // gnuplot -c SCRIPT TITLE draws it
//
// Passes are gathered into a few hundred bins of equal time (each holding the passes that start
// in it), so that a whole track stays readable at any pass rate and the memory stays small.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "audio/wav_loader.h"
#include "common/frame_controls.h"

struct PlotBin {
    int32_t passes = 0;
    int64_t flash_sum = 0;
    int32_t flash_max = 0;
    int64_t pulse_sum = 0;
    int64_t range_sum = 0;
    int32_t inverted = 0;  // passes with the second routing
};

struct Plot {
    const PcmTrack* track = nullptr;  // for the loudness
    double start_ms = 0.0;            // the left edge: the first pass shown
    double bin_ms = 1.0;
    std::vector<PlotBin> bins;
};

// A plot of `track` from `start_ms` to `end_ms`, analysed every `pass_ms`.
Plot plot_start(const PcmTrack& track, double end_ms, double pass_ms, double start_ms);

void plot_add(Plot* plot, double elapsed_ms, const FrameControls& controls);

// The gnuplot commands that draw `plot` to standard output (SVG when `svg`, else PNG), with
// the data inline and the title taken from the script's first argument, ARG1: whatever the
// title holds (a file name with a newline, quotes, backquotes) stays data, never commands.
std::string plot_script(const Plot& plot, bool svg);
