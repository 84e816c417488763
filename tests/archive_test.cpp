// Archive extraction run in memory: a generated archive served as a sparse source, its index
// files from memory, outputs into a memory sink. What is written for each section, raw and
// decoded; what the user is told; and what damage, a failing disk or a lying header do.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sfs/sfs_extractor.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/memory_io.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_files.h"

namespace sorvik::testing {
namespace {

using Names = std::vector<std::string>;

struct Extraction {
    ResultCode result;
    MemorySink sink;
    RecordingReporter reporter;
    std::uint64_t bytesRead = 0;
    unsigned failuresPassed = 0;
};

void Extract(const ArchiveContents& contents, bool decode, Extraction& run,
             SectionMask sections = Section::kAll,
             FailurePolicy policy = FailurePolicy::StopAtFirst) {
    const ArchiveImage image = LayOutArchive(contents);
    SparseSource sparse(image);
    CutSource archive(sparse, UINT64_MAX);  // counts what is read
    archive.identity = platform::FileIdentity{7, 1};
    const sfs::RawImages raw;
    const sfs::DecodedImages decoded;
    sfs::SfsExtractor extractor(decode ? static_cast<const sfs::ImageOutput&>(decoded) : raw,
                                sections, run.sink, run.reporter, policy);
    run.result = extractor.ExtractAll(archive, "SOUND.SFS", ArchiveIndexFiles(image));
    run.bytesRead = archive.bytesRead;
    run.failuresPassed = extractor.FailuresPassed();
}

Names FileNames(const MemorySink& sink) {
    Names names;
    for (const auto& [name, bytes] : sink.files) names.push_back(name);
    return names;
}

Names Numbered(const char* prefix, int count, const char* suffix) {
    Names names;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "%s%02d%s", prefix, i, suffix);
        names.push_back(name);
    }
    return names;
}

TEST(Archive, EverySectionRawAndDecoded) {
    ArchiveContents contents = MakeArchiveContents();
    contents.tracks[7].image = MakeTrackImage("BGM07", 4200);  // sizes above 16 bits
    for (const bool decode : {false, true}) {
        Extraction run;
        Extract(contents, decode, run);
        ASSERT_EQ(run.result, ResultCode::Ok);
        const char* extension = decode ? ".WAV" : ".VAG";
        Names expected = Numbered("BGM", 38, extension);
        for (const Names& more : {Numbered("SE_0", 5, extension), Numbered("SE_NONAME", 22, extension),
                                  Numbered("V_00", 4, extension)}) {
            expected.insert(expected.end(), more.begin(), more.end());
        }
        EXPECT_EQ(FileNames(run.sink), expected);
        const Bytes& track = contents.tracks[7].image;
        const Bytes& out = run.sink.files[std::string("BGM07") + extension];
        EXPECT_TRUE(out == (decode ? reference::ExpectedWav(track) : track));
        if (!decode) {
            const Bytes& effect = run.sink.files["SE_NONAME03.VAG"];
            EXPECT_EQ(std::string(effect.begin(), effect.begin() + 4), "VAGp");
            EXPECT_EQ(std::string(effect.begin() + 32, effect.begin() + 43), "SE_NONAME03");
        }
        const Names& events = run.reporter.events;
        EXPECT_EQ(Names(events.begin(), events.begin() + 3),
                  (Names{"section 0 ", "1/22", std::string("wrote SE_NONAME00") + extension}));
        EXPECT_EQ(std::count(events.begin(), events.end(), "end"), 4);
        EXPECT_EQ(std::count(events.begin(), events.end(), "section 2 LMVSE.000"), 1);
    }
}

TEST(Archive, ARawEffectCountsAllOfItsDataInItsHeader) {
    ArchiveContents contents = MakeArchiveContents();
    contents.effectsBlock = MakeEffectSound(5000);  // 80,000 bytes: sizes above 16 bits
    Extraction run;
    Extract(contents, false, run, Section::kSe);
    const Bytes& effect = run.sink.files["SE_NONAME00.VAG"];
    ASSERT_EQ(effect.size(), 48u + 80000);
    EXPECT_EQ(Bytes(effect.begin() + 4, effect.begin() + 16),
              (Bytes{0x80, 0x38, 0x01, 0, 0, 0, 0, 0, 0, 0x01, 0x38, 0x80}));
}

TEST(Archive, SectionsChooseWhatRuns) {
    const ArchiveContents contents = MakeArchiveContents();
    const std::vector<std::pair<SectionMask, std::size_t>> cases = {
        {Section::kSe, 22 + 5}, {Section::kBgm, 38}, {Section::kVoice, 4}};
    for (const auto& [sections, files] : cases) {
        Extraction run;
        Extract(contents, true, run, sections);
        EXPECT_EQ(run.result, ResultCode::Ok);
        EXPECT_EQ(run.sink.files.size(), files) << sections;
    }
}

