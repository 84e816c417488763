// The ADPCM decoder and the single-image conversions, checked against hand-worked samples.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "codec/adpcm.h"
#include "codec/convert.h"
#include "codec/pcm_writer.h"
#include "codec/sound_headers.h"
#include "common/byte_order.h"
#include "common/file_handle.h"
#include "tests/support/test_files.h"

namespace sorvik {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using Bytes = std::vector<std::uint8_t>;

// One 16-byte block: its first byte, its flag, then the nibbles in playing order (the rest 0).
Bytes Block(std::uint8_t predictorAndShift, std::uint8_t flag, std::initializer_list<int> nibbles) {
    Bytes block(kAdpcmBlockSize, 0);
    block[0] = predictorAndShift;
    block[1] = flag;
    int i = 0;
    for (const int nibble : nibbles) {
        const auto bits = static_cast<std::uint8_t>(nibble & 0x0F);
        block[2 + i / 2] |= (i % 2 == 0) ? bits : static_cast<std::uint8_t>(bits << 4);
        ++i;
    }
    return block;
}

Bytes EndBlock() { return Block(0x00, kEndBlockFlag, {}); }

// A row 0, shift 12 block whose only non-zero nibble is its last, so its history ends at `value`.
Bytes LastNibbleBlock(int value) {
    Bytes block = Block(0x0C, 0, {});
    block[15] = static_cast<std::uint8_t>((value & 0x0F) << 4);
    return block;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A sound image: 48-byte header with `magic`, the big-endian size and rate, then `data`.
Bytes Image(const char (&magic)[5], std::uint32_t declaredSize, std::uint32_t rate,
            const Bytes& data) {
    Bytes image(kSoundHeaderSize + data.size(), 0);
    std::memcpy(image.data(), magic, 4);
    StoreBe32(image.data() + kHeaderBeSizeOffset, declaredSize);
    StoreBe32(image.data() + kHeaderSampleRateOffset, rate);
    std::copy(data.begin(), data.end(), image.begin() + kSoundHeaderSize);
    return image;
}

std::vector<std::int16_t> Samples(const Bytes& pcm, std::size_t from = 0) {
    std::vector<std::int16_t> samples;
    for (std::size_t i = from; i + 1 < pcm.size(); i += 2) {
        samples.push_back(static_cast<std::int16_t>(LoadLe16(&pcm[i])));
    }
    return samples;
}

// Runs a stream decoder into a file and returns what it reported and what it wrote.
struct StreamResult {
    std::size_t consumed;
    Bytes written;
};

template <typename Decoder>
StreamResult DecodeToFile(Decoder decode, const Bytes& data, std::size_t length) {
    TempDir folder;
    const std::string path = folder / "pcm";
    FileHandle file = FileHandle::CreateForWriting(path.c_str());
    const std::size_t consumed = decode(file, data.data(), length);
    file.Close();
    return {consumed, ReadBytes(path)};
}

// Decodes one block with a fresh history.
std::vector<std::int16_t> DecodeOne(const Bytes& block) {
    return Samples(DecodeToFile(DecodeMonoStream, block, block.size()).written);
}

TEST(AdpcmBlock, NibblesPlayLowFirstAndNegativeValuesRoundTowardZero) {
    // Row 0, shift 12, nibbles 1, 2, -1, -2 (bytes 0x21, 0xEF).
    const std::vector<std::int16_t> samples = DecodeOne(Block(0x0C, 0, {1, 2, -1, -2}));
    EXPECT_EQ(samples[0], 1);
    EXPECT_EQ(samples[1], 2);
    EXPECT_EQ(samples[2], 0);   // -1.0 + 0.5 truncates to 0
    EXPECT_EQ(samples[3], -1);  // -2.0 + 0.5 truncates to -1
}

TEST(AdpcmBlock, ExtremesAtShiftZero) {
    const std::vector<std::int16_t> samples = DecodeOne(Block(0x00, 0, {-8, 7}));
    EXPECT_EQ(samples[0], -32767);  // -32768.0 + 0.5
    EXPECT_EQ(samples[1], 28672);
}

TEST(AdpcmBlock, SaturatesWhileTheHistoryKeepsTheUnroundedValue) {
    // Row 4, shift 0, first byte 0x77: 28672, then 28672 + 1.90625 * 28672 = 83328.
    const std::vector<std::int16_t> samples = DecodeOne(Block(0x40, 0, {7, 7, -8}));
    EXPECT_EQ(samples[0], 28672);
    EXPECT_EQ(samples[1], 32767);
    // The third value is predicted from 83328.0 and 28672.0, not from the written samples.
    const double third = (-32768.0 + -0.9375 * 28672.0) + 1.90625 * 83328.0;
    EXPECT_EQ(third, 99196.0);
    EXPECT_EQ(samples[2], 32767);
    // Strongly negative values saturate at the bottom too.
    EXPECT_EQ(DecodeOne(Block(0x10, 0, {-8, -8, -8}))[2], -32768);
}

TEST(AdpcmBlock, HistoryRunsOnAcrossBlocks) {
    // Row 0, shift 12, last nibble 4; then row 1, shift 12, all nibbles 0.
    const Bytes stream = Concat({LastNibbleBlock(4), Block(0x1C, 0, {}), EndBlock()});
    const StreamResult result = DecodeToFile(DecodeMonoStream, stream, stream.size());
    const std::vector<std::int16_t> samples = Samples(result.written);
    ASSERT_EQ(samples.size(), 3 * kSamplesPerBlock);
    EXPECT_EQ(samples[27], 4);
    // 3.75, 3.515625 and 3.2958984375 before narrowing.
    EXPECT_EQ(samples[28], 4);
    EXPECT_EQ(samples[29], 4);
    EXPECT_EQ(samples[30], 3);
}

TEST(AdpcmBlock, LargeShiftsRoundTowardMinusInfinity) {
    const std::vector<std::int16_t> samples = DecodeOne(Block(0x0D, 0, {1, -1, 7, -8}));
    EXPECT_EQ(samples[0], 0);   // 4096 >> 13
    EXPECT_EQ(samples[1], 0);   // -4096 >> 13 is -1; -1 + 0.5 truncates to 0
    EXPECT_EQ(samples[2], 3);   // 28672 >> 13 = 3.5 floored to 3
    EXPECT_EQ(samples[3], -3);  // -32768 >> 13 = -4; -3.5 truncates to -3
    const std::vector<std::int16_t> shift14 = DecodeOne(Block(0x0E, 0, {7, -1, -8}));
    EXPECT_EQ(shift14[0], 1);   // 28672 >> 14 = 1
    EXPECT_EQ(shift14[1], 0);   // -4096 >> 14 = -1
    EXPECT_EQ(shift14[2], -1);  // -32768 >> 14 = -2
}

TEST(AdpcmBlock, PredictorsAboveFourDecodeWithoutPrediction) {
    for (std::uint8_t predictor = 5; predictor < 16; ++predictor) {
        EXPECT_EQ(DecodeOne(Block(static_cast<std::uint8_t>(predictor << 4 | 12), 0, {3, 3, 3})),
                  DecodeOne(Block(0x0C, 0, {3, 3, 3})))
            << "predictor " << int{predictor};
    }
}

TEST(MonoStream, OnlyFlagSevenEndsTheStream) {
    for (const std::uint8_t flag : {1, 2, 3, 6, 8, 255}) {
        const Bytes stream = Concat({Block(0x0C, flag, {5}), Block(0x0C, 0, {6})});
        const StreamResult result = DecodeToFile(DecodeMonoStream, stream, stream.size());
        EXPECT_EQ(result.consumed, 32u) << "flag " << int{flag};
        EXPECT_EQ(Samples(result.written)[28], 6) << "flag " << int{flag};
    }
}

TEST(MonoStream, StopsAfterTheEndBlockAndCountsIt) {
    const Bytes stream = Concat({Block(0x0C, 0, {1}), Block(0x0C, 0, {2}), Block(0x0C, 7, {3}),
                                 Block(0x0C, 0, {4}), Block(0x0C, 0, {5})});
    const StreamResult result = DecodeToFile(DecodeMonoStream, stream, stream.size());
    EXPECT_EQ(result.consumed, 48u);
    const std::vector<std::int16_t> samples = Samples(result.written);
    ASSERT_EQ(samples.size(), 84u);
    EXPECT_EQ(samples[28], 2);
    for (std::size_t i = 56; i < 84; ++i) EXPECT_EQ(samples[i], 0) << i;
}

TEST(Streams, LengthsShortOfOneUnitWriteNothing) {
    const Bytes data(31, 0x11);
    EXPECT_EQ(DecodeToFile(DecodeMonoStream, data, 15).consumed, 0u);
    EXPECT_TRUE(DecodeToFile(DecodeMonoStream, data, 15).written.empty());
    EXPECT_EQ(DecodeToFile(DecodeStereoStream, data, 31).consumed, 0u);
    EXPECT_TRUE(DecodeToFile(DecodeStereoStream, data, 31).written.empty());
    // A remainder that is not a whole block is left alone.
    EXPECT_EQ(DecodeToFile(DecodeMonoStream, data, 31).consumed, 16u);
}

TEST(PcmWriter, WritesEveryPieceFromTheOffsetWithinAPageOfItsFilePosition) {
    // The file receives every committed byte in order, and each buffer-full is written from an
    // address at the same offset within a page as the file position it goes to (writes are far
    // slower from an address a few bytes before that).
    const TempDir dir;
    const std::string path = dir / "out.pcm";
    FileHandle file = FileHandle::CreateForWriting(path.c_str());
    Bytes expected(44, 0xAB);
    ASSERT_TRUE(file.Write(expected.data(), expected.size()));
    constexpr std::size_t kCapacity = 10000;
    PcmBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(kCapacity, expected.size()));
    PcmWriter writer(file, buffer);
    std::size_t used = kCapacity;  // the first piece starts a buffer-full
    for (const std::size_t piece : {5000u, 4999u, 10000u, 1u, 3333u, 6668u}) {
        std::uint8_t* bytes = writer.Reserve(piece);
        ASSERT_NE(bytes, nullptr);
        if (used + piece > kCapacity) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes) % PcmBuffer::kPageSize,
                      expected.size() % PcmBuffer::kPageSize)
                << "buffer-full starting with the piece of " << piece;
            used = 0;
        }
        for (std::size_t i = 0; i < piece; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + piece);
        expected.insert(expected.end(), bytes, bytes + piece);
        writer.Commit(piece);
        used += piece;
    }
    ASSERT_TRUE(writer.Flush());
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST(StereoStream, EndBlocksSilenceTheirPairButNotTheStream) {
    const Bytes stream = Concat({
        Block(0x0C, 0, {1}), LastNibbleBlock(3),  // pair 1: both decoded
        EndBlock(), Block(0x1C, 0, {}),           // pair 2: left end block, right goes on
        LastNibbleBlock(6), EndBlock(),           // pair 3: right end block silences both
        Block(0x1C, 0, {}), Block(0x1C, 0, {}),   // pair 4: each channel from its own history
    });
    const StreamResult result = DecodeToFile(DecodeStereoStream, stream, stream.size());
    EXPECT_EQ(result.consumed, 128u);
    const std::vector<std::int16_t> frames = Samples(result.written);
    ASSERT_EQ(frames.size(), 4 * 56u);
    EXPECT_EQ(frames[0], 1);   // pair 1, frame 0, left
    EXPECT_EQ(frames[55], 3);  // pair 1, frame 27, right
    EXPECT_EQ(frames[56], 0);  // pair 2: the left end block is silence
    EXPECT_EQ(frames[57], 3);  // 0.9375 * 3 = 2.8125 from the right history
    for (std::size_t i = 112; i < 168; ++i) EXPECT_EQ(frames[i], 0) << i;
    // Pair 3's left block was decoded into its history even though its frames were cleared.
    EXPECT_EQ(frames[168], 6);  // 0.9375 * 6 = 5.625
}

