// libFuzzer target for the WAV loader.
//
// Every input goes through parse_wav in memory and through load_wav from a file (an in-memory
// file, so no disk traffic), and the two must agree: same verdict, same frame count, same
// samples, the same line printed, and outputs left alone on a rejection. An accepted track's
// samples are all read, so a frame count that reached past the input would show as an
// AddressSanitizer report.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/wav_loader.h"
#include "common/wav_format.h"

namespace {

// load_wav keeps every accepted file for the life of the process (tracks point into it), so
// a long run would grow without bound if every accepted input were loaded, and each such input
// makes libFuzzer run a full leak check (more allocations than frees). Past this many the
// accepted ones are checked through parse_wav only; rejected ones always take both paths.
constexpr long kMaxHeldLoads = 1000;
constexpr size_t kLongestLine = 64;  // bytes; the loader's lines are far shorter

int input_fd = -1;   // the file load_wav reads
int output_fd = -1;  // standard output, where load_wav prints its verdict
char input_path[64];
long held_loads = 0;

const int16_t* const kUntouchedSamples = reinterpret_cast<const int16_t*>(uintptr_t{0x5a5a5a5a});
constexpr uint32_t kUntouchedFrames = 0xDEADBEEF;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "wav_loader_fuzz: %s\n", what);
    std::abort();
}

bool write_all(int fd, const uint8_t* data, size_t size) {
    if (ftruncate(fd, 0) != 0) return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// What load_wav printed since the last call, emptied for the next input.
size_t take_printed(char* line) {
    std::fflush(stdout);
    const ssize_t n = pread(output_fd, line, kLongestLine, 0);
    check(n >= 0, "cannot read back standard output");
    check(ftruncate(output_fd, 0) == 0 && lseek(STDOUT_FILENO, 0, SEEK_SET) == 0,
          "cannot empty standard output");
    return size_t(n);
}

// Runs both paths over one input and checks that they agree.
void check_input(const uint8_t* data, size_t size) {
    PcmTrack track;
    track.samples = kUntouchedSamples;
    track.frames = kUntouchedFrames;
    const WavStatus status = parse_wav(data, size, &track);
    const bool accepted = status == WavStatus::ok;
    if (accepted) {
        check(track.samples == reinterpret_cast<const int16_t*>(data + kWavHeaderBytes),
              "samples do not start at byte 44");
        check(uint64_t{track.frames} * kWavFrameBytes + kWavHeaderBytes <= size,
              "frames reach past the input");
        // Read every sample: ASan stops here if the count is wrong.
        uint32_t sum = 0;
        for (uint32_t i = 0; i < 2 * track.frames; ++i) sum += uint16_t(track.samples[i]);
        volatile uint32_t keep = sum;
        (void)keep;
    } else {
        check(track.samples == kUntouchedSamples && track.frames == kUntouchedFrames,
              "a rejected input changed the track");
    }
    const char* message = wav_status_message(status);
    check((message == nullptr) == (accepted || status == WavStatus::unreadable),
          "a verdict and its line disagree");

    if (accepted && held_loads >= kMaxHeldLoads) return;
    check(write_all(input_fd, data, size), "cannot write the input file");
    uint32_t frames = kUntouchedFrames;
    const int16_t* samples = kUntouchedSamples;
    const bool loaded = load_wav(input_path, &frames, &samples);
    check(loaded == accepted, "load_wav and parse_wav disagree");
    if (loaded) {
        ++held_loads;
        check(frames == track.frames, "load_wav counted other frames");
        check(std::memcmp(samples, data + kWavHeaderBytes, size_t(frames) * kWavFrameBytes) == 0,
              "load_wav holds other samples");
    } else {
        check(frames == kUntouchedFrames && samples == kUntouchedSamples,
              "a rejected file changed the outputs");
    }

    char line[kLongestLine];
    const size_t printed = take_printed(line);
    if (message) {
        const size_t length = std::strlen(message);
        check(printed == length + 1 && std::memcmp(line, message, length) == 0 &&
                  line[length] == '\n',
              "load_wav printed another line");
    } else {
        check(printed == 0, "load_wav printed on a silent verdict");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    input_fd = memfd_create("fuzz-input.wav", MFD_CLOEXEC);
    output_fd = memfd_create("fuzz-stdout", MFD_CLOEXEC);
    check(input_fd >= 0 && output_fd >= 0, "memfd_create failed");
    std::snprintf(input_path, sizeof input_path, "/proc/self/fd/%d", input_fd);
    // The loader's lines go to a file of our own, where each is compared and then dropped.
    std::fflush(stdout);
    check(dup2(output_fd, STDOUT_FILENO) == STDOUT_FILENO, "cannot redirect standard output");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_input(data, size);
    // A mutation that changes the length almost always breaks the RIFF size, the first check,
    // so the checks behind it would rarely see such inputs. Each input is run a second time
    // with its RIFF size made right, in a buffer of exactly its size so ASan sees any overrun.
    if (size < kWavHeaderBytes) return 0;
    uint8_t* repaired = static_cast<uint8_t*>(std::malloc(size));
    check(repaired != nullptr, "out of memory");
    std::memcpy(repaired, data, size);
    const uint64_t riff_size = uint64_t{size} - kWavRiffHeaderBytes;
    for (size_t i = 0; i < 4; ++i) repaired[kWavRiffSizeOffset + i] = uint8_t(riff_size >> (8 * i));
    if (std::memcmp(repaired, data, size) != 0) check_input(repaired, size);
    std::free(repaired);
    return 0;
}
