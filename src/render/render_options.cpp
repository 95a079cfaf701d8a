#include "render/render_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <numeric>
#include <string_view>
#include <utility>

#include "render/ffmpeg_pipe.h"
#include "common/picture.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr const char* kStdoutName = "-";
// Longest --seconds accepted, about 116 days: keeps every frame count far inside 64 bits and
// every frame time exact, whatever the frame rate.
constexpr double kMaxSeconds = 1e7;
// Above these the run would only be slow for no use: no screen shows more than 1000 frames a
// second, and 100,000 passes a second is already far beyond the live demo's loop rate.
constexpr int64_t kMaxFps = 1000;
constexpr int64_t kMaxLoopFps = 100000;
constexpr int64_t kMaxRatioTerm = 1000000000;  // N and D of N/D; ffmpeg keeps them in 32 bits
constexpr int kMaxDecimals = 6;                // digits after the point of a rate like 29.97
constexpr int32_t kMaxScale = 8;
constexpr int32_t kMaxSide = 16384;            // pixels a side of --size
constexpr int kUsageColumn = 19;               // where the option descriptions start

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
        const size_t point = text.find('.');
        const std::string whole = text.substr(0, point);
        const std::string part = point == std::string::npos ? "" : text.substr(point + 1);
        if (point != std::string::npos && part.empty()) return false;
        if (part.size() > kMaxDecimals || !parse_count(whole + part, &r.num) ||
            !parse_number(text, &r.value))
            return false;
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

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// The lower-case extension of `path`'s last component, dot included; "" when there is none.
std::string extension_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) {
        return static_cast<char>(std::tolower(c));
    });
    return ext;
}

using Apply = std::string (*)(const std::string& value, RenderOptions* options);

// One command-line option: its names, whether and what value it takes, its --help lines and
// what it does to the options.
struct OptionEntry {
    const char* name;
    const char* short_name;  // or nullptr
    const char* value;       // the value's name in --help; nullptr for an option without one
    const char* help;        // lines separated by '\n'
    Apply apply;
};

std::string set_path(const char* option, const std::string& value, std::string* path) {
    if (value.empty()) return std::string(option) + " needs a file name";
    *path = value;
    return "";
}

