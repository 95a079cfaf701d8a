#include "driver/capture.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "common/quoting.h"
#include "common/wav_format.h"
#include "driver/say.h"
#include "system/stop_signal.h"

namespace {

constexpr const char* kClientName = "starglobe";
constexpr const char* kStreamName = "listening";
constexpr const char* kListSources = "`pactl list short sources` lists them";
constexpr pa_usec_t kRetryUs = 500000;  // how often a lost server is asked again
constexpr pa_usec_t kUsPerMs = 1000;
constexpr int kStartPollMs = 5;      // how often start-up looks for a stop signal
constexpr size_t kLongestName = 60;  // bytes of a name shown in full
constexpr size_t kNameEnds = 24;     // bytes shown of each end of a longer one
constexpr uint32_t kFrameBytes = kWavChannels * sizeof(int16_t);

void push(SoundRing* ring, const int16_t* samples, size_t count) {
    uint64_t at = ring->written.load(std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i, ++at)
        ring->samples[at % SoundRing::kSamples] = samples ? samples[i] : 0;
    ring->written.store(at, std::memory_order_release);
}

void push_silence(SoundRing* ring) { push(ring, nullptr, kWavChannels); }

void connect_attempt(Capture* capture);

void set_timer(Capture* capture, pa_usec_t after_us, pa_time_event_cb_t callback) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(capture->loop);
    timeval at;
    pa_timeval_add(pa_gettimeofday(&at), after_us);
    if (capture->timer) api->time_free(capture->timer);
    capture->timer = api->time_new(api, &at, callback, capture);
}

void drop_timer(Capture* capture) {
    if (!capture->timer) return;
    pa_threaded_mainloop_get_api(capture->loop)->time_free(capture->timer);
    capture->timer = nullptr;
}

// Lets the stream and the connection go without a word to the server.
void drop_client(Capture* capture) {
    if (capture->stream) {
        pa_stream_set_state_callback(capture->stream, nullptr, nullptr);
        pa_stream_set_read_callback(capture->stream, nullptr, nullptr);
        pa_stream_unref(capture->stream);
        capture->stream = nullptr;
    }
    if (capture->context) {
        pa_context_set_state_callback(capture->context, nullptr, nullptr);
        pa_context_disconnect(capture->context);
        pa_context_unref(capture->context);
        capture->context = nullptr;
    }
}

void retry(pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
    auto* capture = static_cast<Capture*>(data);
    drop_timer(capture);
    connect_attempt(capture);
}

// Lets the failed attempt go, outside any of libpulse's callbacks: at start-up the reason is
// kept for capture_start; later the picture follows silence and the server is asked again.
void attempt_over(pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
    auto* capture = static_cast<Capture*>(data);
    drop_timer(capture);
    drop_client(capture);
    capture->described = true;
    const int error = capture->failure;
    capture->failure = 0;
    if (!capture->started) {
        capture->error = error;
        return;
    }
    if (capture->streaming) {
        capture->streaming = false;
        push_silence(&capture->ring);
        say("the sound server went away; the picture follows silence until it is back");
    }
    set_timer(capture, kRetryUs, retry);
}

// An attempt failed, or the server went away. Called from the client's own callbacks, which
// must not free it: the rest is left to attempt_over, at once but outside them.
void attempt_failed(Capture* capture, int error) {
    if (capture->failure || !capture->context) return;  // said already
    capture->failure = error ? error : PA_ERR_UNKNOWN;
    pa_context_set_state_callback(capture->context, nullptr, nullptr);
    if (capture->stream) {
        pa_stream_set_state_callback(capture->stream, nullptr, nullptr);
        pa_stream_set_read_callback(capture->stream, nullptr, nullptr);
    }
    if (!capture->started) {
        const char* server = pa_context_get_server(capture->context);
        capture->server = server ? server : "";
    }
    set_timer(capture, 0, attempt_over);
}

void deadline_passed(pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
    auto* capture = static_cast<Capture*>(data);
    drop_timer(capture);
    attempt_failed(capture, PA_ERR_TIMEOUT);
}

void source_described(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* capture = static_cast<Capture*>(data);
    if (eol == 0 && info && info->description) capture->description = info->description;
    if (eol != 0) {
        drop_timer(capture);
        capture->described = true;
    }
}

void sound_arrived(pa_stream* stream, size_t, void* data) {
    auto* capture = static_cast<Capture*>(data);
    const void* bytes = nullptr;
    size_t count = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &bytes, &count) == 0 &&
           count > 0) {
        // A hole (no bytes for a stretch) is heard as silence.
        push(&capture->ring, static_cast<const int16_t*>(bytes),
             count / kFrameBytes * kWavChannels);
        pa_stream_drop(stream);
    }
}

void stream_changed(pa_stream* stream, void* data) {
    auto* capture = static_cast<Capture*>(data);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        capture->streaming = true;
        if (capture->started) {
            drop_timer(capture);
            say("listening again");
            return;
        }
        // The first time the deadline stands until the source is described.
        capture->started = true;
        capture->fragment_bytes = pa_stream_get_buffer_attr(stream)->fragsize;
        pa_operation* asked = capture->description.empty()
                                  ? pa_context_get_source_info_by_name(
                                        capture->context, pa_stream_get_device_name(stream),
                                        source_described, capture)
                                  : nullptr;
        if (asked) {
            pa_operation_unref(asked);
        } else {
            drop_timer(capture);
            capture->described = true;
        }
    } else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        attempt_failed(capture, pa_context_errno(capture->context));
    }
}

