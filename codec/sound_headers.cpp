#include "codec/sound_headers.h"

#include <cstring>

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

void FillWavHeader(WavHeader& header, std::uint32_t dataSize, std::uint32_t sampleRate,
                   std::uint16_t channels) {
    const std::uint16_t frameBytes = static_cast<std::uint16_t>(2 * channels);
    std::uint8_t* bytes = header.data();
    std::memcpy(bytes + 0, "RIFF", 4);
    StoreLe32(bytes + 4, dataSize + 36);
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

}  // namespace sorvik
