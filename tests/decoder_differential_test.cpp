// The fast decoder against the straightforward reference decoder, sample for sample. The fast
// decoder cuts a channel into parts that run side by side, starting later parts at blocks of row
// 0 or from a guessed history that it checks and repairs; these tests aim at exactly those places.
// Every case runs each kind of its arithmetic that runs here: the portable one, two chains to an
// SSE2 register and four to an AVX2 register.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codec/adpcm.h"
#include "codec/adpcm_fast.h"
#include "common/file_handle.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/sound_synth.h"
#include "tests/support/test_files.h"

namespace sorvik {
namespace {

namespace reference = testing::reference;
using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

// Little-endian PCM bytes as samples.
Samples ToSamples(const Bytes& pcm) {
    Samples samples(pcm.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
    }
    return samples;
}

// Index of the first differing sample, for a readable failure instead of two huge vectors.
::testing::AssertionResult SameSamples(const Samples& expected, const Samples& actual) {
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure()
               << "sizes differ: " << expected.size() << " vs " << actual.size();
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            return ::testing::AssertionFailure()
                   << "sample " << i << " (block " << i / kSamplesPerBlock << "): expected "
                   << expected[i] << ", got " << actual[i];
        }
    }
    return ::testing::AssertionSuccess();
}

// The kinds of arithmetic of the fast decoder that run here; the portable one always does.
struct Kernel {
    const char* name;
    adpcm_detail::Kernel kind;
};
std::vector<Kernel> RunningKernels() {
    std::vector<Kernel> kernels;
    for (const Kernel& kernel :
         {Kernel{"portable", adpcm_detail::Kernel::Portable},
          Kernel{"SSE2", adpcm_detail::Kernel::Sse2}, Kernel{"AVX2", adpcm_detail::Kernel::Avx2}}) {
        if (adpcm_detail::KernelRuns(kernel.kind)) kernels.push_back(kernel);
    }
    return kernels;
}
const std::vector<Kernel> kKernels = RunningKernels();

Samples FastMono(const Bytes& data, std::size_t blockCount, const Kernel* kernel = nullptr) {
    Bytes pcm(blockCount * kPcmBytesPerBlock);
    ChannelHistory history;
    if (kernel == nullptr) {
        DecodeMonoBlocksToPcm(data.data(), blockCount, history, pcm.data());
    } else {
        adpcm_detail::DecodeMonoBlocksWith(kernel->kind, data.data(), blockCount, history,
                                           pcm.data());
    }
    return ToSamples(pcm);
}

Samples FastStereo(const Bytes& data, std::size_t pairCount, const Kernel* kernel = nullptr) {
    Bytes pcm(pairCount * 2 * kPcmBytesPerBlock);
    ChannelHistory left;
    ChannelHistory right;
    if (kernel == nullptr) {
        DecodeStereoPairsToPcm(data.data(), pairCount, left, right, pcm.data());
    } else {
        adpcm_detail::DecodeStereoPairsWith(kernel->kind, data.data(), pairCount, left, right,
                                            pcm.data());
    }
    return ToSamples(pcm);
}

// Decodes through the file writers, which feed the decoder one buffer-full at a time with the
// history carried across.
using StreamDecoder = std::size_t (*)(FileHandle&, const std::uint8_t*, std::size_t);
Samples ThroughFile(StreamDecoder decode, const Bytes& data) {
    const testing::TempDir dir;
    const std::string path = dir / "out.pcm";
    {
        FileHandle file = FileHandle::CreateForWriting(path.c_str());
        EXPECT_TRUE(file.IsOpen());
        decode(file, data.data(), data.size());
        EXPECT_TRUE(file.Close());
    }
    return ToSamples(testing::ReadBytes(path));
}

