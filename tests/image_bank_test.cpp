// The image bank: frame choice by time, the embedded pictures against the PNGs they are
// built from (decoded here with stb_image, independently of the build's libpng converter),
// and the converter's failure paths. (artwork_test checks the PNGs against their generator.)
#include "visuals/image_bank.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "support/test_support.h"

namespace {

using namespace test_support;

int index_in(const RawImage* const* table, int count, const RawImage* picked) {
    return static_cast<int>(std::find(table, table + count, picked) - table);
}

TEST(FrameChoice, PicksByTruncatedFrameNumberAndFrameZeroOutsideTheCounter) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const struct {
        double ms;
        int star, globe;
    } cases[] = {{0.0, 0, 0},
                 {99.999, 0, 0},
                 {199.999, 0, 1},
                 {200.0, 1, 2},
                 {1999.9, 9, 19},
                 {2000.0, 10, 0},
                 {4799.999, 23, 7},
                 {4800.0, 0, 8},
                 {15400.0, 5, 14},
                 // Before the clock origin only frame 0 keeps the index inside the tables.
                 {-0.001, 0, 0},
                 {-199.999, 0, 0},
                 {-200.0, 0, 0},
                 {-4800.0, 0, 0},
                 {-1e15, 0, 0},
                 {-kInf, 0, 0},
                 // The 32-bit counter's last frame (2^31 - 1), then past it or no number at all.
                 {2147483647.5 * 100.0, 15, 7},
                 {2147483647.5 * 200.0, 7, 0},
                 {1e300, 0, 0},
                 {kInf, 0, 0},
                 {std::nan(""), 0, 0}};
    for (const auto& k : cases) {
        EXPECT_EQ(index_in(star_frames.data(), kStarFrameCount, star_for(k.ms)), k.star) << k.ms;
        EXPECT_EQ(index_in(globe_frames.data(), kGlobeFrameCount, globe_for(k.ms)), k.globe)
            << k.ms;
    }
}

std::string asset_path(int picture) {
    char name[32] = "end_card.png";
    if (picture < kEndCardPicture)
        std::snprintf(name, sizeof name,
                      picture < kFirstGlobePicture ? "stars/%02d.png" : "globe/%02d.png",
                      picture < kFirstGlobePicture ? picture : picture - kFirstGlobePicture);
    return kSourceDir + "/assets/" + name;
}

TEST(EmbeddedPictures, EveryTableEntryHoldsItsPngByteForByte) {
    std::vector<const RawImage*> pictures(star_frames.begin(), star_frames.end());
    pictures.insert(pictures.end(), globe_frames.begin(), globe_frames.end());
    pictures.push_back(&end_card);
    for (int i = 0; i < kPictureCount; ++i) {
        const std::string path = asset_path(i);
        int width = 0, height = 0, channels = 0;
        stbi_uc* rgb = stbi_load(path.c_str(), &width, &height, &channels, 3);
        ASSERT_NE(rgb, nullptr) << path << ": " << stbi_failure_reason();
        ASSERT_TRUE(width == kImageWidth && height == kImageHeight) << path;
        for (size_t k = 0; k < kImageBytes; k += 3) std::swap(rgb[k], rgb[k + 2]);
        EXPECT_EQ(std::memcmp(pictures[i]->bgr, rgb, kImageBytes), 0) << path;
        stbi_image_free(rgb);
    }
}

void write_png(const std::string& path, int width, int height, int channels) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + i / 1201);
    ASSERT_TRUE(stbi_write_png(path.c_str(), width, height, channels, pixels.data(), 0));
}

// A bad input after a good one fails the run, names the file and leaves no blob: neither a
// partial one nor the one a previous good run wrote. Any number of pictures but the bank's is
// a usage error.
TEST(PackImages, RejectsBadInputsAndLeavesNoBlob) {
    const std::string packer = kBuildDir + "/starglobe-pack-images";
    TempDir dir;
    const struct {
        const char* name;
        int width, height, channels;
    } pngs[] = {{"good", kImageWidth, kImageHeight, 3},
                {"wide", kImageWidth + 1, kImageHeight, 3},
                {"short", kImageWidth, kImageHeight - 1, 3},
                {"alpha", kImageWidth, kImageHeight, 4},
                {"grey", kImageWidth, kImageHeight, 1}};
    for (const auto& p : pngs)
        write_png(dir.file(p.name + std::string(".png")), p.width, p.height, p.channels);
    write_file(dir.file("text.png"), {'h', 'e', 'l', 'l', 'o'});
    const std::vector<uint8_t> good = read_file(dir.file("good.png"));
    write_file(dir.file("truncated.png"), {good.begin(), good.begin() + long(good.size() / 2)});
    const std::string out = dir.file("bank.bin");
    for (const char* name :
         {"wide", "short", "alpha", "grey", "text", "truncated", "missing", ""}) {
        const std::string bad = dir.file(std::string(name) + ".png");
        if (*name) write_file(out, std::vector<uint8_t>(kImageBytes, 1));
        std::vector<std::string> args = {packer, out};
        args.insert(args.end(), *name ? kPictureCount - 1 : 1, dir.file("good.png"));
        if (*name) args.push_back(bad);
        const auto run = run_program(args, dir.path);
        EXPECT_EQ(run.exit_code, 1) << name;
        EXPECT_TRUE(!*name || run.err.find(bad) != std::string::npos) << run.err;
        EXPECT_NE(access(out.c_str(), F_OK), 0) << name;
        EXPECT_NE(access((out + ".part").c_str(), F_OK), 0) << name;
    }
}

}  // namespace
