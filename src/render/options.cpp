#include "render/options.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numeric>
#include <sstream>
#include <string_view>
#include <vector>

#include "audio/convert.h"
#include "common/build_info.h"
#include "common/frame_controls.h"
#include "common/picture.h"
#include "common/quoting.h"
#include "common/timeline.h"
#include "common/wording.h"
#include "frame/flash_measure.h"
#include "frame/view.h"
#include "render/framing.h"
#include "render/output_plot.h"
#include "render/output_video.h"
#include "render/outputs.h"

namespace {

constexpr int64_t kMaxRatioTerm = 1000000000;  // N and D of N/D; ffmpeg keeps them in 32 bits
constexpr int kMaxDecimals = 6;                // digits after the point of a rate like 29.97
constexpr int kUsageColumn = 19;               // where the option descriptions start
constexpr int kUsageWidth = 80;                // columns of the --help text
constexpr size_t kControlsColumn = 17;         // where --controls' column meanings start

std::string num(int64_t n) { return std::to_string(n); }

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

// Digits, then optionally a point and more digits: 25, 2.5. The one syntax of every option's
// numbers (no sign, exponent, hex or blanks). Sets the value and the digits after the point.
bool parse_decimal(std::string_view text, double* out, std::string_view* fraction = nullptr) {
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view part =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    int64_t ignored = 0;
    if (whole.empty() || whole.size() > 15 || !parse_count(whole, &ignored)) return false;
    if (point != std::string_view::npos && (part.empty() || !parse_count(part, &ignored)))
        return false;
    *out = std::strtod(std::string(text).c_str(), nullptr);  // exact digits: strtod rounds once
    if (fraction) *fraction = part;
    return std::isfinite(*out);
}

// "60", "29.97" or "30000/1001", above 0 and at most `limit` a second.
bool parse_rate(const std::string& text, int64_t limit, FrameRate* rate) {
    FrameRate r;
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        r.ratio = true;
        if (!parse_count(std::string_view(text).substr(0, slash), &r.num) ||
            !parse_count(std::string_view(text).substr(slash + 1), &r.den) || r.den > kMaxRatioTerm)
            return false;
    } else {
        std::string_view part;
        if (!parse_decimal(text, &r.value, &part) || part.size() > kMaxDecimals) return false;
        std::string digits = text;
        digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
        if (!parse_count(digits, &r.num)) return false;
        r.den = 1;
        for (size_t i = 0; i < part.size(); ++i) r.den *= 10;
    }
    if (r.num < 1 || r.den < 1 || r.num > limit * r.den) return false;
    const int64_t common = std::gcd(r.num, r.den);
    r.num /= common;
    r.den /= common;
    *rate = r;
    return true;
}

// The lower-case extension of `path`'s last component, dot included; "" when there is none.
std::string extension_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

using Apply = std::string (*)(const std::string& value, RenderOptions* options);

// One command-line option: its names, whether and what value it takes, its --help text and
// what it does to the options.
struct OptionEntry {
    const char* name;
    const char* short_name;  // or nullptr
    const char* value;       // the value's name in --help; nullptr for an option without one
    std::string help;        // one paragraph; "\n" starts a line of its own
    Apply apply;
};

std::string set_path(const char* option, const std::string& value, std::string* path) {
    if (value.empty()) return std::string(option) + " needs a file name";
    *path = value;
    return "";
}

