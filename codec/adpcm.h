#pragma once

#include <cstddef>
#include <cstdint>

// PlayStation 4-bit ADPCM. A block of 16 bytes holds 28 samples of one channel:
//   byte 0     high nibble: predictor (row of the coefficient table); low nibble: shift
//   byte 1     flag; 7 marks an end block, every other value an ordinary block
//   bytes 2-15 28 four-bit samples, low nibble first
// A mono stream ends at its first end block; in a stereo stream left and right blocks alternate,
// left first, and an end block silences its pair without ending the stream.
namespace sorvik {

constexpr std::size_t kAdpcmBlockSize = 16;
constexpr std::size_t kSamplesPerBlock = 28;
constexpr std::uint8_t kEndBlockFlag = 7;
// PCM bytes that one block decodes to (28 samples of 16 bits).
constexpr std::size_t kPcmBytesPerBlock = kSamplesPerBlock * 2;
// ADPCM bytes of one stereo block pair, and the PCM bytes it decodes to.
constexpr std::size_t kAdpcmPairSize = 2 * kAdpcmBlockSize;
constexpr std::size_t kPcmBytesPerPair = 2 * kPcmBytesPerBlock;

// The two newest unrounded values of one channel's prediction: what decoding a block needs to
// know of the blocks before it.
struct ChannelHistory {
    double s1 = 0.0;  // newest
    double s2 = 0.0;  // the one before
};

// Number of mono blocks a stream of `length` bytes yields: whole blocks up to and including the
// first end block.
std::size_t CountMonoBlocks(const std::uint8_t* data, std::size_t length);

}  // namespace sorvik
