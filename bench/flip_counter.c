/* Preloaded into the demo by live_pass_rate.sh: counts the loop's passes (one SDL_Flip each)
 * and, when the program leaves SDL (which it does before it ends by a stop signal), prints how
 * many it made a second since the first. */
#define _GNU_SOURCE
#include <SDL.h>
#include <dlfcn.h>
#include <stdio.h>
#include <time.h>

static long flips;
static double first_s;

static double now_s(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int SDL_Flip(SDL_Surface* screen) {
    static int (*real)(SDL_Surface*);
    if (!real) real = (int (*)(SDL_Surface*))dlsym(RTLD_NEXT, "SDL_Flip");
    if (flips++ == 0) first_s = now_s();
    return real(screen);
}

void SDL_Quit(void) {
    static void (*real)(void);
    if (!real) real = (void (*)(void))dlsym(RTLD_NEXT, "SDL_Quit");
    const double seconds = now_s() - first_s;
    if (flips > 1 && seconds > 0) fprintf(stderr, "passes/s %.0f\n", (double)(flips - 1) / seconds);
    flips = 0;
    real();
}
