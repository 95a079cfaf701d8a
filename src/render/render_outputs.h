// The renderer's outputs, one sink per kind, each open exactly when its option was given:
//
//   kind      option      takes                          written as
//   controls  --controls  one CSV row per analysed pass  a file or standard output
//   raw       --raw       one 400 x 300 picture per pass a file or standard output
//   video     --video     one framed picture per frame   ffmpeg, into a file
//   png       --png       one framed picture per frame   a folder of PNG files
//   plot      --plot      every pass, drawn at the end   gnuplot, into a file
//
// Every sink writes to its AtomicOutput's write_path, so that all outputs appear together when
// the run succeeds (outputs_finish) and none of them when it fails (outputs_abandon).
//
//     Outputs outputs;
//     std::string error = outputs_open(options, plan, soundtrack, &outputs);
//     ...outputs_pass(&outputs, pass) for every pass; outputs_frame(...) for every frame...
//     error = error.empty() ? outputs_finish(&outputs) : (outputs_abandon(&outputs), error);
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "frame/frame_pass.h"
#include "render/atomic_output.h"
#include "render/ffmpeg_pipe.h"
#include "render/plot.h"
#include "render/render_options.h"
#include "render/soundtrack.h"

// What an output returns when standard output's reader has gone away (`... --controls - |
// head`): the run ends quietly, as command-line tools do.
constexpr const char* kReaderGone = "standard output was closed";

// How many of each kind of frame a run has.
struct RenderPlan {
    FrameRate pass_rate;       // analysed passes per second of demo time
    int64_t passes = 0;        // analysed passes (one --controls row, one --raw picture each)
    int64_t music_frames = 0;  // output frames at --fps while the music plays
    int64_t card_frames = 0;   // end-card frames after them, in --video and --png output only
};

// Everything one analysed pass produced, as the outputs see it.
struct RenderedPass {
    int64_t index = 0;
    double elapsed_ms = 0.0;
    FramePass made;                  // the controls and the pictures the pass chose
    const uint8_t* pixels = nullptr; // the composed picture, or null when no output needs it
};

enum class SinkKind { controls, raw, video, png, plot };

struct Sink {
    SinkKind kind = SinkKind::controls;
    std::string name;         // the output as messages call it
    AtomicOutput target;
    FILE* file = nullptr;     // controls, raw
    VideoPipe video;          // video
    Plot plot;                // plot
};

struct Outputs {
    std::vector<Sink> sinks;
    Framing framing;
    std::vector<uint8_t> framed;  // the picture in its output frame, for video and png
};

// Whether the options ask for composed pictures (raw, video, png); the controls alone do not.
bool needs_pixels(const RenderOptions& options);

// Whether the options ask for one picture per output frame (video, png), and so the end card.
bool shows_frames(const RenderOptions& options);

// Opens every requested output, the ones needing a helper program first so that a missing one
// is reported before anything is made; on failure removes what was made.
std::string outputs_open(const RenderOptions& options, const RenderPlan& plan,
                         const Soundtrack& soundtrack, Outputs* outputs);

// Hands one analysed pass to controls, raw and plot.
std::string outputs_pass(Outputs* outputs, const RenderedPass& pass);

// Hands output frame `frame` to video and png: `picture` (400 x 300) placed in the output
// frame. `same_as_before` says the picture is the one of the previous frame, which then need
// not be framed again.
std::string outputs_frame(Outputs* outputs, int64_t frame, const uint8_t* picture,
                          bool same_as_before);

// Completes every output and, only when all of that worked, moves them into place. On a
// failure abandons them all.
std::string outputs_finish(Outputs* outputs);

// Ends a run that will not complete: helpers stopped, files closed, temporaries removed.
void outputs_abandon(Outputs* outputs);

// Places `picture` into `out` (framing.width x framing.height, blue-green-red) at the framing's
// scale and position: every pixel repeated scale x scale times. The border is left as it is.
void frame_picture(const uint8_t* picture, const Framing& framing, uint8_t* out);
