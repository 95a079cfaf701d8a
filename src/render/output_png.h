// --png DIR: every output frame, framed, as DIR/frame00000.png, DIR/frame00001.png, ... (8-bit
// RGB). DIR must not exist or be empty.
#pragma once
#include <cstdint>
#include <string>

#include "render/output_kind.h"

struct PngOutput {
    std::string name;  // the folder as messages call it
    AtomicOutput target;
    Framing framing;
};

// The value of --png: a folder's name.
Outcome png_take(const char* option, const std::string& value);

Outcome output_open(PngOutput* out, const std::string& path, const RunInfo& run);
Outcome output_frame(PngOutput* out, const FrameView& frame);
Outcome output_complete(PngOutput* out);
