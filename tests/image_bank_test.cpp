// The image bank: frame choice by time, the embedded pictures against the PNGs they are
// built from (decoded here with stb_image, independently of the build's libpng converter),
// the look the compositor is balanced for, and the converter itself.
#include "visuals/image_bank.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/test_support.h"

namespace {

using test_support::kBuildDir;
using test_support::kSourceDir;

constexpr double kInf = std::numeric_limits<double>::infinity();

// ---------------------------------------------------------------------------------------
// Frame choice

int star_index(double ms) {
    const RawImage* picked = star_for(ms);
    for (int i = 0; i < kStarFrameCount; ++i)
        if (star_frames[i] == picked) return i;
    return -1;
}

int globe_index(double ms) {
    const RawImage* picked = globe_for(ms);
    for (int i = 0; i < kGlobeFrameCount; ++i)
        if (globe_frames[i] == picked) return i;
    return -1;
}

TEST(FrameChoice, StarFieldAdvancesEvery200MsAndLoopsAfter24) {
    EXPECT_EQ(star_index(0.0), 0);
    EXPECT_EQ(star_index(199.999), 0);
    EXPECT_EQ(star_index(200.0), 1);
    EXPECT_EQ(star_index(399.999), 1);
    EXPECT_EQ(star_index(4600.0), 23);
    EXPECT_EQ(star_index(4799.999), 23);
    EXPECT_EQ(star_index(4800.0), 0);
    EXPECT_EQ(star_index(5000.0), 1);
    EXPECT_EQ(star_index(3.0 * 4800.0 + 1000.0), 5);
}

TEST(FrameChoice, GlobeAdvancesEvery100MsAndLoopsAfter20) {
    EXPECT_EQ(globe_index(0.0), 0);
    EXPECT_EQ(globe_index(99.999), 0);
    EXPECT_EQ(globe_index(100.0), 1);
    EXPECT_EQ(globe_index(1999.9), 19);
    EXPECT_EQ(globe_index(2000.0), 0);
    EXPECT_EQ(globe_index(2100.0), 1);
    EXPECT_EQ(globe_index(7.0 * 2000.0 + 1234.5), 12);
}

TEST(FrameChoice, TimesBeforeTheClockOriginPickFrameZero) {
    // Within one frame of the origin the truncated quotient is 0 anyway; further back the
    // remainder would be negative, and only frame 0 keeps the index in the table.
    for (double ms : {-0.0, -0.001, -99.999, -100.0, -199.999, -200.0, -350.0, -4800.0,
                      -123456.789, -1e15, -kInf}) {
        EXPECT_EQ(star_index(ms), 0) << ms;
        EXPECT_EQ(globe_index(ms), 0) << ms;
    }
}

TEST(FrameChoice, QuotientIsTruncatedToA32BitCounter) {
    // The largest frame number the counter holds: 2^31 - 1 = 24 * 89478485 + 7 and
    // = 20 * 107374182 + 7.
    EXPECT_EQ(star_index(2147483647.5 * 200.0), 7);
    EXPECT_EQ(globe_index(2147483647.5 * 100.0), 7);
    // Past the counter (or a clock giving no number at all) stays inside the tables.
    for (double ms : {2147483648.0 * 200.0, 1e300, kInf, std::nan("")}) {
        EXPECT_EQ(star_index(ms), 0) << ms;
        EXPECT_EQ(globe_index(ms), 0) << ms;
    }
}

// ---------------------------------------------------------------------------------------
// The embedded pictures against the PNGs

struct Png {
    std::string path;
    bool loaded = false;
    int width = 0, height = 0, channels = 0;
    bool sixteen_bit = false;
    std::vector<uint8_t> bgr;  // the RawImage layout
};

Png decode_png(const std::string& path) {
    Png png;
    png.path = path;
    png.sixteen_bit = stbi_is_16_bit(path.c_str()) != 0;
    stbi_uc* rgb = stbi_load(path.c_str(), &png.width, &png.height, &png.channels, 3);
    if (!rgb) return png;
    png.loaded = true;
    png.bgr.resize(static_cast<size_t>(png.width) * png.height * 3);
    for (size_t i = 0; i < png.bgr.size(); i += 3) {
        png.bgr[i] = rgb[i + 2];
        png.bgr[i + 1] = rgb[i + 1];
        png.bgr[i + 2] = rgb[i];
    }
    stbi_image_free(rgb);
    return png;
}

std::string two_digits(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

// The PNGs in table order: star field, globe, end card. Decoded once for all tests.
const std::vector<Png>& asset_pngs() {
    static const std::vector<Png> pngs = [] {
        std::vector<Png> all;
        const std::string assets = kSourceDir + "/assets/";
        for (int i = 0; i < kStarFrameCount; ++i)
            all.push_back(decode_png(assets + "stars/" + two_digits(i) + ".png"));
        for (int i = 0; i < kGlobeFrameCount; ++i)
            all.push_back(decode_png(assets + "globe/" + two_digits(i) + ".png"));
        all.push_back(decode_png(assets + "end_card.png"));
        return all;
    }();
    return pngs;
}

std::vector<const RawImage*> table_order() {
    std::vector<const RawImage*> all(star_frames, star_frames + kStarFrameCount);
    all.insert(all.end(), globe_frames, globe_frames + kGlobeFrameCount);
    all.push_back(&end_card);
    return all;
}

TEST(EmbeddedPictures, AssetsAre8BitRgbPngsOfTheScreenSize) {
    for (const Png& png : asset_pngs()) {
        ASSERT_TRUE(png.loaded) << png.path << ": " << stbi_failure_reason();
        EXPECT_EQ(png.width, kImageWidth) << png.path;
        EXPECT_EQ(png.height, kImageHeight) << png.path;
        EXPECT_EQ(png.channels, 3) << png.path;
        EXPECT_FALSE(png.sixteen_bit) << png.path;
    }
}

TEST(EmbeddedPictures, EveryTableEntryHoldsItsPngByteForByte) {
    const std::vector<Png>& pngs = asset_pngs();
    const std::vector<const RawImage*> pictures = table_order();
    ASSERT_EQ(pngs.size(), pictures.size());
    for (size_t i = 0; i < pngs.size(); ++i) {
        ASSERT_TRUE(pngs[i].loaded) << pngs[i].path;
        ASSERT_EQ(pngs[i].bgr.size(), kImageBytes) << pngs[i].path;
        EXPECT_EQ(std::memcmp(pictures[i]->bgr, pngs[i].bgr.data(), kImageBytes), 0)
            << pngs[i].path << " differs from its embedded picture";
    }
}

TEST(EmbeddedPictures, All45AreDistinctAndTheEndCardIsInNeitherTable) {
    const std::vector<const RawImage*> pictures = table_order();
    ASSERT_EQ(pictures.size(), static_cast<size_t>(kPictureCount));
    EXPECT_EQ(std::set<const RawImage*>(pictures.begin(), pictures.end()).size(), pictures.size());
    for (size_t a = 0; a < pictures.size(); ++a)
        for (size_t b = a + 1; b < pictures.size(); ++b)
            EXPECT_NE(std::memcmp(pictures[a]->bgr, pictures[b]->bgr, kImageBytes), 0)
                << "pictures " << a << " and " << b << " are the same";
}

TEST(EmbeddedPictures, LieInReadOnlyMemory) {
    std::vector<std::string> lines;
    FILE* maps = std::fopen("/proc/self/maps", "r");
    ASSERT_NE(maps, nullptr) << "no /proc/self/maps";
    for (char line[512]; std::fgets(line, sizeof line, maps);) lines.push_back(line);
    std::fclose(maps);
    std::vector<std::pair<const void*, std::string>> probes = {
        {star_frames[0], "star frame 0"},
        {globe_frames[kGlobeFrameCount - 1]->bgr + kImageBytes - 1, "last byte of globe 19"},
        {&end_card, "end card"}};
    for (const auto& [address, name] : probes) {
        const auto where = reinterpret_cast<uintptr_t>(address);
        bool found = false;
        for (const std::string& line : lines) {
            uintptr_t start = 0, end = 0;
            char perms[5] = {};
            if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3) continue;
            if (where < start || where >= end) continue;
            found = true;
            EXPECT_EQ(perms[0], 'r') << name << ": " << line;
            EXPECT_EQ(perms[1], '-') << name << " is writable: " << line;
        }
        EXPECT_TRUE(found) << name;
    }
}

// ---------------------------------------------------------------------------------------
// The look: the compositor is balanced for these levels, and the loops must not jump.

struct Means {
    double blue = 0.0, green = 0.0, red = 0.0;
};

Means means(const RawImage& picture) {
    double sum[3] = {0.0, 0.0, 0.0};
    for (size_t i = 0; i < kImageBytes; ++i) sum[i % 3] += picture.bgr[i];
    return {sum[0] / kImagePixels, sum[1] / kImagePixels, sum[2] / kImagePixels};
}

double mean_difference(const RawImage& a, const RawImage& b) {
    double sum = 0.0;
    for (size_t i = 0; i < kImageBytes; ++i) sum += std::abs(a.bgr[i] - b.bgr[i]);
    return sum / kImageBytes;
}

TEST(Artwork, StarFieldLevelsAreWithinAFifthOfTheirTargets) {
    const double target[3] = {36.0, 4.0, 22.0};  // blue, green, red
    for (int i = 0; i < kStarFrameCount; ++i) {
        const Means m = means(*star_frames[i]);
        const double got[3] = {m.blue, m.green, m.red};
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(got[c], target[c], 0.2 * target[c]) << "star frame " << i << " channel " << c;
    }
}

TEST(Artwork, GlobeLevelsAreWithinTheirRangesInEveryFrame) {
    for (int i = 0; i < kGlobeFrameCount; ++i) {
        const Means m = means(*globe_frames[i]);
        EXPECT_GE(m.blue, 16.0) << "globe frame " << i;
        EXPECT_LE(m.blue, 26.0) << "globe frame " << i;
        EXPECT_GE(m.green, 13.0) << "globe frame " << i;
        EXPECT_LE(m.green, 28.0) << "globe frame " << i;
        EXPECT_GE(m.red, 7.0) << "globe frame " << i;
        EXPECT_LE(m.red, 25.0) << "globe frame " << i;
    }
}

// The step from the last frame back to the first is no bigger than the steps in between.
void expect_seamless(const RawImage* const* frames, int count, const char* name) {
    double largest = 0.0;
    for (int i = 0; i + 1 < count; ++i)
        largest = std::max(largest, mean_difference(*frames[i], *frames[i + 1]));
    const double seam = mean_difference(*frames[count - 1], *frames[0]);
    EXPECT_GT(seam, 0.0) << name;
    EXPECT_LE(seam, 1.1 * largest) << name << ": the loop jumps";
}

TEST(Artwork, BothSequencesLoopWithoutAJump) {
    expect_seamless(star_frames, kStarFrameCount, "star field");
    expect_seamless(globe_frames, kGlobeFrameCount, "globe");
}

// How far (px) the surface in the lit middle of the globe moves from one frame to the next:
// the horizontal shift that best lines up the two frames there.
int surface_shift(const RawImage& from, const RawImage& to) {
    constexpr int kLeft = 130, kRight = 230, kTop = 100, kBottom = 200, kReach = 45;
    int best_shift = 0;
    double best = std::numeric_limits<double>::max();
    for (int shift = -kReach; shift <= kReach; ++shift) {
        double sum = 0.0;
        for (int y = kTop; y < kBottom; ++y)
            for (int x = kLeft; x < kRight; ++x)
                for (int c = 0; c < 3; ++c)
                    sum += std::abs(to.bgr[(y * kImageWidth + x + shift) * 3 + c] -
                                    from.bgr[(y * kImageWidth + x) * 3 + c]);
        if (sum < best) best = sum, best_shift = shift;
    }
    return best_shift;
}

TEST(Artwork, GlobeTurnsWestToEastSoTheSurfaceMovesRight) {
    for (int i = 0; i < kGlobeFrameCount; ++i) {
        const int next = (i + 1) % kGlobeFrameCount;
        EXPECT_GT(surface_shift(*globe_frames[i], *globe_frames[next]), 5)
            << "from globe frame " << i << " to " << next;
    }
}

TEST(Artwork, EndCardIsCentredGreyTextOnBlack) {
    int left = kImageWidth, right = -1, top = kImageHeight, bottom = -1, brightest = 0;
    for (int y = 0; y < kImageHeight; ++y) {
        for (int x = 0; x < kImageWidth; ++x) {
            const uint8_t* p = &end_card.bgr[(y * kImageWidth + x) * 3];
            EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "coloured pixel at " << x << "," << y;
            if (p[0] == 0) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
            brightest = std::max(brightest, static_cast<int>(p[0]));
        }
    }
    EXPECT_EQ(brightest, 255) << "the title is white";
    ASSERT_GE(right, 0) << "the card is empty";
    EXPECT_NEAR(left + right, kImageWidth - 1, 4) << "text not centred across";
    EXPECT_NEAR(top + bottom, kImageHeight - 1, 4) << "text not centred down";
    // Anti-aliased: edges carry intermediate levels, not just black and white.
    std::set<uint8_t> levels(end_card.bgr, end_card.bgr + kImageBytes);
    EXPECT_GT(levels.size(), 32u);
}

// ---------------------------------------------------------------------------------------
// The build's converter, starglobe-pack-images

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

const std::string kPacker = kBuildDir + "/starglobe-pack-images";

// A picture whose every byte tells where it is: red, green and blue differ per pixel and
// per picture, so a swapped channel, row or picture shows.
std::vector<uint8_t> pattern_rgb(int picture, int width = kImageWidth, int height = kImageHeight,
                                 int channels = 3) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * channels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * channels];
            p[0] = static_cast<uint8_t>(x + picture);
            p[1] = static_cast<uint8_t>(y * 3 + picture);
            p[2] = static_cast<uint8_t>(x ^ y ^ (picture * 77));
            if (channels == 4) p[3] = 200;
        }
    }
    return rgb;
}

