#include "tests/support/reference_decoder.h"

#include <algorithm>
#include <array>

namespace sorvik::testing::reference {
namespace {

constexpr std::size_t kBlockSize = 16;
constexpr std::size_t kSamplesPerBlock = 28;

constexpr double kCoefficients[5][2] = {
    {0.0, 0.0},
    {60.0 / 64.0, 0.0},
    {115.0 / 64.0, -52.0 / 64.0},
    {98.0 / 64.0, -55.0 / 64.0},
    {122.0 / 64.0, -60.0 / 64.0},
};

// [shift][nibble]: the nibble as -8..7, times 4096, shifted right arithmetically (divided by
// 2^shift and rounded down).
constexpr auto kScale = [] {
    std::array<std::array<double, 16>, 16> table{};
    for (int shift = 0; shift < 16; ++shift) {
        for (int nibble = 0; nibble < 16; ++nibble) {
            const int value = ((nibble ^ 8) - 8) * 4096, divisor = 1 << shift;
            table[shift][nibble] = value / divisor - (value % divisor < 0);
        }
    }
    return table;
}();

bool IsEndBlock(const std::uint8_t* block) { return block[1] == 7; }

std::uint32_t Be32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

}  // namespace

void DecodeBlock(const std::uint8_t* block, History& history, std::int16_t* out,
                 std::size_t stride) {
    const unsigned predictor = block[0] >> 4;
    const double* c = kCoefficients[predictor < 5 ? predictor : 0];
    const auto& scaled = kScale[block[0] & 0x0F];
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const unsigned nibble = block[2 + i / 2] >> (i % 2 * 4) & 0x0F;
        const double value = (scaled[nibble] + c[1] * history.s2) + c[0] * history.s1;
        history.s2 = history.s1;
        history.s1 = value;
        // Rounded half up, then cut toward zero, within 16 bits.
        out[i * stride] = static_cast<std::int16_t>(std::clamp(value + 0.5, -32768.0, 32767.0));
    }
}

void DecodeMonoBlocks(const std::uint8_t* data, std::size_t blockCount,
                      std::vector<std::int16_t>& samples) {
    samples.assign(blockCount * kSamplesPerBlock, 0);
    History history;
    for (std::size_t i = 0; i < blockCount; ++i) {
        const std::uint8_t* block = data + i * kBlockSize;
        if (!IsEndBlock(block)) DecodeBlock(block, history, &samples[i * kSamplesPerBlock], 1);
    }
}

void DecodeStereoPairs(const std::uint8_t* data, std::size_t pairCount,
                       std::vector<std::int16_t>& samples) {
    samples.assign(pairCount * 2 * kSamplesPerBlock, 0);
    History left, right;
    for (std::size_t i = 0; i < pairCount; ++i) {
        const std::uint8_t* pair = data + i * 2 * kBlockSize;
        std::int16_t* frames = &samples[i * 2 * kSamplesPerBlock];
        if (!IsEndBlock(pair)) DecodeBlock(pair, left, frames, 2);
        if (!IsEndBlock(pair + kBlockSize)) DecodeBlock(pair + kBlockSize, right, frames + 1, 2);
        if (IsEndBlock(pair + kBlockSize)) std::fill_n(frames, 2 * kSamplesPerBlock, 0);
    }
}

std::vector<std::int16_t> DecodeMonoStream(const std::uint8_t* data, std::size_t length) {
    const std::size_t held = length / kBlockSize;
    std::size_t blocks = 0;
    while (blocks < held && !IsEndBlock(data + blocks * kBlockSize)) ++blocks;
    std::vector<std::int16_t> samples;
    DecodeMonoBlocks(data, std::min(blocks + 1, held), samples);
    return samples;
}

std::vector<std::int16_t> DecodeStereoStream(const std::uint8_t* data, std::size_t length) {
    std::vector<std::int16_t> samples;
    DecodeStereoPairs(data, length / (2 * kBlockSize), samples);
    return samples;
}

std::vector<std::uint8_t> ExpectedWav(const std::vector<std::uint8_t>& image) {
    const std::uint16_t channels = image[0] == 'S' ? 2 : 1;
    const std::size_t length =
        std::min<std::size_t>(std::size_t{Be32(&image[12])} * channels, image.size() - 48);
    const std::vector<std::int16_t> samples = channels == 2 ? DecodeStereoStream(&image[48], length)
                                                            : DecodeMonoStream(&image[48], length);
    const std::uint32_t rate = Be32(&image[16]);
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<std::uint8_t> wav;
    const auto put = [&wav](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<std::uint8_t>(value >> 8 * i));
    };
    const auto tag = [&wav](const char* text) {
        for (int i = 0; i < 4; ++i) wav.push_back(static_cast<std::uint8_t>(text[i]));
    };
    tag("RIFF"), put(dataBytes + 36, 4), tag("WAVE"), tag("fmt "), put(16, 4), put(1, 2);
    put(channels, 2), put(rate, 4), put(rate * 2 * channels, 4), put(2 * channels, 2), put(16, 2);
    tag("data"), put(dataBytes, 4);
    for (const std::int16_t sample : samples) put(static_cast<std::uint16_t>(sample), 2);
    return wav;
}

}  // namespace sorvik::testing::reference
