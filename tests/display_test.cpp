// Frames reach screens of any layout: composed in place on the expected 24-bit layout, and
// through our own picture and a conversion on any other, never written past the screen.
#include "driver/display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "visuals/image_bank.h"

namespace {

// Blue, green, red of each pixel all differ, so a swapped channel shows.
uint8_t pattern_byte(size_t i) { return uint8_t((i / 3) * 7 + (i % 3) * 85); }

TEST(Display, ShowsThePictureOnScreensOfAnyLayoutAndStaysInside) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    // The picture's own layout, another pixel format, rows padded to 401 pixels (packed bytes
    // would shear the picture), and a smaller screen, which takes the top-left part.
    const struct {
        int w, h, bits;
        bool in_place;
    } screens[] = {
        {400, 300, 24, true}, {400, 300, 32, false}, {401, 300, 24, false}, {320, 200, 24, false}};
    for (const auto& s : screens) {
        SCOPED_TRACE(testing::Message() << s.w << " x " << s.h << " x " << s.bits);
        SDL_Surface* screen = SDL_SetVideoMode(s.w, s.h, s.bits, SDL_SWSURFACE);
        ASSERT_NE(screen, nullptr) << SDL_GetError();
        std::memset(screen->pixels, 0xAB, size_t(screen->pitch) * screen->h);
        Display display;
        ASSERT_TRUE(display_open(&display, screen));
        EXPECT_EQ(surface_has_picture_layout(screen), s.in_place);
        EXPECT_EQ(display.staging == nullptr, s.in_place);
        uint8_t* pixels = display_lock(&display);
        for (size_t i = 0; i < kImageBytes; ++i) pixels[i] = pattern_byte(i);
        display_present(&display);
        const SDL_PixelFormat* f = screen->format;
        for (int y = 0; y < s.h; y += 37) {
            const uint8_t* row =
                static_cast<const uint8_t*>(screen->pixels) + size_t(y) * screen->pitch;
            for (int x = 0; x < s.w && x < kImageWidth; ++x) {
                const size_t at = size_t(y) * kImagePitch + 3 * x;
                uint32_t v = 0;
                std::memcpy(&v, row + x * f->BytesPerPixel, f->BytesPerPixel);
                const uint32_t got[3] = {(v & f->Bmask) >> f->Bshift, (v & f->Gmask) >> f->Gshift,
                                         (v & f->Rmask) >> f->Rshift};
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(got[c], pattern_byte(at + c)) << y << "," << x;
            }
            EXPECT_TRUE(s.w <= kImageWidth || row[3 * kImageWidth] == 0xAB)
                << "outside the picture";
        }
        display_close(&display);
    }
    SDL_Quit();
}

}  // namespace
