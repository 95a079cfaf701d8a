// Every output byte is a sum (or, for red under `invert`, a product) of a globe term, a star
// term and a noise byte, kept to its low 8 bits. Low bytes of sums and products depend only
// on the low bytes of their operands, so all the noise the frame needs is the low byte of
// each draw, and a batch of pixels is composed 16 at a time in 16-byte vectors.
//
// The noise ring needs no ring: the entry a read finds was written a fixed number of draws
// earlier (ring_lag), so with the frame's draws kept in one straight run, fill first, each
// read is the draw that many places back, and 16 pixels' reads are 16 consecutive bytes.
#include "visuals/compositor.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int32_t kFirstReadOffset = 11;  // r1 sits this many entries (+ noise_offset) ahead
constexpr int32_t kSecondReadOffset = 1;  // r2 sits this many entries (+ noise_range) ahead
constexpr int kChannels = kImageBytesPerPixel;
constexpr int kProductChannel = 2;  // red: globe times star under `invert`
constexpr int32_t kFull = 255;      // a full channel; the scale factors divide by it

// Pixels per batch of noise: the batch's draws and their low bytes take about 5 KiB of stack
// and stay in the L1 cache. A multiple of the vector step's 16 pixels.
constexpr int32_t kBatchPixels = 1024;

#if defined(__SSE2__)
constexpr uint32_t kLowByte = 0xFF;
// Pixels per vector step: 48 bytes, three 16-byte vectors, so that the channel of every
// byte lane is the same on every step.
constexpr int32_t kGroupPixels = 16;
constexpr int kGroupBytes = kGroupPixels * kChannels;
constexpr int kVectorBytes = 16;

// x / 255 == (x * 0x8081) >> 23 for every x in 0..65025 (255 * 255), the range of a picture
// byte times a factor of 0..255; taking the high 16 bits of the product leaves a shift of 7.
constexpr uint16_t kDiv255Multiplier = 0x8081;
constexpr int kDiv255HighShift = 23 - 16;
#endif

// Remainder of a draw (0..2^31 - 1) by a fixed divisor d without a division: with
// l = ceil(log2 d) and m = ceil(2^(31 + l) / d), which fits in 32 bits,
// x / d == (x * m) >> (31 + l) for every x below 2^31 (Granlund and Montgomery, "Division
// by invariant integers using multiplication", 1994, theorem 4.2).
constexpr int kDrawBits = 31;
struct Remainder {
    uint32_t divisor = 1;
    uint32_t multiplier = 0;
    int shift = 0;

    uint32_t of(uint32_t x) const {
        const auto quotient = static_cast<uint32_t>((uint64_t{x} * multiplier) >> shift);
        return x - quotient * divisor;
    }
};

// Draws are non-negative, so with a positive range the C remainder is this one.
Remainder remainder_by(int32_t range) {
    assert(range >= 1);
    Remainder r;
    r.divisor = static_cast<uint32_t>(range);
    int log2_ceiling = 0;
    while ((uint64_t{1} << log2_ceiling) < r.divisor) ++log2_ceiling;
    r.shift = kDrawBits + log2_ceiling;
    r.multiplier = static_cast<uint32_t>(((uint64_t{1} << r.shift) + r.divisor - 1) / r.divisor);
    return r;
}

// Low bytes of the globe and star terms for every possible picture byte.
struct TermTables {
    uint8_t globe[256];
    uint8_t star[256];
};

TermTables term_tables(int32_t flash, int32_t pulse) {
    TermTables t;
    for (int32_t x = 0; x < 256; ++x) {
        t.globe[x] = static_cast<uint8_t>(x * flash / kFull);
        t.star[x] = static_cast<uint8_t>(kFull - x * pulse / kFull);
    }
    return t;
}

