#include "audio/wav_loader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

#include "audio/convert.h"
#include "common/stop_flag.h"
#include "common/timeline.h"

static_assert(std::endian::native == std::endian::little,
              "samples are handed out in place and must be little-endian like the file");

namespace {

constexpr const char* kCorrupted = "wav is corrupted";
constexpr const char* kUnsupported = "wav is unsupported";

// Reads come in pieces of at most this, so that a stop signal is heard within a moment.
constexpr size_t kReadPiece = size_t{4} << 20;

// Behind the analysis, samples are let go of this many frames at a time (16 MiB, about a
// minute and a half of music), and the last second is kept.
constexpr int64_t kLetGoFrames = int64_t{1} << 22;
constexpr int64_t kKeepBehindSeconds = 1;

// For describing refusals: offsets inside a "fmt " chunk's body, and two format tags.
constexpr size_t kChunkHeaderBytes = 8;  // identifier and size
constexpr size_t kFmtTag = 0;
constexpr size_t kFmtChannels = 2;
constexpr size_t kFmtRate = 4;
constexpr size_t kFmtByteRate = 8;
constexpr size_t kFmtBits = 14;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

// The mappings of files the program reads, for the bus-error handler: a file cut short under
// its mapping faults when a page it lost is read. Slots with an end of 0 are free.
constexpr int kMappingSlots = 8;
std::atomic<uintptr_t> g_mapped_begin[kMappingSlots];
std::atomic<uintptr_t> g_mapped_end[kMappingSlots];
volatile std::sig_atomic_t g_cut_short = 0;
uintptr_t g_page_bytes = 0;

void on_bus_error(int signal_number, siginfo_t* info, void*) {
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (int i = 0; i < kMappingSlots; ++i) {
        if (at < g_mapped_begin[i].load() || at >= g_mapped_end[i].load()) continue;
        // Silence in place of the page the file lost; the loops see the flag and stop.
        void* page = reinterpret_cast<void*>(at / g_page_bytes * g_page_bytes);
        if (mmap(page, g_page_bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
            MAP_FAILED) {
            g_cut_short = 1;
            return;
        }
    }
    std::signal(signal_number, SIG_DFL);  // not ours: it faults again and ends as it would have
}

void note_mapping(const void* at, size_t size) {
    if (g_page_bytes == 0) {
        g_page_bytes = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_sigaction = on_bus_error;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, nullptr);
    }
    for (int i = 0; i < kMappingSlots; ++i) {
        if (g_mapped_end[i].load() != 0) continue;
        g_mapped_begin[i] = reinterpret_cast<uintptr_t>(at);
        g_mapped_end[i] = reinterpret_cast<uintptr_t>(at) + size;
        return;
    }
}

void forget_mapping(const void* at) {
    for (int i = 0; i < kMappingSlots; ++i) {
        if (g_mapped_begin[i].load() != reinterpret_cast<uintptr_t>(at)) continue;
        g_mapped_end[i] = 0;
        g_mapped_begin[i] = 0;
    }
}

// Owns a file descriptor.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

WavFile refused(WavFile wav, WavStatus status, int error = 0) {
    wav.status = status;
    wav.error = error;
    wav.bytes.reset();
    wav.mapped = MappedBytes{};
    wav.size = 0;
    wav.track = {};
    return wav;
}

// Reads up to `size` bytes at `at`, whole pieces at a time, stopping for a stop signal.
// Returns the status and, through `got`, how much arrived.
WavStatus read_fully(int fd, uint8_t* at, size_t size, size_t* got, int* error) {
    *got = 0;
    while (*got < size) {
        if (stop_signal() != 0) return WavStatus::interrupted;
        const ssize_t n = read(fd, at + *got, std::min(size - *got, kReadPiece));
        if (n > 0) {
            *got += size_t(n);
        } else if (n == 0) {
            return WavStatus::unreadable;  // the file shrank while it was read
        } else if (errno != EINTR) {
            *error = errno;
            return WavStatus::unreadable;
        }
    }
    return WavStatus::ok;
}

// A chunk identifier as text: LIST, or its bytes in file order, in hex, when one is not
// printable: "bytes 89 50 4E 47".
std::string id_text(const uint8_t* id) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (id[i] < ' ' || id[i] > '~') {
            char hex[32];
            std::snprintf(hex, sizeof hex, "bytes %02X %02X %02X %02X", id[0], id[1], id[2], id[3]);
            return hex;
        }
        text += static_cast<char>(id[i]);
    }
    return text;
}

