// The demo's core for the web page, compiled to WebAssembly: the same loader, analyzer, image
// bank, compositor, noise and view as the native program, driven pass by pass from JavaScript
// (web/page.js) through the functions below, which are the module's whole interface. Nothing
// here touches the browser.
//
// Page start-up:   web_facts for the numbers the page needs; web_pictures, where the page
//                  writes the pictures the build decoded; web_stage + web_accept_built_in for
//                  the soundtrack as
//                  soon as its header is in, the rest written into web_built_in_wav as it is
//                  made in a worker or read back.
// A run:           web_start, then web_pass per pass with the clock's elapsed_ms, and
//                  web_frame_rgba for the canvas.
// Your own music:  web_stage(44) with the file's first bytes and web_check_head; when that
//                  passes, web_stage(size), the file's bytes, web_accept_wav; or, for audio the
//                  browser decoded, web_stage(44 + room for 16-bit stereo samples), the
//                  samples from byte 44 on, and web_accept_pcm with how many came.
// Listening:       web_listen_stage(count) for the newest samples, web_listen_push(count),
//                  and web_listen_pass per pass.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "audio/convert.h"
#include "audio/wav_loader.h"
#include "common/picture.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "frame/run.h"
#include "visuals/image_bank.h"
#include "visuals/picture_store.h"

