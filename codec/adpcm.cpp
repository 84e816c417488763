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

// Both writers decode as many blocks as fill the buffer at a time, straight into it.
bool WriteMonoBlocks(FileHandle& file, PcmBuffer& buffer, const std::uint8_t* data,
                     std::size_t blockCount) {
    const std::size_t blocksPerFill = buffer.Capacity() / kPcmBytesPerBlock;
    if (blocksPerFill == 0) return blockCount == 0;
    PcmWriter writer(file, buffer);
    ChannelHistory history;
    for (std::size_t done = 0; done < blockCount;) {
        const std::size_t count = std::min(blockCount - done, blocksPerFill);
        std::uint8_t* pcm = writer.Reserve(count * kPcmBytesPerBlock);
        if (pcm == nullptr) return false;
        DecodeMonoBlocksToPcm(data + done * kAdpcmBlockSize, count, history, pcm);
        writer.Commit(count * kPcmBytesPerBlock);
        done += count;
    }
    return writer.Flush();
}

bool WriteStereoPairs(FileHandle& file, PcmBuffer& buffer, const std::uint8_t* data,
                      std::size_t pairCount) {
    const std::size_t pairsPerFill = buffer.Capacity() / (2 * kPcmBytesPerBlock);
    if (pairsPerFill == 0) return pairCount == 0;
    PcmWriter writer(file, buffer);
    ChannelHistory left;
    ChannelHistory right;
    for (std::size_t done = 0; done < pairCount;) {
        const std::size_t count = std::min(pairCount - done, pairsPerFill);
        std::uint8_t* pcm = writer.Reserve(count * 2 * kPcmBytesPerBlock);
        if (pcm == nullptr) return false;
        DecodeStereoPairsToPcm(data + done * 2 * kAdpcmBlockSize, count, left, right, pcm);
        writer.Commit(count * 2 * kPcmBytesPerBlock);
        done += count;
    }
    return writer.Flush();
}

// These two write at the file's position, which they do not know: the buffer is placed as for
// the start of the file, which only costs speed where that is wrong.
std::size_t DecodeMonoStream(FileHandle& file, const std::uint8_t* data, std::size_t length) {
    const std::size_t blockCount = CountMonoBlocks(data, length);
    PcmBuffer buffer;
    if (blockCount == 0 || !buffer.Allocate(blockCount * kPcmBytesPerBlock, 0) ||
        !WriteMonoBlocks(file, buffer, data, blockCount)) {
        return 0;
    }
    return blockCount * kAdpcmBlockSize;
}

std::size_t DecodeStereoStream(FileHandle& file, const std::uint8_t* data, std::size_t length) {
    const std::size_t pairCount = length / (2 * kAdpcmBlockSize);
    PcmBuffer buffer;
    if (pairCount == 0 || !buffer.Allocate(pairCount * 2 * kPcmBytesPerBlock, 0) ||
        !WriteStereoPairs(file, buffer, data, pairCount)) {
        return 0;
    }
    return pairCount * 2 * kAdpcmBlockSize;
}

}  // namespace sorvik
