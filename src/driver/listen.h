// The demo following whatever the computer plays: sound captured from the sound server (the
// default output's monitor, or a source such as a microphone) instead of a soundtrack.
//
//     DemoEnd end = listen_demo("", gentle);   // until Escape or a stop signal
#pragma once
#include <string>

#include "driver/play.h"

DemoEnd listen_demo(const std::string& source, bool gentle);