std::string controls_help() {
    std::string pulses;
    for (const int32_t p : kPulseLevels) pulses += (pulses.empty() ? "" : ", ") + num(p);
    const std::pair<const char*, std::string> columns[] = {
        {"pass", "pass number j, from 0"},
        {"elapsed_ms", "the pass's time, with three decimals"},
        {"flash", "globe brightness, 0.." + num(kMaxFlash)},
        {"pulse", "star-field darkening, " + pulses},
        {"invert", "1 when the second channel routing is used"},
        {"noise_range",
         "modulus of every noise draw, " + num(kMinNoiseRange) + ".." + num(kMaxNoiseRange)},
        {"noise_offset", "offset of the first noise ring read, 0.." + num(kMaxNoiseOffset)},
        {"ring_length",
         "entries in the pass's noise ring, " + num(kShortRing) + " or " + num(kLongRing)},
        {"star", "star-field picture showing, 0.." + num(kStarFrameCount - 1)},
        {"globe", "globe picture showing, 0.." + num(kGlobeFrameCount - 1)}};
    std::string text = "write every analysed pass's control values as CSV, one row per pass:";
    for (const auto& [name, meaning] : columns) {
        std::string line = std::string("\n  ") + name;
        line.resize(kControlsColumn, ' ');
        text += line + meaning;
    }
    return text;
}

