#include "frame/frame_pass.h"

#include "visuals/compositor.h"
#include "visuals/image_bank.h"

FramePass frame_pass(AudioAnalyzer* analyzer, const PcmTrack& track, double elapsed_ms,
                     NoiseSource* noise, uint8_t* pixels) {
    FramePass pass;
    pass.controls = analyzer->analyze(track, elapsed_ms);
    pass.star_index = star_index(elapsed_ms);
    pass.globe_index = globe_index(elapsed_ms);
    if (pixels) {
        compose_frame(pixels, kImageWidth, kImageHeight, *star_frames[pass.star_index],
                      *globe_frames[pass.globe_index], pass.controls, noise);
    }
    return pass;
}
