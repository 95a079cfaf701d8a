// --controls FILE: every analysed pass's control values as CSV, one row per pass, with the
// header line naming the columns. FILE may be standard output.
#pragma once
#include <string>

#include "render/output_kind.h"

struct ControlsOutput {
    std::string name;  // as messages call it
    AtomicOutput target;
    OutputStream stream;
};

Outcome output_open(ControlsOutput* out, const std::string& path, const RunInfo& run);
Outcome output_pass(ControlsOutput* out, const PassView& pass);
Outcome output_complete(ControlsOutput* out);
