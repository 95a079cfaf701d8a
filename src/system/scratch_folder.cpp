#include "system/scratch_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr const char* kScratchPattern = "/starglobe.XXXXXX";  // mkdtemp fills the Xs

}  // namespace

ScratchFolder::~ScratchFolder() { scratch_remove(this); }

Outcome scratch_make(ScratchFolder* scratch) {
    if (!scratch->path.empty()) return {};
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + kScratchPattern;
    if (!mkdtemp(path.data()))
        return failed("cannot make a temporary folder in " + path.substr(0, path.rfind('/')) +
                      ": " + std::strerror(errno));
    scratch->path = path;
    return {};
}

void scratch_remove(ScratchFolder* scratch) {
    if (scratch->path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(scratch->path, ignored);
    scratch->path.clear();
}
