// The command's own lines: on standard error, after the program's name, so that they stand
// apart from the lines SDL and the loader print on standard output, and people can grep for
// them. Every line of the demo's own goes through here.
//
//     say("listening again");   // "starglobe: listening again"
#pragma once
#include <cstdio>
#include <string>

constexpr const char* kMessagePrefix = "starglobe: ";

inline void say(const std::string& line) {
    std::fprintf(stderr, "%s%s\n", kMessagePrefix, line.c_str());
}