// Pixel by pixel: whatever the vector steps leave over. `draws` holds the
// low bytes of the batch's draws, the ring's history before it.
void compose_plain(uint8_t* out, const uint8_t* star, const uint8_t* globe, const uint8_t* draws,
                   int32_t first, int32_t end, int32_t lag1, int32_t lag2, const TermTables& t,
                   bool invert) {
    for (int32_t p = first; p < end; ++p) {
        const uint8_t nv = draws[p];
        const uint8_t r1 = draws[p - lag1];
        const uint8_t r2 = draws[p - lag2];
        const uint8_t noise[kChannels] = {invert ? nv : r2, invert ? r1 : nv, invert ? r2 : r1};
        for (int c = 0; c < kChannels; ++c) {
            const int32_t k = p * kChannels + c;
            const uint32_t g = t.globe[globe[k]];
            const uint32_t s = t.star[star[k]];
            const uint32_t picture = (invert && c == kProductChannel) ? g * s : g + s;
            out[k] = static_cast<uint8_t>(picture + noise[c]);
        }
    }
}

#if defined(__SSE2__)

// The remainder above, four draws at a time, keeping only the low byte of each; 16 draws
// become 16 bytes.
struct VectorRemainder {
    __m128i multiplier;   // in every 32-bit lane
    __m128i divisor_low;  // low 16 bits of the divisor in every 32-bit lane
    __m128i shift;        // the shift count for _mm_srl_epi64
    __m128i low_byte;
};

VectorRemainder vector_remainder(const Remainder& r) {
    VectorRemainder v;
    v.multiplier = _mm_set1_epi32(static_cast<int32_t>(r.multiplier));
    v.divisor_low = _mm_set1_epi32(static_cast<int32_t>(r.divisor & 0xFFFF));
    v.shift = _mm_cvtsi32_si128(r.shift);
    v.low_byte = _mm_set1_epi32(kLowByte);
    return v;
}

inline __m128i remainder_low_bytes4(__m128i x, const VectorRemainder& v) {
    // Quotients of the even and the odd lanes; each is below 2^31, so it fills only the low
    // half of its 64-bit lane.
    const __m128i even = _mm_srl_epi64(_mm_mul_epu32(x, v.multiplier), v.shift);
    const __m128i odd = _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(x, 32), v.multiplier), v.shift);
    const __m128i quotient = _mm_or_si128(even, _mm_slli_epi64(odd, 32));
    // Only the low byte of x - q * d is wanted, and it depends only on the low bits of x, q
    // and d: a 16-bit product is enough.
    const __m128i product = _mm_mullo_epi16(quotient, v.divisor_low);
    return _mm_and_si128(_mm_sub_epi16(x, product), v.low_byte);
}

// Writes the low bytes of the remainders of `count` draws; returns how many it wrote (a
// multiple of 16).
int32_t remainder_bytes_vector(uint8_t* out, const int32_t* raw, int32_t count,
                               const VectorRemainder& v) {
    int32_t i = 0;
    for (; i + kVectorBytes <= count; i += kVectorBytes) {
        __m128i r[4];
        for (int q = 0; q < 4; ++q) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + i + 4 * q));
            r[q] = remainder_low_bytes4(x, v);
        }
        const __m128i bytes =
            _mm_packus_epi16(_mm_packs_epi32(r[0], r[1]), _mm_packs_epi32(r[2], r[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
    }
    return i;
}

// 16 bytes each of x, y and z -> the 48 bytes x0 y0 z0 x1 y1 z1 ... x15 y15 z15.
inline void interleave3(__m128i x, __m128i y, __m128i z, __m128i out[3]) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i xy_low = _mm_unpacklo_epi8(x, y);
    const __m128i xy_high = _mm_unpackhi_epi8(x, y);
    const __m128i z_low = _mm_unpacklo_epi8(z, zero);
    const __m128i z_high = _mm_unpackhi_epi8(z, zero);
    // Four pixels per vector, each as x | y << 8 | z << 16 in a 32-bit lane.
    const __m128i quads[4] = {_mm_unpacklo_epi16(xy_low, z_low), _mm_unpackhi_epi16(xy_low, z_low),
                              _mm_unpacklo_epi16(xy_high, z_high),
                              _mm_unpackhi_epi16(xy_high, z_high)};
    // Squeeze each to 12 bytes at the bottom: in each 64-bit half the second pixel moves
    // down one byte onto the first's empty top byte, then the upper half's 6 bytes move down
    // onto the lower half's 2 empty ones.
    const __m128i first_pixel = _mm_set1_epi64x(0x00000000FFFFFFFF);
    const __m128i second_pixel = _mm_set1_epi64x(0x0000FFFFFF000000);
    __m128i packed[4];
    for (int q = 0; q < 4; ++q) {
        const __m128i pairs =
            _mm_or_si128(_mm_and_si128(quads[q], first_pixel),
                         _mm_and_si128(_mm_srli_epi64(quads[q], 8), second_pixel));
        packed[q] =
            _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
    }
    out[0] = _mm_or_si128(packed[0], _mm_slli_si128(packed[1], 12));
    out[1] = _mm_or_si128(_mm_srli_si128(packed[1], 4), _mm_slli_si128(packed[2], 8));
    out[2] = _mm_or_si128(_mm_srli_si128(packed[2], 8), _mm_slli_si128(packed[3], 4));
}

