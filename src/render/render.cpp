#include "render/render.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/analyzer.h"
#include "common/picture.h"
#include "common/stop_signal.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "frame/frame_pass.h"
#include "render/atomic_output.h"
#include "render/ffmpeg_pipe.h"
#include "render/png_writer.h"
#include "render/progress.h"
#include "visuals/image_bank.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kTrackRate = kSampleRateHz;  // sample frames per second of every soundtrack
// Longest --seconds accepted, about 116 days: keeps every frame count far inside 64 bits and
// every frame time exact, whatever the frame rate.
constexpr double kMaxSeconds = 1e7;
constexpr const char* kStdoutName = "-";
// PNG frames are named frame00000.png, frame00001.png, ...: at least five digits, so a folder
// listing sorts them in order up to 99,999 frames (27 minutes at 60 frames per second).
constexpr const char* kPngNameFormat = "/frame%05" PRId64 ".png";

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

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

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
    } else if (name == "--video") {
        if (value.empty() || value == kStdoutName)
            return "--video needs a file name (standard output cannot take an MP4)";
        options->video_path = value;
    } else if (name == "--png") {
        if (value.empty() || value == kStdoutName) return "--png needs a folder name";
        options->png_dir = value;
    } else if (name == "--loop-fps") {
        int64_t rate = 0;
        if (!parse_count(value, &rate) || rate < 1 || rate > INT32_MAX)
            return "--loop-fps wants a whole number of passes per second, not " + quoted(value);
        options->loop_fps = static_cast<int32_t>(rate);
    } else {
        return "unknown option " + quoted(name);
    }
    return "";
}

bool takes_value(std::string_view name) {
    return name == "--wav" || name == "--fps" || name == "--frames" || name == "--seconds" ||
           name == "--controls" || name == "--raw" || name == "--video" || name == "--png" ||
           name == "--loop-fps";
}

// Refuses two outputs that would land on the same name: one would silently replace the other.
std::string clashing_outputs(const RenderOptions& o) {
    if (o.controls_path == kStdoutName && o.raw_path == kStdoutName)
        return "--controls and --raw cannot both write to standard output";
    const std::pair<const char*, const std::string*> named[] = {
        {"--controls", &o.controls_path}, {"--raw", &o.raw_path},
        {"--video", &o.video_path},       {"--png", &o.png_dir}};
    for (size_t i = 0; i < std::size(named); ++i)
        for (size_t j = i + 1; j < std::size(named); ++j) {
            const std::string& a = *named[i].second;
            if (!a.empty() && a != kStdoutName && a == *named[j].second)
                return std::string(named[i].first) + " and " + named[j].first +
                       " name the same file";
        }
    return "";
}

// ---- outputs ------------------------------------------------------------------------------

// Everything one analysed pass produced, as the outputs see it.
struct RenderedPass {
    int64_t index;
    double elapsed_ms;
    FrameControls controls;
    int32_t star;           // index into star_frames of the picture showing
    int32_t globe;          // index into globe_frames of the picture showing
    const uint8_t* pixels;  // the composed frame, or null when no output needs pixels
};

// The open outputs of a run. Every kind of output is a target (where it ends up, see
// atomic_output.h) and its open handle, open exactly when its option was given; open_outputs,
// the write steps and finish_outputs / abandon_outputs each visit every kind in turn.
// --controls and --raw are written once per analysed pass, --video and --png once per output
// frame.
struct Outputs {
    AtomicOutput controls_target;
    AtomicOutput raw_target;
    AtomicOutput video_target;
    AtomicOutput png_target;
    FILE* controls = nullptr;  // --controls CSV
    FILE* raw = nullptr;       // --raw frames, back to back
    VideoPipe video;           // --video: ffmpeg, fed frames
    bool png = false;          // --png: frames go into png_target.write_path
};

std::string write_error(const std::string& path) {
    return "cannot write " + path + ": " + std::strerror(errno);
}

// Opens a file output's target for writing: its temporary, the path itself, or stdout.
FILE* open_target(const AtomicOutput& target) {
    if (target.way == OutputWay::to_stdout) return stdout;
    return std::fopen(target.write_path.c_str(), "wbe");
}

// Closes `file` (if open; standard output is only flushed) and reports a failure of any earlier
// buffered write or of the close.
std::string close_file(FILE** file, const std::string& path) {
    if (!*file) return "";
    const bool failed = std::ferror(*file) != 0;
    const bool close_failed = *file == stdout ? std::fflush(stdout) != 0 : std::fclose(*file) != 0;
    *file = nullptr;
    return failed || close_failed ? write_error(path) : "";
}

