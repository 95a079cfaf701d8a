#include "render/render.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "audio/analyzer.h"
#include "driver/frame.h"
#include "visuals/image_bank.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kTrackRate = 44100.0;  // sample frames per second of every accepted soundtrack
// Longest --seconds accepted, about 116 days: keeps every frame count far inside 64 bits and
// every frame time exact, whatever the frame rate.
constexpr double kMaxSeconds = 1e7;

constexpr const char* kControlsHeader =
    "frame,elapsed_ms,flash,pulse,invert,noise_range,noise_offset,ring_length,star,globe\n";

// ---- options ------------------------------------------------------------------------------

// A whole decimal number of plain digits (no sign, no blanks) that fits in 64 bits.
bool parse_count(std::string_view text, int64_t* out) {
    if (text.empty()) return false;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (value > (INT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *out = value;
    return true;
}

// A finite decimal number with nothing before or after it.
bool parse_number(const std::string& text, double* out) {
    if (text.empty() || !(text[0] == '.' || (text[0] >= '0' && text[0] <= '9'))) return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return false;
    *out = value;
    return true;
}

std::string quoted(std::string_view text) {
    std::string out(1, '\'');  // built by appending: GCC 12 misreads "'" + string as overlapping
    out.append(text);
    out.push_back('\'');
    return out;
}

// Applies one option and its value. Returns "" or the reason it is refused.
std::string apply_option(std::string_view name, const std::string& value, RenderOptions* options) {
    if (name == "--wav") {
        if (value.empty()) return "--wav needs a file name";
        options->wav_path = value;
    } else if (name == "--fps") {
        int64_t fps = 0;
        if (!parse_count(value, &fps) || fps < 1 || fps > INT32_MAX)
            return "--fps wants a whole number of frames per second, not " + quoted(value);
        options->fps = static_cast<int32_t>(fps);
    } else if (name == "--frames") {
        if (!parse_count(value, &options->frames))
            return "--frames wants a whole number of frames, 0 or more, not " + quoted(value);
    } else if (name == "--seconds") {
        if (!parse_number(value, &options->seconds) || options->seconds > kMaxSeconds)
            return "--seconds wants a number of seconds from 0 to 1e7, not " + quoted(value);
    } else if (name == "--controls") {
        if (value.empty()) return "--controls needs a file name";
        options->controls_path = value;
    } else if (name == "--raw") {
        if (value.empty()) return "--raw needs a file name";
        options->raw_path = value;
    } else {
        return "unknown option " + quoted(name);
    }
    return "";
}

bool takes_value(std::string_view name) {
    return name == "--wav" || name == "--fps" || name == "--frames" || name == "--seconds" ||
           name == "--controls" || name == "--raw";
}

// ---- outputs ------------------------------------------------------------------------------

// Everything one frame produced, as the outputs see it.
struct RenderedFrame {
    int64_t index;
    double elapsed_ms;
    FrameControls controls;
    int32_t star;           // index into star_frames of the picture showing
    int32_t globe;          // index into globe_frames of the picture showing
    const uint8_t* pixels;  // the composed frame, or null when no output needs pixels
};

// The open outputs of a run. Every kind of output is one field, open exactly when its option was
// given; open_outputs, write_frame and close_outputs each visit every kind in turn.
struct Outputs {
    FILE* controls = nullptr;  // --controls CSV
    FILE* raw = nullptr;       // --raw frames, back to back
};

std::string write_error(const std::string& path) {
    return "cannot write " + path + ": " + std::strerror(errno);
}

// Closes `file` (if open) and reports a failure of any earlier buffered write or of the close.
std::string close_file(FILE** file, const std::string& path) {
    if (!*file) return "";
    const bool failed = std::ferror(*file) != 0;
    const bool close_failed = std::fclose(*file) != 0;
    *file = nullptr;
    return failed || close_failed ? write_error(path) : "";
}

std::string close_outputs(const RenderOptions& options, Outputs* outputs) {
    const std::string controls_error = close_file(&outputs->controls, options.controls_path);
    const std::string raw_error = close_file(&outputs->raw, options.raw_path);
    return controls_error.empty() ? raw_error : controls_error;
}

// Opens every requested output; on a failure closes what was opened.
std::string open_outputs(const RenderOptions& options, Outputs* outputs) {
    if (!options.controls_path.empty()) {
        outputs->controls = std::fopen(options.controls_path.c_str(), "wb");
        if (!outputs->controls || std::fputs(kControlsHeader, outputs->controls) < 0) {
            const std::string error = write_error(options.controls_path);
            close_outputs(options, outputs);
            return error;
        }
    }
    if (!options.raw_path.empty()) {
        outputs->raw = std::fopen(options.raw_path.c_str(), "wb");
        if (!outputs->raw) {
            const std::string error = write_error(options.raw_path);
            close_outputs(options, outputs);
            return error;
        }
    }
    return "";
}

// Whether any output needs the composed picture; the controls alone do not.
bool needs_pixels(const RenderOptions& options) { return !options.raw_path.empty(); }

std::string write_frame(const RenderOptions& options, Outputs* outputs, const RenderedFrame& f) {
    if (outputs->controls) {
        const FrameControls& c = f.controls;
        if (std::fprintf(outputs->controls, "%" PRId64 ",%.3f,%d,%d,%d,%d,%d,%d,%d,%d\n", f.index,
                         f.elapsed_ms, c.flash, c.pulse, c.invert ? 1 : 0, c.noise_range,
                         c.noise_offset, c.ring_length, f.star, f.globe) < 0)
            return write_error(options.controls_path);
    }
    if (outputs->raw && std::fwrite(f.pixels, 1, kImageBytes, outputs->raw) != kImageBytes)
        return write_error(options.raw_path);
    return "";
}

// The position of `picture` in a sequence table, or -1. All pictures of the bank are distinct,
// so the position is the sequence index the bank picked.
int32_t table_index(const RawImage* const* table, int32_t count, const RawImage* picture) {
    for (int32_t i = 0; i < count; ++i)
        if (table[i] == picture) return i;
    return -1;
}

// The number of frames that start before `limit_ms`.
int64_t frames_before(double limit_ms, int32_t fps) {
    if (!(limit_ms > 0.0)) return 0;
    // The estimate is off by at most one either way; the loops settle it on the frame times
    // themselves, so the count agrees with frame_elapsed_ms to the last bit.
    int64_t n = static_cast<int64_t>(std::ceil(limit_ms * fps / kMsPerSecond));
    while (n > 0 && frame_elapsed_ms(n - 1, fps) >= limit_ms) --n;
    while (frame_elapsed_ms(n, fps) < limit_ms) ++n;
    return n;
}

}  // namespace

std::string parse_render_options(int argc, const char* const* argv, RenderOptions* options) {
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options->help = true;
            return "";
        }
        if (arg.substr(0, 2) != "--") return "unexpected argument " + quoted(arg);
        // Both "--name value" and "--name=value".
        const size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        if (!takes_value(name)) return "unknown option " + quoted(name);
        std::string value;
        if (equals != std::string_view::npos) {
            value = std::string(arg.substr(equals + 1));
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return std::string(name) + " needs a value";
        }
        const std::string error = apply_option(name, value, options);
        if (!error.empty()) return error;
    }
    if (options->frames >= 0 && options->seconds >= 0.0)
        return "--frames and --seconds both give the length; use one";
    if (options->controls_path.empty() && options->raw_path.empty())
        return "nothing to write: give --controls FILE or --raw FILE";
    return "";
}

