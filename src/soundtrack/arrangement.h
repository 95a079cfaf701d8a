// "Tessaloon": the demo's soundtrack, written as a score and mixed down in one pass.
//
// A minor, 150 beats a minute (a beat is 0.4 s, two frames of the star field), 86 bars:
// intro, build-up, main section, break, finale and a cadence that rings out.
//
//     std::vector<int16_t> pcm = render_tessaloon();   // interleaved left, right
#pragma once
#include <cstdint>
#include <vector>

namespace soundtrack {

// The whole piece as interleaved signed 16-bit stereo samples at 44,100 Hz, left first.
// Deterministic: the same build gives the same samples on every run.
std::vector<int16_t> render_tessaloon();

// The piece as a WAV file in the one layout the demo plays: the canonical 44-byte header, then
// the samples little-endian. What the build writes to tessaloon.wav and the web page's worker
// hands over, byte for byte.
std::vector<uint8_t> render_tessaloon_wav();

}  // namespace soundtrack
