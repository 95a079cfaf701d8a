// Pulse filter: a four-pole resonant low-pass (four-stage ladder with a cubic soft clip on its
// output) over the analyzer's one-sample-per-frame signal. Its output magnitude becomes the
// `pulse` level that darkens the star field.
//
//     LadderFilter f;                    // constant coefficients, zero state
//     PulseLevels l = f.step(sample);
#pragma once
#include <cstdint>

struct PulseLevels {
    int32_t pulse;  // 0, 100, 200 or 255
    bool strong;    // the unclamped level exceeds 200 (exactly when pulse is 255)
};

struct LadderFilter {
    // Tuned with f = 0.0256: k = 3.6 f - 1.6 f^2 - 1, p = (k + 1) / 2.
    double p = 0.045555712000000005;  // stage gain
    double k = -0.908888576;          // stage feedback
    double r = 1.7837722796494393;    // resonance: output fed back to the input
    double y1 = 0.0, y2 = 0.0, y3 = 0.0;  // stage outputs
    double y4 = 0.0;                       // clipped filter output
    double oldx = 0.0;                     // previous stage-1 input
    double oldy1 = 0.0, oldy2 = 0.0, oldy3 = 0.0;  // previous outputs of stages 1 to 3

    PulseLevels step(double input);
};
