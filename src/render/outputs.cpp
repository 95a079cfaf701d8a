#include "render/outputs.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <utility>

#include "audio/convert.h"
#include "common/picture.h"
#include "common/quoting.h"
#include "common/wording.h"
#include "frame/flash_measure.h"
#include "render/output_controls.h"
#include "render/output_flashes.h"
#include "render/output_plot.h"
#include "render/output_png.h"
#include "render/output_raw.h"
#include "render/output_video.h"
#include "system/stop_signal.h"

namespace {

// What a path names: a file by device and inode where it exists, else the path it would be
// created at, resolved through its folder's links.
struct FileIdentity {
    bool is_stdout = false;
    bool exists = false;
    bool shareable = false;  // a device such as /dev/null: any number may write to it
    dev_t device = 0;
    ino_t inode = 0;
    std::string resolved;
};

FileIdentity identify(const std::string& path) {
    FileIdentity id;
    if (names_standard_output(path)) {
        id.is_stdout = true;
        return id;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.shareable = S_ISCHR(st.st_mode);
        id.device = st.st_dev;
        id.inode = st.st_ino;
        return id;
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char resolved[PATH_MAX];
    id.resolved = (realpath(folder.c_str(), resolved) ? std::string(resolved) : folder) + "/" +
                  path.substr(slash == std::string::npos ? 0 : slash + 1);
    return id;
}

bool same_file(const FileIdentity& a, const FileIdentity& b) {
    if (a.is_stdout || b.is_stdout) return a.is_stdout && b.is_stdout;
    if (a.exists != b.exists) return false;
    if (a.exists) return !a.shareable && a.device == b.device && a.inode == b.inode;
    return a.resolved == b.resolved;
}

// The operations of a kind's record `Kind`, its steps found by overload.
template <typename Kind>
constexpr OutputOps output_ops() {
    OutputOps ops{};
    ops.make = []() -> void* { return new Kind(); };
    ops.drop = [](void* kind) { delete static_cast<Kind*>(kind); };
    ops.open = [](void* kind, const std::string& path, const RunInfo& run) {
        return output_open(static_cast<Kind*>(kind), path, run);
    };
    if constexpr (requires(Kind * k, const PassView& p) { output_pass(k, p); })
        ops.pass = [](void* kind, const PassView& pass) {
            return output_pass(static_cast<Kind*>(kind), pass);
        };
    if constexpr (requires(Kind * k, const FrameView& f) { output_frame(k, f); })
        ops.frame = [](void* kind, const FrameView& frame) {
            return output_frame(static_cast<Kind*>(kind), frame);
        };
    ops.complete = [](void* kind) { return output_complete(static_cast<Kind*>(kind)); };
    ops.target = [](void* kind) { return &static_cast<Kind*>(kind)->target; };
    if constexpr (requires(const Kind& k) { output_summary(k); })
        ops.summary = [](const void* kind) {
            return output_summary(*static_cast<const Kind*>(kind));
        };
    return ops;
}

// The table of kinds, one row each in OutputKind's order (the fields are OutputKindRow's).
// Adding a kind: its output_<kind>.{h,cpp}, its name in OutputKind, and its row here.
// clang-format off
constexpr OutputKindRow kKinds[] = {
    {OutputKind::video, "--video", "FILE", OutputNeeds::framed, kFfmpegProgram, true,
     [] { return std::string("H.264 and AAC video: FILE.mp4, FILE.mkv or -"); },
     video_take, video_check, nullptr, output_ops<VideoOutput>()},
    {OutputKind::png, "--png", "DIR", OutputNeeds::framed, nullptr, false,
     [] { return std::string("frames as DIR/frame00000.png, ...; DIR new or empty"); },
     png_take, nullptr, nullptr, output_ops<PngOutput>()},
    {OutputKind::raw, "--raw", "FILE", OutputNeeds::pictures, nullptr, true,
     [] {
         return "frames of " + grouped(int64_t{kImageBytes}) + " bytes (" +
                std::to_string(kImageWidth) + " x " + std::to_string(kImageHeight) +
                ", BGR), or -";
     },
     take_file, nullptr, raw_size_note, output_ops<RawOutput>()},
    {OutputKind::flashes, "--flashes", "FILE", OutputNeeds::pictures, nullptr, false,
     [] {
         return "flashes a second, CSV or -; over " + in_words(kMaxFlashesPerSecond) +
                " can trigger seizures";
     },
     take_file, nullptr, nullptr, output_ops<FlashesOutput>()},
    {OutputKind::controls, "--controls", "FILE", OutputNeeds::passes, nullptr, false,
     [] { return std::string("every pass's control values as CSV, or -"); },
     take_file, nullptr, nullptr, output_ops<ControlsOutput>()},
    {OutputKind::plot, "--plot", "FILE", OutputNeeds::passes, kGnuplotProgram, false,
     [] { return std::string("the controls over time, FILE.png or FILE.svg"); },
     plot_take, nullptr, nullptr, output_ops<PlotOutput>()},
};
// clang-format on

static_assert(std::size(kKinds) == kOutputKinds);
constexpr bool in_kind_order() {
    for (size_t i = 0; i < kOutputKinds; ++i)
        if (kKinds[i].kind != OutputKind(i)) return false;
    return true;
}
static_assert(in_kind_order(), "the table follows OutputKind's order");

// Whether `path` is a terminal: standard output on one, or a terminal's device by name.
bool names_terminal(const std::string& path) {
    if (names_standard_output(path)) return isatty(STDOUT_FILENO) != 0;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool terminal = fd >= 0 && isatty(fd) != 0;
    if (fd >= 0) close(fd);
    return terminal;
}

}  // namespace

std::span<const OutputKindRow> output_kinds() { return kKinds; }

const OutputKindRow& output_kind(OutputKind kind) { return kKinds[size_t(kind)]; }

bool needs_pixels(const RenderOptions& options) {
    for (const OutputKindRow& row : kKinds)
        if (row.needs != OutputNeeds::passes && !options.output(row.kind).empty()) return true;
    return false;
}

Outcome outputs_clash(const RenderOptions& o, const std::string& soundtrack_path) {
    // Binary data over the screen helps nobody, as compressors say too.
    for (const OutputKindRow& row : kKinds) {
        const std::string& path = o.output(row.kind);
        if (row.binary && !path.empty() && names_terminal(path))
            return failed(std::string(row.option) + " " + path +
                          " would write binary data onto the terminal; redirect standard output "
                          "to a file or a program: > FILE, or | PROGRAM");
    }
    const FileIdentity music = identify(soundtrack_path);
    for (size_t i = 0; i < kOutputKinds; ++i) {
        const std::string& path = o.output(kKinds[i].kind);
        if (path.empty()) continue;
        const FileIdentity id = identify(path);
        if (!music.is_stdout && same_file(id, music))
            return failed(std::string(kKinds[i].option) + " " + quoted(path) +
                          " would overwrite the music");
        for (size_t j = i + 1; j < kOutputKinds; ++j) {
            const std::string& other = o.output(kKinds[j].kind);
            if (other.empty() || !same_file(id, identify(other))) continue;
            const std::string both = std::string(kKinds[i].option) + " and " + kKinds[j].option;
            if (id.is_stdout) return failed(both + " cannot both write to standard output");
            return failed(both + " name the same file (" + quoted(path) + ")");
        }
    }
    return {};
}

Outcome outputs_open(const RunInfo& run, Outputs* outputs) {
    const RenderOptions& o = run.options;
    outputs->framing = run.framing;
    outputs->open.reserve(kOutputKinds);
    bool framed = false;
    // The ones that need a helper program first: a missing one is said before anything is made.
    for (const bool helpers : {true, false})
        for (const OutputKindRow& row : kKinds) {
            const std::string& path = o.output(row.kind);
            if (path.empty() || (row.helper != nullptr) != helpers) continue;
            framed = framed || row.needs == OutputNeeds::framed;
            OpenOutput& output = outputs->open.emplace_back();
            output.row = &row;
            output.state = {row.ops.make(), row.ops.drop};
            if (Outcome opened = row.ops.open(output.state.get(), path, run); !opened) {
                outputs->open.clear();
                return opened;
            }
        }
    if (!run.framing.is_picture() && framed) outputs->framed.assign(run.framing.bytes(), 0);
    return {};
}

Outcome outputs_pass(Outputs* outputs, const PassView& pass) {
    for (OpenOutput& output : outputs->open)
        if (output.row->ops.pass)
            if (Outcome o = output.row->ops.pass(output.state.get(), pass); !o) return o;
    return {};
}

Outcome outputs_frame(Outputs* outputs, int64_t number, const uint8_t* picture,
                      bool same_as_before) {
    FrameView frame;
    frame.number = number;
    frame.picture = picture;
    frame.repeat = same_as_before;
    frame.framed = picture;
    if (!outputs->framed.empty()) {
        if (!same_as_before) frame_picture(picture, outputs->framing, outputs->framed.data());
        frame.framed = outputs->framed.data();
    }
    for (OpenOutput& output : outputs->open)
        if (output.row->ops.frame)
            if (Outcome o = output.row->ops.frame(output.state.get(), frame); !o) return o;
    return {};
}

Outcome outputs_finish(Outputs* outputs) {
    Outcome result;
    for (OpenOutput& output : outputs->open) {
        const Outcome o = output.row->ops.complete(output.state.get());
        if (result) result = o;
    }
    // A Ctrl-C while a helper was finishing still means "stop": nothing is put in place.
    if (result && stop_signal() != 0) result = interrupted();
    // Folders first: renaming one can fail (somebody made the name meanwhile), renaming a file
    // beside its own temporary cannot, so a failure replaces nothing.
    for (const bool folders : {true, false})
        for (OpenOutput& output : outputs->open) {
            if (!result) break;
            AtomicOutput* target = output.row->ops.target(output.state.get());
            if (target->folder == folders) result = output_commit(target);
        }
    if (!result) outputs->open.clear();
    return result;
}

std::vector<std::string> outputs_summaries(const Outputs& outputs) {
    std::vector<std::string> lines;
    for (const OpenOutput& output : outputs.open)
        if (output.row->ops.summary) lines.push_back(output.row->ops.summary(output.state.get()));
    return lines;
}

std::vector<std::string> outputs_notes(const RenderOptions& options, const RenderPlan& plan) {
    std::vector<std::string> notes;
    for (const OutputKindRow& row : kKinds)
        if (row.note && !options.output(row.kind).empty())
            if (std::string note = row.note(plan); !note.empty()) notes.push_back(std::move(note));
    return notes;
}
