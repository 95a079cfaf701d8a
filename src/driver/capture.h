// Sound captured from the sound server (PulseAudio, or PipeWire through its PulseAudio
// service): the default output's monitor (whatever the computer plays) or a named source such
// as a microphone, as 16-bit stereo at 44,100 Hz, which the server converts to.
//
//     Capture capture;
//     Outcome o = capture_start(&capture, "");   // connects now, to say at once what fails
//     ...int16_t newest = capture_newest(capture) once a pass...
//     capture_stop(&capture);                    // or let it go out of scope
//
// A thread of its own reads the server in pieces of 10 ms, the server's fragments being at
// most 20 ms, and writes them into a ring that the loop reads without locks and without
// allocating: only the newest sample matters to it. If the server goes away the ring holds
// silence, the thread says so once on standard error, and it connects again as soon as the
// server answers (it tries every half second).
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "common/outcome.h"

// The source meaning "the default output's monitor".
constexpr const char* kDefaultMonitor = "@DEFAULT_MONITOR@";
constexpr int kCaptureFragmentMs = 20;  // the server hands over sound at least this often
constexpr int kCaptureReadMs = 10;      // what the thread waits for at a time

struct SoundRing {
    static constexpr uint32_t kSamples = 1 << 16;  // 0.74 s of interleaved stereo
    int16_t samples[kSamples] = {};
    std::atomic<uint64_t> written{0};  // samples written so far; the newest is at written - 1
};

struct Capture {
    SoundRing ring;
    std::string source;  // as given; "" for the default monitor
    std::atomic<bool> stopping{false};
    std::thread thread;
    void* connection = nullptr;  // the sound server's connection, while there is one

    Capture() = default;
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture();
};

// Connects to `source` ("" for the default monitor) and starts the capturing thread. Fails with
// one line saying what failed and the way out: no sound server, no such source.
Outcome capture_start(Capture* capture, const std::string& source);

// The newest sample captured (the right one of the newest frame), or silence before any.
int16_t capture_newest(const Capture& capture);

// Stops the thread and lets the connection go.
void capture_stop(Capture* capture);
