// The demo following whatever the computer plays: sound captured from the sound server (the
// default output's monitor, or a source such as a microphone) instead of a soundtrack.
//
// The analyzer steps at the live look's pass rate, as it does while playing, each pass hearing
// the sound that arrived by its moment; but only the pictures a screen shows are composed (60 a
// second), which keeps the look at a small part of the cost. An onset (sound clearly louder
// than the last picture heard) is composed as soon as it arrives, between those pictures, so
// that the picture answers a beat within a few milliseconds rather than up to a picture later.
// Every way out is looked for at each picture and each look for an onset (every millisecond),
// and nothing in the loop waits on the sound server (driver/capture.h).
//
//     DemoEnd end = listen_demo("", gentle);   // until Escape or a stop signal
#pragma once
#include <string>

#include "driver/loop.h"

DemoEnd listen_demo(const std::string& source, bool gentle);
