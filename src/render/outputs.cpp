#include "render/outputs.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <utility>

#include "common/picture.h"
#include "common/quoting.h"
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

// Hands something to every output whose kind takes it: `call` on each, until one fails.
template <typename Call>
Outcome each_output(Outputs* outputs, Call call) {
    for (Output& output : outputs->open)
        if (Outcome o = std::visit(call, output); !o) return o;
    return {};
}

template <typename Kind>
Outcome open_kind(Outputs* outputs, const std::string& path, const RunInfo& run) {
    Kind& kind = std::get<Kind>(outputs->open.emplace_back(std::in_place_type<Kind>));
    return output_open(&kind, path, run);
}

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

std::string outputs_clash(const RenderOptions& o, const std::string& soundtrack_path) {
    const std::pair<const char*, const std::string*> named[] = {
        {"--controls", &o.controls_path}, {"--raw", &o.raw_path},
        {"--video", &o.video_path},       {"--png", &o.png_dir},
        {"--plot", &o.plot_path},         {"--flashes", &o.flashes_path}};
    // Binary data over the screen helps nobody, as compressors say too.
    const std::pair<const char*, const std::string*> binary[] = {{"--video", &o.video_path},
                                                                 {"--raw", &o.raw_path}};
    for (const auto& [option, path] : binary) {
        if (!path->empty() && names_terminal(*path))
            return std::string(option) + " " + *path +
                   " would write binary data onto the terminal; redirect standard output to a "
                   "file or a program: > FILE, or | PROGRAM";
    }
    const FileIdentity music = identify(soundtrack_path);
    for (size_t i = 0; i < std::size(named); ++i) {
        const std::string& path = *named[i].second;
        if (path.empty()) continue;
        const FileIdentity id = identify(path);
        if (!music.is_stdout && same_file(id, music))
            return std::string(named[i].first) + " " + quoted(path) + " would overwrite the music";
        for (size_t j = i + 1; j < std::size(named); ++j) {
            const std::string& other = *named[j].second;
            if (other.empty() || !same_file(id, identify(other))) continue;
            if (id.is_stdout)
                return std::string(named[i].first) + " and " + named[j].first +
                       " cannot both write to standard output";
            return std::string(named[i].first) + " and " + named[j].first +
                   " name the same file (" + quoted(path) + ")";
        }
    }
    return "";
}

Outcome outputs_open(const RunInfo& run, Outputs* outputs) {
    const RenderOptions& o = run.options;
    outputs->framing = run.framing;
    outputs->open.reserve(std::variant_size_v<Output>);
    // The ones that need a helper program first: a missing one is said before anything is made.
    const std::pair<Outcome (*)(Outputs*, const std::string&, const RunInfo&), const std::string*>
        wanted[] = {
            {open_kind<VideoOutput>, &o.video_path}, {open_kind<PlotOutput>, &o.plot_path},
            {open_kind<PngOutput>, &o.png_dir},      {open_kind<ControlsOutput>, &o.controls_path},
            {open_kind<RawOutput>, &o.raw_path},     {open_kind<FlashesOutput>, &o.flashes_path}};
    for (const auto& [open, path] : wanted) {
        if (path->empty()) continue;
        if (Outcome opened = open(outputs, *path, run); !opened) {
            outputs->open.clear();
            return opened;
        }
    }
    if (!run.framing.is_picture() && (!o.video_path.empty() || !o.png_dir.empty()))
        outputs->framed.assign(run.framing.bytes(), 0);
    return {};
}

Outcome outputs_pass(Outputs* outputs, const PassView& pass) {
    return each_output(outputs, [&](auto& kind) -> Outcome {
        if constexpr (requires { output_pass(&kind, pass); }) return output_pass(&kind, pass);
        return {};
    });
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
    return each_output(outputs, [&](auto& kind) -> Outcome {
        if constexpr (requires { output_frame(&kind, frame); }) return output_frame(&kind, frame);
        return {};
    });
}

Outcome outputs_finish(Outputs* outputs) {
    Outcome result;
    for (Output& output : outputs->open) {
        const Outcome o = std::visit([](auto& kind) { return output_complete(&kind); }, output);
        if (result) result = o;
    }
    // A Ctrl-C while a helper was finishing still means "stop": nothing is put in place.
    if (result && stop_signal() != 0) result = interrupted();
    // Folders first: renaming one can fail (somebody made the name meanwhile), renaming a file
    // beside its own temporary cannot, so a failure replaces nothing.
    for (const bool folders : {true, false})
        for (Output& output : outputs->open) {
            if (!result) break;
            result = std::visit(
                [&](auto& kind) {
                    return kind.target.folder == folders ? output_commit(&kind.target) : Outcome{};
                },
                output);
        }
    if (!result) outputs->open.clear();
    return result;
}

std::vector<std::string> outputs_summaries(const Outputs& outputs) {
    std::vector<std::string> lines;
    for (const Output& output : outputs.open)
        std::visit(
            [&](const auto& kind) {
                if constexpr (requires { output_summary(kind); })
                    lines.push_back(output_summary(kind));
            },
            output);
    return lines;
}
