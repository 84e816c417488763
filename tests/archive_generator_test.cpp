// The synthetic archive generator: its default contents are a complete, consistent archive, and
// the writer puts every region, image and index entry where the archive's layout says.

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "common/byte_order.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/test_files.h"

namespace sorvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadRange(const fs::path& path, std::uint64_t offset, std::size_t size) {
    std::ifstream stream(path, std::ios::binary);
    stream.seekg(static_cast<std::streamoff>(offset));
    Bytes bytes(size);
    stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    EXPECT_TRUE(stream) << "short read at " << offset;
    return bytes;
}

std::size_t CountEndBlocks(const Bytes& adpcm) {
    std::size_t count = 0;
    for (std::size_t at = 0; at + 16 <= adpcm.size(); at += 16) count += adpcm[at + 1] == 7;
    return count;
}

std::string NameField(const Bytes& image) {
    const char* field = reinterpret_cast<const char*>(image.data() + 32);
    return std::string(field, std::find(field, field + 16, '\0'));
}

// The index file a bank should produce, built byte by byte.
Bytes ExpectedIndex(const BankSpec& bank, std::uint32_t countField) {
    Bytes bytes(8, 0);
    StoreLe32(&bytes[4], countField);
    for (const BankEntrySpec& entry : bank.entries) {
        bytes.insert(bytes.end(), entry.nameField.begin(), entry.nameField.end());
        bytes.resize(bytes.size() + 4);
        StoreLe32(&bytes[bytes.size() - 4], entry.span);
    }
    return bytes;
}

TEST(ArchiveGenerator, DefaultContentsAreACompleteConsistentArchive) {
    const ArchiveContents contents = MakeArchiveContents();

    // 22 headerless sounds packed back to back: the block ends exactly with the 22nd end block.
    const Bytes& effects = contents.effectsBlock;
    ASSERT_EQ(effects.size() % 16, 0u);
    EXPECT_LE(effects.size(), layout::kEffectsBlockSize);
    EXPECT_EQ(CountEndBlocks(effects), layout::kEffectCount);
    EXPECT_EQ(effects[effects.size() - 15], 7);

    ASSERT_EQ(contents.tracks.size(), layout::kBgmTrackCount);
    for (std::size_t k = 0; k < contents.tracks.size(); ++k) {
        const Bytes& image = contents.tracks[k].image;
        SCOPED_TRACE("track " + std::to_string(k));
        ASSERT_GT(image.size(), 48u);
        EXPECT_TRUE(HasMagic(image.data(), "STER"));
        EXPECT_EQ(NameField(image), (k < 10 ? "BGM0" : "BGM") + std::to_string(k));
        const std::uint32_t channelBytes = LoadLe32(&image[4]);
        EXPECT_EQ(LoadBe32(&image[12]), channelBytes);
        EXPECT_EQ(image.size(), 48u + 2u * channelBytes);
        EXPECT_EQ(contents.tracks[k].extraSectors, 0u);
    }

    const std::pair<const BankSpec*, std::string> banks[] = {{&contents.seBank, "SE_00"},
                                                             {&contents.voiceBank, "V_000"}};
    for (const auto& [bank, prefix] : banks) {
        ASSERT_FALSE(bank->entries.empty());
        EXPECT_FALSE(bank->entryCountField.has_value());
        EXPECT_TRUE(bank->writeIndex);
        for (std::size_t i = 0; i < bank->entries.size(); ++i) {
            const BankEntrySpec& entry = bank->entries[i];
            SCOPED_TRACE(prefix + std::to_string(i));
            EXPECT_EQ(std::string(entry.nameField.data()), prefix + std::to_string(i) + ".VAG");
            EXPECT_TRUE(HasMagic(entry.image.data(), "VAGp"));
            const std::uint32_t dataBytes = LoadLe32(&entry.image[4]);
            EXPECT_EQ(LoadBe32(&entry.image[12]), dataBytes);
            EXPECT_EQ(entry.image.size(), 48u + dataBytes);
            EXPECT_EQ(entry.span, entry.image.size());
            const Bytes data(entry.image.begin() + 48, entry.image.end());
            EXPECT_EQ(CountEndBlocks(data), 1u);
            EXPECT_EQ(Bytes(data.end() - 16, data.end()), EndBlock());
        }
    }
    EXPECT_EQ(contents.seBank.entries.size(), 5u);
    EXPECT_EQ(contents.voiceBank.entries.size(), 4u);
}

