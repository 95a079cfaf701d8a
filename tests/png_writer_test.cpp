#include "render/png_writer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using test_support::TempDir;

TEST(PngWriter, WritesEightBitRgbInTheTrueChannelOrderOrSaysWhyNot) {
    TempDir dir;
    // Every byte differs from its neighbours, so any swap of channels, rows or columns shows.
    std::vector<uint8_t> bgr(40 * 30 * 3);
    for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i * 7 + i / 3);
    ASSERT_TRUE(write_png_file(dir.file("p.png"), bgr.data(), 40, 30));

    const std::vector<uint8_t> bytes = test_support::read_file(dir.file("p.png"));
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes[24], 8);  // bit depth
    EXPECT_EQ(bytes[25], 2);  // colour type: RGB, no alpha, no palette
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()));
    EXPECT_EQ(image.width, 40u);
    EXPECT_EQ(image.height, 30u);
    image.format = PNG_FORMAT_BGR;  // libpng converts from the order the file declares
    std::vector<uint8_t> decoded(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr));
    EXPECT_TRUE(decoded == bgr);

    // A full disk: libpng's own write fails, or the final flush does.
    EXPECT_EQ(write_png_file("/dev/full", bgr.data(), 40, 30).message, "No space left on device");
    // A file somebody else made is left alone when only a new one may be made.
    bool created = true;
    test_support::write_file(dir.file("theirs.png"), {'t'});
    EXPECT_EQ(
        write_png_file(dir.file("theirs.png"), bgr.data(), 40, 30, PngCreate::new_only, &created)
            .message,
        "File exists");
    EXPECT_FALSE(created);
    EXPECT_EQ(test_support::read_file(dir.file("theirs.png")), std::vector<uint8_t>{'t'});
}

}  // namespace