TEST(WavHeader, SizesFollowTheDecodedData) {
    WavHeader mono;
    EXPECT_EQ(FillMonoWavHeader(mono, 112, 44100), 44u);
    EXPECT_EQ(LoadLe32(&mono[4]), 148u);
    EXPECT_EQ(LoadLe16(&mono[22]), 1u);
    EXPECT_EQ(LoadLe32(&mono[28]), 88200u);
    EXPECT_EQ(LoadLe16(&mono[32]), 2u);
    EXPECT_EQ(LoadLe32(&mono[40]), 112u);
    WavHeader stereo;
    EXPECT_EQ(FillStereoWavHeader(stereo, 224, 48000), 44u);
    EXPECT_EQ(LoadLe32(&stereo[4]), 260u);
    EXPECT_EQ(LoadLe16(&stereo[22]), 2u);
    EXPECT_EQ(LoadLe32(&stereo[28]), 192000u);
    EXPECT_EQ(LoadLe16(&stereo[32]), 4u);
    EXPECT_EQ(0, std::memcmp(&stereo[0], "RIFF", 4));
    EXPECT_EQ(0, std::memcmp(&stereo[8], "WAVEfmt ", 8));
    EXPECT_EQ(0, std::memcmp(&stereo[36], "data", 4));
}

