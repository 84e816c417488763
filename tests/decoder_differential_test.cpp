// The fast decoder against the reference decoder with each kind of its arithmetic that runs here
// (portable, SSE2, AVX2). It cuts a channel into parts of at least 512 blocks (up to eight in
// mono, four per channel in stereo) that run side by side; a later part starts at a block of row
// 0 near its cut, or 64 blocks early from a guessed history that is checked at the cut and
// repaired. The cases aim at exactly those places.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "codec/adpcm_fast.h"
#include "tests/support/reference_decoder.h"

namespace sorvik {
namespace {

using namespace adpcm_detail;
using Bytes = std::vector<std::uint8_t>;

// Every kernel that runs, on `data` as mono blocks and as stereo pairs, in one call and in two
// with the histories carried across, as the converter carries them between buffer-fulls.
::testing::AssertionResult MatchesReference(const Bytes& data) {
    const std::size_t blocks = data.size() / kAdpcmBlockSize;
    for (const bool stereo : {false, true}) {
        const std::size_t unitBlocks = stereo ? 2 : 1, units = blocks / unitBlocks;
        std::vector<std::int16_t> e;
        if (stereo) testing::reference::DecodeStereoPairs(data.data(), units, e);
        if (!stereo) testing::reference::DecodeMonoBlocks(data.data(), units, e);
        for (const Kernel kernel : {Kernel::Portable, Kernel::Sse2, Kernel::Avx2}) {
            if (!KernelRuns(kernel)) continue;
            for (const std::size_t split : {std::size_t{0}, units * 2 / 5}) {
                Bytes pcm(units * unitBlocks * kPcmBytesPerBlock);
                ChannelHistory left, right;
                for (const auto& [from, to] : {std::pair{std::size_t{0}, split}, {split, units}}) {
                    const std::uint8_t* in = data.data() + from * unitBlocks * kAdpcmBlockSize;
                    std::uint8_t* out = pcm.data() + from * unitBlocks * kPcmBytesPerBlock;
                    if (stereo) DecodeStereoPairsWith(kernel, in, to - from, left, right, out);
                    if (!stereo) DecodeMonoBlocksWith(kernel, in, to - from, left, out);
                }
                std::size_t i = 0;
                while (i < e.size() && e[i] == std::int16_t(pcm[2 * i] | pcm[2 * i + 1] << 8)) ++i;
                if (i == e.size()) continue;
                return ::testing::AssertionFailure()
                       << (stereo ? "stereo" : "mono") << ", kernel " << static_cast<int>(kernel)
                       << ", cut after " << split << ": first difference at sample " << i;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// `count` blocks of random bytes from seed `v`, each then set by edit(v, random, b, block) if any.
using Edit = std::function<void(std::size_t, std::mt19937&, std::size_t, std::uint8_t*)>;
Bytes Stream(std::size_t count, std::size_t v, const Edit& edit) {
    std::mt19937 random(static_cast<std::uint32_t>(v));
    Bytes data(count * kAdpcmBlockSize);
    for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random());
    for (std::size_t b = 0; edit && b < count; ++b) edit(v, random, b, &data[b * kAdpcmBlockSize]);
    return data;
}

// Rows 1 to 4, any shift, no end block: a cut among such blocks is started from a guess.
void Predicting(std::size_t, std::mt19937& random, std::size_t, std::uint8_t* block) {
    block[0] = static_cast<std::uint8_t>((1 + random() % 4) << 4 | random() % 16);
    block[1] = 0;
}

// Four parts in mono, cut near blocks 525, 1050 and 1575; twice as long, eight parts in mono and
// four in stereo, cut every 525 blocks or pairs.
constexpr std::size_t kFour = 2100, kEight = 2 * kFour;
const std::size_t kCuts[] = {0, 525, 1050, 1575, kFour - 1};

const struct {
    const char* name;
    std::size_t variants, blocks;
    Edit edit;
} kCases[] = {
    // Row 4, then rows 4 and 2, at shift 0 with random and then extreme nibbles: values far
    // beyond 16 bits both ways.
    {"saturating values", 3, kEight,
     [](auto v, auto& random, auto b, auto* block) {
         block[0] = v == 0 || random() % 2 ? 0x40 : 0x20;
         block[1] = 0;
         if (v == 2) std::memset(block + 2, b / 7 % 2 ? 0x88 : 0x77, 14);
     }},
    // One block of row 0 (predictor 0, or 9 that decodes like it), from 72 blocks before a cut or
    // either end of the stream to 47 after.
    {"row 0 near a cut", 5 * 120, kFour,
     [](auto v, auto& random, auto b, auto* block) {
         Predicting(v, random, b, block);
         if (b + 72 == kCuts[v % 5] + v / 5) block[0] = v % 2 ? 0x95 : 0x02;
     }},
    // End blocks silence and keep the history: at either end, at random, in runs, before row 0,
    // on the left, the right or both sides of a stereo pair.
    {"end blocks inside parts", 150, kEight,
     [](auto v, auto& random, auto b, auto* block) {
         Predicting(v, random, b, block);
         const bool afterEnd = b > 0 && block[1 - 16] == kEndBlockFlag;
         const bool end =
             random() % 600 == 0 || (afterEnd && random() % 3 == 0) || b == v * (kEight - 1);
         if (end) block[1] = kEndBlockFlag;
         if (!end && afterEnd && random() % 2) block[0] = 0x0C;
     }},
    // A part that starts early in a run of end blocks still holds its guessed zeros at the cut,
    // while the exact history is loud. Such a second part runs up to its last block, and that one
    // and the third part's first 20 blocks decode zero nibbles of row 1 from the history alone:
    // the check must decode the whole second part again.
    {"guess that cannot have met the history", 1, kFour,
     [](auto, auto&, auto b, auto* block) {
         const bool quiet = b + 1 >= kCuts[2] && b < kCuts[2] + 20;
         block[0] = quiet ? 0x1C : 0x40;
         block[1] = b + 70 >= kCuts[1] && b + 1 < kCuts[2] ? kEndBlockFlag : 0;
         if (quiet) std::memset(block + 2, 0, kAdpcmBlockSize - 2);
     }},
    // A stereo part starts at row 0 only where both channels have it: put it near the cuts in the
    // left channel, the right, both in one pair, or both five pairs apart.
    {"stereo row 0 in one channel or both", 4, kEight,
     [](auto v, auto& random, auto b, auto* block) {
         Predicting(v, random, b, block);
         for (const std::size_t cut : {kCuts[1], kCuts[2], kCuts[3]}) {
             for (const std::size_t back : {0, 1, 10, 63}) {
                 if (b % 2 == 0 && v != 1 && b / 2 == cut - back) block[0] = 0x0B;
                 if (b % 2 == 1 && v != 0 && b / 2 == cut - back - (v == 3 ? 5 : 0))
                     block[0] = 0x0A;
             }
         }
     }},
};

TEST(DecoderDifferentialTest, KernelsThatRunHere) {
    // The AVX2 kernel is chosen when the program runs; say so where this machine cannot test it.
    if (!KernelRuns(Kernel::Avx2)) GTEST_SKIP() << "no AVX2: its kernel is not tested here";
    EXPECT_TRUE(KernelRuns(Kernel::Sse2));
}

TEST(DecoderDifferentialTest, PlacesThatCutsMakeHard) {
    for (const auto& c : kCases) {
        for (std::size_t v = 0; v < c.variants; ++v) {
            ASSERT_TRUE(MatchesReference(Stream(c.blocks, v, c.edit))) << c.name << " #" << v;
        }
    }
}

TEST(DecoderDifferentialTest, EveryLengthAndNumberOfParts) {
    // 512 k + 0, 1 and 511 blocks for k up to 9: every number of parts, with register slots left
    // over; and 2 and 3 (one stereo pair). Blocks of rows 1 to 4, then random blocks of any
    // first byte and flag.
    for (const bool predicting : {true, false}) {
        for (std::size_t length = 0; length < 10 * 512;
             length += length == 3 ? 508 : length % 512 == 1 && length > 1 ? 510 : 1) {
            ASSERT_TRUE(MatchesReference(Stream(length, 99, predicting ? Predicting : nullptr)))
                << length << " blocks, predicting " << predicting;
        }
    }
}

}  // namespace
}  // namespace sorvik