// Ends a run that will not complete: ffmpeg is stopped, files closed, every temporary removed.
void abandon_outputs(const RenderOptions& options, Outputs* outputs) {
    video_kill(&outputs->video);
    close_file(&outputs->controls, options.controls_path);
    close_file(&outputs->raw, options.raw_path);
    output_abandon(&outputs->controls_target);
    output_abandon(&outputs->raw_target);
    output_abandon(&outputs->video_target);
    output_abandon(&outputs->png_target);
    outputs->png = false;
}

// Completes every output: files closed, ffmpeg finished, and only when all of that worked,
// everything renamed into place. Otherwise nothing is.
std::string finish_outputs(const RenderOptions& options, Outputs* outputs) {
    std::string error = close_file(&outputs->controls, options.controls_path);
    std::string next = close_file(&outputs->raw, options.raw_path);
    if (error.empty()) error = next;
    next = video_close(&outputs->video);
    if (error.empty()) error = next;
    // A Ctrl-C while ffmpeg was finishing the file still means "stop": nothing is put in place.
    if (error.empty() && stop_signal() != 0) error = "interrupted";
    if (error.empty()) error = output_commit(&outputs->controls_target);
    if (error.empty()) error = output_commit(&outputs->raw_target);
    if (error.empty()) error = output_commit(&outputs->video_target);
    if (error.empty()) error = output_commit(&outputs->png_target);
    if (!error.empty()) abandon_outputs(options, outputs);
    return error;
}

// Opens every requested output, the video first so a missing ffmpeg is reported before
// anything else is made; on a failure removes what was made.
std::string open_outputs(const RenderOptions& options, const RenderPlan& plan, Outputs* outputs) {
    std::string error;
    if (!options.video_path.empty()) {
        VideoSettings video;
        video.audio_path = options.wav_path;
        video.fps = options.fps;
        video.frames = plan.music_frames + plan.card_frames;
        video.width = kImageWidth;
        video.height = kImageHeight;
        if (video.frames == 0) return "--video: the run has no frames to encode";
        // Without ffmpeg, video_open only says what to install; nothing has been made yet.
        if (find_on_path(kFfmpegProgram).empty()) return video_open(video, &outputs->video);
        error = output_begin(options.video_path, OutputShape::file, &outputs->video_target);
        if (error.empty()) {
            video.output_path = outputs->video_target.write_path;
            video.seekable = outputs->video_target.way == OutputWay::replaced;
            error = video_open(video, &outputs->video);
        }
    }
    if (error.empty() && !options.png_dir.empty()) {
        error = output_begin(options.png_dir, OutputShape::folder, &outputs->png_target);
        outputs->png = error.empty();
    }
    if (error.empty() && !options.controls_path.empty()) {
        error = output_begin(options.controls_path, OutputShape::file_or_stdout,
                             &outputs->controls_target);
        if (error.empty()) {
            outputs->controls = open_target(outputs->controls_target);
            if (!outputs->controls || std::fputs(kControlsHeader, outputs->controls) < 0)
                error = write_error(options.controls_path);
        }
    }
    if (error.empty() && !options.raw_path.empty()) {
        error = output_begin(options.raw_path, OutputShape::file_or_stdout, &outputs->raw_target);
        if (error.empty()) {
            outputs->raw = open_target(outputs->raw_target);
            if (!outputs->raw) error = write_error(options.raw_path);
        }
    }
    if (!error.empty()) abandon_outputs(options, outputs);
    return error;
}

// Whether any output needs the composed picture; the controls alone do not.
bool needs_pixels(const RenderOptions& options) {
    return !options.raw_path.empty() || !options.video_path.empty() || !options.png_dir.empty();
}

// Whether any output takes one picture per output frame (and so the end card).
bool shows_frames(const RenderOptions& options) {
    return !options.video_path.empty() || !options.png_dir.empty();
}

