#include "render/options.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string_view>
#include <vector>

#include "common/build_info.h"
#include "common/picture.h"
#include "common/quoting.h"
#include "common/stop_flag.h"
#include "common/timeline.h"
#include "common/wording.h"
#include "frame/flash_measure.h"
#include "render/framing.h"
#include "render/output_video.h"
#include "render/outputs.h"

namespace {

constexpr int64_t kMaxRatioTerm = 1000000000;  // N and D of N/D; ffmpeg keeps them in 32 bits
constexpr int kMaxDecimals = 6;                // digits after the point of a rate like 29.97
constexpr size_t kUsageColumn = 19;            // where the option descriptions start

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

using Apply = Outcome (*)(const std::string& value, RenderOptions* options);

// One command-line option that is not an output (those are rows of the outputs' table): its
// names, whether and what value it takes, its line in --help and what it does to the options.
struct OptionEntry {
    const char* name;
    const char* short_name;  // or nullptr
    const char* value;       // the value's name in --help; nullptr for an option without one
    std::string help;        // one line
    Apply apply;
};

// The frames from which --video takes the large-frame defaults, as --size gives them: 1280x720.
std::string large_frame() { return num(kLargeFrameWidth) + "x" + num(kLargeFrameHeight); }

int64_t longest_seconds() { return int64_t(kMaxTimelineMs / kMsPerSecond); }

// The option table and the help lines are laid out by hand: each reads as one line of text
// and numbers.
// clang-format off
// The options of the output kinds `wanted` picks, in the table's order, joined by ", " and
// `last` before the last one: "--video, --png or --raw".
template <typename Wanted>
std::string kind_options(Wanted wanted, const char* last) {
    std::vector<const char*> names;
    for (const OutputKindRow& row : output_kinds())
        if (wanted(row)) names.push_back(row.option);
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? last : ", ") + std::string(names[i]);
    return text;
}

// The kinds shown in a frame of --scale or --size.
bool is_framed(const OutputKindRow& row) { return row.needs == OutputNeeds::framed; }

