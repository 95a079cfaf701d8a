// --plot: a picture of how the music drives the demo, for people making music for it. Over the
// soundtrack's time, in five stacked panels: the loudness of the music itself, and the flash,
// pulse, noise_range and invert the analysis made of it. Drawn by gnuplot through a pipe.
//
//     Plot plot = plot_start(track, span_ms, pass_ms, "song.wav at 60 passes a second");
//     ...plot_add(&plot, elapsed_ms, controls) for every analysed pass...
//     std::string error = plot_write(plot, write_path, svg, "song.png");   // runs gnuplot
//
// Passes are gathered into a few hundred bins of equal time (each holding the passes that start
// in it), so that a whole track stays readable at any pass rate and the memory stays small.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "audio/wav_loader.h"
#include "common/frame_controls.h"

// The program and the Debian package that provides it.
constexpr const char* kGnuplotProgram = "gnuplot";
constexpr const char* kGnuplotPackage = "gnuplot-nox";

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
    double bin_ms = 1.0;
    std::vector<PlotBin> bins;
    std::string title;
};

// A plot of `span_ms` of `track` analysed every `pass_ms`.
Plot plot_start(const PcmTrack& track, double span_ms, double pass_ms, const std::string& title);

void plot_add(Plot* plot, double elapsed_ms, const FrameControls& controls);

// The gnuplot commands that draw `plot` into `output_path` (SVG when `svg`, else PNG), with
// the data inline.
std::string plot_script(const Plot& plot, const std::string& output_path, bool svg);

// Runs gnuplot on plot_script. Returns "" or the reason, naming `name` (the output the user
// asked for) rather than `write_path`.
std::string plot_write(const Plot& plot, const std::string& write_path, bool svg,
                       const std::string& name);
