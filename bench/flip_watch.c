/* Preloaded into the demo by listen_latency.sh: looks at every picture the demo flips onto the
 * screen and, each time the screen turns from all white (the picture of silence) to anything
 * else and back, appends "SECONDS dark" or "SECONDS white" to the file named by
 * FLIP_WATCH_LOG, SECONDS on the system's monotonic clock as the flip is asked for. The demo's
 * own clock is never consulted. */
#define _GNU_SOURCE
#include <SDL.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static int shown = -1; /* 1 white, 0 not, -1 nothing yet */

static int all_white(const SDL_Surface* s) {
    const int row_bytes = s->w * s->format->BytesPerPixel;
    for (int y = 0; y < s->h; ++y) {
        const Uint8* row = (const Uint8*)s->pixels + (size_t)y * s->pitch;
        for (int x = 0; x < row_bytes; ++x)
            if (row[x] != 0xFF) return 0;
    }
    return 1;
}

int SDL_Flip(SDL_Surface* screen) {
    static int (*real)(SDL_Surface*);
    if (!real) real = (int (*)(SDL_Surface*))dlsym(RTLD_NEXT, "SDL_Flip");
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    const int white = all_white(screen);
    if (white != shown) {
        shown = white;
        const char* path = getenv("FLIP_WATCH_LOG");
        FILE* log = path ? fopen(path, "a") : NULL;
        if (log) {
            fprintf(log, "%.6f %s\n", (double)t.tv_sec + (double)t.tv_nsec / 1e9,
                    white ? "white" : "dark");
            fclose(log);
        }
    }
    return real(screen);
}
