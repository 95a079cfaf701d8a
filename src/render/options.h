// The renderer's command line: one table of options, with the outputs' own rows from the table
// of output kinds (render/outputs.h), drives the parsing, which options take a value, and the
// --help synopsis, whose numbers come from the constants they describe.
//
//     RenderOptions options;
//     Outcome parsed = parse_render_options(argc - 1, argv + 1, &options);  // a usage error
//     if (options.help) std::fputs(render_usage().c_str(), stdout);
//
// Numbers are written one way for every option: decimal digits, with a fraction after a point
// where a fraction makes sense (2.5), and rates also as a ratio of whole numbers (30000/1001).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/outcome.h"
#include "common/timeline.h"
#include "render/timeline.h"

// "-" names standard output, where an output allows it.
constexpr const char* kStdoutName = "-";

// The refusal of a span without a single frame, whatever the outputs: by --frames 0 or
// --seconds 0 on the command line, or by a span too short to hold a frame's start.
constexpr const char* kEmptySpanRefusal =
    "this span holds no frame; give --frames 1 or more, or a longer --seconds";

constexpr int64_t kMaxFps = 1000;        // no screen shows more frames a second
constexpr int64_t kMaxLoopFps = 100000;  // far beyond the live demo's loop rate
constexpr int32_t kMaxSide = 16384;      // pixels a side of --size
// The default --loop-fps: passes a second of the live demo's look.
constexpr int64_t kLiveLoopFps = kLiveLookPassesPerSecond;

constexpr int kExitFailure = 1;  // the music or an output failed
constexpr int kExitUsage = 2;    // the command line is wrong

// The kinds of output, in the order --help and messages list them, and then their count. Each
// has its row in the table of render/outputs.cpp; render/outputs.h says how to add one.
enum class OutputKind { video, png, raw, flashes, controls, plot, count };
constexpr size_t kOutputKinds = size_t(OutputKind::count);

struct RenderOptions {
    std::string wav_path;  // --wav; "" = the soundtrack here, else the installed one
    FrameRate fps;         // --fps: output frames per second
    FrameRate loop_fps = {kLiveLoopFps, 1, false, double(kLiveLoopFps)};  // --loop-fps
    Span span;                                      // --frames, --seconds, --start
    std::array<std::string, kOutputKinds> outputs;  // each kind's path; "" = not asked for
    int32_t scale = 0;       // --scale: pixel repetition, 1..kMaxScale; 0 = not given
    int32_t size_width = 0;  // --size: output frame, pixels; 0 = not given
    int32_t size_height = 0;
    int32_t crf = -1;      // --crf; -1 = the default for the size
    std::string preset;    // --preset; "" = the default for the size
    bool gentle = false;   // --gentle: the pictures through the gentle filter
    bool quiet = false;    // --quiet: no progress bar, no notes
    bool help = false;     // --help
    bool version = false;  // --version

    const std::string& output(OutputKind kind) const { return outputs[size_t(kind)]; }
};

// Reads the arguments after the program name into `options`; a failure's message is the
// one-line reason for a usage error. Once --help or --version is seen the rest is ignored.
// Looks at no file: clashes between files are found by outputs_clash (render/outputs.h).
Outcome parse_render_options(int argc, const char* const* argv, RenderOptions* options);

// The --help synopsis, ending in a newline; starglobe-render(1) is the long form.
std::string render_usage();
