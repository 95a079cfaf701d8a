#include "render/png_writer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using test_support::TempDir;

// A picture whose every pixel and channel differs from its neighbours, so any swap of
// channels, rows or columns shows.
std::vector<uint8_t> pattern(int width, int height) {
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i * 7 + i / 3);
    return bgr;
}

// Decodes `path` with libpng into rows of red, green, blue: the order a viewer shows.
bool read_rgb(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    rgb->resize(PNG_IMAGE_SIZE(image));
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    return png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) != 0;
}

TEST(PngWriter, WritesEightBitRgbInTheTrueChannelOrder) {
    TempDir dir;
    constexpr int kWidth = 40, kHeight = 30;
    const std::vector<uint8_t> bgr = pattern(kWidth, kHeight);
    ASSERT_EQ(write_png_file(dir.file("p.png"), bgr.data(), kWidth, kHeight), "");

    const std::vector<uint8_t> bytes = test_support::read_file(dir.file("p.png"));
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes[24], 8);  // bit depth
    EXPECT_EQ(bytes[25], 2);  // colour type: RGB, no alpha, no palette

    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(read_rgb(dir.file("p.png"), &width, &height, &rgb));
    ASSERT_EQ(width, kWidth);
    ASSERT_EQ(height, kHeight);
    for (size_t p = 0; p < bgr.size() / 3; ++p) {
        ASSERT_EQ(rgb[3 * p], bgr[3 * p + 2]) << "red of pixel " << p;
        ASSERT_EQ(rgb[3 * p + 1], bgr[3 * p + 1]) << "green of pixel " << p;
        ASSERT_EQ(rgb[3 * p + 2], bgr[3 * p]) << "blue of pixel " << p;
    }
}

TEST(PngWriter, ReportsFilesThatCannotBeWritten) {
    TempDir dir;
    const std::vector<uint8_t> bgr = pattern(400, 300);
    const std::string missing = dir.file("none/p.png");
    EXPECT_EQ(write_png_file(missing, bgr.data(), 400, 300).find("cannot write " + missing), 0u);
    // A full disk: libpng's own write fails, or the final flush does.
    const std::string full = write_png_file("/dev/full", bgr.data(), 400, 300);
    EXPECT_EQ(full.find("cannot write /dev/full"), 0u) << full;
}

}  // namespace