struct VectorConstants {
    __m128i flash, pulse, div_multiplier, full, low_byte;
    __m128i product_bytes[kGroupBytes / kVectorBytes];  // byte lanes that take the product
};

VectorConstants vector_constants(int32_t flash, int32_t pulse) {
    VectorConstants v;
    v.flash = _mm_set1_epi16(static_cast<int16_t>(flash));
    v.pulse = _mm_set1_epi16(static_cast<int16_t>(pulse));
    v.div_multiplier = _mm_set1_epi16(static_cast<int16_t>(kDiv255Multiplier));
    v.full = _mm_set1_epi16(static_cast<int16_t>(kFull));
    v.low_byte = _mm_set1_epi16(static_cast<int16_t>(kLowByte));
    uint8_t lanes[kGroupBytes];
    for (int k = 0; k < kGroupBytes; ++k) lanes[k] = k % kChannels == kProductChannel ? 0xFF : 0;
    for (int i = 0; i < kGroupBytes / kVectorBytes; ++i) {
        v.product_bytes[i] =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes + kVectorBytes * i));
    }
    return v;
}

// factor * x / 255 for eight 16-bit lanes, x and factor in 0..255.
inline __m128i scaled(__m128i x16, __m128i factor, const VectorConstants& v) {
    return _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(x16, factor), v.div_multiplier),
                          kDiv255HighShift);
}

// Whole groups of kGroupPixels pixels.
template <bool kInvert>
void compose_vector(uint8_t* out, const uint8_t* star, const uint8_t* globe, const uint8_t* draws,
                    int32_t group_count, int32_t lag1, int32_t lag2, const VectorConstants& v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i all_ones = _mm_set1_epi8(-1);
    for (int32_t gi = 0; gi < group_count; ++gi) {
        const uint8_t* d = draws + gi * kGroupPixels;
        const __m128i nv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
        const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d - lag1));
        const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d - lag2));
        __m128i noise[3];
        if (kInvert) {
            interleave3(nv, r1, r2, noise);
        } else {
            interleave3(r2, nv, r1, noise);
        }
        for (int i = 0; i < kGroupBytes / kVectorBytes; ++i) {
            const int32_t k = gi * kGroupBytes + kVectorBytes * i;
            const __m128i star_bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(star + k));
            const __m128i globe_bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(globe + k));
            const __m128i g_low = scaled(_mm_unpacklo_epi8(globe_bytes, zero), v.flash, v);
            const __m128i g_high = scaled(_mm_unpackhi_epi8(globe_bytes, zero), v.flash, v);
            const __m128i t_low = scaled(_mm_unpacklo_epi8(star_bytes, zero), v.pulse, v);
            const __m128i t_high = scaled(_mm_unpackhi_epi8(star_bytes, zero), v.pulse, v);
            // Star term 255 - t is the byte complement of t.
            const __m128i g = _mm_packus_epi16(g_low, g_high);
            const __m128i s = _mm_xor_si128(_mm_packus_epi16(t_low, t_high), all_ones);
            __m128i picture = _mm_add_epi8(g, s);
            if (kInvert) {
                const __m128i p_low =
                    _mm_and_si128(_mm_mullo_epi16(g_low, _mm_sub_epi16(v.full, t_low)), v.low_byte);
                const __m128i p_high = _mm_and_si128(
                    _mm_mullo_epi16(g_high, _mm_sub_epi16(v.full, t_high)), v.low_byte);
                const __m128i product = _mm_packus_epi16(p_low, p_high);
                picture = _mm_or_si128(_mm_and_si128(v.product_bytes[i], product),
                                       _mm_andnot_si128(v.product_bytes[i], picture));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_add_epi8(picture, noise[i]));
        }
    }
}
#endif

