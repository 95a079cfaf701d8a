#include "frame/frame_pass.h"

#include "visuals/compositor.h"
#include "visuals/image_bank.h"

namespace {

FramePass picture_pass(const FrameControls& controls, double elapsed_ms, NoiseSource* noise,
                       uint8_t* pixels) {
    FramePass pass;
    pass.controls = controls;
    pass.star_index = star_index(elapsed_ms);
    pass.globe_index = globe_index(elapsed_ms);
    if (noise && pixels) {
        compose_frame(pixels, kImageWidth, kImageHeight, *star_frames[pass.star_index],
                      *globe_frames[pass.globe_index], pass.controls, noise);
    } else if (noise) {
        noise->skip(frame_draws(kImageWidth, kImageHeight, pass.controls));
    }
    return pass;
}

}  // namespace

FramePass frame_pass(AudioAnalyzer* analyzer, const PcmTrack& track, double elapsed_ms,
                     NoiseSource* noise, uint8_t* pixels) {
    return picture_pass(analyzer->analyze(track, elapsed_ms), elapsed_ms, noise, pixels);
}

FramePass frame_pass_sample(AudioAnalyzer* analyzer, int16_t sample, double elapsed_ms,
                            NoiseSource* noise, uint8_t* pixels) {
    return picture_pass(analyzer->analyze_sample(sample), elapsed_ms, noise, pixels);
}
