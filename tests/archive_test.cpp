// The binary run on generated ".sfs" archives: every section raw and decoded, the search for late
// headers, names from archive data, and damaged or incomplete archives.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/convert.h"
#include "common/byte_order.h"
#include "common/japanese_texts.h"
#include "platform/platform.h"
#include "sfs/output_names.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/test_files.h"
#include "tests/support/transcript.h"

namespace sorvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

const std::string kSep(1, platform::kPathSeparator);

// "\r1 / n\r2 / n ..." up to `shown`.
std::string Counts(long shown, long total) {
    std::string counts;
    for (long k = 1; k <= shown; ++k) {
        counts += "\r" + std::to_string(k) + " / " + std::to_string(total);
    }
    return counts;
}

// The sounds of the effects block, each up to and including its end block.
std::vector<Bytes> SplitEffects(const Bytes& block) {
    std::vector<Bytes> effects;
    std::size_t start = 0;
    for (std::size_t offset = 0; offset + 16 <= block.size() && effects.size() < 22; offset += 16) {
        if (block[offset + 1] == 7) {
            effects.emplace_back(block.begin() + static_cast<std::ptrdiff_t>(start),
                                 block.begin() + static_cast<std::ptrdiff_t>(offset + 16));
            start = offset + 16;
        }
    }
    return effects;
}

std::string TrackName(const Bytes& image) {
    const char* field = reinterpret_cast<const char*>(image.data() + 32);
    return std::string(field, std::find(field, field + 16, '\0'));
}

std::string EntryName(const BankEntrySpec& entry) {
    return std::string(entry.nameField.data(),
                       std::find(entry.nameField.begin(), entry.nameField.end() - 1, '\0'));
}

std::string WavName(std::string name) { return name.substr(0, name.rfind('.')) + ".WAV"; }

class ArchiveTest : public ::testing::Test {
  protected:
    ArchiveTest() : contents_(MakeArchiveContents()) {}

    void Write() { layout_ = WriteArchive(contents_, root_.Path() / "game"); }
    std::string ArchivePath() const { return (root_.Path() / "game" / "SOUND.SFS").string(); }
    std::string IndexPath(const char* name) const {
        return (root_.Path() / "game" / name).string();
    }

    RunResult Run(std::vector<std::string> options) {
        options.push_back(ArchivePath());
        options.push_back("out");
        return RunSorvik(options, root_.Path());
    }
    Names Outputs() const { return ListFilesBelow(root_.Path() / "out"); }
    Bytes Output(const std::string& name) const { return ReadBytes(root_.Path() / "out" / name); }
    // Everything below the temporary folder that is not the input or the destination.
    Names Strays() const {
        Names strays;
        for (const std::string& name : ListFilesBelow(root_.Path())) {
            if (name.rfind("out/", 0) != 0 && name.rfind("game/", 0) != 0) strays.push_back(name);
        }
        return strays;
    }

    // The transcript pieces of each section, when it runs to its end.
    static std::string Started() { return "starting...\rdestination:\n\tout" + kSep + "\n\n"; }
    static std::string EffectsSection() {
        return "extracting: SFS\\SE\n" + Counts(22, 22) + "\n\n";
    }
    static std::string BgmSection() { return "extracting: BGM\n\n" + Counts(38, 38) + "\n\n"; }
    std::string BankSection(const char* indexName, long count) const {
        return "extracting: " + IndexPath(indexName) + "\n" + Counts(count, count) + "\n\n";
    }
    static std::string Finished() { return "\nfinished!\n"; }

    // Decodes an image in-process, as the binary should have.
    Bytes Decoded(const Bytes& image) {
        const std::string path = scratch_ / "expected.WAV";
        const ResultCode result = image[0] == 'S'
                                      ? ConvertSterImage(path.c_str(), image.data(), image.size())
                                      : ConvertVagImage(path.c_str(), image.data(), image.size());
        EXPECT_EQ(result, ResultCode::Ok);
        return ReadBytes(path);
    }

    TempDir root_;
    TempDir scratch_;
    ArchiveContents contents_;
    ArchiveLayout layout_;
};