TEST(ArchiveGenerator, WritesEveryRegionAtItsOffset) {
    const ArchiveContents contents = MakeArchiveContents();
    TempDir folder;
    const ArchiveLayout placed = WriteArchive(contents, folder.Path() / "game", "DATA.SFS");
    const fs::path archive = folder.Path() / "game" / "DATA.SFS";

    EXPECT_EQ(fs::file_size(archive), placed.fileSize);
    EXPECT_EQ(ReadRange(archive, layout::kEffectsBlockOffset, contents.effectsBlock.size()),
              contents.effectsBlock);

    ASSERT_EQ(placed.trackOffsets.size(), contents.tracks.size());
    std::uint64_t expected = layout::kBgmOffset;
    for (std::size_t k = 0; k < contents.tracks.size(); ++k) {
        const Bytes& image = contents.tracks[k].image;
        EXPECT_EQ(placed.trackOffsets[k], expected) << "track " << k;
        EXPECT_EQ(ReadRange(archive, placed.trackOffsets[k], image.size()), image);
        // The step to the next track counts both channels' data but not the header.
        expected = AlignToSector(placed.trackOffsets[k] + 2 * std::uint64_t{LoadLe32(&image[4])});
    }

    const std::tuple<const BankSpec*, const std::vector<std::uint64_t>*, std::uint64_t, const char*>
        banks[] = {
            {&contents.seBank, &placed.seOffsets, layout::kSeBankOffset, layout::kSeIndexName},
            {&contents.voiceBank, &placed.voiceOffsets, layout::kVoiceBankOffset,
             layout::kVoiceIndexName}};
    std::uint64_t end = 0;
    for (const auto& [bank, offsets, base, indexName] : banks) {
        ASSERT_EQ(offsets->size(), bank->entries.size());
        expected = base;
        for (std::size_t i = 0; i < bank->entries.size(); ++i) {
            const BankEntrySpec& entry = bank->entries[i];
            EXPECT_EQ((*offsets)[i], expected) << indexName << " entry " << i;
            EXPECT_EQ(ReadRange(archive, (*offsets)[i], entry.image.size()), entry.image);
            expected = AlignToSector((*offsets)[i] + entry.span);
            end = (*offsets)[i] + entry.image.size();
        }
        EXPECT_EQ(ReadBytes(folder.Path() / "game" / indexName),
                  ExpectedIndex(*bank, static_cast<std::uint32_t>(bank->entries.size())));
    }
    EXPECT_EQ(placed.fileSize, end);  // the archive ends with the last voice
}

TEST(ArchiveGenerator, ArchiveIsSparse) {
#if defined(_WIN32)
    GTEST_SKIP() << "allocated size is not reported through the standard library here";
#else
    TempDir folder;
    const ArchiveLayout placed = WriteArchive(MakeArchiveContents(), folder.Path());
    struct stat status {};
    ASSERT_EQ(::stat((folder.Path() / "SOUND.SFS").string().c_str(), &status), 0);
    EXPECT_GT(placed.fileSize, layout::kVoiceBankOffset);
    // A few hundred kilobytes of sound in a file of about 290 MB.
    EXPECT_LT(static_cast<std::uint64_t>(status.st_blocks) * 512, 8u * 1024 * 1024);
#endif
}

