#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "codec/loop_points.h"
#include "common/byte_source.h"
#include "common/result_code.h"

// What a sound holds, found from its header and its blocks' flags without decoding it: for
// listing an input instead of converting it.
namespace sorvik {

struct SoundFacts {
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint64_t samples = 0;  // per channel, as the WAV file would hold them
    std::optional<LoopPoints> loop;
    bool rightLoopDiffers = false;  // stereo: the right channel marks another loop (or none)
};

// Where a listed sound lies: its offset in the archive (0 for a loose file) and its size there.
struct SoundPlace {
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
};

// Receives one entry per sound listed.
class SoundCatalog {
  public:
    virtual ~SoundCatalog() = default;

    // The sound that would be written as `name`: where it lies, and what it holds, or why that
    // is not known (`result` is not Ok; then `facts` holds what was found before the failure).
    virtual void Listed(const std::string& name, const SoundPlace& place, const SoundFacts& facts,
                        ResultCode result) = 0;
};

// The facts of the image that ConvertVagImage or ConvertSterImage would convert (the same
// arguments), with the same refusals.
ResultCode DescribeVagImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                            SoundFacts& facts);
ResultCode DescribeSterImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                             SoundFacts& facts);
// The facts of the headerless mono sound that WriteMonoWav would write.
ResultCode DescribeMonoBlocks(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                              std::uint32_t sampleRate, SoundFacts& facts);
// The facts of a loose sound file, all of `source`, chosen by its magic as ConvertLooseImage
// chooses.
ResultCode DescribeLooseImage(ByteSource& source, SoundFacts& facts);

}  // namespace sorvik
