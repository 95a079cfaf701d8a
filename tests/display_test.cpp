// Frames reach screens of any layout: composed in place on the expected 24-bit layout, and
// through our own picture and a conversion on any other, never written past the screen.
#include "driver/display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "visuals/image_bank.h"

namespace {

class DisplayTest : public testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }
    void TearDown() override { SDL_Quit(); }

    // Writes a known picture through the display and returns the screen.
    SDL_Surface* show_pattern(int w, int h, int bits) {
        SDL_Surface* screen = SDL_SetVideoMode(w, h, bits, SDL_SWSURFACE);
        EXPECT_NE(screen, nullptr) << SDL_GetError();
        if (!screen) return nullptr;
        std::memset(screen->pixels, 0xAB, size_t(screen->pitch) * screen->h);
        EXPECT_TRUE(display_open(&display, screen));
        uint8_t* pixels = display_lock(&display);
        for (size_t i = 0; i < kImageBytes; ++i) pixels[i] = pattern_byte(i);
        display_present(&display);
        return screen;
    }

    // Blue, green, red of each pixel all differ, so a swapped channel shows.
    static uint8_t pattern_byte(size_t i) { return uint8_t((i / 3) * 7 + (i % 3) * 85); }

    Display display;
};

}  // namespace

TEST_F(DisplayTest, ComposesStraightIntoAScreenOfThePictureLayout) {
    SDL_Surface* screen = show_pattern(400, 300, 24);
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(surface_has_picture_layout(screen));
    EXPECT_EQ(display.staging, nullptr);
    const uint8_t* p = static_cast<const uint8_t*>(screen->pixels);
    for (size_t i = 0; i < kImageBytes; ++i) ASSERT_EQ(p[i], pattern_byte(i)) << i;
    display_close(&display);
}

TEST_F(DisplayTest, ConvertsOntoAScreenWithAnotherPixelFormat) {
    SDL_Surface* screen = show_pattern(400, 300, 32);
    ASSERT_NE(screen, nullptr);
    EXPECT_FALSE(surface_has_picture_layout(screen));
    ASSERT_NE(display.staging, nullptr);
    const SDL_PixelFormat* f = screen->format;
    for (int n = 0; n < kImagePixels; n += 997) {
        const Uint32 v = static_cast<const Uint32*>(screen->pixels)[n];
        ASSERT_EQ((v & f->Bmask) >> f->Bshift, pattern_byte(3 * n)) << n;
        ASSERT_EQ((v & f->Gmask) >> f->Gshift, pattern_byte(3 * n + 1)) << n;
        ASSERT_EQ((v & f->Rmask) >> f->Rshift, pattern_byte(3 * n + 2)) << n;
    }
    display_close(&display);
}

TEST_F(DisplayTest, StaysInsideAScreenWithOtherRowsOrSize) {
    // 401 pixels a row: rows are padded, so writing 360,000 packed bytes in would shear the
    // picture. The conversion puts each row where it belongs and leaves the rest alone.
    SDL_Surface* screen = show_pattern(401, 300, 24);
    ASSERT_NE(screen, nullptr);
    EXPECT_FALSE(surface_has_picture_layout(screen));
    const uint8_t* p = static_cast<const uint8_t*>(screen->pixels);
    for (int y = 0; y < 300; y += 37) {
        const uint8_t* row = p + size_t(y) * screen->pitch;
        for (int x = 0; x < 400; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(row[3 * x + c], pattern_byte(size_t(y) * 1200 + 3 * x + c)) << y << "," << x;
        EXPECT_EQ(row[1200], 0xAB) << "column 400 is outside the picture";
    }
    display_close(&display);

    // A smaller screen takes the top-left part of the picture.
    screen = show_pattern(320, 200, 24);
    ASSERT_NE(screen, nullptr);
    p = static_cast<const uint8_t*>(screen->pixels);
    EXPECT_EQ(p[size_t(199) * screen->pitch + 3 * 319], pattern_byte(size_t(199) * 1200 + 3 * 319));
    display_close(&display);
}
