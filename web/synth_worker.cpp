// The soundtrack's synthesizer for the web page, compiled to a WebAssembly module of its own
// that runs in a worker (synth_worker.js): it renders "Tessaloon" from its score into exactly
// the WAV file tessaloon-synth writes, off the page's thread, and its memory (over 100 MB
// while it renders) goes away with the worker.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <vector>

#include "soundtrack/arrangement.h"

namespace {

std::vector<uint8_t> wav;

}  // namespace

extern "C" {

// Renders the piece (a second or two) and returns the first byte of the WAV file.
EMSCRIPTEN_KEEPALIVE const uint8_t* synth_wav() {
    wav = soundtrack::render_tessaloon_wav();
    return wav.data();
}

// The size of that file in bytes.
EMSCRIPTEN_KEEPALIVE int32_t synth_wav_size() { return static_cast<int32_t>(wav.size()); }

}  // extern "C"
