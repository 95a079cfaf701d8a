// The operating system's clocks as the demo's clock (driver/clock.h) reads them, and its one
// way to let time pass without them. The clock decides what to make of a failing reading.
//
//     timespec t;
//     if (monotonic_reading(&t) == 0) ...   // else realtime_reading, else wait_ms(1.0)
#pragma once
#include <ctime>

// CLOCK_MONOTONIC and CLOCK_REALTIME into `out`; 0 on success, like clock_gettime.
int monotonic_reading(timespec* out);
int realtime_reading(timespec* out);

// Waits about `ms` milliseconds (under a second) without asking any clock; a signal ends the
// wait early.
void wait_ms(double ms);
