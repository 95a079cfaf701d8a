// The picture every part of the demo agrees on: the size and byte order of one frame, which is
// the layout of the 24-bit display surface, and how many pictures each sequence has.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int kImageWidth = 400;                                // pixels
constexpr int kImageHeight = 300;                               // pixels
constexpr int kImageBytesPerPixel = 3;                          // blue, green, red
constexpr int kImagePitch = kImageWidth * kImageBytesPerPixel;  // bytes per row, no gap
constexpr int kImagePixels = kImageWidth * kImageHeight;
constexpr size_t kImageBytes = size_t{kImagePitch} * kImageHeight;  // 360,000

constexpr int kStarFrameCount = 24;
constexpr double kStarFrameMs = 200.0;  // the star field loops every 4.8 s
constexpr int kGlobeFrameCount = 20;
constexpr double kGlobeFrameMs = 100.0;  // the globe turns once every 2 s

// The pictures are stored in this order: the star field (24), the globe (20), then the end
// card. The build packs assets/ into that order (src/visuals/CMakeLists.txt).
constexpr int kFirstStarPicture = 0;
constexpr int kFirstGlobePicture = kFirstStarPicture + kStarFrameCount;
constexpr int kEndCardPicture = kFirstGlobePicture + kGlobeFrameCount;
constexpr int kPictureCount = kEndCardPicture + 1;

// One 400 x 300 picture: bytes blue, green, red per pixel, rows top to bottom.
struct RawImage {
    uint8_t bgr[kImageBytes];
};
