// pack_pictures: decodes the demo's PNG pictures with stb_image (picture_decoder.cpp) into the
// image bank's run-time store, as the web page once did on every first visit, and writes the
// store as it is: kPictureCount pictures back to back, blue, green, red. Run by the web build
// under node; the page streams the result, compressed, straight into its own store.
//
//     node pack_pictures.js OUT PNG...   (the PNGs in the bank's order)
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/picture.h"
#include "picture_decoder.h"
#include "visuals/picture_store.h"

int main(int argc, char** argv) {
    if (argc != 2 + kPictureCount) {
        std::fprintf(stderr, "usage: pack_pictures OUT PNG... (%d pictures)\n", kPictureCount);
        return 1;
    }
    for (int index = 0; index < kPictureCount; ++index) {
        const char* path = argv[2 + index];
        std::vector<uint8_t> png;
        if (std::FILE* file = std::fopen(path, "rb")) {
            uint8_t block[1 << 16];
            for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;)
                png.insert(png.end(), block, block + n);
            std::fclose(file);
        }
        if (!decode_picture(index, png.data(), png.size())) {
            std::fprintf(stderr, "pack_pictures: %s is not a %d x %d PNG\n", path, kImageWidth,
                         kImageHeight);
            return 1;
        }
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    const bool written =
        out && std::fwrite(starglobe_pictures, sizeof starglobe_pictures, 1, out) == 1;
    if (!out || std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "pack_pictures: cannot write %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
