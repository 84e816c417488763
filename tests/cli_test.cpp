// The binary run as a user runs it on loose sound files: exact console transcripts, exit
// statuses, and the files it leaves behind (and nowhere else).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/convert.h"
#include "platform/platform.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/sound_synth.h"
#include "tests/support/test_files.h"
#include "tests/support/transcript.h"

namespace sorvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kUsage[] =
    "Lumivale SFS & VAG to WAV converter ver. 0.02\n\nUsage:\n\tsorvik [input] [output path]\n\n"
    "Options:\n\t-x\textract vag files (not decode)\n\t-tbgm\tbgm files only\n"
    "\t-tvoice\tvoice files only\n\t-tse\tse files only\n\t-h, -?\tshow this help\n\n";

const std::string kSep(1, platform::kPathSeparator);

Bytes MonoSound(double frequency) {
    return MakeVagImage(EncodeAdpcm(Sine(frequency, 0.2, 22050, 12000)), 22050, "tone", false);
}

Bytes StereoSound() {
    return MakeSterImage(EncodeAdpcm(Sine(440, 0.2, 32000, 9000)),
                         EncodeAdpcm(Sine(660, 0.2, 32000, 9000)), 32000, "pair", false);
}

// What the converter writes for `image`, made in-process for comparison with the binary's file.
Bytes ExpectedWav(const Bytes& image, const TempDir& scratch) {
    const std::string path = scratch / "expected.WAV";
    const bool stereo = image[0] == 'S';
    const ResultCode result = stereo ? ConvertSterImage(path.c_str(), image.data(), image.size())
                                     : ConvertVagImage(path.c_str(), image.data(), image.size());
    EXPECT_EQ(result, ResultCode::Ok);
    return ReadBytes(path);
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(root_.Path() / "in"); }

    // Runs the binary with the temporary folder as its current directory.
    RunResult Run(const std::vector<std::string>& arguments) {
        return RunSorvik(arguments, root_.Path());
    }
    void PutInput(const std::string& name, const Bytes& bytes) {
        WriteBytes(root_.Path() / "in" / name, bytes);
    }
    std::string Absolute(const std::string& relative) const {
        return (root_.Path() / fs::path(relative).make_preferred()).string();
    }
    // The start of every transcript that gets as far as the destination.
    std::string Started(const std::string& destination) const {
        return "starting...\rdestination:\n\t" + destination + "\n\n";
    }
    std::vector<std::string> Files() const { return ListFilesBelow(root_.Path()); }
    Bytes FileBytes(const std::string& relative) const {
        return ReadBytes(root_.Path() / relative);
    }

    TempDir root_;
    TempDir scratch_;
};

