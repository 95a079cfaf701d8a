// Text for the end card and the contact sheet, set with FreeType from a TrueType font file.
#pragma once
#include <string>
#include <vector>

#include "common/outcome.h"

// Ink coverage 0..1 of one line of text, cropped to the ink.
struct Lettering {
    int width = 0;
    int height = 0;
    std::vector<float> coverage;  // rows top to bottom
};

// Sets `text` (UTF-8 without multi-byte characters is enough here) at `pixel_size` with
// `tracking` extra pixels between letters. Fails when the font cannot be read or lacks a letter.
Outcome set_text(const std::string& font_path, const std::string& text, int pixel_size,
                 double tracking, Lettering* out);