TEST(Archive, NamesFromTheArchiveStayBareAndNeverRepeat) {
    ArchiveContents contents = MakeArchiveContents();
    contents.tracks[1].extraSectors = 1;  // found one sector late
    contents.seBank.entries[0].SetName("../escape.VAG");
    contents.seBank.entries[1].SetName("SOUND.SFS");
    contents.seBank.entries[2].SetName("LMVSE.000");
    contents.seBank.entries[3].SetName("twin.VAG");
    contents.seBank.entries[4].SetName("twin.VAG");
    contents.voiceBank.entries[0].SetName("");
    // Code page 932 by the format, UTF-8 outside; bytes that are not code page 932 stay safe.
    contents.voiceBank.entries[1].SetName("\x95\x5c.VAG");
    contents.voiceBank.entries[2].SetName("\x83\x5c\xff.VAG");
    const bool windows = platform::kPathSeparator == '\\';
    Extraction run;
    Extract(contents, false, run, Section::kSe | Section::kVoice | Section::kBgm);
    ASSERT_EQ(run.result, ResultCode::Ok);
    for (const char* name : {".._escape.VAG", "SOUND_2.SFS", "LMVSE_2.000", "twin.VAG",
                             "twin_2.VAG", "ENTRY00001.VAG", "BGM01.VAG", "表.VAG",
                             windows ? "___.VAG" : "\x83_\xff.VAG"}) {
        EXPECT_EQ(run.sink.files.count(name), 1u) << name;
    }
}

// A destination that folds case: names that differ in case alone are one file there. No output
// takes the place of the archive being read, nor of a file that no run wrote.
TEST(Archive, ACaseBlindDestinationKeepsTheArchiveAndTheUsersFiles) {
    ArchiveContents contents = MakeArchiveContents();
    contents.seBank.entries[0].SetName("GAME.SFS");
    contents.seBank.entries[3].SetName("twin.VAG");
    contents.seBank.entries[4].SetName("TWIN.vag");
    contents.seBank.entries.push_back(contents.seBank.entries[2]);
    contents.seBank.entries[2].SetName("\x83\x41.VAG");     // two characters whose trail bytes
    contents.seBank.entries.back().SetName("\x83\x61.VAG");  // are 'A' and 'a'
    Extraction run;
    run.sink.FoldsCase();
    run.sink.files = {{"GAME.SFS", {1}}, {"se_001.vag", {2}}};
    run.sink.identities["GAME.SFS"] = platform::FileIdentity{7, 1};
    RecordingNotes notes;
    run.sink.HandleExistingFiles(ExistingFiles::Replace, &notes);
    Extract(contents, false, run, Section::kSe, FailurePolicy::KeepGoing);
    EXPECT_EQ(notes.lines, (Names{"input GAME.SFS", "se_001.vag apart SE_001_2.VAG"}));
    EXPECT_EQ(run.failuresPassed, 1u);
    for (const char* name : {"SE_001_2.VAG", "twin.VAG", "TWIN_2.vag", "ア.VAG", "ヂ.VAG"}) {
        EXPECT_EQ(run.sink.files.count(name), 1u) << name;
    }
    EXPECT_TRUE(run.sink.files["GAME.SFS"] == Bytes{1} && run.sink.files["se_001.vag"] == Bytes{2});
}

