#include "soundtrack/arrangement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <numbers>

#include "common/exact_arithmetic.h"
#include "common/wav_format.h"

#include "soundtrack/voices.h"

namespace soundtrack {
namespace {

// 150 BPM: a beat is 0.4 s, two frames of the star field; a sixteenth note is 0.1 s, exactly
// 4410 samples, so the grid never drifts. Positions within a bar are counted in sixteenths.
constexpr size_t kStep = kSampleRate / 10;
constexpr size_t kStepsPerBar = 16;
constexpr size_t kBar = kStep * kStepsPerBar;

// The form, in bars.
constexpr int kBuildBar = 8;       // kick and bass arrive
constexpr int kDrumsInBar = 12;    // clap, sixteenth hats and the first riser
constexpr int kMainBar = 16;       // the hook, full band
constexpr int kBreakBar = 40;      // bells alone in an empty room
constexpr int kRebuildBar = 48;    // pads, arp and kick climb back
constexpr int kFinaleBar = 52;     // the hook an octave higher, everything louder
constexpr int kOutroBar = 76;      // the band thins out
constexpr int kCadenceBar = 80;    // iv, V, i
constexpr int kLastChordBar = 82;  // the final A minor, left to ring
constexpr int kEndBar = 87;        // silence after the ring-out; the file ends here

// Levels, linear, before the master drive. Chosen by ear and by the analysis figures.
constexpr double kKickGain = 0.62;
constexpr double kClapGain = 0.30;
constexpr double kSnareGain = 0.26;
constexpr double kHatGain = 0.075;
constexpr double kOpenHatGain = 0.06;
constexpr double kCrashGain = 0.10;
constexpr double kRiserGain = 0.22;
constexpr double kBoomGain = 0.45;
constexpr double kBoomLowHz = 34.0;  // where the break's boom ends up: felt more than heard
constexpr double kBassGain = 0.30;
constexpr double kLeadGain = 0.24;
constexpr double kPadGain = 0.07;  // per chord note
constexpr double kArpGain = 0.11;
constexpr double kBellGain = 0.16;

constexpr double kReverbSend = 0.9;       // room level in the mix
constexpr double kLeadRoom = 0.3;         // the lead's send to the room
constexpr double kEchoRoom = 0.25;        // each echo side's send to the room
constexpr double kReverbFeedback = 0.83;  // about a second of room
constexpr double kReverbDamping = 0.3;
constexpr double kDelayFeedback = 0.38;
constexpr size_t kDelay = 3 * kStep;  // a dotted eighth: echoes fall between the notes
constexpr double kDelaySend = 0.45;

// Sidechain: the bass and the music dip under every kick and swell back, the pump of the style.
constexpr double kDuckDepth = 0.55;
constexpr double kDuckAttackS = 0.004;
constexpr double kDuckReleaseS = 0.09;

// Master: the mix is saturated (tanh) at `drive` times its level; louder sections are driven
// harder, which is what makes them dense. tanh never quite flattens, so no run of samples sits
// pinned at the peak. The result is scaled so that its peak sits at
// -0.5 dBFS, 0.2 dB inside the limit.
constexpr double kPeakTarget = 0.944;
constexpr double kDcBlockHz = 4.0;
constexpr double kGateRampS = 0.012;  // fades of the two full stops

// A chord: the bass root and four pad notes (MIDI), voiced close around middle C.
struct Chord {
    int root;
    std::array<int, 4> notes;
};
constexpr Chord kAm{45, {57, 60, 64, 69}};
constexpr Chord kF{41, {57, 60, 65, 69}};
constexpr Chord kC{48, {55, 60, 64, 67}};
constexpr Chord kG{43, {55, 59, 62, 67}};
constexpr Chord kDm{38, {57, 62, 65, 69}};
constexpr Chord kE{40, {56, 59, 64, 68}};

const Chord& chord_of(int bar) {
    static const std::array<const Chord*, 4> kLoop = {&kAm, &kF, &kC, &kG};  // i VI III VII
    if (bar == kCadenceBar) return kDm;
    if (bar == kCadenceBar + 1) return kE;
    if (bar >= kLastChordBar) return kAm;
    return *kLoop[bar % 4];
}

// One note of a melody: start and length in sixteenths from the bar, pitch in MIDI.
struct Note {
    int step;
    int length;
    int pitch;
};

// The hook, eight bars over i VI III VII twice; the second half climbs and lands on A.
constexpr std::array<std::array<Note, 5>, 8> kHook = {{
    {{{0, 3, 76}, {3, 3, 81}, {6, 2, 79}, {8, 4, 76}, {12, 4, 72}}},
    {{{0, 3, 77}, {3, 3, 76}, {6, 2, 72}, {8, 6, 69}, {14, 2, 72}}},
    {{{0, 3, 79}, {3, 3, 76}, {6, 2, 72}, {8, 4, 79}, {12, 4, 84}}},
    {{{0, 3, 83}, {3, 3, 79}, {6, 2, 74}, {8, 8, 79}, {0, 0, 0}}},
    {{{0, 3, 76}, {3, 3, 81}, {6, 2, 84}, {8, 4, 83}, {12, 4, 81}}},
    {{{0, 3, 77}, {3, 3, 81}, {6, 2, 84}, {8, 6, 81}, {14, 2, 79}}},
    {{{0, 3, 79}, {3, 3, 76}, {6, 2, 79}, {8, 4, 84}, {12, 4, 83}}},
    {{{0, 6, 83}, {6, 2, 81}, {8, 8, 81}, {0, 0, 0}, {0, 0, 0}}},
}};

// The bells of the break: a three-note call every other bar (F, E minor, F, A minor), then the
// room empties. Nothing else plays there, so the calls carry the harmony alone.
constexpr std::array<std::array<int, 3>, 4> kBreakCalls = {{
    {77, 81, 84},
    {76, 79, 83},
    {77, 81, 84},
    {76, 81, 88},
}};

// Arpeggio order over the four chord notes and the second one an octave up.
constexpr std::array<int, 16> kArpOrder = {0, 1, 2, 3, 4, 3, 2, 1, 0, 2, 1, 3, 2, 4, 3, 1};

size_t at(int bar, int step = 0) {
    return static_cast<size_t>(bar) * kBar + static_cast<size_t>(step) * kStep;
}

// A value that moves in straight lines between (bar, value) points and holds past the ends.
struct Curve {
    std::vector<std::array<double, 2>> points;

