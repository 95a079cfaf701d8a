// The tables over the embedded pictures, and the choice of the current frame.
#include "visuals/image_bank.h"

#include <cstdint>
#include <utility>

#include "visuals/picture_store.h"

#if STARGLOBE_RUNTIME_PICTURES
// Filled at start-up by the page; zero until then, so it costs nothing in the module's file.
alignas(64) RawImage starglobe_pictures[kPictureCount];
#endif

namespace {

// Quotients from here up no longer fit the 32-bit frame counter (a clock that has run for
// about 13.6 years, or a broken one).
constexpr double kFrameCounterLimit = 2147483648.0;  // 2^31

constexpr const RawImage* bank = starglobe_pictures;

// The frame number (elapsed_ms / frame_ms truncated toward zero to 32 bits) modulo `count`.
// A time before the clock origin, or beyond the counter's range, gives frame 0, so the
// index never leaves the table.
int32_t frame_index(double elapsed_ms, double frame_ms, int32_t count) {
    const double frames = elapsed_ms / frame_ms;
    if (!(frames >= 0.0 && frames < kFrameCounterLimit)) return 0;
    return static_cast<int32_t>(frames) % count;
}

}  // namespace

// The pictures of one sequence, in storage order.
template <size_t... Frame>
constexpr std::array<const RawImage*, sizeof...(Frame)> sequence(int first,
                                                                 std::index_sequence<Frame...>) {
    return {&bank[first + int(Frame)]...};
}

// constinit: the tables are fixed addresses, filled in by the linker, never by code at start-up.
constinit const std::array<const RawImage*, kStarFrameCount> star_frames =
    sequence(kFirstStarPicture, std::make_index_sequence<kStarFrameCount>{});
constinit const std::array<const RawImage*, kGlobeFrameCount> globe_frames =
    sequence(kFirstGlobePicture, std::make_index_sequence<kGlobeFrameCount>{});
constinit const RawImage& end_card = bank[kEndCardPicture];

int32_t star_index(double elapsed_ms) {
    return frame_index(elapsed_ms, kStarFrameMs, kStarFrameCount);
}

int32_t globe_index(double elapsed_ms) {
    return frame_index(elapsed_ms, kGlobeFrameMs, kGlobeFrameCount);
}

const RawImage* star_for(double elapsed_ms) { return star_frames[star_index(elapsed_ms)]; }

const RawImage* globe_for(double elapsed_ms) { return globe_frames[globe_index(elapsed_ms)]; }
