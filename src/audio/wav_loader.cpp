#include "audio/wav_loader.h"

#include <bit>
#include <cstdio>
#include <cstdlib>

static_assert(std::endian::native == std::endian::little,
              "samples are handed out in place and must be little-endian like the file");

namespace {

// The one accepted layout: a 44-byte header, "fmt " straight after "WAVE", "data" straight
// after the 16-byte format chunk.
constexpr size_t kHeaderBytes = 44;
constexpr size_t kRiffSizeOffset = 4;
constexpr size_t kRiffHeaderBytes = 8;  // "RIFF" and its size are not counted in that size
constexpr size_t kWaveOffset = 8;
constexpr size_t kFmtOffset = 12;
constexpr size_t kFmtSizeOffset = 16;
constexpr size_t kFormatTagOffset = 20;
constexpr size_t kChannelsOffset = 22;
constexpr size_t kSampleRateOffset = 24;
constexpr size_t kByteRateOffset = 28;
constexpr size_t kBitsOffset = 34;
constexpr size_t kDataOffset = 36;
constexpr size_t kDataSizeOffset = 40;

constexpr uint32_t kFmtChunkBytes = 16;
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kChannels = 2;
constexpr uint32_t kSampleRate = 44100;  // Hz
constexpr uint32_t kByteRate = 176400;   // bytes per second: 44,100 frames of 4 bytes
constexpr uint16_t kBitsPerSample = 16;
constexpr uint32_t kBytesPerFrame = 4;   // left + right, 16 bits each

// The RIFF size field is 32 bits wide, so no acceptable file is larger than this.
constexpr uint64_t kMaxFileBytes = uint64_t{UINT32_MAX} + kRiffHeaderBytes;

constexpr const char* kCorrupted = "wav is corrupted";
constexpr const char* kUnsupported = "wav is unsupported";

// The four ASCII characters of a chunk identifier as a little-endian word.
constexpr uint32_t fourcc(const char (&id)[5]) {
    return uint32_t(uint8_t(id[0])) | uint32_t(uint8_t(id[1])) << 8 |
           uint32_t(uint8_t(id[2])) << 16 | uint32_t(uint8_t(id[3])) << 24;
}

// Little-endian reads; the caller has checked that the header is in bounds.
uint16_t u16_at(const uint8_t* b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t u32_at(const uint8_t* b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

// Every accepted file stays in memory for the life of the process, since tracks point into it.
// Each buffer starts with a link to the one accepted before it, so all of them stay reachable;
// the file's bytes follow the link.
struct HeldFile {
    HeldFile* previous;
};
HeldFile* held_files = nullptr;

uint8_t* file_bytes(HeldFile* held) { return reinterpret_cast<uint8_t*>(held + 1); }

}  // namespace

WavStatus parse_wav(const uint8_t* bytes, size_t size, PcmTrack* track) {
    if (size < kHeaderBytes) return WavStatus::unreadable;
    if (u32_at(bytes, 0) != fourcc("RIFF") ||
        uint64_t{u32_at(bytes, kRiffSizeOffset)} + kRiffHeaderBytes != size ||
        u32_at(bytes, kWaveOffset) != fourcc("WAVE") || u32_at(bytes, kFmtOffset) != fourcc("fmt "))
        return WavStatus::corrupted;
    if (u32_at(bytes, kFmtSizeOffset) != kFmtChunkBytes ||
        u16_at(bytes, kFormatTagOffset) != kFormatPcm ||
        u16_at(bytes, kChannelsOffset) != kChannels ||
        u32_at(bytes, kSampleRateOffset) != kSampleRate ||
        u32_at(bytes, kByteRateOffset) != kByteRate || u16_at(bytes, kBitsOffset) != kBitsPerSample)
        return WavStatus::unsupported;
    if (u32_at(bytes, kDataOffset) != fourcc("data")) return WavStatus::corrupted;
    const uint32_t data_size = u32_at(bytes, kDataSizeOffset);
    if (uint64_t{data_size} + kHeaderBytes > size) return WavStatus::corrupted;

    track->samples = reinterpret_cast<const int16_t*>(bytes + kHeaderBytes);
    track->frames = data_size / kBytesPerFrame;
    return WavStatus::ok;
}

const char* wav_status_message(WavStatus status) {
    switch (status) {
        case WavStatus::corrupted: return kCorrupted;
        case WavStatus::unsupported: return kUnsupported;
        case WavStatus::ok:
        case WavStatus::unreadable: break;
    }
    return nullptr;
}

bool load_wav(const char* path, uint32_t* frames, const int16_t** samples) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::rewind(file);
    if (size < 0) {  // not a file whose size can be known, such as a pipe
        std::fclose(file);
        return false;
    }
    if (uint64_t(size) > kMaxFileBytes) {
        // Its RIFF size cannot match, so the header check would call it corrupted: say so from
        // the header alone rather than read it all. Something that cannot be read at all (a
        // folder reports a huge size) fails silently, like any short read.
        uint8_t header[kHeaderBytes];
        const bool readable = std::fread(header, 1, kHeaderBytes, file) == kHeaderBytes;
        std::fclose(file);
        if (readable) std::puts(kCorrupted);
        return false;
    }

    const size_t file_size = size_t(size);
    HeldFile* held = static_cast<HeldFile*>(std::malloc(sizeof(HeldFile) + file_size));
    if (!held) {
        std::fclose(file);
        return false;
    }
    const size_t got = std::fread(file_bytes(held), 1, file_size, file);
    std::fclose(file);

    PcmTrack track;
    const WavStatus status =
        got == file_size ? parse_wav(file_bytes(held), file_size, &track) : WavStatus::unreadable;
    if (status != WavStatus::ok) {
        std::free(held);  // nothing points into a rejected file
        if (const char* message = wav_status_message(status)) std::puts(message);
        return false;
    }
    held->previous = held_files;
    held_files = held;
    *frames = track.frames;
    *samples = track.samples;
    return true;
}
