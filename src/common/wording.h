// Numbers as the program's texts write them for people: thousands grouped ("44,100") and small
// counts in words ("three flashes"). Every help text, message and page that states a limit
// derives it from the constant through these, so that a changed limit changes every text.
//
//     "at most " + in_words(kMaxFlashesPerSecond) + " flashes a second"   // "three"
//     grouped(kSampleRateHz) + " Hz"                                       // "44,100 Hz"
#pragma once
#include <cassert>
#include <cstdint>
#include <string>

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