// The option table and the help text are laid out by hand: each help reads as one paragraph
// of text and numbers.
// clang-format off
const std::vector<OptionEntry>& option_table() {
    static const std::vector<OptionEntry> table = {
        {"--wav", nullptr, "FILE",
         "the music to analyse and, for --video, to mux in: any audio file ffmpeg reads. A WAV "
         "in the demo's layout (" + layout_in_words() + ") is used as it is; anything else is "
         "converted with ffmpeg first. Default: " STARGLOBE_SOUNDTRACK_NAME " here, else the "
         "installed soundtrack",
         [](const std::string& v, RenderOptions* o) { return set_path("--wav", v, &o->wav_path); }},
        {"--fps", nullptr, "RATE",
         "output frames per second, above 0 and up to " + num(kMaxFps) + ": a whole number, a "
         "decimal (29.97) or a ratio (30000/1001) (default: 60)",
         [](const std::string& v, RenderOptions* o) -> std::string {
             if (parse_rate(v, kMaxFps, &o->fps)) return "";
             return "--fps wants a rate above 0 and up to " + num(kMaxFps) +
                    " a second (60, 29.97, 30000/1001), not " + quoted(v);
         }},
        {"--loop-fps", nullptr, "RATE",
         "analysed passes per second of demo time, up to " + grouped(kMaxLoopFps) +
         ", in the same forms (default: " + grouped(kLiveLoopFps) + ", the live demo's look; "
         "the same as --fps gives one pass per output frame)",
         [](const std::string& v, RenderOptions* o) -> std::string {
             if (parse_rate(v, kMaxLoopFps, &o->loop_fps)) return "";
             return "--loop-fps wants a rate above 0 and up to " + grouped(kMaxLoopFps) +
                    " a second, not " + quoted(v);
         }},
        {"--start", nullptr, "S",
         "render from S seconds into the music: the first output frame is the first at or "
         "after S, exactly as in a whole render (the passes before it run unseen)",
         [](const std::string& v, RenderOptions* o) -> std::string {
             if (parse_decimal(v, &o->span.start_s) &&
                 o->span.start_s * kMsPerSecond < kMaxTimelineMs)
                 return "";
             return "--start wants a number of seconds below " +
                    num(int64_t(kMaxTimelineMs / kMsPerSecond)) + " (5, 62.5), not " + quoted(v);
         }},
        {"--frames", nullptr, "COUNT",
         "render COUNT output frames and every pass before the time of the next; no end card "
         "(past the end of the music the last sample is held)",
         [](const std::string& v, RenderOptions* o) -> std::string {
             if (parse_count(v, &o->span.frames)) return "";
             return "--frames wants a whole number of frames, 0 or more, not " + quoted(v);
         }},
        {"--seconds", nullptr, "S",
         "render every frame and pass that starts within S seconds (from --start); no end card",
         [](const std::string& v, RenderOptions* o) -> std::string {
             if (parse_decimal(v, &o->span.seconds) &&
                 o->span.seconds * kMsPerSecond <= kMaxTimelineMs)
                 return "";
             return "--seconds wants a number of seconds up to " +
                    num(int64_t(kMaxTimelineMs / kMsPerSecond)) + " (20, 2.5), not " + quoted(v);
         }},
        {"--video", nullptr, "FILE",
         "write the output frames and the end card with the music: FILE.mp4 (H.264 and AAC, "
         "index at the front, plays in a browser) or FILE.mkv (H.264 and AAC); - writes "
         "Matroska to standard output. Lasts exactly frames / RATE seconds. Needs ffmpeg "
         "(Debian package " + std::string(kFfmpegPackage) + ").",
         [](const std::string& v, RenderOptions* o) -> std::string {
             if (v.empty()) return "--video needs a file name ending in .mp4 or .mkv, or -";
             const std::string ext = extension_of(v);
             if (ext == ".webm")
                 return "--video: .webm is not offered: VP9 encodes this picture's noise "
                        "slower than real time on two cores and at a third of H.264's "
                        "fidelity; use .mp4 or .mkv";
             if (v != kStdoutName && !names_standard_output(v) && video_container(v) == nullptr)
                 return "--video wants a name ending in .mp4 or .mkv, or -, not " + quoted(v);
             o->video_path = v;
             return "";
         }},
        {"--png", nullptr, "DIR",
         "write the output frames and the end card as DIR/frame00000.png, DIR/frame00001.png, "
         "... (RGB, 8 bits a channel). DIR must not exist or be empty.",
         [](const std::string& v, RenderOptions* o) -> std::string {
             if (v.empty() || v == kStdoutName) return "--png needs a folder name";
             o->png_dir = v;
             return "";
         }},
        {"--raw", nullptr, "FILE",
         "write the output frames and the end card as raw pictures, back to back: " +
         num(kImageWidth) + " x " + num(kImageHeight) + " pixels of 3 bytes blue, green, red, "
         "rows top to bottom, " + grouped(int64_t{kImageBytes}) + " bytes a picture, never "
         "scaled",
         [](const std::string& v, RenderOptions* o) { return set_path("--raw", v, &o->raw_path); }},
        {"--flashes", nullptr, "FILE",
         "check the output frames for flashes, by WCAG 2.2's general and red flash "
         "definitions (starglobe-render(1) gives the details): CSV, one row per second of "
         "output (second, general flashes, red flashes, the top-left pixel of the window where "
         "they were worst, mean relative luminance), and a summary on standard error. More than " +
         num(kMaxFlashesPerSecond) + " in any second can trigger seizures.",
         [](const std::string& v, RenderOptions* o) {
             return set_path("--flashes", v, &o->flashes_path);
         }},
        {"--controls", nullptr, "FILE", controls_help(),
         [](const std::string& v, RenderOptions* o) {
             return set_path("--controls", v, &o->controls_path);
         }},
        {"--plot", nullptr, "FILE",
         "draw loudness, flash, pulse, noise_range and invert over the music's time as "
         "FILE.png or FILE.svg. Needs gnuplot (Debian package " + std::string(kGnuplotPackage) +
         ").",
         [](const std::string& v, RenderOptions* o) -> std::string {
             const std::string ext = extension_of(v);
             if (ext != ".png" && ext != ".svg")
                 return "--plot wants a name ending in .png or .svg, not " + quoted(v);
             o->plot_path = v;
             return "";
         }},
        {"--scale", nullptr, "N",
         "--video and --png: repeat every pixel N x N times, 1 to " + num(kMaxScale),
         [](const std::string& v, RenderOptions* o) -> std::string {
             int64_t n = 0;
             if (parse_count(v, &n) && n >= 1 && n <= kMaxScale) {
                 o->scale = static_cast<int32_t>(n);
                 return "";
             }
             return "--scale wants a whole number from 1 to " + num(kMaxScale) + ", not " +
                    quoted(v);
         }},
        {"--size", nullptr, "WxH",
         "--video and --png: frames of W x H pixels (from " + num(kImageWidth) + "x" +
         num(kImageHeight) + " to " + num(kMaxSide) + "x" + num(kMaxSide) + "; for --video up "
         "to " + num(kMaxVideoSide) + "x" + num(kMaxVideoSide) + ", even), the picture at the "
         "largest whole scale that fits, centred on black (1920x1080 holds it 3 times as "
         "large, 1200 x 900)",
         [](const std::string& v, RenderOptions* o) -> std::string {
             const size_t x = v.find('x');
             int64_t w = 0, h = 0;
             if (x != std::string::npos && parse_count(std::string_view(v).substr(0, x), &w) &&
                 parse_count(std::string_view(v).substr(x + 1), &h) && w >= kImageWidth &&
                 h >= kImageHeight && w <= kMaxSide && h <= kMaxSide) {
                 o->size_width = static_cast<int32_t>(w);
                 o->size_height = static_cast<int32_t>(h);
                 return "";
             }
             return "--size wants WIDTHxHEIGHT from " + num(kImageWidth) + "x" +
                    num(kImageHeight) + " to " + num(kMaxSide) + "x" + num(kMaxSide) + ", not " +
                    quoted(v);
         }},
        {"--crf", nullptr, "N",
         "--video: H.264 constant rate factor, 0 (lossless) to " + num(kMaxCrf) + "; lower is "
         "better and larger (default: " + num(kDefaultCrf) + ", or " + num(kLargeFrameCrf) +
         " for frames of " + grouped(kLargeFramePixels) + " pixels or more)",
         [](const std::string& v, RenderOptions* o) -> std::string {
             int64_t n = 0;
             if (parse_count(v, &n) && n <= kMaxCrf) {
                 o->crf = static_cast<int32_t>(n);
                 return "";
             }
             return "--crf wants a whole number from 0 to " + num(kMaxCrf) + ", not " +
                    quoted(v);
         }},
        {"--preset", nullptr, "NAME",
         "--video: x264's speed preset, " + x264_presets_text() + " (default: " +
         kDefaultPreset + ", or " + kLargeFramePreset + " for frames of " +
         grouped(kLargeFramePixels) + " pixels or more, so that they render about as fast as "
         "they play on two cores)",
         [](const std::string& v, RenderOptions* o) -> std::string {
             if (!is_x264_preset(v))
                 return "--preset wants one of x264's presets (" + x264_presets_text() +
                        "), not " + quoted(v);
             o->preset = v;
             return "";
         }},
        {"--gentle", nullptr, nullptr,
         "the gentle picture, as starglobe --gentle shows it: each pixel takes the latest "
         "pass once every " + num(int64_t(kGentleRenewMs)) + " ms, each at its own moment, and "
         "each part of it held still rather than flash more than three times a second (for "
         "every picture output)",
         [](const std::string&, RenderOptions* o) -> std::string {
             o->gentle = true;
             return "";
         }},
        {"--quiet", "-q", nullptr,
         "no progress bar (drawn on standard error only when that is a terminal) and no notes",
         [](const std::string&, RenderOptions* o) -> std::string {
             o->quiet = true;
             return "";
         }},
        {"--version", nullptr, nullptr, "print the version and exit",
         [](const std::string&, RenderOptions* o) -> std::string {
             o->version = true;
             return "";
         }},
        {"--help", "-h", nullptr, "show this text and exit",
         [](const std::string&, RenderOptions* o) -> std::string {
             o->help = true;
             return "";
         }},
    };
    return table;
}
// clang-format on

