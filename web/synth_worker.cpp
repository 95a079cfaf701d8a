// The soundtrack's synthesizer for the web page, compiled to a WebAssembly module of its own
// that runs in a worker (synth_worker.js): it renders "Tessaloon" from its score into exactly
// the WAV file tessaloon-synth writes, off the page's thread, and its memory (over 100 MB
// while it renders) goes away with the worker.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "arrangement.h"
#include "common/wav_format.h"

namespace {

std::vector<uint8_t> wav;

}  // namespace

extern "C" {

// Renders the piece (a second or two) and returns the first byte of the WAV file: the
// canonical header, then the samples little-endian, byte for byte as tessaloon-synth writes.
EMSCRIPTEN_KEEPALIVE const uint8_t* synth_wav() {
    const std::vector<int16_t> pcm = soundtrack::render_tessaloon();
    const auto data_bytes = static_cast<uint32_t>(pcm.size() * sizeof(int16_t));
    wav.assign(kWavHeaderBytes + data_bytes, 0);
    uint8_t header[kWavHeaderBytes];
    wav_write_header(header, data_bytes);
    std::memcpy(wav.data(), header, kWavHeaderBytes);
    uint8_t* at = wav.data() + kWavHeaderBytes;
    for (const int16_t s : pcm) {
        wav_put_u16(at, static_cast<uint16_t>(s));
        at += sizeof s;
    }
    return wav.data();
}

// The size of that file in bytes.
EMSCRIPTEN_KEEPALIVE int32_t synth_wav_size() { return static_cast<int32_t>(wav.size()); }

}  // extern "C"
