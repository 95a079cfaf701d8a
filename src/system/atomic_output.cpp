#include "system/atomic_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "common/quoting.h"

namespace {

constexpr const char* kTempMark = ".partial-XXXXXX";  // mkstemp/mkdtemp fill the Xs
constexpr mode_t kNewFileMode = 0666;                 // before the umask, as open(2) makes files
constexpr mode_t kNewFolderMode = 0777;               // before the umask, as mkdir(2) does
constexpr mode_t kPermissionBits = 07777;

Outcome failure(const std::string& path, int error) {
    return failed("cannot write " + quoted(path) + ": " + std::strerror(error));
}

mode_t under_umask(mode_t mode) {
    const mode_t mask = umask(0);  // the only way to read it; put back at once
    umask(mask);
    return mode & ~mask;
}

// Whether the folder holds nothing but "." and "..".
bool folder_is_empty(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    bool empty = true;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(dir);
    return empty;
}

// Written at `temp`, beside `final_path`, and put in place only when the run succeeds.
void written_aside(AtomicOutput* out, const std::string& final_path, const std::string& temp) {
    out->final_path = final_path;
    out->temp_path = temp;
    out->write_path = temp;
    out->way = OutputWay::replaced;
}

Outcome begin_folder(const std::string& path, AtomicOutput* out) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) return failed(quoted(path) + " exists and is not a folder");
        if (!folder_is_empty(path))
            return failed(quoted(path) +
                          " is a folder that is not empty; give a new or empty folder");
        // Filled in place: renaming over it would take it from under whoever stands in it
        // (`--png .` renames the shell's working folder away).
        out->final_path = path;
        out->write_path = path;
        out->way = OutputWay::direct;
        out->folder = true;
        return {};
    }
    std::string temp = path + kTempMark;
    if (!mkdtemp(temp.data())) return failure(path, errno);
    if (chmod(temp.c_str(), under_umask(kNewFolderMode)) != 0) {
        const int error = errno;
        rmdir(temp.c_str());
        return failure(path, error);
    }
    written_aside(out, path, temp);
    out->folder = true;
    return {};
}

}  // namespace

AtomicOutput::AtomicOutput(AtomicOutput&& other) noexcept { *this = std::move(other); }

AtomicOutput& AtomicOutput::operator=(AtomicOutput&& other) noexcept {
    if (this != &other) {
        output_abandon(this);
        path = std::move(other.path);
        final_path = std::move(other.final_path);
        temp_path = std::move(other.temp_path);
        write_path = std::move(other.write_path);
        way = other.way;
        folder = other.folder;
        written = std::move(other.written);
        other.temp_path.clear();
        other.written.clear();
        other.folder = false;
    }
    return *this;
}

AtomicOutput::~AtomicOutput() { output_abandon(this); }

bool names_standard_output(const std::string& path) {
    if (path == "-") return true;
    struct stat named, out;
    return stat(path.c_str(), &named) == 0 && fstat(STDOUT_FILENO, &out) == 0 &&
           named.st_dev == out.st_dev && named.st_ino == out.st_ino &&
           !S_ISCHR(named.st_mode);  // /dev/null is everyone's, not standard output's
}

Outcome output_begin(const std::string& path, OutputShape shape, AtomicOutput* out) {
    *out = AtomicOutput{};
    out->path = path;
    if (names_standard_output(path)) {
        if (shape != OutputShape::file_or_stdout)
            return failed(quoted(path) + ": standard output is not allowed here");
        out->way = OutputWay::to_stdout;
        return {};
    }
    if (shape == OutputShape::folder) return begin_folder(path, out);

    // A link to a regular file is replaced at its target, so the link itself survives.
    std::string final_path = path;
    struct stat st;
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) return failed(quoted(path) + " is a folder");
        if (!S_ISREG(st.st_mode)) {
            out->final_path = path;
            out->write_path = path;
            out->way = OutputWay::direct;
            return {};
        }
        struct stat link;
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            char resolved[PATH_MAX];
            if (realpath(path.c_str(), resolved)) final_path = resolved;
        }
    }

    std::string temp = final_path + kTempMark;
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return failure(path, errno);
    const mode_t mode = exists ? (st.st_mode & kPermissionBits) : under_umask(kNewFileMode);
    const bool mode_failed = fchmod(fd, mode) != 0;
    const int error = errno;
    close(fd);
    if (mode_failed) {
        unlink(temp.c_str());
        return failure(path, error);
    }
    written_aside(out, final_path, temp);
    return {};
}

void output_wrote(AtomicOutput* out, const std::string& name) {
    if (out->folder && out->way == OutputWay::direct) out->written.push_back(name);
}

Outcome output_commit(AtomicOutput* out) {
    out->written.clear();  // a folder filled in place is complete: its files stay
    if (out->way != OutputWay::replaced || out->temp_path.empty()) return {};
    if (std::rename(out->temp_path.c_str(), out->final_path.c_str()) != 0) {
        const int error = errno;
        output_abandon(out);
        return failure(out->path, error);
    }
    out->temp_path.clear();
    return {};
}

void output_abandon(AtomicOutput* out) {
    std::error_code ignored;  // nothing more can be done about a file that will not go
    // A folder filled in place: only what this run put there goes.
    for (const std::string& name : out->written)
        std::filesystem::remove(out->final_path + "/" + name, ignored);
    out->written.clear();
    if (out->temp_path.empty()) return;
    std::filesystem::remove_all(out->temp_path, ignored);
    out->temp_path.clear();
}
