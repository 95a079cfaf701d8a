#include "render/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kBytesPerPixel = 3;
// The frames are mostly noise, which no PNG row filter predicts and no deeper search of zlib's
// compresses better: the fast flag's unfiltered rows at zlib's level 3 come out about as small
// as filtered ones at the default level and are written faster.
constexpr png_uint_32 kFlags = PNG_IMAGE_FLAG_FAST;

}  // namespace

Outcome write_png_file(const std::string& path, const uint8_t* bgr, int32_t width, int32_t height,
                       PngCreate create, bool* created) {
    FILE* file = std::fopen(path.c_str(), create == PngCreate::new_only ? "wbxe" : "wbe");
    if (created) *created = file != nullptr;
    if (!file) return failed(std::strerror(errno));
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_BGR;  // the file stores red, green, blue; libpng swaps them
    image.flags = kFlags;
    const auto stride = static_cast<png_int_32>(width * kBytesPerPixel);
    const bool written = png_image_write_to_stdio(&image, file, 0, bgr, stride, nullptr) != 0;
    // A full disk shows as libpng's "Write Error", or only when the buffered rest is flushed;
    // the system's reason says more.
    const int write_errno = std::ferror(file) ? errno : 0;
    const bool close_failed = std::fclose(file) != 0;
    if (write_errno != 0) return failed(std::strerror(write_errno));
    if (!written) return failed(image.message);
    if (close_failed) return failed(std::strerror(errno));
    return {};
}
