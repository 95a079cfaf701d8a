// Image bank: every picture of the demo, compiled in as read-only data in exactly the pixel
// layout of the 24-bit display surface, so a picture is read byte for byte against the surface
// or copied into it whole. Nothing is loaded or decoded at run time.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int kImageWidth = 400;          // pixels
constexpr int kImageHeight = 300;         // pixels
constexpr int kImageBytesPerPixel = 3;    // blue, green, red
constexpr int kImagePitch = kImageWidth * kImageBytesPerPixel;  // bytes per row, no gap
constexpr int kImagePixels = kImageWidth * kImageHeight;
constexpr size_t kImageBytes = size_t{kImagePitch} * kImageHeight;  // 360,000

constexpr int kStarFrameCount = 24;
constexpr double kStarFrameMs = 200.0;    // the star field loops every 4.8 s
constexpr int kGlobeFrameCount = 20;
constexpr double kGlobeFrameMs = 100.0;   // the globe turns once every 2 s

// The pictures sit in read-only data in this order: the star field (24), the globe (20),
// then the end card. The build packs assets/ into that order (src/visuals/CMakeLists.txt).
constexpr int kFirstStarPicture = 0;
constexpr int kFirstGlobePicture = kFirstStarPicture + kStarFrameCount;
constexpr int kEndCardPicture = kFirstGlobePicture + kGlobeFrameCount;
constexpr int kPictureCount = kEndCardPicture + 1;

// One 400 x 300 picture: bytes blue, green, red per pixel, rows top to bottom.
struct RawImage {
    uint8_t bgr[kImageBytes];
};

extern const RawImage* const star_frames[kStarFrameCount];    // animation order
extern const RawImage* const globe_frames[kGlobeFrameCount];  // animation order
extern const RawImage& end_card;                               // white title on black

// The pictures showing at `elapsed_ms`: star_frames[star_index(ms)] and
// globe_frames[globe_index(ms)]. A negative time (only a failing clock gives one) picks frame 0.
const RawImage* star_for(double elapsed_ms);
const RawImage* globe_for(double elapsed_ms);
int32_t star_index(double elapsed_ms);
int32_t globe_index(double elapsed_ms);
