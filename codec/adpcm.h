#pragma once

#include <cstddef>
#include <cstdint>

#include "common/file_handle.h"

// PlayStation 4-bit ADPCM. A block of 16 bytes holds 28 samples of one channel:
//   byte 0     high nibble: predictor (row of the coefficient table); low nibble: shift
//   byte 1     flag; 7 marks an end block, every other value an ordinary block
//   bytes 2-15 28 four-bit samples, low nibble first
namespace sorvik {

class PcmBuffer;

constexpr std::size_t kAdpcmBlockSize = 16;
constexpr std::size_t kSamplesPerBlock = 28;
constexpr std::uint8_t kEndBlockFlag = 7;
// PCM bytes that one block decodes to (28 samples of 16 bits).
constexpr std::size_t kPcmBytesPerBlock = kSamplesPerBlock * 2;

// View of one 16-byte block.
struct AdpcmBlock {
    const std::uint8_t* bytes;

    bool IsEndBlock() const { return bytes[1] == kEndBlockFlag; }
};

// The two newest unrounded values of one channel's prediction.
struct ChannelHistory {
    double s1 = 0.0;  // newest
    double s2 = 0.0;  // the one before
};

// Number of mono blocks a stream of `length` bytes yields: whole blocks up to and including the
// first end block.
std::size_t CountMonoBlocks(const std::uint8_t* data, std::size_t length);

// Decode exactly `blockCount` mono blocks (an end block among them decodes to silence) or
// `pairCount` stereo block pairs into `file`, one `buffer`-full at a time (it must hold at least
// one block or pair); false when a write failed.
bool WriteMonoBlocks(FileHandle& file, PcmBuffer& buffer, const std::uint8_t* data,
                     std::size_t blockCount);
bool WriteStereoPairs(FileHandle& file, PcmBuffer& buffer, const std::uint8_t* data,
                      std::size_t pairCount);

// Decodes mono blocks from `data` into 16-bit PCM written to `file` at its position, up to
// floor(length / 16) blocks and stopping after an end block (which decodes to silence). Returns
// the bytes of `data` consumed (16 per block handled), or 0 when a write failed, the output
// buffer could not be allocated or there was no whole block.
std::size_t DecodeMonoStream(FileHandle& file, const std::uint8_t* data, std::size_t length);

// Decodes interleaved stereo (left block, right block, ...) into 16-bit frames written to `file`:
// floor(length / 32) block pairs; an end block silences its pair but does not end the stream.
// Returns 32 per pair handled, or 0 when a write failed, the output buffer could not be
// allocated or there was no whole pair.
std::size_t DecodeStereoStream(FileHandle& file, const std::uint8_t* data, std::size_t length);

}  // namespace sorvik