const std::vector<OptionEntry>& option_table() {
    static const std::vector<OptionEntry> table = {
        {"--wav", nullptr, "FILE",
         "the music, any audio ffmpeg reads (default: " STARGLOBE_SOUNDTRACK_NAME ")",
         [](const std::string& v, RenderOptions* o) -> Outcome {
             if (v.empty()) return failed("--wav needs a file name");
             o->wav_path = v;
             return {};
         }},
        {"--fps", nullptr, "RATE",
         "output frames a second, up to " + grouped(kMaxFps) + " (default " +
         num(FrameRate{}.num) + ")",
         [](const std::string& v, RenderOptions* o) -> Outcome {
             if (parse_rate(v, kMaxFps, &o->fps)) return {};
             return failed("--fps wants a rate above 0 and up to " + num(kMaxFps) +
                           " a second (60, 29.97, 30000/1001), not " + quoted(v));
         }},
        {"--loop-fps", nullptr, "RATE",
         "analysed passes a second, up to " + grouped(kMaxLoopFps) + " (default " +
         grouped(kLiveLoopFps) + ")",
         [](const std::string& v, RenderOptions* o) -> Outcome {
             if (parse_rate(v, kMaxLoopFps, &o->loop_fps)) return {};
             return failed("--loop-fps wants a rate above 0 and up to " + grouped(kMaxLoopFps) +
                           " a second, not " + quoted(v));
         }},
        {"--start", nullptr, "S", "from S seconds into the music",
         [](const std::string& v, RenderOptions* o) -> Outcome {
             if (parse_decimal(v, &o->span.start_s) &&
                 o->span.start_s * kMsPerSecond < kMaxTimelineMs)
                 return {};
             return failed("--start wants a number of seconds below " + num(longest_seconds()) +
                           " (5, 62.5), not " + quoted(v));
         }},
        {"--frames", nullptr, "COUNT", "only COUNT output frames, no end card",
         [](const std::string& v, RenderOptions* o) -> Outcome {
             if (parse_count(v, &o->span.frames)) return {};
             return failed("--frames wants a whole number of frames, 0 or more, not " +
                           quoted(v));
         }},
        {"--seconds", nullptr, "S",
         "only S seconds, up to " + grouped(longest_seconds()) + ", no end card",
         [](const std::string& v, RenderOptions* o) -> Outcome {
             if (parse_decimal(v, &o->span.seconds) &&
                 o->span.seconds * kMsPerSecond <= kMaxTimelineMs)
                 return {};
             return failed("--seconds wants a number of seconds up to " +
                           num(longest_seconds()) + " (20, 2.5), not " + quoted(v));
         }},
        {"--scale", nullptr, "N",
         kind_options(is_framed, ", ") + ": every pixel N x N times, 1 to " + num(kMaxScale),
         [](const std::string& v, RenderOptions* o) -> Outcome {
             int64_t n = 0;
             if (parse_count(v, &n) && n >= 1 && n <= kMaxScale) {
                 o->scale = static_cast<int32_t>(n);
                 return {};
             }
             return failed("--scale wants a whole number from 1 to " + num(kMaxScale) +
                           ", not " + quoted(v));
         }},
        {"--size", nullptr, "WxH",
         kind_options(is_framed, ", ") + ": frames of " + num(kImageWidth) + "x" + num(kImageHeight) + " to " +
         num(kMaxSide) + "x" + num(kMaxSide),
         [](const std::string& v, RenderOptions* o) -> Outcome {
             const size_t x = v.find('x');
             int64_t w = 0, h = 0;
             if (x != std::string::npos && parse_count(std::string_view(v).substr(0, x), &w) &&
                 parse_count(std::string_view(v).substr(x + 1), &h) && w >= kImageWidth &&
                 h >= kImageHeight && w <= kMaxSide && h <= kMaxSide) {
                 o->size_width = static_cast<int32_t>(w);
                 o->size_height = static_cast<int32_t>(h);
                 return {};
             }
             return failed("--size wants WIDTHxHEIGHT from " + num(kImageWidth) + "x" +
                           num(kImageHeight) + " to " + num(kMaxSide) + "x" + num(kMaxSide) +
                           ", not " + quoted(v));
         }},
        {"--crf", nullptr, "N",
         "--video: x264 CRF, 0 to " + num(kMaxCrf) + ", default " + num(kDefaultCrf) + " (" +
         num(kLargeFrameCrf) + " from " + large_frame() + ")",
         [](const std::string& v, RenderOptions* o) -> Outcome {
             int64_t n = 0;
             if (parse_count(v, &n) && n <= kMaxCrf) {
                 o->crf = static_cast<int32_t>(n);
                 return {};
             }
             return failed("--crf wants a whole number from 0 to " + num(kMaxCrf) + ", not " +
                           quoted(v));
         }},
        {"--preset", nullptr, "NAME",
         std::string("--video: x264 preset, ") + kDefaultPreset + " (" + kLargeFramePreset +
         " from " + large_frame() + ")",
         [](const std::string& v, RenderOptions* o) -> Outcome {
             if (!is_x264_preset(v))
                 return failed("--preset wants one of x264's presets (" + x264_presets_text() +
                               "), not " + quoted(v));
             o->preset = v;
             return {};
         }},
        {"--gentle", nullptr, nullptr,
         "pictures that flash at most " + in_words(kMaxFlashesPerSecond) + " times a second",
         [](const std::string&, RenderOptions* o) -> Outcome {
             o->gentle = true;
             return {};
         }},
        {"--quiet", "-q", nullptr, "no progress bar and no notes",
         [](const std::string&, RenderOptions* o) -> Outcome {
             o->quiet = true;
             return {};
         }},
        {"--version", nullptr, nullptr, "show the version and exit",
         [](const std::string&, RenderOptions* o) -> Outcome {
             o->version = true;
             return {};
         }},
        {"--help", "-h", nullptr, "show this text and exit",
         [](const std::string&, RenderOptions* o) -> Outcome {
             o->help = true;
             return {};
         }},
    };
    return table;
}
// clang-format on

bool any_output(const RenderOptions& o) {
    for (const OutputKindRow& row : output_kinds())
        if (!o.output(row.kind).empty()) return true;
    return false;
}

