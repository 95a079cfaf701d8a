// The program's noise: the C library's rand() sequence as it runs when never seeded, drawn
// in order by the compositor and by nothing else.
//
//     bool fast = noise_init();          // once, at start-up, before the first frame
//     int32_t values[64];
//     noise_draw(values, 64);            // the next 64 values of the sequence
//
// glibc's rand() takes a lock on every call, which makes it the bulk of a frame's cost. Its
// generator is a "type 3" additive feedback generator; a private copy of it gives the same
// values several times faster. noise_init checks, by comparing with this C library's rand(),
// that the copy really reproduces it, and only then switches to it. Until then, and for good
// where the check fails, every value comes from rand() itself, so the sequence is right on any
// C library, only slower.
#pragma once
#include <cstdint>

constexpr int kNoiseLongLag = 31;  // state words; a new word adds the one 31 back...
constexpr int kNoiseShortLag = 3;  // ...and the one 3 back

// The additive feedback generator: word[i] = word[i - 3] + word[i - 31] (mod 2^32), each
// value the new word shifted right by one (0..2^31 - 1, the range of glibc's rand()).
struct NoiseGenerator {
    uint32_t words[kNoiseLongLag] = {};  // the last 31 words, oldest first

    // Writes the next `count` values to `out`.
    void fill(int32_t* out, int32_t count);
};

// The generator where glibc's rand() starts when never seeded (the state srand(1) sets).
NoiseGenerator noise_unseeded_generator();

// Checks this C library's rand() against the generator, puts rand() back to its unseeded
// state with srand(1), and uses the generator from then on when they agree. Returns whether
// the generator is in use. Call it before anything draws from rand() or from noise_draw: once
// a value has been drawn it changes nothing and only reports the path in use.
bool noise_init();

// noise_init with the C library's rand and srand replaced (lets tests see the fallback).
bool noise_init_with(int (*rand_fn)(), void (*srand_fn)(unsigned));

// Writes the next `count` values of the program's noise sequence to `out`.
void noise_draw(int32_t* out, int32_t count);

// Starts the sequence over from its first value on the path in use (srand(1) included), as
// if no value had been drawn. For tests, which compare whole runs from the start.
void noise_restart();
