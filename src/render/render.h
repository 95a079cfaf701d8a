// Offline renderer: runs the demo's timeline frame by frame without a window or sound device and
// hands what every frame produced to the outputs the user asked for.
//
//     RenderOptions options;
//     std::string error = parse_render_options(argc - 1, argv + 1, &options);
//     ...load the soundtrack into `track`...
//     error = render(options, track);     // empty on success
//
// Frame k sits at k * 1000.0 / fps milliseconds; frames run in order from 0 through one
// AudioAnalyzer, so filter and envelope state carries from frame to frame exactly as in the demo.
#pragma once
#include <cstdint>
#include <string>

#include "audio/wav_loader.h"

struct RenderOptions {
    std::string wav_path = "tessaloon.wav";  // --wav: the soundtrack to analyse
    int32_t fps = 60;                        // --fps: frames per second of the timeline
    int64_t frames = -1;                     // --frames: frame count; -1 when not given
    double seconds = -1.0;                   // --seconds: span in seconds; negative when not given
    std::string controls_path;               // --controls: CSV of every frame's controls; "" = off
    std::string raw_path;                    // --raw: every frame's 360,000 bytes; "" = off
    bool help = false;                       // --help: print the usage text and do nothing else
};

// Reads the arguments that follow the program name into `options` (which keeps its defaults for
// anything not given). Returns "" on success, else a one-line reason for a usage error. Once
// --help is seen the rest is not examined.
std::string parse_render_options(int argc, const char* const* argv, RenderOptions* options);

// The --help text: every option, its default and the output formats, ending in a newline.
std::string render_usage();

// Milliseconds since the start of the music at which frame `frame` is taken.
double frame_elapsed_ms(int64_t frame, int32_t fps);

// The number of frames the run covers: --frames as given; with --seconds every frame that starts
// before that time; with neither every frame that starts before the end of `track`.
int64_t render_frame_count(const RenderOptions& options, const PcmTrack& track);

// Runs the timeline over `track` and writes every enabled output. Returns "" on success, else a
// one-line reason (the first output that failed); outputs are closed either way.
std::string render(const RenderOptions& options, const PcmTrack& track);
