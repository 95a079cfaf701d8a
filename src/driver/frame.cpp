#include "driver/frame.h"

#include "visuals/compositor.h"
#include "visuals/image_bank.h"

FrameControls frame_pass(AudioAnalyzer* analyzer, const PcmTrack& track, double elapsed_ms,
                         uint8_t* pixels) {
    const FrameControls controls = analyzer->analyze(track, elapsed_ms);
    const RawImage* star = star_for(elapsed_ms);
    const RawImage* globe = globe_for(elapsed_ms);
    if (pixels) compose_frame(pixels, kImageWidth, kImageHeight, *star, *globe, controls);
    return controls;
}