TEST_F(CliTest, OneFileIsWrittenBesideTheInput) {
    const Bytes sound = MonoSound(440);
    PutInput("song.vag", sound);
    const RunResult run = Run({"in" + kSep + "song.vag"});
    EXPECT_EQ(run.output,
              Transcript(Started(Absolute("in") + kSep) + "decoding file(s):\n\r\t1\nfinished!\n"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Files(), (std::vector<std::string>{"in/song.WAV", "in/song.vag"}));
    EXPECT_EQ(FileBytes("in/song.WAV"), ExpectedWav(sound, scratch_));
}

TEST_F(CliTest, ABatchGoesIntoANestedDestinationWhoseParentsAreMissing) {
    PutInput("a.vag", MonoSound(300));
    PutInput("b.b.VAG", StereoSound());
    PutInput("c.vag", MonoSound(500));
    const std::string destination = "out" + kSep + "x" + kSep + "y";
    const RunResult run = Run({"in" + kSep + "*.vag", destination});
    EXPECT_EQ(run.output, Transcript(Started(destination + kSep) +
                                     "decoding file(s):\n\r\t1\r\t2\r\t3\nfinished!\n"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Files(),
              (std::vector<std::string>{"in/a.vag", "in/b.b.VAG", "in/c.vag", "out/x/y/a.WAV",
                                        "out/x/y/b.b.WAV", "out/x/y/c.WAV"}));
    EXPECT_EQ(FileBytes("out/x/y/b.b.WAV"), ExpectedWav(StereoSound(), scratch_));
}

TEST_F(CliTest, FailuresStopTheBatchWithTheirMessage) {
    struct Case {
        const char* name;
        Bytes bytes;  // empty: a folder of that name
        std::string message;
    };
    Bytes otherFormat = MonoSound(440);
    otherFormat[3] = 'i';
    Bytes sizeZero = MonoSound(440);
    std::fill(sizeZero.begin() + 12, sizeZero.begin() + 16, 0);
    const std::vector<Case> cases = {
        {"b.vag", otherFormat, "\rb.vag: Unknown format.\n\n"},
        {"b.vag", sizeZero, "\rb.vag: Unknown format.\n\n"},
        {"b.vag", Bytes{'V', 'A'}, "\rb.vag: Unknown format.\n\n"},
        {"b.vag", Bytes{}, "\rCan't read b.vag.\n\n"},
        {"b.vag", Bytes{1}, ""},  // replaced by a folder below
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        TempDir root;
        fs::create_directories(root.Path() / "in");
        WriteBytes(root.Path() / "in" / "a.vag", MonoSound(440));
        WriteBytes(root.Path() / "in" / "c.vag", MonoSound(440));
        std::string message = cases[i].message;
        if (message.empty()) {
            fs::create_directory(root.Path() / "in" / cases[i].name);
            message = std::string("\rCan't open ") + cases[i].name + ".\n\n";
        } else {
            WriteBytes(root.Path() / "in" / cases[i].name, cases[i].bytes);
        }
        const RunResult run = RunSorvik({"in" + kSep + "*.vag", "out"}, root.Path());
        EXPECT_EQ(run.output, Transcript(Started("out" + kSep) + "decoding file(s):\n\r\t1\r\t2" +
                                         message + "\nfinished!\n"))
            << i;
        EXPECT_EQ(run.exitCode, 1) << i;
        // The file before the failure stays; nothing is made for the failing one or after it.
        EXPECT_EQ(ListFilesBelow(root.Path() / "out"), std::vector<std::string>{"a.WAV"}) << i;
    }
}

TEST_F(CliTest, NothingMatching) {
    const RunResult run = Run({"in" + kSep + "*.vag"});
    const std::string pattern = Absolute("in") + kSep + "*.vag";
    EXPECT_EQ(run.output, Transcript(Started(Absolute("in") + kSep) + pattern +
                                     " not found.\n\n\nfinished!\n"));
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(CliTest, AnInputOfAnotherKind) {
    PutInput("notes.txt", Bytes{1, 2, 3});
    const RunResult run = Run({"in" + kSep + "notes.txt"});
    EXPECT_EQ(run.output, Transcript(Started(Absolute("in") + kSep) + Absolute("in") + kSep +
                                     "notes.txt: Unknown format.\n\n\nfinished!\n"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Files(), std::vector<std::string>{"in/notes.txt"});
}

TEST_F(CliTest, HelpAndBadOptionsPrintTheUsageAndTouchNothing) {
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"-h"}, 0}, {{"-?", "in" + kSep + "song.vag"}, 0},
        {{"-q"}, 2}, {{"-TSE"}, 2},  // option letters are matched with case
        {{"-X"}, 2}, {{"-xy"}, 2},
        {{"-t"}, 2}, {{"-tvoices"}, 2},
        {{"-"}, 2},  {{"in" + kSep + "song.vag", "out", "-z"}, 2},
    };
    PutInput("song.vag", MonoSound(440));
    for (const auto& [arguments, exitCode] : cases) {
        const RunResult run = Run(arguments);
        EXPECT_EQ(run.output, Transcript(std::string("starting...\r") + kUsage)) << arguments[0];
        EXPECT_EQ(run.exitCode, exitCode) << arguments[0];
        EXPECT_EQ(Files(), std::vector<std::string>{"in/song.vag"}) << arguments[0];
    }
}

TEST_F(CliTest, AcceptedOptionsAndPlainArguments) {
    PutInput("song.vag", MonoSound(440));
    const std::string song = "in" + kSep + "song.vag";
    const std::string converted = "decoding file(s):\n\r\t1\nfinished!\n";
    // Section options replace each other; -x may carry text after a blank.
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"-tSE", song, "out"},
                                                      {"-tbgm", "-tVoice", song, "out"},
                                                      {"-x foo", song, "out"},
                                                      {"-x", song, "out"}}) {
        const RunResult run = Run(arguments);
        EXPECT_EQ(run.output, Transcript(Started("out" + kSep) + converted)) << arguments[0];
        EXPECT_EQ(run.exitCode, 0);
    }
    // A third plain argument is ignored; an empty one leaves its place to the next.
    const RunResult third = Run({song, "out", "ignored"});
    EXPECT_EQ(third.output, Transcript(Started("out" + kSep) + converted));
    const RunResult empty = Run({"", song});
    EXPECT_EQ(empty.output, Transcript(Started(Absolute("in") + kSep) + converted));
    EXPECT_EQ(Files(), (std::vector<std::string>{"in/song.WAV", "in/song.vag", "out/song.WAV"}));
}

