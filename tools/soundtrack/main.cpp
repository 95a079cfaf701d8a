// tessaloon-synth: writes the demo's soundtrack, "Tessaloon", as a WAV file.
//
//     tessaloon-synth OUT.wav
//
// The file is the one layout the demo's loader accepts: a canonical 44-byte header and
// 16-bit stereo PCM at 44,100 Hz, nothing after the samples. Exit status 0 on success,
// 1 with a line on standard error otherwise.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/quoting.h"
#include "soundtrack/arrangement.h"

namespace {

int cannot_write(const std::string& path, int error) {
    std::fprintf(stderr, "tessaloon-synth: cannot write %s: %s\n", quoted(path).c_str(),
                 std::strerror(error));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: tessaloon-synth OUT.wav\n", stderr);
        return 1;
    }
    // Opened first: a bad path fails at once rather than after the rendering.
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) return cannot_write(argv[1], errno);
    const std::vector<uint8_t> wav = soundtrack::render_tessaloon_wav();
    if (wav.empty()) {
        std::fprintf(stderr,
                     "tessaloon-synth: the mix no longer peaks where the score says "
                     "(kMixPeak in src/soundtrack/arrangement.cpp): restate it\n");
        std::fclose(file);
        std::remove(argv[1]);
        return 1;
    }
    int error = std::fwrite(wav.data(), 1, wav.size(), file) == wav.size() ? 0 : errno;
    if (std::fclose(file) != 0 && error == 0) error = errno;
    if (error == 0) return 0;
    std::remove(argv[1]);
    return cannot_write(argv[1], error);
}
