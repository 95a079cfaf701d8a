// --flashes FILE: the flash check (frame/flash_check.h) over the frames the renderer outputs,
// as CSV, one row per second of output: second, general flashes, red flashes, the top-left
// pixel of the window where the general flashes were worst, and the second's mean relative
// luminance (how bright it looks, 0 black to 1 white). FILE may be standard
// output. A summary follows the run on standard error: the worst second, and how many seconds
// hold more than kMaxFlashesPerSecond flashes.
#pragma once
#include <string>

#include "frame/flash_check.h"
#include "render/output_kind.h"

struct FlashesOutput {
    std::string name;  // as messages call it
    AtomicOutput target;
    OutputStream stream;
    FlashCheck check;
    size_t written = 0;  // seconds already written as rows
};

Outcome output_open(FlashesOutput* out, const std::string& path, const RunInfo& run);
Outcome output_frame(FlashesOutput* out, const FrameView& frame);
Outcome output_complete(FlashesOutput* out);

// "flashes: 60 of 139 seconds exceed three flashes; the worst, second 47, holds 28".
std::string output_summary(const FlashesOutput& out);
