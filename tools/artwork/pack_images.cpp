// starglobe-pack-images: the build's converter from the committed PNGs to the image bank's
// raw pictures.
//
//   starglobe-pack-images OUT IN.png...
//
// Writes to OUT every picture in the order given, each as bytes blue, green, red per pixel,
// rows top to bottom, with no header and no padding: the RawImage layout, ready for the
// assembler's .incbin. Every input must be an 8-bit RGB PNG of exactly 400 x 300 pixels; its
// bytes are taken as they are, with no colour or gamma conversion. On any failure OUT does
// not exist afterwards and the status is 1.
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/outcome.h"
#include "common/picture.h"
#include "common/quoting.h"

namespace {

// Far beyond any 400 x 300 PNG; stops runaway reads.
constexpr size_t kMaxFileBytes = size_t{64} << 20;
constexpr size_t kSignatureBytes = 8;

struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t offset;
};

void read_from_memory(png_structp png, png_bytep out, size_t count) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (count > reader->size - reader->offset) png_error(png, "file ends early");
    std::memcpy(out, reader->data + reader->offset, count);
    reader->offset += count;
}

// libpng's reason for the error it is about to jump back with, kept for our message rather
// than printed.
struct LibpngError {
    char text[128] = "";
};

[[noreturn]] void keep_error(png_structp png, png_const_charp message) {
    auto* error = static_cast<LibpngError*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "%s", message);
    png_longjmp(png, 1);
}

Outcome read_whole_file(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return failed("cannot read " + quoted(path) + ": " + std::strerror(errno));
    bytes->clear();
    uint8_t block[1 << 16];
    for (size_t n;
         bytes->size() <= kMaxFileBytes && (n = std::fread(block, 1, sizeof block, file)) > 0;)
        bytes->insert(bytes->end(), block, block + n);
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error != 0) return failed("cannot read " + quoted(path) + ": " + std::strerror(error));
    if (bytes->size() > kMaxFileBytes)
        return failed("cannot read " + quoted(path) + ": over " +
                      std::to_string(kMaxFileBytes >> 20) + " MiB, far too large for a picture");
    return {};
}

// Decodes `file`, read from `path`, into `out` (kImageBytes, blue, green, red).
Outcome decode(const std::string& path, const std::vector<uint8_t>& file, uint8_t* out) {
    const auto unusable = [&](const std::string& why) {
        return failed("cannot pack " + quoted(path) + ": " + why);
    };
    if (file.size() < kSignatureBytes || png_sig_cmp(file.data(), 0, kSignatureBytes) != 0)
        return unusable("not a PNG file");
    LibpngError error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, keep_error, nullptr);
    if (!png) return unusable("out of memory");
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{file.data(), file.size(), 0};
    png_bytep rows[kImageHeight];
    // libpng reports errors by jumping back here; nothing on this frame needs unwinding.
    if (!info || setjmp(png_jmpbuf(png))) {
        const std::string why = info ? error.text : "out of memory";
        png_destroy_read_struct(&png, &info, nullptr);
        return unusable("damaged PNG data (" + why + ")");
    }
    png_set_read_fn(png, &reader, read_from_memory);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (width != kImageWidth || height != kImageHeight) {
        png_destroy_read_struct(&png, &info, nullptr);
        return unusable(std::to_string(width) + " x " + std::to_string(height) + " pixels, not " +
                        std::to_string(kImageWidth) + " x " + std::to_string(kImageHeight));
    }
    if (png_get_bit_depth(png, info) != 8 || png_get_color_type(png, info) != PNG_COLOR_TYPE_RGB) {
        png_destroy_read_struct(&png, &info, nullptr);
        return unusable("not 8-bit RGB (no alpha, palette, grey or 16-bit)");
    }
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    for (int y = 0; y < kImageHeight; ++y) rows[y] = out + static_cast<size_t>(y) * kImagePitch;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return {};
}

Outcome cannot_write(const std::string& path, int error) {
    return failed("cannot write " + quoted(path) + ": " + std::strerror(error));
}

// Writes the pictures `inputs` to `output`, by way of `partial`.
Outcome pack(const std::string& output, const std::string& partial,
             const std::vector<std::string>& inputs) {
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (!file) return cannot_write(partial, errno);
    std::vector<uint8_t> picture(kImageBytes);
    std::vector<uint8_t> bytes;
    for (const std::string& input : inputs) {
        Outcome packed = read_whole_file(input, &bytes);
        if (packed) packed = decode(input, bytes, picture.data());
        if (packed && std::fwrite(picture.data(), 1, picture.size(), file) != picture.size())
            packed = cannot_write(partial, errno);
        if (!packed) {
            std::fclose(file);
            return packed;
        }
    }
    if (std::fclose(file) != 0) return cannot_write(partial, errno);
    if (std::rename(partial.c_str(), output.c_str()) != 0) return cannot_write(output, errno);
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    constexpr int kFirstInput = 2;
    if (argc != kFirstInput + kPictureCount) {
        std::fprintf(stderr, "usage: %s OUT IN.png... (exactly %d pictures)\n", argv[0],
                     kPictureCount);
        return 1;
    }
    const std::string output = argv[1];
    // Written under another name and renamed when complete: a failed or interrupted run never
    // leaves a short blob behind for the assembler.
    const std::string partial = output + ".part";
    if (Outcome packed = pack(output, partial, {argv + kFirstInput, argv + argc}); !packed) {
        std::fprintf(stderr, "%s\n", packed.message.c_str());
        std::remove(partial.c_str());
        std::remove(output.c_str());
        return 1;
    }
    return 0;
}
