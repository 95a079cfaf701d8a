#include "driver/display.h"

#include <cstdlib>

#include "common/picture.h"

namespace {

constexpr int kBitsPerPixel = 24;  // bytes blue, green, red
constexpr Uint32 kScreenFlags = SDL_HWSURFACE | SDL_DOUBLEBUF | SDL_FULLSCREEN;
constexpr const char* kCaption = "Demo";
// Masks of a pixel value whose little-endian bytes run blue, green, red.
constexpr Uint32 kRedMask = 0xFF0000;
constexpr Uint32 kGreenMask = 0x00FF00;
constexpr Uint32 kBlueMask = 0x0000FF;
constexpr Uint32 kNoAlpha = 0;

// The staging picture's pixels; static so that showing a frame never allocates.
alignas(16) uint8_t staging_pixels[kImageBytes];

}  // namespace

StartUpFailure display_start_up(Display* display, Uint32 subsystems) {
    if (SDL_Init(subsystems) < 0) return StartUpFailure::sdl;
    std::atexit(SDL_Quit);
    SDL_Surface* screen = SDL_SetVideoMode(kImageWidth, kImageHeight, kBitsPerPixel, kScreenFlags);
    if (!screen) return StartUpFailure::video_mode;
    SDL_WM_SetCaption(kCaption, nullptr);
    SDL_ShowCursor(SDL_DISABLE);
    return display_open(display, screen) ? StartUpFailure::none : StartUpFailure::video_mode;
}

bool surface_has_picture_layout(const SDL_Surface* s) {
    const SDL_PixelFormat* f = s->format;
    return s->w == kImageWidth && s->h == kImageHeight && s->pitch == kImagePitch &&
           f->BytesPerPixel == kImageBytesPerPixel && f->Rmask == kRedMask &&
           f->Gmask == kGreenMask && f->Bmask == kBlueMask;
}

bool display_open(Display* display, SDL_Surface* screen) {
    display->screen = screen;
    display->staging = nullptr;
    if (surface_has_picture_layout(screen)) return true;
    display->staging =
        SDL_CreateRGBSurfaceFrom(staging_pixels, kImageWidth, kImageHeight, kBitsPerPixel,
                                 kImagePitch, kRedMask, kGreenMask, kBlueMask, kNoAlpha);
    return display->staging != nullptr;
}

uint8_t* display_lock(Display* display) {
    SDL_LockSurface(display->screen);  // failures are not detected: the frame just shows late
    if (display->staging) return staging_pixels;
    return static_cast<uint8_t*>(display->screen->pixels);
}

void display_present(Display* display) {
    SDL_UnlockSurface(display->screen);
    if (display->staging) SDL_BlitSurface(display->staging, nullptr, display->screen, nullptr);
    SDL_Flip(display->screen);
}

void display_close(Display* display) {
    if (display->staging) SDL_FreeSurface(display->staging);
    display->staging = nullptr;
}
