// What every output kind of the renderer sees (render/outputs.h lists the kinds): the run it
// belongs to, each analysed pass and each output frame, and a file of its own to write to.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/outcome.h"
#include "frame/run.h"
#include "render/framing.h"
#include "render/options.h"
#include "render/soundtrack.h"
#include "render/timeline.h"
#include "system/atomic_output.h"

struct RunInfo {
    const RenderOptions& options;
    const RenderPlan& plan;
    const Soundtrack& soundtrack;
    Framing framing;  // where the picture sits in a --video and --png frame
};

// One analysed pass as the outputs see it.
struct PassView {
    int64_t index = 0;  // pass j, from 0
    double elapsed_ms = 0.0;
    FramePass made;  // the controls and the pictures the pass chose
};

// One output frame.
struct FrameView {
    int64_t number = 0;                // from 0 in this render
    const uint8_t* picture = nullptr;  // the 400 x 300 picture shown
    const uint8_t* framed = nullptr;   // it placed in the output frame (Framing::bytes())
    bool repeat = false;               // the same picture as the frame before
};

// A stdio stream onto an output's write path, or standard output; closed (or, for standard
// output, flushed) by its owner.
struct OutputStream {
    FILE* file = nullptr;
    bool is_stdout = false;

    OutputStream() = default;
    OutputStream(OutputStream&& other) noexcept;
    OutputStream& operator=(OutputStream&& other) noexcept;
    ~OutputStream();
};

// Opens `target` (begun with output_begin) for writing.
Outcome stream_open(const AtomicOutput& target, OutputStream* stream);

// Begins a CSV output at `path` (a file or standard output) and writes its header line; `name`
// becomes what messages call it.
Outcome csv_open(const std::string& path, const char* header, std::string* name,
                 AtomicOutput* target, OutputStream* stream);

// Closes the stream, reporting any write that failed on the way, for the output called `name`.
Outcome stream_close(OutputStream* stream, const std::string& name);

// A failed write to the output called `name`: the reader of standard output gone, or the
// system's reason.
Outcome write_failure(bool to_stdout, const std::string& name, int error);

// Whether `path` ends in `ending` (an extension such as ".mp4"), in any case.
bool ends_with(const std::string& path, const char* ending);

// "standard output" for a name of it, else the name as given: what messages call an output.
std::string output_name(const std::string& path);

// The value of a kind's `option` that names a file (or "-"): any name but none.
Outcome take_file(const char* option, const std::string& value);