const OptionEntry kOptions[] = {
    {"--wav", nullptr, "PATH",
     "soundtrack to analyse and, for --video, to mux in: a 16-bit\n"
     "stereo 44,100 Hz PCM WAV with the plain 44-byte header (default:\n"
     "tessaloon.wav here, else the installed soundtrack)",
     [](const std::string& v, RenderOptions* o) { return set_path("--wav", v, &o->wav_path); }},
    {"--fps", nullptr, "RATE",
     "output frames per second, up to 1000: a whole number, a decimal\n"
     "(29.97) or a ratio (30000/1001) (default: 60)",
     [](const std::string& v, RenderOptions* o) -> std::string {
         if (parse_rate(v, kMaxFps, &o->fps)) return "";
         return "--fps wants a rate above 0 and up to 1000 a second (60, 29.97, 30000/1001), "
                "not " + quoted(v);
     }},
    {"--loop-fps", nullptr, "RATE",
     "analysed passes per second of demo time, up to 100,000, in the\n"
     "same forms; 1000 gives the live look (default: one pass per frame)",
     [](const std::string& v, RenderOptions* o) -> std::string {
         o->loop_given = true;
         if (parse_rate(v, kMaxLoopFps, &o->loop_fps)) return "";
         return "--loop-fps wants a rate above 0 and up to 100,000 a second, not " + quoted(v);
     }},
    {"--frames", nullptr, "COUNT",
     "render output frames 0 to COUNT-1 and every pass before the time\n"
     "of frame COUNT; no end card (past the end of the track the last\n"
     "sample is held)",
     [](const std::string& v, RenderOptions* o) -> std::string {
         if (parse_count(v, &o->frames)) return "";
         return "--frames wants a whole number of frames, 0 or more, not " + quoted(v);
     }},
    {"--seconds", nullptr, "S",
     "render every frame and pass that starts before S seconds; no end\n"
     "card",
     [](const std::string& v, RenderOptions* o) -> std::string {
         if (parse_number(v, &o->seconds) && o->seconds <= kMaxSeconds) return "";
         return "--seconds wants a number of seconds from 0 to 1e7, not " + quoted(v);
     }},
    {"--video", nullptr, "FILE",
     "write the output frames and the end card with the soundtrack:\n"
     "FILE.mp4 (H.264 and AAC, index at the front, plays in a browser)\n"
     "or FILE.mkv (H.264 and AAC); lasts exactly frames / RATE seconds.\n"
     "Needs ffmpeg (Debian package ffmpeg).",
     [](const std::string& v, RenderOptions* o) -> std::string {
         if (v.empty() || v == kStdoutName)
             return "--video needs a file name ending in .mp4 or .mkv (not standard output)";
         const std::string ext = extension_of(v);
         if (ext == ".webm")
             return "--video: .webm is not offered: VP9 encodes this picture's noise slower "
                    "than real time here and at a third of H.264's fidelity; use .mp4 or .mkv";
         if (video_container(v) == nullptr)
             return "--video wants a name ending in .mp4 or .mkv, not " + quoted(v);
         o->video_path = v;
         return "";
     }},
    {"--png", nullptr, "DIR",
     "write the output frames and the end card as DIR/frame00000.png,\n"
     "DIR/frame00001.png, ... (RGB, 8 bits a channel). DIR must not\n"
     "exist or be empty.",
     [](const std::string& v, RenderOptions* o) -> std::string {
         if (v.empty() || v == kStdoutName) return "--png needs a folder name";
         o->png_dir = v;
         return "";
     }},
    {"--controls", nullptr, "FILE",
     "write every pass's control values as CSV, one row per pass:\n"
     "  frame         pass number j, from 0\n"
     "  elapsed_ms    the pass's time, with three decimals\n"
     "  flash         globe brightness, 0..255\n"
     "  pulse         star-field darkening, 0, 100, 200 or 255\n"
     "  invert        1 when the second channel routing is used\n"
     "  noise_range   modulus of every noise draw, 1..1019\n"
     "  noise_offset  offset of the first noise ring read, 0..510\n"
     "  ring_length   entries in the pass's noise ring, 20 or 40\n"
     "  star          star-field picture showing, 0..23\n"
     "  globe         globe picture showing, 0..19",
     [](const std::string& v, RenderOptions* o) {
         return set_path("--controls", v, &o->controls_path);
     }},
    {"--raw", nullptr, "FILE",
     "write every pass's picture, composed exactly as the demo composes\n"
     "it (same noise sequence from the start), back to back: 400 x 300\n"
     "pixels of 3 bytes blue, green, red, rows top to bottom, 360,000\n"
     "bytes a picture; no end card, never scaled",
     [](const std::string& v, RenderOptions* o) { return set_path("--raw", v, &o->raw_path); }},
    {"--plot", nullptr, "FILE",
     "draw loudness, flash, pulse, noise_range and invert over the\n"
     "soundtrack's time as FILE.png or FILE.svg. Needs gnuplot (Debian\n"
     "package gnuplot-nox).",
     [](const std::string& v, RenderOptions* o) -> std::string {
         const std::string ext = extension_of(v);
         if (ext != ".png" && ext != ".svg")
             return "--plot wants a name ending in .png or .svg, not " + quoted(v);
         o->plot_path = v;
         return "";
     }},
    {"--scale", nullptr, "N",
     "--video and --png: repeat every pixel N x N times, 1 to 8",
     [](const std::string& v, RenderOptions* o) -> std::string {
         int64_t n = 0;
         if (parse_count(v, &n) && n >= 1 && n <= kMaxScale) {
             o->scale = static_cast<int32_t>(n);
             return "";
         }
         return "--scale wants a whole number from 1 to 8, not " + quoted(v);
     }},
    {"--size", nullptr, "WxH",
     "--video and --png: frames of W x H pixels, the picture at the\n"
     "largest whole scale that fits, centred on black (1920x1080 holds\n"
     "it 3 times as large, 1200 x 900)",
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
         return "--size wants WIDTHxHEIGHT of at least 400x300 and at most 16384x16384, not " +
                quoted(v);
     }},
    {"--crf", nullptr, "N",
     "--video: H.264 constant rate factor, 0 (lossless) to 51; lower is\n"
     "better and larger (default: 22)",
     [](const std::string& v, RenderOptions* o) -> std::string {
         int64_t n = 0;
         if (parse_count(v, &n) && n <= kMaxCrf) {
             o->crf = static_cast<int32_t>(n);
             return "";
         }
         return "--crf wants a whole number from 0 to 51, not " + quoted(v);
     }},
    {"--preset", nullptr, "NAME",
     "--video: x264's speed preset, ultrafast, superfast, veryfast,\n"
     "faster, fast, medium, slow, slower or veryslow (default: superfast)",
     [](const std::string& v, RenderOptions* o) -> std::string {
         if (!is_x264_preset(v))
             return "--preset wants one of x264's presets (ultrafast ... veryslow), not " +
                    quoted(v);
         o->preset = v;
         return "";
     }},
    {"--quiet", "-q", nullptr, "no progress bar (drawn on standard error only when that is a\n"
     "terminal) and no notes",
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

const OptionEntry* find_option(std::string_view name) {
    for (const OptionEntry& entry : kOptions)
        if (name == entry.name || (entry.short_name && name == entry.short_name)) return &entry;
    return nullptr;
}

// Refuses two outputs that would land on the same name: one would silently replace the other.
std::string clashing_outputs(const RenderOptions& o) {
    if (o.controls_path == kStdoutName && o.raw_path == kStdoutName)
        return "--controls and --raw cannot both write to standard output";
    const std::pair<const char*, const std::string*> named[] = {
        {"--controls", &o.controls_path}, {"--raw", &o.raw_path}, {"--video", &o.video_path},
        {"--png", &o.png_dir},            {"--plot", &o.plot_path}};
    for (size_t i = 0; i < std::size(named); ++i)
        for (size_t j = i + 1; j < std::size(named); ++j) {
            const std::string& a = *named[i].second;
            if (!a.empty() && a != kStdoutName && a == *named[j].second)
                return std::string(named[i].first) + " and " + named[j].first +
                       " name the same file";
        }
    return "";
}

// What the options say together, once each is known to be well formed.
std::string check_together(const RenderOptions& o) {
    if (o.frames >= 0 && o.seconds >= 0.0)
        return "--frames and --seconds both give the length; use one";
    const bool pictures = !o.video_path.empty() || !o.png_dir.empty();
    if (!pictures && o.controls_path.empty() && o.raw_path.empty() && o.plot_path.empty())
        return "nothing to write: give --video, --png, --controls, --raw or --plot";
    if (!o.video_path.empty() && (o.frames == 0 || o.seconds == 0.0))
        return "--video needs at least one frame, and this length gives none";
    if (o.scale > 0 && o.size_width > 0) return "--scale and --size both set the size; use one";
    if ((o.scale > 0 || o.size_width > 0) && !pictures)
        return "--scale and --size apply to --video and --png only (--raw stays 400 x 300)";
    // yuv420p keeps one colour sample per 2 x 2 pixels, so x264 takes even sides only.
    if (!o.video_path.empty() && (o.size_width % 2 != 0 || o.size_height % 2 != 0))
        return "--size for --video wants an even width and height";
    if ((o.crf >= 0 || !o.preset.empty()) && o.video_path.empty())
        return "--crf and --preset apply to --video only";
    return clashing_outputs(o);
}

}  // namespace

