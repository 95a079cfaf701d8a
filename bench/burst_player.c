/* Used by listen_latency.sh: plays into the sink "out" of the sound server in the environment,
 * through a playback stream asking for the least latency the server grants, silence with
 * BURSTS bursts of a loud tone (200 ms each) GAP seconds apart. For every burst it prints, the
 * moment it hands the burst's first bytes to the server, "burst SECONDS LATENCY_MS": SECONDS
 * on the system's monotonic clock, LATENCY_MS what the stream held ahead of the burst then
 * (the server's own report), which the sound waits behind.
 *
 *     burst_player BURSTS GAP */
#include <math.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

enum { kRate = 44100, kChunkFrames = 44, kBurstFrames = kRate / 5 };

int main(int argc, char** argv) {
    if (argc != 3) return fprintf(stderr, "usage: burst_player BURSTS GAP\n"), 2;
    const int bursts = atoi(argv[1]);
    const long gap_frames = (long)(atof(argv[2]) * kRate);
    const pa_sample_spec spec = {PA_SAMPLE_S16LE, kRate, 2};
    pa_buffer_attr attr = {(uint32_t)-1, kChunkFrames * 4, 0, (uint32_t)-1, (uint32_t)-1};
    int error = 0;
    pa_simple* out = pa_simple_new(NULL, "burst_player", PA_STREAM_PLAYBACK, "out", "bursts", &spec,
                                   NULL, &attr, &error);
    if (!out) return fprintf(stderr, "burst_player: %s\n", pa_strerror(error)), 1;
    int16_t chunk[kChunkFrames * 2];
    for (int b = 0; b < bursts; ++b) {
        for (long f = 0; f < gap_frames; f += kChunkFrames) {
            for (int i = 0; i < kChunkFrames * 2; ++i) chunk[i] = 0;
            pa_simple_write(out, chunk, sizeof chunk, &error);
        }
        struct timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        const pa_usec_t ahead = pa_simple_get_latency(out, &error);
        for (long f = 0; f < kBurstFrames; f += kChunkFrames) {
            for (int i = 0; i < kChunkFrames; ++i) { /* a 110 Hz square wave at 90% */
                const int16_t v = ((f + i) / (kRate / 220)) % 2 ? 29490 : -29490;
                chunk[2 * i] = chunk[2 * i + 1] = v;
            }
            pa_simple_write(out, chunk, sizeof chunk, &error);
            if (f == 0) {
                printf("burst %.6f %.1f\n", (double)t.tv_sec + (double)t.tv_nsec / 1e9,
                       ahead / 1000.0);
                fflush(stdout);
            }
        }
    }
    pa_simple_drain(out, &error);
    pa_simple_free(out);
    return 0;
}