// Every decoder path of the program against the reference, for `data` as mono and as stereo.
void ExpectSameAsReference(const Bytes& data) {
    const std::size_t blockCount = data.size() / kAdpcmBlockSize;
    SCOPED_TRACE(::testing::Message() << blockCount << " blocks");
    const Samples mono = reference::DecodeMonoBlocks(data.data(), blockCount);
    const Samples stereo = reference::DecodeStereoPairs(data.data(), blockCount / 2);
    for (const Kernel& kernel : kKernels) {
        EXPECT_TRUE(SameSamples(mono, FastMono(data, blockCount, &kernel)))
            << "mono, " << kernel.name << " arithmetic";
        EXPECT_TRUE(SameSamples(stereo, FastStereo(data, blockCount / 2, &kernel)))
            << "stereo, " << kernel.name << " arithmetic";
    }
}

// Random blocks: first byte and flag drawn by the caller, nibbles uniformly random.
template <typename FirstByte, typename Flag>
Bytes RandomBlocks(std::size_t count, std::uint32_t seed, FirstByte firstByte, Flag flag) {
    std::mt19937 random(seed);
    Bytes data(count * kAdpcmBlockSize);
    for (std::size_t b = 0; b < count; ++b) {
        std::uint8_t* block = &data[b * kAdpcmBlockSize];
        for (std::size_t i = 2; i < kAdpcmBlockSize; ++i) {
            block[i] = static_cast<std::uint8_t>(random());
        }
        block[0] = firstByte(random, b);
        block[1] = flag(random, b);
    }
    return data;
}

std::uint8_t Ordinary(std::mt19937&, std::size_t) { return 0; }

// Rows 1 to 4 only, so no block resets the history and every cut must be guessed and checked.
std::uint8_t PredictingRow(std::mt19937& random, std::size_t) {
    return static_cast<std::uint8_t>((1 + random() % 4) << 4 | random() % 13);
}

// Long enough for four parts per channel in mono and two in stereo, and for several fills of the
// file writers' buffer.
constexpr std::size_t kLongStream = 9000;

TEST(DecoderDifferentialTest, KernelsThatRunHere) {
    // The AVX2 kernel is chosen when the program runs; say so when this machine cannot test it.
    if (!adpcm_detail::KernelRuns(adpcm_detail::Kernel::Avx2)) {
        GTEST_SKIP() << "no AVX2 here: its kernel is not tested on this machine";
    }
    EXPECT_TRUE(adpcm_detail::KernelRuns(adpcm_detail::Kernel::Sse2));
}

TEST(DecoderDifferentialTest, RandomBlocksOfEveryPredictorShiftAndFlag) {
    // Every first byte (predictors 0 to 15, shifts 0 to 15) and every flag value appear, end
    // blocks (flag 7) among them at random places.
    const Bytes anyByte = RandomBlocks(
        kLongStream, 1,
        [](std::mt19937& random, std::size_t) { return static_cast<std::uint8_t>(random()); },
        [](std::mt19937& random, std::size_t) { return static_cast<std::uint8_t>(random()); });
    ExpectSameAsReference(anyByte);

    for (unsigned predictor = 0; predictor < 16; ++predictor) {
        SCOPED_TRACE(::testing::Message() << "predictor " << predictor);
        const Bytes data = RandomBlocks(
            2500, 100 + predictor,
            [predictor](std::mt19937&, std::size_t b) {
                return static_cast<std::uint8_t>(predictor << 4 | b % 16);
            },
            [](std::mt19937& random, std::size_t) {
                const std::uint8_t flags[] = {0, 1, 2, 3, 6, 8, 255};
                return flags[random() % 7];
            });
        ExpectSameAsReference(data);
    }
}

TEST(DecoderDifferentialTest, StreamsWithoutRowZeroBlocks) {
    // Every cut must then be started from a guess and checked.
    ExpectSameAsReference(RandomBlocks(kLongStream, 2, PredictingRow, Ordinary));

    // Row 4 at shift 0 with large nibbles: the slowest-forgetting filter, driven hard, so the
    // guessed history needs many blocks to meet the exact one.
    ExpectSameAsReference(RandomBlocks(
        kLongStream, 3, [](std::mt19937&, std::size_t) { return std::uint8_t{0x40}; }, Ordinary));

    // Row 1 with all nibbles 0 after a loud start: the exact history decays into the smallest
    // subnormal numbers and never reaches the guessed zeros, so whole parts are decoded again.
    Bytes decaying(kLongStream * kAdpcmBlockSize, 0);
    for (std::size_t b = 0; b < kLongStream; ++b) decaying[b * kAdpcmBlockSize] = 0x1C;
    decaying[0] = 0x40;
    std::memset(&decaying[2], 0x77, 14);
    ExpectSameAsReference(decaying);
}

