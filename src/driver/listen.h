// The demo following whatever the computer plays: sound captured from the sound server (the
// default output's monitor, or a source such as a microphone) instead of a soundtrack.
//
// The analyzer steps at the live look's pass rate, as it does while playing, each pass hearing
// the sound that arrived by its moment; but only the pictures a screen shows are composed (60 a
// second), which keeps the look at a small part of the cost. Every way out is looked for at
// each picture, and nothing in the loop waits on the sound server (driver/capture.h).
//
//     DemoEnd end = listen_demo("", gentle);   // until Escape or a stop signal
#pragma once
#include <string>

#include "driver/play.h"

DemoEnd listen_demo(const std::string& source, bool gentle);
