// The image bank's pictures for the web: the web build decodes the committed PNGs here, with
// stb_image, into the bank's run-time store (visuals/picture_store.h), at build time under node
// (pack_pictures.cpp), and the page gets the store compressed. Decoding is exact: the bytes
// equal the native blob's.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/outcome.h"

// Decodes the PNG file in `png` (`size` bytes, read from the file `name`) into picture `index`
// (0..kPictureCount - 1, in the bank's order), as blue, green, red. Fails, leaving the picture
// as it was, for a bad index, a file that does not decode, or one that is not 400 x 300.
Outcome decode_picture(int32_t index, const uint8_t* png, size_t size, const std::string& name);
