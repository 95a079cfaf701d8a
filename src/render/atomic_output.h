// Outputs that appear whole or not at all, and the signals that may cut a run short.
//
//     AtomicOutput out;
//     std::string error = output_begin("clip.mp4", OutputShape::file, &out);
//     ...write everything to out.write_path, checking stop_signal() now and then...
//     error = ok ? output_commit(&out) : (output_abandon(&out), error);
//
// A regular file (or a name that does not exist yet) is written under a temporary name in the
// same folder, "NAME.partial-XXXXXX", and renamed over NAME only by output_commit, so NAME holds
// either what it held before or the complete new output, never a part of it. Anything else is
// written directly and never replaced: "-" (standard output, where the caller allows it) and
// existing paths that are not regular files, such as /dev/null, a named pipe or a terminal. A
// symbolic link to a regular file is followed: its target is replaced and the link kept.
//
// A folder of files (OutputShape::folder) is filled as a temporary folder beside it,
// "NAME.partial-XXXXXX", and renamed to NAME at the end. NAME may be missing or an empty folder
// (which the rename replaces); a non-empty folder, or anything that is not a folder, is refused
// before anything is written, so no earlier output is ever mixed with or lost to a new one.
#pragma once
#include <string>
#include <sys/types.h>

enum class OutputShape {
    file,              // one file; "-" is refused
    file_or_stdout,    // one file, or standard output for "-"
    folder,            // a folder of files
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
};

// Decides how `path` is written and, for a replaced output, creates its temporary (an empty
// file, or an empty folder), with the permissions the finished output will have: an existing
// file's own, else the usual new-file ones under the umask. Returns "" or the reason `path`
// cannot be written.
std::string output_begin(const std::string& path, OutputShape shape, AtomicOutput* out);

// Moves a complete output into place. Returns "" or the reason; on failure the temporary is
// removed.
std::string output_commit(AtomicOutput* out);

// Removes the temporary of an output that will not be completed (a folder with everything in
// it). Outputs written directly keep whatever reached them.
void output_abandon(AtomicOutput* out);
