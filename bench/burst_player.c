/* Used by listen_latency.sh: plays into the sink "out" of the sound server in the environment
 * BURSTS bursts of a loud tone (200 ms each) GAP seconds apart, each handed to the server with
 * nothing of the player's ahead of it. Between bursts the stream runs dry (it asks for no
 * prebuffering, so it plays on, in silence); before each burst what the server still keeps of
 * the stream is flushed, so the burst is written where the server reads next. Keeping the
 * stream fed with silence instead, as a player does, leaves the burst waiting behind the whole
 * target length the server imposes: 1 ms on PulseAudio, 16 ms on PipeWire, whose smallest
 * request is 5.3 ms and which keeps three of them queued. That wait is the player's, not the
 * listener's, and it is what the second figure below shows.
 * For every burst it prints, the moment it hands the burst's first bytes to the server,
 * "burst SECONDS LATENCY_MS": SECONDS on the system's monotonic clock, LATENCY_MS what the
 * stream held ahead of the burst then (the server's own report), which the sound waits behind.
 *
 *     burst_player BURSTS GAP [fed]      ("fed": keep the stream fed with silence) */
#include <math.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { kRate = 44100, kChunkFrames = 44, kBurstFrames = kRate / 5 };

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 4 && strcmp(argv[3], "fed") == 0))
        return fprintf(stderr, "usage: burst_player BURSTS GAP [fed]\n"), 2;
    const int bursts = atoi(argv[1]);
    const double gap = atof(argv[2]);
    const int fed = argc == 4;
    const pa_sample_spec format = {PA_SAMPLE_S16LE, kRate, 2};
    /* maxlength, tlength, prebuf, minreq, fragsize: a 1 ms target, no prebuffering */
    pa_buffer_attr attr = {(uint32_t)-1, kChunkFrames * 4, 0, (uint32_t)-1, (uint32_t)-1};
    int error = 0;
    pa_simple* out = pa_simple_new(NULL, "burst_player", PA_STREAM_PLAYBACK, "out", "bursts", &format,
                                   NULL, &attr, &error);
    if (!out) return fprintf(stderr, "burst_player: %s\n", pa_strerror(error)), 1;
    int16_t chunk[kChunkFrames * 2];
    for (int b = 0; b < bursts; ++b) {
        if (fed) {
            for (long f = 0; f < (long)(gap * kRate); f += kChunkFrames) {
                memset(chunk, 0, sizeof chunk);
                pa_simple_write(out, chunk, sizeof chunk, &error);
            }
        } else {
            usleep((useconds_t)(gap * 1e6));
            pa_simple_flush(out, &error);
        }
        const pa_usec_t ahead = pa_simple_get_latency(out, &error);
        struct timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
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
