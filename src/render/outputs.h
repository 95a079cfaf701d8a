// The renderer's outputs: one table of kinds, each open exactly when its option was given.
//
//   kind      option      takes                              written as
//   video     --video     one framed picture per frame       ffmpeg, into a file or stdout
//   png       --png       one framed picture per frame       a folder of PNG files
//   raw       --raw       one 400 x 300 picture per frame    a file or standard output
//   flashes   --flashes   one 400 x 300 picture per frame    a CSV file or standard output
//   controls  --controls  one CSV row per analysed pass      a file or standard output
//   plot      --plot      every pass, drawn at the end       gnuplot's picture, into a file
//
// Each kind lives in its own output_<kind>.{h,cpp}: a record and the free functions
// output_open, output_pass, output_frame and output_complete over it (a kind without work
// for passes or frames leaves that function out), and output_summary for a line after the
// run. Its row in the table (outputs.cpp) says the rest once: its option and the check of its
// value, what it needs from the run, the helper program it runs, its line in --help. The
// option parser, "nothing to write", needs_pixels, the clash check, the open order and --help
// all derive from the table.
//
// Adding a kind: write output_<kind>.{h,cpp} (and add the source to CMakeLists.txt), name it
// in OutputKind (render/options.h, in the order --help lists it) and give it its row.
//
// Every kind writes to its AtomicOutput, so that all outputs appear together when the run
// succeeds (outputs_finish) and none of them when it fails: dropping the Outputs abandons
// whatever is unfinished.
//
//     Outputs outputs;
//     Outcome o = outputs_open(run, &outputs);
//     ...outputs_pass(&outputs, pass) for every pass shown; outputs_frame(...) for every frame...
//     o = outputs_finish(&outputs);
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/outcome.h"
#include "render/framing.h"
#include "render/options.h"
#include "render/output_kind.h"
#include "render/soundtrack.h"
#include "render/timeline.h"

// What a kind takes from the run; pictures are composed for every pass when any kind needs them.
enum class OutputNeeds {
    passes,    // every analysed pass shown
    pictures,  // every output frame's 400 x 300 picture
    framed,    // every output frame's picture placed in the frame of --scale or --size
};

// A kind's operations over its record, made from the record's type by output_ops<Kind>(); a
// step the kind leaves out is nullptr.
struct OutputOps {
    void* (*make)();
    void (*drop)(void*);
    Outcome (*open)(void*, const std::string& path, const RunInfo& run);
    Outcome (*pass)(void*, const PassView& pass);
    Outcome (*frame)(void*, const FrameView& frame);
    Outcome (*complete)(void*);
    AtomicOutput* (*target)(void*);
    std::string (*summary)(const void*);
};

struct OutputKindRow {
    OutputKind kind;
    const char* option;  // "--video"
    const char* value;   // its value's name in --help
    OutputNeeds needs;
    const char* helper;     // the program it runs, or nullptr; such kinds open first
    bool binary;            // refused onto a terminal
    std::string (*help)();  // its line in --help, which adds the helper it needs
    // Checks the option's value, before it is taken as the path.
    Outcome (*take)(const char* option, const std::string& value);
    // With every option known: what else it refuses (given the frame); or nullptr.
    Outcome (*check)(const RenderOptions& options, const Framing& framing);
    // Before the run, once the plan is known: a note for the user or ""; or nullptr.
    std::string (*note)(const RenderPlan& plan);
    OutputOps ops;
};

// The table, in OutputKind's order.
std::span<const OutputKindRow> output_kinds();
const OutputKindRow& output_kind(OutputKind kind);

struct OpenOutput {
    const OutputKindRow* row = nullptr;
    std::unique_ptr<void, void (*)(void*)> state{nullptr, nullptr};
};

struct Outputs {
    std::vector<OpenOutput> open;
    Framing framing;
    std::vector<uint8_t> framed;  // the picture in its output frame, when that differs
};

// Whether the options ask for the output frames' pictures (a kind that needs pictures or
// framed pictures): then every pass is composed, shown or not, so that the noise runs exactly
// as live, and a whole production ends on the end card.
bool needs_pixels(const RenderOptions& options);

// Two names of the same file among the outputs, or an output that would overwrite the music,
// compared by identity (device and inode where the file exists, the resolved path where it
// does not): a failure says the usage error to report. Devices such as /dev/null may be
// shared. Video or raw frames bound for a terminal are refused too.
Outcome outputs_clash(const RenderOptions& options, const std::string& soundtrack_path);

// Opens every requested output, the ones needing a helper program first so that a missing
// one is reported before anything is made; on failure drops what was made.
Outcome outputs_open(const RunInfo& run, Outputs* outputs);

// Hands one analysed pass (shown, at or after the first frame's) to the outputs.
Outcome outputs_pass(Outputs* outputs, const PassView& pass);

// Hands one output frame to the outputs: `picture` (400 x 300) placed in the output frame.
// `same_as_before` says the picture is the previous frame's, which then need not be framed
// again.
Outcome outputs_frame(Outputs* outputs, int64_t number, const uint8_t* picture,
                      bool same_as_before);

// Completes every output and, only when all of that worked, moves them into place. On a
// failure or a stop signal meanwhile, drops them all.
Outcome outputs_finish(Outputs* outputs);

// The lines the outputs have for the user after a run (the flash check's summary).
std::vector<std::string> outputs_summaries(const Outputs& outputs);

// The notes the requested outputs have before a run of `plan` (how much --raw will write).
std::vector<std::string> outputs_notes(const RenderOptions& options, const RenderPlan& plan);