std::string render_usage() {
    return "Usage: starglobe-render [--wav PATH] [--fps N] [--frames N | --seconds S]\n"
           "                        [--controls FILE] [--raw FILE]\n"
           "Runs the demo's timeline without a window or sound device and writes what every\n"
           "frame shows. Frame k is taken at k * 1000 / N milliseconds after the music starts;\n"
           "frames run in order from 0, each analysing the soundtrack sample playing at its\n"
           "time, with filter and envelope state carried from frame to frame as in the demo.\n"
           "\n"
           "  --wav PATH       soundtrack to analyse: a 16-bit stereo 44,100 Hz PCM WAV with the\n"
           "                   plain 44-byte header (default: tessaloon.wav)\n"
           "  --fps N          frames per second of the timeline, a whole number (default: 60)\n"
           "  --frames N       render frames 0 to N-1 (past the end of the track the last\n"
           "                   sample is held)\n"
           "  --seconds S      render every frame that starts before S seconds\n"
           "                   Without --frames or --seconds the whole track is rendered.\n"
           "  --controls FILE  write every frame's control values as CSV, one row per frame:\n"
           "                     frame         frame number k, from 0\n"
           "                     elapsed_ms    k * 1000 / N, with three decimals\n"
           "                     flash         globe brightness, 0..255\n"
           "                     pulse         star-field darkening, 0, 100, 200 or 255\n"
           "                     invert        1 when the second channel routing is used\n"
           "                     noise_range   modulus of every noise draw, 1..1019\n"
           "                     noise_offset  offset of the first noise ring read, 0..510\n"
           "                     ring_length   entries in the frame's noise ring, 20 or 40\n"
           "                     star          star-field picture showing, 0..23\n"
           "                     globe         globe picture showing, 0..19\n"
           "  --raw FILE       write every frame's picture, composed exactly as the demo composes\n"
           "                   it (same noise sequence from the start), frames back to back:\n"
           "                   400 x 300 pixels of 3 bytes blue, green, red, rows top to\n"
           "                   bottom, 360,000 bytes a frame\n"
           "  At least one of --controls and --raw is needed.\n"
           "  --help           show this text and exit\n"
           "Options also take the form --name=value.\n"
           "\n"
           "Exit status: 0 when done, 1 when the soundtrack cannot be loaded or an output cannot\n"
           "be written, 2 for a usage error.\n";
}

