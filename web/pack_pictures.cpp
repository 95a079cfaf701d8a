// pack_pictures: decodes the demo's PNG pictures with stb_image (picture_decoder.cpp) into the
// image bank's run-time store, as the web page once did on every first visit, and writes the
// store as it is: kPictureCount pictures back to back, blue, green, red. Run by the web build
// under node; the page streams the result, compressed, straight into its own store.
//
//     node pack_pictures.js OUT PNG...   (the PNGs in the bank's order)
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/outcome.h"
#include "common/picture.h"
#include "common/quoting.h"
#include "picture_decoder.h"
#include "visuals/picture_store.h"

namespace {

Outcome read_picture(int index, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return failed("cannot read " + quoted(path) + ": " + std::strerror(errno));
    std::vector<uint8_t> png;
    uint8_t block[1 << 16];
    for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;)
        png.insert(png.end(), block, block + n);
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error != 0) return failed("cannot read " + quoted(path) + ": " + std::strerror(error));
    return decode_picture(index, png.data(), png.size(), path);
}

Outcome write_store(const std::string& path) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return failed("cannot write " + quoted(path) + ": " + std::strerror(errno));
    int error = std::fwrite(starglobe_pictures, sizeof starglobe_pictures, 1, out) == 1 ? 0 : errno;
    if (std::fclose(out) != 0 && error == 0) error = errno;
    if (error == 0) return {};
    std::remove(path.c_str());
    return failed("cannot write " + quoted(path) + ": " + std::strerror(error));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 + kPictureCount) {
        std::fprintf(stderr, "usage: pack_pictures OUT PNG... (%d pictures)\n", kPictureCount);
        return 1;
    }
    Outcome packed;
    for (int index = 0; index < kPictureCount && packed; ++index)
        packed = read_picture(index, argv[2 + index]);
    if (packed) packed = write_store(argv[1]);
    if (!packed) {
        std::fprintf(stderr, "pack_pictures: %s\n", packed.message.c_str());
        return 1;
    }
    return 0;
}