    double at_bar(double bar) const {
        if (bar <= points.front()[0]) return points.front()[1];
        for (size_t i = 1; i < points.size(); ++i) {
            if (bar <= points[i][0]) {
                const double span = points[i][0] - points[i - 1][0];
                const double x = span > 0.0 ? (bar - points[i - 1][0]) / span : 1.0;
                return points[i - 1][1] + (points[i][1] - points[i - 1][1]) * x;
            }
        }
        return points.back()[1];
    }
};

// Reads a curve sample by sample: evaluates it every kCurveBlock samples and interpolates in
// between, so that automation costs next to nothing per sample yet never steps.
constexpr size_t kCurveBlock = 32;
struct CurveReader {
    const Curve* curve;
    double from = 0.0, to = 0.0;

    double at(size_t i) {
        const size_t offset = i % kCurveBlock;
        if (offset == 0) {
            from = curve->at_bar(static_cast<double>(i) / kBar);
            to = curve->at_bar(static_cast<double>(i + kCurveBlock) / kBar);
        }
        return from + (to - from) * (static_cast<double>(offset) / kCurveBlock);
    }
};

// The band's parts, all written into one dry mix and the effect sends.
struct Parts {
    Bus mix;                    // everything dry; drums, risers, crashes and booms are never ducked
    Sends sends;                // what the pads, arp, bells and lead feed the room and the echo
    std::vector<size_t> kicks;  // onsets, for the sidechain
    Sidechain duck;             // made from `kicks` once the drums are written
    Rng noise;

