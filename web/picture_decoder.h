// The image bank's pictures on the web: the page cannot carry the native build's 16.2 MB blob
// of raw pictures, so it fetches the committed PNGs (3.9 MB) and decodes them here, with
// stb_image, into the bank's run-time store (visuals/picture_store.h). Decoding is exact: the
// bytes equal the native blob's.
#pragma once
#include <cstddef>
#include <cstdint>

// Decodes the PNG file in `png` (`size` bytes) into picture `index` (0..kPictureCount - 1, in
// the bank's order), as blue, green, red. Returns false, leaving the picture as it was, for a
// bad index, a file that does not decode, or one that is not 400 x 300.
bool decode_picture(int32_t index, const uint8_t* png, size_t size);
