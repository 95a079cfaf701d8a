// What playing and listening share: the display's start-up, the loop that shows pass after
// pass until the music ends, Escape or a stop signal, and how a run ends: a start-up failure,
// typed, which the command tells (main.cpp), or the stop signal that ended it.
//
//     Display display;
//     if (DemoEnd failed = demo_start(&display, SDL_INIT_VIDEO); failed.failure != none)
//         return failed;
//     LoopPasses passes{EscapeWatch::every_event, going, due, pass};
//     const bool finished = demo_loop(&display, now_ms(), passes);
//     return demo_close(&display);  // after a stop signal: SDL left, the signal handed on
#pragma once
#include <SDL.h>

#include <cstdint>
#include <functional>
#include <string>

#include "audio/wav_loader.h"
#include "driver/display.h"

// What kept the demo from starting.
enum class DemoFailure {
    none,
    sound_device,  // SDL's audio device could not be opened
    soundtrack,    // the loader refused the soundtrack
    sound_source,  // listening: the sound server or its source could not be reached
    other,         // the video, the display mode, the music's playback
};

struct DemoEnd {
    DemoFailure failure = DemoFailure::none;
    std::string error;    // SDL's error; for sound_source, the reason in words
    WavFile refused;      // for soundtrack: the file the loader refused, for its verdict
    int stop_signal = 0;  // the stop signal that ended the run, after its shutdown; else 0
};

// A start-up failure.
DemoEnd demo_failed(DemoFailure failure, std::string error);

// How the loop looks for Escape.
enum class EscapeWatch {
    next_event,   // one pending event a pass: the loop stays as fast as composing allows
    every_event,  // every pending event: for a loop that waits between its pictures
};

// Whether Escape was pressed, by the events `watch` looks at.
bool escape_pressed(EscapeWatch watch);

// What a loop shows: handed in by playing and by listening.
struct LoopPasses {
    EscapeWatch escape = EscapeWatch::next_event;
    std::function<bool()> going;                 // before each pass: the music still plays
    std::function<bool(double elapsed_ms)> due;  // a picture is due (else it may wait a little)
    std::function<void(double elapsed_ms, uint8_t* screen)> pass;  // composes it into screen
};

// The display's start-up (display_start_up) with SDL's `subsystems`; on a failure, what
// failed with SDL's error.
DemoEnd demo_start(Display* display, Uint32 subsystems);

// Shows passes at the milliseconds since `start_ms` (on now_ms's clock) while `going` says
// so, each when `due`; false when Escape or a stop signal ended the loop first.
bool demo_loop(Display* display, double start_ms, const LoopPasses& passes);

// Closes the display. After a stop signal SDL is left at once (its exit hook would not run)
// and the signal is handed on.
DemoEnd demo_close(Display* display);
