#include "system/clock_readings.h"

#include "common/timeline.h"

int monotonic_reading(timespec* out) { return clock_gettime(CLOCK_MONOTONIC, out); }

int realtime_reading(timespec* out) { return clock_gettime(CLOCK_REALTIME, out); }

void wait_ms(double ms) {
    timespec wait{};
    wait.tv_nsec = static_cast<long>(ms * kNsPerMs);
    nanosleep(&wait, nullptr);
}
