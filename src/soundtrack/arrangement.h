// "Tessaloon": the demo's soundtrack, written as a score and mixed down in one pass.
//
// A minor, 150 beats a minute (a beat is 0.4 s, two frames of the star field), 86 bars:
// intro, build-up, main section, break, finale and a cadence that rings out.
//
//     std::vector<int16_t> pcm = render_tessaloon();   // interleaved left, right
//
// Or a slice at a time, for a player that starts before the whole is made (the web page): each
// slice is bit for bit the same samples as the whole piece has there.
//
//     Rendering r = tessaloon_start();
//     while (size_t frames = tessaloon_render(&r, 44100, pcm)) play(pcm, frames);
//
// The same bytes on every machine and in the web page. The arithmetic is IEEE's basic
// operations without fused multiply-add (the top CMakeLists.txt), which every target rounds
// alike. The voices also call the C library's exp, pow, tan, sin, cos and tanh, which C
// libraries may round differently in the last bit: glibc natively, musl in the page's
// WebAssembly. The policy is to keep those calls and check the result on both sides, rather
// than carry own versions of them. Three checks catch a drift: the mix must peak at kMixPeak
// to the last bit or nothing is made (tessaloon-synth fails the native build, the page's
// synthesizer run under node the web build, the page's worker says so); tests/soundtrack_test.cpp
// holds the native WAV to its SHA-256, committed there; the web test (tests/web) holds the
// soundtrack the page makes to the native file's bytes. glibc 2.36 and emscripten 3.1.6's musl
// agree. Should a check fail after a C library changes, replace the call that drifted with a
// function of the basic operations alone (as frame/flash_measure.cpp's power_2_4 does for pow);
// a changed score restates kMixPeak and the digest.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace soundtrack {

// The piece's length in frames (a left and a right sample each).
size_t tessaloon_frames();

struct Master;  // the mastering chain's state between slices

// The piece rendered so far.
struct Rendering {
    size_t done = 0;    // frames
    double peak = 0.0;  // the loudest mastered sample so far, before scaling
    std::shared_ptr<Master> master;
};

Rendering tessaloon_start();

// Renders the next `frames` frames (fewer at the end) into `pcm` as interleaved signed 16-bit
// samples, left first. Returns how many it rendered, 0 once the piece is done. A slice costs
// the notes that sound in it, and the part of them before it.
size_t tessaloon_render(Rendering* r, size_t frames, int16_t* pcm);

// Every slice is scaled by the peak the whole mix reaches, a number of the score. Once the
// piece is done: whether the mix really peaked there (a changed score must restate it).
bool tessaloon_peak_held(const Rendering& r);

// The whole piece as interleaved signed 16-bit stereo samples at 44,100 Hz, left first.
// Deterministic: the same build gives the same samples on every run. Empty when the peak did
// not hold.
std::vector<int16_t> render_tessaloon();

// The piece as a WAV file in the one layout the demo plays: the canonical 44-byte header, then
// the samples little-endian. What the build writes to tessaloon.wav and the web page's worker
// hands over, byte for byte. Empty when the peak did not hold.
std::vector<uint8_t> render_tessaloon_wav();

}  // namespace soundtrack
