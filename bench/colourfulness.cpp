// How colourful pictures are: per pixel the largest of red, green and blue minus the smallest,
// averaged over every pixel of every frame, over the whole run and over the music's loudest
// half minute (the 30 s of the WAV with the most energy, found in half-second steps).
//
//     colourfulness MUSIC.wav FPS NAME=FRAMES.raw ...
//
// Each FRAMES.raw holds frames at FPS a second from the music's start (starglobe-render --raw);
// prints one line per NAME: the whole run, then the loudest half minute and where it lies.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/wav_loader.h"
#include "common/picture.h"

namespace {

constexpr double kWindowSeconds = 30.0;
constexpr double kStepSeconds = 0.5;

// The start, in seconds, of the loudest window of the track.
double loudest_window(const PcmTrack& track) {
    const auto step = static_cast<uint32_t>(kStepSeconds * 44100);
    std::vector<double> energy;
    for (uint32_t at = 0; at + step <= track.frames; at += step) {
        double sum = 0.0;
        for (uint32_t i = at; i < at + step; ++i)
            for (int c = 0; c < 2; ++c)
                sum += double(track.samples[2 * i + c]) * track.samples[2 * i + c];
        energy.push_back(sum);
    }
    const auto steps = static_cast<size_t>(kWindowSeconds / kStepSeconds);
    double best = -1.0;
    size_t best_at = 0;
    for (size_t s = 0; s + steps <= energy.size(); ++s) {
        double sum = 0.0;
        for (size_t k = s; k < s + steps; ++k) sum += energy[k];
        if (sum > best) best = sum, best_at = s;
    }
    return best_at * kStepSeconds;
}

double frame_colourfulness(const uint8_t* frame) {
    int64_t sum = 0;
    for (int p = 0; p < kImagePixels; ++p) {
        const uint8_t* px = frame + p * kImageBytesPerPixel;
        const int hi = std::max({px[0], px[1], px[2]}), lo = std::min({px[0], px[1], px[2]});
        sum += hi - lo;
    }
    return double(sum) / kImagePixels;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: colourfulness MUSIC.wav FPS NAME=FRAMES.raw ...\n");
        return 2;
    }
    const WavFile wav = load_wav(argv[1]);
    if (wav.status != WavStatus::ok) {
        std::fprintf(stderr, "colourfulness: cannot load %s\n", argv[1]);
        return 1;
    }
    const double fps = std::atof(argv[2]);
    const double loud_from = loudest_window(wav.track);
    for (int a = 3; a < argc; ++a) {
        const std::string arg = argv[a];
        const size_t eq = arg.find('=');
        FILE* in = std::fopen(arg.substr(eq + 1).c_str(), "rb");
        if (eq == std::string::npos || !in) {
            std::fprintf(stderr, "colourfulness: cannot read %s\n", argv[a]);
            return 1;
        }
        std::vector<uint8_t> frame(kImageBytes);
        double whole = 0.0, loud = 0.0;
        int frames = 0, loud_frames = 0;
        while (std::fread(frame.data(), 1, kImageBytes, in) == kImageBytes) {
            const double c = frame_colourfulness(frame.data());
            const double t = frames / fps;
            whole += c, ++frames;
            if (t >= loud_from && t < loud_from + kWindowSeconds) loud += c, ++loud_frames;
        }
        std::fclose(in);
        std::printf(
            "%s: colourfulness %.1f over %d frames, %.1f in the loudest half minute "
            "(%.1f-%.1f s)\n",
            arg.substr(0, eq).c_str(), whole / frames, frames, loud / loud_frames, loud_from,
            loud_from + kWindowSeconds);
    }
    return 0;
}
