#include "codec/describe.h"

#include "codec/sound_data.h"
#include "codec/sound_headers.h"

namespace sorvik {
namespace {

ResultCode DescribeSound(ByteSource& source, const SoundData& sound, SoundFacts& facts) {
    facts = SoundFacts{};
    facts.channels = sound.channels;
    facts.sampleRate = sound.sampleRate;
    if (sound.unitCount == 0) return ResultCode::UnknownFormat;
    // Refused as the converters refuse a sound whose WAV file would pass 4 GiB: at once when
    // its length is exact, else once its end is found.
    if (!sound.endsAtEndBlock && TooLargeForWav(sound.unitCount, sound.PcmBytesPerUnit())) {
        return ResultCode::UnknownFormat;
    }
    SoundScan scan;
    const ResultCode scanned = ScanSound(source, sound, scan);
    if (scanned != ResultCode::Ok) return scanned;
    facts.samples = scan.unitCount * kSamplesPerBlock;
    facts.loop = scan.loop;
    facts.rightLoopDiffers = sound.channels == 2 && !(scan.rightLoop == scan.loop);
    return TooLargeForWav(scan.unitCount, sound.PcmBytesPerUnit()) ? ResultCode::UnknownFormat
                                                                   : ResultCode::Ok;
}

ResultCode DescribeImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                         std::uint16_t channels, SoundFacts& facts) {
    SoundData sound{};
    const ResultCode read = ReadSoundImage(source, offset, length, channels, sound);
    if (read != ResultCode::Ok) return read;
    return DescribeSound(source, sound, facts);
}

}  // namespace

ResultCode DescribeVagImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                            SoundFacts& facts) {
    return DescribeImage(source, offset, length, 1, facts);
}

ResultCode DescribeSterImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                             SoundFacts& facts) {
    return DescribeImage(source, offset, length, 2, facts);
}

ResultCode DescribeMonoBlocks(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                              std::uint32_t sampleRate, SoundFacts& facts) {
    return DescribeSound(source, SoundData{offset, blockCount, 1, false, sampleRate}, facts);
}

ResultCode DescribeLooseImage(ByteSource& source, SoundFacts& facts) {
    std::uint16_t channels = 0;
    const ResultCode found = FindLooseChannels(source, channels);
    if (found != ResultCode::Ok) return found;
    return DescribeImage(source, 0, source.Size(), channels, facts);
}

}  // namespace sorvik