// Conversions of whole images into a file in a temporary folder.
class ConvertTest : public ::testing::Test {
  protected:
    std::string Output() const { return folder_ / "out.WAV"; }
    bool OutputExists() const { return testing::fs::exists(Output()); }
    Bytes OutputBytes() const { return ReadBytes(Output()); }

    TempDir folder_;
};

TEST_F(ConvertTest, MonoImageBecomesAWavWithHonestSizes) {
    const Bytes data = Concat({Block(0x0C, 0, {1}), Block(0x0C, 0, {2})});
    const Bytes image = Image(kVagMagic, 32, 22050, data);
    ASSERT_EQ(ConvertVagImage(Output().c_str(), image.data(), image.size()), ResultCode::Ok);
    const Bytes wav = OutputBytes();
    ASSERT_EQ(wav.size(), 44u + 112u);
    EXPECT_EQ(LoadLe32(&wav[4]), 148u);
    EXPECT_EQ(LoadLe32(&wav[24]), 22050u);
    EXPECT_EQ(LoadLe32(&wav[40]), 112u);
    EXPECT_EQ(Samples(wav, 44)[0], 1);
    EXPECT_EQ(Samples(wav, 44)[28], 2);
}

TEST_F(ConvertTest, StereoImageBecomesAWavWithHonestSizes) {
    const Bytes data = Concat(
        {Block(0x0C, 0, {1}), Block(0x0C, 0, {2}), Block(0x0C, 0, {3}), Block(0x0C, 0, {4})});
    const Bytes image = Image(kSterMagic, 32, 48000, data);
    ASSERT_EQ(ConvertSterImage(Output().c_str(), image.data(), image.size()), ResultCode::Ok);
    const Bytes wav = OutputBytes();
    ASSERT_EQ(wav.size(), 44u + 224u);
    EXPECT_EQ(LoadLe32(&wav[4]), 260u);
    EXPECT_EQ(LoadLe32(&wav[40]), 224u);
    const std::vector<std::int16_t> frames = Samples(wav, 44);
    EXPECT_EQ(frames[0], 1);
    EXPECT_EQ(frames[1], 2);
    EXPECT_EQ(frames[56], 3);
    EXPECT_EQ(frames[57], 4);
}

