// A helper program fed through a pipe: ffmpeg for --video, gnuplot for --plot.
//
//     ChildPipe child;
//     std::string error = child_start({"ffmpeg", ...}, &child);   // found on PATH
//     ...child_write(&child, bytes, size)...
//     ChildEnd end = child_finish(&child);    // end.ok, or end.status and end.log say why not
//
// The child reads the pipe as its standard input, writes nothing to ours (its standard output
// goes to /dev/null) and its standard error goes to a private temporary file, so that its
// complaints reach the user through the renderer, with the renderer's prefix and the user's
// names, rather than as stray lines. It runs in a process group of its own, so a Ctrl-C at the
// terminal reaches the renderer only, which then decides what becomes of its work (child_kill).
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// What a write cut short by a stop signal returns, here and in every output of the renderer.
constexpr const char* kInterrupted = "interrupted";

struct ChildPipe {
    pid_t pid = -1;        // while it runs
    int fd = -1;           // the write end of its standard input
    FILE* log = nullptr;   // its standard error
};

struct ChildEnd {
    bool ok = false;       // it ran and exited with status 0
    std::string status;    // "exit status 1", "killed by signal 9", ...
    std::string log;       // what it wrote to standard error

    // The last line of the log: a failing tool's own summary of what went wrong.
    std::string last_log_line() const;
};

// The full path of `program` found on PATH, or "" when it is not there.
std::string find_on_path(const std::string& program);

// Starts args[0], found on PATH. Returns "" or why it could not start.
std::string child_start(const std::vector<std::string>& args, ChildPipe* child);

// Hands `bytes` to the child. SIGPIPE must be ignored (install_stop_handlers does), so that a
// child that has ended shows as a failed write. Returns "", "interrupted" after a stop signal,
// or the system's reason.
std::string child_write(ChildPipe* child, const void* bytes, size_t size);

// Ends the child's input and waits for it to finish.
ChildEnd child_finish(ChildPipe* child);

// Stops the child at once and waits for it; whatever it wrote is left for the caller.
void child_kill(ChildPipe* child);
