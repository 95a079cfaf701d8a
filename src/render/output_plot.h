// --plot FILE: the picture of how the music drives the demo (render/plot.h), as FILE.png or
// FILE.svg, drawn by gnuplot when the run is complete. gnuplot writes the picture to its
// standard output, which is read back whole and written here, so that a full disk fails the
// run like any other output, and no name of the user's ever reaches gnuplot as a command.
#pragma once
#include <string>

#include "render/output_kind.h"
#include "render/plot.h"

// The program and the Debian package that provides it.
constexpr const char* kGnuplotProgram = "gnuplot";
constexpr const char* kGnuplotPackage = "gnuplot-nox";

struct PlotOutput {
    std::string name;   // as messages call it
    std::string title;  // above the panels: the music's name and the pass rate
    bool svg = false;
    AtomicOutput target;
    Plot plot;
};

// The value of --plot: a name ending in .png or .svg.
Outcome plot_take(const char* option, const std::string& value);

Outcome output_open(PlotOutput* out, const std::string& path, const RunInfo& run);
Outcome output_pass(PlotOutput* out, const PassView& pass);
Outcome output_complete(PlotOutput* out);
