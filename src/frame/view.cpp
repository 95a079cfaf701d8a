#include "frame/view.h"

#include <cassert>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/exact_arithmetic.h"
#include "common/picture.h"

namespace {

constexpr float kHalf = 0.5f;  // rounds the non-negative levels to the nearest byte

// level += (composed - level) * weight, then the byte shown: the same float operations in
// the same order as the vector path, so both give the same bytes.
[[maybe_unused]] inline uint8_t blend(float* level, uint8_t composed, float weight) {
    const float moved = *level + (static_cast<float>(composed) - *level) * weight;
    *level = moved;
    return static_cast<uint8_t>(static_cast<int32_t>(moved + kHalf));
}

void blend_all(float* level, const uint8_t* composed, float weight, uint8_t* out) {
#if defined(__SSE2__)
    static_assert(kImageBytes % 16 == 0, "whole vectors of 16 bytes");
    const __m128i zero = _mm_setzero_si128();
    const __m128 w = _mm_set1_ps(weight);
    const __m128 half = _mm_set1_ps(kHalf);
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
            shown[q] = _mm_cvttps_epi32(_mm_add_ps(moved, half));
        }
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(shown[0], shown[1]),
                                                _mm_packs_epi32(shown[2], shown[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#else
    for (size_t i = 0; i < kImageBytes; ++i) out[i] = blend(level + i, composed[i], weight);
#endif
}

}  // namespace

PictureView view_start(bool gentle) {
    PictureView view;
    view.gentle = gentle;
    if (gentle) {
        view.composed = std::make_unique<uint8_t[]>(kImageBytes);
        view.level = std::make_unique<float[]>(kImageBytes);
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
        std::memcpy(screen, view->composed.get(), kImageBytes);
        view->primed = true;
        view->last_ms = elapsed_ms;
        return;
    }
    assert(elapsed_ms >= view->last_ms);
    const double dt = elapsed_ms - view->last_ms;
    view->last_ms = elapsed_ms;
    const float weight = static_cast<float>(dt / (kGentleTimeMs + dt));
    blend_all(view->level.get(), view->composed.get(), weight, screen);
}
