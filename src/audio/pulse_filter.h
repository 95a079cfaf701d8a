// Pulse filter: a four-pole resonant low-pass (four-stage ladder with a cubic soft clip on its
// output) over the analyzer's one-sample-per-pass signal. Its output magnitude becomes the
// `pulse` level that darkens the star field.
//
//     LadderFilter f;                    // zero state
//     PulseLevels l = f.step(sample);
#pragma once
#include <cstdint>

struct PulseLevels {
    int32_t pulse;  // 0, 100, 200 or 255
    bool strong;    // the unclamped level exceeds 200 (exactly when pulse is 255)
};

// Tuned with f = 0.0256: k = 3.6 f - 1.6 f^2 - 1, p = (k + 1) / 2; these stored values are the
// demo's, to the last bit.
struct LadderTuning {
    double p;  // stage gain
    double k;  // stage feedback
    double r;  // resonance: gain of the clipped output fed back to the input
};
constexpr LadderTuning kPulseFilter = {0.045555712000000005, -0.908888576, 1.7837722796494393};

struct LadderFilter {
    double y1 = 0.0, y2 = 0.0, y3 = 0.0;           // stage outputs
    double y4 = 0.0;                               // clipped filter output
    double oldx = 0.0;                             // previous stage-1 input
    double oldy1 = 0.0, oldy2 = 0.0, oldy3 = 0.0;  // previous outputs of stages 1 to 3

    PulseLevels step(double input);
};