void write_png(const std::string& path, const std::vector<uint8_t>& pixels, int width,
               int height, int channels) {
    ASSERT_TRUE(stbi_write_png(path.c_str(), width, height, channels, pixels.data(),
                               width * channels))
        << path;
}

TEST(PackImages, WritesEachPictureInOrderAsBlueGreenRedRows) {
    test_support::TempDir dir;
    const std::string inputs[2] = {dir.file("p0.png"), dir.file("p1.png")};
    for (int i = 0; i < 2; ++i)
        write_png(inputs[i], pattern_rgb(i), kImageWidth, kImageHeight, 3);
    const std::string out = dir.file("bank.bin");
    const auto run = test_support::run_program(
        {kPacker, out, inputs[0], inputs[1]}, dir.path);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<uint8_t> blob = test_support::read_file(out);
    ASSERT_EQ(blob.size(), 2 * kImageBytes);
    for (int i = 0; i < 2; ++i) {
        const std::vector<uint8_t> rgb = pattern_rgb(i);
        for (size_t p = 0; p < static_cast<size_t>(kImagePixels); ++p) {
            const uint8_t* got = &blob[i * kImageBytes + p * 3];
            ASSERT_EQ(got[0], rgb[p * 3 + 2]) << "picture " << i << " pixel " << p << " blue";
            ASSERT_EQ(got[1], rgb[p * 3 + 1]) << "picture " << i << " pixel " << p << " green";
            ASSERT_EQ(got[2], rgb[p * 3]) << "picture " << i << " pixel " << p << " red";
        }
    }
    EXPECT_FALSE(exists(out + ".part"));
}