TEST_F(ArchiveTest, EverySectionDecoded) {
    Write();
    const RunResult run = Run({});
    EXPECT_EQ(run.output,
              Transcript(Started() + EffectsSection() + BgmSection() + BankSection("LMVSE.000", 5) +
                         BankSection("LMVVOICE.000", 4) + Finished()));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Outputs().size(), 22u + 38u + 5u + 4u);
    const std::vector<Bytes> effects = SplitEffects(contents_.effectsBlock);
    ASSERT_EQ(effects.size(), 22u);
    for (std::size_t i = 0; i < effects.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "SE_NONAME%02zu", i);
        // Played at 48000 Hz, with the end block decoded as silence.
        const Bytes wav = Output(std::string(name) + ".WAV");
        EXPECT_EQ(wav, Decoded(MakeVagImage(effects[i], 48000, name, true))) << name;
        EXPECT_EQ(wav.size(), 44 + effects[i].size() / 16 * 56) << name;
    }
    for (const TrackSpec& track : contents_.tracks) {
        EXPECT_EQ(Output(TrackName(track.image) + ".WAV"), Decoded(track.image));
    }
    for (const BankSpec* bank : {&contents_.seBank, &contents_.voiceBank}) {
        for (const BankEntrySpec& entry : bank->entries) {
            EXPECT_EQ(Output(WavName(EntryName(entry))), Decoded(entry.image)) << EntryName(entry);
        }
    }
    EXPECT_EQ(Strays(), Names{});
}

TEST_F(ArchiveTest, EverySectionRaw) {
    Write();
    const RunResult run = Run({"-x"});
    EXPECT_EQ(run.output,
              Transcript(Started() + EffectsSection() + BgmSection() + BankSection("LMVSE.000", 5) +
                         BankSection("LMVVOICE.000", 4) + Finished()));
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<Bytes> effects = SplitEffects(contents_.effectsBlock);
    for (std::size_t i = 0; i < effects.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "SE_NONAME%02zu", i);
        // A made-up header: sizes at 4 (LE) and 12 (BE), 48000 Hz, the name without ".VAG".
        EXPECT_EQ(Output(std::string(name) + ".VAG"), MakeVagImage(effects[i], 48000, name, true))
            << name;
    }
    for (const TrackSpec& track : contents_.tracks) {
        EXPECT_EQ(Output(TrackName(track.image) + ".VAG"), track.image);
    }
    for (const BankSpec* bank : {&contents_.seBank, &contents_.voiceBank}) {
        for (const BankEntrySpec& entry : bank->entries) {
            EXPECT_EQ(Output(EntryName(entry)), entry.image) << EntryName(entry);
        }
    }
    EXPECT_EQ(Outputs().size(), 22u + 38u + 5u + 4u);
}

TEST_F(ArchiveTest, SectionOptionsChooseWhatRunsAndTheLastOneWins) {
    Write();
    struct Case {
        std::vector<std::string> options;
        std::string sections;
        std::size_t files;
    };
    const std::vector<Case> cases = {
        {{"-tbgm"}, BgmSection(), 38},
        {{"-tse", "-tbgm"}, BgmSection(), 38},
        {{"-tbgm", "-tse"}, EffectsSection() + BankSection("LMVSE.000", 5), 27},
        {{"-tvoice"}, BankSection("LMVVOICE.000", 4), 4},
    };
    for (const Case& testCase : cases) {
        fs::remove_all(root_.Path() / "out");
        const RunResult run = Run(testCase.options);
        EXPECT_EQ(run.output, Transcript(Started() + testCase.sections + Finished()))
            << testCase.options[0];
        EXPECT_EQ(Outputs().size(), testCase.files) << testCase.options[0];
    }
    // The bank sections need only their own index.
    fs::remove(IndexPath("LMVSE.000"));
    fs::remove_all(root_.Path() / "out");
    EXPECT_EQ(Run({"-tvoice"}).exitCode, 0);
    EXPECT_EQ(Outputs().size(), 4u);
}

