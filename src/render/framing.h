// Where the 400 x 300 picture lands in an output frame of --video and --png: repeated a whole
// number of times each way and centred on black.
//
//     Framing f = framing_for(scale, width, height);   // from --scale or --size
//     frame_picture(picture, f, out);                   // out: f.width x f.height pixels
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int32_t kMaxScale = 8;  // --scale: sharp enough for any screen, cheap enough to fill

struct Framing {
    int32_t width = 0;  // the output frame, pixels
    int32_t height = 0;
    int32_t scale = 1;  // each picture pixel becomes scale x scale output pixels
    int32_t x = 0;      // the scaled picture's top-left corner in the output frame
    int32_t y = 0;

    // Bytes of one output frame: width x height pixels of blue, green, red.
    size_t bytes() const;
    // Whether the output frame is the picture itself, byte for byte.
    bool is_picture() const;
};

// --scale N gives (400N x 300N at 0, 0); --size WxH (width > 0) the largest whole scale that
// fits, at most kMaxScale, centred (1920x1080: scale 3, 1200 x 900 at 360, 90); neither gives
// the picture as it is.
Framing framing_for(int32_t scale, int32_t width, int32_t height);

// Places `picture` into `out` (framing.bytes() long, blue-green-red) at the framing's scale and
// position: every pixel repeated scale x scale times. The border is left as it is.
void frame_picture(const uint8_t* picture, const Framing& framing, uint8_t* out);
