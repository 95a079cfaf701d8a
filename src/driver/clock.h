// The demo's one time source: milliseconds on the system's monotonic clock.
//
// Both the sample the analyzer taps and the pictures the compositor blends follow this clock,
// not the audio device. A reading never goes backwards, and the clock keeps moving even if the
// monotonic clock stops answering, so that timed phases (the ten-second end card) still end:
// while it fails the realtime clock's advance is used, and if that fails too each reading
// waits a fixed step and moves on by it, so timed phases keep their real length.
//
//     double t0 = now_ms();
//     ...
//     double elapsed = now_ms() - t0;       // >= 0
#pragma once
#include <ctime>

// Reads a time into `out`; returns 0 on success, like clock_gettime.
using ClockSource = int (*)(timespec* out);
// Waits about `ms` milliseconds without asking any clock.
using ClockStall = void (*)(double ms);

// tv_sec * 1000.0 + tv_nsec / 1000000.0, each field converted to double first.
double timespec_ms(const timespec& t);

struct Clock {
    ClockSource primary = nullptr;  // the monotonic clock
    ClockSource backup = nullptr;   // consulted only while the primary fails
    ClockStall stall = nullptr;     // waits out a step while neither answers

    double value_ms = 0.0;        // last reading handed out
    double offset_ms = 0.0;       // primary + offset = reading, kept continuous across outages
    double backup_last_ms = 0.0;  // backup's previous answer, while it answers
    bool started = false;
    bool primary_ok = false;  // the previous reading came from the primary
    bool backup_ok = false;   // backup_last_ms holds an answer from the previous reading

    double read();
};

// A clock over CLOCK_MONOTONIC with CLOCK_REALTIME as the backup and nanosleep for stalls.
Clock system_clock();

// Milliseconds, with sub-millisecond fraction, on the process's clock. The first reading is
// the monotonic clock's own value (0.0 if it does not answer).
double now_ms();
