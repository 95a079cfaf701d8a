// Placeholder until the artwork is embedded: every table entry is one blank picture.
#include "visuals/image_bank.h"

namespace {
const RawImage blank{};
}

const RawImage* const star_frames[kStarFrameCount] = {
    &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank,
    &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank};
const RawImage* const globe_frames[kGlobeFrameCount] = {
    &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank,
    &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank, &blank};
const RawImage& end_card = blank;

const RawImage* star_for(double) { return star_frames[0]; }
const RawImage* globe_for(double) { return globe_frames[0]; }
