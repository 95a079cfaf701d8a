// The demo itself: start-up of video and audio, the frame loop while the music plays, the end
// card and the shutdown, as one call.
//
//     DemoEnd end = play_demo("tessaloon.wav", gentle);
//     ...tell a start-up failure (main.cpp), remove what the caller made for the run...
//     if (end.stop_signal) die_of_signal(end.stop_signal);
//
// A start-up failure comes back typed (driver/loop.h), with SDL's error or, for a soundtrack
// the loader refused, the refused file; nothing is printed here.
#pragma once
#include <string>

#include "driver/loop.h"

// Plays `soundtrack` (a WAV in the demo's layout), the picture through the gentle view if asked.
DemoEnd play_demo(const std::string& soundtrack, bool gentle);
