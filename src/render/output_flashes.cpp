#include "render/output_flashes.h"

#include <cerrno>
#include <cstdio>

#include "common/wording.h"

namespace {

constexpr const char* kHeader = "second,general,red,window_x,window_y,luminance\n";

// Writes the rows of every second before `end`.
Outcome write_rows(FlashesOutput* out, size_t end) {
    for (; out->written < end; ++out->written) {
        const FlashSecond& s = out->check.seconds[out->written];
        if (std::fprintf(out->stream.file, "%zu,%d,%d,%d,%d,%.4f\n", out->written, s.general, s.red,
                         s.window_x, s.window_y, s.luminance) < 0)
            return write_failure(out->stream.is_stdout, out->name, errno);
    }
    return {};
}

}  // namespace

Outcome output_open(FlashesOutput* out, const std::string& path, const RunInfo& run) {
    out->check = flash_check_start(rate_per_second(run.plan.fps));
    return csv_open(path, kHeader, &out->name, &out->target, &out->stream);
}

Outcome output_frame(FlashesOutput* out, const FrameView& frame) {
    flash_check_frame(&out->check, frame.picture);
    // A second is complete once a frame of the next has come.
    return write_rows(out, out->check.seconds.size() - 1);
}

Outcome output_complete(FlashesOutput* out) {
    if (Outcome o = write_rows(out, out->check.seconds.size()); !o) return o;
    return stream_close(&out->stream, out->name);
}

std::string output_summary(const FlashesOutput& out) {
    const FlashCheck& check = out.check;
    if (check.seconds.empty()) return "flashes: no frames to check";
    const size_t worst = worst_second(check);
    const FlashSecond& w = check.seconds[worst];
    return "flashes: " + std::to_string(seconds_failing(check)) + " of " +
           std::to_string(check.seconds.size()) + " seconds exceed " +
           in_words(kMaxFlashesPerSecond) + " flashes; the worst, second " + std::to_string(worst) +
           ", holds " + std::to_string(w.general) + " general and " + std::to_string(w.red) +
           " red";
}
