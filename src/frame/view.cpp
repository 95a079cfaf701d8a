#include "frame/view.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/exact_arithmetic.h"
#include "common/picture.h"

namespace {

// Rounds a level (0..255) to the nearest byte, halves to even, by float addition alone: added
// to 2^23, a float in 0..2^22 keeps only its integer part, rounded, in the low bits of the
// sum. Plain adds and bit moves, so it is the same in every vector unit and in scalar code,
// and fast in WebAssembly, whose float-to-integer conversions SSE's emulation takes lane by lane.
constexpr float kRoundingBias = 8388608.0f;  // 2^23
constexpr int32_t kRoundingBiasBits = 0x4B000000;

// level += (composed - level) * weight, then the byte shown: the same float operations in
// the same order as the vector path, so both give the same bytes.
[[maybe_unused]] inline uint8_t blend(float* level, uint8_t composed, float weight) {
    const float moved = *level + (static_cast<float>(composed) - *level) * weight;
    *level = moved;
    const float biased = moved + kRoundingBias;
    int32_t bits = 0;
    std::memcpy(&bits, &biased, sizeof bits);
    return static_cast<uint8_t>(bits - kRoundingBiasBits);
}

void blend_all(float* level, const uint8_t* composed, float weight, uint8_t* out) {
#if defined(__SSE2__)
    static_assert(kImageBytes % 16 == 0, "whole vectors of 16 bytes");
    const __m128i zero = _mm_setzero_si128();
    const __m128 w = _mm_set1_ps(weight);
    const __m128 bias = _mm_set1_ps(kRoundingBias);
    const __m128i bias_bits = _mm_set1_epi32(kRoundingBiasBits);
    for (size_t i = 0; i < kImageBytes; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(composed + i));
        const __m128i words[2] = {_mm_unpacklo_epi8(bytes, zero), _mm_unpackhi_epi8(bytes, zero)};
        __m128i shown[4];
        for (int q = 0; q < 4; ++q) {
            const __m128i dwords = q % 2 == 0 ? _mm_unpacklo_epi16(words[q / 2], zero)
                                              : _mm_unpackhi_epi16(words[q / 2], zero);
            float* at = level + i + 4 * q;
            const __m128 old = _mm_loadu_ps(at);
            const __m128 moved =
                _mm_add_ps(old, _mm_mul_ps(_mm_sub_ps(_mm_cvtepi32_ps(dwords), old), w));
            _mm_storeu_ps(at, moved);
            shown[q] = _mm_sub_epi32(_mm_castps_si128(_mm_add_ps(moved, bias)), bias_bits);
        }
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(shown[0], shown[1]),
                                                _mm_packs_epi32(shown[2], shown[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#else
    for (size_t i = 0; i < kImageBytes; ++i) out[i] = blend(level + i, composed[i], weight);
#endif
}

// The limit's measure of a cell: stricter than the check's (see view.h).
constexpr double kLimitGeneralChange = 0.07;
constexpr double kLimitDarkerBelow = 0.85;
constexpr double kLimitRedChange = 14.0;
constexpr int kLimitStep = 4;  // pixels measured: every fourth column of every fourth row

// Whether the cell has made its allowance of transitions within the window before `now_ms`.
bool pace_spent(const CellPace& pace, double now_ms) {
    return pace.count == kLimitTransitions && now_ms - pace.at[pace.next] < kLimitWindowMs;
}

void pace_note(CellPace* pace, double now_ms) {
    pace->at[pace->next] = now_ms;
    pace->next = (pace->next + 1) % kLimitTransitions;
    pace->count = std::min(pace->count + 1, kLimitTransitions);
}

// Copies cell `c`'s pixels from `from` into `to`.
void copy_cell(int c, const uint8_t* from, uint8_t* to) {
    const int column = c % kCellsAcross, row = c / kCellsAcross;
    const size_t left = size_t(cell_left(column)) * kImageBytesPerPixel;
    const size_t bytes = size_t(cell_left(column + 1)) * kImageBytesPerPixel - left;
    for (int y = cell_top(row); y < cell_top(row + 1); ++y) {
        const size_t at = size_t(y) * kImagePitch + left;
        std::memcpy(to + at, from + at, bytes);
    }
}

// Shows the blended picture where the limit allows it: cell by cell, a change that would be
// one transition too many keeps the cell as it was.
void limit(PictureView* view, double now_ms) {
    CellLights& lights = *view->lights;
    measure_cells(view->blended.get(), kLimitStep, &lights);
    std::array<bool, kCells> held{};
    bool any_held = false;
    for (int c = 0; c < kCells; ++c) {
        CellPace& pace = view->pace[c];
        Zigzag general = pace.general, red = pace.red;
        // Both zigzags step, whichever turns.
        const bool general_turned =
            zigzag_step(&general, lights[c].luminance, kLimitGeneralChange, kLimitDarkerBelow);
        const bool red_turned = zigzag_step(&red, lights[c].redness, kLimitRedChange, kAnyDarkness);
        const bool transition = general_turned || red_turned;
        if (transition && pace_spent(pace, now_ms)) {
            held[c] = any_held = true;
            continue;
        }
        pace.general = general, pace.red = red;
        if (transition) pace_note(&pace, now_ms);
    }
    // Usually nothing is held: then the blended picture is the one shown, as it is (the next
    // pass blends into the other buffer afresh, every byte).
    if (!any_held) {
        std::swap(view->shown, view->blended);
        return;
    }
    for (int c = 0; c < kCells; ++c)
        if (!held[c]) copy_cell(c, view->blended.get(), view->shown.get());
}

}  // namespace

PictureView view_start(bool gentle) {
    PictureView view;
    view.gentle = gentle;
    if (gentle) {
        view.composed = std::make_unique<uint8_t[]>(kImageBytes);
        view.level = std::make_unique<float[]>(kImageBytes);
        view.blended = std::make_unique<uint8_t[]>(kImageBytes);
        view.shown = std::make_unique<uint8_t[]>(kImageBytes);
        view.pace = std::make_unique<CellPace[]>(kCells);
        view.lights = std::make_unique<CellLights>();
    }
    return view;
}

uint8_t* view_target(PictureView* view, uint8_t* screen) {
    return view->gentle ? view->composed.get() : screen;
}

void view_show(PictureView* view, double elapsed_ms, uint8_t* screen) {
    if (!view->gentle) return;
    if (!view->primed) {
        // The first pass is shown as it is: there is nothing to come from.
        for (size_t i = 0; i < kImageBytes; ++i) view->level[i] = view->composed[i];
        std::memcpy(view->blended.get(), view->composed.get(), kImageBytes);
        view->primed = true;
    } else {
        assert(elapsed_ms >= view->last_ms);
        const double dt = elapsed_ms - view->last_ms;
        const float weight = static_cast<float>(dt / (kGentleTimeMs + dt));
        blend_all(view->level.get(), view->composed.get(), weight, view->blended.get());
    }
    view->last_ms = elapsed_ms;
    limit(view, elapsed_ms);
    std::memcpy(screen, view->shown.get(), kImageBytes);
}
