// Sound captured from the sound server (PulseAudio, or PipeWire through its PulseAudio
// service): the default output's monitor (whatever the computer plays) or a named source such
// as a microphone, as 16-bit stereo at 44,100 Hz, which the server converts to.
//
//     Capture capture;
//     Outcome o = capture_start(&capture, "");   // connects now, to say at once what fails
//     ...capture_written(capture), capture.ring.samples[...] once a picture...
//     capture_stop(&capture);                    // or let it go out of scope
//
// The client is libpulse's asynchronous one on its threaded main loop, not blocking reads
// (pa_simple) on a thread of our own: a blocking read returns only on data or an error, so a
// suspended source or a frozen server left the reader, and whoever joined it, waiting for
// ever. Here nothing of ours ever waits on the server. The loop's thread sleeps in poll() and
// runs callbacks that never block: the record stream's callback copies each fragment into a
// ring that the demo reads without locks, and every step of connecting is a state change with a
// deadline. Stopping wakes that thread through its own pipe and joins it at once, whatever the
// server does.
//
// The smallest fragment the server grants is asked for, to answer sound as soon as it plays.
// If the server goes away (or stops answering for the connecting time) the ring holds silence,
// one line says so on standard error, and it connects again as soon as the server answers (it
// tries every half second).
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "common/outcome.h"

// The source meaning "the default output's monitor".
constexpr const char* kDefaultMonitor = "@DEFAULT_MONITOR@";
// How long the server may take to accept a connection and a stream before it counts as gone.
constexpr int kConnectTimeoutMs = 5000;
// The fragment asked for: below what any server grants, so that it grants its smallest.
constexpr int kCaptureFragmentAskedUs = 500;

struct SoundRing {
    static constexpr uint32_t kSamples = 1 << 16;  // 0.74 s of interleaved stereo
    int16_t samples[kSamples] = {};
    std::atomic<uint64_t> written{0};  // samples written so far, whole frames; newest at - 1
};

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;

struct Capture {
    SoundRing ring;
    std::string source;  // as given; "" for the default monitor
    // Set once by a successful capture_start, then left alone.
    std::string description;      // the source's own description
    uint32_t fragment_bytes = 0;  // what the server granted

    // The client; everything below is touched only with the loop's lock held.
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* timer = nullptr;  // the attempt's deadline, or the next attempt
    bool streaming = false;          // sound flows (or flowed until the server went away)
    bool started = false;            // the first attempt succeeded: later failures are retried
    bool described = false;          // the server has said what the source is (or would not)
    int error = 0;                   // why the first attempt failed (PA_ERR_*); 0 while pending
    int failure = 0;                 // why the current attempt failed, until it is let go
    std::string server;              // the server the first attempt tried

    Capture() = default;
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture();
};

// Connects to `source` ("" for the default monitor), within kConnectTimeoutMs, and keeps
// capturing until capture_stop. Fails with one line saying what failed, naming the server or
// the source, and the way out; interrupted when a stop signal arrives meanwhile.
Outcome capture_start(Capture* capture, const std::string& source);

// Samples written to the ring so far (always whole stereo frames).
uint64_t capture_written(const Capture& capture);

// Stops the client; never waits on the server.
void capture_stop(Capture* capture);

// `name` quoted as every message quotes names, a name longer than a line cut in the middle
// with its length said.
std::string quoted_name(const std::string& name);