const OptionEntry* find_option(std::string_view name) {
    for (const OptionEntry& entry : option_table())
        if (name == entry.name || (entry.short_name && name == entry.short_name)) return &entry;
    return nullptr;
}

// What the options say together, once each is known to be well formed.
std::string check_together(const RenderOptions& o) {
    const Span& s = o.span;
    if (s.frames >= 0 && s.seconds >= 0.0)
        return "--frames and --seconds both give the length; use one";
    const bool framed = !o.video_path.empty() || !o.png_dir.empty();
    if (!needs_pixels(o) && o.controls_path.empty() && o.plot_path.empty())
        return "nothing to write: give --video, --png, --raw, --flashes, --controls or --plot";
    if (s.frames == 0 || s.seconds == 0.0) return kEmptySpanRefusal;
    if (o.scale > 0 && o.size_width > 0) return "--scale and --size both set the size; use one";
    if ((o.scale > 0 || o.size_width > 0) && !framed)
        return "--scale and --size apply to --video and --png only (--raw stays " +
               num(kImageWidth) + " x " + num(kImageHeight) + ")";
    const Framing f = framing_for(o.scale, o.size_width, o.size_height);
    if (!o.video_path.empty()) {
        // yuv420p keeps one colour sample per 2 x 2 pixels, so x264 takes even sides only.
        if (f.width % 2 != 0 || f.height % 2 != 0)
            return "--size for --video wants an even width and height";
        if (f.width > kMaxVideoSide || f.height > kMaxVideoSide)
            return "--video takes frames of at most " + num(kMaxVideoSide) + "x" +
                   num(kMaxVideoSide) + " (ffmpeg cannot take " + num(f.width) + "x" +
                   num(f.height) + ")";
    }
    if (o.gentle && !needs_pixels(o))
        return "--gentle applies to the pictures only (--video, --png, --raw, --flashes)";
    if ((o.crf >= 0 || !o.preset.empty()) && o.video_path.empty())
        return "--crf and --preset apply to --video only";
    // The last frame must stay within the timeline: past it the tap would wrap.
    if (s.frames >= 0) {
        const int64_t first = frames_before(s.start_s * kMsPerSecond, o.fps);
        const double last_ms = frame_time_ms(first + s.frames, o.fps);
        if (s.frames > INT64_MAX / 2 || !(last_ms <= kMaxTimelineMs))
            return "--frames " + num(s.frames) + " at this rate runs past the longest timeline, " +
                   num(int64_t(kMaxTimelineMs / kMsPerSecond)) + " seconds";
    }
    if (s.seconds >= 0.0 && (s.start_s + s.seconds) * kMsPerSecond > kMaxTimelineMs)
        return "--start and --seconds together run past the longest timeline, " +
               num(int64_t(kMaxTimelineMs / kMsPerSecond)) + " seconds";
    return "";
}

