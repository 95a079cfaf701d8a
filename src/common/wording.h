// Numbers as the program's texts write them for people, thousands grouped ("44,100") and small
// counts in words ("three flashes"), and the help texts' lines. Every help text, message and page
// that states a limit derives it from the constant through these, so that a changed limit changes
// every text.
//
//     "at most " + in_words(kMaxFlashesPerSecond) + " flashes a second"   // "three"
//     grouped(kSampleRateHz) + " Hz"                                       // "44,100 Hz"
#pragma once
#include <algorithm>
#include <cassert>
#include <cstdint>
#include <string>
#include <string_view>

// The columns of a help text: a terminal's width.
constexpr size_t kTextColumns = 80;

// `text` in lines of at most `width` columns, broken at blanks, every line after the first
// indented by `indent` blanks; no newline at the end.
inline std::string wrapped(std::string_view text, size_t width, size_t indent = 0) {
    std::string out, line;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find(' ', start), text.size());
        const std::string_view word = text.substr(start, end - start);
        if (word.empty()) continue;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n" + std::string(indent, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + std::string(word);
    }
    return out + line;
}

// n with its thousands separated by commas: 100000 as "100,000".
inline std::string grouped(int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<size_t>(at), ",");
    return (n < 0 ? "-" : "") + digits;
}

// A count from zero to ten in words, as running text writes it; larger counts as digits.
inline std::string in_words(int64_t n) {
    assert(n >= 0);
    static const char* const kWords[] = {"zero", "one",   "two",   "three", "four", "five",
                                         "six",  "seven", "eight", "nine",  "ten"};
    return n <= 10 ? kWords[n] : grouped(n);
}
