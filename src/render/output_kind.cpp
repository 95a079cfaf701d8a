#include "render/output_kind.h"

#include <strings.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/quoting.h"

OutputStream::OutputStream(OutputStream&& other) noexcept { *this = std::move(other); }

OutputStream& OutputStream::operator=(OutputStream&& other) noexcept {
    if (this != &other) {
        stream_close(this, "");
        file = std::exchange(other.file, nullptr);
        is_stdout = other.is_stdout;
    }
    return *this;
}

OutputStream::~OutputStream() { stream_close(this, ""); }

Outcome stream_open(const AtomicOutput& target, OutputStream* stream) {
    stream_close(stream, "");
    stream->is_stdout = target.way == OutputWay::to_stdout;
    stream->file = stream->is_stdout ? stdout : std::fopen(target.write_path.c_str(), "wbe");
    if (!stream->file) return write_failure(false, output_name(target.path), errno);
    return {};
}

Outcome csv_open(const std::string& path, const char* header, std::string* name,
                 AtomicOutput* target, OutputStream* stream) {
    *name = output_name(path);
    if (Outcome o = output_begin(path, OutputShape::file_or_stdout, target); !o) return o;
    if (Outcome o = stream_open(*target, stream); !o) return o;
    if (std::fputs(header, stream->file) < 0) return write_failure(stream->is_stdout, *name, errno);
    return {};
}

Outcome stream_close(OutputStream* stream, const std::string& name) {
    if (!stream->file) return {};
    const bool failed_before = std::ferror(stream->file) != 0;
    const int failed_errno = errno;
    const bool close_failed =
        stream->is_stdout ? std::fflush(stdout) != 0 : std::fclose(stream->file) != 0;
    stream->file = nullptr;
    if (close_failed) return write_failure(stream->is_stdout, name, errno);
    return failed_before ? write_failure(stream->is_stdout, name, failed_errno) : Outcome{};
}

Outcome write_failure(bool to_stdout, const std::string& name, int error) {
    if (error == EPIPE && to_stdout) return reader_gone();
    return failed("cannot write " + quoted(name) + ": " + std::strerror(error));
}

Outcome take_file(const char* option, const std::string& value) {
    if (value.empty()) return failed(std::string(option) + " needs a file name");
    return {};
}

bool ends_with(const std::string& path, const char* ending) {
    const size_t n = std::strlen(ending);
    return path.size() >= n && strcasecmp(path.c_str() + path.size() - n, ending) == 0;
}

std::string output_name(const std::string& path) {
    return names_standard_output(path) ? "standard output" : path;
}