TEST_F(ArchiveTest, LateHeadersAreFoundOneSectorFurther) {
    contents_.tracks[3].extraSectors = 1;
    contents_.seBank.entries[1].extraSectors = 1;
    Write();
    ASSERT_EQ(layout_.trackOffsets[3] % 2048, 0u);
    const RunResult run = Run({"-x", "-tbgm"});
    EXPECT_EQ(run.exitCode, 0);
    for (const std::size_t track : {3, 4, 37}) {
        EXPECT_EQ(Output(TrackName(contents_.tracks[track].image) + ".VAG"),
                  contents_.tracks[track].image);
    }
    EXPECT_EQ(Run({"-x", "-tse"}).exitCode, 0);
    for (const BankEntrySpec& entry : contents_.seBank.entries) {
        EXPECT_EQ(Output(EntryName(entry)), entry.image);
    }
    // Two sectors late is too far: the search looks only one sector further.
    contents_.tracks[5].extraSectors = 2;
    Write();
    const RunResult tooLate = Run({"-x", "-tbgm"});
    EXPECT_EQ(tooLate.output,
              Transcript(Started() + "extracting: BGM\n\n" + Counts(6, 38) + "\n\n" +
                         ArchivePath() + ": Unknown format.\n\n" + Finished()));
    EXPECT_EQ(tooLate.exitCode, 1);
}

TEST_F(ArchiveTest, ALargeTrackGrowsTheBufferAndSmallerOnesFollow) {
    // 48 + 2 * 3300 * 16 bytes is above the 102400 bytes the buffer starts with.
    contents_.tracks[0].image = MakeTrackImage("BIG", 3300, 1);
    contents_.tracks[1].image = MakeTrackImage("SMALL", 10, 2);
    contents_.seBank.entries[0] = MakeBankEntry("LONG.VAG", MakeBankImage("LONG", 7000, 3));
    Write();
    EXPECT_EQ(Run({}).exitCode, 0);
    EXPECT_EQ(Output("BIG.WAV"), Decoded(contents_.tracks[0].image));
    EXPECT_EQ(Output("SMALL.WAV"), Decoded(contents_.tracks[1].image));
    EXPECT_EQ(Output("LONG.WAV"), Decoded(contents_.seBank.entries[0].image));
    EXPECT_EQ(Run({"-x"}).exitCode, 0);
    EXPECT_EQ(Output("BIG.VAG"), contents_.tracks[0].image);
}

TEST_F(ArchiveTest, NamesFromTheArchiveStayInTheDestinationAndNeverOverwrite) {
    contents_.tracks[0].image = MakeTrackImage("ABCDEFGHIJKLMNOP", 4);  // 16 bytes, no zero
    contents_.tracks[1].image = MakeTrackImage("", 4);
    contents_.tracks[2].image = MakeTrackImage("../../evil", 4);
    contents_.tracks[3].image = MakeTrackImage("..", 4);
    contents_.tracks[4].image = MakeTrackImage("SAME", 4, 1);
    contents_.tracks[5].image = MakeTrackImage("SAME", 4, 2);
    contents_.tracks[6].image = MakeTrackImage("C:\\x\x01", 4);
    contents_.tracks[7].image = MakeTrackImage("con", 4);  // a device name on Windows
    auto& entries = contents_.seBank.entries;
    entries[0].SetName("/abs/path.VAG");
    entries[1].SetName("SAME.VAG");  // decoded, it meets the track's SAME.WAV
    entries[2].SetName("");
    entries[3].SetName(std::string(28, 'N'));  // no zero in the field: cut at 27
    entries[4].SetName("SAME_2.VAG");          // taken by the numbering already
    Write();
    EXPECT_EQ(Run({}).exitCode, 0);
    const Names outputs = Outputs();
    EXPECT_EQ(outputs.size(), 22u + 38u + 5u + 4u);
    const Names expectedNames = {"ABCDEFGHIJKLMNOP.WAV",
                                 ".WAV",
                                 ".._.._evil.WAV",
                                 "_.WAV",
                                 "C__x_.WAV",
                                 "_abs_path.WAV",
                                 "ENTRY00003.WAV",
                                 std::string(27, 'N') + ".WAV",
                                 platform::IsReservedFileName("con") ? "_con.WAV" : "con.WAV"};
    for (const std::string& expected : expectedNames) {
        EXPECT_NE(std::find(outputs.begin(), outputs.end(), expected), outputs.end()) << expected;
    }
    // A repeated name is numbered, skipping numbers already taken in the run.
    EXPECT_EQ(Output("SAME.WAV"), Decoded(contents_.tracks[4].image));
    EXPECT_EQ(Output("SAME_2.WAV"), Decoded(contents_.tracks[5].image));
    EXPECT_EQ(Output("SAME_3.WAV"), Decoded(entries[1].image));
    EXPECT_EQ(Output("SAME_2_2.WAV"), Decoded(entries[4].image));
    EXPECT_EQ(Strays(), Names{});
}

