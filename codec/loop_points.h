#pragma once

#include <cstdint>
#include <optional>

#include "codec/adpcm.h"

// Loop marks. Besides the end block's 7, a block's flag byte may mark a loop: bit 2 its start,
// bit 0 an end, and bit 1, set with bit 0, "repeat from the loop's start". Sound tools write 6 on
// the loop's first block and 3 on its last. The rules are in docs/formats.md.
namespace sorvik {

constexpr std::uint8_t kLoopEndBit = 1;
constexpr std::uint8_t kLoopRepeatBit = 2;
constexpr std::uint8_t kLoopStartBit = 4;
// The flags sound tools write on a loop's first and last blocks.
constexpr std::uint8_t kLoopStartFlag = kLoopStartBit | kLoopRepeatBit;  // 6
constexpr std::uint8_t kLoopEndFlag = kLoopEndBit | kLoopRepeatBit;      // 3

// A loop, in blocks of one channel: from the start of `firstBlock` to the end of `lastBlock`.
struct LoopPoints {
    std::uint64_t firstBlock;
    std::uint64_t lastBlock;

    std::uint64_t StartSample() const { return firstBlock * kSamplesPerBlock; }
    // The sample after the loop's last one.
    std::uint64_t EndSample() const { return (lastBlock + 1) * kSamplesPerBlock; }
    std::uint64_t BlockCount() const { return lastBlock - firstBlock + 1; }
    bool operator==(const LoopPoints& other) const {
        return firstBlock == other.firstBlock && lastBlock == other.lastBlock;
    }
};

// Follows the flags of one channel's blocks in order and finds the loop they mark, as the sound
// chip plays it: the first block marked "end" settles the matter. When it also says "repeat",
// the loop runs through it from the last block marked "start" at or before it, or from the first
// block when none is; otherwise the sound plays once. An end block (flag 7) marks nothing.
class LoopFinder {
  public:
    void Add(std::uint8_t flag) {
        if (!settled_ && flag != kEndBlockFlag) {
            if (flag & kLoopStartBit) start_ = blocks_;
            if (flag & kLoopEndBit) {
                settled_ = true;
                if (flag & kLoopRepeatBit) loop_ = LoopPoints{start_, blocks_};
            }
        }
        ++blocks_;
    }
    const std::optional<LoopPoints>& Loop() const { return loop_; }

  private:
    std::uint64_t blocks_ = 0;
    std::uint64_t start_ = 0;
    bool settled_ = false;
    std::optional<LoopPoints> loop_;
};

}  // namespace sorvik