double frame_time_ms(int64_t k, const FrameRate& rate) {
    const double frame = static_cast<double>(k);
    if (rate.ratio) return (frame * kMsPerSecond * static_cast<double>(rate.den)) /
                           static_cast<double>(rate.num);
    return frame * kMsPerSecond / rate.value;
}

double rate_per_second(const FrameRate& rate) {
    return static_cast<double>(rate.num) / static_cast<double>(rate.den);
}

const FrameRate& pass_rate(const RenderOptions& options) {
    return options.loop_given ? options.loop_fps : options.fps;
}

Framing output_framing(const RenderOptions& options) {
    Framing f;
    if (options.size_width > 0) {
        f.scale = std::min({options.size_width / kImageWidth, options.size_height / kImageHeight,
                            kMaxScale});
        f.width = options.size_width;
        f.height = options.size_height;
    } else {
        f.scale = options.scale > 0 ? options.scale : 1;
        f.width = kImageWidth * f.scale;
        f.height = kImageHeight * f.scale;
    }
    f.x = (f.width - kImageWidth * f.scale) / 2;
    f.y = (f.height - kImageHeight * f.scale) / 2;
    return f;
}

std::string parse_render_options(int argc, const char* const* argv, RenderOptions* options) {
    bool given[std::size(kOptions)] = {};
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
        bool& seen = given[entry - kOptions];
        if (seen) return std::string(entry->name) + " is given twice";
        seen = true;
        const std::string error = entry->apply(value, options);
        if (!error.empty()) return error;
        if (options->help || options->version) return "";
    }
    return check_together(*options);
}

