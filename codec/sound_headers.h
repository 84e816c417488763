#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The 48-byte header of a sound image and the 44-byte header of a PCM WAV file.
//
// Sound image header (mono "VAGp" and interleaved stereo "STER" differ only in the magic):
//   0  4 bytes  magic
//   4  u32      the SDK tools' images: the version, BE (0x20); images stored in the archive:
//               the data size again, LE. Readers never need it: both forms read alike.
//   12 u32 BE   data size N in bytes; for stereo, the size of one channel
//   16 u32 BE   sample rate in Hz
//   32 16 bytes name, ended by its first zero byte or the end of the field
// The ADPCM data follows the header: N bytes mono, 2N bytes stereo (left and right blocks
// alternate, left first).
namespace sorvik {

constexpr std::size_t kSoundHeaderSize = 48;
constexpr std::size_t kHeaderLeSizeOffset = 4;
constexpr std::size_t kHeaderVersionOffset = 4;
constexpr std::uint32_t kHeaderVersion = 0x20;
constexpr std::size_t kHeaderBeSizeOffset = 12;
constexpr std::size_t kHeaderSampleRateOffset = 16;
constexpr std::size_t kHeaderNameOffset = 32;
constexpr std::size_t kHeaderNameSize = 16;

constexpr char kVagMagic[] = "VAGp";
constexpr char kSterMagic[] = "STER";

constexpr std::size_t kWavHeaderSize = 44;
using WavHeader = std::array<std::uint8_t, kWavHeaderSize>;
// The largest PCM data a WAV file can describe: its RIFF size (data + 36) is 32-bit.
constexpr std::uint64_t kMaxWavDataSize = 0xFFFFFFFFull - 36;

using SoundHeaderBytes = std::array<std::uint8_t, kSoundHeaderSize>;

// What a sound image's header says about its data.
struct SoundImageHeader {
    std::uint64_t dataSize;    // ADPCM bytes of all channels together (N mono, 2N stereo)
    std::uint32_t sampleRate;  // Hz
};

// Reads the header of a mono image. nullopt when its magic is not "VAGp" or its size field is 0.
std::optional<SoundImageHeader> ReadVagHeader(const SoundHeaderBytes& header);
// The same for a stereo image ("STER"); the data size counts both channels.
std::optional<SoundImageHeader> ReadSterHeader(const SoundHeaderBytes& header);

// The header of a loose sound image, in the SDK tools' form that other programs recognise:
// "VAGp" for 1 channel, "STER" for 2; the version 0x20 BE at 4; `channelBytes` (the data of one
// channel) BE at 12; `sampleRate`; `name` cut to 15 bytes and ended by a zero. Every other byte
// is 0.
SoundHeaderBytes MakeSoundImageHeader(std::uint16_t channels, std::uint32_t channelBytes,
                                      std::uint32_t sampleRate, const std::string& name);
// The same in the archive's own form: `channelBytes` LE at 4 in place of the version.
SoundHeaderBytes MakeArchivedImageHeader(std::uint16_t channels, std::uint32_t channelBytes,
                                         std::uint32_t sampleRate, const std::string& name);

// Fills all 44 bytes of a WAV header for 16-bit PCM data of `dataSize` bytes in `channels`
// channels, followed by `trailingBytes` of further chunks that the RIFF size counts.
void FillWavHeader(WavHeader& header, std::uint32_t dataSize, std::uint32_t sampleRate,
                   std::uint16_t channels, std::uint32_t trailingBytes = 0);

// A "smpl" chunk (header included) with one forward loop that plays forever:
//   0  "smpl", u32 size 60
//   8  manufacturer 0, product 0, sample period (1e9 / rate ns, rounded; 0 for rate 0),
//      MIDI unity note 60, pitch fraction 0, SMPTE format 0, SMPTE offset 0, 1 loop, no
//      sampler data
//   44 the loop: cue point 0, type 0 (forward), first sample, last sample (inclusive),
//      fraction 0, play count 0 (forever)
// All fields are u32 LE.
constexpr std::size_t kSmplChunkSize = 68;
using SmplChunk = std::array<std::uint8_t, kSmplChunkSize>;
SmplChunk MakeSmplChunk(std::uint32_t firstSample, std::uint32_t lastSample,
                        std::uint32_t sampleRate);

}  // namespace sorvik
