// The loader accepts exactly the canonical 16-bit stereo 44,100 Hz layout; every header check
// is exercised on files the tests write, in the order the loader makes them.
#include "audio/wav_loader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "support/test_support.h"

using test_support::canonical_wav;
using test_support::put_u16;
using test_support::put_u32;

namespace {

struct LoadResult {
    bool ok;
    std::string printed;
    uint32_t frames;
    const int16_t* samples;
};

// Writes `bytes` to a file, loads it and captures what the loader printed.
LoadResult load_bytes(const std::vector<uint8_t>& bytes) {
    test_support::TempDir dir;
    const std::string path = dir.file("track.wav");
    test_support::write_file(path, bytes);
    LoadResult r{false, "", 0xDEADBEEF, nullptr};
    testing::internal::CaptureStdout();
    r.ok = load_wav(path.c_str(), &r.frames, &r.samples);
    r.printed = testing::internal::GetCapturedStdout();
    return r;
}

std::vector<uint8_t> valid_wav() { return canonical_wav({1, -1, 300, -300, 32767, -32768}); }

void expect_rejected(const std::vector<uint8_t>& bytes, const std::string& line) {
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
    // Data of 0 to 3 bytes holds no whole frame.
    for (uint32_t extra = 0; extra < 4; ++extra) {
        std::vector<uint8_t> b = canonical_wav({});
        b.resize(b.size() + extra, 0x55);
        put_u32(b, 4, static_cast<uint32_t>(b.size() - 8));
        put_u32(b, 40, extra);
        const LoadResult r = load_bytes(b);
        EXPECT_TRUE(r.ok) << extra;
        EXPECT_EQ(r.frames, 0u);
    }
    // Trailing bytes after the data chunk are fine while the RIFF size counts them.
    std::vector<uint8_t> b = valid_wav();
    b.insert(b.end(), {'j', 'u', 'n', 'k', 0, 0, 0, 0});
    put_u32(b, 4, static_cast<uint32_t>(b.size() - 8));
    const LoadResult r = load_bytes(b);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.frames, 3u);
    // The block alignment field is not looked at.
    b = valid_wav();
    put_u16(b, 32, 7);
    EXPECT_TRUE(load_bytes(b).ok);
}

TEST(WavLoader, SilentFailures) {
    uint32_t frames = 7;
    const int16_t* samples = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(load_wav("/nonexistent/tessaloon.wav", &frames, &samples));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(frames, 7u);

    expect_rejected({}, "");
    std::vector<uint8_t> b = valid_wav();
    b.resize(43);  // one byte short of a header, whatever it says
    expect_rejected(b, "");
}

TEST(WavLoader, UnknownSizeFailsCleanly) {
    // A pipe has no size to seek to: a clean, silent failure rather than a giant allocation.
    uint32_t frames = 0;
    const int16_t* samples = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(load_wav("/dev/stdin", &frames, &samples));
    EXPECT_FALSE(load_wav(test_support::kSourceDir.c_str(), &frames, &samples));  // a folder
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(WavLoader, IdentityChecksSayCorrupted) {
    std::vector<uint8_t> b = valid_wav();
    std::memcpy(&b[0], "RIFX", 4);
    expect_rejected(b, "wav is corrupted");

    b = valid_wav();
    put_u32(b, 4, static_cast<uint32_t>(b.size() - 9));
    expect_rejected(b, "wav is corrupted");

    b = valid_wav();
    b.push_back(0);  // one extra byte that the RIFF size does not count
    expect_rejected(b, "wav is corrupted");

    b = valid_wav();
    put_u32(b, 4, 0xFFFFFFF8u);  // the size check must not wrap around
    expect_rejected(b, "wav is corrupted");

    b = valid_wav();
    std::memcpy(&b[8], "AVI ", 4);
    expect_rejected(b, "wav is corrupted");

    b = valid_wav();
    std::memcpy(&b[12], "fmt_", 4);
    expect_rejected(b, "wav is corrupted");
}

TEST(WavLoader, FormatChecksSayUnsupported) {
    struct Field {
        size_t offset;
        int width;
        uint32_t value;
        const char* what;
    };
    const Field fields[] = {
        {16, 4, 18, "18-byte format chunk"}, {20, 2, 3, "float samples"},
        {22, 2, 1, "mono"},                  {24, 4, 48000, "48 kHz"},
        {28, 4, 192000, "byte rate"},        {34, 2, 8, "8-bit"},
        {34, 2, 24, "24-bit"},
    };
    for (const Field& f : fields) {
        SCOPED_TRACE(f.what);
        std::vector<uint8_t> b = valid_wav();
        if (f.width == 2) put_u16(b, f.offset, static_cast<uint16_t>(f.value));
        else put_u32(b, f.offset, f.value);
        expect_rejected(b, "wav is unsupported");
    }
}

TEST(WavLoader, ChecksRunInOrder) {
    // A bad identity is reported before a bad format, a bad format before a missing "data".
    std::vector<uint8_t> b = valid_wav();
    std::memcpy(&b[8], "AVI ", 4);
    put_u16(b, 22, 1);
    expect_rejected(b, "wav is corrupted");

    b = valid_wav();
    put_u16(b, 22, 1);
    std::memcpy(&b[36], "LIST", 4);
    expect_rejected(b, "wav is unsupported");
}

TEST(WavLoader, DataChunkChecksSayCorrupted) {
    // Another chunk between "fmt " and "data", as tools that add metadata write it.
    std::vector<uint8_t> b = valid_wav();
    const uint8_t list[] = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    b.insert(b.begin() + 36, std::begin(list), std::end(list));
    put_u32(b, 4, static_cast<uint32_t>(b.size() - 8));
    expect_rejected(b, "wav is corrupted");

    b = valid_wav();
    put_u32(b, 40, 13);  // one byte more than the file holds
    expect_rejected(b, "wav is corrupted");

    b = valid_wav();
    put_u32(b, 40, 0xFFFFFFF0u);  // data size + 44 must not wrap around
    expect_rejected(b, "wav is corrupted");
}

TEST(WavLoader, ParsesFromMemoryWithinBounds) {
    // parse_wav never looks past `size`: a header cut anywhere is rejected, never read beyond.
    const std::vector<uint8_t> full = valid_wav();
    for (size_t n = 0; n < 44; ++n) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(n));
        PcmTrack track;
        EXPECT_EQ(parse_wav(cut.data(), cut.size(), &track), WavStatus::unreadable) << n;
    }
    PcmTrack track;
    ASSERT_EQ(parse_wav(full.data(), full.size(), &track), WavStatus::ok);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(track.samples), full.data() + 44);
    EXPECT_STREQ(wav_status_message(WavStatus::unreadable), nullptr);
}

TEST(WavLoader, FileTooLargeForItsSizeFieldSaysCorruptedWithoutReadingIt) {
    // A sparse file of 4 GiB + 9 bytes: no 32-bit RIFF size can describe it.
    test_support::TempDir dir;
    const std::string path = dir.file("huge.wav");
    test_support::write_file(path, valid_wav());
    ASSERT_EQ(truncate(path.c_str(), (off_t{1} << 32) + 9), 0);
    uint32_t frames = 0;
    const int16_t* samples = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(load_wav(path.c_str(), &frames, &samples));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "wav is corrupted\n");
}