// `text` in lines of at most `width` columns, broken at blanks, every line after the first
// indented by `indent` blanks. A "\n" in it starts a new line, and a line that fits is kept as
// it is (the --controls columns line up with blanks).
std::string wrapped(const std::string& text, size_t width, size_t indent) {
    std::string out;
    const auto add = [&](const std::string& line) {
        out += (out.empty() ? "" : "\n" + std::string(indent, ' ')) + line;
    };
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string paragraph = text.substr(start, end - start);
        if (paragraph.size() <= width) {
            add(paragraph);
        } else {
            std::string line;
            std::istringstream words(paragraph);
            for (std::string word; words >> word;) {
                if (!line.empty() && line.size() + 1 + word.size() > width) add(line), line.clear();
                line += (line.empty() ? "" : " ") + word;
            }
            add(line);
        }
        if (end == text.size()) return out;
        start = end + 1;
    }
}

}  // namespace

std::string parse_render_options(int argc, const char* const* argv, RenderOptions* options) {
    const std::vector<OptionEntry>& table = option_table();
    std::vector<bool> given(table.size(), false);
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        // Both "--name value" and "--name=value".
        const size_t equals = arg.substr(0, 2) == "--" ? arg.find('=') : std::string_view::npos;
        const std::string_view name = arg.substr(0, equals);
        const OptionEntry* entry = find_option(name);
        if (!entry)
            return (arg.substr(0, 1) == "-" ? "unknown option " : "unexpected argument ") +
                   quoted(name);
        std::string value;
        if (!entry->value) {
            if (equals != std::string_view::npos) return std::string(name) + " takes no value";
        } else if (equals != std::string_view::npos) {
            value = std::string(arg.substr(equals + 1));
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return std::string(name) + " needs a value";
        }
        const auto index = static_cast<size_t>(entry - table.data());
        if (given[index]) return std::string(entry->name) + " is given twice";
        given[index] = true;
        const std::string error = entry->apply(value, options);
        if (!error.empty()) return error;
        if (options->help || options->version) return "";
    }
    return check_together(*options);
}

