// Where the image bank's pictures live: kPictureCount pictures of kImageBytes each, in the
// order common/picture.h names (star field, globe, end card), blue, green, red, rows top to
// bottom. Declared here once for every translation unit that touches them.
//
// Natively the build packs assets/ into one blob that image_bank_data.S embeds read-only: the
// pictures are constant data, used in place. Built with STARGLOBE_RUNTIME_PICTURES (the web
// page), the store is writable memory that the page fills once at start-up, before the first
// frame, with the pictures the web build decoded from the committed PNGs.
#pragma once
#include "common/picture.h"

#if STARGLOBE_RUNTIME_PICTURES
extern RawImage starglobe_pictures[kPictureCount];
#else
extern "C" const RawImage starglobe_pictures[kPictureCount];
#endif
