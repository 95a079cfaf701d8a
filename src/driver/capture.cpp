#include "driver/capture.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>
#include <cstdio>

#include "common/quoting.h"
#include "common/timeline.h"
#include "common/wav_format.h"

namespace {

constexpr const char* kClientName = "starglobe";
constexpr const char* kStreamName = "listening";
constexpr int kRetryMs = 500;  // how often a lost server is asked again
constexpr auto kMs = static_cast<uint32_t>(kMsPerSecond);
constexpr uint32_t kBytesPerMs = kWavByteRate / kMs;
constexpr uint32_t kReadFrames = kSampleRateHz * kCaptureReadMs / kMs;

pa_simple* connect(const std::string& source, int* error) {
    const pa_sample_spec format = {PA_SAMPLE_S16LE, kSampleRateHz, kWavChannels};
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);  // playback only
    attr.fragsize = kCaptureFragmentMs * kBytesPerMs;
    return pa_simple_new(nullptr, kClientName, PA_STREAM_RECORD,
                         source.empty() ? kDefaultMonitor : source.c_str(), kStreamName, &format,
                         nullptr, &attr, error);
}

void say(const std::string& line) { std::fprintf(stderr, "starglobe: %s\n", line.c_str()); }

void push(SoundRing* ring, const int16_t* samples, uint32_t count) {
    uint64_t at = ring->written.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < count; ++i, ++at) ring->samples[at % SoundRing::kSamples] = samples[i];
    ring->written.store(at, std::memory_order_release);
}

// Waits `ms`, or less when asked to stop.
void pause_ms(const Capture& capture, int ms) {
    for (int waited = 0; waited < ms && !capture.stopping.load(); waited += kCaptureReadMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(kCaptureReadMs));
}

void capture_loop(Capture* capture) {
    int16_t piece[kReadFrames * kWavChannels];
    while (!capture->stopping.load()) {
        auto* connection = static_cast<pa_simple*>(capture->connection);
        int error = 0;
        if (connection && pa_simple_read(connection, piece, sizeof piece, &error) == 0) {
            push(&capture->ring, piece, kReadFrames * kWavChannels);
            continue;
        }
        if (connection) {
            // The server went away: silence until it is back.
            pa_simple_free(connection);
            capture->connection = nullptr;
            const int16_t silence[kWavChannels] = {};
            push(&capture->ring, silence, kWavChannels);
            say("the sound server went away; the picture follows silence until it is back");
        }
        pause_ms(*capture, kRetryMs);
        if (capture->stopping.load()) break;
        if ((capture->connection = connect(capture->source, &error))) say("listening again");
    }
}

}  // namespace

Capture::~Capture() { capture_stop(this); }

Outcome capture_start(Capture* capture, const std::string& source) {
    capture->source = source;
    int error = 0;
    capture->connection = connect(source, &error);
    if (!capture->connection) {
        if (error == PA_ERR_CONNECTIONREFUSED || error == PA_ERR_ACCESS)
            return failed("no sound server answered: is PulseAudio or PipeWire running?");
        if (error == PA_ERR_NOENTITY && source.empty())
            return failed(
                "the default output has no monitor to listen to: name a source; "
                "`pactl list short sources` lists them");
        if (error == PA_ERR_NOENTITY)
            return failed("no sound source named " + quoted(source) +
                          ": `pactl list short sources` lists them");
        return failed(std::string("cannot listen: ") + pa_strerror(error));
    }
    capture->thread = std::thread(capture_loop, capture);
    return {};
}

int16_t capture_newest(const Capture& capture) {
    const uint64_t written = capture.ring.written.load(std::memory_order_acquire);
    return written == 0 ? 0 : capture.ring.samples[(written - 1) % SoundRing::kSamples];
}

void capture_stop(Capture* capture) {
    capture->stopping.store(true);
    if (capture->thread.joinable()) capture->thread.join();
    if (capture->connection) pa_simple_free(static_cast<pa_simple*>(capture->connection));
    capture->connection = nullptr;
}