TEST_F(ConvertTest, CountsOnlyWholeBlocksThatAreDeclaredAndHeld) {
    // Declared 100 bytes: six whole blocks are decoded and counted, the 4-byte rest is not.
    const Bytes sevenBlocks(7 * 16, 0x00);
    const Bytes declared100 = Image(kVagMagic, 100, 8000, sevenBlocks);
    ASSERT_EQ(ConvertVagImage(Output().c_str(), declared100.data(), declared100.size()),
              ResultCode::Ok);
    EXPECT_EQ(LoadLe32(&OutputBytes()[40]), 336u);
    EXPECT_EQ(OutputBytes().size(), 44u + 336u);

    // Declared far more than held: only what the image holds is read.
    const Bytes declaredHuge = Image(kVagMagic, 0xFFFFFFF0u, 8000, Bytes(3 * 16, 0x00));
    ASSERT_EQ(ConvertVagImage(Output().c_str(), declaredHuge.data(), declaredHuge.size()),
              ResultCode::Ok);
    EXPECT_EQ(LoadLe32(&OutputBytes()[40]), 3 * 56u);

    // A mono image stops after its end block, and only what was written is counted.
    const Bytes withEnd =
        Image(kVagMagic, 64, 8000, Concat({Block(0x0C, 0, {1}), EndBlock(), Bytes(32, 0x11)}));
    ASSERT_EQ(ConvertVagImage(Output().c_str(), withEnd.data(), withEnd.size()), ResultCode::Ok);
    EXPECT_EQ(LoadLe32(&OutputBytes()[40]), 112u);
    EXPECT_EQ(LoadLe32(&OutputBytes()[4]), 148u);
}

