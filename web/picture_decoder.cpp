#include "picture_decoder.h"

#include <cstdint>

#include "common/picture.h"
#include "common/quoting.h"
#include "visuals/picture_store.h"

// stb_image is third-party code: its own warnings are not ours to fix.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Weverything"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>
#pragma clang diagnostic pop

namespace {
constexpr int kRgbChannels = 3;  // what stb_image is asked for: red, green, blue
}  // namespace

Outcome decode_picture(int32_t index, const uint8_t* png, size_t size, const std::string& name) {
    const auto unusable = [&](const std::string& why) {
        return failed("cannot decode " + quoted(name) + ": " + why);
    };
    if (index < 0 || index >= kPictureCount)
        return unusable("the bank has no picture " + std::to_string(index));
    if (size > INT32_MAX) return unusable("far too large for a picture");
    int w = 0, h = 0, channels = 0;
    stbi_uc* rgb =
        stbi_load_from_memory(png, static_cast<int>(size), &w, &h, &channels, kRgbChannels);
    if (!rgb)
        return unusable(std::string("not a PNG file, or a damaged one (stb_image: ") +
                        stbi_failure_reason() + ")");
    const bool fits = w == kImageWidth && h == kImageHeight;
    if (fits) {
        uint8_t* out = starglobe_pictures[index].bgr;
        for (int n = 0; n < kImagePixels; ++n) {
            out[kImageBytesPerPixel * n + 0] = rgb[kRgbChannels * n + 2];
            out[kImageBytesPerPixel * n + 1] = rgb[kRgbChannels * n + 1];
            out[kImageBytesPerPixel * n + 2] = rgb[kRgbChannels * n + 0];
        }
    }
    stbi_image_free(rgb);
    if (!fits)
        return unusable(std::to_string(w) + " x " + std::to_string(h) + " pixels, not " +
                        std::to_string(kImageWidth) + " x " + std::to_string(kImageHeight));
    return {};
}
