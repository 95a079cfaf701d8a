// How long the demo's phases last, shared by the live demo and the renderer.
#pragma once

// The closing card stays this long after the music ends, in milliseconds.
constexpr double kEndCardMs = 10000.0;
