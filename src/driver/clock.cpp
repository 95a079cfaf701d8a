#include "driver/clock.h"

#include "common/timeline.h"
#include "system/clock_readings.h"

namespace {

// How far a reading moves, after waiting that long, when no clock answers at all: the end
// card's ten seconds are then ten thousand waits, about ten seconds of real time.
constexpr double kStalledStepMs = 1.0;

}  // namespace

double timespec_ms(const timespec& t) {
    return static_cast<double>(t.tv_sec) * kMsPerSecond + static_cast<double>(t.tv_nsec) / kNsPerMs;
}

double Clock::read() {
    timespec t;
    if (primary && primary(&t) == 0) {
        const double ms = timespec_ms(t);
        if (!started) {
            value_ms = ms;
        } else if (!primary_ok) {
            // Back from an outage: carry on from the last reading rather than jump to the raw
            // value.
            offset_ms = value_ms - ms;
        }
        const double reading = ms + offset_ms;
        if (reading > value_ms) value_ms = reading;
        started = primary_ok = true;
        backup_ok = false;
        return value_ms;
    }

    // The monotonic clock failed: measure this step with the backup when it answered last time
    // too, never letting it take us backwards.
    double step = kStalledStepMs;
    if (backup && backup(&t) == 0) {
        const double ms = timespec_ms(t);
        if (backup_ok) step = ms > backup_last_ms ? ms - backup_last_ms : 0.0;
        backup_last_ms = ms;
        backup_ok = true;
    } else {
        backup_ok = false;
        if (stall) stall(step);
    }
    if (started) value_ms += step;
    started = true;
    primary_ok = false;
    return value_ms;
}

Clock system_clock() {
    Clock clock;
    clock.primary = monotonic_reading;
    clock.backup = realtime_reading;
    clock.stall = wait_ms;
    return clock;
}

double now_ms() {
    static Clock clock = system_clock();
    return clock.read();
}
