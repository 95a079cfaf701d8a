// The demo's core for the web page, compiled to WebAssembly: the same loader, analyzer, image
// bank, compositor and noise as the native program, driven pass by pass from JavaScript
// (web/page.js) through the exported functions below. Nothing here touches the browser.
//
// Page start-up:   web_stage + web_decode_picture for each of the 45 PNGs, then
//                  web_synthesize (the soundtrack's WAV bytes, made from the score).
// A run:           web_start, then web_pass per pass with the clock's elapsed_ms, and
//                  web_frame_rgba for the canvas.
// Your own music:  web_stage(size), copy the file in, web_accept_wav.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "arrangement.h"
#include "audio/analyzer.h"
#include "audio/wav_loader.h"
#include "driver/frame.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"
#include "voices.h"
#include "web/picture_decoder.h"

namespace {

// The soundtrack's WAV header, byte for byte as tessaloon-synth writes it: the canonical
// 44-byte layout of 16-bit stereo PCM, the only one the loader accepts.
constexpr uint32_t kWavHeaderBytes = 44;
constexpr uint16_t kWavChannels = 2;
constexpr uint16_t kWavBitsPerSample = 16;
constexpr uint16_t kWavBlockAlign = kWavChannels * kWavBitsPerSample / 8;  // bytes per frame
constexpr uint32_t kWavFormatChunkBytes = 16;
constexpr uint16_t kWavFormatPcm = 1;

constexpr int kRgbaBytesPerPixel = 4;
constexpr uint8_t kOpaque = 255;

// One soundtrack: the whole file's bytes, which the track points into.
struct Soundtrack {
    std::vector<uint8_t> bytes;
    PcmTrack track;
};

struct WebDemo {
    Soundtrack built_in;     // synthesized from the score at start-up
    Soundtrack own;          // the last WAV the user gave that the loader accepted
    std::vector<uint8_t> staged;  // a WAV the page is handing over, not yet checked
    const Soundtrack* playing = nullptr;
    AudioAnalyzer analyzer;
    std::vector<uint8_t> frame = std::vector<uint8_t>(kImageBytes);            // B, G, R
    std::vector<uint8_t> rgba = std::vector<uint8_t>(size_t{kImagePixels} * kRgbaBytesPerPixel);
};

WebDemo demo;

void put_le(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_tag(std::vector<uint8_t>& out, const char (&tag)[5]) {
    out.insert(out.end(), tag, tag + 4);
}

std::vector<uint8_t> wav_bytes(const std::vector<int16_t>& pcm) {
    const auto data_bytes = static_cast<uint32_t>(pcm.size() * sizeof(int16_t));
    std::vector<uint8_t> out;
    out.reserve(kWavHeaderBytes + data_bytes);
    put_tag(out, "RIFF");
    put_le(out, kWavHeaderBytes - 8 + data_bytes, 4);
    put_tag(out, "WAVE");
    put_tag(out, "fmt ");
    put_le(out, kWavFormatChunkBytes, 4);
    put_le(out, kWavFormatPcm, 2);
    put_le(out, kWavChannels, 2);
    put_le(out, soundtrack::kSampleRate, 4);
    put_le(out, soundtrack::kSampleRate * kWavBlockAlign, 4);
    put_le(out, kWavBlockAlign, 2);
    put_le(out, kWavBitsPerSample, 2);
    put_tag(out, "data");
    put_le(out, data_bytes, 4);
    for (const int16_t s : pcm) put_le(out, static_cast<uint16_t>(s), 2);
    return out;
}

NoiseGenerator glibc_sequence = noise_unseeded_generator();
int glibc_rand() {
    int32_t v = 0;
    glibc_sequence.fill(&v, 1);
    return v;
}
void ignore_srand(unsigned) {}

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

// Renders the soundtrack from its score into the WAV bytes tessaloon-synth writes, and plays
// it from then on. Returns the loader's verdict (0 is ok); it takes a second or two.
EMSCRIPTEN_KEEPALIVE int32_t web_synthesize() {
    demo.built_in.bytes = wav_bytes(soundtrack::render_tessaloon());
    const WavStatus status =
        parse_wav(demo.built_in.bytes.data(), demo.built_in.bytes.size(), &demo.built_in.track);
    if (status == WavStatus::ok) demo.playing = &demo.built_in;
    return static_cast<int32_t>(status);
}

// The bytes of the synthesized WAV file, for checking them against the native build's.
EMSCRIPTEN_KEEPALIVE const uint8_t* web_built_in_wav() { return demo.built_in.bytes.data(); }
EMSCRIPTEN_KEEPALIVE int32_t web_built_in_wav_size() {
    return static_cast<int32_t>(demo.built_in.bytes.size());
}

// All 45 pictures back to back (image_bank.h's order), for the same check.
EMSCRIPTEN_KEEPALIVE const uint8_t* web_pictures() { return decoded_pictures(); }

// Checks the staged WAV with the loader; when it is accepted it becomes the soundtrack.
// Returns the WavStatus as a number (0 ok, 1 too short, 2 corrupted, 3 unsupported).
EMSCRIPTEN_KEEPALIVE int32_t web_accept_wav() {
    PcmTrack track;
    const WavStatus status = parse_wav(demo.staged.data(), demo.staged.size(), &track);
    if (status == WavStatus::ok) {
        demo.own.bytes = std::move(demo.staged);
        demo.own.track = track;  // the vector's move keeps its buffer where the track points
        demo.playing = &demo.own;
    }
    demo.staged = {};
    return static_cast<int32_t>(status);
}

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
    // TEMPORARY until the explicit noise source lands: make noise_init take the private copy
    // of glibc's generator by handing it a rand() that is that generator.
    noise_init_with(glibc_rand, ignore_srand);
    noise_restart();
}

// One pass of the demo at `elapsed_ms`: analysis, pictures, composition into the frame.
EMSCRIPTEN_KEEPALIVE void web_pass(double elapsed_ms) {
    if (!demo.playing) return;
    frame_pass(&demo.analyzer, demo.playing->track, elapsed_ms, demo.frame.data());
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
