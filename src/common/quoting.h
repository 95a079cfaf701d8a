// Names and helper output made safe to print: what people gave (a file name, an option's
// value) and what a helper program said reach the terminal as text, never as control
// characters that clear the screen or split a message across lines.
//
//     say("cannot read " + quoted(name) + ": ...");   // 'my song.mp3', 'a'$'\033''[2J'
//     std::string advice = shell_quoted(name);          // my-song.mp3 stays as it is
//     say("ffmpeg says: " + printable(log_line));       // control characters left out
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// What the three functions below share. Header-only like the rest of common/: pure text, which
// the web page needs too (conversion_advice quotes the names it shows).
namespace quoting_detail {

constexpr unsigned char kDelete = 0x7f;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr uint32_t kFirstC1 = 0x80, kLastC1 = 0x9f;  // control characters above ASCII

// The length of the UTF-8 character at text[at] that is safe to print, or 0 when the byte
// there is a control character, a C1 control, or no valid UTF-8 (overlong, a surrogate, cut
// short).
inline size_t printable_length(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < kFirstPrintable || lead == kDelete) return 0;
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint32_t code = 0, least = 0;
    if ((lead & 0xe0) == 0xc0) length = 2, code = lead & 0x1fu, least = 0x80;
    if ((lead & 0xf0) == 0xe0) length = 3, code = lead & 0x0fu, least = 0x800;
    if ((lead & 0xf8) == 0xf0) length = 4, code = lead & 0x07u, least = 0x10000;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80) return 0;
        code = code << 6 | (byte(at + i) & 0x3fu);
    }
    const bool surrogate = code >= 0xd800 && code <= 0xdfff;
    const bool c1 = code >= kFirstC1 && code <= kLastC1;
    if (code < least || code > 0x10ffff || surrogate || c1) return 0;
    return length;
}

// A byte as $'' writes it: the C escapes people know, else three octal digits.
inline std::string escaped(unsigned char c) {
    switch (c) {
        case '\a': return "\\a";
        case '\b': return "\\b";
        case '\f': return "\\f";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        case '\v': return "\\v";
        default: break;
    }
    char octal[8];
    std::snprintf(octal, sizeof octal, "\\%03o", c);
    return octal;
}

inline bool needs_no_quotes(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '/' || c == '-' ||
                          c == '+' || c == ':' || c == ',' || c == '=';
        if (!safe) return false;
    }
    return true;
}

}  // namespace quoting_detail

// `text` in single quotes for a message, as coreutils quotes file names: a ' inside becomes
// '\'', and control characters, bytes that are not UTF-8 and C1 controls stand outside the
// quotes as $'\n', $'\033', $'\377'. What comes out is also a POSIX-shell word for the same
// bytes (with $'' as bash, zsh and ksh read it).
inline std::string quoted(std::string_view text) {
    std::string out = "'";
    bool escaping = false;  // inside a $'...' run rather than a '...' one
    for (size_t at = 0; at < text.size();) {
        const size_t length = quoting_detail::printable_length(text, at);
        if (length == 0) {
            if (!escaping) out += "'$'", escaping = true;
            out += quoting_detail::escaped(static_cast<unsigned char>(text[at++]));
            continue;
        }
        if (escaping) out += "''", escaping = false;
        out += text[at] == '\'' ? std::string("'\\''") : std::string(text.substr(at, length));
        at += length;
    }
    return out + "'";
}

// The same for a string or a C string: chosen over std::quoted, which argument lookup also
// finds.
inline std::string quoted(const std::string& text) { return quoted(std::string_view(text)); }
inline std::string quoted(const char* text) { return quoted(std::string_view(text)); }

// The same, left bare where the shell needs no quotes (my-song.wav), for commands people copy.
inline std::string shell_quoted(std::string_view text) {
    return quoting_detail::needs_no_quotes(text) ? std::string(text) : quoted(text);
}

// `text` without control characters, bytes that are not UTF-8 and C1 controls; a tab becomes
// a space. For a helper's log line echoed in one of our messages.
inline std::string printable(std::string_view text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const size_t length = quoting_detail::printable_length(text, at);
        if (length == 0 && text[at] == '\t') out += ' ';
        out += text.substr(at, length);
        at += length == 0 ? 1 : length;
    }
    return out;
}
