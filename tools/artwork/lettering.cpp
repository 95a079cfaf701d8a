#include "lettering.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "common/quoting.h"

namespace {
constexpr double kSubpixel = 64.0;  // FreeType's 26.6 fixed point

// Why FreeType could not open a font, in words: its error codes have no text of their own here.
std::string font_error(FT_Error error) {
    if (error == FT_Err_Cannot_Open_Resource) return std::strerror(errno);
    if (error == FT_Err_Unknown_File_Format) return "not a font file FreeType reads";
    return "FreeType error " + std::to_string(error);
}

}  // namespace

Outcome set_text(const std::string& font_path, const std::string& text, int pixel_size,
                 double tracking, Lettering* out) {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return failed("FreeType cannot start");
    FT_Face face = nullptr;
    if (const FT_Error error = FT_New_Face(library, font_path.c_str(), 0, &face); error != 0) {
        const std::string why = font_error(error);
        FT_Done_FreeType(library);
        return failed("cannot read the font " + quoted(font_path) + ": " + why);
    }
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixel_size));

    // Lay the glyphs into a generous canvas at fractional pen positions (unhinted outlines
    // placed to 1/64 pixel keep the spacing even), then crop to the ink.
    const int pad = pixel_size;
    const int canvas_w =
        static_cast<int>(text.size()) * (pixel_size + static_cast<int>(tracking)) + 2 * pad;
    const int canvas_h = 3 * pixel_size;
    const int baseline = 2 * pixel_size;
    std::vector<float> canvas(static_cast<size_t>(canvas_w) * canvas_h, 0.0f);

    double pen = pad;
    FT_UInt previous = 0;
    Outcome drawn;
    for (unsigned char ch : text) {
        const FT_UInt glyph = FT_Get_Char_Index(face, ch);
        if (previous != 0 && glyph != 0 && FT_HAS_KERNING(face)) {
            FT_Vector kern;
            FT_Get_Kerning(face, previous, glyph, FT_KERNING_UNFITTED, &kern);
            pen += kern.x / kSubpixel;
        }
        const double whole = std::floor(pen);
        FT_Vector shift{static_cast<FT_Pos>(std::lround((pen - whole) * kSubpixel)), 0};
        FT_Set_Transform(face, nullptr, &shift);
        if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_HINTING | FT_LOAD_RENDER) != 0) {
            drawn = failed("the font " + quoted(font_path) + " cannot draw " +
                           quoted(std::string(1, static_cast<char>(ch))));
            break;
        }
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        const int left = static_cast<int>(whole) + slot->bitmap_left;
        const int top = baseline - slot->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            for (unsigned col = 0; col < bitmap.width; ++col) {
                const int x = left + static_cast<int>(col), y = top + static_cast<int>(row);
                if (x < 0 || y < 0 || x >= canvas_w || y >= canvas_h) continue;
                float& cell = canvas[static_cast<size_t>(y) * canvas_w + x];
                const float ink = bitmap.buffer[row * bitmap.pitch + col] / 255.0f;
                cell = std::min(1.0f, cell + ink);
            }
        }
        pen += slot->advance.x / kSubpixel + tracking;
        previous = glyph;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    if (!drawn) return drawn;

    int x0 = canvas_w, y0 = canvas_h, x1 = -1, y1 = -1;
    for (int y = 0; y < canvas_h; ++y) {
        for (int x = 0; x < canvas_w; ++x) {
            if (canvas[static_cast<size_t>(y) * canvas_w + x] <= 0.0f) continue;
            x0 = std::min(x0, x), x1 = std::max(x1, x);
            y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    }
    if (x1 < 0) {
        *out = Lettering{};
        return {};
    }
    out->width = x1 - x0 + 1;
    out->height = y1 - y0 + 1;
    out->coverage.assign(static_cast<size_t>(out->width) * out->height, 0.0f);
    for (int y = 0; y < out->height; ++y)
        for (int x = 0; x < out->width; ++x)
            out->coverage[static_cast<size_t>(y) * out->width + x] =
                canvas[static_cast<size_t>(y + y0) * canvas_w + x + x0];
    return {};
}