std::string channels_text(uint16_t channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    return std::to_string(channels) + "-channel";
}

std::string format_text(uint16_t tag) {
    if (tag == kWavFormatPcm) return "PCM";
    if (tag == kFormatFloat) return "floating-point";
    if (tag == kFormatExtensible) return "extensible-format";
    return "format " + std::to_string(tag);
}

// What a file's first bytes say it is ("an MP3 file, not a WAV file"), and
// whether it is sound, which ffmpeg may convert, or something else, which no conversion helps.
struct Signature {
    const char* magic;
    size_t at;  // where the magic sits in the file
    const char* kind;
    bool audio;
};
constexpr Signature kSignatures[] = {
    {"RIFF", 0, "a RIFF file, not a WAV file", true},
    {"RIFX", 0, "a big-endian WAV file (RIFX); needs little-endian RIFF", true},
    {"RF64", 0, "a 64-bit WAV file (RF64); needs RIFF", true},
    {"ID3", 0, "an MP3 file, not a WAV file", true},
    {"OggS", 0, "an Ogg file, not a WAV file", true},
    {"fLaC", 0, "a FLAC file, not a WAV file", true},
    {"ftyp", 4, "an MP4 or M4A file, not a WAV file", true},
    {"FORM", 0, "an AIFF file, not a WAV file", true},
    {"\x1A\x45\xDF\xA3", 0, "a WebM or Matroska file, not a WAV file", true},
    {"\x89PNG", 0, "a PNG picture, not a WAV file", false},
    {"\xFF\xD8\xFF", 0, "a JPEG picture, not a WAV file", false},
};

const Signature* signature_of(const uint8_t* bytes, size_t size) {
    for (const Signature& s : kSignatures) {
        const size_t length = std::strlen(s.magic);
        if (size >= s.at + length && std::memcmp(bytes + s.at, s.magic, length) == 0) return &s;
    }
    return nullptr;
}

// An MPEG audio frame's sync (MP3, or AAC in ADTS), where no ID3 tag comes first.
bool mpeg_sync(const uint8_t* bytes, size_t size) {
    return size >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0;
}

// What a file that is not a WAV at all looks like, from its first bytes.
std::string not_wav(const uint8_t* bytes, size_t size) {
    const Signature* s = signature_of(bytes, size);
    if (s) return s->kind;
    if (mpeg_sync(bytes, size)) return "an MP3 file, not a WAV file";
    return "not a WAV file (it starts with " + id_text(bytes) + ", not RIFF)";
}

}  // namespace

void wav_let_go(const PcmTrack& track, int64_t first, int64_t end) {
    first = std::max<int64_t>(first, 0);
    end = std::min<int64_t>(end, track.frames);
    if (!track.mapped || end <= first) return;
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto from = reinterpret_cast<uintptr_t>(track.samples + first * kWavChannels);
    const auto to = reinterpret_cast<uintptr_t>(track.samples + end * kWavChannels);
    const uintptr_t whole_from = (from + page - 1) / page * page, whole_to = to / page * page;
    if (whole_to > whole_from)
        madvise(reinterpret_cast<void*>(whole_from), whole_to - whole_from, MADV_DONTNEED);
}

void wav_let_go_behind(const PcmTrack& track, double elapsed_ms, int64_t* held_from) {
    const auto behind = static_cast<int64_t>(elapsed_ms * kSampleRateHz / kMsPerSecond) -
                        int64_t{kSampleRateHz} * kKeepBehindSeconds;
    if (!track.mapped || behind - *held_from < kLetGoFrames) return;
    wav_let_go(track, *held_from, behind);
    *held_from = behind;
}

MappedBytes::MappedBytes(MappedBytes&& other) noexcept { *this = std::move(other); }

MappedBytes& MappedBytes::operator=(MappedBytes&& other) noexcept {
    if (this != &other) {
        if (at) forget_mapping(at), munmap(const_cast<uint8_t*>(at), size);
        at = std::exchange(other.at, nullptr);
        size = std::exchange(other.size, 0);
    }
    return *this;
}

MappedBytes::~MappedBytes() {
    if (at) forget_mapping(at), munmap(const_cast<uint8_t*>(at), size);
}

bool wav_cut_short() { return g_cut_short != 0; }