TEST(DecoderDifferentialTest, RowZeroBlockAtEveryPosition) {
    // Predicting blocks with a single block of row 0 moved through every position of a stream
    // that is cut into four parts, including the cut points, the blocks right before and after
    // them and the stream's ends. Then at every fifth position with predictor 9 (decoded like row
    // 0).
    constexpr std::size_t kCount = 2100;
    const Bytes base = RandomBlocks(kCount, 4, PredictingRow, Ordinary);
    for (const std::uint8_t rowZero : {std::uint8_t{0x02}, std::uint8_t{0x95}}) {
        for (std::size_t at = 0; at < kCount; at += rowZero == 0x02 ? 1 : 5) {
            Bytes data = base;
            data[at * kAdpcmBlockSize] = rowZero;
            const Samples expected = reference::DecodeMonoBlocks(data.data(), kCount);
            for (const Kernel& kernel : kKernels) {
                ASSERT_TRUE(SameSamples(expected, FastMono(data, kCount, &kernel)))
                    << "row 0 block at " << at << ", " << kernel.name << " arithmetic";
            }
        }
    }
}

TEST(DecoderDifferentialTest, EndBlocksInsideParts) {
    // End blocks give silence and keep the history. Placed right at row-0 blocks, inside the
    // stretch a guessed part starts early, at the stream's first and last block, and in runs.
    constexpr std::size_t kCount = 2100;
    std::mt19937 random(5);
    for (int round = 0; round < 300; ++round) {
        Bytes data = RandomBlocks(kCount, 1000 + round, PredictingRow, Ordinary);
        const int endBlocks = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < endBlocks; ++e) {
            const std::size_t at = round == 0 ? 0 : round == 1 ? kCount - 1 : random() % kCount;
            data[at * kAdpcmBlockSize + 1] = kEndBlockFlag;
            // Half the time a row-0 block right after it, where a part likes to start.
            if (random() % 2 == 0 && at + 1 < kCount) data[(at + 1) * kAdpcmBlockSize] = 0x0C;
        }
        SCOPED_TRACE(::testing::Message() << "round " << round);
        ExpectSameAsReference(data);
    }
}

TEST(DecoderDifferentialTest, GuessThatCannotHaveMetTheHistory) {
    // End blocks leave the history alone, so a part that starts early in a run of them still
    // holds its guessed zeros at the cut, while the exact history is loud. After the cut, blocks
    // of row 1 with zero nibbles decode purely from the history: only the check against the part
    // before gets them right.
    constexpr std::size_t kCount = 2100;  // four parts, cut near 525, 1050 and 1575
    Bytes data = RandomBlocks(
        kCount, 9, [](std::mt19937&, std::size_t) { return std::uint8_t{0x40}; }, Ordinary);
    for (const std::size_t cut : {kCount / 4, kCount / 2, 3 * kCount / 4}) {
        for (std::size_t b = cut - 40; b < cut; ++b) data[b * kAdpcmBlockSize + 1] = kEndBlockFlag;
        for (std::size_t b = cut; b < cut + 20; ++b) {
            std::memset(&data[b * kAdpcmBlockSize], 0, kAdpcmBlockSize);
            data[b * kAdpcmBlockSize] = 0x1C;
        }
    }
    ExpectSameAsReference(data);
}

