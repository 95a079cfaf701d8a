// The soundtrack's synthesizer for the web page, compiled to a WebAssembly module of its own
// that runs in a worker (synth_worker.js): it renders "Tessaloon" from its score a slice at a
// time, into exactly the samples of the WAV file tessaloon-synth writes, off the page's thread,
// so that the page can play the first slices while the worker makes the rest.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <vector>

#include "common/wav_format.h"
#include "soundtrack/arrangement.h"

namespace {

// The first slice is a second, which the page waits for before it offers to play; the rest
// come five seconds at a time, each made many times faster than it plays.
constexpr size_t kFirstSliceFrames = kSampleRateHz;
constexpr size_t kSliceFrames = 5 * size_t{kSampleRateHz};

soundtrack::Rendering rendering = soundtrack::tessaloon_start();
std::vector<int16_t> slice;
uint8_t header[kWavHeaderBytes];

}  // namespace

extern "C" {

// The WAV file's header for the whole piece, and its size.
EMSCRIPTEN_KEEPALIVE const uint8_t* synth_header() {
    wav_write_header(header,
                     static_cast<uint32_t>(soundtrack::tessaloon_frames() * kWavFrameBytes));
    return header;
}
EMSCRIPTEN_KEEPALIVE int32_t synth_header_bytes() { return kWavHeaderBytes; }

// Renders the next slice; returns its size in bytes, 0 once all are made. synth_slice then
// points at its samples, interleaved left, right, little-endian as in the file.
EMSCRIPTEN_KEEPALIVE uint32_t synth_render() {
    const size_t frames = rendering.done == 0 ? kFirstSliceFrames : kSliceFrames;
    slice.resize(frames * kWavChannels);
    const size_t made = soundtrack::tessaloon_render(&rendering, frames, slice.data());
    return static_cast<uint32_t>(made * kWavFrameBytes);
}
EMSCRIPTEN_KEEPALIVE const int16_t* synth_slice() { return slice.data(); }

// Once all are made: whether the mix peaked where the score says, as every slice assumed.
EMSCRIPTEN_KEEPALIVE int32_t synth_peak_held() {
    return soundtrack::tessaloon_peak_held(rendering) ? 1 : 0;
}

}  // extern "C"