std::string render_usage() {
    std::string text =
        "Usage: starglobe-render [--wav PATH] [--fps RATE] [--loop-fps RATE]\n"
        "                        [--frames COUNT | --seconds S] [--quiet]\n"
        "                        [--video FILE] [--crf N] [--preset NAME] [--png DIR]\n"
        "                        [--scale N | --size WxH] [--controls FILE] [--raw FILE]\n"
        "                        [--plot FILE] [--version] [--help]\n"
        "Runs the demo's timeline without a window or sound device and writes what it shows.\n"
        "Without --frames or --seconds that is the whole production: the frames while the\n"
        "music plays, then the end card for ten seconds.\n"
        "\n"
        "Timeline. Output frame k is at k * 1000 / RATE milliseconds after the music starts.\n"
        "The soundtrack is analysed in passes, in order from 0, each at the sample playing\n"
        "at its time, with filter and envelope state carried from pass to pass as in the\n"
        "demo. Without --loop-fps there is one pass per output frame, at the same time.\n"
        "With --loop-fps M, pass j is at j * 1000 / M ms, and output frame k shows the\n"
        "latest pass at or before its time (repeating it when M < RATE). Every pass is\n"
        "composed, shown or not, so the noise runs on exactly as in the live demo, which\n"
        "analyses and composes once per loop pass, far more often than 60 times a second.\n"
        "\n";
    for (const OptionEntry& entry : kOptions) {
        std::string left = std::string("  ") + entry.name;
        if (entry.short_name) left += std::string(", ") + entry.short_name;
        if (entry.value) left += std::string(" ") + entry.value;
        left.resize(std::max<size_t>(left.size() + 1, kUsageColumn), ' ');
        text += left;
        for (const char* c = entry.help; *c; ++c) {
            text += *c;
            if (*c == '\n') text += std::string(kUsageColumn, ' ');
        }
        text += '\n';
    }
    text +=
        "At least one of --video, --png, --controls, --raw and --plot is needed. Options\n"
        "also take the form --name=value; each may be given once. FILE may be - (standard\n"
        "output) for --controls and --raw.\n"
        "\n"
        "Outputs appear whole or not at all: a file is written as FILE.partial-XXXXXX beside\n"
        "it and renamed to FILE when the run has succeeded; a new DIR is filled as\n"
        "DIR.partial-XXXXXX and renamed at the end, an existing empty one is filled in place\n"
        "and emptied again on failure. A failure or a stop signal removes what was written\n"
        "and leaves an existing FILE as it was. Paths that are not regular files (/dev/null,\n"
        "a named pipe) are written directly.\n"
        "\n"
        "Exit status: 0 when done, 1 when the soundtrack cannot be loaded or an output cannot\n"
        "be written, 2 for a usage error, 128 + the signal's number when stopped by a signal\n"
        "(130 for Ctrl-C, 143 for SIGTERM, 141 when a reader of standard output goes away).\n";
    return text;
}

std::string output_name(const std::string& path) {
    return path == kStdoutName ? "standard output" : path;
}
