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
#include "common/wav_format.h"
#include "voices.h"

namespace {

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xff));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

// Writes the header and the samples, little-endian whatever the machine. True on success.
bool write_wav(std::FILE* file, const std::vector<int16_t>& pcm) {
    constexpr size_t kChunkSamples = 1 << 15;
    uint8_t header[kWavHeaderBytes];
    wav_write_header(header, static_cast<uint32_t>(pcm.size() * sizeof(int16_t)));
    if (std::fwrite(header, 1, sizeof header, file) != sizeof header) return false;
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
