// The demo's core for the web page, compiled to WebAssembly: the same loader, analyzer, image
// bank, compositor and noise as the native program, driven pass by pass from JavaScript
// (web/page.js) through the exported functions below. Nothing here touches the browser.
//
// Page start-up:   web_stage + web_decode_picture for each of the 45 PNGs, then web_stage +
//                  web_accept_built_in for the soundtrack the synthesizer made in a worker.
// A run:           web_start, then web_pass per pass with the clock's elapsed_ms, and
//                  web_frame_rgba for the canvas.
// Your own music:  web_stage(size), copy the file in, web_accept_wav.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "audio/analyzer.h"
#include "audio/wav_loader.h"
#include "common/picture.h"
#include "frame/frame_pass.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"
#include "web/picture_decoder.h"

namespace {

constexpr int kRgbaBytesPerPixel = 4;
constexpr uint8_t kOpaque = 255;

// One soundtrack: the whole file's bytes, which the track points into.
struct Soundtrack {
    std::vector<uint8_t> bytes;
    PcmTrack track;
};

struct WebDemo {
    Soundtrack built_in;     // synthesized from the score at start-up (synth_worker.cpp)
    Soundtrack own;          // the last WAV the user gave that the loader accepted
    std::vector<uint8_t> staged;  // a file the page is handing over (a PNG or a WAV)
    const Soundtrack* playing = nullptr;
    AudioAnalyzer analyzer;
    // glibc's unseeded rand() sequence whatever the C library (musl's rand() differs), so the
    // page draws the noise the Linux demo draws.
    NoiseSource noise = noise_source_unseeded();
    std::vector<uint8_t> frame = std::vector<uint8_t>(kImageBytes);            // B, G, R
    std::vector<uint8_t> rgba = std::vector<uint8_t>(size_t{kImagePixels} * kRgbaBytesPerPixel);
};

WebDemo demo;

// Checks the staged WAV file with the loader; when it is accepted it becomes `into` and the
// soundtrack played from then on. Returns the WavStatus as a number.
int32_t accept_staged_wav(Soundtrack* into) {
    PcmTrack track;
    const WavStatus status = parse_wav(demo.staged.data(), demo.staged.size(), &track);
    if (status == WavStatus::ok) {
        into->bytes = std::move(demo.staged);
        into->track = track;  // the vector's move keeps its buffer where the track points
        demo.playing = into;
    }
    demo.staged = {};
    return static_cast<int32_t>(status);
}

void to_rgba(const uint8_t* bgr) {
    uint8_t* out = demo.rgba.data();
    for (int n = 0; n < kImagePixels; ++n, bgr += kImageBytesPerPixel, out += kRgbaBytesPerPixel) {
        out[0] = bgr[2];
        out[1] = bgr[1];
        out[2] = bgr[0];
        out[3] = kOpaque;
    }
}

}  // namespace

extern "C" {

// A buffer of `size` bytes for a file the page hands over (a PNG, or a WAV from the user),
// valid until the next call of a function below that takes it.
EMSCRIPTEN_KEEPALIVE uint8_t* web_stage(int32_t size) {
    demo.staged.assign(static_cast<size_t>(size), 0);
    return demo.staged.data();
}

// Decodes the staged PNG into picture `index` (image_bank.h's order).
// Returns whether it was a 400 x 300 picture that decoded.
EMSCRIPTEN_KEEPALIVE int32_t web_decode_picture(int32_t index) {
    const bool ok = decode_picture(index, demo.staged.data(), demo.staged.size());
    demo.staged = {};
    return ok ? 1 : 0;
}

// Takes the staged WAV file, the soundtrack synthesized from its score (synth_worker.cpp), as
// the built-in soundtrack, and plays it from then on. Returns the loader's verdict (0 is ok).
EMSCRIPTEN_KEEPALIVE int32_t web_accept_built_in() { return accept_staged_wav(&demo.built_in); }

// The bytes of the synthesized WAV file, for checking them against the native build's.
EMSCRIPTEN_KEEPALIVE const uint8_t* web_built_in_wav() { return demo.built_in.bytes.data(); }
EMSCRIPTEN_KEEPALIVE int32_t web_built_in_wav_size() {
    return static_cast<int32_t>(demo.built_in.bytes.size());
}

// All 45 pictures back to back (image_bank.h's order), for the same check.
EMSCRIPTEN_KEEPALIVE const uint8_t* web_pictures() { return decoded_pictures(); }

// Checks the staged WAV with the loader; when it is accepted it becomes the soundtrack.
// Returns the WavStatus as a number (0 ok, 1 too short, 2 corrupted, 3 unsupported).
EMSCRIPTEN_KEEPALIVE int32_t web_accept_wav() { return accept_staged_wav(&demo.own); }

// The loader's line for a status, or null where the refusal is silent.
EMSCRIPTEN_KEEPALIVE const char* web_wav_message(int32_t status) {
    return wav_status_message(static_cast<WavStatus>(status));
}

// The soundtrack's samples (interleaved left, right) and its length in frames, for playback.
EMSCRIPTEN_KEEPALIVE const int16_t* web_track_samples() {
    return demo.playing ? demo.playing->track.samples : nullptr;
}
EMSCRIPTEN_KEEPALIVE uint32_t web_track_frames() {
    return demo.playing ? demo.playing->track.frames : 0;
}

// A fresh run, as the native program starts one: zeroed filters and envelopes, the noise
// from the first value of the C library's unseeded sequence.
EMSCRIPTEN_KEEPALIVE void web_start() {
    demo.analyzer = AudioAnalyzer{};
    demo.noise = noise_source_unseeded();
}

// One pass of the demo at `elapsed_ms`: analysis, pictures, composition into the frame.
EMSCRIPTEN_KEEPALIVE void web_pass(double elapsed_ms) {
    if (!demo.playing) return;
    frame_pass(&demo.analyzer, demo.playing->track, elapsed_ms, &demo.noise, demo.frame.data());
}

// The last composed frame, or the end card, as canvas pixels (R, G, B, A; alpha opaque).
EMSCRIPTEN_KEEPALIVE const uint8_t* web_frame_rgba() {
    to_rgba(demo.frame.data());
    return demo.rgba.data();
}
EMSCRIPTEN_KEEPALIVE const uint8_t* web_end_card_rgba() {
    to_rgba(end_card.bgr);
    return demo.rgba.data();
}

}  // extern "C"