double frame_elapsed_ms(int64_t frame, int32_t fps) {
    return static_cast<double>(frame) * kMsPerSecond / fps;
}

int64_t render_frame_count(const RenderOptions& options, const PcmTrack& track) {
    if (options.frames >= 0) return options.frames;
    if (options.seconds >= 0.0) return frames_before(options.seconds * kMsPerSecond, options.fps);
    return frames_before(track.frames * kMsPerSecond / kTrackRate, options.fps);
}

std::string render(const RenderOptions& options, const PcmTrack& track) {
    Outputs outputs;
    std::string error = open_outputs(options, &outputs);
    if (!error.empty()) return error;

    // An empty vector's data() is null: frame_pass then skips composing.
    std::vector<uint8_t> pixels(needs_pixels(options) ? kImageBytes : 0);
    AudioAnalyzer analyzer;
    const int64_t count = render_frame_count(options, track);
    for (int64_t k = 0; k < count && error.empty(); ++k) {
        const double elapsed_ms = frame_elapsed_ms(k, options.fps);
        RenderedFrame frame;
        frame.index = k;
        frame.elapsed_ms = elapsed_ms;
        frame.pixels = pixels.empty() ? nullptr : pixels.data();
        frame.controls = frame_pass(&analyzer, track, elapsed_ms, pixels.data());
        frame.star = table_index(star_frames, kStarFrameCount, star_for(elapsed_ms));
        frame.globe = table_index(globe_frames, kGlobeFrameCount, globe_for(elapsed_ms));
        error = write_frame(options, &outputs, frame);
    }
    const std::string close_error = close_outputs(options, &outputs);
    return error.empty() ? close_error : error;
}
