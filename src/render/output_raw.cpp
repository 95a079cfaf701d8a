#include "render/output_raw.h"

#include <cerrno>
#include <cstdio>

#include "common/picture.h"
#include "system/stop_signal.h"

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
    // Past the stream's buffer, so that a reader that stops reading cannot hold a stop signal.
    const int error = std::fflush(out->stream.file) == 0
                          ? write_heeding_stop(fileno(out->stream.file), frame.picture, kImageBytes)
                          : errno;
    if (error == EINTR) return interrupted();
    if (error != 0) return write_failure(out->stream.is_stdout, out->name, error);
    return {};
}

Outcome output_complete(RawOutput* out) { return stream_close(&out->stream, out->name); }