WavStatus check_wav_header(const uint8_t (&header)[kWavHeaderBytes], uint64_t file_size,
                           uint32_t* data_bytes) {
    const uint8_t* h = header;
    if (wav_get_u32(h + kWavRiffIdOffset) != wav_fourcc("RIFF") ||
        uint64_t{wav_get_u32(h + kWavRiffSizeOffset)} + kWavRiffHeaderBytes != file_size ||
        wav_get_u32(h + kWavWaveIdOffset) != wav_fourcc("WAVE") ||
        wav_get_u32(h + kWavFmtIdOffset) != wav_fourcc("fmt "))
        return WavStatus::corrupted;
    if (wav_get_u32(h + kWavFmtSizeOffset) != kWavFmtChunkBytes ||
        wav_get_u16(h + kWavFormatTagOffset) != kWavFormatPcm ||
        wav_get_u16(h + kWavChannelsOffset) != kWavChannels ||
        wav_get_u32(h + kWavSampleRateOffset) != kSampleRateHz ||
        wav_get_u32(h + kWavByteRateOffset) != kWavByteRate ||
        wav_get_u16(h + kWavBitsOffset) != kWavBitsPerSample)
        return WavStatus::unsupported;
    if (wav_get_u32(h + kWavDataIdOffset) != wav_fourcc("data")) return WavStatus::corrupted;
    const uint32_t data_size = wav_get_u32(h + kWavDataSizeOffset);
    if (uint64_t{data_size} + kWavHeaderBytes > file_size) return WavStatus::corrupted;
    *data_bytes = data_size;
    return WavStatus::ok;
}

WavStatus parse_wav(const uint8_t* bytes, size_t size, PcmTrack* track) {
    if (size < kWavHeaderBytes) return WavStatus::unreadable;
    uint8_t header[kWavHeaderBytes];
    std::memcpy(header, bytes, kWavHeaderBytes);
    uint32_t data_bytes = 0;
    const WavStatus status = check_wav_header(header, size, &data_bytes);
    if (status != WavStatus::ok) return status;
    track->samples = reinterpret_cast<const int16_t*>(bytes + kWavHeaderBytes);
    track->frames = data_bytes / kWavFrameBytes;
    return WavStatus::ok;
}

const char* wav_status_message(WavStatus status) {
    switch (status) {
        case WavStatus::corrupted: return kCorrupted;
        case WavStatus::unsupported: return kUnsupported;
        case WavStatus::ok:
        case WavStatus::unreadable:
        case WavStatus::interrupted: break;
    }
    return nullptr;
}

WavFile load_wav(const char* path) {
    WavFile wav;
    // Without O_NONBLOCK a named pipe would hold the open until something writes to it.
    Fd file{open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) return refused(std::move(wav), WavStatus::unreadable, errno);
    struct stat st;
    if (fstat(file.fd, &st) != 0) return refused(std::move(wav), WavStatus::unreadable, errno);
    if (!S_ISREG(st.st_mode)) return refused(std::move(wav), WavStatus::unreadable);
    wav.regular_file = true;
    wav.file_size = uint64_t(st.st_size);
    const int flags = fcntl(file.fd, F_GETFL);
    if (flags >= 0) fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK);

    int error = 0;
    const WavStatus got_header =
        read_fully(file.fd, wav.header, size_t(std::min<uint64_t>(kWavHeaderBytes, wav.file_size)),
                   &wav.header_bytes, &error);
    if (got_header != WavStatus::ok) return refused(std::move(wav), got_header, error);
    if (wav.header_bytes < kWavHeaderBytes) return refused(std::move(wav), WavStatus::unreadable);
    uint32_t data_bytes = 0;
    const WavStatus checked = check_wav_header(wav.header, wav.file_size, &data_bytes);
    if (checked != WavStatus::ok) return refused(std::move(wav), checked);

    // Only the samples the data chunk holds; bytes after it are allowed and never needed.
    if (stop_signal() != 0) return refused(std::move(wav), WavStatus::interrupted);
    const size_t size = kWavHeaderBytes + size_t{data_bytes};
    void* at = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.fd, 0);
    if (at == MAP_FAILED) return refused(std::move(wav), WavStatus::unreadable, errno);
    note_mapping(at, size);
    wav.mapped.at = static_cast<const uint8_t*>(at);
    wav.mapped.size = wav.size = size;
    // The analysis reads forward, a sample here and there: read ahead generously.
    madvise(at, size, MADV_SEQUENTIAL);
    wav.track.samples = reinterpret_cast<const int16_t*>(wav.mapped.at + kWavHeaderBytes);
    wav.track.frames = data_bytes / kWavFrameBytes;
    wav.track.mapped = true;
    wav.status = WavStatus::ok;
    return wav;
}

