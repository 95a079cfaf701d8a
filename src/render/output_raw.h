// --raw FILE: every output frame's 400 x 300 picture, composed exactly as the demo composes
// it, back to back: 360,000 bytes of blue, green, red each, rows top to bottom, never scaled.
// FILE may be standard output.
#pragma once
#include <string>

#include "render/output_kind.h"

struct RawOutput {
    std::string name;  // as messages call it
    AtomicOutput target;
    OutputStream stream;
};

// Before a long run: how much it will write, when that passes a gigabyte; else "".
std::string raw_size_note(const RenderPlan& plan);

Outcome output_open(RawOutput* out, const std::string& path, const RunInfo& run);
Outcome output_frame(RawOutput* out, const FrameView& frame);
Outcome output_complete(RawOutput* out);
