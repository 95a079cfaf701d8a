#include "render/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kBitDepth = 8;  // bits per channel
constexpr int kBytesPerPixel = 3;
// The frames are mostly noise, which no PNG row filter predicts: unfiltered rows come out as
// small as filtered ones and are written faster.
constexpr int kRowFilters = PNG_FILTER_NONE;

// libpng reports errors by calling this and expects it not to return; it jumps back into
// write_png with the message kept.
struct ErrorSink {
    jmp_buf jump;
    char message[256];
};

void on_png_error(png_structp png, png_const_charp message) {
    ErrorSink* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    longjmp(sink->jump, 1);
}

void on_png_warning(png_structp, png_const_charp) {}  // nothing a caller could act on

}  // namespace

std::string write_png(FILE* file, const uint8_t* bgr, int32_t width, int32_t height) {
    ErrorSink sink;
    sink.message[0] = '\0';
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, on_png_error, on_png_warning);
    if (!png) return "libpng cannot start";
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return "libpng cannot start";
    }
    // Nothing with a destructor lives between here and the calls that may jump back.
    if (setjmp(sink.jump)) {
        png_destroy_write_struct(&png, &info);
        return sink.message;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 kBitDepth, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, kRowFilters);
    png_write_info(png, info);
    png_set_bgr(png);  // the rows are blue, green, red; the file stores red, green, blue
    const size_t pitch = static_cast<size_t>(width) * kBytesPerPixel;
    for (int32_t y = 0; y < height; ++y) png_write_row(png, bgr + pitch * static_cast<size_t>(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return "";
}

std::string write_png_file(const std::string& path, const uint8_t* bgr, int32_t width,
                           int32_t height, PngCreate create, bool* created) {
    FILE* file = std::fopen(path.c_str(), create == PngCreate::new_only ? "wbxe" : "wbe");
    if (created) *created = file != nullptr;
    if (!file) return std::strerror(errno);
    std::string error = write_png(file, bgr, width, height);
    // A full disk shows as libpng's "Write Error", or only when the buffered rest is flushed;
    // the system's reason says more.
    const int write_errno = std::ferror(file) ? errno : 0;
    const bool close_failed = std::fclose(file) != 0;
    if (write_errno != 0 || (error.empty() && close_failed))
        error = std::strerror(write_errno != 0 ? write_errno : errno);
    return error;
}
