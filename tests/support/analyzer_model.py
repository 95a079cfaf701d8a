#!/usr/bin/env python3
"""Independent model of the audio analyzer (flash filter, pulse filter, envelopes).

It is the oracle for AudioAnalyzer.LongRunMatchesAnIndependentModelBitForBit in
tests/analyzer_test.cpp: it builds the same test track, runs the same 20,000 frames
and hashes every frame's controls and the whole analyzer state the same way.

Run:  python3 tests/support/analyzer_model.py
It prints the tallies and the hash to pin in tests/analyzer_test.cpp:
    pulse255 N
    inverted N
    hash 0x...

Standard library only. Python floats are IEEE doubles and Python never fuses a
multiply with an add, so the double arithmetic matches as long as each expression
keeps its order. Single precision is emulated by rounding every product and sum.
"""
import struct

FRAMES = 860000        # stereo frames in the test track
STEPS = 20000          # analyzer frames
FPS = 997.0            # frame rate of the run (odd, so the tap wanders over both channels)

_F = struct.Struct('<f')


def f32(x):
    """Round a double to the nearest single-precision value."""
    return _F.unpack(_F.pack(x))[0]


def long_track(frames):
    """The test track, interleaved int16: six kinds of 131,072-sample segments."""
    out = [0] * (frames * 2)
    state = 0x5EED
    mask = (1 << 64) - 1
    for i in range(frames * 2):
        state = (state * 6364136223846793005 + 1442695040888963407) & mask
        r = state >> 48
        rs = r - 65536 if r >= 32768 else r
        kind = (i >> 17) % 6
        if kind == 0:                  # full-scale noise
            v = rs
        elif kind == 1:                # slow square wave of eight loudnesses, with a little noise
            amp = 1000 + ((i >> 15) & 7) * 4000
            v = (amp if (i >> 12) & 1 else -amp) + (rs >> 6)   # >> is arithmetic, as in C++
        elif kind == 2:                # sparse clicks in silence
            v = rs if (r & 1023) == 0 else 0
        elif kind == 3:
            v = 32767
        elif kind == 4:
            v = -32768
        else:                          # quiet noise
            v = rs >> 6
        out[i] = min(max(v, -32768), 32767)
    return out


def trunc32(x):
    """A double truncated toward zero, as a cast to int32 does (values here stay in range)."""
    return int(x)


# Flash filter: second-order high-pass; the two-back input shares the weight b0.
HP_B0 = 0.7833217276098514
HP_B1 = -1.5666434552197028
HP_A1 = -1.5015427835594561
HP_A2 = 0.6317441268799493

# Pulse filter: four-stage resonant ladder with a cubic soft clip.
LD_P = 0.045555712000000005
LD_K = -0.908888576
LD_R = 1.7837722796494393

# Envelope weights as single-precision constants.
F01, F09, F05 = f32(0.1), f32(0.9), f32(0.5)


def main():
    track = long_track(FRAMES)
    last = 2 * FRAMES - 1
    x1 = x2 = hy1 = hy2 = 0.0                                  # flash filter history
    y1 = y2 = y3 = y4 = oldx = oldy1 = oldy2 = oldy3 = 0.0     # pulse filter state
    range_env = offset_env = 0.0                               # single precision values
    h = 0xcbf29ce484222325
    prime, mask = 0x100000001b3, (1 << 64) - 1
    pulse255 = inverted = 0
    frame_pack = struct.Struct('<iiBiii12d2f')

    for k in range(STEPS):
        ms = k * 1000.0 / FPS
        # Tap: interleaved index, truncated to 64 bits, low 32 bits unsigned, held at the end.
        idx = (int((ms + ms) * 44100.0 / 1000.0) & mask) & 0xFFFFFFFF
        if idx >= 2 * FRAMES:
            idx = last
        c = track[idx]
        d = c / 32767.0

        # Flash filter, summed left to right.
        e = HP_B1 * x1 + HP_B0 * d + HP_B0 * x2 - HP_A1 * hy1 - HP_A2 * hy2
        hy2, hy1, x2, x1 = hy1, e, x1, d
        q = abs(trunc32(e * 32767.0)) * 255 // 32767
        flash_raw = 10 * q
        flash = min(flash_raw, 255)

        # Pulse filter: feedback from last frame's clipped output, then four stages.
        x = d - LD_R * y4
        n1 = oldx * LD_P + x * LD_P - LD_K * y1
        oldx, y1 = x, n1
        n2 = oldy1 * LD_P + LD_P * n1 - LD_K * y2
        oldy1, y2 = n1, n2
        n3 = oldy2 * LD_P + LD_P * n2 - LD_K * y3
        oldy2, y3 = n2, n3
        n4 = oldy3 * LD_P + LD_P * n3 - LD_K * y4
        oldy3 = n3
        y4 = n4 - ((n4 * n4) * n4) / 6.0
        m = 100 * (abs(trunc32(y4 * 32767.0)) * 255 // 32767)
        pulse = min(m, 255)
        strong = m > 200

        # Envelopes in single precision: every product and the sum rounded in turn.
        amp = f32(abs(c) * 1020 // 32767)
        range_env = f32(f32(F01 * amp) + f32(range_env * F09))
        offset_env = f32(f32(amp * F05) + f32(offset_env * F05))

        noise_range = int(range_env) or 1
        noise_offset = int(offset_env) // 2          # both non-negative: floor == truncation
        ring_length = 40 if pulse % 10 else 20
        invert = strong != (flash_raw > 200)

        for b in frame_pack.pack(flash, pulse, invert, noise_range, noise_offset, ring_length,
                                 x1, x2, hy1, hy2, y1, y2, y3, y4, oldx, oldy1, oldy2, oldy3,
                                 range_env, offset_env):
            h = ((h ^ b) * prime) & mask
        pulse255 += pulse == 255
        inverted += invert

    print('pulse255', pulse255)
    print('inverted', inverted)
    print('hash 0x%016x' % h)


if __name__ == '__main__':
    main()
