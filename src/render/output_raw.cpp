#include "render/output_raw.h"

#include <cerrno>
#include <cstdio>

#include "common/picture.h"

namespace {

constexpr double kBytesPerGb = 1e9;
constexpr double kNoteFromGb = 1.0;  // smaller outputs pass without a note

}  // namespace

std::string raw_size_note(const RenderPlan& plan) {
    const double gb = static_cast<double>(plan.frames()) * kImageBytes / kBytesPerGb;
    if (gb < kNoteFromGb) return "";
    char note[160];
    std::snprintf(note, sizeof note, "--raw will write %lld pictures of %zu bytes, %.1f GB",
                  static_cast<long long>(plan.frames()), kImageBytes, gb);
    return note;
}

Outcome output_open(RawOutput* out, const std::string& path, const RunInfo&) {
    out->name = output_name(path);
    if (Outcome o = output_begin(path, OutputShape::file_or_stdout, &out->target); !o) return o;
    return stream_open(out->target, &out->stream);
}

Outcome output_frame(RawOutput* out, const FrameView& frame) {
    if (std::fwrite(frame.picture, 1, kImageBytes, out->stream.file) != kImageBytes)
        return write_failure(out->stream.is_stdout, out->name, errno);
    return {};
}

Outcome output_complete(RawOutput* out) { return stream_close(&out->stream, out->name); }
