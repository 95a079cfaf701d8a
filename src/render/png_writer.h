// PNG output through libpng's simplified API: one picture of packed blue, green, red pixels
// written as an 8-bit RGB PNG marked sRGB, so any viewer shows it in its true colours.
//
//     Outcome o = write_png_file("frame00000.png", pixels, 400, 300);
//     if (!o) say("cannot write frame00000.png: " + o.message);
#pragma once
#include <cstdint>
#include <string>

#include "common/outcome.h"

enum class PngCreate {
    or_replace,  // a file already there is replaced
    new_only,    // a file already there is left alone: "File exists"
};

// Creates `path` and writes the picture to it: `bgr` holds `height` rows of `width` pixels,
// three bytes each in the order blue, green, red, with no gap between rows. `created` (when
// given) says whether the file was made, written whole or not. On failure the message is the
// reason alone, in the system's words where the system gave one ("No space left on device"),
// for the caller to put after the name it shows.
Outcome write_png_file(const std::string& path, const uint8_t* bgr, int32_t width, int32_t height,
                       PngCreate create = PngCreate::or_replace, bool* created = nullptr);