    Target drum_kit() { return Target{&mix}; }
    Target bass() { return Target{&mix, nullptr, 0.0, 0.0, &duck}; }
    Target lead() { return Target{&mix, &sends, kLeadRoom, 0.0, &duck}; }
    Target pads() { return Target{&mix, &sends, 1.0, 0.0, &duck}; }
    Target arp() { return Target{&mix, &sends, 0.0, kDelaySend, &duck}; }
    Target bells() { return Target{&mix, &sends, 1.0, kDelaySend, &duck}; }
    Target room_bells() {
        return Target{&mix, &sends, 1.0, 0.0, &duck};
    }  // no echoes: the break needs its silences
};

void kick(Parts& p, size_t when) {
    add_kick(p.drum_kit(), when, kKickGain);
    p.kicks.push_back(when);
}

void write_drums(Parts& p) {
    // Build-up: four on the floor, eighth hats, then claps and sixteenths, then a snare roll.
    for (int bar = kBuildBar; bar < kMainBar; ++bar) {
        const bool rolling = bar >= kMainBar - 2;
        for (int beat = 0; beat < 4; ++beat) {
            const int step = beat * 4;
            if (!rolling || bar == kMainBar - 2 || beat < 2) kick(p, at(bar, step));
            if (bar >= kDrumsInBar && !rolling && (beat == 1 || beat == 3))
                add_clap(p.drum_kit(), at(bar, step), kClapGain, p.noise);
        }
        const int hat_every = bar >= kDrumsInBar ? 1 : 2;
        for (int step = 0; step < 16; step += hat_every) {
            const double accent = step % 4 == 2 ? 1.0 : 0.6;
            add_hat(p.drum_kit(), at(bar, step), kHatGain * accent, false, step % 2 ? 0.35 : -0.2,
                    p.noise);
        }
    }
    // Snare roll into the main section: eighths, then sixteenths, getting louder; the last
    // beat before the drop stays empty.
    for (int step = 0; step < 16; step += 2)
        add_snare(p.drum_kit(), at(kMainBar - 2, step), kSnareGain * (0.35 + 0.03 * step), p.noise);
    for (int step = 0; step < 12; ++step)
        add_snare(p.drum_kit(), at(kMainBar - 1, step), kSnareGain * (0.6 + 0.035 * step), p.noise);

    // The full groove, main section and finale.
    auto groove = [&p](int from, int to) {
        for (int bar = from; bar < to; ++bar) {
            for (int beat = 0; beat < 4; ++beat) {
                const int step = beat * 4;
                kick(p, at(bar, step));
                if (beat == 1 || beat == 3)
                    add_clap(p.drum_kit(), at(bar, step), kClapGain, p.noise);
                add_hat(p.drum_kit(), at(bar, step + 2), kOpenHatGain, true, 0.25, p.noise);
            }
            for (int step = 0; step < 16; ++step) {
                if (step % 4 == 2) continue;  // the open hat's place
                const double accent = step % 2 ? 0.55 : 0.8;
                add_hat(p.drum_kit(), at(bar, step), kHatGain * accent, false,
                        step % 2 ? 0.4 : -0.3, p.noise);
            }
            if ((bar - from) % 8 == 0) add_crash(p.drum_kit(), at(bar), kCrashGain, p.noise);
        }
    };
    groove(kMainBar, kBreakBar);
    groove(kFinaleBar, kOutroBar);
    // A sixteenth-note fill hands the main section over to the break.
    for (int step = 12; step < 16; ++step)
        add_snare(p.drum_kit(), at(kBreakBar - 1, step), kSnareGain * (0.5 + 0.1 * (step - 12)),
                  p.noise);

    // Rebuild: kicks on the beat, a roll that doubles up, a full stop on the last two beats.
    for (int bar = kRebuildBar; bar < kFinaleBar - 1; ++bar) {
        for (int beat = 0; beat < 4; ++beat) kick(p, at(bar, beat * 4));
    }
    for (int step = 0; step < 16; step += 2)
        add_snare(p.drum_kit(), at(kFinaleBar - 2, step), kSnareGain * (0.4 + 0.03 * step),
                  p.noise);
    for (int step = 0; step < 8; ++step)
        add_snare(p.drum_kit(), at(kFinaleBar - 1, step), kSnareGain * (0.7 + 0.04 * step),
                  p.noise);

    // Outro: two bars of groove, two of hats alone.
    for (int bar = kOutroBar; bar < kCadenceBar; ++bar) {
        for (int beat = 0; beat < 4; ++beat) {
            const int step = beat * 4;
            if (bar < kOutroBar + 2) {
                kick(p, at(bar, step));
                if (beat == 1 || beat == 3)
                    add_clap(p.drum_kit(), at(bar, step), kClapGain * 0.8, p.noise);
            }
            add_hat(p.drum_kit(), at(bar, step + 2), kHatGain * 0.8, false, 0.3, p.noise);
        }
    }
    add_crash(p.drum_kit(), at(kOutroBar), kCrashGain, p.noise);

    add_riser(p.drum_kit(), at(kDrumsInBar), at(kMainBar - 1, 12) - at(kDrumsInBar), kRiserGain,
              p.noise);
    add_riser(p.drum_kit(), at(kRebuildBar), at(kFinaleBar - 1, 8) - at(kRebuildBar), kRiserGain,
              p.noise);
    add_boom(p.drum_kit(), at(kBreakBar), kBoomGain, kBoomLowHz, 0.3);
    add_boom(p.drum_kit(), at(kLastChordBar), kBoomGain * 0.8, note_hz(kAm.root - 12), 0.9);
}

void write_bass(Parts& p) {
    // Galloping sixteenths between the kicks; off-beat eighths where the groove is lighter.
    auto play = [&p](int bar, bool gallop, double cutoff) {
        const Chord& c = chord_of(bar);
        for (int step = 0; step < 16; ++step) {
            const int in_beat = step % 4;
            if (in_beat == 0 || (!gallop && in_beat != 2)) continue;
            const size_t len = gallop ? kStep * 7 / 8 : kStep * 3 / 2;
            const int octave =
                (gallop && in_beat == 3 && step >= 12) ? 12 : 0;  // a lift at the bar's end
            add_bass(p.bass(), at(bar, step), len, c.root + octave, kBassGain, cutoff);
        }
    };
    for (int bar = kBuildBar; bar < kMainBar; ++bar) {
        if (bar == kMainBar - 1) continue;  // the roll bar: no bass, more tension
        play(bar, bar >= kDrumsInBar, 300.0 + 60.0 * (bar - kBuildBar));
    }
    for (int bar = kMainBar; bar < kBreakBar; ++bar) play(bar, true, 900.0);
    for (int bar = kRebuildBar; bar < kFinaleBar - 1; ++bar) play(bar, false, 500.0);
    for (int bar = kFinaleBar; bar < kOutroBar; ++bar) play(bar, true, 1100.0);
    for (int bar = kOutroBar; bar < kCadenceBar; ++bar) play(bar, false, 700.0);
    // The cadence: long held roots; the final chord's low A is the boom's.
    add_bass(p.bass(), at(kCadenceBar), kBar - kStep, kDm.root, kBassGain * 0.8, 400.0);
    add_bass(p.bass(), at(kCadenceBar + 1), kBar - kStep, kE.root, kBassGain * 0.8, 400.0);
}

// The pads rise out of silence over the intro, come back low for the rebuild and fade at the
// end; the arp creeps in under the intro and the rebuild. Levels in dB.
const Curve& pad_level() {
    static const Curve curve{{{0, -70},
                              {1, -36},
                              {2.5, -8},
                              {4, 6},
                              {kBuildBar, 3},
                              {kMainBar, 0},
                              {kBreakBar, 0},
                              {kRebuildBar, -18},
                              {kFinaleBar, 7},
                              {kOutroBar, 7},
                              {kCadenceBar, 0},
                              {kLastChordBar + 1, 0},
                              {kLastChordBar + 2.5, -60}}};
    return curve;
}
const Curve& arp_level() {
    static const Curve curve{
        {{4, -12}, {kMainBar, 0}, {kBreakBar, 0}, {kRebuildBar, -14}, {kFinaleBar, 0}}};
    return curve;
}

double db_to_gain(double db) { return std::pow(10.0, db / 20.0); }

void write_pads(Parts& p) {
    auto chord = [&p](int bar, int bars, double cutoff, int extra_note) {
        const double from = kPadGain * db_to_gain(pad_level().at_bar(bar));
        const double to = kPadGain * db_to_gain(pad_level().at_bar(bar + bars));
        std::vector<double> notes(chord_of(bar).notes.begin(), chord_of(bar).notes.end());
        if (extra_note) notes.push_back(extra_note);
        add_pad(p.pads(), at(bar), bars * kBar, notes, from, to, cutoff);
    };
    for (int bar = 0; bar < kBreakBar; ++bar)
        chord(bar, 1, bar < kMainBar ? 700.0 + 70.0 * bar : 2200.0, 0);
    for (int bar = kRebuildBar; bar < kLastChordBar; ++bar)
        chord(bar, 1, bar < kFinaleBar ? 1200.0 : 2400.0, 0);
    chord(kLastChordBar, 2, 1600.0, kAm.root + 12);  // with the low A under it
}

void write_arp(Parts& p) {
    auto play = [&p](int bar, double cutoff) {
        const Chord& c = chord_of(bar);
        for (int step = 0; step < 16; ++step) {
            const int which = kArpOrder[step];
            const int note = (which == 4 ? c.notes[1] + 12 : c.notes[which]) + 12;
            const double gain = kArpGain * db_to_gain(arp_level().at_bar(bar + step / 16.0));
            add_pluck(p.arp(), at(bar, step), kStep * 9 / 10, note, gain, cutoff,
                      step % 2 ? 0.45 : -0.45);
        }
    };
    for (int bar = 4; bar < kBreakBar; ++bar)
        play(bar, bar < kMainBar ? 250.0 + 60.0 * (bar - 4) : 1400.0);
    for (int bar = kRebuildBar; bar < kCadenceBar; ++bar) {
        const double cutoff = bar < kFinaleBar  ? 400.0 + 200.0 * (bar - kRebuildBar)
                              : bar < kOutroBar ? 1600.0
                                                : 1200.0 - 200.0 * (bar - kOutroBar);
        play(bar, cutoff);
    }
}

void write_lead(Parts& p) {
    auto phrase = [&p](int first_bar, int bars, double gain, double cutoff, bool octave_up) {
        for (int bar = first_bar; bar < first_bar + bars; ++bar) {
            for (const Note& n : kHook[(bar - first_bar) % 8]) {
                if (n.length == 0) continue;
                const size_t len = n.length * kStep - kStep / 4;
                add_lead(p.lead(), at(bar, n.step), len, n.pitch, gain, cutoff);
                if (octave_up)
                    add_lead(p.lead(), at(bar, n.step), len, n.pitch + 12, gain * 0.5, cutoff);
            }
        }
    };
    phrase(kMainBar, 16, kLeadGain, 3200.0, false);
    phrase(kMainBar + 16, 8, kLeadGain, 3600.0, true);
    phrase(kFinaleBar, 24, kLeadGain * 1.4, 4200.0, true);
    phrase(kOutroBar, 4, kLeadGain * 0.7, 1800.0, false);
}

void write_bells(Parts& p) {
    // The intro foreshadows the hook: its first three notes, bar by bar.
    for (int bar = 4; bar < kBuildBar; ++bar) {
        for (int i = 0; i < 3; ++i) {
            const Note& n = kHook[bar % 4][i];
            add_bell(p.bells(), at(bar, n.step), n.pitch, kBellGain, 0.45, i == 1 ? 0.4 : -0.3);
        }
    }
    for (size_t call = 0; call < kBreakCalls.size(); ++call) {
        const int bar = kBreakBar + 2 * static_cast<int>(call);
        for (int i = 0; i < 3; ++i) {
            add_bell(p.room_bells(), at(bar, 3 * i), kBreakCalls[call][i], kBellGain, 0.22,
                     -0.5 + 0.5 * i);
        }
    }
    // The finale's bells double the hook's downbeats; the last chord gets an A and an E.
    for (int bar = kFinaleBar + 8; bar < kOutroBar; ++bar) {
        add_bell(p.bells(), at(bar), kHook[(bar - kFinaleBar) % 8][0].pitch + 12, kBellGain * 0.6,
                 0.3, 0.5);
    }
    add_bell(p.bells(), at(kLastChordBar), 81, kBellGain, 0.9, -0.3);
    add_bell(p.bells(), at(kLastChordBar, 2), 76, kBellGain * 0.7, 0.9, 0.3);
    add_bell(p.bells(), at(kLastChordBar, 4), 69, kBellGain * 0.7, 1.0, 0.0);
}

// One-pole DC blocker.
struct DcBlocker {
    double prev_in = 0.0, prev_out = 0.0;
    double step(double v) {
        constexpr double kPole = 1.0 - 2.0 * std::numbers::pi * kDcBlockHz / kSampleRate;
        prev_out = v - prev_in + kPole * prev_out;
        prev_in = v;
        return prev_out;
    }
};

// The drive per section: louder sections are driven harder into the saturation.
const Curve& drive_level() {
    static const Curve curve{{{0, 1.0},
                              {kBuildBar, 1.0},
                              {kMainBar - 0.01, 1.8},
                              {kMainBar, 2.4},
                              {kBreakBar - 0.01, 2.4},
                              {kBreakBar, 1.0},
                              {kRebuildBar, 1.0},
                              {kFinaleBar - 0.01, 2.0},
                              {kFinaleBar, 4.0},
                              {kOutroBar, 4.0},
                              {kCadenceBar, 1.6},
                              {kEndBar, 1.6}}};
    return curve;
}

// The two full stops before the drops, gated to silence.
const Curve& gate_level() {
    static const double ramp = kGateRampS * kSampleRate / kBar;  // in bars
    static const double stop1 = kMainBar - 0.25, stop2 = kFinaleBar - 0.5;
    static const Curve curve{{{stop1, 1.0},
                              {stop1 + ramp, 0.0},
                              {kMainBar - ramp, 0.0},
                              {kMainBar, 1.0},
                              {stop2, 1.0},
                              {stop2 + ramp, 0.0},
                              {kFinaleBar - ramp, 0.0},
                              {kFinaleBar, 1.0}}};
    return curve;
}

// The peak of the mastered mix over the whole piece, before scaling: what scales every slice
// to kPeakTarget, so that a slice need not wait for the whole. tessaloon-synth checks it on
// every build.
constexpr double kMixPeak = 0x1.1b640ddd1fe68p+0;

}  // namespace

struct Master {
    PingPongDelay echo = make_delay(kDelay, kDelayFeedback);
    Reverb room = make_reverb(kReverbFeedback, kReverbDamping);
    CurveReader drive_gain{&drive_level()}, gate_gain{&gate_level()};
    size_t duck_cursor = 0;
    DcBlocker dc_in[2], dc_out[2];
};

size_t tessaloon_frames() { return at(kEndBar); }

Rendering tessaloon_start() { return Rendering{0, 0.0, std::make_shared<Master>()}; }

size_t tessaloon_render(Rendering* r, size_t frames, int16_t* pcm) {
    const size_t begin = r->done, end = std::min(tessaloon_frames(), begin + frames);
    if (begin >= end) return 0;
    // The whole score, every slice: notes outside the slice cost next to nothing, and notes
    // into it are written in the score's order, so each sample sums the same floats in the
    // same order as in the whole piece.
    Parts p{make_bus(begin, end, tessaloon_frames()),
            Sends{Samples(end - begin), Samples(end - begin)},
            {},
            {},
            Rng{}};
    write_drums(p);
    p.duck = make_sidechain(p.kicks, kDuckDepth, kDuckAttackS, kDuckReleaseS);
    write_bass(p);
    write_pads(p);
    write_arp(p);
    write_lead(p);
    write_bells(p);

    Master& m = *r->master;
    const double scale = kPeakTarget / kMixPeak;
    constexpr double kFull = kFullScaleSample;
    for (size_t i = begin; i < end; ++i) {
        const size_t k = i - begin;
        double echo_l = 0.0, echo_r = 0.0, room_l = 0.0, room_r = 0.0;
        m.echo.step(p.sends.echo[k], &echo_l, &echo_r);
        m.room.step(p.sends.room[k] + kEchoRoom * (echo_l + echo_r), &room_l, &room_r);
        const double d = p.duck.gain(i, &m.duck_cursor);
        const double wet_l = d * (echo_l + kReverbSend * room_l);
        const double wet_r = d * (echo_r + kReverbSend * room_r);
        const double g = m.drive_gain.at(i), open = m.gate_gain.at(i);
        const double l =
            m.dc_out[0].step(saturate(g * m.dc_in[0].step(p.mix.left[k] + wet_l)) * open);
        const double rr =
            m.dc_out[1].step(saturate(g * m.dc_in[1].step(p.mix.right[k] + wet_r)) * open);
        r->peak = std::max({r->peak, std::fabs(l), std::fabs(rr)});
        // Through single precision, as the mix is held.
        pcm[2 * k] = static_cast<int16_t>(std::lround(static_cast<float>(l) * scale * kFull));
        pcm[2 * k + 1] = static_cast<int16_t>(std::lround(static_cast<float>(rr) * scale * kFull));
    }
    r->done = end;
    return end - begin;
}

bool tessaloon_peak_held(const Rendering& r) {
    return r.done == tessaloon_frames() && r.peak == kMixPeak;
}

std::vector<int16_t> render_tessaloon() {
    Rendering r = tessaloon_start();
    std::vector<int16_t> pcm(2 * tessaloon_frames());
    tessaloon_render(&r, tessaloon_frames(), pcm.data());
    if (!tessaloon_peak_held(r)) pcm.clear();
    return pcm;
}

std::vector<uint8_t> render_tessaloon_wav() {
    const std::vector<int16_t> pcm = render_tessaloon();
    if (pcm.empty()) return {};
    const auto data_bytes = static_cast<uint32_t>(pcm.size() * sizeof(int16_t));
    std::vector<uint8_t> wav(kWavHeaderBytes + data_bytes);
    uint8_t header[kWavHeaderBytes];
    wav_write_header(header, data_bytes);
    std::copy(std::begin(header), std::end(header), wav.begin());
    uint8_t* at = wav.data() + kWavHeaderBytes;
    for (const int16_t s : pcm) {
        wav_put_u16(at, static_cast<uint16_t>(s));
        at += sizeof s;
    }
    return wav;
}

}  // namespace soundtrack
