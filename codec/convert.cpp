#include "codec/convert.h"

#include <algorithm>
#include <optional>

#include "codec/adpcm.h"
#include "codec/sound_headers.h"
#include "common/file_handle.h"

namespace sorvik {
namespace {

// What a conversion will write, worked out from the sizes alone before the output is created.
struct ConversionPlan {
    const std::uint8_t* data;
    std::size_t unitCount;  // mono blocks or stereo block pairs to decode
    WavHeader wavHeader;
};

// The ADPCM bytes that are both declared by the header and held in the image.
std::size_t DecodableBytes(const SoundImageHeader& header, std::size_t imageLength) {
    const std::size_t held = imageLength - kSoundHeaderSize;
    return static_cast<std::size_t>(std::min<std::uint64_t>(header.dataSize, held));
}

std::optional<ConversionPlan> PlanMono(const std::uint8_t* image, std::size_t imageLength) {
    const std::optional<SoundImageHeader> header = ReadVagHeader(image, imageLength);
    if (!header) return std::nullopt;
    ConversionPlan plan{image + kSoundHeaderSize, 0, {}};
    plan.unitCount = CountMonoBlocks(plan.data, DecodableBytes(*header, imageLength));
    const std::uint64_t pcmBytes = std::uint64_t{plan.unitCount} * kPcmBytesPerBlock;
    if (plan.unitCount == 0 || pcmBytes > kMaxWavDataSize) return std::nullopt;
    FillMonoWavHeader(plan.wavHeader, static_cast<std::uint32_t>(pcmBytes), header->sampleRate);
    return plan;
}

std::optional<ConversionPlan> PlanStereo(const std::uint8_t* image, std::size_t imageLength) {
    const std::optional<SoundImageHeader> header = ReadSterHeader(image, imageLength);
    if (!header) return std::nullopt;
    ConversionPlan plan{image + kSoundHeaderSize, 0, {}};
    plan.unitCount = DecodableBytes(*header, imageLength) / (2 * kAdpcmBlockSize);
    const std::uint64_t pcmBytes = std::uint64_t{plan.unitCount} * 2 * kPcmBytesPerBlock;
    if (plan.unitCount == 0 || pcmBytes > kMaxWavDataSize) return std::nullopt;
    FillStereoWavHeader(plan.wavHeader, static_cast<std::uint32_t>(pcmBytes), header->sampleRate);
    return plan;
}

using UnitWriter = bool (*)(FileHandle&, const std::uint8_t*, std::size_t);

ResultCode WritePlannedWav(const char* outputName, const std::optional<ConversionPlan>& plan,
                           UnitWriter writeUnits) {
    if (!plan) return ResultCode::UnknownFormat;
    FileHandle file = FileHandle::CreateForWriting(outputName);
    if (!file.IsOpen()) return ResultCode::WriteFailed;
    const bool written = file.Write(plan->wavHeader.data(), plan->wavHeader.size()) &&
                         writeUnits(file, plan->data, plan->unitCount);
    // A failed close can mean the last bytes never reached the disk.
    const bool closed = file.Close();
    return written && closed ? ResultCode::Ok : ResultCode::WriteFailed;
}

}  // namespace

ResultCode ConvertVagImage(const char* outputName, const std::uint8_t* image,
                           std::size_t imageLength) {
    return WritePlannedWav(outputName, PlanMono(image, imageLength), WriteMonoBlocks);
}

ResultCode ConvertSterImage(const char* outputName, const std::uint8_t* image,
                            std::size_t imageLength) {
    return WritePlannedWav(outputName, PlanStereo(image, imageLength), WriteStereoPairs);
}

}  // namespace sorvik
