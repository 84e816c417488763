#include "codec/adpcm.h"

#include <array>

#include "codec/pcm_writer.h"

namespace sorvik {
namespace {

// Prediction coefficients, one row per predictor: c0 weighs the newest value, c1 the one before.
// Every value is a multiple of 1/64 and exact in double precision.
constexpr double kCoefficients[5][2] = {
    {0.0, 0.0},                    // 0 / 64, 0 / 64
    {60.0 / 64.0, 0.0},            // 60 / 64
    {115.0 / 64.0, -52.0 / 64.0},  //
    {98.0 / 64.0, -55.0 / 64.0},   //
    {122.0 / 64.0, -60.0 / 64.0},  //
};

// A nibble placed in the top four bits of a signed 16-bit value and shifted right arithmetically
// by the block's shift: floor(nibble * 4096 / 2^shift). Shifts 13 to 15 are used as they stand, so
// they round toward minus infinity (at shift 13, 1 gives 0 and -1 gives -1).
struct ScaleTable {
    double values[16][16];  // [shift][nibble as stored, 0-15]
};

constexpr ScaleTable MakeScaleTable() {
    ScaleTable table{};
    for (int shift = 0; shift < 16; ++shift) {
        for (int nibble = 0; nibble < 16; ++nibble) {
            const int value = (nibble < 8 ? nibble : nibble - 16) * 4096;
            const int divisor = 1 << shift;
            // Floor division, spelled out so no negative number is ever shifted.
            int quotient = value / divisor;
            if (value % divisor != 0 && value < 0) --quotient;
            table.values[shift][nibble] = quotient;
        }
    }
    return table;
}

constexpr ScaleTable kScale = MakeScaleTable();

// Rounds half up, truncates toward zero and saturates to 16 bits: -2.0 gives -1, 2.5 gives 3,
// 83328.0 gives 32767.
inline std::int16_t NarrowToSample(double value) {
    const double biased = value + 0.5;
    if (biased >= 32767.0) return 32767;
    if (biased <= -32768.0) return -32768;
    return static_cast<std::int16_t>(static_cast<int>(biased));
}

}  // namespace

void DecodeAdpcmBlock(AdpcmBlock block, ChannelHistory& history, std::int16_t* out,
                      std::size_t stride) {
    // Predictors 5 to 15 have no row of their own and decode without prediction.
    const unsigned row = block.Predictor() < 5 ? block.Predictor() : 0;
    const double c0 = kCoefficients[row][0];
    const double c1 = kCoefficients[row][1];
    const double* scaled = kScale.values[block.Shift()];
    double s1 = history.s1;
    double s2 = history.s2;
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const std::uint8_t packed = block.bytes[2 + i / 2];
        const unsigned nibble = (i % 2 == 0) ? (packed & 0x0F) : (packed >> 4);
        const double value = (scaled[nibble] + c1 * s2) + c0 * s1;
        s2 = s1;
        s1 = value;
        out[i * stride] = NarrowToSample(value);
    }
    history.s1 = s1;
    history.s2 = s2;
}

std::size_t CountMonoBlocks(const std::uint8_t* data, std::size_t length) {
    const std::size_t blockCount = length / kAdpcmBlockSize;
    for (std::size_t i = 0; i < blockCount; ++i) {
        if (AdpcmBlock{data + i * kAdpcmBlockSize}.IsEndBlock()) return i + 1;
    }
    return blockCount;
}

bool WriteMonoBlocks(FileHandle& file, const std::uint8_t* data, std::size_t blockCount) {
    PcmWriter writer(file);
    ChannelHistory history;
    std::array<std::int16_t, kSamplesPerBlock> samples{};
    for (std::size_t i = 0; i < blockCount; ++i) {
        const AdpcmBlock block{data + i * kAdpcmBlockSize};
        if (block.IsEndBlock()) {
            samples.fill(0);  // silence; the history stays as it was
        } else {
            DecodeAdpcmBlock(block, history, samples.data(), 1);
        }
        if (!writer.Append(samples.data(), samples.size())) return false;
    }
    return writer.Flush();
}

bool WriteStereoPairs(FileHandle& file, const std::uint8_t* data, std::size_t pairCount) {
    PcmWriter writer(file);
    ChannelHistory left;
    ChannelHistory right;
    std::array<std::int16_t, 2 * kSamplesPerBlock> frames{};  // left, right, left, right, ...
    for (std::size_t i = 0; i < pairCount; ++i) {
        const AdpcmBlock leftBlock{data + i * 2 * kAdpcmBlockSize};
        const AdpcmBlock rightBlock{leftBlock.bytes + kAdpcmBlockSize};
        // An end block silences the whole frame buffer: on the left only the left samples stay
        // zero once the right block is decoded; on the right it clears both channels.
        if (leftBlock.IsEndBlock()) {
            frames.fill(0);
        } else {
            DecodeAdpcmBlock(leftBlock, left, frames.data(), 2);
        }
        if (rightBlock.IsEndBlock()) {
            frames.fill(0);
        } else {
            DecodeAdpcmBlock(rightBlock, right, frames.data() + 1, 2);
        }
        if (!writer.Append(frames.data(), frames.size())) return false;
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