TEST(ArchiveGenerator, FollowsEditsOfTheModel) {
    ArchiveContents contents = MakeArchiveContents();
    contents.tracks[3].extraSectors = 1;
    contents.seBank.entries[1].extraSectors = 1;
    contents.seBank.entries[2].nameField.fill('N');  // 28 bytes without a zero
    contents.seBank.entries[3].span = 100000;        // a wide gap before the next image
    contents.seBank.entryCountField = 0x00010005;
    contents.voiceBank.writeIndex = false;
    // 2 * S a multiple of the sector size: the computed offset of the next track lies inside
    // this image's data, so that track goes one sector further.
    contents.tracks[10].image = MakeTrackImage("EVEN", 64, 10);

    TempDir folder;
    WriteBytes(folder.Path() / layout::kVoiceIndexName, {1, 2, 3});  // stale, to be removed
    const ArchiveLayout placed = WriteArchive(contents, folder.Path());

    const auto& tracks = placed.trackOffsets;
    const auto trackStep = [&](std::size_t k) {
        return AlignToSector(tracks[k] + 2 * std::uint64_t{LoadLe32(&contents.tracks[k].image[4])});
    };
    EXPECT_EQ(tracks[3], trackStep(2) + 2048);
    EXPECT_EQ(tracks[4], trackStep(3));  // computed from where track 3 really is
    ASSERT_EQ(contents.tracks[10].image.size(), 48u + 2048);
    EXPECT_EQ(tracks[11], trackStep(10) + 2048);
    EXPECT_EQ(tracks[12], trackStep(11));

    const auto& se = placed.seOffsets;
    EXPECT_EQ(se[1], AlignToSector(se[0] + contents.seBank.entries[0].span) + 2048);
    EXPECT_EQ(se[2], AlignToSector(se[1] + contents.seBank.entries[1].span));
    EXPECT_EQ(se[4], AlignToSector(se[3] + 100000));

    const fs::path archive = folder.Path() / "SOUND.SFS";
    EXPECT_EQ(ReadRange(archive, tracks[11], 48),
              Bytes(contents.tracks[11].image.begin(), contents.tracks[11].image.begin() + 48));
    EXPECT_EQ(ReadBytes(folder.Path() / layout::kSeIndexName),
              ExpectedIndex(contents.seBank, 0x00010005));
    EXPECT_FALSE(fs::exists(folder.Path() / layout::kVoiceIndexName));

    // A chosen size cuts the archive, here inside the first track.
    contents.fileSize = layout::kBgmOffset + 100;
    EXPECT_EQ(WriteArchive(contents, folder.Path()).fileSize, layout::kBgmOffset + 100);
    EXPECT_EQ(fs::file_size(archive), layout::kBgmOffset + 100);

    PatchFile(archive, layout::kBgmOffset + 4, {0xF0, 0xFF});
    EXPECT_EQ(ReadRange(archive, layout::kBgmOffset, 8),
              Bytes({'S', 'T', 'E', 'R', 0xF0, 0xFF, contents.tracks[0].image[6],
                     contents.tracks[0].image[7]}));
}

TEST(ArchiveGenerator, RefusesContentsThatCannotBeLaidOut) {
    TempDir folder;
    ArchiveContents contents = MakeArchiveContents();
    contents.effectsBlock.resize(layout::kEffectsBlockSize + 16);
    EXPECT_THROW(WriteArchive(contents, folder.Path()), std::invalid_argument);

    // A huge size field would push the next track past the named-effect bank.
    contents = MakeArchiveContents();
    StoreLe32(&contents.tracks[0].image[4], 0x7FFFFFF0);
    EXPECT_THROW(WriteArchive(contents, folder.Path()), std::invalid_argument);

    // A span far shorter than the image would put the next image inside it.
    contents = MakeArchiveContents();
    contents.voiceBank.entries[0] = MakeBankEntry("LONG.VAG", MakeBankImage("LONG", 400));
    contents.voiceBank.entries[0].span = 16;
    EXPECT_THROW(WriteArchive(contents, folder.Path()), std::invalid_argument);
}

}  // namespace
}  // namespace sorvik::testing