// What the options say together, once each is known to be well formed.
Outcome check_together(const RenderOptions& o) {
    const Span& s = o.span;
    if (s.frames >= 0 && s.seconds >= 0.0)
        return failed("--frames and --seconds both give the length; use one");
    const auto pictures = [](const OutputKindRow& row) { return row.needs != OutputNeeds::passes; };
    if (!any_output(o))
        return failed("nothing to write: give " +
                      kind_options([](const OutputKindRow&) { return true; }, " or "));
    if (s.frames == 0 || s.seconds == 0.0) return failed(kEmptySpanRefusal);
    if (o.scale > 0 && o.size_width > 0)
        return failed("--scale and --size both set the size; use one");
    bool any_framed = false;
    for (const OutputKindRow& row : output_kinds())
        any_framed = any_framed || (is_framed(row) && !o.output(row.kind).empty());
    if ((o.scale > 0 || o.size_width > 0) && !any_framed)
        return failed("--scale and --size apply to " + kind_options(is_framed, " and ") +
                      " only (" + output_kind(OutputKind::raw).option + " stays " +
                      num(kImageWidth) + " x " + num(kImageHeight) + ")");
    const Framing f = framing_for(o.scale, o.size_width, o.size_height);
    for (const OutputKindRow& row : output_kinds())
        if (row.check && !o.output(row.kind).empty())
            if (Outcome checked = row.check(o, f); !checked) return checked;
    if (o.gentle && !needs_pixels(o))
        return failed("--gentle applies to the pictures only (" + kind_options(pictures, ", ") +
                      ")");
    if ((o.crf >= 0 || !o.preset.empty()) && o.output(OutputKind::video).empty())
        return failed("--crf and --preset apply to --video only");
    // The last frame must stay within the timeline: past it the tap would wrap.
    if (s.frames >= 0) {
        const int64_t first = frames_before(s.start_s * kMsPerSecond, o.fps);
        const double last_ms = frame_time_ms(first + s.frames, o.fps);
        if (s.frames > INT64_MAX / 2 || !(last_ms <= kMaxTimelineMs))
            return failed("--frames " + num(s.frames) +
                          " at this rate runs past the longest timeline, " +
                          num(longest_seconds()) + " seconds");
    }
    if (s.seconds >= 0.0 && (s.start_s + s.seconds) * kMsPerSecond > kMaxTimelineMs)
        return failed("--start and --seconds together run past the longest timeline, " +
                      num(longest_seconds()) + " seconds");
    return {};
}

// One line of the synopsis: the option, its short name and value, then `help`.
std::string usage_line(const char* name, const char* short_name, const char* value,
                       const std::string& help) {
    std::string left = std::string("  ") + name;
    if (short_name) left += std::string(", ") + short_name;
    if (value) left += std::string(" ") + value;
    left.resize(std::max(left.size() + 1, kUsageColumn), ' ');
    return left + wrapped(help, kTextColumns - kUsageColumn, kUsageColumn) + "\n";
}

}  // namespace

Outcome parse_render_options(int argc, const char* const* argv, RenderOptions* options) {
    const std::vector<OptionEntry>& table = option_table();
    const std::span<const OutputKindRow> kinds = output_kinds();
    std::vector<bool> given(table.size() + kinds.size(), false);
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        // Both "--name value" and "--name=value".
        const size_t equals = arg.substr(0, 2) == "--" ? arg.find('=') : std::string_view::npos;
        const std::string_view name = arg.substr(0, equals);
        const OptionEntry* entry = nullptr;
        const OutputKindRow* kind = nullptr;
        for (const OptionEntry& e : table)
            if (name == e.name || (e.short_name && name == e.short_name)) entry = &e;
        for (const OutputKindRow& row : kinds)
            if (name == row.option) kind = &row;
        if (!entry && !kind)
            return failed((arg.substr(0, 1) == "-" ? "unknown option " : "unexpected argument ") +
                          quoted(name));
        std::string value;
        if (entry && !entry->value) {
            if (equals != std::string_view::npos)
                return failed(std::string(name) + " takes no value");
        } else if (equals != std::string_view::npos) {
            value = std::string(arg.substr(equals + 1));
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return failed(std::string(name) + " needs a value");
        }
        const size_t index = entry ? static_cast<size_t>(entry - table.data())
                                   : table.size() + static_cast<size_t>(kind - kinds.data());
        if (given[index])
            return failed(std::string(entry ? entry->name : kind->option) + " is given twice");
        given[index] = true;
        if (kind) {
            if (Outcome taken = kind->take(kind->option, value); !taken) return taken;
            options->outputs[size_t(kind->kind)] = value;
            continue;
        }
        if (Outcome applied = entry->apply(value, options); !applied) return applied;
        if (options->help || options->version) return {};
    }
    return check_together(*options);
}

std::string render_usage() {
    std::string text =
        "Usage: starglobe-render [OPTION]... OUTPUT...\n"
        "       starglobe-render --help | --version\n"
        "Renders the demo's timeline without a window or sound device.\n"
        "Outputs (at least one):\n";
    for (const OutputKindRow& row : output_kinds())
        text +=
            usage_line(row.option, nullptr, row.value,
                       row.help() + (row.helper ? std::string(" (needs ") + row.helper + ")" : ""));
    text += "Options:\n";
    for (const OptionEntry& entry : option_table())
        text += usage_line(entry.name, entry.short_name, entry.value, entry.help);
    text += "Exit status: 0 done, " + num(kExitFailure) + " failed, " + num(kExitUsage) +
            " usage error, " + num(kExitBySignalBase) + " + N stopped by signal N.\n";
    return text + "See starglobe-render(1).\n";
}
