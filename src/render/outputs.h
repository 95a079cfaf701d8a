// The renderer's outputs, each open exactly when its option was given:
//
//   kind      option      takes                              written as
//   controls  --controls  one CSV row per analysed pass      a file or standard output
//   plot      --plot      every pass, drawn at the end       gnuplot's picture, into a file
//   raw       --raw       one 400 x 300 picture per frame    a file or standard output
//   video     --video     one framed picture per frame       ffmpeg, into a file or stdout
//   png       --png       one framed picture per frame       a folder of PNG files
//   flashes   --flashes   one 400 x 300 picture per frame    a CSV file or standard output
//
// Each kind lives in its own output_<kind>.{h,cpp}: a record and the free functions
// output_open, output_pass, output_frame and output_complete over it (a kind without work
// for passes or frames leaves that function out), and output_summary for a line after the
// run. Adding a kind is its files, its option, and one entry in the Output variant below.
//
// Every kind writes to its AtomicOutput, so that all outputs appear together when the run
// succeeds (outputs_finish) and none of them when it fails: dropping the Outputs abandons
// whatever is unfinished.
//
//     Outputs outputs;
//     Outcome o = outputs_open(run, &outputs);
//     ...outputs_pass(&outputs, pass) for every pass shown; outputs_frame(...) for every frame...
//     o = outputs_finish(&outputs);
#pragma once
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "common/outcome.h"
#include "frame/frame_pass.h"
#include "render/framing.h"
#include "render/options.h"
#include "render/output_controls.h"
#include "render/output_flashes.h"
#include "render/output_plot.h"
#include "render/output_png.h"
#include "render/output_raw.h"
#include "render/output_video.h"
#include "render/soundtrack.h"
#include "render/timeline.h"

using Output =
    std::variant<ControlsOutput, PlotOutput, RawOutput, VideoOutput, PngOutput, FlashesOutput>;

struct Outputs {
    std::vector<Output> open;
    Framing framing;
    std::vector<uint8_t> framed;  // the picture in its output frame, when that differs
};

// Two names of the same file among the outputs, or an output that would overwrite the music,
// compared by identity (device and inode where the file exists, the resolved path where it
// does not): "" or the usage error to report. Devices such as /dev/null may be shared. Video
// or raw frames bound for a terminal are refused too.
std::string outputs_clash(const RenderOptions& options, const std::string& soundtrack_path);

// Opens every requested output, the ones needing a helper program first so that a missing
// one is reported before anything is made; on failure drops what was made.
Outcome outputs_open(const RunInfo& run, Outputs* outputs);

// Hands one analysed pass (shown, at or after the first frame's) to the outputs.
Outcome outputs_pass(Outputs* outputs, const PassView& pass);

// Hands one output frame to the outputs: `picture` (400 x 300) placed in the output frame.
// `same_as_before` says the picture is the previous frame's, which then need not be framed
// again.
Outcome outputs_frame(Outputs* outputs, int64_t number, const uint8_t* picture,
                      bool same_as_before);

// Completes every output and, only when all of that worked, moves them into place. On a
// failure or a stop signal meanwhile, drops them all.
Outcome outputs_finish(Outputs* outputs);

// The lines the outputs have for the user after a run (the flash check's summary).
std::vector<std::string> outputs_summaries(const Outputs& outputs);