namespace {

constexpr int kRgbaBytesPerPixel = 4;
constexpr uint8_t kOpaque = 255;
// The longest music the page takes: an hour, 635 MB as WAV, which the core holds to analyse and
// the page plays a few seconds at a time. Files larger than its WAV are refused unread.
constexpr double kMaxSeconds = 3600.0;
constexpr uint64_t kMaxFileBytes = kWavHeaderBytes + uint64_t(kMaxSeconds) * kWavByteRate;
// Listening: the newest samples captured, interleaved left, right. A ring of 1 s.
constexpr size_t kListenSamples = size_t{kSampleRateHz} * kWavChannels;

struct WebDemo {
    WavFile built_in;                   // synthesized from the score (synth_worker.cpp), or kept
    WavFile own;                        // the last music the user gave that was accepted
    WavFile refused;                    // the last file refused, for describing why
    std::unique_ptr<uint8_t[]> staged;  // a file the page is handing over
    size_t staged_size = 0;
    const WavFile* playing = nullptr;
    DemoRun run = run_start(false);
    std::vector<uint8_t> frame = std::vector<uint8_t>(kImageBytes);  // B, G, R
    std::vector<uint8_t> rgba = std::vector<uint8_t>(size_t{kImagePixels} * kRgbaBytesPerPixel);
    std::vector<int16_t> listened = std::vector<int16_t>(kListenSamples);
    size_t listen_next = 0;  // where the next captured sample goes
    std::vector<int16_t> listen_stage;
    std::string text;  // the last text handed out
};

WebDemo demo;

const char* hand_out(std::string text) {
    demo.text = std::move(text);
    return demo.text.c_str();
}

std::unique_ptr<uint8_t[]> take_staged(size_t* size) {
    *size = demo.staged_size;
    demo.staged_size = 0;
    return std::move(demo.staged);
}

// Checks the staged WAV file with the loader; when it is accepted it becomes `into` and the
// soundtrack played from then on. Returns the WavStatus as a number.
int32_t accept_staged_wav(WavFile* into) {
    size_t size = 0;
    std::unique_ptr<uint8_t[]> bytes = take_staged(&size);
    WavFile wav = wav_from_bytes(std::move(bytes), size);
    const auto status = static_cast<int32_t>(wav.status);
    if (wav.status != WavStatus::ok) {
        demo.refused = std::move(wav);
        return status;
    }
    *into = std::move(wav);  // the buffer moves with it, so the track still points into it
    demo.playing = into;
    return status;
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

// The numbers the page needs, as JSON: the picture's size, the sound's layout, the end card's
// time and what the page takes.
EMSCRIPTEN_KEEPALIVE const char* web_facts() {
    const auto whole = [](double v) { return std::to_string(static_cast<int64_t>(v)); };
    const std::pair<const char*, std::string> facts[] = {
        {"width", whole(kImageWidth)},
        {"height", whole(kImageHeight)},
        {"bytesPerPixel", whole(kImageBytesPerPixel)},
        {"rgbaBytesPerPixel", whole(kRgbaBytesPerPixel)},
        {"pictures", whole(kPictureCount)},
        {"sampleRate", whole(kSampleRateHz)},
        {"channels", whole(kWavChannels)},
        {"wavHeaderBytes", whole(kWavHeaderBytes)},
        {"sampleSpan", whole(kSampleSpan)},
        {"fullScale", whole(kFullScaleSample)},
        {"msPerSecond", whole(kMsPerSecond)},
        {"endCardMs", whole(kEndCardMs)},
        {"maxSeconds", whole(kMaxSeconds)},
        {"maxFileBytes", std::to_string(kMaxFileBytes)},
        {"wavHeaderBytes", whole(kWavHeaderBytes)},
        {"maxLength", "\"" + hours_and_minutes(kMaxSeconds) + "\""},
        {"noAudioDecoded", "\"" + std::string(kNoAudioDecoded) + "\""},
        {"listenSamples", std::to_string(kListenSamples)}};
    std::string json;
    for (const auto& [name, value] : facts)
        json += (json.empty() ? "{\"" : ",\"") + std::string(name) + "\":" + value;
    return hand_out(json + "}");
}

// A buffer of `size` bytes for a file the page hands over (the soundtrack, the user's music),
// valid until the next call that takes it; null when there is no room. The user's previous
// music is let go first, so that a new file never needs room for both.
EMSCRIPTEN_KEEPALIVE uint8_t* web_stage(double size, int32_t for_music) {
    if (for_music) {
        if (demo.playing == &demo.own)
            demo.playing = demo.built_in.status == WavStatus::ok ? &demo.built_in : nullptr;
        demo.own = WavFile{};
        demo.refused = WavFile{};
    }
    demo.staged.reset();
    demo.staged_size = 0;
    if (!(size >= 0.0 && size <= static_cast<double>(kMaxFileBytes))) return nullptr;
    demo.staged.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    if (demo.staged) demo.staged_size = static_cast<size_t>(size);
    return demo.staged.get();
}

// Takes the staged WAV file, the soundtrack synthesized from its score, as the built-in
// soundtrack, and plays it from then on; the page may go on writing its samples in place.
// Returns the loader's verdict (0 is ok).
EMSCRIPTEN_KEEPALIVE int32_t web_accept_built_in() { return accept_staged_wav(&demo.built_in); }

// The bytes of the built-in WAV file, where the page writes its samples as they come, and for
// checking them against the native build's.
EMSCRIPTEN_KEEPALIVE const uint8_t* web_built_in_wav() { return demo.built_in.bytes.get(); }
EMSCRIPTEN_KEEPALIVE int32_t web_built_in_wav_size() {
    return static_cast<int32_t>(demo.built_in.size);
}

// All the pictures back to back (the bank's order): where the page writes them at start-up,
// and for the same check.
EMSCRIPTEN_KEEPALIVE uint8_t* web_pictures() { return starglobe_pictures[0].bgr; }

// Checks the staged WAV with the loader; when it is accepted it becomes the soundtrack.
// Returns the WavStatus as a number (0 ok, 1 unreadable, 2 corrupted, 3 unsupported).
EMSCRIPTEN_KEEPALIVE int32_t web_accept_wav() { return accept_staged_wav(&demo.own); }

// Checks the staged first bytes (up to 44) of a file of `file_size` bytes as the loader checks
// a header, so that only a file it may take is handed over whole: a refused one is described
// from them, and its bytes never fill the core's memory. Returns the WavStatus as a number.
EMSCRIPTEN_KEEPALIVE int32_t web_check_head(double file_size) {
    size_t size = 0;
    std::unique_ptr<uint8_t[]> bytes = take_staged(&size);
    WavFile head;
    head.header_bytes = std::min(size, size_t{kWavHeaderBytes});
    if (bytes) std::memcpy(head.header, bytes.get(), head.header_bytes);
    head.file_size = static_cast<uint64_t>(std::max(file_size, 0.0));
    head.regular_file = true;
    uint32_t data_bytes = 0;
    head.status = head.header_bytes < kWavHeaderBytes
                      ? WavStatus::unreadable
                      : check_wav_header(head.header, head.file_size, &data_bytes);
    const auto status = static_cast<int32_t>(head.status);
    if (head.status != WavStatus::ok) demo.refused = std::move(head);
    return status;
}

// Takes the staged bytes as a WAV in the demo's layout whose header the page left blank: 16-bit
// stereo samples at 44,100 Hz, little-endian, from byte 44 on, that the browser decoded from the
// user's file, `sample_bytes` of them (the staged room may hold more). Writes the header in
// place (an hour of music is not copied) and plays them from then on, through the same loader.
// Returns 0 when it took them, 1 when there was no room.
EMSCRIPTEN_KEEPALIVE int32_t web_accept_pcm(double sample_bytes) {
    if (!demo.staged || demo.staged_size < kWavHeaderBytes ||
        !(sample_bytes >= 0.0 && sample_bytes <= double(demo.staged_size - kWavHeaderBytes)))
        return 1;
    demo.staged_size = kWavHeaderBytes + static_cast<size_t>(sample_bytes);
    uint8_t header[kWavHeaderBytes];
    wav_write_header(header, static_cast<uint32_t>(demo.staged_size - kWavHeaderBytes));
    std::memcpy(demo.staged.get(), header, kWavHeaderBytes);
    return accept_staged_wav(&demo.own) == 0 ? 0 : 1;
}

// Why the last refused file was refused, in plain words.
EMSCRIPTEN_KEEPALIVE const char* web_describe_refused() {
    return hand_out(describe_wav(demo.refused));
}

// How a person makes the file called `name`, the last refused, into one the demo plays as it
// is; "" when its first bytes are not those of sound, which no conversion helps.
EMSCRIPTEN_KEEPALIVE const char* web_advice(const char* name) {
    return hand_out(wav_looks_like_audio(demo.refused) ? conversion_advice(name) : "");
}

// A length for people: "7 hours", "59 minutes".
EMSCRIPTEN_KEEPALIVE const char* web_length(double seconds) {
    return hand_out(hours_and_minutes(seconds));
}

// The soundtrack's samples (interleaved left, right) and its length in frames, for playback.
EMSCRIPTEN_KEEPALIVE const int16_t* web_track_samples() {
    return demo.playing ? demo.playing->track.samples : nullptr;
}
EMSCRIPTEN_KEEPALIVE uint32_t web_track_frames() {
    return demo.playing ? demo.playing->track.frames : 0;
}

// A fresh run, as the native program starts one, gentle or not.
EMSCRIPTEN_KEEPALIVE void web_start(int32_t gentle) {
    demo.run = run_start(gentle != 0);
    std::fill(demo.listened.begin(), demo.listened.end(), 0);
    demo.listen_next = 0;
}

// One pass of the demo at `elapsed_ms`: analysis, pictures, composition, view.
EMSCRIPTEN_KEEPALIVE void web_pass(double elapsed_ms) {
    if (demo.playing)
        run_compose(&demo.run, tap_track(demo.playing->track), elapsed_ms, demo.frame.data());
}

// Room for `count` newly captured samples (interleaved left, right) to hand over.
EMSCRIPTEN_KEEPALIVE int16_t* web_listen_stage(int32_t count) {
    demo.listen_stage.resize(static_cast<size_t>(std::max(count, 0)));
    return demo.listen_stage.data();
}

// Adds the staged samples to the ring of what was heard.
EMSCRIPTEN_KEEPALIVE void web_listen_push(int32_t count) {
    const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), demo.listen_stage.size());
    for (size_t i = 0; i < n; ++i) {
        demo.listened[demo.listen_next] = demo.listen_stage[i];
        demo.listen_next = (demo.listen_next + 1) % kListenSamples;
    }
}

// One pass while listening: the newest sample heard, analysed as the demo analyses the
// sample playing; `elapsed_ms` turns the pictures.
EMSCRIPTEN_KEEPALIVE void web_listen_pass(double elapsed_ms) {
    const int16_t newest = demo.listened[(demo.listen_next + kListenSamples - 1) % kListenSamples];
    run_compose(&demo.run, tap_live(newest), elapsed_ms, demo.frame.data());
}

// The last frame shown, or the end card, as canvas pixels (R, G, B, A; alpha opaque).
EMSCRIPTEN_KEEPALIVE const uint8_t* web_frame_rgba() {
    to_rgba(demo.frame.data());
    return demo.rgba.data();
}
EMSCRIPTEN_KEEPALIVE const uint8_t* web_end_card_rgba() {
    to_rgba(end_card.bgr);
    return demo.rgba.data();
}

}  // extern "C"
