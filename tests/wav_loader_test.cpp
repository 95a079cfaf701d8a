// The loader accepts exactly the canonical 16-bit stereo 44,100 Hz layout; every header check
// is exercised on files the tests write, in the order the loader makes them. With
// STARGLOBE_FUZZ_SEEDS=FOLDER set, the files are also written there: the fuzzer's seed corpus
// (fuzz/corpus) is made that way.
#include "audio/wav_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "support/test_support.h"

using namespace test_support;
using Bytes = std::vector<uint8_t>;

namespace {

// The demo's line for what the loader made of `path` ("" when silent, "ok" when accepted).
std::string verdict(const WavFile& wav) {
    if (wav.status == WavStatus::ok) return "ok";
    const char* line = wav_status_message(wav.status);
    return line ? std::string(line) + "\n" : "";
}

const std::vector<int16_t> kSamples = {1, -1, 300, -300, 32767, -32768};

// The canonical file of kSamples changed by `change`, loaded from a file.
WavFile load_changed(const char* name, const std::function<void(Bytes&)>& change) {
    Bytes b = canonical_wav(kSamples);
    change(b);
    if (const char* seeds = std::getenv("STARGLOBE_FUZZ_SEEDS"))
        write_file(std::string(seeds) + "/" + name + ".wav", b);
    TempDir dir;
    write_file(dir.file("track.wav"), b);
    return load_wav(dir.file("track.wav").c_str());
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
        const WavFile r = load_changed(c.name, c.change);
        EXPECT_EQ(verdict(r), c.line) << c.name;
        if (r.status != WavStatus::ok) {
            EXPECT_TRUE(!r.bytes && !r.track.samples) << c.name << ": holds a refused file";
            continue;
        }
        const uint32_t frames = std::strncmp(c.name, "data_", 5) ? 3 : 0;
        EXPECT_EQ(r.track.frames, frames) << c.name;
        EXPECT_EQ(std::memcmp(r.track.samples, kSamples.data(), 4 * frames), 0) << c.name;
    }
}

TEST(WavLoader, ReadsOnlyWhatAnAcceptedHeaderPromisesAndNothingButRegularFiles) {
    // A missing file, a folder, a device and a named pipe nobody writes to (which would hold
    // an open for ever): refused at once and silently.
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);
    for (const std::string& path :
         {dir.file("missing.wav"), dir.path, std::string("/dev/zero"), dir.file("pipe.wav")}) {
        const WavFile r = load_wav(path.c_str());
        EXPECT_EQ(r.status, WavStatus::unreadable) << path;
        EXPECT_NE(describe_wav(r), "") << path;
    }
    // Sparse files of 4 GiB of zeros and of 4 GiB + 9 bytes behind a good header: the header
    // decides, and nothing past it is read or held (reading them whole took seconds and
    // gigabytes).
    write_file(dir.file("zeros.wav"), {});
    ASSERT_EQ(truncate(dir.file("zeros.wav").c_str(), off_t{1} << 32), 0);
    write_file(dir.file("huge.wav"), canonical_wav(kSamples));
    ASSERT_EQ(truncate(dir.file("huge.wav").c_str(), (off_t{1} << 32) + 9), 0);
    for (const char* name : {"zeros.wav", "huge.wav"}) {
        const double start = monotonic_seconds();
        const WavFile r = load_wav(dir.file(name).c_str());
        EXPECT_EQ(verdict(r), "wav is corrupted\n") << name;
        EXPECT_LT(monotonic_seconds() - start, 0.5) << name << " was read whole";
    }
    // Bytes after the data chunk are allowed and never read into memory.
    Bytes trailing = canonical_wav(kSamples);
    trailing.resize(trailing.size() + 1000, 0x77);
    put_u32(trailing, 4, static_cast<uint32_t>(trailing.size() - 8));
    write_file(dir.file("trailing.wav"), trailing);
    const WavFile held = load_wav(dir.file("trailing.wav").c_str());
    ASSERT_EQ(held.status, WavStatus::ok);
    EXPECT_EQ(held.size, 44 + 2 * kSamples.size());
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