TEST(DecoderDifferentialTest, StereoEndBlocksOnEitherSide) {
    // Left end blocks, right end blocks and both, in pairs across the stream; the histories of
    // the two channels go on independently.
    Bytes data = RandomBlocks(kLongStream, 6, PredictingRow, Ordinary);
    for (std::size_t pair = 0; pair < kLongStream / 2; pair += 97) {
        const std::size_t side = pair % 3;  // 0 left, 1 right, 2 both
        if (side != 1) data[2 * pair * kAdpcmBlockSize + 1] = kEndBlockFlag;
        if (side != 0) data[(2 * pair + 1) * kAdpcmBlockSize + 1] = kEndBlockFlag;
    }
    ExpectSameAsReference(data);
}

TEST(DecoderDifferentialTest, SaturatingValues) {
    // Row 4 (and 2) at shift 0 with nibbles at their extremes push the history far beyond 16
    // bits in both directions; narrowing must saturate the same way.
    const Bytes loud = RandomBlocks(
        kLongStream, 7,
        [](std::mt19937& random, std::size_t) { return random() % 2 ? std::uint8_t{0x40} : 0x20; },
        Ordinary);
    Bytes extreme = loud;
    for (std::size_t b = 0; b < kLongStream; ++b) {
        const std::uint8_t fill = (b / 7) % 2 == 0 ? 0x77 : 0x88;
        std::memset(&extreme[b * kAdpcmBlockSize + 2], fill, 14);
    }
    ExpectSameAsReference(loud);
    ExpectSameAsReference(extreme);

    const Samples samples = FastMono(extreme, kLongStream);
    EXPECT_NE(std::find(samples.begin(), samples.end(), 32767), samples.end());
    EXPECT_NE(std::find(samples.begin(), samples.end(), -32768), samples.end());
}

TEST(DecoderDifferentialTest, EveryLengthUpToSeveralParts) {
    // Short streams take fewer parts; lengths around the thresholds and buffer fills.
    const Bytes data = RandomBlocks(
        kLongStream, 8,
        [](std::mt19937& random, std::size_t) { return static_cast<std::uint8_t>(random()); },
        Ordinary);
    for (std::size_t count : {1u, 2u, 27u, 511u, 1023u, 1024u, 1025u, 2047u, 2048u, 2049u, 4095u,
                              4096u, 4097u, 8191u, 8192u, 8193u}) {
        const Bytes prefix(data.begin(), data.begin() + count * kAdpcmBlockSize);
        ExpectSameAsReference(prefix);
        EXPECT_TRUE(SameSamples(reference::DecodeMonoStream(prefix.data(), prefix.size()),
                                ThroughFile(DecodeMonoStream, prefix)));
        EXPECT_TRUE(SameSamples(reference::DecodeStereoStream(prefix.data(), prefix.size()),
                                ThroughFile(DecodeStereoStream, prefix)));
    }
}

TEST(DecoderDifferentialTest, EveryFirstByteInBothHalvesOfARegister) {
    // Chains share registers, two or four to one, so every combination of predictor and shift
    // must meet every other in the same register: block b of a part against block b of the
    // next ones. Each of
    // the 256 first bytes is placed in every part of a stream cut into eight, one block past
    // each ideal cut and further in, with a different first byte in each part.
    constexpr std::size_t kParts = 8;
    constexpr std::size_t kCount = kParts * 512;
    const Bytes base = RandomBlocks(kCount, 11, PredictingRow, Ordinary);
    Bytes data = base;
    for (std::size_t part = 0; part < kParts; ++part) {
        for (std::size_t k = 0; k < 256; ++k) {
            const std::size_t at = part * 512 + 100 + k;
            data[at * kAdpcmBlockSize] = static_cast<std::uint8_t>((k + 37 * part) % 256);
        }
    }
    ExpectSameAsReference(data);
}

