#include "audio/wav_loader.h"

#include <bit>
#include <cstdio>
#include <cstdlib>

#include "common/wav_format.h"

static_assert(std::endian::native == std::endian::little,
              "samples are handed out in place and must be little-endian like the file");

namespace {

constexpr const char* kCorrupted = "wav is corrupted";
constexpr const char* kUnsupported = "wav is unsupported";

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
    if (size < kWavHeaderBytes) return WavStatus::unreadable;
    if (wav_get_u32(bytes + kWavRiffIdOffset) != wav_fourcc("RIFF") ||
        uint64_t{wav_get_u32(bytes + kWavRiffSizeOffset)} + kWavRiffHeaderBytes != size ||
        wav_get_u32(bytes + kWavWaveIdOffset) != wav_fourcc("WAVE") ||
        wav_get_u32(bytes + kWavFmtIdOffset) != wav_fourcc("fmt "))
        return WavStatus::corrupted;
    if (wav_get_u32(bytes + kWavFmtSizeOffset) != kWavFmtChunkBytes ||
        wav_get_u16(bytes + kWavFormatTagOffset) != kWavFormatPcm ||
        wav_get_u16(bytes + kWavChannelsOffset) != kWavChannels ||
        wav_get_u32(bytes + kWavSampleRateOffset) != kSampleRateHz ||
        wav_get_u32(bytes + kWavByteRateOffset) != kWavByteRate ||
        wav_get_u16(bytes + kWavBitsOffset) != kWavBitsPerSample)
        return WavStatus::unsupported;
    if (wav_get_u32(bytes + kWavDataIdOffset) != wav_fourcc("data")) return WavStatus::corrupted;
    const uint32_t data_size = wav_get_u32(bytes + kWavDataSizeOffset);
    if (uint64_t{data_size} + kWavHeaderBytes > size) return WavStatus::corrupted;

    track->samples = reinterpret_cast<const int16_t*>(bytes + kWavHeaderBytes);
    track->frames = data_size / kWavFrameBytes;
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
    if (uint64_t(size) > kWavMaxFileBytes) {
        // Its RIFF size cannot match, so the header check would call it corrupted: say so from
        // the header alone rather than read it all. Something that cannot be read at all (a
        // folder reports a huge size) fails silently, like any short read.
        uint8_t header[kWavHeaderBytes];
        const bool readable = std::fread(header, 1, kWavHeaderBytes, file) == kWavHeaderBytes;
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
