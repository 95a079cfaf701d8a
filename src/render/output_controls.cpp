#include "render/output_controls.h"

#include <cerrno>
#include <cinttypes>

namespace {

constexpr const char* kHeader =
    "pass,elapsed_ms,flash,pulse,invert,noise_range,noise_offset,ring_length,star,globe\n";

}  // namespace

Outcome output_open(ControlsOutput* out, const std::string& path, const RunInfo&) {
    return csv_open(path, kHeader, &out->name, &out->target, &out->stream);
}

Outcome output_pass(ControlsOutput* out, const PassView& pass) {
    const FrameControls& c = pass.made.controls;
    if (std::fprintf(out->stream.file, "%" PRId64 ",%.3f,%d,%d,%d,%d,%d,%d,%d,%d\n", pass.index,
                     pass.elapsed_ms, c.flash, c.pulse, c.invert ? 1 : 0, c.noise_range,
                     c.noise_offset, c.ring_length, pass.made.star_index,
                     pass.made.globe_index) < 0)
        return write_failure(out->stream.is_stdout, out->name, errno);
    return {};
}

Outcome output_complete(ControlsOutput* out) { return stream_close(&out->stream, out->name); }
