#include "tests/support/adpcm_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace sorvik::testing {
namespace {

constexpr int kPredictorCount = 5;
constexpr int kMaxShift = 12;
constexpr std::uint8_t kEndFlag = 7;

// c0 weighs the newest earlier value, c1 the one before it; all multiples of 1/64.
constexpr double kCoefficients[kPredictorCount][2] = {
    {0.0, 0.0},
    {60.0 / 64.0, 0.0},
    {115.0 / 64.0, -52.0 / 64.0},
    {98.0 / 64.0, -55.0 / 64.0},
    {122.0 / 64.0, -60.0 / 64.0},
};

// The decoder's narrowing: add 0.5, truncate toward zero, saturate to 16 bits.
std::int16_t Narrow(double value) {
    const double biased = value + 0.5;
    if (biased >= 32767.0) return 32767;
    if (biased <= -32768.0) return -32768;
    return static_cast<std::int16_t>(static_cast<int>(biased));
}

struct History {
    double s1 = 0.0;  // newest unrounded value
    double s2 = 0.0;
};

struct BlockChoice {
    double error = std::numeric_limits<double>::infinity();
    int predictor = 0;
    int shift = 0;
    std::array<int, kBlockSamples> nibbles{};
    History history;
};

// Quantises one block with a fixed predictor and shift, predicting exactly as the decoder does.
// Gives up (returns false) as soon as the error reaches `bound`.
bool TryBlock(const std::int16_t* samples, const History& start, int predictor, int shift,
              double bound, BlockChoice& choice) {
    const double c0 = kCoefficients[predictor][0];
    const double c1 = kCoefficients[predictor][1];
    const double scale = static_cast<double>(1 << (kMaxShift - shift));
    const double inverse = 1.0 / scale;  // a power of two, so exact
    double s1 = start.s1;
    double s2 = start.s2;
    double error = 0.0;
    for (std::size_t i = 0; i < kBlockSamples; ++i) {
        const double target = samples[i];
        const double residual = (target - (c1 * s2 + c0 * s1)) * inverse;
        const int nibble = static_cast<int>(std::clamp(std::floor(residual + 0.5), -8.0, 7.0));
        const double value = (nibble * scale + c1 * s2) + c0 * s1;
        const std::int16_t output = Narrow(value);
        const double difference = static_cast<double>(output) - target;
        error += difference * difference;
        if (error >= bound) return false;
        choice.nibbles[i] = nibble;
        s2 = s1;
        s1 = value;
    }
    choice.error = error;
    choice.predictor = predictor;
    choice.shift = shift;
    choice.history = {s1, s2};
    return true;
}

}  // namespace

std::vector<std::uint8_t> EndBlock() {
    std::vector<std::uint8_t> block(kBlockBytes, 0);
    block[1] = kEndFlag;
    return block;
}

std::vector<std::uint8_t> EncodeAdpcm(const std::vector<std::int16_t>& pcm, bool appendEndBlock) {
    const std::size_t blockCount = (pcm.size() + kBlockSamples - 1) / kBlockSamples;
    std::vector<std::uint8_t> adpcm;
    adpcm.reserve((blockCount + 1) * kBlockBytes);

    History history;
    std::array<std::int16_t, kBlockSamples> samples{};
    for (std::size_t block = 0; block < blockCount; ++block) {
        const std::size_t first = block * kBlockSamples;
        const std::size_t available = std::min(kBlockSamples, pcm.size() - first);
        samples.fill(0);
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(first), available, samples.begin());

        BlockChoice best;
        BlockChoice candidate;
        for (int predictor = 0; predictor < kPredictorCount; ++predictor) {
            for (int shift = 0; shift <= kMaxShift; ++shift) {
                if (TryBlock(samples.data(), history, predictor, shift, best.error, candidate)) {
                    best = candidate;
                }
            }
        }

        adpcm.push_back(static_cast<std::uint8_t>(best.predictor << 4 | best.shift));
        adpcm.push_back(0);
        for (std::size_t i = 0; i < kBlockSamples; i += 2) {
            const unsigned low = static_cast<unsigned>(best.nibbles[i]) & 0x0F;
            const unsigned high = static_cast<unsigned>(best.nibbles[i + 1]) & 0x0F;
            adpcm.push_back(static_cast<std::uint8_t>(high << 4 | low));
        }
        history = best.history;
    }
    if (appendEndBlock) {
        const std::vector<std::uint8_t> end = EndBlock();
        adpcm.insert(adpcm.end(), end.begin(), end.end());
    }
    return adpcm;
}

namespace {

std::vector<std::uint8_t> MakeHeader(const char (&magic)[5], std::uint32_t dataSize,
                                     std::uint32_t sampleRate, const std::string& name,
                                     bool fillLittleEndianSize) {
    std::vector<std::uint8_t> header(kImageHeaderBytes, 0);
    std::copy(magic, magic + 4, header.begin());
    if (fillLittleEndianSize) {
        for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<std::uint8_t>(dataSize >> 8 * i);
    }
    for (int i = 0; i < 4; ++i) {
        header[12 + i] = static_cast<std::uint8_t>(dataSize >> (24 - 8 * i));
        header[16 + i] = static_cast<std::uint8_t>(sampleRate >> (24 - 8 * i));
    }
    const std::size_t nameLength = std::min<std::size_t>(name.size(), 16);
    std::copy_n(name.begin(), nameLength, header.begin() + 32);
    return header;
}

}  // namespace

std::vector<std::uint8_t> MakeVagImage(const std::vector<std::uint8_t>& adpcm,
                                       std::uint32_t sampleRate, const std::string& name,
                                       bool fillLittleEndianSize) {
    std::vector<std::uint8_t> image = MakeHeader("VAGp", static_cast<std::uint32_t>(adpcm.size()),
                                                 sampleRate, name, fillLittleEndianSize);
    image.insert(image.end(), adpcm.begin(), adpcm.end());
    return image;
}

std::vector<std::uint8_t> MakeSterImage(const std::vector<std::uint8_t>& left,
                                        const std::vector<std::uint8_t>& right,
                                        std::uint32_t sampleRate, const std::string& name,
                                        bool fillLittleEndianSize) {
    const std::size_t longer = std::max(left.size(), right.size());
    const std::size_t blocks = (longer + kBlockBytes - 1) / kBlockBytes;
    const std::size_t channelBytes = blocks * kBlockBytes;
    std::vector<std::uint8_t> image = MakeHeader("STER", static_cast<std::uint32_t>(channelBytes),
                                                 sampleRate, name, fillLittleEndianSize);
    image.resize(kImageHeaderBytes + 2 * channelBytes, 0);
    for (std::size_t block = 0; block < blocks; ++block) {
        std::uint8_t* pair = image.data() + kImageHeaderBytes + 2 * kBlockBytes * block;
        const std::size_t from = block * kBlockBytes;
        if (from < left.size()) {
            std::copy_n(left.begin() + static_cast<std::ptrdiff_t>(from),
                        std::min(kBlockBytes, left.size() - from), pair);
        }
        if (from < right.size()) {
            std::copy_n(right.begin() + static_cast<std::ptrdiff_t>(from),
                        std::min(kBlockBytes, right.size() - from), pair + kBlockBytes);
        }
    }
    return image;
}

std::vector<std::int16_t> Sine(double frequencyHz, double seconds, std::uint32_t rate,
                               double amplitude) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * rate + 0.5));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double turns = frequencyHz * static_cast<double>(i) / rate;
        samples[i] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(6.283185307179586 * turns)));
    }
    return samples;
}

}  // namespace sorvik::testing
