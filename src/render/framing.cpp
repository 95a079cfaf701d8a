#include "render/framing.h"

#include <algorithm>
#include <cstring>

#include "common/picture.h"

size_t Framing::bytes() const { return size_t(width) * size_t(height) * kImageBytesPerPixel; }

bool Framing::is_picture() const {
    return scale == 1 && width == kImageWidth && height == kImageHeight;
}

Framing framing_for(int32_t scale, int32_t width, int32_t height) {
    Framing f;
    if (width > 0) {
        f.scale = std::min({width / kImageWidth, height / kImageHeight, kMaxScale});
        f.width = width;
        f.height = height;
    } else {
        f.scale = scale > 0 ? scale : 1;
        f.width = kImageWidth * f.scale;
        f.height = kImageHeight * f.scale;
    }
    f.x = (f.width - kImageWidth * f.scale) / 2;
    f.y = (f.height - kImageHeight * f.scale) / 2;
    return f;
}

void frame_picture(const uint8_t* picture, const Framing& f, uint8_t* out) {
    const size_t out_pitch = size_t(f.width) * kImageBytesPerPixel;
    const size_t row_bytes = size_t(kImageWidth) * f.scale * kImageBytesPerPixel;
    for (int32_t y = 0; y < kImageHeight; ++y) {
        uint8_t* row = out + (size_t(f.y) + size_t(y) * f.scale) * out_pitch +
                       size_t(f.x) * kImageBytesPerPixel;
        const uint8_t* in = picture + size_t(y) * kImagePitch;
        uint8_t* at = row;
        for (int32_t x = 0; x < kImageWidth; ++x, in += kImageBytesPerPixel)
            for (int32_t r = 0; r < f.scale; ++r, at += kImageBytesPerPixel)
                std::memcpy(at, in, kImageBytesPerPixel);
        for (int32_t r = 1; r < f.scale; ++r) std::memcpy(row + r * out_pitch, row, row_bytes);
    }
}