// Low bytes of the remainders of `count` draws.
void remainder_bytes(uint8_t* out, const int32_t* raw, int32_t count, const Remainder& r) {
    int32_t done = 0;
#if defined(__SSE2__)
    done = remainder_bytes_vector(out, raw, count, vector_remainder(r));
#endif
    for (int32_t i = done; i < count; ++i) {
        out[i] = static_cast<uint8_t>(r.of(static_cast<uint32_t>(raw[i])));
    }
}

}  // namespace

int32_t ring_lag(int64_t read_offset, int32_t ring_length) {
    assert(ring_length >= 1);
    const int64_t ahead = ((read_offset % ring_length) + ring_length) % ring_length;
    // Ahead of the write position by 0: the very entry about to be overwritten, written a
    // full turn earlier.
    return ahead == 0 ? ring_length : static_cast<int32_t>(ring_length - ahead);
}

void compose_frame(uint8_t* pixels, int32_t w, int32_t h, const RawImage& star,
                   const RawImage& globe, const FrameControls& controls, NoiseSource* noise) {
    const int32_t ring_length = controls.ring_length;
    assert(ring_length >= 1 && ring_length <= kLongRing);
    assert(controls.noise_range >= kMinNoiseRange);
    const Remainder remainder = remainder_by(controls.noise_range);

    // Low bytes of the frame's draws, in draw order: the ring's ring_length most recent
    // draws, then the current batch.
    uint8_t draws[kLongRing + kBatchPixels];
    int32_t raw[kBatchPixels];

    noise->draw(raw, ring_length);
    remainder_bytes(draws, raw, ring_length, remainder);

    if (w <= 0 || h <= 0) return;
    assert(int64_t{w} * h <= kImagePixels);
    const int32_t pixel_count = w * h;

    const int32_t lag1 = ring_lag(int64_t{kFirstReadOffset} + controls.noise_offset, ring_length);
    const int32_t lag2 = ring_lag(int64_t{kSecondReadOffset} + controls.noise_range, ring_length);
    const bool invert = controls.invert;
    assert(controls.flash >= 0 && controls.flash <= kMaxFlash);
    assert(controls.pulse >= 0 && controls.pulse <= kMaxPulse);
    const TermTables tables = term_tables(controls.flash, controls.pulse);
#if defined(__SSE2__)
    const VectorConstants vectors = vector_constants(controls.flash, controls.pulse);
#endif

    uint8_t* own = draws + ring_length;
    for (int32_t first = 0; first < pixel_count; first += kBatchPixels) {
        const int32_t count = std::min(kBatchPixels, pixel_count - first);
        noise->draw(raw, count);
        remainder_bytes(own, raw, count, remainder);

        const size_t offset = size_t{kChannels} * first;
        uint8_t* out = pixels + offset;
        const uint8_t* star_at = star.bgr + offset;
        const uint8_t* globe_at = globe.bgr + offset;
        int32_t done = 0;
#if defined(__SSE2__)
        const int32_t groups = count / kGroupPixels;
        if (invert) {
            compose_vector<true>(out, star_at, globe_at, own, groups, lag1, lag2, vectors);
        } else {
            compose_vector<false>(out, star_at, globe_at, own, groups, lag1, lag2, vectors);
        }
        done = groups * kGroupPixels;
#endif
        compose_plain(out, star_at, globe_at, own, done, count, lag1, lag2, tables, invert);

        // The batch's last ring_length draws are the next batch's ring.
        std::memmove(draws, draws + count, size_t(ring_length));
    }
}

int64_t frame_draws(int32_t w, int32_t h, const FrameControls& controls) {
    const int64_t pixels = w > 0 && h > 0 ? int64_t{w} * h : 0;
    return controls.ring_length + pixels;
}
