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

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/picture.h"

namespace {

constexpr long kMaxFileBytes = 64L << 20;  // far beyond any 400 x 300 PNG; stops runaway reads
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

bool read_whole_file(const char* path, std::vector<uint8_t>* bytes) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && size <= kMaxFileBytes && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        bytes->resize(static_cast<size_t>(size));
        ok = std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
    }
    std::fclose(file);
    return ok;
}

// Decodes `file` into `out` (kImageBytes, blue, green, red). On failure returns false and
// points `why` at a reason (libpng's own errors are also printed by libpng).
bool decode(const std::vector<uint8_t>& file, uint8_t* out, const char** why) {
    if (file.size() < kSignatureBytes || png_sig_cmp(file.data(), 0, kSignatureBytes) != 0) {
        *why = "not a PNG file";
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) {
        *why = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{file.data(), file.size(), 0};
    png_bytep rows[kImageHeight];
    // libpng reports errors by jumping back here; nothing on this frame needs unwinding.
    *why = "damaged PNG data";
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, read_from_memory);
    png_read_info(png, info);
    if (png_get_image_width(png, info) != kImageWidth ||
        png_get_image_height(png, info) != kImageHeight) {
        *why = "not 400 x 300 pixels";
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (png_get_bit_depth(png, info) != 8 || png_get_color_type(png, info) != PNG_COLOR_TYPE_RGB) {
        *why = "not 8-bit RGB (no alpha, palette, grey or 16-bit)";
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    for (int y = 0; y < kImageHeight; ++y) rows[y] = out + static_cast<size_t>(y) * kImagePitch;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

int fail(const std::string& output, const std::string& partial, FILE* file) {
    if (file) std::fclose(file);
    std::remove(partial.c_str());
    std::remove(output.c_str());
    return 1;
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
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "%s: cannot write\n", partial.c_str());
        return fail(output, partial, nullptr);
    }
    std::vector<uint8_t> picture(kImageBytes);
    std::vector<uint8_t> bytes;
    for (int i = kFirstInput; i < argc; ++i) {
        if (!read_whole_file(argv[i], &bytes)) {
            std::fprintf(stderr, "%s: cannot read\n", argv[i]);
            return fail(output, partial, file);
        }
        const char* why = "";
        if (!decode(bytes, picture.data(), &why)) {
            std::fprintf(stderr, "%s: %s\n", argv[i], why);
            return fail(output, partial, file);
        }
        if (std::fwrite(picture.data(), 1, picture.size(), file) != picture.size()) {
            std::fprintf(stderr, "%s: cannot write\n", partial.c_str());
            return fail(output, partial, file);
        }
    }
    const bool closed = std::fclose(file) == 0;
    if (!closed || std::rename(partial.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot write\n", output.c_str());
        return fail(output, partial, nullptr);
    }
    return 0;
}
