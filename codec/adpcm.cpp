#include "codec/adpcm.h"

namespace sorvik {

std::size_t CountMonoBlocks(const std::uint8_t* data, std::size_t length) {
    const std::size_t blockCount = length / kAdpcmBlockSize;
    for (std::size_t i = 0; i < blockCount; ++i) {
        if (data[i * kAdpcmBlockSize + 1] == kEndBlockFlag) return i + 1;
    }
    return blockCount;
}

}  // namespace sorvik
