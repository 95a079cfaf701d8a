// The program's noise: the C library's rand() sequence as it runs when never seeded, drawn
// in order by the compositor and by nothing else.
//
//     NoiseSource noise = noise_source_checked();  // once, before the first frame
//     int32_t values[64];
//     noise.draw(values, 64);                      // the next 64 values of the sequence
//
// glibc's rand() takes a lock on every call, which makes it the bulk of a frame's cost. Its
// generator is a "type 3" additive feedback generator; a private copy of it gives the same
// values several times faster. noise_source_checked compares the copy with this C library's
// rand() and uses it only where they agree; elsewhere every value comes from rand() itself,
// so the sequence is this C library's own on any system, only slower. Where the demo must
// look as it does on Linux whatever the C library (the web page), noise_source_unseeded gives
// glibc's sequence from the private copy unconditionally.
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

    // Moves on by `count` values without making them: the recurrence is linear, so the word
    // `count` steps ahead is a fixed sum of multiples of today's 31, found from x^count modulo
    // x^31 - x^28 - 1 in a few dozen polynomial products. Identical to filling and dropping.
    void jump(uint64_t count);
};

// One run of the noise sequence, owned by the program and handed to every frame.
struct NoiseSource {
    NoiseGenerator generator;
    bool use_rand = false;  // draw from the C library's rand() instead of the generator

    // Writes the next `count` values of the sequence to `out`.
    void draw(int32_t* out, int32_t count);

    // Moves the sequence on by `count` values, as drawing them would.
    void skip(int64_t count);
};

// The generator where glibc's rand() starts when never seeded (the state srand(1) sets).
NoiseGenerator noise_unseeded_generator();

// glibc's unseeded sequence from its first value, from the private generator.
NoiseSource noise_source_unseeded();

// This C library's unseeded rand() sequence from its first value: compares rand() from its
// unseeded state (srand(1)) with the generator, puts rand() back to that state, and draws from
// the generator when they agree, else from rand(). Nothing else may call rand() while the
// source is in use.
NoiseSource noise_source_checked();

// noise_source_checked with the C library's rand and srand replaced (lets tests see the
// fallback).
NoiseSource noise_source_checked_with(int (*rand_fn)(), void (*srand_fn)(unsigned));
