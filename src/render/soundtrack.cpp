#include "render/soundtrack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/build_info.h"
#include "common/wav_format.h"

namespace {

constexpr size_t kChunkHeaderBytes = 8;  // identifier and size
constexpr size_t kFirstChunkOffset = 12; // after "RIFF", its size and "WAVE"
// Offsets inside a "fmt " chunk's body.
constexpr size_t kFmtTag = 0;
constexpr size_t kFmtChannels = 2;
constexpr size_t kFmtRate = 4;
constexpr size_t kFmtByteRate = 8;
constexpr size_t kFmtBits = 14;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

// The README's way to make an acceptable file from any audio file.
constexpr const char* kConvertBefore = "convert it with: sox ";
constexpr const char* kConvertAfter = " -b 16 -e signed-integer -c 2 -r 44100 converted.wav";

// A chunk identifier as text: LIST, or its bytes in hex when they are not printable.
std::string id_text(const uint8_t* id) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (id[i] < ' ' || id[i] > '~') {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", wav_get_u32(id));
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

// What a file that is not a WAV at all looks like, from its first bytes.
std::string not_wav(const uint8_t* bytes, size_t size) {
    const auto starts = [&](const char* magic) {
        return size >= std::strlen(magic) && std::memcmp(bytes, magic, std::strlen(magic)) == 0;
    };
    if (starts("ID3") || (size >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0))
        return "an MP3 file, not a WAV file";
    if (starts("OggS")) return "an Ogg file, not a WAV file";
    if (starts("fLaC")) return "a FLAC file, not a WAV file";
    if (starts("RIFX")) return "a big-endian WAV file (RIFX); needs little-endian RIFF";
    return "not a WAV file (it starts with " + id_text(bytes) + ", not RIFF)";
}

}  // namespace

std::string describe_wav(const uint8_t* bytes, size_t size) {
    if (size < kWavHeaderBytes)
        return "only " + std::to_string(size) + " bytes, too short for a WAV file";
    if (wav_get_u32(bytes) != wav_fourcc("RIFF")) return not_wav(bytes, size);
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
               std::to_string(bits) + "-bit " + format_text(tag) +
               ", needs 44100 Hz stereo 16-bit PCM";
    const uint32_t fmt_size = wav_get_u32(bytes + kWavFmtSizeOffset);
    if (fmt_size != kWavFmtChunkBytes)
        return "its fmt chunk is " + std::to_string(fmt_size) + " bytes long, needs the plain " +
               std::to_string(kWavFmtChunkBytes);
    if (wav_get_u32(fmt + kFmtByteRate) != kWavByteRate)
        return "its header gives " + std::to_string(wav_get_u32(fmt + kFmtByteRate)) +
               " bytes a second, needs 176400";
    const uint8_t* next = bytes + kWavDataIdOffset;
    if (wav_get_u32(next) != wav_fourcc("data"))
        return "a " + id_text(next) + " chunk sits between fmt and data";
    const uint64_t data_says = wav_get_u32(bytes + kWavDataSizeOffset);
    if (data_says + kWavHeaderBytes > size)
        return "its data chunk says " + std::to_string(data_says) + " bytes but only " +
               std::to_string(size - kWavHeaderBytes) + " follow";
    return "refused by the loader";
}

std::string load_soundtrack(const std::string& given, Soundtrack* soundtrack) {
    std::string path = given;
    if (path.empty()) {
        struct stat st;
        path = kDefaultSoundtrack;
        if (stat(path.c_str(), &st) != 0) path = STARGLOBE_INSTALLED_SOUNDTRACK;
        if (stat(path.c_str(), &st) != 0) {
            char cwd[PATH_MAX];
            const std::string here = getcwd(cwd, sizeof cwd) ? cwd : "the working folder";
            return std::string("no soundtrack: found no ") + kDefaultSoundtrack + " in " + here +
                   " nor " + STARGLOBE_INSTALLED_SOUNDTRACK + "; give one with --wav FILE";
        }
    }
    soundtrack->path = path;
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) return path + ": cannot read it: " + std::strerror(errno);
    long size = -1;
    struct stat st;
    const bool folder = fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
    if (!folder && std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::rewind(file);
    std::string error;
    if (folder) {
        error = "it is a folder, not a file";
    } else if (size < 0) {
        error = "it is not a file whose size can be known (a pipe?)";
    } else if (uint64_t(size) > kWavMaxFileBytes) {
        error = "it is larger than a WAV file can be (" + std::to_string(size) + " bytes)";
    } else {
        soundtrack->bytes.resize(size_t(size));
        if (std::fread(soundtrack->bytes.data(), 1, soundtrack->bytes.size(), file) !=
            soundtrack->bytes.size())
            error = std::string("cannot read it: ") +
                    (std::ferror(file) ? std::strerror(errno) : "it shrank while being read");
    }
    std::fclose(file);
    if (!error.empty()) return path + ": " + error;
    if (parse_wav(soundtrack->bytes.data(), soundtrack->bytes.size(), &soundtrack->track) !=
        WavStatus::ok)
        return path + ": " + describe_wav(soundtrack->bytes.data(), soundtrack->bytes.size()) +
               "\n" + kConvertBefore + path + kConvertAfter;
    return "";
}