TEST_F(ArchiveTest, IndexCounts) {
    contents_.seBank.entryCountField = 0;
    contents_.voiceBank.entries.resize(3);
    contents_.voiceBank.entryCountField = 0x00010003;  // only the low 16 bits count
    Write();
    const RunResult run = Run({});
    EXPECT_EQ(run.output, Transcript(Started() + EffectsSection() + BgmSection() +
                                     "extracting: " + IndexPath("LMVSE.000") + "\n\n\n" +
                                     BankSection("LMVVOICE.000", 3) + Finished()));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Outputs().size(), 22u + 38u + 3u);
}

TEST_F(ArchiveTest, AMissingIndexStopsBeforeItsBank) {
    contents_.seBank.writeIndex = false;
    Write();
    const RunResult run = Run({});
    EXPECT_EQ(run.output, Transcript(Started() + EffectsSection() + BgmSection() + "\n\n" +
                                     "Can't read " + ArchivePath() + ".\n\n" + Finished()));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errorOutput, Transcript(std::string(texts::kMissingIndexCaption) + "\nLMVSE.000" +
                                          texts::kMissingIndexRequest + "\n"));
    EXPECT_EQ(Outputs().size(), 22u + 38u);  // no voices either

    fs::remove(IndexPath("LMVVOICE.000"));
    const RunResult voices = Run({"-tvoice"});
    EXPECT_EQ(voices.output,
              Transcript(Started() + "\n\nCan't read " + ArchivePath() + ".\n\n" + Finished()));
    EXPECT_EQ(voices.exitCode, 1);
    EXPECT_EQ(voices.errorOutput,
              Transcript(std::string(texts::kMissingIndexCaption) + "\nLMVVOICE.000" +
                         texts::kMissingIndexRequest + "\n"));
}

TEST_F(ArchiveTest, AnArchiveThatCannotBeOpened) {
    const RunResult run = Run({"-tbgm"});
    EXPECT_EQ(run.output,
              Transcript(Started() + "Can't read " + ArchivePath() + ".\n\n" + Finished()));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Outputs(), Names{});
}

TEST_F(ArchiveTest, AnArchiveCutShortInEachRegion) {
    Write();
    const ArchiveLayout full = layout_;
    struct Case {
        const char* region;
        std::uint64_t size;
        std::string transcript;
        std::size_t files;
    };
    const std::vector<Case> cases = {
        {"effects", layout::kEffectsBlockOffset + 1000, "", 0},
        {"music", full.trackOffsets[4] + 100,
         EffectsSection() + "extracting: BGM\n\n" + Counts(5, 38) + "\n\n", 22 + 4},
        {"music header", full.trackOffsets[4] + 20,
         EffectsSection() + "extracting: BGM\n\n" + Counts(5, 38) + "\n\n", 22 + 4},
        {"effects bank", full.seOffsets[2] + 60,
         EffectsSection() + BgmSection() + "extracting: " + IndexPath("LMVSE.000") + "\n" +
             Counts(3, 5) + "\n\n",
         22 + 38 + 2},
        {"voices", full.voiceOffsets[3] + 49,
         EffectsSection() + BgmSection() + BankSection("LMVSE.000", 5) +
             "extracting: " + IndexPath("LMVVOICE.000") + "\n" + Counts(4, 4) + "\n\n",
         22 + 38 + 5 + 3},
    };
    for (const Case& testCase : cases) {
        contents_.fileSize = testCase.size;
        Write();
        fs::remove_all(root_.Path() / "out");
        const RunResult run = Run({});
        EXPECT_EQ(run.output, Transcript(Started() + testCase.transcript + "Can't read " +
                                         ArchivePath() + ".\n\n" + Finished()))
            << testCase.region;
        EXPECT_EQ(run.exitCode, 1) << testCase.region;
        EXPECT_EQ(fs::exists(root_.Path() / "out") ? Outputs().size() : 0u, testCase.files)
            << testCase.region;
    }
}