void open_stream(Capture* capture, const char* source) {
    const pa_sample_spec format = {PA_SAMPLE_S16LE, kSampleRateHz, kWavChannels};
    pa_buffer_attr attr;
    attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kCaptureFragmentAskedUs, &format));
    capture->stream = pa_stream_new(capture->context, kStreamName, &format, nullptr);
    if (!capture->stream) return attempt_failed(capture, pa_context_errno(capture->context));
    // From here a failure may arrive first as a state change, which drops the client.
    pa_stream_set_state_callback(capture->stream, stream_changed, capture);
    pa_stream_set_read_callback(capture->stream, sound_arrived, capture);
    if (pa_stream_connect_record(capture->stream, source, &attr, PA_STREAM_ADJUST_LATENCY) < 0)
        attempt_failed(capture, capture->context ? pa_context_errno(capture->context) : 0);
}

// A named source is looked up first: PipeWire would otherwise connect a stream for a name it
// does not know to the default source, and say nothing.
void source_found(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* capture = static_cast<Capture*>(data);
    if (eol == 0 && info && !capture->stream) {
        if (info->description && !capture->started) capture->description = info->description;
        open_stream(capture, info->name);
    } else if (eol != 0 && !capture->stream) {
        attempt_failed(capture, PA_ERR_NOENTITY);
    }
}

void context_changed(pa_context* context, void* data) {
    auto* capture = static_cast<Capture*>(data);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY && capture->source.empty()) {
        open_stream(capture, kDefaultMonitor);
    } else if (state == PA_CONTEXT_READY) {
        pa_operation* asked = pa_context_get_source_info_by_name(context, capture->source.c_str(),
                                                                 source_found, capture);
        if (asked)
            pa_operation_unref(asked);
        else
            attempt_failed(capture, PA_ERR_NOENTITY);
    } else if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        attempt_failed(capture, pa_context_errno(context));
}

// Starts connecting, in the loop's thread; every outcome arrives as a state change, or as the
// deadline.
void connect_attempt(Capture* capture) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(capture->loop);
    capture->context = pa_context_new(api, kClientName);
    if (!capture->context) {
        // Nothing to connect with: said as a failure at start-up, asked again later.
        capture->error = capture->started ? 0 : PA_ERR_INTERNAL;
        if (capture->started) set_timer(capture, kRetryUs, retry);
        return;
    }
    pa_context_set_state_callback(capture->context, context_changed, capture);
    set_timer(capture, kConnectTimeoutMs * kUsPerMs, deadline_passed);
    // No autospawn: starting a server is the desktop's business, and a blocking one.
    if (pa_context_connect(capture->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        attempt_failed(capture, capture->context ? pa_context_errno(capture->context) : 0);
}

// The one line for a first attempt that failed.
std::string why_not(const Capture& capture) {
    const char* variable = std::getenv("PULSE_SERVER");
    const std::string server = !capture.server.empty() ? capture.server
                               : variable && *variable ? variable
                                                       : "the default place";
    switch (capture.error) {
        case PA_ERR_CONNECTIONREFUSED:
        case PA_ERR_ACCESS:
        case PA_ERR_INVALIDSERVER:
            return "no sound server answered at " + server +
                   ": is PulseAudio or PipeWire running? (PULSE_SERVER names another)";
        case PA_ERR_TIMEOUT:
            return "the sound server at " + server + " did not answer within " +
                   std::to_string(kConnectTimeoutMs / 1000) +
                   " s: is it stalled or busy? (PULSE_SERVER names another)";
        default:
            if (!capture.source.empty())
                return "no sound source named " + quoted_name(capture.source) + ": " + kListSources;
            if (capture.error == PA_ERR_NOENTITY)
                return std::string(
                           "the default output has no monitor to listen to: name a source; ") +
                       kListSources;
            return std::string("cannot listen to the sound server at ") + server + ": " +
                   pa_strerror(capture.error);
    }
}

}  // namespace

Capture::~Capture() { capture_stop(this); }

Outcome capture_start(Capture* capture, const std::string& source) {
    capture->source = source;
    capture->loop = pa_threaded_mainloop_new();
    if (!capture->loop || pa_threaded_mainloop_start(capture->loop) < 0)
        return failed("cannot listen: no thread for the sound server's client");
    pa_threaded_mainloop_lock(capture->loop);
    connect_attempt(capture);
    // Waits for the outcome in short naps rather than on the loop's condition, which a stop
    // signal cannot wake.
    while (!capture->error && !capture->described) {
        pa_threaded_mainloop_unlock(capture->loop);
        if (stop_signal()) return interrupted();
        std::this_thread::sleep_for(std::chrono::milliseconds(kStartPollMs));
        pa_threaded_mainloop_lock(capture->loop);
    }
    const bool ok = capture->error == 0;
    // A source the server would not describe is named as asked.
    if (ok && capture->description.empty())
        capture->description = capture->source.empty() ? "the default output" : capture->source;
    pa_threaded_mainloop_unlock(capture->loop);
    if (!ok) return failed(why_not(*capture));
    return {};
}

uint64_t capture_written(const Capture& capture) {
    return capture.ring.written.load(std::memory_order_acquire);
}

void capture_stop(Capture* capture) {
    if (!capture->loop) return;
    pa_threaded_mainloop_stop(capture->loop);  // the loop's thread is gone: no lock needed
    drop_timer(capture);
    drop_client(capture);
    pa_threaded_mainloop_free(capture->loop);
    capture->loop = nullptr;
}

std::string quoted_name(const std::string& name) {
    if (name.size() <= kLongestName) return quoted(name);
    // Cut where no UTF-8 sequence is split.
    auto boundary = [&](size_t at) {
        while (at > 0 && (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80) --at;
        return at;
    };
    const size_t head = boundary(kNameEnds), tail = boundary(name.size() - kNameEnds);
    return quoted(name.substr(0, head) + "..." + name.substr(tail)) + " (" +
           std::to_string(name.size()) + " bytes)";
}
