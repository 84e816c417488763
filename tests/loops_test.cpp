// Loop points and listing, in memory: the loops that block flags mark, the "smpl" chunk and the
// repeated rendition written for them, and the listing of an archive without a file written.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "codec/batch.h"
#include "sfs/sfs_extractor.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/memory_io.h"
#include "tests/support/reference_decoder.h"

namespace sorvik::testing {
namespace {

using Flags = std::vector<std::pair<std::size_t, std::uint8_t>>;  // block, flag

// A mono image of `blocks` blocks at `rate` with the flags set; stereo sets them in both channels
// unless `rightFlags` are given.
Bytes Image(std::size_t blocks, const Flags& flags, bool stereo = false, std::uint32_t rate = 8000,
            const Flags& rightFlags = {}) {
    const double seconds = blocks * 28.0 / rate;
    Bytes left = EncodeAdpcm(Sine(rate / 37.0, seconds, rate, 12000), false);
    Bytes right = EncodeAdpcm(Sine(rate / 23.0, seconds, rate, 8000), false);
    left.resize(blocks * 16), right.resize(blocks * 16);
    for (const auto& [block, flag] : flags) left[block * 16 + 1] = right[block * 16 + 1] = flag;
    for (const auto& [block, flag] : rightFlags) right[block * 16 + 1] = flag;
    return stereo ? MakeSterImage(left, right, rate, "loop", false)
                  : MakeVagImage(left, rate, "loop", false);
}

std::uint32_t Le32(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

// The chunks of a RIFF file by their ids, read independently of the program's writer; empty when
// its sizes do not add up.
std::map<std::string, Bytes> Chunks(const Bytes& wav) {
    std::map<std::string, Bytes> chunks;
    if (wav.size() < 12 || Le32(wav, 4) != wav.size() - 8) return {};
    for (std::size_t at = 12; at < wav.size();) {
        const std::uint32_t size = Le32(wav, at + 4);
        if (wav.size() - at - 8 < size) return {};
        chunks[std::string(wav.begin() + at, wav.begin() + at + 4)] =
            Bytes(wav.begin() + at + 8, wav.begin() + at + 8 + size);
        at += 8 + size + size % 2;
    }
    return chunks;
}

Bytes ToWav(const Bytes& image, const WavOptions& options = {}) {
    MemorySource source(image.data(), image.size());
    MemorySink sink;
    EXPECT_EQ(ConvertLooseImage(source, sink, "out.WAV", options), ResultCode::Ok);
    return sink.files["out.WAV"];
}

TEST(Loops, FlagsMarkLoopsAsTheChipPlaysThem) {
    struct Case {
        const char* what;
        Flags flags;
        std::uint64_t samples;
        std::optional<LoopPoints> loop;
    };
    const std::vector<Case> cases = {
        {"no marks", {}, 280, std::nullopt},
        {"start 6, end 3", {{2, 6}, {5, 3}}, 280, LoopPoints{2, 5}},
        {"end without a start loops from the first block", {{4, 3}}, 280, LoopPoints{0, 4}},
        {"start without an end", {{2, 6}}, 280, std::nullopt},
        {"the last start before the end", {{1, 6}, {3, 4}, {5, 3}}, 280, LoopPoints{3, 5}},
        {"the first end settles it", {{1, 6}, {2, 3}, {4, 6}, {6, 3}}, 280, LoopPoints{1, 2}},
        {"an end without repeat plays once", {{1, 6}, {2, 1}, {4, 3}}, 280, std::nullopt},
        {"marks after the end block", {{3, 7}, {4, 6}, {6, 3}}, 4 * 28, std::nullopt},
        {"a one-block loop", {{8, 7 | 8}}, 280, LoopPoints{8, 8}},
    };
    for (const Case& c : cases) {
        const Bytes image = Image(10, c.flags);
        MemorySource source(image.data(), image.size());
        SoundFacts facts;
        ASSERT_EQ(DescribeLooseImage(source, facts), ResultCode::Ok) << c.what;
        EXPECT_EQ(facts.samples, c.samples) << c.what;
        EXPECT_EQ(facts.loop, c.loop) << c.what;
    }
    // A header that cannot be read is told apart from one that is not a sound's.
    const Bytes image = Image(10, {});
    MemorySource whole(image.data(), image.size());
    CutSource cut(whole, 10);
    SoundFacts facts;
    EXPECT_EQ(DescribeLooseImage(cut, facts), ResultCode::ReadFailed);
    MemorySource noBlock(image.data(), 60);  // a header and less than a block
    EXPECT_EQ(DescribeLooseImage(noBlock, facts), ResultCode::UnknownFormat);
    // Stereo takes the left channel's loop and says when the right one differs.
    for (const bool differs : {false, true}) {
        const Bytes image = Image(10, {{2, 6}, {5, 3}}, true, 8000, differs ? Flags{{5, 0}} : Flags{});
        MemorySource source(image.data(), image.size());
        SoundFacts facts;
        ASSERT_EQ(DescribeLooseImage(source, facts), ResultCode::Ok);
        EXPECT_EQ(facts.loop, (LoopPoints{2, 5}));
        EXPECT_EQ(facts.rightLoopDiffers, differs);
    }
}

TEST(Loops, TheSmplChunkHoldsTheLoopAndNothingElseChanges) {
    for (const bool stereo : {false, true}) {
        const Bytes looped = Image(10, {{2, 6}, {5, 3}}, stereo, 44100);
        const Bytes plain = ToWav(looped);
        const Bytes withChunk = ToWav(looped, WavOptions{true, 0});
        std::map<std::string, Bytes> chunks = Chunks(withChunk);
        ASSERT_EQ(chunks.size(), 3u);
        EXPECT_TRUE(chunks["data"] == Chunks(plain)["data"]);
        // Period 22676 ns; one forward loop from sample 56 to sample 167, its last.
        const std::uint32_t fields[15] = {0, 0, 22676, 60, 0, 0, 0, 1, 0, 0, 0, 56, 167, 0, 0};
        Bytes smpl;
        for (const std::uint32_t field : fields) {
            for (int i = 0; i < 4; ++i) smpl.push_back(static_cast<std::uint8_t>(field >> 8 * i));
        }
        EXPECT_TRUE(chunks["smpl"] == smpl);
        // A sound without a loop is written as without the option.
        const Bytes unlooped = Image(10, {}, stereo);
        EXPECT_TRUE(ToWav(unlooped, WavOptions{true, 0}) == ToWav(unlooped));
    }
}

TEST(Loops, RepeatsThenFadesOutOverTenSeconds) {
    const std::uint32_t rate = 100;  // a fade of 1000 frames
    for (const bool stereo : {false, true}) {
        const std::size_t channels = stereo ? 2 : 1;
        const Bytes image = Image(12, {{2, 6}, {5, 3}}, stereo, rate);
        for (const unsigned count : {1u, 3u}) {
            // Played as the chip plays it: blocks 0-5, then 2-5 over and over, history carried on.
            Bytes played(image.begin() + 48, image.begin() + 48 + 6 * 16 * channels);
            while (played.size() < 80 * 16 * channels) {
                played.insert(played.end(), image.begin() + 48 + 2 * 16 * channels,
                              image.begin() + 48 + 6 * 16 * channels);
            }
            std::vector<std::int16_t> samples;
            if (stereo) {
                reference::DecodeStereoPairs(played.data(), played.size() / 32, samples);
            } else {
                reference::DecodeMonoBlocks(played.data(), played.size() / 16, samples);
            }
            const std::size_t fadeStart = 168 + (count - 1) * 112, frames = fadeStart + 1000;
            samples.resize(frames * channels);
            for (std::size_t frame = fadeStart; frame < frames; ++frame) {
                for (std::size_t c = 0; c < channels; ++c) {
                    std::int16_t& sample = samples[frame * channels + c];
                    sample = static_cast<std::int16_t>(sample * int(frames - frame) / 1000);
                }
            }
            const Bytes data = Chunks(ToWav(image, WavOptions{true, count}))["data"];
            ASSERT_EQ(data.size(), frames * channels * 2) << count;
            EXPECT_TRUE(std::equal(samples.begin(), samples.end(),
                                   reinterpret_cast<const std::int16_t*>(data.data())))
                << count;
            EXPECT_LT(std::abs(samples.back()), 40);
        }
    }
}

struct Row {
    std::string name;
    SoundPlace place;
    SoundFacts facts;
    ResultCode result;
};

class RowCatalog final : public SoundCatalog {
  public:
    std::vector<Row> rows;
    void Listed(const std::string& name, const SoundPlace& place, const SoundFacts& facts,
                ResultCode result) override {
        rows.push_back({name, place, facts, result});
    }
};

TEST(Listing, EverySoundOfAnArchiveInOrderAndNothingWritten) {
    ArchiveContents contents = MakeArchiveContents();
    Bytes& track0 = contents.tracks[0].image = Image(40, {{4, 6}, {30, 3}}, true, 32000, {{30, 0}});
    for (int i = 0; i < 4; ++i) track0[4 + i] = track0[15 - i];  // the archive's size field
    contents.seBank.entries[1].SetName("SE_000.VAG");  // named like the first
    std::fill_n(contents.voiceBank.entries[2].image.begin() + 12, 4, 0);
    const ArchiveImage image = LayOutArchive(contents);
    SparseSource archive(image);
    RowCatalog catalog;
    RecordingReporter reporter;
    MemorySink names;
    const sfs::DecodedImages naming;
    const sfs::ListedImages listed(naming, catalog);
    sfs::SfsExtractor lister(listed, Section::kAll, names, reporter, FailurePolicy::KeepGoing);
    ASSERT_EQ(lister.ExtractAll(archive, "SOUND.SFS", ArchiveIndexFiles(image)), ResultCode::Ok);
    EXPECT_EQ(names.started, 0);
    ASSERT_EQ(catalog.rows.size(), 22u + 38 + 5 + 4);
    const Row& effect = catalog.rows[1];
    EXPECT_EQ(effect.name, "SE_NONAME01.WAV");
    EXPECT_EQ(effect.place.offset, 354304u + catalog.rows[0].place.bytes);
    EXPECT_EQ(effect.facts.samples, effect.place.bytes / 16 * 28);
    const Row& track = catalog.rows[22];
    EXPECT_EQ(track.place.offset, 878592u);
    EXPECT_EQ(track.facts.channels, 2);
    EXPECT_EQ(track.facts.sampleRate, 32000u);
    EXPECT_EQ(track.facts.loop, (LoopPoints{4, 30}));
    EXPECT_TRUE(track.facts.rightLoopDiffers);
    EXPECT_EQ(catalog.rows[22 + 38 + 1].name, "SE_000_2.WAV");
    EXPECT_EQ(catalog.rows[22 + 38 + 5 + 2].result, ResultCode::UnknownFormat);
    EXPECT_EQ(catalog.rows.back().result, ResultCode::Ok);
}

}  // namespace
}  // namespace sorvik::testing
