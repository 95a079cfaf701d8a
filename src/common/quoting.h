// Names and helper output made safe to print: what people gave (a file name, an option's
// value) and what a helper program said reach the terminal as text, never as control
// characters that clear the screen or split a message across lines.
//
//     say("cannot read " + quoted(name) + ": ...");   // 'my song.mp3', 'a'$'\033''[2J'
//     std::string advice = shell_quoted(name);          // my-song.mp3 stays as it is
//     say("ffmpeg says: " + printable(log_line));       // control characters left out
#pragma once
#include <string>
#include <string_view>

// `text` in single quotes for a message, as coreutils quotes file names: a ' inside becomes
// '\'', and control characters, bytes that are not UTF-8 and C1 controls stand outside the
// quotes as $'\n', $'\033', $'\377'. What comes out is also a POSIX-shell word for the same
// bytes (with $'' as bash, zsh and ksh read it).
std::string quoted(std::string_view text);
// The same for a string: chosen over std::quoted, which argument lookup also finds.
inline std::string quoted(const std::string& text) { return quoted(std::string_view(text)); }

// The same, left bare where the shell needs no quotes (my-song.wav), for commands people copy.
std::string shell_quoted(std::string_view text);

// `text` without control characters, bytes that are not UTF-8 and C1 controls; a tab becomes
// a space. For a helper's log line echoed in one of our messages.
std::string printable(std::string_view text);
