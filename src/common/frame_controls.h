// The per-frame control record: what the analysis of one soundtrack sample hands to the
// compositor, and the ranges each control keeps to.
#pragma once
#include <cstdint>

// The ranges the analyzer keeps each control in (and the compositor relies on).
constexpr int32_t kMaxFlash = 255;  // flash: 0..255, in steps of 10 then saturated
constexpr int32_t kPulseLevels[] = {0, 100, 200, 255};  // pulse takes only these
constexpr int32_t kMaxPulse = 255;
constexpr int32_t kMinNoiseRange = 1;     // noise_range: 1..1019; a modulus of 0 is undefined
constexpr int32_t kMaxNoiseRange = 1019;  // the smooth envelope settles just below 1020
constexpr int32_t kMaxNoiseOffset = 510;  // half of the quick envelope's 1020
constexpr int32_t kShortRing = 20;        // noise ring entries on an ordinary frame
constexpr int32_t kLongRing = 40;         // ... on a frame with a strong pulse

struct FrameControls {
    int32_t flash = 0;                     // 0..kMaxFlash: brightness factor for the globe
    int32_t pulse = 0;                     // one of kPulseLevels: darkening of the star field
    bool invert = false;                   // selects the compositor's second channel routing
    int32_t noise_range = kMinNoiseRange;  // modulus of every noise draw
    int32_t noise_offset = 0;              // 0..kMaxNoiseOffset: offset of the first ring read
    int32_t ring_length = kShortRing;      // kShortRing or kLongRing: entries in the noise ring
};
