#include "render/output_png.h"

#include <cinttypes>
#include <cstdio>

#include "common/quoting.h"
#include "render/png_writer.h"

namespace {

// frame00000.png, frame00001.png, ...: at least five digits, so a folder listing sorts them in
// order up to 99,999 frames (27 minutes at 60 frames per second).
constexpr const char* kNameFormat = "frame%05" PRId64 ".png";

// "frames/", "frames//" and "frames" are one folder; "./" is ".".
std::string without_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

Outcome png_take(const char* option, const std::string& value) {
    if (value.empty() || value == kStdoutName)
        return failed(std::string(option) + " needs a folder name");
    return {};
}

Outcome output_open(PngOutput* out, const std::string& path, const RunInfo& run) {
    out->name = without_trailing_slashes(path);
    out->framing = run.framing;
    return output_begin(out->name, OutputShape::folder, &out->target);
}

Outcome output_frame(PngOutput* out, const FrameView& frame) {
    char name[32];
    std::snprintf(name, sizeof name, kNameFormat, frame.number);
    // Never over a file somebody else put into the folder meanwhile; a file made here is the
    // run's own, to remove if the run fails.
    bool created = false;
    const Outcome written =
        write_png_file(out->target.write_path + "/" + name, frame.framed, out->framing.width,
                       out->framing.height, PngCreate::new_only, &created);
    if (created) output_wrote(&out->target, name);
    if (written) return {};
    // Named as the user will look for it, not by the temporary folder.
    return failed("cannot write " + quoted(out->name + "/" + name) + ": " + written.message);
}

Outcome output_complete(PngOutput*) { return {}; }