WavFile wav_from_bytes(std::unique_ptr<uint8_t[]> bytes, size_t size) {
    WavFile wav;
    wav.regular_file = true;
    wav.file_size = size;
    wav.header_bytes = std::min(size, kWavHeaderBytes);
    if (bytes) std::memcpy(wav.header, bytes.get(), wav.header_bytes);
    wav.status = bytes ? parse_wav(bytes.get(), size, &wav.track) : WavStatus::unreadable;
    if (wav.status != WavStatus::ok) return refused(std::move(wav), wav.status);
    wav.bytes = std::move(bytes);
    wav.size = size;
    return wav;
}

bool wav_looks_like_audio(const WavFile& wav) {
    const Signature* s = signature_of(wav.header, wav.header_bytes);
    return s ? s->audio : mpeg_sync(wav.header, wav.header_bytes);
}

std::string describe_wav(const WavFile& wav) {
    const uint8_t* bytes = wav.header;
    const uint64_t size = wav.file_size;
    if (wav.status == WavStatus::ok) return "accepted";
    if (wav.status == WavStatus::interrupted) return "reading it was interrupted";
    if (wav.error != 0) return std::string("cannot read it: ") + std::strerror(wav.error);
    if (!wav.regular_file) return "it is not a regular file (a folder, a device or a named pipe)";
    if (wav.header_bytes < kWavHeaderBytes)
        return "only " + std::to_string(size) + " bytes, too short for a WAV file";
    if (wav_get_u32(bytes) != wav_fourcc("RIFF")) return not_wav(bytes, wav.header_bytes);
    if (wav_get_u32(bytes + kWavWaveIdOffset) != wav_fourcc("WAVE"))
        return "a RIFF file of type " + id_text(bytes + kWavWaveIdOffset) + ", not WAVE";
    const uint64_t riff_says =
        uint64_t{wav_get_u32(bytes + kWavRiffSizeOffset)} + kWavRiffHeaderBytes;
    if (riff_says != size)
        return "its RIFF header says " + std::to_string(riff_says) + " bytes but the file has " +
               std::to_string(size) + " (cut short, or something appended)";
    if (wav_get_u32(bytes + kWavFmtIdOffset) != wav_fourcc("fmt "))
        return "a " + id_text(bytes + kWavFmtIdOffset) + " chunk sits between WAVE and fmt";

    const uint8_t* fmt = bytes + kWavFmtIdOffset + kChunkHeaderBytes;
    const uint16_t tag = wav_get_u16(fmt + kFmtTag), channels = wav_get_u16(fmt + kFmtChannels),
                   bits = wav_get_u16(fmt + kFmtBits);
    const uint32_t rate = wav_get_u32(fmt + kFmtRate);
    if (tag != kWavFormatPcm || channels != kWavChannels || rate != kSampleRateHz ||
        bits != kWavBitsPerSample)
        return std::to_string(rate) + " Hz " + channels_text(channels) + " " +
               std::to_string(bits) + "-bit " + format_text(tag) + ", needs " + pcm_in_words();
    const uint32_t fmt_size = wav_get_u32(bytes + kWavFmtSizeOffset);
    if (fmt_size != kWavFmtChunkBytes)
        return "its fmt chunk is " + std::to_string(fmt_size) + " bytes long, needs the plain " +
               std::to_string(kWavFmtChunkBytes);
    if (wav_get_u32(fmt + kFmtByteRate) != kWavByteRate)
        return "its header gives " + std::to_string(wav_get_u32(fmt + kFmtByteRate)) +
               " bytes a second, needs " + std::to_string(kWavByteRate);
    const uint8_t* next = bytes + kWavDataIdOffset;
    if (wav_get_u32(next) == wav_fourcc("LIST"))
        return "a LIST chunk sits between fmt and data (metadata, as ffmpeg writes by default)";
    if (wav_get_u32(next) != wav_fourcc("data"))
        return "a " + id_text(next) + " chunk sits between fmt and data";
    const uint64_t data_says = wav_get_u32(bytes + kWavDataSizeOffset);
    if (data_says + kWavHeaderBytes > size)
        return "its data chunk says " + std::to_string(data_says) + " bytes but only " +
               std::to_string(size - kWavHeaderBytes) + " follow";
    return "refused by the loader";
}
