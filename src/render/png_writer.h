// PNG output through libpng: one picture of packed blue, green, red pixels written as an 8-bit
// RGB PNG, so any viewer shows it in its true colours.
//
//     std::string why = write_png_file("frame00000.png", pixels, 400, 300);   // "" when done
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// Writes the picture to `file` (left open). `bgr` holds `height` rows of `width` pixels, three
// bytes each in the order blue, green, red, with no gap between rows. Returns "" or the reason.
std::string write_png(FILE* file, const uint8_t* bgr, int32_t width, int32_t height);

enum class PngCreate {
    or_replace,  // a file already there is replaced
    new_only,    // a file already there is left alone: "File exists"
};

// Creates `path` and writes the picture to it; `created` (when given) says whether the file
// was made, written whole or not. Returns "" or the reason, in the system's words where the
// system gave one ("No space left on device").
std::string write_png_file(const std::string& path, const uint8_t* bgr, int32_t width,
                           int32_t height, PngCreate create = PngCreate::or_replace,
                           bool* created = nullptr);
