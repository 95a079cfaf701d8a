// What an operation that can fail hands back: nothing went wrong, or why it stopped. Callers
// decide by the kind, never by the wording, which is for the user.
//
//     Outcome o = write_something();
//     if (o.kind == OutcomeKind::interrupted) ...;     // a stop signal arrived
//     if (!o) say(o.message);
#pragma once
#include <string>
#include <utility>

enum class OutcomeKind {
    ok,
    failed,       // the message says what failed and why
    interrupted,  // a stop signal arrived (stop_signal() says which)
    reader_gone,  // the reader of standard output went away
};

struct Outcome {
    OutcomeKind kind = OutcomeKind::ok;
    std::string message;  // for the user; empty when ok

    explicit operator bool() const { return kind == OutcomeKind::ok; }
};

inline Outcome failed(std::string message) { return {OutcomeKind::failed, std::move(message)}; }
inline Outcome interrupted() { return {OutcomeKind::interrupted, "interrupted"}; }
inline Outcome reader_gone() { return {OutcomeKind::reader_gone, "standard output was closed"}; }