TEST_F(ArchiveTest, CorruptSizeFieldsNeverReadPastTheArchive) {
    Write();
    // A track claiming almost 8 GiB of data, and a bank image claiming almost 4 GiB.
    PatchFile(ArchivePath(), layout_.trackOffsets[1] + 4, {0xF0, 0xFF, 0xFF, 0xFF});
    PatchFile(ArchivePath(), layout_.voiceOffsets[0] + 4, {0xF0, 0xFF, 0xFF, 0xFF});
    const RunResult music = Run({"-tbgm"});
    EXPECT_EQ(music.output, Transcript(Started() + "extracting: BGM\n\n" + Counts(2, 38) +
                                       "\n\nCan't read " + ArchivePath() + ".\n\n" + Finished()));
    const RunResult voices = Run({"-tvoice", "-x"});
    EXPECT_EQ(voices.exitCode, 1);
    EXPECT_EQ(Outputs(), Names{"BGM00.WAV"});
}

TEST_F(ArchiveTest, ADeclaredSizeBeyondTheDataReadIsCutToIt) {
    Bytes& image = contents_.tracks[0].image;
    const std::uint32_t held = LoadLe32(&image[4]);
    StoreBe32(&image[12], held + 4096);  // the decoder's size field says more than is stored
    Write();
    EXPECT_EQ(Run({"-tbgm"}).exitCode, 0);
    const Bytes wav = Output(TrackName(image) + ".WAV");
    EXPECT_EQ(wav.size(), 44 + held / 16 * 56 * 2);
    EXPECT_EQ(wav, Decoded(image));
}

TEST_F(ArchiveTest, AnEffectsBlockWithoutEnoughEndBlocks) {
    // Three sounds, then a fourth that has no end block and runs to the end of the block; the
    // fifth finds nothing left.
    const std::vector<Bytes> effects = SplitEffects(contents_.effectsBlock);
    Bytes block;
    for (int i = 0; i < 3; ++i) block.insert(block.end(), effects[i].begin(), effects[i].end());
    block.resize(layout::kEffectsBlockSize, 0x00);
    contents_.effectsBlock = block;
    Write();
    for (const bool raw : {false, true}) {
        fs::remove_all(root_.Path() / "out");
        const RunResult run =
            Run(raw ? std::vector<std::string>{"-x"} : std::vector<std::string>{});
        EXPECT_EQ(run.output,
                  Transcript(Started() + "extracting: SFS\\SE\n" + Counts(5, 22) + "\n\n" +
                             ArchivePath() + ": Unknown format.\n\n" + Finished()));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(Outputs(), (Names{raw ? "SE_NONAME00.VAG" : "SE_NONAME00.WAV",
                                    raw ? "SE_NONAME01.VAG" : "SE_NONAME01.WAV",
                                    raw ? "SE_NONAME02.VAG" : "SE_NONAME02.WAV",
                                    raw ? "SE_NONAME03.VAG" : "SE_NONAME03.WAV"}));
        const std::size_t restBytes =
            layout::kEffectsBlockSize - effects[0].size() - effects[1].size() - effects[2].size();
        const Bytes fourth = Output(raw ? "SE_NONAME03.VAG" : "SE_NONAME03.WAV");
        EXPECT_EQ(fourth.size(), raw ? 48 + restBytes : 44 + restBytes / 16 * 56);
    }
}

TEST(OutputNames, RepeatsAreNumberedSkippingNamesAlreadyTaken) {
    sfs::OutputNameRegistry names;
    EXPECT_EQ(names.Claim("a.WAV"), "a.WAV");
    EXPECT_EQ(names.Claim("a_2.WAV"), "a_2.WAV");
    EXPECT_EQ(names.Claim("a.WAV"), "a_3.WAV");
    EXPECT_EQ(names.Claim("voice"), "voice");
    EXPECT_EQ(names.Claim("voice"), "voice_2");
    EXPECT_EQ(names.Claim("A.WAV"), platform::kCaseInsensitiveNames ? "A_4.WAV" : "A.WAV");
    // Thousands of sounds of one name: each claim goes on from the last number given.
    std::string last;
    for (int i = 0; i < 10000; ++i) last = names.Claim("a.WAV");
    EXPECT_EQ(last, platform::kCaseInsensitiveNames ? "a_10004.WAV" : "a_10003.WAV");
}

}  // namespace
}  // namespace sorvik::testing
