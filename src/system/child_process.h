// A helper program run by one of ours: ffmpeg to convert music or encode video, ffprobe to ask
// what a file holds, gnuplot to draw a plot.
//
//     ChildProcess child;
//     Outcome started = child_start({"ffmpeg", ...}, {}, &child);   // found on PATH
//     ...child_write(&child, bytes, size)...
//     ChildEnd end = child_wait(&child);     // end.ok(), or child_status(end) and end.log say
//                                            // why not; ChildFate::interrupted by a stop signal
//
// Its standard error goes to a file in memory, so that its complaints reach the user through
// the program that ran it, with that program's prefix and the user's names, rather than as
// stray lines. What it writes there and to a captured standard output is kept up to a bound
// (kChildLogBytes, kChildOutputBytes), so a helper that floods them costs no more memory.
// It runs in a process group of its own, so a Ctrl-C at the terminal reaches our program only,
// which then decides what becomes of the child's work; killing it, or its end, ends the whole
// group, so nothing it started outlives it. The ChildProcess owns the child: going out of scope
// kills a child still running and waits for it.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/outcome.h"

enum class ChildInput {
    pipe,  // child_write feeds it
    text,  // ChildOptions::text, whole, from a file in memory: never a pipe to deadlock on
    none,  // /dev/null
};

enum class ChildOutput {
    discard,  // /dev/null
    capture,  // into a file in memory, handed back as ChildEnd::output
    inherit,  // our own standard output
};

// The most kept of a child's standard error and, unless ChildOptions says otherwise, of its
// captured standard output, in bytes: whole pages, as the files in memory that hold them grow.
constexpr size_t kChildLogBytes = 16384;
constexpr size_t kChildOutputBytes = 4096;

// The descriptor under which a child finds ChildOptions::passed: it opens /dev/fd/3.
constexpr int kChildPassedFd = 3;

struct ChildOptions {
    ChildInput input = ChildInput::pipe;
    ChildOutput output = ChildOutput::discard;
    std::string text;  // the input, for ChildInput::text
    int passed = -1;   // a descriptor of ours the child inherits as kChildPassedFd; -1: none
    size_t most_output = kChildOutputBytes;  // for ChildOutput::capture: whole pages
};

struct ChildProcess {
    pid_t pid = -1;          // while it runs
    int input = -1;          // the write end of its standard input, for ChildInput::pipe
    int log = -1;            // its standard error, a file in memory
    int output = -1;         // its captured standard output, a file in memory
    size_t most_output = 0;  // the most of it kept

    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess();
};

// How a child's run ended.
enum class ChildFate {
    exited,       // it ran to an exit of its own: ChildEnd::code
    killed,       // a signal ended it: ChildEnd::signal
    lost,         // it could not be waited for: ChildEnd::error
    interrupted,  // a stop signal of ours arrived first, and we killed it
};

struct ChildEnd {
    ChildFate fate = ChildFate::exited;
    int code = 0;             // its exit status, for ChildFate::exited
    int signal = 0;           // the signal that ended it, for ChildFate::killed
    int error = 0;            // the errno of the failed wait, for ChildFate::lost
    std::string log;          // what it wrote to standard error, up to kChildLogBytes
    std::string output;       // what it wrote to standard output, for ChildOutput::capture
    bool log_cut = false;     // it wrote kChildLogBytes or more: the log holds the first ones
    bool output_cut = false;  // the same for the output, past ChildOptions::most_output

    // It ran and exited with status 0.
    bool ok() const { return fate == ChildFate::exited && code == 0; }

    // The last line of the log, control characters left out: a failing tool's own summary
    // of what went wrong. When the log was cut, the last whole line kept.
    std::string last_log_line() const;
};

// The end in words for a message: "exit status 1", "killed by signal 9", "lost: No child
// processes", "interrupted".
std::string child_status(const ChildEnd& end);

// The full path of `program` found on PATH, or "" when it is not there.
std::string find_on_path(const std::string& program);

// Starts args[0], found on PATH. Fails naming the program when it is not installed.
Outcome child_start(const std::vector<std::string>& args, const ChildOptions& options,
                    ChildProcess* child);

// Hands `bytes` to the child's pipe. SIGPIPE must be ignored, so that a child that has ended
// shows as a failed write. Interrupted by a stop signal.
Outcome child_write(ChildProcess* child, const void* bytes, size_t size);

// Ends the child's input (for ChildInput::pipe) and waits for it to finish, checking for stop
// signals: when one arrives first, the child is killed and its end is ChildFate::interrupted.
// A child never started, or already waited for, counts as exited with status 0.
ChildEnd child_wait(ChildProcess* child);

// Stops the child and its process group at once and waits for it.
void child_kill(ChildProcess* child);
