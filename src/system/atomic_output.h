// Outputs that appear whole or not at all.
//
//     AtomicOutput out;
//     Outcome o = output_begin("clip.mp4", OutputShape::file, &out);
//     ...write everything to out.write_path...
//     o = output_commit(&out);      // or let `out` go: an uncommitted output is abandoned
//
// A regular file (or a name that does not exist yet) is written under a temporary name in the
// same folder, "NAME.partial-XXXXXX", and renamed over NAME only by output_commit, so NAME holds
// either what it held before or the complete new output, never a part of it. Anything else is
// written directly and never replaced: standard output ("-", or a name of it such as
// /dev/stdout, where the caller allows it) and existing paths that are not regular files, such
// as /dev/null, a named pipe or a terminal. A symbolic link to a regular file is followed: its
// target is replaced and the link kept.
//
// A folder of files (OutputShape::folder) that does not exist yet is filled as a temporary
// folder beside it, "NAME.partial-XXXXXX", and renamed to NAME at the end. An existing empty
// folder is filled in place; abandoned, it loses exactly the files the run wrote
// (output_wrote), whatever others put there meanwhile. A non-empty folder, or anything that is
// not a folder, is refused before anything is written.
//
// The AtomicOutput owns its temporary: going out of scope uncommitted removes what the run
// wrote (output_abandon).
#pragma once
#include <string>
#include <vector>

#include "common/outcome.h"

enum class OutputShape {
    file,            // one file; standard output is refused
    file_or_stdout,  // one file, or standard output
    folder,          // a folder of files
};

enum class OutputWay {
    replaced,   // written under temp_path, renamed to final_path when complete
    direct,     // written straight to final_path (not a regular file), nothing to rename
    to_stdout,  // written to standard output
};

struct AtomicOutput {
    std::string path;        // the name as given, for messages
    std::string final_path;  // where the output ends up (a link's target)
    std::string temp_path;   // the temporary while it is being written; "" when there is none
    std::string write_path;  // where to write now: temp_path, or final_path when direct
    OutputWay way = OutputWay::direct;
    bool folder = false;
    std::vector<std::string> written;  // files the run put into a folder filled in place

    AtomicOutput() = default;
    AtomicOutput(AtomicOutput&& other) noexcept;
    AtomicOutput& operator=(AtomicOutput&& other) noexcept;
    ~AtomicOutput();
};

// Whether `path` is "-" or names this process's standard output (/dev/stdout, a link to it, or
// the very pipe or file standard output is).
bool names_standard_output(const std::string& path);

// Decides how `path` is written and, for a replaced output, creates its temporary (an empty
// file, or an empty folder), with the permissions the finished output will have: an existing
// file's own, else the usual new-file ones under the umask. Fails with the reason.
Outcome output_begin(const std::string& path, OutputShape shape, AtomicOutput* out);

// Notes a file the run is about to write into a folder output (a name inside it).
void output_wrote(AtomicOutput* out, const std::string& name);

// Moves a complete output into place. On failure the temporary is removed.
Outcome output_commit(AtomicOutput* out);

// Removes what the run wrote of an output that will not be completed: the temporary (a folder
// with everything in it), or the files noted in a folder filled in place. Other outputs
// written directly keep whatever reached them.
void output_abandon(AtomicOutput* out);
