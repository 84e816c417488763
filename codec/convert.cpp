#include "codec/convert.h"

#include <algorithm>
#include <optional>

#include "codec/adpcm.h"
#include "codec/pcm_writer.h"
#include "codec/sound_headers.h"
#include "common/file_handle.h"

namespace sorvik {
namespace {

// Decodes `unitCount` mono blocks or stereo block pairs into an open file through a buffer.
using UnitWriter = bool (*)(FileHandle&, PcmBuffer&, const std::uint8_t*, std::size_t);

// Writes a WAV file whose header counts exactly the samples that `unitCount` units decode to.
// The sizes are checked and the output buffer allocated before the file is created, so a
// refused sound leaves no file behind.
ResultCode WriteWav(const char* outputName, const std::uint8_t* data, std::size_t unitCount,
                    std::uint32_t sampleRate, std::uint16_t channels, UnitWriter writeUnits) {
    const std::uint64_t pcmBytes = std::uint64_t{unitCount} * channels * kPcmBytesPerBlock;
    if (unitCount == 0 || pcmBytes > kMaxWavDataSize) return ResultCode::UnknownFormat;
    WavHeader header;
    if (channels == 1) {
        FillMonoWavHeader(header, static_cast<std::uint32_t>(pcmBytes), sampleRate);
    } else {
        FillStereoWavHeader(header, static_cast<std::uint32_t>(pcmBytes), sampleRate);
    }
    PcmBuffer buffer;
    if (!buffer.Allocate(pcmBytes, header.size())) return ResultCode::OutOfMemory;
    return WriteNewFile(outputName, [&](FileHandle& file) {
        return file.Write(header.data(), header.size()) &&
               writeUnits(file, buffer, data, unitCount);
    });
}

// The ADPCM bytes that are both declared by the header and held in the image.
std::size_t DecodableBytes(const SoundImageHeader& header, std::size_t imageLength) {
    const std::size_t held = imageLength - kSoundHeaderSize;
    return static_cast<std::size_t>(std::min<std::uint64_t>(header.dataSize, held));
}

}  // namespace

ResultCode WriteMonoWav(const char* outputName, const std::uint8_t* data, std::size_t blockCount,
                        std::uint32_t sampleRate) {
    return WriteWav(outputName, data, blockCount, sampleRate, 1, WriteMonoBlocks);
}

ResultCode ConvertVagImage(const char* outputName, const std::uint8_t* image,
                           std::size_t imageLength) {
    const std::optional<SoundImageHeader> header = ReadVagHeader(image, imageLength);
    if (!header) return ResultCode::UnknownFormat;
    const std::uint8_t* data = image + kSoundHeaderSize;
    const std::size_t blockCount = CountMonoBlocks(data, DecodableBytes(*header, imageLength));
    return WriteMonoWav(outputName, data, blockCount, header->sampleRate);
}

ResultCode ConvertSterImage(const char* outputName, const std::uint8_t* image,
                            std::size_t imageLength) {
    const std::optional<SoundImageHeader> header = ReadSterHeader(image, imageLength);
    if (!header) return ResultCode::UnknownFormat;
    const std::size_t pairCount = DecodableBytes(*header, imageLength) / (2 * kAdpcmBlockSize);
    return WriteWav(outputName, image + kSoundHeaderSize, pairCount, header->sampleRate, 2,
                    WriteStereoPairs);
}

}  // namespace sorvik
