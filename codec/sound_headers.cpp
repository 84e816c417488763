#include "codec/sound_headers.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "common/byte_order.h"

namespace sorvik {
namespace {

std::optional<SoundImageHeader> ReadImageHeader(const SoundHeaderBytes& header,
                                                const char (&magic)[5], std::uint32_t channels) {
    if (!HasMagic(header.data(), magic)) return std::nullopt;
    const std::uint32_t channelSize = LoadBe32(header.data() + kHeaderBeSizeOffset);
    if (channelSize == 0) return std::nullopt;
    return SoundImageHeader{std::uint64_t{channelSize} * channels,
                            LoadBe32(header.data() + kHeaderSampleRateOffset)};
}

}  // namespace

std::optional<SoundImageHeader> ReadVagHeader(const SoundHeaderBytes& header) {
    return ReadImageHeader(header, kVagMagic, 1);
}

std::optional<SoundImageHeader> ReadSterHeader(const SoundHeaderBytes& header) {
    return ReadImageHeader(header, kSterMagic, 2);
}

SoundHeaderBytes MakeSoundImageHeader(std::uint16_t channels, std::uint32_t channelBytes,
                                      std::uint32_t sampleRate, const std::string& name) {
    SoundHeaderBytes header = MakeArchivedImageHeader(channels, channelBytes, sampleRate, name);
    StoreBe32(header.data() + kHeaderVersionOffset, kHeaderVersion);
    return header;
}

SoundHeaderBytes MakeArchivedImageHeader(std::uint16_t channels, std::uint32_t channelBytes,
                                         std::uint32_t sampleRate, const std::string& name) {
    SoundHeaderBytes header{};
    std::memcpy(header.data(), channels == 1 ? kVagMagic : kSterMagic, 4);
    StoreLe32(header.data() + kHeaderLeSizeOffset, channelBytes);
    StoreBe32(header.data() + kHeaderBeSizeOffset, channelBytes);
    StoreBe32(header.data() + kHeaderSampleRateOffset, sampleRate);
    // The name is zero-terminated within its field; the header starts zeroed.
    std::memcpy(header.data() + kHeaderNameOffset, name.data(),
                std::min(name.size(), kHeaderNameSize - 1));
    return header;
}

void FillWavHeader(WavHeader& header, std::uint32_t dataSize, std::uint32_t sampleRate,
                   std::uint16_t channels, std::uint32_t trailingBytes) {
    const std::uint16_t frameBytes = static_cast<std::uint16_t>(2 * channels);
    std::uint8_t* bytes = header.data();
    std::memcpy(bytes + 0, "RIFF", 4);
    StoreLe32(bytes + 4, dataSize + 36 + trailingBytes);
    std::memcpy(bytes + 8, "WAVE", 4);
    std::memcpy(bytes + 12, "fmt ", 4);
    StoreLe32(bytes + 16, 16);  // format chunk size
    StoreLe16(bytes + 20, 1);   // PCM
    StoreLe16(bytes + 22, channels);
    StoreLe32(bytes + 24, sampleRate);
    StoreLe32(bytes + 28, sampleRate * frameBytes);  // bytes per second
    StoreLe16(bytes + 32, frameBytes);
    StoreLe16(bytes + 34, 16);  // bits per sample
    std::memcpy(bytes + 36, "data", 4);
    StoreLe32(bytes + 40, dataSize);
}

SmplChunk MakeSmplChunk(std::uint32_t firstSample, std::uint32_t lastSample,
                        std::uint32_t sampleRate) {
    constexpr std::uint32_t kNanosecondsPerSecond = 1000000000;
    constexpr std::uint32_t kMidiUnityNote = 60;
    const std::uint32_t period =
        sampleRate == 0 ? 0
                        : static_cast<std::uint32_t>(
                              (std::uint64_t{kNanosecondsPerSecond} + sampleRate / 2) / sampleRate);
    const std::uint32_t fields[] = {
        kSmplChunkSize - 8, 0, 0, period, kMidiUnityNote, 0, 0, 0, 1, 0,  // the chunk
        0, 0, firstSample, lastSample, 0, 0,                              // its loop
    };
    SmplChunk chunk{};
    std::memcpy(chunk.data(), "smpl", 4);
    for (std::size_t i = 0; i < std::size(fields); ++i)
        StoreLe32(chunk.data() + 4 + 4 * i, fields[i]);
    return chunk;
}

}  // namespace sorvik
