// The signals that stop a run early, for both programs: Ctrl-C (SIGINT), kill (SIGTERM) and a
// closed terminal (SIGHUP) set a flag instead of ending the process, so that the program can
// leave its loop between frames and clean up (give the screen mode and the sound device back,
// remove unfinished outputs), then end by that same signal.
//
//     install_stop_handlers();               // once, at start-up
//     while (... && !stop_signal()) { ... }  // between frames
//     if (stop_signal()) die_of_signal(stop_signal());  // after the cleanup
//
// A signal the parent set to be ignored (nohup, a script's background job) stays ignored, as
// SDL itself leaves it: only a signal at its default action, or at a handler the process set
// for itself (SDL's), stops the run. The flag itself, stop_signal(), is common/stop_flag.h, so
// that layers built for the web page too can read it.
#pragma once
#include <cstddef>

#include "common/stop_flag.h"

// Installs the flag-setting handler for the stop signals. Blocked system calls are interrupted
// rather than resumed, so a write stalled on a reader that went away returns.
void install_stop_handlers();

// Ends the process as the signal would have: with its default action, so the parent sees the
// same status as without the handler (a shell reports 128 + signal, 130 for Ctrl-C).
[[noreturn]] void die_of_signal(int signal_number);

// Writes all `size` bytes to `fd`, heeding stop signals however the reader behaves: a reader
// that keeps its end open but never reads would otherwise hold a write (and the signal's
// effect) forever. Anything but a regular file is waited on with poll and then written no more
// than it takes without blocking. Returns 0 when all is written, EINTR when a stop signal
// arrived first, else the write's errno (EPIPE: the reader has gone).
int write_heeding_stop(int fd, const void* bytes, size_t size);
