// How long the demo's phases last, and the units its times are kept in, shared by the live
// demo, the renderer and the web page.
#pragma once

// Times are milliseconds, in doubles, since the music started.
constexpr double kMsPerSecond = 1000.0;
constexpr double kNsPerMs = 1000000.0;

// Lengths for people, as clocks and messages count them.
constexpr int kSecondsPerMinute = 60;
constexpr int kMinutesPerHour = 60;
constexpr int kSecondsPerHour = kSecondsPerMinute * kMinutesPerHour;

// Loop passes a second of the live demo's look, the default of the renderer's --loop-fps: the
// analyzer's filters and envelopes step once a pass, so this rate is part of how it looks.
constexpr int kLiveLookPassesPerSecond = 1000;

// The closing card stays this long after the music ends, in milliseconds.
constexpr double kEndCardMs = 10000.0;
