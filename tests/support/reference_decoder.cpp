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

bool IsEndBlock(const std::uint8_t* block) { return block[1] == 7; }

// [shift][nibble]: the nibble as -8..7, times 4096, shifted right arithmetically (floor division
// by 2^shift).
struct ScaleTable {
    double values[16][16];
};

constexpr ScaleTable MakeScaleTable() {
    ScaleTable table{};
    for (int shift = 0; shift < 16; ++shift) {
        for (int nibble = 0; nibble < 16; ++nibble) {
            const int value = (nibble < 8 ? nibble : nibble - 16) * 4096;
            const int divisor = 1 << shift;
            int quotient = value / divisor;
            if (value % divisor != 0 && value < 0) --quotient;
            table.values[shift][nibble] = quotient;
        }
    }
    return table;
}

constexpr ScaleTable kScale = MakeScaleTable();

std::int16_t NarrowToSample(double value) {
    const double biased = value + 0.5;
    if (biased >= 32767.0) return 32767;
    if (biased <= -32768.0) return -32768;
    return static_cast<std::int16_t>(static_cast<int>(biased));
}

}  // namespace

void DecodeBlock(const std::uint8_t* block, History& history, std::int16_t* out,
                 std::size_t stride) {
    const unsigned predictor = block[0] >> 4;
    const unsigned row = predictor < 5 ? predictor : 0;
    const double* scaled = kScale.values[block[0] & 0x0F];
    const double c0 = kCoefficients[row][0];
    const double c1 = kCoefficients[row][1];
    double s1 = history.s1;
    double s2 = history.s2;
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const std::uint8_t packed = block[2 + i / 2];
        const unsigned nibble = (i % 2 == 0) ? (packed & 0x0F) : (packed >> 4);
        const double value = (scaled[nibble] + c1 * s2) + c0 * s1;
        s2 = s1;
        s1 = value;
        out[i * stride] = NarrowToSample(value);
    }
    history.s1 = s1;
    history.s2 = s2;
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
    samples.clear();
    History left;
    History right;
    std::array<std::int16_t, 2 * kSamplesPerBlock> frames{};
    for (std::size_t i = 0; i < pairCount; ++i) {
        const std::uint8_t* leftBlock = data + i * 2 * kBlockSize;
        const std::uint8_t* rightBlock = leftBlock + kBlockSize;
        if (IsEndBlock(leftBlock)) {
            frames.fill(0);
        } else {
            DecodeBlock(leftBlock, left, frames.data(), 2);
        }
        if (IsEndBlock(rightBlock)) {
            frames.fill(0);
        } else {
            DecodeBlock(rightBlock, right, frames.data() + 1, 2);
        }
        samples.insert(samples.end(), frames.begin(), frames.end());
    }
}

std::vector<std::int16_t> DecodeMonoStream(const std::uint8_t* data, std::size_t length) {
    std::size_t blockCount = length / kBlockSize;
    for (std::size_t i = 0; i < blockCount; ++i) {
        if (IsEndBlock(data + i * kBlockSize)) {
            blockCount = i + 1;
            break;
        }
    }
    std::vector<std::int16_t> samples;
    DecodeMonoBlocks(data, blockCount, samples);
    return samples;
}

std::vector<std::int16_t> DecodeStereoStream(const std::uint8_t* data, std::size_t length) {
    std::vector<std::int16_t> samples;
    DecodeStereoPairs(data, length / (2 * kBlockSize), samples);
    return samples;
}

namespace {

std::uint32_t Be32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

}  // namespace

std::vector<std::uint8_t> ExpectedWav(const std::vector<std::uint8_t>& image) {
    const bool stereo = image[0] == 'S';
    const std::uint16_t channels = stereo ? 2 : 1;
    const std::size_t length = std::min<std::size_t>(std::size_t{Be32(&image[12])} * channels,
                                                     image.size() - 48);
    const std::vector<std::int16_t> samples = stereo ? DecodeStereoStream(&image[48], length)
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
