// Placeholder until the compositor lands: leaves the frame as it is.
#include "visuals/compositor.h"

void compose_frame(uint8_t*, int32_t, int32_t, const RawImage&, const RawImage&,
                   const FrameControls&) {}