TEST(DecoderDifferentialTest, StereoCutsWithRowZeroInOneChannelOrBoth) {
    // Both channels of a stereo stream are cut at the same blocks. A part starts at a block of
    // row 0 only where both channels have one; near the cuts, put one in the left channel only,
    // in the right only, in both at the same pair and in both at different pairs.
    constexpr std::size_t kPairs = 4 * 512 + 100;
    const Bytes base = RandomBlocks(2 * kPairs, 12, PredictingRow, Ordinary);
    for (int variant = 0; variant < 4; ++variant) {
        Bytes data = base;
        for (std::size_t cut = 1; cut < 4; ++cut) {
            const std::size_t ideal = kPairs * cut / 4;
            for (std::size_t back : {0u, 1u, 10u, 63u}) {
                const std::size_t left = 2 * (ideal - back);
                const std::size_t right = 2 * (ideal - back - (variant == 3 ? 5 : 0)) + 1;
                if (variant != 1) data[left * kAdpcmBlockSize] = 0x0B;
                if (variant != 0) data[right * kAdpcmBlockSize] = 0x0A;
            }
        }
        SCOPED_TRACE(::testing::Message() << "variant " << variant);
        ExpectSameAsReference(data);
    }
}

TEST(DecoderDifferentialTest, EveryNumberOfParts) {
    // A stream is cut into one part per 512 blocks, up to eight (four per channel in stereo), so
    // these lengths give each count of parts, also those that leave a register part empty, where
    // chains are repeated to fill it. Rows 1 to 4 only: every cut but the first is guessed.
    const Bytes data = RandomBlocks(8 * 512 + 600, 13, PredictingRow, Ordinary);
    for (std::size_t parts = 1; parts <= 9; ++parts) {
        for (const std::size_t extra : {0u, 1u, 511u}) {
            const std::size_t count = 512 * parts + extra;
            if (count * kAdpcmBlockSize > data.size()) continue;
            ExpectSameAsReference(Bytes(data.begin(), data.begin() + count * kAdpcmBlockSize));
        }
    }
}

TEST(DecoderDifferentialTest, RealFiles) {
    // The real mono images of the corpus (the interleaved "VAGi" one is skipped), as mono streams
    // and, for more real data, read as stereo too.
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SORVIK_CORPUS_DIR)) {
        if (entry.path().extension() != ".vag") continue;
        const Bytes image = testing::ReadBytes(entry.path());
        if (image.size() < 48 || std::memcmp(image.data(), "VAGp", 4) != 0) continue;
        SCOPED_TRACE(entry.path().filename().string());
        const Bytes data(image.begin() + 48, image.end());
        EXPECT_TRUE(SameSamples(reference::DecodeMonoStream(data.data(), data.size()),
                                ThroughFile(DecodeMonoStream, data)));
        EXPECT_TRUE(SameSamples(reference::DecodeStereoStream(data.data(), data.size()),
                                ThroughFile(DecodeStereoStream, data)));
        ExpectSameAsReference(data);
        ++checked;
    }
    EXPECT_EQ(checked, 5);
}

TEST(DecoderDifferentialTest, EncodedSounds) {
    // What the encoder makes of music and effects: mostly predicting blocks, row 0 in quiet
    // stretches. Repeated so the streams are long enough to be cut.
    const std::uint32_t rate = 44100;
    std::vector<Samples> sounds = {testing::Tune(rate, 20000.0), testing::Tune(rate, 32000.0, 7),
                                   testing::Effect(3, 2.0, rate, 30000.0),
                                   testing::Chord({220.0, 277.2, 329.6}, 1.5, rate, 12000.0)};
    Bytes left;
    for (const Samples& sound : sounds) {
        const Bytes adpcm = testing::EncodeAdpcm(sound, false);
        ExpectSameAsReference(adpcm);
        left.insert(left.end(), adpcm.begin(), adpcm.end());
    }
    // A stereo image of two different sounds, decoded through the file writer.
    const Bytes right = testing::EncodeAdpcm(testing::Effect(9, 16.0, rate, 25000.0), false);
    const Bytes image = testing::MakeSterImage(left, right, rate, "pair", false);
    const Bytes pairs(image.begin() + testing::kImageHeaderBytes, image.end());
    EXPECT_TRUE(SameSamples(reference::DecodeStereoStream(pairs.data(), pairs.size()),
                            ThroughFile(DecodeStereoStream, pairs)));
    ExpectSameAsReference(pairs);
}

}  // namespace
}  // namespace sorvik
