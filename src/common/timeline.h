// How long the demo's phases last, and the units its times are kept in, shared by the live
// demo, the renderer and the web page.
#pragma once

// Times are milliseconds, in doubles, since the music started.
constexpr double kMsPerSecond = 1000.0;

// The closing card stays this long after the music ends, in milliseconds.
constexpr double kEndCardMs = 10000.0;
