// The loader accepts exactly the canonical 16-bit stereo 44,100 Hz layout; every header check
// is exercised on files the tests write, in the order the loader makes them.
#include "audio/wav_loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "support/test_support.h"

using test_support::canonical_wav;
using test_support::put_u16;
using test_support::put_u32;
using Bytes = std::vector<uint8_t>;

namespace {

struct LoadResult {
    bool ok;
    std::string printed;
    uint32_t frames;
    const int16_t* samples;
};

// Loads `path` and captures what the loader printed; the outputs start as sentinels.
LoadResult load_path(const std::string& path) {
    LoadResult r{false, "", 0xDEADBEEF, nullptr};
    testing::internal::CaptureStdout();
    r.ok = load_wav(path.c_str(), &r.frames, &r.samples);
    r.printed = testing::internal::GetCapturedStdout();
    return r;
}

LoadResult load_bytes(const Bytes& bytes) {
    test_support::TempDir dir;
    test_support::write_file(dir.file("track.wav"), bytes);
    return load_path(dir.file("track.wav"));
}

Bytes valid_wav() { return canonical_wav({1, -1, 300, -300, 32767, -32768}); }

// Keeps the RIFF size true to the file after a change of length.
void fix_riff_size(Bytes& b) { put_u32(b, 4, static_cast<uint32_t>(b.size() - 8)); }

void expect_rejected(const Bytes& bytes, const std::string& line) {
    const LoadResult r = load_bytes(bytes);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.printed, line.empty() ? "" : line + "\n");
    EXPECT_EQ(r.frames, 0xDEADBEEF) << "outputs must be left alone on failure";
    EXPECT_EQ(r.samples, nullptr);
}

}  // namespace

TEST(WavLoader, LoadsCanonicalFileAndPointsAtTheSamples) {
    const LoadResult r = load_bytes(valid_wav());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.printed, "");
    EXPECT_EQ(r.frames, 3u);
    const int16_t expected[] = {1, -1, 300, -300, 32767, -32768};
    EXPECT_EQ(std::memcmp(r.samples, expected, sizeof expected), 0);
}

TEST(WavLoader, AcceptedEdgeCases) {
    for (uint32_t extra = 0; extra < 4; ++extra) {  // data of 0 to 3 bytes: no whole frame
        Bytes b = canonical_wav({});
        b.resize(b.size() + extra, 0x55);
        fix_riff_size(b);
        put_u32(b, 40, extra);
        const LoadResult r = load_bytes(b);
        EXPECT_TRUE(r.ok) << extra;
        EXPECT_EQ(r.frames, 0u);
    }
    Bytes b = valid_wav();  // trailing bytes are fine while the RIFF size counts them
    b.insert(b.end(), {'j', 'u', 'n', 'k', 0, 0, 0, 0});
    fix_riff_size(b);
    EXPECT_EQ(load_bytes(b).frames, 3u);
    b = valid_wav();
    put_u16(b, 32, 7);  // the block alignment is not looked at
    EXPECT_TRUE(load_bytes(b).ok);
}

TEST(WavLoader, EachHeaderCheckRejectsWithItsLine) {
    const char* corrupted = "wav is corrupted";
    const char* unsupported = "wav is unsupported";
    struct Case {
        const char* what;
        std::function<void(Bytes&)> spoil;
        const char* line;
    };
    const Case cases[] = {
        {"empty file", [](Bytes& b) { b.clear(); }, ""},
        {"43 bytes", [](Bytes& b) { b.resize(43); }, ""},
        {"RIFX", [](Bytes& b) { std::memcpy(&b[0], "RIFX", 4); }, corrupted},
        {"RIFF size short", [](Bytes& b) { put_u32(b, 4, uint32_t(b.size() - 9)); }, corrupted},
        {"an uncounted byte", [](Bytes& b) { b.push_back(0); }, corrupted},
        {"RIFF size wraps", [](Bytes& b) { put_u32(b, 4, 0xFFFFFFF8u); }, corrupted},
        {"AVI", [](Bytes& b) { std::memcpy(&b[8], "AVI ", 4); }, corrupted},
        {"fmt_", [](Bytes& b) { std::memcpy(&b[12], "fmt_", 4); }, corrupted},
        {"18-byte fmt", [](Bytes& b) { put_u32(b, 16, 18); }, unsupported},
        {"float", [](Bytes& b) { put_u16(b, 20, 3); }, unsupported},
        {"mono", [](Bytes& b) { put_u16(b, 22, 1); }, unsupported},
        {"48 kHz", [](Bytes& b) { put_u32(b, 24, 48000); }, unsupported},
        {"byte rate", [](Bytes& b) { put_u32(b, 28, 192000); }, unsupported},
        {"8-bit", [](Bytes& b) { put_u16(b, 34, 8); }, unsupported},
        {"24-bit", [](Bytes& b) { put_u16(b, 34, 24); }, unsupported},
        {"LIST before data",
         [](Bytes& b) {
             const uint8_t list[] = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
             b.insert(b.begin() + 36, std::begin(list), std::end(list));
             fix_riff_size(b);
         },
         corrupted},
        {"data past the end", [](Bytes& b) { put_u32(b, 40, 13); }, corrupted},
        {"data size wraps", [](Bytes& b) { put_u32(b, 40, 0xFFFFFFF0u); }, corrupted},
        // The checks run in order: identity before format, format before "data".
        {"AVI and mono",
         [](Bytes& b) {
             std::memcpy(&b[8], "AVI ", 4);
             put_u16(b, 22, 1);
         }, corrupted},
        {"mono and no data",
         [](Bytes& b) {
             put_u16(b, 22, 1);
             std::memcpy(&b[36], "LIST", 4);
         }, unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = valid_wav();
        c.spoil(b);
        expect_rejected(b, c.line);
    }
}

TEST(WavLoader, FilesThatCannotBeReadWholeFailCleanly) {
    EXPECT_EQ(load_path("/nonexistent/tessaloon.wav").printed, "");
    // No size to seek to (a pipe) or nothing to read (a folder): silent, no giant allocation.
    EXPECT_EQ(load_path("/dev/stdin").printed, "");
    EXPECT_EQ(load_path(test_support::kSourceDir).printed, "");

    // A sparse file of 4 GiB + 9 bytes, more than any 32-bit RIFF size can describe: refused
    // from its header, without reading it all.
    test_support::TempDir dir;
    const std::string path = dir.file("huge.wav");
    test_support::write_file(path, valid_wav());
    ASSERT_EQ(truncate(path.c_str(), (off_t{1} << 32) + 9), 0);
    const LoadResult r = load_path(path);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.printed, "wav is corrupted\n");
}

TEST(WavLoader, ParsesFromMemoryWithinBounds) {
    // parse_wav never looks past `size`: a header cut anywhere is rejected, never read beyond.
    const Bytes full = valid_wav();
    for (size_t n = 0; n < 44; ++n) {
        const Bytes cut(full.begin(), full.begin() + static_cast<long>(n));
        PcmTrack track;
        EXPECT_EQ(parse_wav(cut.data(), cut.size(), &track), WavStatus::unreadable) << n;
    }
    PcmTrack track;
    ASSERT_EQ(parse_wav(full.data(), full.size(), &track), WavStatus::ok);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(track.samples), full.data() + 44);
}