TEST_F(ConvertTest, ReplacesALongerExistingFile) {
    testing::WriteBytes(Output(), Bytes(5000, 0xAA));
    const Bytes image = Image(kVagMagic, 16, 8000, Block(0x0C, 0, {1}));
    ASSERT_EQ(ConvertVagImage(Output().c_str(), image.data(), image.size()), ResultCode::Ok);
    EXPECT_EQ(OutputBytes().size(), 44u + 56u);
}

TEST_F(ConvertTest, RefusedImagesCreateNoFileAndLeaveAnExistingOneAlone) {
    const Bytes oneBlock = Block(0x0C, 0, {1});
    const std::vector<Bytes> refused = {
        Image(kVagMagic, 0, 8000, oneBlock),       // size field 0
        Image(kVagMagic, 15, 8000, oneBlock),      // less than one block declared
        Image(kVagMagic, 32, 8000, Bytes(15, 0)),  // less than one block held
        Image("VAGi", 16, 8000, oneBlock),         // another format
        Bytes(40, 0),                              // shorter than a header
    };
    for (std::size_t i = 0; i < refused.size(); ++i) {
        EXPECT_EQ(ConvertVagImage(Output().c_str(), refused[i].data(), refused[i].size()),
                  ResultCode::UnknownFormat)
            << i;
        EXPECT_FALSE(OutputExists()) << i;
    }
    const Bytes halfPair = Image(kSterMagic, 16, 8000, oneBlock);  // stereo needs 32 bytes
    EXPECT_EQ(ConvertSterImage(Output().c_str(), halfPair.data(), halfPair.size()),
              ResultCode::UnknownFormat);
    testing::WriteBytes(Output(), Bytes(10, 0xAA));
    const Bytes mono = Image(kVagMagic, 16, 8000, oneBlock);
    EXPECT_EQ(ConvertSterImage(Output().c_str(), mono.data(), mono.size()),
              ResultCode::UnknownFormat);
    EXPECT_EQ(OutputBytes(), Bytes(10, 0xAA));
}

TEST_F(ConvertTest, ACreateFailureIsAWriteFailure) {
    const Bytes image = Image(kVagMagic, 16, 8000, Block(0x0C, 0, {1}));
    const std::string inMissingFolder = folder_ / "missing/out.WAV";
    EXPECT_EQ(ConvertVagImage(inMissingFolder.c_str(), image.data(), image.size()),
              ResultCode::WriteFailed);
}

}  // namespace
}  // namespace sorvik
