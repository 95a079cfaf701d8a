// tessaloon-synth: writes the demo's soundtrack, "Tessaloon", as a WAV file.
//
//     tessaloon-synth OUT.wav
//
// The file is the one layout the demo's loader accepts: a canonical 44-byte header and
// 16-bit stereo PCM at 44,100 Hz, nothing after the samples. Exit status 0 on success,
// 1 with a line on standard error otherwise.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "arrangement.h"
#include "voices.h"

namespace {

constexpr uint32_t kHeaderBytes = 44;
constexpr uint16_t kChannels = 2;
constexpr uint16_t kBitsPerSample = 16;
constexpr uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;  // bytes per sample frame
constexpr uint32_t kFormatChunkBytes = 16;
constexpr uint16_t kFormatPcm = 1;

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xff));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>((v >> shift) & 0xff));
}

void put_tag(std::vector<uint8_t>& out, const char (&tag)[5]) {
    out.insert(out.end(), tag, tag + 4);
}

std::vector<uint8_t> wav_header(uint32_t data_bytes) {
    std::vector<uint8_t> out;
    put_tag(out, "RIFF");
    put_u32(out, kHeaderBytes - 8 + data_bytes);
    put_tag(out, "WAVE");
    put_tag(out, "fmt ");
    put_u32(out, kFormatChunkBytes);
    put_u16(out, kFormatPcm);
    put_u16(out, kChannels);
    put_u32(out, soundtrack::kSampleRate);
    put_u32(out, soundtrack::kSampleRate * kBlockAlign);
    put_u16(out, kBlockAlign);
    put_u16(out, kBitsPerSample);
    put_tag(out, "data");
    put_u32(out, data_bytes);
    return out;
}

// Writes the header and the samples, little-endian whatever the machine. True on success.
bool write_wav(std::FILE* file, const std::vector<int16_t>& pcm) {
    constexpr size_t kChunkSamples = 1 << 15;
    const std::vector<uint8_t> header =
        wav_header(static_cast<uint32_t>(pcm.size() * sizeof(int16_t)));
    if (std::fwrite(header.data(), 1, header.size(), file) != header.size()) return false;
    std::vector<uint8_t> chunk;
    for (size_t from = 0; from < pcm.size(); from += kChunkSamples) {
        chunk.clear();
        const size_t to = std::min(pcm.size(), from + kChunkSamples);
        for (size_t i = from; i < to; ++i) put_u16(chunk, static_cast<uint16_t>(pcm[i]));
        if (std::fwrite(chunk.data(), 1, chunk.size(), file) != chunk.size()) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: tessaloon-synth OUT.wav\n", stderr);
        return 1;
    }
    // Opened first: a bad path fails at once rather than after the rendering.
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::fprintf(stderr, "tessaloon-synth: cannot write %s\n", argv[1]);
        return 1;
    }
    const std::vector<int16_t> pcm = soundtrack::render_tessaloon();
    const bool written = write_wav(file, pcm);
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "tessaloon-synth: failed writing %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