TEST(Archive, DamageStopsAtTheFirstFailureOrIsGonePastWhenAsked) {
    struct Case {
        const char* what;
        void (*damage)(ArchiveContents&);
        ResultCode result;
        std::size_t files;   // written before the failure
        Names lastEvents;    // how the run ended
        std::size_t keptGoing;  // written when keeping going: past each entry whose place is known
        unsigned failures;      // gone past then
    };
    const std::vector<Case> cases = {
        {"missing index", [](ArchiveContents& c) { c.seBank.writeIndex = false; },
         ResultCode::ReadFailed, 22 + 38, {"missing LMVSE.000", "end"}, 22 + 38 + 4, 1},
        {"index count beyond its entries", [](ArchiveContents& c) { c.voiceBank.entryCountField = 9; },
         ResultCode::UnknownFormat, 22 + 38 + 5 + 4, {"wrote V_0003.WAV", "5/9", "end"}, 69, 1},
        {"archive cut in the effects block", [](ArchiveContents& c) { c.fileSize = 400000; },
         ResultCode::ReadFailed, 0, {}, 0, 1 + 1 + 5 + 4},
        {"archive cut in the music", [](ArchiveContents& c) { c.fileSize = 878592 + 2 * 2048 + 100; },
         ResultCode::ReadFailed, 22 + 2, {"3/38", "end"}, 22 + 2, 1 + 5 + 4},
        {"track of another kind, and the next sector too",
         [](ArchiveContents& c) { c.tracks[5].image[0] = c.tracks[6].image[0] = 'X'; },
         ResultCode::UnknownFormat, 22 + 5, {"6/38", "end"}, 22 + 5 + 5 + 4, 1},
        {"track claiming data past the end",
         [](ArchiveContents& c) { c.fileSize = 221110272 + 400000, c.tracks[37].image[7] = 0x7F; },
         ResultCode::ReadFailed, 22 + 37, {"38/38", "end"}, 22 + 37 + 5, 1 + 4},
        {"effects without enough end blocks",
         [](ArchiveContents& c) { c.effectsBlock.assign(519680, 0x11); },
         ResultCode::UnknownFormat, 1, {"2/22", "end"}, 1 + 38 + 5 + 4, 1},
    };
    for (const Case& c : cases) {
        ArchiveContents contents = MakeArchiveContents();
        c.damage(contents);
        Extraction run;
        Extract(contents, true, run);
        EXPECT_EQ(run.result, c.result) << c.what;
        EXPECT_EQ(run.sink.files.size(), c.files) << c.what;
        const Names& events = run.reporter.events;
        const std::size_t tail = std::min(events.size(), c.lastEvents.size());
        EXPECT_EQ(Names(events.end() - tail, events.end()), c.lastEvents) << c.what;
        Extraction kept;
        Extract(contents, true, kept, Section::kAll, FailurePolicy::KeepGoing);
        EXPECT_EQ(kept.result, ResultCode::Ok) << c.what;
        EXPECT_EQ(kept.sink.files.size(), c.keptGoing) << c.what;
        EXPECT_EQ(kept.failuresPassed, c.failures) << c.what;
    }
}

TEST(Archive, AFailingDiskStopsTheRunAndLeavesNoPartialFile) {
    const ArchiveContents contents = MakeArchiveContents();
    for (const bool decode : {false, true}) {
        Extraction run;
        run.sink.failAtWrite = 30;
        Extract(contents, decode, run);
        EXPECT_EQ(run.result, ResultCode::WriteFailed);
        EXPECT_EQ(run.sink.files.size(), static_cast<std::size_t>(run.sink.started - 1));
        EXPECT_EQ(run.reporter.events.back(), "end");
        Extraction kept;  // going past the file that failed
        kept.sink.failAtWrite = 30;
        Extract(contents, decode, kept, Section::kAll, FailurePolicy::KeepGoing);
        EXPECT_EQ(kept.sink.files.size(), 22u + 38 + 5 + 4 - 1);
    }
}

TEST(Archive, ATrackClaimingGigabytesCostsOnlyWhatItHolds) {
    // Its size at offset 4 says 1 GiB per channel, inside a sparse archive that long; its size at
    // offset 12 says one block.
    ArchiveContents contents = MakeArchiveContents();
    contents.tracks.resize(1);
    Bytes& track = contents.tracks[0].image;
    track[4] = 0, track[5] = 0, track[6] = 0, track[7] = 0x40;
    track[12] = 0, track[13] = 0, track[14] = 0, track[15] = 16;
    contents.seBank.entries.clear();
    contents.voiceBank.entries.clear();
    contents.fileSize = 4ull << 30;
    Extraction run;
    Extract(contents, true, run, Section::kBgm);
    EXPECT_EQ(run.sink.files["BGM00.WAV"].size(), 44u + 112);
    EXPECT_LT(run.bytesRead, 1u << 20);
}

TEST(Archive, IndexFilesLieBesideAnArchiveNamedWithoutAFolder) {
    TempDir folder;  // the current folder, holding one index file in lower case
    WriteBytes(folder.Path() / "lmvse.000", {});
    const fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    const sfs::IndexFilesBeside indexFiles("SOUND.SFS");
    const bool caseBlind = platform::kCaseInsensitiveNames;
    EXPECT_EQ(indexFiles.PathOf("LMVSE.000"), caseBlind ? "LMVSE.000" : "lmvse.000");
    EXPECT_EQ(indexFiles.PathOf("LMVVOICE.000"), "LMVVOICE.000");
    EXPECT_NE(indexFiles.Open("LMVSE.000"), nullptr);
    fs::current_path(previous);
}

}  // namespace
}  // namespace sorvik::testing
