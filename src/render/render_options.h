// The renderer's command line: one table of options drives the parsing, which options take a
// value, and the --help text.
//
//     RenderOptions options;
//     std::string error = parse_render_options(argc - 1, argv + 1, &options);   // "" when fine
//     if (options.help) std::fputs(render_usage().c_str(), stdout);
//
// Also the two facts every part of a run derives from the options: the times of frames at a
// rate, and where the picture sits in the output frame.
#pragma once
#include <cstdint>
#include <string>

// A frame rate as given: a whole or decimal number (60, 29.97) or a ratio N/D (30000/1001).
// num / den is the exact rate in every case (29.97 is 2997/100), which is what ffmpeg is told.
struct FrameRate {
    int64_t num = 60;
    int64_t den = 1;
    bool ratio = false;   // given as N/D
    double value = 60.0;  // the number as given, when not a ratio
};

// Milliseconds after the start of the music at which frame `k` at `rate` is taken:
// (k * 1000.0 * D) / N for a ratio, k * 1000.0 / F for a number F. These exact double
// expressions keep whole-number rates on the very frame times the live demo would read.
double frame_time_ms(int64_t k, const FrameRate& rate);

// The rate as a double, num / den, for estimates only.
double rate_per_second(const FrameRate& rate);

struct RenderOptions {
    std::string wav_path;     // --wav; "" = tessaloon.wav here, else the installed one
    FrameRate fps;            // --fps: output frames per second
    FrameRate loop_fps;       // --loop-fps: analysed passes a second; used when loop_given
    bool loop_given = false;
    int64_t frames = -1;      // --frames; -1 when not given
    double seconds = -1.0;    // --seconds; negative when not given
    std::string controls_path;  // --controls: CSV of every pass's controls; "" = off
    std::string raw_path;       // --raw: every pass's 360,000 bytes; "" = off
    std::string video_path;     // --video: .mp4 or .mkv of the output frames; "" = off
    std::string png_dir;        // --png: a folder of one PNG per output frame; "" = off
    std::string plot_path;      // --plot: .png or .svg picture of the controls; "" = off
    int32_t scale = 0;          // --scale: pixel repetition, 1..8; 0 = not given
    int32_t size_width = 0;     // --size: output frame, pixels; 0 = not given
    int32_t size_height = 0;
    int32_t crf = -1;           // --crf; -1 = the default
    std::string preset;         // --preset; "" = the default
    bool quiet = false;         // --quiet: no progress bar, no notes
    bool help = false;          // --help
    bool version = false;       // --version
};

// The analysed passes' rate: --loop-fps, or --fps without it.
const FrameRate& pass_rate(const RenderOptions& options);

// Where the 400 x 300 picture lands in an output frame of --video and --png.
struct Framing {
    int32_t width = 0;   // the output frame, pixels
    int32_t height = 0;
    int32_t scale = 1;   // each picture pixel becomes scale x scale output pixels
    int32_t x = 0;       // the scaled picture's top-left corner in the output frame
    int32_t y = 0;
};

// --scale N gives (400N x 300N at 0, 0); --size WxH the largest whole scale that fits, centred
// (1920x1080: scale 3, 1200 x 900 at 360, 90); neither gives the picture as it is.
Framing output_framing(const RenderOptions& options);

// Reads the arguments after the program name into `options`. Returns "" on success, else a
// one-line reason for a usage error. Once --help or --version is seen the rest is ignored.
std::string parse_render_options(int argc, const char* const* argv, RenderOptions* options);

// The --help text, ending in a newline.
std::string render_usage();

// "standard output" for "-", else the name as given: what messages call an output.
std::string output_name(const std::string& path);
