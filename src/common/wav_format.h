// The one soundtrack layout the demo accepts: the canonical 44-byte WAV header and 16-bit
// little-endian stereo PCM at 44,100 Hz, the "data" chunk straight after a 16-byte "fmt "
// chunk. The loader checks it, the soundtrack synthesizer writes it, and the tests and the
// fuzzer build files in it; this is the one place that describes it.
#pragma once
#include <climits>
#include <cstddef>
#include <cstdint>

constexpr uint32_t kSampleRateHz = 44100;  // sample frames per second
constexpr uint16_t kWavChannels = 2;       // left, right
constexpr uint16_t kWavBitsPerSample = 16;
constexpr uint32_t kWavFrameBytes = kWavChannels * kWavBitsPerSample / 8;  // 4
constexpr uint32_t kWavByteRate = kSampleRateHz * kWavFrameBytes;          // 176,400
constexpr uint16_t kWavFormatPcm = 1;  // format tag of integer PCM
constexpr uint32_t kWavFmtChunkBytes = 16;

// Byte offsets in the header.
constexpr size_t kWavRiffIdOffset = 0;
constexpr size_t kWavRiffSizeOffset = 4;
constexpr size_t kWavWaveIdOffset = 8;
constexpr size_t kWavFmtIdOffset = 12;
constexpr size_t kWavFmtSizeOffset = 16;
constexpr size_t kWavFormatTagOffset = 20;
constexpr size_t kWavChannelsOffset = 22;
constexpr size_t kWavSampleRateOffset = 24;
constexpr size_t kWavByteRateOffset = 28;
constexpr size_t kWavBlockAlignOffset = 32;
constexpr size_t kWavBitsOffset = 34;
constexpr size_t kWavDataIdOffset = 36;
constexpr size_t kWavDataSizeOffset = 40;
constexpr size_t kWavHeaderBytes = 44;     // the samples start here
constexpr size_t kWavRiffHeaderBytes = 8;  // "RIFF" and its size, not counted in that size

// The four ASCII characters of a chunk identifier as a little-endian word.
constexpr uint32_t wav_fourcc(const char (&id)[5]) {
    return uint32_t(uint8_t(id[0])) | uint32_t(uint8_t(id[1])) << 8 |
           uint32_t(uint8_t(id[2])) << 16 | uint32_t(uint8_t(id[3])) << 24;
}

// The RIFF size field is 32 bits wide, so no acceptable file is larger than this, and no
// data chunk larger than what the RIFF size can count after the rest of the header.
constexpr uint64_t kWavMaxFileBytes = uint64_t{UINT32_MAX} + kWavRiffHeaderBytes;
constexpr uint64_t kWavMaxDataBytes =
    uint64_t{UINT32_MAX} - (kWavHeaderBytes - kWavRiffHeaderBytes);
// The longest music the layout holds: 24,347 s, about 6 hours 45 minutes.
constexpr double kWavMaxSeconds = static_cast<double>(kWavMaxDataBytes / kWavByteRate);

// Sample scales. The analysis divides by the loudest positive sample, so that 32767 is an
// input of exactly 1.0; loudness in dBFS and Web Audio's -1..1 take the 16-bit span instead.
constexpr int32_t kFullScaleSample = 32767;
constexpr double kSampleSpan = 32768.0;

// Little-endian fields; the caller keeps the reads inside its bytes.
constexpr uint16_t wav_get_u16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }
constexpr uint32_t wav_get_u32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

constexpr void wav_put_u16(uint8_t* at, uint16_t v) {
    at[0] = uint8_t(v);
    at[1] = uint8_t(v >> 8);
}

constexpr void wav_put_u32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

// Writes the canonical header for `data_bytes` bytes of samples that follow it directly.
constexpr void wav_write_header(uint8_t (&header)[kWavHeaderBytes], uint32_t data_bytes) {
    wav_put_u32(header + kWavRiffIdOffset, wav_fourcc("RIFF"));
    wav_put_u32(header + kWavRiffSizeOffset,
                uint32_t(kWavHeaderBytes - kWavRiffHeaderBytes) + data_bytes);
    wav_put_u32(header + kWavWaveIdOffset, wav_fourcc("WAVE"));
    wav_put_u32(header + kWavFmtIdOffset, wav_fourcc("fmt "));
    wav_put_u32(header + kWavFmtSizeOffset, kWavFmtChunkBytes);
    wav_put_u16(header + kWavFormatTagOffset, kWavFormatPcm);
    wav_put_u16(header + kWavChannelsOffset, kWavChannels);
    wav_put_u32(header + kWavSampleRateOffset, kSampleRateHz);
    wav_put_u32(header + kWavByteRateOffset, kWavByteRate);
    wav_put_u16(header + kWavBlockAlignOffset, uint16_t(kWavFrameBytes));
    wav_put_u16(header + kWavBitsOffset, kWavBitsPerSample);
    wav_put_u32(header + kWavDataIdOffset, wav_fourcc("data"));
    wav_put_u32(header + kWavDataSizeOffset, data_bytes);
}
