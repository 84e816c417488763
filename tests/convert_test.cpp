// Sound images to WAV files, run in memory through the seam: the bytes written for good and
// damaged images, what a failing disk or a shrinking input leaves (nothing), what a header's
// claims cost (only what is decoded), and the names outputs get.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "app/progress_line.h"
#include "codec/batch.h"
#include "codec/describe.h"
#include "common/archive_names.h"
#include "common/display_name.h"
#include "common/output_names.h"
#include "common/progress_source.h"
#include "platform/platform.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/memory_io.h"
#include "tests/support/reference_decoder.h"

namespace sorvik::testing {
namespace {

Bytes MonoImage(std::size_t blocks, bool endBlock = true) {
    Bytes adpcm = EncodeAdpcm(Sine(440, blocks * 28 / 22050.0, 22050, 12000), endBlock);
    return MakeVagImage(adpcm, 22050, "tone", false);
}

Bytes StereoImage(std::size_t blocks) {
    const double seconds = blocks * 28 / 32000.0;
    return MakeSterImage(EncodeAdpcm(Sine(440, seconds, 32000, 9000), false),
                         EncodeAdpcm(Sine(660, seconds, 32000, 30000), false), 32000, "pair",
                         false);
}

Bytes Prefix(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

void SetBe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

ResultCode Convert(ByteSource& source, MemorySink& sink, WavOptions options = {}) {
    return ConvertLooseImage(source, sink, "out.WAV", options);
}

TEST(ConvertLooseImage, WritesExactlyWhatIsDeclaredAndHeldOrNothing) {
    struct Case {
        const char* what;
        Bytes image;
        ResultCode result;
    };
    Bytes endInTheMiddle = MonoImage(40);
    endInTheMiddle[48 + 10 * 16 + 1] = 7;
    Bytes declaredShort = MonoImage(40, false);
    SetBe32(declaredShort, 12, 20 * 16 + 5);
    Bytes declaredLong = MonoImage(40, false);
    SetBe32(declaredLong, 12, 1000 * 16);
    Bytes stereoEnds = StereoImage(30);
    stereoEnds[48 + 3 * 32 + 1] = 7, stereoEnds[48 + 7 * 32 + 16 + 1] = 7;
    Bytes stereoPartial = StereoImage(30);
    stereoPartial.resize(stereoPartial.size() - 20);
    Bytes otherMagic = MonoImage(4), sizeZero = MonoImage(4);
    otherMagic[3] = 'i';
    SetBe32(sizeZero, 12, 0);
    const std::vector<Case> cases = {
        {"mono", MonoImage(2000), ResultCode::Ok},
        {"mono that ends at an end block", endInTheMiddle, ResultCode::Ok},
        {"mono declared short", declaredShort, ResultCode::Ok},
        {"mono declared beyond the file", declaredLong, ResultCode::Ok},
        {"stereo", StereoImage(9000), ResultCode::Ok},
        {"stereo end blocks", stereoEnds, ResultCode::Ok},
        {"stereo with a partial pair", stereoPartial, ResultCode::Ok},
        {"another magic", otherMagic, ResultCode::UnknownFormat},
        {"size field 0", sizeZero, ResultCode::UnknownFormat},
        {"no whole block", Prefix(MonoImage(1), 60), ResultCode::UnknownFormat},
        {"no whole pair", Prefix(StereoImage(1), 79), ResultCode::UnknownFormat},
        {"shorter than a magic", Bytes{'V', 'A'}, ResultCode::UnknownFormat},
        {"empty", Bytes{}, ResultCode::ReadFailed},
    };
    for (const Case& c : cases) {
        MemorySource source(c.image.data(), c.image.size());
        MemorySink sink;
        EXPECT_EQ(Convert(source, sink), c.result) << c.what;
        if (c.result != ResultCode::Ok) {
            EXPECT_TRUE(sink.files.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(sink.files.size(), 1u) << c.what;
        EXPECT_TRUE(sink.files["out.WAV"] == reference::ExpectedWav(c.image)) << c.what;
    }
}

// `adpcm` repeated until it holds `blocks` blocks.
Bytes Repeated(const Bytes& adpcm, std::size_t blocks) {
    Bytes repeated;
    while (repeated.size() < blocks * kBlockBytes)
        repeated.insert(repeated.end(), adpcm.begin(), adpcm.end());
    return Prefix(repeated, blocks * kBlockBytes);
}

TEST(ConvertLooseImage, AFailedWriteCommitOrReadLeavesNothing) {
    // 4.5 MB of PCM each, five pieces or more, written on a second thread (so a write fails
    // while the next piece decodes) and directly.
    const Bytes low = EncodeAdpcm(Sine(440, 2000 * 28 / 32000.0, 32000, 9000), false);
    const Bytes high = EncodeAdpcm(Sine(660, 2000 * 28 / 32000.0, 32000, 30000), false);
    const Bytes mono = MakeVagImage(Repeated(low, 80000), 32000, "tone", false);
    const Bytes stereo =
        MakeSterImage(Repeated(low, 40000), Repeated(high, 40000), 32000, "pair", false);
    for (const Bytes* image : {&mono, &stereo}) {
        MemorySource whole(image->data(), image->size());
        for (int write = 0; write <= 13; ++write) {  // none, the header, five pieces; both ways
            const WavOptions options{false, 0, write % 2 == 0 ? SecondThread::Always
                                                              : SecondThread::Never};
            CutSource counting(whole, UINT64_MAX);
            MemorySink sink;
            sink.failAtWrite = write / 2;
            if (write < 2) {
                EXPECT_EQ(Convert(counting, sink, options), ResultCode::Ok);
                EXPECT_TRUE(sink.files["out.WAV"] == reference::ExpectedWav(*image));
                continue;
            }
            EXPECT_EQ(Convert(counting, sink, options), ResultCode::WriteFailed) << write;
            EXPECT_TRUE(sink.files.empty()) << write;
            // Decoding stops within a piece of the failed write (a piece takes 256 KiB of ADPCM
            // at most), and nothing is left waiting or running.
            EXPECT_LE(counting.bytesRead, 48 + (write / 2 + 1) * 256 * 1024u) << write;
        }
        MemorySink refusing;
        refusing.failCommit = true;
        EXPECT_EQ(Convert(whole, refusing), ResultCode::WriteFailed);
        MemorySink full;
        full.createLimit = 0;
        EXPECT_EQ(Convert(whole, full), ResultCode::WriteFailed);
        for (const std::uint64_t readable : {std::uint64_t{2}, std::uint64_t{40}, std::uint64_t{image->size() / 2},
                                             std::uint64_t{image->size() - 1}}) {
            CutSource shrinking(whole, readable);
            MemorySink sink;
            EXPECT_EQ(Convert(shrinking, sink), ResultCode::ReadFailed) << readable;
            EXPECT_TRUE(sink.files.empty()) << readable;
            EXPECT_LE(sink.started, 1);
        }
    }
}

// A file of `size` bytes that holds `head` and then zeros, and counts the bytes read from it.
struct ClaimingFile {
    ClaimingFile(Bytes head, std::uint64_t size) {
        image.extents[0] = std::move(head);
        image.fileSize = size;
    }
    ArchiveImage image;
    SparseSource sparse{image};
    CutSource source{sparse, UINT64_MAX};
};

TEST(ConvertLooseImage, CostFollowsTheSoundNotWhatTheHeaderClaims) {
    // 3 GiB that declare 4 GiB of data, with the sound ending at its second block.
    Bytes head = MonoImage(1);
    SetBe32(head, 12, 0xFFFFFFF0);
    ClaimingFile huge(head, 3ull << 30);
    MemorySink sink;
    EXPECT_EQ(Convert(huge.source, sink), ResultCode::Ok);
    EXPECT_EQ(sink.files["out.WAV"].size(), 44u + 2 * 56);
    EXPECT_LT(huge.source.bytesRead, 2u << 20);

    // A stereo image whose WAV would pass 4 GiB is refused before anything is read or made.
    Bytes stereoHead = StereoImage(1);
    SetBe32(stereoHead, 12, 0xFFFFFF00);
    ClaimingFile stereo(stereoHead, 9ull << 30);
    EXPECT_EQ(Convert(stereo.source, sink), ResultCode::UnknownFormat);
    EXPECT_EQ(ConvertLooseImage(stereo.source, sink, "x", {true, 0}), ResultCode::UnknownFormat);
    EXPECT_EQ(sink.started, 1);
    EXPECT_LT(stereo.source.bytesRead, 200u);

    // A mono image whose WAV would pass 4 GiB (1.25 GiB declared, no end block): its flags are
    // read to its end, and it is refused before an output is started, however it is asked for.
    Bytes endless = MonoImage(1, false);
    SetBe32(endless, 12, 5u << 28);
    ClaimingFile flat(endless, 2ull << 30);
    for (const WavOptions& options : {WavOptions{}, WavOptions{true, 0}, WavOptions{false, 2}}) {
        MemorySink none;
        none.failAtWrite = 2;  // should an output be started, it stops at its first piece
        EXPECT_EQ(ConvertLooseImage(flat.source, none, "x", options), ResultCode::UnknownFormat);
        EXPECT_EQ(none.started, 0);
    }
    EXPECT_LE(flat.source.bytesRead, 3 * (52 + (5ull << 28)));
    SoundFacts facts;
    EXPECT_EQ(DescribeLooseImage(flat.source, facts), ResultCode::UnknownFormat);
    EXPECT_EQ(facts.samples, (5ull << 28) / 16 * 28);
}

TEST(OutputNames, SafeNamesAndOneRegistryPerRun) {
    const bool windows = platform::kPathSeparator == '\\';
    const std::vector<std::pair<std::string, std::string>> safe = {
        {"BGM01", "BGM01"}, {"../up", ".._up"}, {"a/b\\c:d", "a_b_c_d"},
        {"..", "_"}, {std::string("t\x01x", 3), "t_x"}, {"sorvik-unfinished-1-0.tmp",
                                                          "_sorvik-unfinished-1-0.tmp"},
        {"CON.WAV", windows ? "_CON.WAV" : "CON.WAV"}, {"a?b", windows ? "a_b" : "a?b"},
        {"conin$.VAG", windows ? "_conin$.VAG" : "conin$.VAG"},
        {"CONOUT$", windows ? "_CONOUT$" : "CONOUT$"},
        {"表/ソ\\.VAG", "表_ソ_.VAG"}, {"\x95\x5c.VAG", windows ? "__.VAG" : "\x95_.VAG"},
    };
    for (const auto& [name, expected] : safe) EXPECT_EQ(MakeSafeFileName(name), expected) << name;

    OutputNameRegistry names;
#if defined(__APPLE__)
    const bool folds = true;  // as the default file system of macOS compares names
#else
    const bool folds = windows;
#endif
    const std::vector<std::pair<std::string, std::string>> claims = {
        {"x.WAV", "x.WAV"},     {"x.WAV", "x_2.WAV"},  {"x_2.WAV", "x_2_2.WAV"},
        {"x.WAV", "x_3.WAV"},   {"noext", "noext"},    {"noext", "noext_2"},
        {"X.wav", folds ? "X_4.wav" : "X.wav"},
        {"trail.", "trail."},   {"trail", windows ? "trail_2" : "trail"},
        {"Ａ.WAV", "Ａ.WAV"},   {"ａ.wav", windows ? "ａ_2.wav" : "ａ.wav"},
    };
    for (const auto& [name, expected] : claims) EXPECT_EQ(names.Claim(name), expected) << name;
}

TEST(OutputNames, ArchiveNamesAreCodePage932AndUtf8InsideTheSameOnEverySystem) {
    const std::vector<std::pair<std::string, std::string>> read = {
        {"BGM01", "BGM01"}, {"\x95\x5c.VAG", "表.VAG"}, {"\x83\x5c\x83\x41", "ソア"},
        {"\x81\x60\xb1", "～ｱ"}, {"\xf0\x40", "\xee\x80\x80"},
        // Not code page 932: bytes the systems read differently, a lone lead byte, a bad trail
        {"a\xa0", "a\xa0"}, {"\xfd\x40", "\xfd\x40"}, {"x\x95", "x\x95"}, {"\x95\x7f", "\x95\x7f"},
        {"\x85\x40", "\x85\x40"},  // a double-byte code no character has
    };
    for (const auto& [bytes, utf8] : read) EXPECT_EQ(NameFromArchive(bytes), utf8) << bytes;
    const std::vector<std::tuple<std::string, std::size_t, std::string>> written = {
        {"表", 15, "\x95\x5c"}, {"ABCDEFGHIJKLMN表", 15, "ABCDEFGHIJKLMN"}, {"ｱ", 1, "\xb1"},
        {"é表", 15, "é表"}, {"é表", 4, "é"}, {"plain", 3, "pla"},
    };
    for (const auto& [name, limit, bytes] : written) {
        EXPECT_EQ(NameForArchive(name, limit), bytes) << name;
    }
}

TEST(DisplayNames, ControlAndBidiCharactersAreEscapedAndEverythingElseKept) {
    std::vector<std::pair<std::string, std::string>> shown = {
        {"BGM01.WAV", "BGM01.WAV"}, {"C:\\My Sounds\\a~b.vag", "C:\\My Sounds\\a~b.vag"},
        {"a\x1b]0;PWNED\x07\x1b[2J.vag", "a\\x1b]0;PWNED\\x07\\x1b[2J.vag"},
        {"a\tb\nc\r", "a\\x09b\\x0ac\\x0d"}, {std::string("n\0l\x7f", 4), "n\\x00l\\x7f"},
        // Raw C1 controls (CSI), also before trail bytes, and invalid bytes above them, a lead byte
        // before no trail byte
        {"\x9b" "2J\x85", "\\x9b2J\\x85"}, {"\x83\n\x9b\xff\xe9", "\\x83\\x0a\\x9b\xff\xe9"},
        {"\x83\\\x81\x40", "\\x83\\\\x81@"}, {"\x9b\x80\x80", "\\x9b\\x80\\x80"},
        // UTF-8: C1 and bidi controls (U+00A0, U+202F and U+2029 are none), an overlong form,
        // Japanese, a cut character
        {"\xc2\x80\xc2\x9b" "2J\xc2\xa0", "\\xc2\\x80\\xc2\\x9b2J\xc2\xa0"},
        {"evil\xe2\x80\xae" "gpj.vag", "evil\\xe2\\x80\\xaegpj.vag"},
        {"\xd8\x9c\xe2\x80\x8f\xe2\x80\xaa\xe2\x80\xaf\xe2\x80\xa9\xe2\x81\xa9",
         "\\xd8\\x9c\\xe2\\x80\\x8f\\xe2\\x80\\xaa\xe2\x80\xaf\xe2\x80\xa9\\xe2\\x81\\xa9"},
        {"\xe2\x80\x8d\xe2\x80\x8e", "\xe2\x80\x8d\\xe2\\x80\\x8e"},  // a joiner kept, LRM not
        {"\xc0\x9b", "\xc0\\x9b"}, {"cut\xe2\x80", "cut\xe2\\x80"},
        {"\xe0\xa0\x80\xe0\x9f\xbf", "\xe0\xa0\x80\xe0\\x9f\xbf"},  // U+0800, and an overlong form
        {"効果音_01.vag", "効果音_01.vag"}, {"\xf0\x9f\x8e\xb5.vag", "\xf0\x9f\x8e\xb5.vag"},
    };
    for (const auto& [name, expected] : shown) EXPECT_EQ(DisplayName(name), expected) << name;
}

// Only the progress, which the archive's and the batch's event tables leave out.
class ProgressRecorder final : public Reporter {
  public:
    std::vector<std::uint64_t> done;
    void Progress(std::uint64_t bytes, std::uint64_t total) override {
        EXPECT_EQ(total, 48u + (2 << 20));
        done.push_back(bytes);
    }
};

TEST(Progress, ALongSoundTellsItsShareAtMostEachPercentAndTheLineShowsItWithTheSpeed) {
    const Bytes image = MakeVagImage(Bytes(2 << 20, 0), 22050, "long", false);
    MemorySource memory(image.data(), image.size());
    ProgressRecorder recorder;
    ProgressSource watched(memory, recorder, 0, image.size());
    MemorySink sink;
    ASSERT_EQ(ConvertLooseImage(watched, sink, "long.WAV"), ResultCode::Ok);
    ASSERT_GE(recorder.done.size(), 2u);
    EXPECT_LE(recorder.done.size(), 101u);
    EXPECT_TRUE(std::is_sorted(recorder.done.begin(), recorder.done.end()));
    EXPECT_EQ(recorder.done.back(), image.size());
    const std::vector<std::tuple<std::uint64_t, std::uint64_t, double, std::string>> texts = {
        {42000000, 100000000, 3.414, "  42% 12.3 MB/s"}, {1, 3, 0, "  33% 0.0 MB/s"},
        {0, 0, 0, " 100% 0.0 MB/s"}, {5000000000, 5000000000, 2, " 100% 2500.0 MB/s"},
    };
    for (const auto& [done, total, seconds, text] : texts) {
        EXPECT_EQ(ProgressText(done, total, seconds), text);
    }
}

}  // namespace
}  // namespace sorvik::testing
