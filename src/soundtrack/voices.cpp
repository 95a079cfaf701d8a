#include "soundtrack/voices.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <numbers>

#include "common/exact_arithmetic.h"

namespace soundtrack {
namespace {

constexpr double kSeconds = 1.0 / kSampleRate;  // length of one sample

// Shortest edges a note may have: a millisecond in, eight out. Anything quicker clicks.
constexpr double kMinAttackS = 0.001;
constexpr double kMinReleaseS = 0.008;
// Filters are retuned this often (samples) when their cutoff moves: tan() per sample is
// needless at audio rates, and 16 samples is well under a millisecond.
constexpr size_t kRetuneEvery = 16;
// Highest cutoff a filter is tuned to, as a fraction of the sample rate: keeps tan() finite.
constexpr double kMaxCutoffFraction = 0.45;

size_t seconds_to_samples(double s) { return static_cast<size_t>(s * kSampleRate + 0.5); }

// Exponential fall from 1 with time constant `time_s` (0 holds at 1), one sample per call.
struct Decay {
    double value = 1.0;
    double factor = 1.0;  // per sample
    double next() {
        const double v = value;
        value *= factor;
        return v;
    }
};
Decay make_decay(double time_s) {
    return Decay{1.0, time_s > 0.0 ? std::exp(-kSeconds / time_s) : 1.0};
}

// Linear attack, exponential fall from 1 toward `sustain`, held for `held` samples, then a
// release that bends down to exactly 0. One sample per call.
struct Envelope {
    size_t attack;   // samples
    size_t held;     // samples the note is held before its release starts
    size_t release;  // samples
    double sustain;
    Decay fall;
    size_t i = 0;
    double last = 0.0;  // level when the release starts

    size_t length() const { return held + release; }
    double next() {
        const size_t now = i++;
        if (now < held) {
            last = now < attack ? static_cast<double>(now) / attack
                                : sustain + (1.0 - sustain) * fall.next();
            return last;
        }
        const double left = 1.0 - static_cast<double>(now - held) / release;
        return left > 0.0 ? last * left * left : 0.0;
    }
};

Envelope make_envelope(double attack_s, double decay_s, double sustain, double release_s,
                       size_t held) {
    return Envelope{std::max<size_t>(1, seconds_to_samples(attack_s)), held,
                    std::max<size_t>(1, seconds_to_samples(release_s)), sustain,
                    make_decay(decay_s)};
}

// Topology-preserving state-variable filter: stays stable however fast the cutoff moves.
struct Svf {
    double ic1 = 0.0, ic2 = 0.0;
    double a1 = 0.0, a2 = 0.0, a3 = 0.0, k = 1.0;