std::string write_pass(const RenderOptions& options, Outputs* outputs, const RenderedPass& f) {
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

// Writes output frame `frame`, showing `pixels`, to --video and --png.
std::string write_shown(Outputs* outputs, int64_t frame, const uint8_t* pixels) {
    if (outputs->video.pid >= 0) {
        const std::string error = video_write(&outputs->video, pixels, kImageBytes);
        if (!error.empty()) return error;
    }
    if (outputs->png) {
        char name[32];
        std::snprintf(name, sizeof name, kPngNameFormat, frame);
        const std::string error = write_png_file(outputs->png_target.write_path + name, pixels,
                                                 kImageWidth, kImageHeight);
        if (!error.empty()) return error;
    }
    return "";
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
        if (arg == "--quiet" || arg == "-q") {
            options->quiet = true;
            continue;
        }
        if (arg.substr(0, 8) == "--quiet=") return "--quiet takes no value";
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
    if (options->controls_path.empty() && options->raw_path.empty() &&
        options->video_path.empty() && options->png_dir.empty())
        return "nothing to write: give --video, --png, --controls or --raw";
    return clashing_outputs(*options);
}

std::string render_usage() {
    return "Usage: starglobe-render [--wav PATH] [--fps N] [--loop-fps M]\n"
           "                        [--frames COUNT | --seconds S] [--quiet]\n"
           "                        [--video FILE] [--png DIR] [--controls FILE] [--raw FILE]\n"
           "Runs the demo's timeline without a window or sound device and writes what it shows.\n"
           "Without --frames or --seconds that is the whole production: the frames while the\n"
           "music plays, then the end card for ten seconds.\n"
           "\n"
           "Timeline. Output frame k is at k * 1000 / N milliseconds after the music starts.\n"
           "The soundtrack is analysed in passes, in order from 0, each at the sample playing\n"
           "at its time, with filter and envelope state carried from pass to pass as in the\n"
           "demo. Without --loop-fps there is one pass per output frame, at the same time.\n"
           "With --loop-fps M, pass j is at j * 1000 / M ms, and output frame k shows the\n"
           "latest pass at or before its time (repeating it when M < N). Every pass is\n"
           "composed, shown or not, so the noise runs on exactly as in the live demo, which\n"
           "analyses and composes once per loop pass, far more often than 60 times a second.\n"
           "\n"
           "  --wav PATH       soundtrack to analyse and, for --video, to mux in: a 16-bit\n"
           "                   stereo 44,100 Hz PCM WAV with the plain 44-byte header\n"
           "                   (default: tessaloon.wav)\n"
           "  --fps N          output frames per second, a whole number (default: 60)\n"
           "  --loop-fps M     analysed passes per second of demo time, a whole number\n"
           "                   (default: one pass per output frame)\n"
           "  --frames COUNT   render output frames 0 to COUNT-1 and every pass before the\n"
           "                   time of frame COUNT; no end card (past the end of the track\n"
           "                   the last sample is held)\n"
           "  --seconds S      render every frame and pass that starts before S seconds; no\n"
           "                   end card\n"
           "  --video FILE     write an MP4 of the output frames and the end card: H.264\n"
           "                   (yuv420p, index at the front, plays in a browser) and the\n"
           "                   soundtrack as AAC, lasting exactly frames / N seconds. Needs\n"
           "                   ffmpeg (Debian package ffmpeg).\n"
           "  --png DIR        write the output frames and the end card as DIR/frame00000.png,\n"
           "                   DIR/frame00001.png, ... (RGB, 8 bits a channel). DIR must not\n"
           "                   exist or be empty.\n"
           "  --controls FILE  write every pass's control values as CSV, one row per pass:\n"
           "                     frame         pass number j, from 0\n"
           "                     elapsed_ms    the pass's time, with three decimals\n"
           "                     flash         globe brightness, 0..255\n"
           "                     pulse         star-field darkening, 0, 100, 200 or 255\n"
           "                     invert        1 when the second channel routing is used\n"
           "                     noise_range   modulus of every noise draw, 1..1019\n"
           "                     noise_offset  offset of the first noise ring read, 0..510\n"
           "                     ring_length   entries in the pass's noise ring, 20 or 40\n"
           "                     star          star-field picture showing, 0..23\n"
           "                     globe         globe picture showing, 0..19\n"
           "  --raw FILE       write every pass's picture, composed exactly as the demo composes\n"
           "                   it (same noise sequence from the start), back to back: 400 x 300\n"
           "                   pixels of 3 bytes blue, green, red, rows top to bottom, 360,000\n"
           "                   bytes a picture; no end card\n"
           "  At least one of --video, --png, --controls and --raw is needed.\n"
           "  --quiet, -q      no progress bar (it is drawn on standard error only when that\n"
           "                   is a terminal)\n"
           "  --help, -h       show this text and exit\n"
           "Options also take the form --name=value. FILE may be - (standard output) for\n"
           "--controls and --raw.\n"
           "\n"
           "Outputs appear whole or not at all: a file is written as FILE.partial-XXXXXX beside\n"
           "it and renamed to FILE when the run has succeeded, DIR is filled as\n"
           "DIR.partial-XXXXXX and renamed at the end. A failure or a stop signal removes them\n"
           "and leaves an existing FILE as it was. Paths that are not regular files (/dev/null,\n"
           "a named pipe) are written directly.\n"
           "\n"
           "Exit status: 0 when done, 1 when the soundtrack cannot be loaded or an output cannot\n"
           "be written, 2 for a usage error, 128 + the signal's number when stopped by a signal\n"
           "(130 for Ctrl-C, 143 for SIGTERM).\n";
}

double frame_elapsed_ms(int64_t frame, int32_t fps) {
    return static_cast<double>(frame) * kMsPerSecond / fps;
}

int64_t render_frame_count(const RenderOptions& options, const PcmTrack& track) {
    if (options.frames >= 0) return options.frames;
    if (options.seconds >= 0.0) return frames_before(options.seconds * kMsPerSecond, options.fps);
    return frames_before(track.frames * kMsPerSecond / kTrackRate, options.fps);
}

RenderPlan render_plan(const RenderOptions& options, const PcmTrack& track) {
    RenderPlan plan;
    plan.pass_rate = options.loop_fps > 0 ? options.loop_fps : options.fps;
    plan.music_frames = render_frame_count(options, track);
    // The span ends where the first frame not rendered would start.
    plan.passes = frames_before(frame_elapsed_ms(plan.music_frames, options.fps), plan.pass_rate);
    const bool whole_production = options.frames < 0 && options.seconds < 0.0;
    if (whole_production && shows_frames(options))
        plan.card_frames = frames_before(kEndCardMs, options.fps);
    return plan;
}

int64_t pass_shown(int64_t frame, int32_t fps, int32_t pass_rate) {
    // Passes at or before the frame's time, less one; the same comparison of computed times as
    // render() makes, so the two agree to the last bit.
    const double frame_ms = frame_elapsed_ms(frame, fps);
    int64_t n = static_cast<int64_t>(std::floor(frame_ms * pass_rate / kMsPerSecond));
    while (n > 0 && frame_elapsed_ms(n, pass_rate) > frame_ms) --n;
    while (frame_elapsed_ms(n + 1, pass_rate) <= frame_ms) ++n;
    return n;
}

std::string render(const RenderOptions& options, const PcmTrack& track) {
    const RenderPlan plan = render_plan(options, track);
    Outputs outputs;
    std::string error = open_outputs(options, plan, &outputs);
    if (!error.empty()) return error;

    Progress progress =
        progress_start(plan.music_frames + plan.card_frames, progress_wanted(options.quiet));
    // An empty vector's data() is null: frame_pass then skips composing.
    std::vector<uint8_t> pixels(needs_pixels(options) ? kImageBytes : 0);
    AudioAnalyzer analyzer;
    // As in the demo: the noise sequence is rand()'s unseeded one, from the first frame.
    NoiseSource noise = noise_source_checked();
    int64_t frame = 0;  // the next output frame
    for (int64_t j = 0; j < plan.passes && error.empty(); ++j) {
        if (stop_signal() != 0) {
            error = "interrupted";
            break;
        }
        const double elapsed_ms = frame_elapsed_ms(j, plan.pass_rate);
        RenderedPass pass;
        pass.index = j;
        pass.elapsed_ms = elapsed_ms;
        pass.pixels = pixels.empty() ? nullptr : pixels.data();
        const FramePass made = frame_pass(&analyzer, track, elapsed_ms, &noise, pixels.data());
        pass.controls = made.controls;
        pass.star = made.star_index;
        pass.globe = made.globe_index;
        error = write_pass(options, &outputs, pass);

        // Every output frame from here up to the next pass shows this one.
        const double next_ms = j + 1 < plan.passes ? frame_elapsed_ms(j + 1, plan.pass_rate)
                                                   : std::numeric_limits<double>::infinity();
        for (; frame < plan.music_frames && error.empty() &&
               frame_elapsed_ms(frame, options.fps) < next_ms;
             ++frame) {
            error = write_shown(&outputs, frame, pass.pixels);
            progress_update(&progress, frame + 1);
        }
    }
    // After the music, the end card, as the demo shows it: no analysis and no noise.
    for (int64_t c = 0; c < plan.card_frames && error.empty(); ++c, ++frame) {
        if (stop_signal() != 0) {
            error = "interrupted";
            break;
        }
        error = write_shown(&outputs, frame, end_card.bgr);
        progress_update(&progress, frame + 1);
    }
    // A signal that cut a write short reports as the interruption it is.
    if (!error.empty() && stop_signal() != 0) error = "interrupted";

    if (error.empty()) {
        error = finish_outputs(options, &outputs);
    } else {
        abandon_outputs(options, &outputs);
    }
    if (error.empty()) {
        progress_finish(&progress, frame);
    } else if (progress.enabled) {
        std::fputc('\n', stderr);  // keep the bar's last state above the message that follows
    }
    return error;
}
