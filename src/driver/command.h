// The demo program's command line, which is the starglobe command's (scripts/starglobe-
// launcher.sh only finds this program and the soundtrack, then runs it in its place):
//
//     starglobe [--gentle] [FILE]            the demo with the soundtrack, or with FILE
//     starglobe [--gentle] --listen [SOURCE] the demo following what the computer plays
//     starglobe --help | --version
//
// Run with no argument at all and without STARGLOBE_SOUNDTRACK in its environment, the program
// is the demo exactly as it always was: it plays tessaloon.wav from its working folder, and
// prints only its own lines. Everything else is the command: any music file (converted by
// ffmpeg when it is not in the demo's layout, import/prepare.h), a line of advice after a
// failure the user can do something about, and a plain refusal where there is no display.
#pragma once
#include <string>

#include "common/outcome.h"

// The environment variable naming the soundtrack the command plays without FILE; the launcher
// sets it to the installed (or the build's) tessaloon.wav.
constexpr const char* kSoundtrackVariable = "STARGLOBE_SOUNDTRACK";

// The command's exit statuses besides 0 (ended normally or by Escape) and 128 + N (stopped by
// signal N).
constexpr int kExitFailure = 1;  // FILE cannot be read or converted; no display; help unwritten
constexpr int kExitUsage = 2;
constexpr int kExitCannotStart = 255;  // the demo could not start; its own line says why

struct DemoCommand {
    bool help = false;
    bool version = false;
    bool gentle = false;      // the picture through the gentle filter (frame/view.h)
    bool listen = false;      // follow a sound source instead of playing music
    std::string source;       // with listen: the source's name; "" for the default monitor
    std::string file;         // the music to play; "" with listen, or in the plain demo
    bool plain_demo = false;  // no argument and no STARGLOBE_SOUNDTRACK: the demo as it was
};

// Reads the arguments after the program name; `soundtrack` is STARGLOBE_SOUNDTRACK's value, or
// nullptr. Fails with a one-line usage error.
Outcome parse_demo_command(int argc, const char* const* argv, const char* soundtrack,
                           DemoCommand* command);

// The --help text, a synopsis ending in a newline; starglobe(6) is the long form.
std::string demo_usage();

// The warning about the picture's flashes (the build's one sentence) and how to heed it, as
// one line: a paragraph of --help, and what the demo says on a terminal before it starts as it
// is (not gentle).
std::string flash_warning();

// Picks SDL's video driver so that SDL 1.2 never falls back to drawing ASCII art into the
// terminal: with SDL_VIDEODRIVER unset, X11 when there is a DISPLAY. For the command, fails
// saying why there is no display to show the demo on (no DISPLAY at all, or a local one whose
// X server is not there). The plain demo instead lets SDL say it has no video device.
Outcome choose_video_driver(bool plain_demo);