    void tune(double hz, double q) {
        hz = std::clamp(hz, 10.0, kMaxCutoffFraction * kSampleRate);
        const double g = std::tan(std::numbers::pi * hz / kSampleRate);
        k = 1.0 / q;
        a1 = 1.0 / (1.0 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    // Returns the low-pass output; band and high are left in the out-parameters.
    double step(double v0, double* band = nullptr, double* high = nullptr) {
        const double v3 = v0 - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        if (band) *band = v1;
        if (high) *high = v0 - k * v1 - v2;
        return v2;
    }
};

// Smooths the jump of a naive sawtooth at its wrap (polyBLEP), so high notes do not alias.
double blep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

// Band-limited sawtooth in ±1; `phase` in [0, 1) advances by `inc` cycles per sample.
double saw(double& phase, double inc) {
    const double v = 2.0 * phase - 1.0 - blep(phase, inc);
    phase += inc;
    if (phase >= 1.0) phase -= 1.0;
    return v;
}

// sin(2π × cycles) from a table with linear interpolation: the error is below -120 dB, and
// it costs a fraction of std::sin, which the bells and drums would otherwise call ~20 million
// times.
constexpr size_t kSineTableSize = 4096;
double sine(double cycles) {
    static const std::array<double, kSineTableSize + 1> table = [] {
        std::array<double, kSineTableSize + 1> t{};
        for (size_t i = 0; i <= kSineTableSize; ++i)
            t[i] = std::sin(2.0 * std::numbers::pi * i / kSineTableSize);
        return t;
    }();
    const double x = (cycles - std::floor(cycles)) * kSineTableSize;
    const size_t i = std::min(static_cast<size_t>(x), kSineTableSize - 1);
    const double frac = x - static_cast<double>(i);
    return table[i] + (table[i + 1] - table[i]) * frac;
}

// Equal-power pan gains for pan in [-1, 1].
void pan_gains(double pan, double* left, double* right) {
    const double angle = (pan + 1.0) * std::numbers::pi / 4.0;
    *left = std::cos(angle) * std::sqrt(2.0);
    *right = std::sin(angle) * std::sqrt(2.0);
}

// Writes one note into its target from `at`: the voice computes its first `n` samples, up to
// the end of the bus's slice (none when the note misses the slice), and puts those within it.
// `past` counts the note's samples after them, up to the end of the piece, whose noise a
// noisy voice skips so that the next note draws what it would draw after the whole note.
struct Writer {
    const Target& to;
    size_t at;
    size_t n;
    size_t past;
    size_t cursor;  // into the target's sidechain

    void put(size_t i, double left, double right) {
        const Bus& bus = *to.dry;
        if (at + i < bus.begin) return;  // before the slice: computed for its state only
        const size_t k = at + i - bus.begin;
        if (to.duck) {
            const double g = to.duck->gain(at + i, &cursor);
            left *= g;
            right *= g;
        }
        to.dry->left[k] += static_cast<float>(left);
        to.dry->right[k] += static_cast<float>(right);
        if (to.sends) {
            const double mono = 0.5 * (left + right);
            to.sends->room[k] += static_cast<float>(mono * to.room);
            to.sends->echo[k] += static_cast<float>(mono * to.echo);
        }
    }
};

Writer writer(const Target& to, size_t at, size_t length) {
    const Bus& bus = *to.dry;
    const size_t whole = at >= bus.piece_frames ? 0 : std::min(length, bus.piece_frames - at);
    const size_t end = bus.begin + bus.left.size();
    const size_t n = at >= end || at + whole <= bus.begin ? 0 : std::min(whole, end - at);
    return Writer{to, at, n, whole - n, to.duck ? to.duck->cursor_at(at) : 0};
}

}  // namespace

double Sidechain::gain(size_t sample, size_t* cursor) const {
    // Asked in ascending order: the kick before the cursor lies at or before `sample`.
    assert(*cursor == 0 || kicks[*cursor - 1] <= sample);
    while (*cursor < kicks.size() && kicks[*cursor] <= sample) ++*cursor;
    double duck = 0.0;
    // The latest kick, and the tail of the one before it.
    for (size_t back = 1; back <= 2 && back <= *cursor; ++back) {
        const size_t since = sample - kicks[*cursor - back];
        if (since < dip.size()) duck = std::max(duck, dip[since]);
    }
    return 1.0 - duck;
}

size_t Sidechain::cursor_at(size_t sample) const {
    return static_cast<size_t>(std::upper_bound(kicks.begin(), kicks.end(), sample) -
                               kicks.begin());
}

Sidechain make_sidechain(std::vector<size_t> kicks, double depth, double attack_s,
                         double release_s) {
    constexpr double kReachReleases = 6.0;  // by then the dip is 0.25% of its depth
    std::sort(kicks.begin(), kicks.end());
    Sidechain s{std::move(kicks),
                std::vector<double>(static_cast<size_t>(release_s * kReachReleases * kSampleRate))};
    for (size_t i = 0; i < s.dip.size(); ++i) {
        const double t = static_cast<double>(i) * kSeconds;
        s.dip[i] = depth * std::min(1.0, t / attack_s) * std::exp(-t / release_s);
    }
    return s;
}

Bus make_bus(size_t begin, size_t end, size_t piece_frames) {
    return Bus{Samples(end - begin), Samples(end - begin), begin, piece_frames};
}

double Rng::next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    const uint64_t bits = (state * 0x2545F4914F6CDD1Dull) >> 11;  // 53 random bits
    return static_cast<double>(bits) * (2.0 / 9007199254740992.0) - 1.0;
}

namespace {

// The generator's step is linear over the bits of its state, so n steps are one 64 x 64 bit
// matrix, and any count a product of the matrices for its binary digits. jump[k][j] is
// where 2^k steps take the state with only bit j set.
using BitMatrix = std::array<uint64_t, 64>;

uint64_t times(const BitMatrix& m, uint64_t state) {
    uint64_t out = 0;
    for (int j = 0; state; ++j, state >>= 1)
        if (state & 1) out ^= m[j];
    return out;
}

const std::array<BitMatrix, 64>& jumps() {
    static const std::array<BitMatrix, 64> table = [] {
        std::array<BitMatrix, 64> t{};
        for (int j = 0; j < 64; ++j) {
            Rng one{uint64_t{1} << j};
            one.next();
            t[0][j] = one.state;
        }
        for (int k = 1; k < 64; ++k)
            for (int j = 0; j < 64; ++j) t[k][j] = times(t[k - 1], t[k - 1][j]);
        return t;
    }();
    return table;
}

}  // namespace

void Rng::skip(uint64_t count) {
    for (int k = 0; count; ++k, count >>= 1)
        if (count & 1) state = times(jumps()[k], state);
}

double saturate(double x) {
    const double y = 1.0 - 2.0 / (std::exp(2.0 * std::fabs(x)) + 1.0);
    return x < 0.0 ? -y : y;
}

double note_hz(double midi_note) { return 440.0 * std::pow(2.0, (midi_note - 69.0) / 12.0); }

void add_kick(const Target& to, size_t at, double gain) {
    // A sine that drops from a knock at ~360 Hz to a body on A1, the key's root, in a few tens
    // of milliseconds.
    constexpr double kBodyHz = 55.0, kSweepHz = 130.0, kKnockHz = 180.0;
    constexpr double kSweepS = 0.028, kKnockS = 0.004;
    constexpr double kDrive = 1.8;  // a little saturation for weight
    Envelope env = make_envelope(kMinAttackS, 0.20, 0.0, 0.06, seconds_to_samples(0.30));
    Writer out = writer(to, at, env.length());
    const size_t n = out.n;
    double phase = 0.0;
    const double norm = gain / std::tanh(kDrive);
    Decay sweep = make_decay(kSweepS), knock = make_decay(kKnockS);
    for (size_t i = 0; i < n; ++i) {
        const double hz = kBodyHz + kSweepHz * sweep.next() + kKnockHz * knock.next();
        const double v = norm * saturate(kDrive * sine(phase) * env.next());
        phase += hz * kSeconds;
        out.put(i, v, v);
    }
}

void add_clap(const Target& to, size_t at, double gain, Rng& rng) {
    // Three quick bursts (hands not quite together), then a short room tail, band-passed.
    constexpr double kBurstGapS = 0.011, kBurstS = 0.005, kTailS = 0.10;
    constexpr double kCentreHz = 1250.0, kQ = 1.1;
    Envelope edge = make_envelope(kMinAttackS, 0.0, 1.0, 0.03, seconds_to_samples(0.30));
    Writer out = writer(to, at, edge.length());
    const size_t n = out.n;
    Svf fl, fr;
    fl.tune(kCentreHz, kQ);
    fr.tune(kCentreHz * 1.08, kQ);
    const size_t gap = seconds_to_samples(kBurstGapS);
    std::array<Decay, 3> bursts = {make_decay(kBurstS), make_decay(kBurstS), make_decay(kBurstS)};
    Decay tail = make_decay(kTailS);
    for (size_t i = 0; i < n; ++i) {
        double shape = 0.0;
        for (size_t b = 0; b < bursts.size(); ++b) {
            if (i >= b * gap) shape += bursts[b].next();
        }
        if (i >= 2 * gap) shape += 0.6 * tail.next();
        const double common = rng.next();
        const double nl = 0.8 * common + 0.2 * rng.next();
        const double nr = 0.8 * common + 0.2 * rng.next();
        double bl = 0.0, br = 0.0;
        fl.step(nl, &bl);
        fr.step(nr, &br);
        const double g = gain * shape * edge.next() * 2.0;
        out.put(i, bl * g, br * g);
    }
    rng.skip(3 * out.past);  // three noise values a sample, for the rest of the note
}

void add_snare(const Target& to, size_t at, double gain, Rng& rng) {
    constexpr double kToneHz = 195.0, kToneS = 0.05, kNoiseS = 0.09, kNoiseHighHz = 1800.0;
    Envelope edge = make_envelope(kMinAttackS, 0.0, 1.0, 0.02, seconds_to_samples(0.22));
    Writer out = writer(to, at, edge.length());
    const size_t n = out.n;
    Svf hp;
    hp.tune(kNoiseHighHz, 0.7);
    Decay tone_fall = make_decay(kToneS), noise_fall = make_decay(kNoiseS);
    for (size_t i = 0; i < n; ++i) {
        const double t = i * kSeconds;
        double high = 0.0;
        hp.step(rng.next(), nullptr, &high);
        const double tone = sine(kToneHz * t) * tone_fall.next();
        const double v = gain * edge.next() * (0.5 * tone + 0.8 * high * noise_fall.next());
        out.put(i, v, v);
    }
    rng.skip(out.past);  // a noise value a sample, for the rest of the note
}

void add_hat(const Target& to, size_t at, double gain, bool open, double pan, Rng& rng) {
    constexpr double kHighHz = 7500.0, kShineHz = 10500.0;
    const double decay = open ? 0.085 : 0.016;
    Envelope env = make_envelope(kMinAttackS, decay, 0.0, open ? 0.05 : 0.015,
                                 seconds_to_samples(open ? 0.22 : 0.05));
    Writer out = writer(to, at, env.length());
    const size_t n = out.n;
    Svf hp, shine;
    hp.tune(kHighHz, 0.7);
    shine.tune(kShineHz, 3.0);
    double gl = 0.0, gr = 0.0;
    pan_gains(pan, &gl, &gr);
    for (size_t i = 0; i < n; ++i) {
        double high = 0.0, band = 0.0;
        const double noise = rng.next();
        hp.step(noise, nullptr, &high);
        shine.step(noise, &band);
        const double v = gain * env.next() * (high + 0.6 * band);
        out.put(i, v * gl, v * gr);
    }
    rng.skip(out.past);  // a noise value a sample, for the rest of the note
}

void add_crash(const Target& to, size_t at, double gain, Rng& rng) {
    constexpr double kHighHz = 3800.0;
    Envelope env = make_envelope(0.002, 0.75, 0.0, 0.4, seconds_to_samples(2.6));
    Writer out = writer(to, at, env.length());
    const size_t n = out.n;
    Svf hl, hr;
    hl.tune(kHighHz, 0.6);
    hr.tune(kHighHz, 0.6);
    for (size_t i = 0; i < n; ++i) {
        double l = 0.0, r = 0.0;
        hl.step(rng.next(), nullptr, &l);
        hr.step(rng.next(), nullptr, &r);
        const double g = gain * env.next();
        out.put(i, l * g, r * g);
    }
    rng.skip(2 * out.past);  // two noise values a sample, for the rest of the note
}

void add_riser(const Target& to, size_t at, size_t length, double gain, Rng& rng) {
    constexpr double kFromHz = 300.0, kToHz = 7000.0, kQ = 2.5;
    Envelope edge = make_envelope(0.05, 0.0, 1.0, kMinReleaseS, length);
    Writer out = writer(to, at, edge.length());
    const size_t n = out.n;
    Svf fl, fr;
    for (size_t i = 0; i < n; ++i) {
        const double x = std::min(1.0, static_cast<double>(i) / length);
        if (i % kRetuneEvery == 0) {
            const double hz = kFromHz * std::pow(kToHz / kFromHz, x);
            fl.tune(hz, kQ);
            fr.tune(hz * 1.03, kQ);
        }
        double l = 0.0, r = 0.0;
        fl.step(rng.next(), &l);
        fr.step(rng.next(), &r);
        const double g = gain * x * x * edge.next();
        out.put(i, l * g, r * g);
    }
    rng.skip(2 * out.past);  // two noise values a sample, for the rest of the note
}

void add_boom(const Target& to, size_t at, double gain, double to_hz, double decay_s) {
    constexpr double kFromRatio = 2.0, kFallS = 0.35;  // starts an octave above where it lands
    constexpr double kRingOutDecays = 4.0;
    Envelope env =
        make_envelope(0.002, decay_s, 0.0, 0.5, seconds_to_samples(decay_s * kRingOutDecays));
    Writer out = writer(to, at, env.length());
    const size_t n = out.n;
    double phase = 0.0;
    Decay fall = make_decay(kFallS);
    for (size_t i = 0; i < n; ++i) {
        const double hz = to_hz * (1.0 + (kFromRatio - 1.0) * fall.next());
        const double v = gain * env.next() * sine(phase);
        phase += hz * kSeconds;
        out.put(i, v, v);
    }
}

void add_bass(const Target& to, size_t at, size_t length, double note, double gain,
              double cutoff_hz) {
    // A filtered saw for the growl over a sine an octave down for the weight.
    constexpr double kPluckDepth = 3.0, kPluckS = 0.035, kQ = 0.9, kSubLevel = 0.7;
    Envelope env = make_envelope(0.002, 0.09, 0.65, 0.012, length);
    Writer out = writer(to, at, env.length());
    const size_t n = out.n;
    const double hz = note_hz(note);
    double phase = 0.0, sub = 0.0;
    Svf lp;
    for (size_t i = 0; i < n; ++i) {
        const double t = i * kSeconds;
        if (i % kRetuneEvery == 0)
            lp.tune(cutoff_hz * (1.0 + kPluckDepth * std::exp(-t / kPluckS)), kQ);
        const double body = lp.step(saw(phase, hz * kSeconds));
        const double v = gain * env.next() * (0.6 * body + kSubLevel * sine(sub));
        sub += 0.5 * hz * kSeconds;
        if (sub >= 1.0) sub -= 1.0;
        out.put(i, v, v);
    }
}

void add_pluck(const Target& to, size_t at, size_t length, double note, double gain,
               double cutoff_hz, double pan) {
    // Two saws a few cents apart, one per side, with a filter that snaps shut.
    constexpr double kDetune = 0.06;  // semitones between the two sides
    constexpr double kSnapDepth = 4.0, kSnapS = 0.045, kQ = 1.4;
    Envelope env = make_envelope(0.002, 0.16, 0.0, 0.012, length);
    Writer out = writer(to, at, env.length());
    const size_t n = out.n;
    const double inc_l = note_hz(note - kDetune / 2) * kSeconds;
    const double inc_r = note_hz(note + kDetune / 2) * kSeconds;
    double pl = 0.0, pr = 0.37;
    double gl = 0.0, gr = 0.0;
    pan_gains(pan, &gl, &gr);
    Svf fl, fr;
    for (size_t i = 0; i < n; ++i) {
        const double t = i * kSeconds;
        if (i % kRetuneEvery == 0) {
            const double hz = cutoff_hz * (1.0 + kSnapDepth * std::exp(-t / kSnapS));
            fl.tune(hz, kQ);
            fr.tune(hz, kQ);
        }
        const double e = gain * env.next();
        out.put(i, e * gl * fl.step(saw(pl, inc_l)), e * gr * fr.step(saw(pr, inc_r)));
    }
}

void add_lead(const Target& to, size_t at, size_t length, double note, double gain,
              double cutoff_hz) {
    // Seven detuned saws spread across the field: the wide trance lead.
    constexpr std::array<double, 7> kDetune = {-0.21, -0.13, -0.05, 0.0, 0.06, 0.12, 0.22};
    constexpr std::array<double, 7> kPan = {-0.9, 0.6, -0.35, 0.0, 0.35, -0.6, 0.9};
    constexpr std::array<double, 7> kStartPhase = {0.11, 0.73, 0.42, 0.0, 0.91, 0.27, 0.58};
    constexpr double kVibratoHz = 5.5, kVibratoSemis = 0.12, kVibratoDelayS = 0.25, kQ = 0.8;
    Envelope env = make_envelope(0.008, 0.3, 0.75, 0.08, length);
    Writer out = writer(to, at, env.length());
    const size_t n = out.n;
    std::array<double, 7> phase = kStartPhase;
    std::array<double, 7> gl{}, gr{};
    for (size_t v = 0; v < kPan.size(); ++v) pan_gains(kPan[v], &gl[v], &gr[v]);
    std::array<double, 7> inc{};
    Svf fl, fr;
    fl.tune(cutoff_hz, kQ);
    fr.tune(cutoff_hz, kQ);
    for (size_t i = 0; i < n; ++i) {
        if (i % kRetuneEvery == 0) {
            const double t = i * kSeconds;
            const double depth =
                kVibratoSemis * std::min(1.0, std::max(0.0, t - kVibratoDelayS) * 4.0);
            const double wobble = depth * std::sin(2.0 * std::numbers::pi * kVibratoHz * t);
            for (size_t v = 0; v < inc.size(); ++v)
                inc[v] = note_hz(note + kDetune[v] + wobble) * kSeconds;
        }
        double l = 0.0, r = 0.0;
        for (size_t v = 0; v < phase.size(); ++v) {
            const double s = saw(phase[v], inc[v]);
            l += s * gl[v];
            r += s * gr[v];
        }
        const double e = gain * env.next() / 3.0;
        out.put(i, e * fl.step(l), e * fr.step(r));
    }
}

void add_pad(const Target& to, size_t at, size_t length, const std::vector<double>& notes,
             double gain_from, double gain_to, double cutoff_hz) {
    // Per note three slow-beating saws: the outer two on their own sides, the middle one in
    // both. The chord shares one soft filter a side.
    constexpr std::array<double, 3> kDetune = {-0.11, 0.0, 0.1};
    constexpr std::array<double, 3> kStartPhase = {0.0, 0.5, 0.25};
    Envelope env = make_envelope(0.35, 0.0, 1.0, 0.6, length);
    Writer out = writer(to, at, env.length());
    const size_t n = out.n;
    std::vector<double> phase, inc;
    for (double note : notes) {
        for (size_t v = 0; v < kDetune.size(); ++v) {
            phase.push_back(kStartPhase[v]);
            inc.push_back(note_hz(note + kDetune[v]) * kSeconds);
        }
    }
    Svf fl, fr;
    fl.tune(cutoff_hz, 0.7);
    fr.tune(cutoff_hz, 0.7);
    for (size_t i = 0; i < n; ++i) {
        double l = 0.0, r = 0.0;
        for (size_t v = 0; v < phase.size(); v += 3) {
            const double middle = saw(phase[v + 1], inc[v + 1]);
            l += saw(phase[v], inc[v]) + middle;
            r += saw(phase[v + 2], inc[v + 2]) + middle;
        }
        const double swell = i < length ? static_cast<double>(i) / length : 1.0;
        const double e = (gain_from + (gain_to - gain_from) * swell) * env.next() * 0.5;
        out.put(i, e * fl.step(l), e * fr.step(r));
    }
}

void add_bell(const Target& to, size_t at, double note, double gain, double decay_s, double pan) {
    // Two-operator FM: a modulator an octave up whose depth dies away faster than the tone,
    // so the strike is bright and the ring is pure. The sides are a cent and a half apart.
    constexpr double kRatio = 2.0, kIndex = 2.2, kIndexS = 0.12, kDetuneSemis = 0.015;
    constexpr double kRingOutDecays = 6.0;    // held until ~-52 dB, then released
    constexpr double kInaudibleIndex = 1e-4;  // below this the modulator changes nothing audible
    Envelope env =
        make_envelope(0.002, decay_s, 0.0, 0.03, seconds_to_samples(decay_s * kRingOutDecays));
    Writer out = writer(to, at, env.length());
    const size_t n = out.n;
    const double hl = note_hz(note - kDetuneSemis);
    const double hr = note_hz(note + kDetuneSemis);
    double gl = 0.0, gr = 0.0;
    pan_gains(pan, &gl, &gr);
    Decay index_fall = make_decay(kIndexS);
    for (size_t i = 0; i < n; ++i) {
        const double t = i * kSeconds;
        const double index = kIndex * index_fall.next();
        double l = hl * t, r = hr * t;  // in cycles
        if (index > kInaudibleIndex) {
            l += index / (2.0 * std::numbers::pi) * sine(kRatio * l);
            r += index / (2.0 * std::numbers::pi) * sine(kRatio * r);
        }
        l = sine(l);
        r = sine(r);
        const double e = gain * env.next();
        out.put(i, e * gl * l, e * gr * r);
    }
}

PingPongDelay make_delay(size_t delay, double feedback) {
    PingPongDelay d;
    d.line_l.assign(delay, 0.0);
    d.line_r.assign(delay, 0.0);
    d.feedback = feedback;
    return d;
}

void PingPongDelay::step(double mono, double* out_l, double* out_r) {
    // The input enters the left line; each line feeds the other.
    constexpr double kDarken = 0.35;  // one-pole smoothing weight of the previous value
    const double el = line_l[pos], er = line_r[pos];
    soft_l = el * (1.0 - kDarken) + soft_l * kDarken;
    soft_r = er * (1.0 - kDarken) + soft_r * kDarken;
    line_l[pos] = mono + soft_r * feedback;
    line_r[pos] = soft_l * feedback;
    if (++pos == line_l.size()) pos = 0;
    *out_l = el;
    *out_r = er;
}

namespace {

// Line lengths in samples; the right side's are longer by a few samples so the two sides
// decorrelate into width.
constexpr size_t kComb[4] = {1116, 1188, 1277, 1356};
constexpr size_t kAllPass[2] = {556, 441};
constexpr size_t kRightSpread = 23;
constexpr double kAllPassGain = 0.5;

double room_side(Reverb::Side& s, double x, double feedback, double damping) {
    double sum = 0.0;
    for (int c = 0; c < 4; ++c) {
        const double y = s.comb[c][s.comb_pos[c]];
        s.comb_soft[c] = y * (1.0 - damping) + s.comb_soft[c] * damping;
        s.comb[c][s.comb_pos[c]] = x + s.comb_soft[c] * feedback;
        if (++s.comb_pos[c] == s.comb[c].size()) s.comb_pos[c] = 0;
        sum += y;
    }
    for (int a = 0; a < 2; ++a) {
        const double held = s.pass[a][s.pass_pos[a]];
        const double y = held - sum;
        s.pass[a][s.pass_pos[a]] = sum + held * kAllPassGain;
        if (++s.pass_pos[a] == s.pass[a].size()) s.pass_pos[a] = 0;
        sum = y;
    }
    return sum;
}

}  // namespace

Reverb make_reverb(double feedback, double damping) {
    Reverb r;
    for (int side = 0; side < 2; ++side) {
        const size_t spread = side == 0 ? 0 : kRightSpread;
        for (int c = 0; c < 4; ++c) r.sides[side].comb[c].assign(kComb[c] + spread, 0.0);
        for (int a = 0; a < 2; ++a) r.sides[side].pass[a].assign(kAllPass[a] + spread, 0.0);
    }
    r.feedback = feedback;
    r.damping = damping;
    return r;
}

void Reverb::step(double in, double* out_l, double* out_r) {
    const double x = in * 0.25 * (1.0 - feedback);  // keeps the tail's level sensible
    *out_l = room_side(sides[0], x, feedback, damping);
    *out_r = room_side(sides[1], x, feedback, damping);
}

}  // namespace soundtrack
