#pragma once

#include <cstdint>
#include <cstring>

// The decoder's arithmetic, apart from its loops: the prediction coefficients, the scaled
// nibbles and the narrowing of a predicted value to a 16-bit sample.
namespace sorvik::adpcm_detail {
// Internal linkage: the decoder is compiled once per instruction set, and each of those
// translation units must keep its own copy of these functions (see adpcm_lanes.h).
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

// The coefficient row of a block's first byte. Predictors 5 to 15 have no row of their own and
// decode without prediction, like row 0.
inline unsigned RowOf(std::uint8_t firstByte) {
    const unsigned predictor = firstByte >> 4;
    return predictor < 5 ? predictor : 0;
}

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

inline constexpr ScaleTable kScale = MakeScaleTable();

// Rounds half up, truncates toward zero and saturates to 16 bits: -2.0 gives -1, 2.5 gives 3,
// 83328.0 gives 32767. Written as a clamp followed by a conversion, in the operand order of the
// processors' min and max instructions, so compilers emit those instead of branches; for every
// finite value it equals "32767 from 32767.0 up, -32768 from -32768.0 down, else the integer
// part". (The history never holds anything but finite values: the prediction filters are stable,
// so even the most hostile data keeps them within a few times 10^7.)
inline std::int16_t NarrowToSample(double value) {
    double biased = value + 0.5;
    biased = biased > -32768.0 ? biased : -32768.0;
    biased = biased < 32767.0 ? biased : 32767.0;
    return static_cast<std::int16_t>(static_cast<int>(biased));
}

// Stores a sample as two little-endian bytes. On a little-endian host this is one plain 16-bit
// store, which keeps the decoder's output loops simple enough for the compiler to vectorize.
inline void StoreSample(std::uint8_t* bytes, std::int16_t sample) {
    const std::uint16_t one = 1;
    std::uint8_t firstByte;
    std::memcpy(&firstByte, &one, 1);
    auto bits = static_cast<std::uint16_t>(sample);
    if (firstByte != 1) bits = static_cast<std::uint16_t>(bits << 8 | bits >> 8);
    std::memcpy(bytes, &bits, 2);
}

}  // namespace
}  // namespace sorvik::adpcm_detail
