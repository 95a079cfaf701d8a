// libFuzzer target for the WAV loader's parser: every input goes through parse_wav in a buffer
// of exactly its size, so AddressSanitizer sees any read past it, and an accepted track's
// samples are all read, so a frame count reaching past the input shows too. A rejection must
// leave the track alone, every verdict agree with whether it has a line to print, and the
// words describing a refusal come from the header alone, whatever it holds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/wav_loader.h"
#include "common/wav_format.h"

namespace {

const int16_t* const kUntouchedSamples = reinterpret_cast<const int16_t*>(uintptr_t{0x5a5a5a5a});
constexpr uint32_t kUntouchedFrames = 0xDEADBEEF;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "wav_loader_fuzz: %s\n", what);
    std::abort();
}

void check_input(const std::vector<uint8_t>& input) {
    PcmTrack track{kUntouchedSamples, kUntouchedFrames};
    const WavStatus status = parse_wav(input.data(), input.size(), &track);
    const bool accepted = status == WavStatus::ok;
    check((wav_status_message(status) == nullptr) == (accepted || status == WavStatus::unreadable),
          "a verdict and its line disagree");
    if (!accepted) {
        check(track.samples == kUntouchedSamples && track.frames == kUntouchedFrames,
              "a rejected input changed the track");
        auto copy = std::make_unique<uint8_t[]>(input.size());
        std::copy(input.begin(), input.end(), copy.get());  // memcpy may not take null
        const WavFile refused = wav_from_bytes(std::move(copy), input.size());
        check(refused.status == status && !describe_wav(refused).empty(),
              "a refusal goes undescribed");
        return;
    }
    check(track.samples == reinterpret_cast<const int16_t*>(input.data() + kWavHeaderBytes),
          "samples do not start at byte 44");
    uint32_t sum = 0;
    for (uint32_t i = 0; i < 2 * track.frames; ++i) sum += uint16_t(track.samples[i]);
    volatile uint32_t keep = sum;
    (void)keep;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> input(data, data + size);
    check_input(input);
    // A mutation that changes the length almost always breaks the RIFF size, the first check,
    // so the checks behind it would rarely see such inputs: each is run again with it made right.
    if (size < kWavHeaderBytes) return 0;
    const uint64_t riff_size = uint64_t{size} - kWavRiffHeaderBytes;
    for (size_t i = 0; i < 4; ++i) input[kWavRiffSizeOffset + i] = uint8_t(riff_size >> (8 * i));
    if (std::memcmp(input.data(), data, size) != 0) check_input(input);
    return 0;
}
