// Offline renderer: runs the demo's timeline frame by frame without a window or sound device and
// hands what every frame produced to the outputs the user asked for.
//
//     RenderOptions options;
//     std::string error = parse_render_options(argc - 1, argv + 1, &options);
//     ...load the soundtrack into `track`...
//     error = render(options, track);     // empty on success
//
// Two clocks run over the same span of demo time. Analysed passes sit at j * 1000.0 / R
// milliseconds, R being --loop-fps (or --fps without it); they run in order from 0 through one
// AudioAnalyzer, so filter and envelope state carries from pass to pass exactly as in the demo,
// and when any output needs pictures every pass is composed, so the noise sequence runs on as
// the demo's would. Output frames sit at k * 1000.0 / fps milliseconds, and frame k shows the
// latest pass at or before its time. --controls and --raw take one row or picture per pass;
// --video and --png one picture per output frame, followed, when no length is given, by the
// end card for ten seconds as the demo shows it after the music.
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
    std::string video_path;                  // --video: MP4 of the output frames; "" = off
    std::string png_dir;                     // --png: a folder of one PNG per output frame
    int32_t loop_fps = 0;                    // --loop-fps: analysed passes a second; 0 = --fps
    bool quiet = false;                      // --quiet: no progress bar
    bool help = false;                       // --help: print the usage text and do nothing else
};

// How many of each kind of frame a run has.
struct RenderPlan {
    int32_t pass_rate = 0;     // analysed passes per second of demo time
    int64_t passes = 0;        // analysed passes (one --controls row, one --raw picture each)
    int64_t music_frames = 0;  // output frames at --fps while the music plays
    int64_t card_frames = 0;   // end-card frames after them, in --video and --png output only
};

// Reads the arguments that follow the program name into `options` (which keeps its defaults for
// anything not given). Returns "" on success, else a one-line reason for a usage error. Once
// --help is seen the rest is not examined.
std::string parse_render_options(int argc, const char* const* argv, RenderOptions* options);

// The --help text: every option, its default and the output formats, ending in a newline.
std::string render_usage();

// Milliseconds since the start of the music at which frame `frame` is taken.
double frame_elapsed_ms(int64_t frame, int32_t fps);

// The number of output frames (at --fps) the run covers: --frames as given; with --seconds every
// frame that starts before that time; with neither every frame that starts before the end of
// `track`.
int64_t render_frame_count(const RenderOptions& options, const PcmTrack& track);

// The run's frame counts. Analysed passes cover the same span as the output frames: every pass
// that starts before the time of output frame render_frame_count (so --frames N with --loop-fps
// analyses up to N / fps seconds). End-card frames come only with --video or --png and no
// --frames or --seconds: ten seconds' worth at --fps.
RenderPlan render_plan(const RenderOptions& options, const PcmTrack& track);

// The analysed pass that output frame `frame` shows: the latest one at or before its time.
int64_t pass_shown(int64_t frame, int32_t fps, int32_t pass_rate);

// Runs the timeline over `track` and writes every enabled output, with a progress bar on a
// terminal. Returns "" on success, else a one-line reason (the first output that failed, or
// "interrupted" after a stop signal, see atomic_output.h). Outputs appear all together when
// the run succeeds; on failure none of them appears and their temporaries are removed.
std::string render(const RenderOptions& options, const PcmTrack& track);
