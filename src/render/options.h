// The renderer's command line: one table of options drives the parsing, which options take a
// value, and the --help text, whose numbers come from the constants they describe.
//
//     RenderOptions options;
//     std::string error = parse_render_options(argc - 1, argv + 1, &options);   // "" when fine
//     if (options.help) std::fputs(render_usage().c_str(), stdout);
//
// Numbers are written one way for every option: decimal digits, with a fraction after a point
// where a fraction makes sense (2.5), and rates also as a ratio of whole numbers (30000/1001).
#pragma once
#include <cstdint>
#include <string>

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

struct RenderOptions {
    std::string wav_path;  // --wav; "" = the soundtrack here, else the installed one
    FrameRate fps;         // --fps: output frames per second
    FrameRate loop_fps = {kLiveLoopFps, 1, false, double(kLiveLoopFps)};  // --loop-fps
    Span span;                  // --frames, --seconds, --start
    std::string controls_path;  // --controls: CSV of every pass's controls; "" = off
    std::string raw_path;       // --raw: every output frame's 360,000 bytes; "" = off
    std::string video_path;     // --video: .mp4 or .mkv of the output frames; "" = off
    std::string png_dir;        // --png: a folder of one PNG per output frame; "" = off
    std::string plot_path;      // --plot: .png or .svg picture of the controls; "" = off
    std::string flashes_path;   // --flashes: CSV of the flash check of the frames; "" = off
    int32_t scale = 0;          // --scale: pixel repetition, 1..kMaxScale; 0 = not given
    int32_t size_width = 0;     // --size: output frame, pixels; 0 = not given
    int32_t size_height = 0;
    int32_t crf = -1;      // --crf; -1 = the default for the size
    std::string preset;    // --preset; "" = the default for the size
    bool gentle = false;   // --gentle: the pictures through the gentle filter
    bool quiet = false;    // --quiet: no progress bar, no notes
    bool help = false;     // --help
    bool version = false;  // --version
};

// Reads the arguments after the program name into `options`. Returns "" on success, else a
// one-line reason for a usage error. Once --help or --version is seen the rest is ignored.
// Looks at no file: clashes between files are found by outputs_clash (render/outputs.h).
std::string parse_render_options(int argc, const char* const* argv, RenderOptions* options);

// The --help text, ending in a newline.
std::string render_usage();

// Whether the options ask for the output frames' pictures (video, png, raw, flashes): then
// every pass is composed, shown or not, so that the noise runs exactly as live, and a whole
// production ends on the end card.
bool needs_pixels(const RenderOptions& options);