// clang-format off
std::string render_usage() {
    const std::string seconds_limit = grouped(int64_t(kMaxTimelineMs / kMsPerSecond));
    std::string text =
        "Usage: starglobe-render [--wav FILE] [--fps RATE] [--loop-fps RATE] [--start S]\n"
        "                        [--frames COUNT | --seconds S] [--quiet]\n"
        "                        [--video FILE] [--crf N] [--preset NAME] [--png DIR]\n"
        "                        [--scale N | --size WxH] [--raw FILE] [--gentle]\n"
        "                        [--flashes FILE] [--controls FILE] [--plot FILE]\n"
        "                        [--version] [--help]\n"
        "Runs the demo's timeline without a window or sound device and writes what it shows.\n"
        "Without --frames or --seconds that is the whole production: the frames while the\n"
        "music plays, then the end card for ten seconds.\n"
        "\n";
    text += wrapped(
        "Timeline. The music is analysed in passes, as the live demo analyses it once per "
        "loop pass: pass j at j * 1000 / M ms for --loop-fps M (" + grouped(kLiveLoopFps) +
        " by default, which is how the live demo looks), each at the sample playing then, "
        "with filter and envelope state carried from pass to pass. Every pass is composed, "
        "shown or not, so the noise runs exactly as live. Output frame k is at k * 1000 / "
        "RATE ms for --fps RATE and shows the latest pass at or before its time. The "
        "pictures (--video, --png, --raw) and the flash check (--flashes) are the output "
        "frames; the analysis (--controls, --plot) covers every pass. The timeline is at most " +
        seconds_limit + " seconds long: beyond that the demo's tap of the music would wrap to its "
        "start.",
        kUsageWidth, 0) + "\n\n";
    for (const OptionEntry& entry : option_table()) {
        std::string left = std::string("  ") + entry.name;
        if (entry.short_name) left += std::string(", ") + entry.short_name;
        if (entry.value) left += std::string(" ") + entry.value;
        left.resize(std::max<size_t>(left.size() + 1, kUsageColumn), ' ');
        text += left + wrapped(entry.help, kUsageWidth - kUsageColumn, kUsageColumn) + "\n";
    }
    text += "\n" + wrapped(
        "At least one of --video, --png, --raw, --flashes, --controls and --plot is needed. "
        "Options also take the form --name=value; each may be given once. FILE may be - "
        "(standard output) for --controls, --raw, --flashes and --video. Numbers are decimal "
        "digits with an optional "
        "fraction (25, 2.5); rates also a ratio (30000/1001).", kUsageWidth, 0) + "\n\n";
    text += wrapped(
        "Outputs appear whole or not at all: a file is written as FILE.partial-XXXXXX beside "
        "it and renamed to FILE when the run has succeeded; a new DIR is filled as "
        "DIR.partial-XXXXXX and renamed at the end, an existing empty one is filled in place. "
        "A failure or a stop signal removes what the run wrote and leaves an existing FILE as "
        "it was. Paths that are not regular files (/dev/null, a named pipe) are written "
        "directly. No output may name the music or another output.", kUsageWidth, 0) + "\n\n";
    text += wrapped(
        "Exit status: 0 when done, 1 when the music cannot be loaded or an output cannot be "
        "written, 2 for a usage error, 128 + the signal's number when stopped by a signal "
        "(130 for Ctrl-C, 143 for SIGTERM, 141 when a reader of standard output goes away).",
        kUsageWidth, 0) + "\n";
    return text;
}
// clang-format on

bool needs_pixels(const RenderOptions& options) {
    return !options.video_path.empty() || !options.png_dir.empty() || !options.raw_path.empty() ||
           !options.flashes_path.empty();
}