TEST_F(CliTest, ADestinationThatIsAFileIsReportedAndNothingIsConverted) {
    PutInput("song.vag", MonoSound(440));
    WriteBytes(root_.Path() / "taken", Bytes{7});
    for (const std::string& destination : {std::string("taken"), "taken" + kSep + "below"}) {
        const RunResult run = Run({"in" + kSep + "song.vag", destination});
        EXPECT_EQ(run.output, Transcript("starting...\rCan't create " + destination + kSep +
                                         ".\n\n\nfinished!\n"));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(Files(), (std::vector<std::string>{"in/song.vag", "taken"}));
    }
}

TEST_F(CliTest, RealFilesFromHomebrewProjects) {
    const fs::path corpus = SORVIK_CORPUS_DIR;
    ASSERT_TRUE(fs::exists(corpus)) << corpus;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() == ".vag") fs::copy(entry.path(), root_.Path() / "in");
    }
    const RunResult run = Run({"in" + kSep + "nolibgs_*.vag", "out"});
    EXPECT_EQ(run.output, Transcript(Started("out" + kSep) +
                                     "decoding file(s):\n\r\t1\r\t2\r\t3\nfinished!\n"));
    // The interleaved "VAGi" file is not a format of ours.
    const RunResult interleaved = Run({"in" + kSep + "psn00bsdk_spustream_stream.vag", "out"});
    EXPECT_EQ(interleaved.output,
              Transcript(Started("out" + kSep) + "decoding file(s):\n\r\t1\r" +
                         "psn00bsdk_spustream_stream.vag: Unknown format.\n\n\nfinished!\n"));
    EXPECT_EQ(interleaved.exitCode, 1);
    // A size field shorter than the data, and one longer than the file: each file's WAV holds
    // what is both declared and held, and its header says so.
    for (const char* name : {"psn00bsdk_3dfx", "psn00bsdk_proyt"}) {
        const RunResult one = Run({"in" + kSep + name + ".vag", "out"});
        EXPECT_EQ(one.exitCode, 0) << name;
        const Bytes image = FileBytes(std::string("in/") + name + ".vag");
        EXPECT_EQ(FileBytes(std::string("out/") + name + ".WAV"), ExpectedWav(image, scratch_))
            << name;
    }
    const Bytes proyt = FileBytes("out/psn00bsdk_proyt.WAV");
    const std::size_t heldBlocks = (FileBytes("in/psn00bsdk_proyt.vag").size() - 48) / 16;
    EXPECT_EQ(proyt.size(), 44 + heldBlocks * 56);
}

}  // namespace
}  // namespace sorvik::testing
