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

}  // namespace soundtrack
