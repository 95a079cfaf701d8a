// Instruments and effects of the soundtrack synthesizer.
//
// Every instrument adds one note or hit into a stereo bus (and the effect sends), starting at a
// sample index of the piece; a bus may hold only a slice of the piece, and what falls outside
// it is not computed, yet each sample inside comes out exactly as if the bus held the whole. Every
// note has an attack of at least a millisecond and a release that ends exactly at zero, so no note
// edge clicks. Noise comes from a seeded xorshift generator, never from the standard library's
// distributions, so that the same source gives the same bytes everywhere.
//
//     Bus drums = make_bus(frames);
//     add_kick(Target{&drums}, at, 0.9);
//     add_lead(Target{&music, &sends, 0.3, 0.0}, at, length, 76.0, 0.2, 3000.0);
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>
#include "common/wav_format.h"

namespace soundtrack {

constexpr int kSampleRate = kSampleRateHz;  // samples per second per channel

// Zeroed storage straight from calloc: a fresh large block arrives as untouched zero pages,
// so a vector of it need not be filled element by element. Half the cost of making a bus.
template <typename T>
struct ZeroedAllocator {
    using value_type = T;
    ZeroedAllocator() = default;
    template <typename U>
    ZeroedAllocator(const ZeroedAllocator<U>&) {}
    T* allocate(size_t n) {
        void* p = std::calloc(n, sizeof(T));
        if (!p) std::abort();  // a generator with no memory has nothing better to do
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) { std::free(p); }
    template <typename U>
    void construct(U*) {}  // value-initialising would only write the zeros again
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const ZeroedAllocator<U>&) const {
        return true;
    }
};

// One channel of samples.
using Samples = std::vector<float, ZeroedAllocator<float>>;

// A stereo signal, full scale ±1 per channel, over frames [begin, begin + size) of a piece of
// `piece_frames`. Single precision: 24 bits of mantissa are plenty for a 16-bit result.
struct Bus {
    Samples left;
    Samples right;
    size_t begin = 0;
    size_t piece_frames = 0;
};

// A bus for frames [begin, end) of a piece of `piece_frames`.
Bus make_bus(size_t begin, size_t end, size_t piece_frames);

// Mono inputs of the two shared effects, over the same frames as the bus beside them.
struct Sends {
    Samples room;  // into the reverb
    Samples echo;  // into the ping-pong delay
};

// The pump of the style: a dip in level under every kick onset that swells back.
struct Sidechain {
    std::vector<size_t> kicks;  // onsets in samples, ascending
    std::vector<double> dip;    // depth of the dip by samples since an onset

    // Gain at `sample`. `cursor` is the caller's index of the first kick after the last sample
    // it asked about; samples must be asked for in ascending order.
    double gain(size_t sample, size_t* cursor) const;
    size_t cursor_at(size_t sample) const;  // a cursor for reads from `sample` on
};
// `depth` is the fraction taken off; the dip reaches it after `attack_s` and recovers with time
// constant `release_s`.
Sidechain make_sidechain(std::vector<size_t> kicks, double depth, double attack_s,
                         double release_s);

// Where a voice plays: its dry signal into `dry`, and (when `sends` is set) its mono sum into
// the effect inputs at the given levels; all of it dipped under the kicks when `duck` is set.
struct Target {
    Bus* dry = nullptr;
    Sends* sends = nullptr;
    double room = 0.0;
    double echo = 0.0;
    const Sidechain* duck = nullptr;
};

// xorshift64*: a fixed stream of white noise per seed.
struct Rng {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    double next();              // uniform in [-1, 1)
    void skip(uint64_t count);  // as `count` calls of next() would leave it, at once
};

double note_hz(double midi_note);  // equal temperament, A4 = MIDI 69 = 440 Hz

// tanh, through one exp: the saturation of the kick and of the master, run on every sample,
// where libm's tanh costs several times as much.
double saturate(double x);

// Drums and effects: one hit each.
void add_kick(const Target& to, size_t at, double gain);
void add_clap(const Target& to, size_t at, double gain, Rng& rng);
void add_snare(const Target& to, size_t at, double gain, Rng& rng);
void add_hat(const Target& to, size_t at, double gain, bool open, double pan, Rng& rng);
void add_crash(const Target& to, size_t at, double gain, Rng& rng);
// Noise that sweeps up and swells over `length` samples, stopping at its end.
void add_riser(const Target& to, size_t at, size_t length, double gain, Rng& rng);
// A low thud that falls by an octave onto `to_hz` and dies away with time constant `decay_s`:
// marks a section's start or the piece's end.
void add_boom(const Target& to, size_t at, double gain, double to_hz, double decay_s);

// Pitched voices: the note is held for `length` samples, then released. `pan` runs from -1
// (left) to 1 (right); `cutoff_hz` sets the brightness of the voice's low-pass filter.
void add_bass(const Target& to, size_t at, size_t length, double note, double gain,
              double cutoff_hz);
void add_pluck(const Target& to, size_t at, size_t length, double note, double gain,
               double cutoff_hz, double pan);
void add_lead(const Target& to, size_t at, size_t length, double note, double gain,
              double cutoff_hz);
// A held chord; its level moves in a straight line from `gain_from` to `gain_to` (per note)
// while it is held, so that a run of chords can swell or fade smoothly.
void add_pad(const Target& to, size_t at, size_t length, const std::vector<double>& notes,
             double gain_from, double gain_to, double cutoff_hz);
// A struck bell that rings out on its own; `decay_s` is the time to fall to 1/e.
void add_bell(const Target& to, size_t at, double note, double gain, double decay_s, double pan);

// Echoes that bounce left, right, left, each darker than the last. Mono in, stereo out.
struct PingPongDelay {
    std::vector<double> line_l, line_r;  // one delay line per side
    double feedback = 0.0;               // level of each echo relative to the one before
    double soft_l = 0.0, soft_r = 0.0;   // low-pass state in the loop
    size_t pos = 0;

    void step(double mono, double* out_l, double* out_r);
};
PingPongDelay make_delay(size_t delay, double feedback);

// A small room: four damped combs in parallel and two all-passes in series per side.
struct Reverb {
    struct Side {
        std::vector<double> comb[4];
        size_t comb_pos[4] = {};
        double comb_soft[4] = {};
        std::vector<double> pass[2];
        size_t pass_pos[2] = {};
    };
    Side sides[2];
    double feedback = 0.0;  // comb feedback: sets the length of the tail
    double damping = 0.0;   // comb low-pass: higher darkens the tail faster

    void step(double in, double* out_l, double* out_r);  // mono in, stereo out
};
Reverb make_reverb(double feedback, double damping);

}  // namespace soundtrack
