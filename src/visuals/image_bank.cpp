// The tables over the embedded pictures, and the choice of the current frame.
#include "visuals/image_bank.h"

#include <cstdint>

// All 45 pictures, packed at build time from assets/ and pulled into .rodata by
// image_bank_data.S; never copied.
extern "C" const RawImage starglobe_pictures[kPictureCount];

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

// constinit: the tables are fixed addresses, filled in by the linker, never by code at start-up.
constinit const RawImage* const star_frames[kStarFrameCount] = {
    &bank[kFirstStarPicture + 0],  &bank[kFirstStarPicture + 1],  &bank[kFirstStarPicture + 2],
    &bank[kFirstStarPicture + 3],  &bank[kFirstStarPicture + 4],  &bank[kFirstStarPicture + 5],
    &bank[kFirstStarPicture + 6],  &bank[kFirstStarPicture + 7],  &bank[kFirstStarPicture + 8],
    &bank[kFirstStarPicture + 9],  &bank[kFirstStarPicture + 10], &bank[kFirstStarPicture + 11],
    &bank[kFirstStarPicture + 12], &bank[kFirstStarPicture + 13], &bank[kFirstStarPicture + 14],
    &bank[kFirstStarPicture + 15], &bank[kFirstStarPicture + 16], &bank[kFirstStarPicture + 17],
    &bank[kFirstStarPicture + 18], &bank[kFirstStarPicture + 19], &bank[kFirstStarPicture + 20],
    &bank[kFirstStarPicture + 21], &bank[kFirstStarPicture + 22], &bank[kFirstStarPicture + 23]};

constinit const RawImage* const globe_frames[kGlobeFrameCount] = {
    &bank[kFirstGlobePicture + 0],  &bank[kFirstGlobePicture + 1],
    &bank[kFirstGlobePicture + 2],  &bank[kFirstGlobePicture + 3],
    &bank[kFirstGlobePicture + 4],  &bank[kFirstGlobePicture + 5],
    &bank[kFirstGlobePicture + 6],  &bank[kFirstGlobePicture + 7],
    &bank[kFirstGlobePicture + 8],  &bank[kFirstGlobePicture + 9],
    &bank[kFirstGlobePicture + 10], &bank[kFirstGlobePicture + 11],
    &bank[kFirstGlobePicture + 12], &bank[kFirstGlobePicture + 13],
    &bank[kFirstGlobePicture + 14], &bank[kFirstGlobePicture + 15],
    &bank[kFirstGlobePicture + 16], &bank[kFirstGlobePicture + 17],
    &bank[kFirstGlobePicture + 18], &bank[kFirstGlobePicture + 19]};

constinit const RawImage& end_card = bank[kEndCardPicture];

int32_t star_index(double elapsed_ms) {
    return frame_index(elapsed_ms, kStarFrameMs, kStarFrameCount);
}

int32_t globe_index(double elapsed_ms) {
    return frame_index(elapsed_ms, kGlobeFrameMs, kGlobeFrameCount);
}

const RawImage* star_for(double elapsed_ms) { return star_frames[star_index(elapsed_ms)]; }

const RawImage* globe_for(double elapsed_ms) { return globe_frames[globe_index(elapsed_ms)]; }
