// Preloaded into the demo by its tests (LD_PRELOAD) to make one of SDL_mixer's music calls
// fail the way the library reports it, through SDL's error string: STARGLOBE_MIXER_FAIL names
// Mix_LoadMUS or Mix_PlayMusic; the other call reaches the real library.
#define _GNU_SOURCE
#include <SDL.h>
#include <SDL_mixer.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

static int failing(const char* name) {
    const char* which = getenv("STARGLOBE_MIXER_FAIL");
    if (!which || strcmp(which, name) != 0) return 0;
    SDL_SetError("mixer stub: %s fails", name);
    return 1;
}

Mix_Music* Mix_LoadMUS(const char* file) {
    if (failing("Mix_LoadMUS")) return NULL;
    return ((Mix_Music * (*)(const char*)) dlsym(RTLD_NEXT, "Mix_LoadMUS"))(file);
}

int Mix_PlayMusic(Mix_Music* music, int loops) {
    if (failing("Mix_PlayMusic")) return -1;
    return ((int (*)(Mix_Music*, int))dlsym(RTLD_NEXT, "Mix_PlayMusic"))(music, loops);
}
