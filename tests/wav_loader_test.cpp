// The loader accepts exactly the canonical 16-bit stereo 44,100 Hz layout; every header check
// is exercised on files the tests write, in the order the loader makes them. With
// STARGLOBE_FUZZ_SEEDS=FOLDER set, the files are also written there: the fuzzer's seed corpus
// (fuzz/corpus) is made that way.
#include "audio/wav_loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "support/test_support.h"

using namespace test_support;
using Bytes = std::vector<uint8_t>;

namespace {

struct LoadResult { bool ok; std::string printed; uint32_t frames; const int16_t* samples; };

// Loads `path` and captures what the loader printed; the outputs start as sentinels.
LoadResult load_path(const std::string& path) {
    LoadResult r{false, "", 0xDEADBEEF, nullptr};
    testing::internal::CaptureStdout();
    r.ok = load_wav(path.c_str(), &r.frames, &r.samples);
    r.printed = testing::internal::GetCapturedStdout();
    return r;
}

const std::vector<int16_t> kSamples = {1, -1, 300, -300, 32767, -32768};

// The canonical file of kSamples changed by `change`, loaded from a file.
LoadResult load_changed(const char* name, const std::function<void(Bytes&)>& change) {
    Bytes b = canonical_wav(kSamples);
    change(b);
    if (const char* seeds = std::getenv("STARGLOBE_FUZZ_SEEDS"))
        write_file(std::string(seeds) + "/" + name + ".wav", b);
    TempDir dir;
    write_file(dir.file("track.wav"), b);
    return load_path(dir.file("track.wav"));
}

// Keeps the RIFF size true to the file after a change of length.
void fix_riff_size(Bytes& b) { put_u32(b, 4, static_cast<uint32_t>(b.size() - 8)); }

}  // namespace

TEST(WavLoader, AcceptsTheCanonicalLayoutOnlyAndEachHeaderCheckRejectsWithItsLine) {
    const std::string ok = "ok", corrupted = "wav is corrupted\n",
                      unsupported = "wav is unsupported\n";
    const uint8_t list[] = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    const struct {
        const char* name;
        std::function<void(Bytes&)> change;
        std::string line;
    } cases[] = {
        {"valid", [](Bytes&) {}, ok},  // "ok": accepted
        // Trailing bytes are fine while the RIFF size counts them; the block alignment is not
        // looked at; data of 0 to 3 bytes holds no whole frame.
        {"trailing_chunk",
         [](Bytes& b) {
             b.insert(b.end(), {'j', 'u', 'n', 'k', 0, 0, 0, 0}), fix_riff_size(b);
         },
         ok},
        {"block_align_7", [](Bytes& b) { put_u16(b, 32, 7); }, ok},
        {"data_0", [](Bytes& b) { b = short_data_wav(0); }, ok},
        {"data_1", [](Bytes& b) { b = short_data_wav(1); }, ok},
        {"data_2", [](Bytes& b) { b = short_data_wav(2); }, ok},
        {"data_3", [](Bytes& b) { b = short_data_wav(3); }, ok},
        {"empty", [](Bytes& b) { b.clear(); }, ""},
        {"43_bytes", [](Bytes& b) { b.resize(43); }, ""},
        {"rifx", [](Bytes& b) { std::memcpy(&b[0], "RIFX", 4); }, corrupted},
        {"riff_size_short", [](Bytes& b) { put_u32(b, 4, uint32_t(b.size() - 9)); }, corrupted},
        {"uncounted_byte", [](Bytes& b) { b.push_back(0); }, corrupted},
        {"riff_size_wraps", [](Bytes& b) { put_u32(b, 4, 0xFFFFFFF8u); }, corrupted},
        {"avi", [](Bytes& b) { std::memcpy(&b[8], "AVI ", 4); }, corrupted},
        {"fmt_", [](Bytes& b) { std::memcpy(&b[12], "fmt_", 4); }, corrupted},
        {"fmt_18", [](Bytes& b) { put_u32(b, 16, 18); }, unsupported},
        {"float", [](Bytes& b) { put_u16(b, 20, 3); }, unsupported},
        {"mono", [](Bytes& b) { put_u16(b, 22, 1); }, unsupported},
        {"rate_48000", [](Bytes& b) { put_u32(b, 24, 48000); }, unsupported},
        {"byte_rate", [](Bytes& b) { put_u32(b, 28, 192000); }, unsupported},
        {"bits_8", [](Bytes& b) { put_u16(b, 34, 8); }, unsupported},
        {"bits_24", [](Bytes& b) { put_u16(b, 34, 24); }, unsupported},
        {"list_before_data",
         [&](Bytes& b) { b.insert(b.begin() + 36, list, list + 12), fix_riff_size(b); }, corrupted},
        {"data_past_end", [](Bytes& b) { put_u32(b, 40, 13); }, corrupted},
        {"data_size_wraps", [](Bytes& b) { put_u32(b, 40, 0xFFFFFFF0u); }, corrupted},
        // The checks run in order: identity before format, format before "data".
        {"avi_and_mono", [](Bytes& b) { std::memcpy(&b[8], "AVI ", 4), put_u16(b, 22, 1); },
         corrupted},
        {"mono_no_data", [](Bytes& b) { put_u16(b, 22, 1), std::memcpy(&b[36], "LIST", 4); },
         unsupported},
    };
    for (const auto& c : cases) {
        const LoadResult r = load_changed(c.name, c.change);
        EXPECT_EQ(r.ok, c.line == ok) << c.name;
        EXPECT_EQ(r.printed, r.ok ? "" : c.line) << c.name;
        if (!r.ok) {
            EXPECT_TRUE(r.frames == 0xDEADBEEF && !r.samples) << c.name << ": outputs changed";
            continue;
        }
        const uint32_t frames = std::strncmp(c.name, "data_", 5) ? 3 : 0;
        EXPECT_EQ(r.frames, frames) << c.name;
        EXPECT_EQ(std::memcmp(r.samples, kSamples.data(), 4 * frames), 0) << c.name;
    }
}


TEST(WavLoader, FilesThatCannotBeReadWholeFailCleanlyAndParsingStaysInBounds) {
    // A missing file, no size to seek to (a pipe), nothing to read (a folder): silent, and no
    // giant allocation.
    for (const std::string& path :
         {std::string("/nonexistent/tessaloon.wav"), std::string("/dev/stdin"), kSourceDir})
        EXPECT_EQ(load_path(path).printed, "") << path;
    // A sparse file of 4 GiB + 9 bytes, more than any 32-bit RIFF size can describe: refused
    // from its header, without reading it all.
    TempDir dir;
    write_file(dir.file("huge.wav"), canonical_wav(kSamples));
    ASSERT_EQ(truncate(dir.file("huge.wav").c_str(), (off_t{1} << 32) + 9), 0);
    const LoadResult r = load_path(dir.file("huge.wav"));
    EXPECT_TRUE(!r.ok && r.printed == "wav is corrupted\n") << r.printed;
    // parse_wav never looks past `size`: a header cut anywhere is rejected, never read beyond.
    const Bytes full = canonical_wav(kSamples);
    PcmTrack track;
    for (size_t n = 0; n < 44; ++n) {
        const Bytes cut(full.begin(), full.begin() + static_cast<long>(n));
        EXPECT_EQ(parse_wav(cut.data(), cut.size(), &track), WavStatus::unreadable) << n;
    }
    ASSERT_EQ(parse_wav(full.data(), full.size(), &track), WavStatus::ok);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(track.samples), full.data() + 44);
}