// Every rejected input fails the run, names the file and leaves no blob, not even the one a
// previous good run wrote.
void expect_rejected(const test_support::TempDir& dir, const std::string& bad) {
    write_png(dir.file("good.png"), pattern_rgb(0), kImageWidth, kImageHeight, 3);
    const std::string out = dir.file("bank.bin");
    test_support::write_file(out, std::vector<uint8_t>(kImageBytes, 1));
    const auto run =
        test_support::run_program({kPacker, out, dir.file("good.png"), bad}, dir.path);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find(bad), std::string::npos) << run.err;
    EXPECT_FALSE(exists(out));
    EXPECT_FALSE(exists(out + ".part"));
}

TEST(PackImages, RejectsPicturesOfAnotherSize) {
    test_support::TempDir dir;
    write_png(dir.file("wide.png"), pattern_rgb(0, kImageWidth + 1, kImageHeight), kImageWidth + 1,
              kImageHeight, 3);
    expect_rejected(dir, dir.file("wide.png"));
    write_png(dir.file("short.png"), pattern_rgb(0, kImageWidth, kImageHeight - 1), kImageWidth,
              kImageHeight - 1, 3);
    expect_rejected(dir, dir.file("short.png"));
}

TEST(PackImages, RejectsPicturesThatAreNot8BitRgb) {
    test_support::TempDir dir;
    write_png(dir.file("alpha.png"), pattern_rgb(0, kImageWidth, kImageHeight, 4), kImageWidth,
              kImageHeight, 4);
    expect_rejected(dir, dir.file("alpha.png"));
    std::vector<uint8_t> grey(static_cast<size_t>(kImagePixels), 128);
    write_png(dir.file("grey.png"), grey, kImageWidth, kImageHeight, 1);
    expect_rejected(dir, dir.file("grey.png"));
}

TEST(PackImages, RejectsMissingDamagedAndForeignFiles) {
    test_support::TempDir dir;
    expect_rejected(dir, dir.file("missing.png"));

    test_support::write_file(dir.file("text.png"), {'h', 'e', 'l', 'l', 'o'});
    expect_rejected(dir, dir.file("text.png"));

    write_png(dir.file("whole.png"), pattern_rgb(3), kImageWidth, kImageHeight, 3);
    std::vector<uint8_t> bytes = test_support::read_file(dir.file("whole.png"));
    bytes.resize(bytes.size() / 2);
    test_support::write_file(dir.file("truncated.png"), bytes);
    expect_rejected(dir, dir.file("truncated.png"));
}

TEST(PackImages, NeedsAnOutputAndAtLeastOnePicture) {
    test_support::TempDir dir;
    EXPECT_EQ(test_support::run_program({kPacker}, dir.path).exit_code, 1);
    EXPECT_EQ(test_support::run_program({kPacker, dir.file("bank.bin")}, dir.path).exit_code, 1);
    EXPECT_FALSE(exists(dir.file("bank.bin")));
}

}  // namespace
