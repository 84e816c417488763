#include "codec/adpcm.h"

#include <algorithm>

#include "codec/adpcm_fast.h"
#include "codec/pcm_writer.h"

namespace sorvik {

std::size_t CountMonoBlocks(const std::uint8_t* data, std::size_t length) {
    const std::size_t blockCount = length / kAdpcmBlockSize;
    for (std::size_t i = 0; i < blockCount; ++i) {
        if (AdpcmBlock{data + i * kAdpcmBlockSize}.IsEndBlock()) return i + 1;
    }
    return blockCount;
}

// Both writers decode as many blocks as fill the writer's buffer at a time, straight into it.
bool WriteMonoBlocks(FileHandle& file, const std::uint8_t* data, std::size_t blockCount) {
    constexpr std::size_t kBlocksPerFill = PcmWriter::kCapacity / kPcmBytesPerBlock;
    PcmWriter writer(file);
    ChannelHistory history;
    for (std::size_t done = 0; done < blockCount;) {
        const std::size_t count = std::min(blockCount - done, kBlocksPerFill);
        std::uint8_t* pcm = writer.Reserve(count * kPcmBytesPerBlock);
        if (pcm == nullptr) return false;
        DecodeMonoBlocksToPcm(data + done * kAdpcmBlockSize, count, history, pcm);
        writer.Commit(count * kPcmBytesPerBlock);
        done += count;
    }
    return writer.Flush();
}

bool WriteStereoPairs(FileHandle& file, const std::uint8_t* data, std::size_t pairCount) {
    constexpr std::size_t kPairsPerFill = PcmWriter::kCapacity / (2 * kPcmBytesPerBlock);
    PcmWriter writer(file);
    ChannelHistory left;
    ChannelHistory right;
    for (std::size_t done = 0; done < pairCount;) {
        const std::size_t count = std::min(pairCount - done, kPairsPerFill);
        std::uint8_t* pcm = writer.Reserve(count * 2 * kPcmBytesPerBlock);
        if (pcm == nullptr) return false;
        DecodeStereoPairsToPcm(data + done * 2 * kAdpcmBlockSize, count, left, right, pcm);
        writer.Commit(count * 2 * kPcmBytesPerBlock);
        done += count;
    }
    return writer.Flush();
}

std::size_t DecodeMonoStream(FileHandle& file, const std::uint8_t* data, std::size_t length) {
    const std::size_t blockCount = CountMonoBlocks(data, length);
    if (blockCount == 0 || !WriteMonoBlocks(file, data, blockCount)) return 0;
    return blockCount * kAdpcmBlockSize;
}

std::size_t DecodeStereoStream(FileHandle& file, const std::uint8_t* data, std::size_t length) {
    const std::size_t pairCount = length / (2 * kAdpcmBlockSize);
    if (pairCount == 0 || !WriteStereoPairs(file, data, pairCount)) return 0;
    return pairCount * 2 * kAdpcmBlockSize;
}

}  // namespace sorvik
