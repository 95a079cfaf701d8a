// tessaloon-synth: writes the demo's soundtrack, "Tessaloon", as a WAV file.
//
//     tessaloon-synth OUT.wav
//
// The file is the one layout the demo's loader accepts: a canonical 44-byte header and
// 16-bit stereo PCM at 44,100 Hz, nothing after the samples. Exit status 0 on success,
// 1 with a line on standard error otherwise.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "soundtrack/arrangement.h"

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
    const std::vector<uint8_t> wav = soundtrack::render_tessaloon_wav();
    if (wav.empty()) {
        std::fprintf(stderr,
                     "tessaloon-synth: the mix no longer peaks where the score says "
                     "(kMixPeak in src/soundtrack/arrangement.cpp): restate it\n");
        std::fclose(file);
        std::remove(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(wav.data(), 1, wav.size(), file) == wav.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "tessaloon-synth: failed writing %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
