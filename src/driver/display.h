// Where a frame is composed and how it reaches the screen.
//
// The compositor and the end card write packed blue-green-red pixels, 400 x 300 with 1200-byte
// rows. When the screen surface SDL hands back has exactly that layout (it does with classic
// SDL 1.2 and recent sdl12-compat) frames are composed straight into it. Any other layout gets
// a picture of our own in that layout, which SDL converts onto the screen with a blit, so
// nothing is ever written outside the screen's pixels.
//
//     Display display;
//     if (display_start_up(&display, SDL_INIT_AUDIO | SDL_INIT_VIDEO) != StartUpFailure::none)
//         puts(SDL_GetError());
//     uint8_t* pixels = display_lock(&display);   // compose here
//     display_present(&display);                  // unlock, convert if needed, flip
#pragma once
#include <SDL.h>

#include <cstdint>

struct Display {
    SDL_Surface* screen = nullptr;
    SDL_Surface* staging = nullptr;  // our own picture; null when composing straight to screen
};

// Which step of the start-up failed.
enum class StartUpFailure {
    none,
    sdl,         // SDL_Init: a subsystem (the sound driver, or the video) would not start
    video_mode,  // the display mode, or our picture for another layout
};

// The demo's start-up of the screen, in the demo's order: SDL with `subsystems`, SDL_Quit as
// an exit hook (so that SDL is shut down whenever the process ends after this), the 400 x 300
// 24-bit full-screen mode (hardware, double-buffered), the caption "Demo" and no cursor, then
// display_open. On a failure SDL's error is set.
StartUpFailure display_start_up(Display* display, Uint32 subsystems);

// Whether `surface` is 400 x 300 packed blue-green-red pixels in 1200-byte rows.
bool surface_has_picture_layout(const SDL_Surface* surface);

// Prepares to show frames on `screen`. False (SDL's error set) if a staging picture was needed
// and could not be made.
bool display_open(Display* display, SDL_Surface* screen);

// Locks the screen and returns where to write the frame's 360,000 bytes.
uint8_t* display_lock(Display* display);

// Unlocks the screen, converts the staging picture onto it if there is one, and flips.
void display_present(Display* display);

void display_close(Display* display);
