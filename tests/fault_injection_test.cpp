// The binary as a user meets it when things go wrong around it: the disk fills up, a name in
// the destination is taken by a folder, the destination cannot be made, an input disappears or
// an archive shrinks while the run goes on; and at its limits: ten thousand files in one batch,
// size fields and spans near 4 GiB. Each run checks the exact console transcript, the exit
// status, the bytes of every file finished before the fault, and that nothing was written
// outside the destination.
//
// POSIX only: the runs use fork and exec to set a file size limit for the child, FIFOs to pause
// it at a chosen point, and a small Python process (python3 is needed) to read its peak memory.

#if !defined(_WIN32)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/sound_synth.h"
#include "tests/support/test_files.h"

namespace sorvik {
namespace {

using testing::ArchiveContents;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// --- Running the binary ------------------------------------------------------------------------

struct ChildResult {
    std::string output;  // standard output
    int exitCode = -1;   // 128 + the signal when it was killed
    long peakRssKiB = 0;
};

// One run of the sorvik binary in `workingDir`, with standard input empty and standard output
// captured in a file. `fileSizeLimit` sets RLIMIT_FSIZE with SIGXFSZ ignored, so a write that
// would pass it fails with EFBIG as on a full disk. `wrapper`, when given, is a command that
// runs the binary (its arguments follow the wrapper's).
class Child {
  public:
    Child(const std::vector<std::string>& arguments, const fs::path& workingDir,
          std::optional<std::uint64_t> fileSizeLimit = std::nullopt,
          const std::vector<std::string>& wrapper = {})
        : outputFile_(logs_ / "stdout.txt") {
        std::vector<std::string> strings = wrapper;
        strings.push_back(SORVIK_BINARY);
        strings.insert(strings.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : strings) argv.push_back(argument.data());
        argv.push_back(nullptr);
        const std::string folder = workingDir.string();
        const std::string output = outputFile_.string();

        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = ::open("/dev/null", O_RDONLY);
            if (out < 0 || in < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
                ::dup2(in, STDIN_FILENO) < 0 || ::chdir(folder.c_str()) != 0) {
                ::_exit(126);
            }
            if (fileSizeLimit) {
                const rlimit limit{static_cast<rlim_t>(*fileSizeLimit),
                                   static_cast<rlim_t>(*fileSizeLimit)};
                ::signal(SIGXFSZ, SIG_IGN);
                if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
            }
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    ChildResult Wait() {
        int status = 0;
        rusage usage{};
        if (::wait4(pid_, &status, 0, &usage) != pid_) throw std::runtime_error("wait4");
        pid_ = -1;
        ChildResult result;
        const Bytes output = ReadBytes(outputFile_);
        result.output.assign(output.begin(), output.end());
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.peakRssKiB = usage.ru_maxrss;
        return result;
    }

  private:
    TempDir logs_;
    fs::path outputFile_;
    pid_t pid_ = -1;
};

// A run whose peak memory is the binary's own. A child's peak counts the process it was forked
// from as it was at the fork, and this test process is large (tens of megabytes under the
// sanitizers), so a small Python process starts the binary and reports its peak instead; the
// peak then never reads below Python's own (about 10 MB). Under AddressSanitizer freed memory is
// held back, up to 256 MB, to catch late uses of it; that would read as growth with every file
// that allocates and frees a buffer, so the measured runs hold none back.
ChildResult RunMeasured(const std::vector<std::string>& arguments, const fs::path& workingDir) {
    TempDir report;
    const std::string reportFile = (report.Path() / "peak.txt").string();
    const std::vector<std::string> wrapper = {
        "python3", "-c",
        "import os, resource, subprocess, sys\n"
        "options = [os.environ.get('ASAN_OPTIONS', ''), 'quarantine_size_mb=0']\n"
        "os.environ['ASAN_OPTIONS'] = ':'.join(o for o in options if o)\n"
        "code = subprocess.run(sys.argv[2:]).returncode\n"
        "open(sys.argv[1], "
        "'w').write(str(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))\n"
        "sys.exit(code if code >= 0 else 128 - code)\n",
        reportFile};
    ChildResult result = Child(arguments, workingDir, std::nullopt, wrapper).Wait();
    const Bytes peak = ReadBytes(reportFile);
    result.peakRssKiB = std::stol(std::string(peak.begin(), peak.end()));
    return result;
}

ChildResult RunBinary(const std::vector<std::string>& arguments, const fs::path& workingDir,
                      std::optional<std::uint64_t> fileSizeLimit = std::nullopt) {
    return Child(arguments, workingDir, fileSizeLimit).Wait();
}

// A FIFO standing where the binary will write an output file: the binary writes into it as into
// a file, and stops once the pipe is full until the test reads on. So the test can act at a
// known point of the run: after the first bytes of that output, before the file is finished.
class OutputPipe {
  public:
    explicit OutputPipe(const fs::path& path) {
        if (::mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("mkfifo");
        // Read and write, so the open does not wait for the binary and reads never see an end.
        descriptor_ = ::open(path.c_str(), O_RDWR);
        if (descriptor_ < 0) throw std::runtime_error("open fifo");
    }
    ~OutputPipe() { ::close(descriptor_); }
    OutputPipe(const OutputPipe&) = delete;
    OutputPipe& operator=(const OutputPipe&) = delete;

    // Reads exactly `count` bytes; fewer when nothing comes for 30 seconds.
    Bytes Read(std::size_t count) {
        Bytes bytes;
        std::uint8_t buffer[65536];
        while (bytes.size() < count) {
            pollfd ready{descriptor_, POLLIN, 0};
            if (::poll(&ready, 1, 30000) <= 0) break;
            const ssize_t got =
                ::read(descriptor_, buffer, std::min(sizeof(buffer), count - bytes.size()));
            if (got <= 0) break;
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

  private:
    int descriptor_ = -1;
};

// --- Test data ---------------------------------------------------------------------------------

// A mono "VAGp" image of a tone lasting `seconds` at 22050 Hz.
Bytes ToneVag(double seconds, double hz) {
    const Bytes adpcm = testing::EncodeAdpcm(testing::Sine(hz, seconds, 22050, 12000.0), true);
    return testing::MakeVagImage(adpcm, 22050, "tone", false);
}

// Files below `root` that are not below `inside` (a sub-folder name), as ListFilesBelow gives
// them.
std::vector<std::string> FilesOutside(const fs::path& root, const std::string& inside) {
    std::vector<std::string> names = testing::ListFilesBelow(root);
    names.erase(
        std::remove_if(names.begin(), names.end(),
                       [&](const std::string& name) { return name.rfind(inside + "/", 0) == 0; }),
        names.end());
    return names;
}

// A run's folders: in/ holds the inputs, out/ is the destination, cwd/ the folder the binary
// starts in. Anything that appears outside out/ was written where it must not be.
class RunFolders {
  public:
    RunFolders() {
        fs::create_directories(In());
        fs::create_directories(Cwd());
    }
    fs::path In() const { return root_.Path() / "in"; }
    fs::path Out() const { return root_.Path() / "out"; }
    fs::path Cwd() const { return root_.Path() / "cwd"; }
    std::string OutArg() const { return Out().string(); }
    // The destination line the binary prints for OutArg().
    std::string DestinationLine() const { return "\rdestination:\n\t" + OutArg() + "/\n\n"; }

    // Call before the run; Unchanged() then tells whether anything outside out/ changed.
    void Snapshot() { before_ = FilesOutside(root_.Path(), "out"); }
    std::vector<std::string> Before() const { return before_; }
    std::vector<std::string> Now() const { return FilesOutside(root_.Path(), "out"); }

  private:
    TempDir root_;
    std::vector<std::string> before_;
};

// The files below `folder`, as relative paths, sorted.
std::vector<std::string> Names(const fs::path& folder) { return testing::ListFilesBelow(folder); }

// --- The disk filling up -----------------------------------------------------------------------

// The batch decodes a.vag, then b.vag hits the size limit: its message, exit 1, a.WAV exactly as
// an undisturbed run writes it, and c.vag not touched.
TEST(DiskFull, DecodeStopsAtTheFailedWriteAndKeepsEarlierFiles) {
    RunFolders folders;
    WriteBytes(folders.In() / "a.vag", ToneVag(0.2, 440));  // WAV of about 9 KB
    WriteBytes(folders.In() / "b.vag", ToneVag(2.0, 330));  // WAV of about 88 KB
    WriteBytes(folders.In() / "c.vag", ToneVag(0.2, 550));
    const std::string pattern = (folders.In() / "*.vag").string();
    TempDir reference;
    ASSERT_EQ(RunBinary({pattern, reference.Path().string()}, folders.Cwd()).exitCode, 0);

    folders.Snapshot();
    const ChildResult result = RunBinary({pattern, folders.OutArg()}, folders.Cwd(), 40000);
    EXPECT_EQ(result.output, "starting..." + folders.DestinationLine() +
                                 "decoding file(s):\n\r\t1\r\t2\rCan't write b.WAV.\n\n"
                                 "\nfinished!\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(ReadBytes(folders.Out() / "a.WAV"), ReadBytes(reference.Path() / "a.WAV"));
    EXPECT_FALSE(fs::exists(folders.Out() / "c.WAV"));
    EXPECT_LE(fs::file_size(folders.Out() / "b.WAV"), 40000u);
    EXPECT_EQ(folders.Now(), folders.Before());
}

// An archive whose third track is larger than the size limit, extracted raw: the message for a
// failed write, exit 1, the first two tracks byte for byte as they lie in the archive, and no
// later track.
TEST(DiskFull, RawExtractionStopsAtTheFailedWriteAndKeepsEarlierTracks) {
    RunFolders folders;
    ArchiveContents contents;
    for (std::size_t k = 0; k < testing::layout::kBgmTrackCount; ++k) {
        const std::size_t blocks = k == 2 ? 3000 : 10;  // the third image is about 96 KB
        char name[8];
        std::snprintf(name, sizeof(name), "T%02zu", k + 1);
        contents.tracks.push_back({testing::MakeTrackImage(name, blocks, 1 + k), 0});
    }
    testing::WriteArchive(contents, folders.In(), "SOUND.SFS");
    const std::string archive = (folders.In() / "SOUND.SFS").string();

    folders.Snapshot();
    const ChildResult result =
        RunBinary({"-x", "-tbgm", archive, folders.OutArg()}, folders.Cwd(), 65536);
    EXPECT_EQ(result.output, "starting..." + folders.DestinationLine() +
                                 "extracting: BGM\n\n\r1 / 38\r2 / 38\r3 / 38\n\n"
                                 "Can't write files.\n\n\nfinished!\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(ReadBytes(folders.Out() / "T01.VAG"), contents.tracks[0].image);
    EXPECT_EQ(ReadBytes(folders.Out() / "T02.VAG"), contents.tracks[1].image);
    EXPECT_EQ(Names(folders.Out()), (std::vector<std::string>{"T01.VAG", "T02.VAG", "T03.VAG"}));
    EXPECT_EQ(folders.Now(), folders.Before());
}

// --- The destination ---------------------------------------------------------------------------

// A folder named like the second output: the batch stops there with the write message; the
// first WAV is finished, the folder is left alone and the third input is not touched.
TEST(DestinationInTheWay, FolderTakingAnOutputNameStopsTheBatch) {
    RunFolders folders;
    WriteBytes(folders.In() / "a.vag", ToneVag(0.2, 440));
    WriteBytes(folders.In() / "b.vag", ToneVag(0.2, 330));
    WriteBytes(folders.In() / "c.vag", ToneVag(0.2, 550));
    const std::string pattern = (folders.In() / "*.vag").string();
    TempDir reference;
    ASSERT_EQ(RunBinary({pattern, reference.Path().string()}, folders.Cwd()).exitCode, 0);
    fs::create_directories(folders.Out() / "b.WAV");

    folders.Snapshot();
    const ChildResult result = RunBinary({pattern, folders.OutArg()}, folders.Cwd());
    EXPECT_EQ(result.output, "starting..." + folders.DestinationLine() +
                                 "decoding file(s):\n\r\t1\r\t2\rCan't write b.WAV.\n\n"
                                 "\nfinished!\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(ReadBytes(folders.Out() / "a.WAV"), ReadBytes(reference.Path() / "a.WAV"));
    EXPECT_TRUE(fs::is_directory(folders.Out() / "b.WAV"));
    EXPECT_TRUE(fs::is_empty(folders.Out() / "b.WAV"));
    EXPECT_EQ(Names(folders.Out()), (std::vector<std::string>{"a.WAV"}));
    EXPECT_EQ(folders.Now(), folders.Before());
}

// The same in an archive: the second track's WAV name is a folder.
TEST(DestinationInTheWay, FolderTakingATrackNameStopsTheExtraction) {
    RunFolders folders;
    ArchiveContents contents = testing::MakeArchiveContents();
    testing::WriteArchive(contents, folders.In(), "SOUND.SFS");
    const std::string archive = (folders.In() / "SOUND.SFS").string();
    TempDir reference;
    ASSERT_EQ(RunBinary({"-tbgm", archive, reference.Path().string()}, folders.Cwd()).exitCode, 0);
    fs::create_directories(folders.Out() / "BGM01.WAV");

    folders.Snapshot();
    const ChildResult result = RunBinary({"-tbgm", archive, folders.OutArg()}, folders.Cwd());
    EXPECT_EQ(result.output, "starting..." + folders.DestinationLine() +
                                 "extracting: BGM\n\n\r1 / 38\r2 / 38\n\n"
                                 "Can't write files.\n\n\nfinished!\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(ReadBytes(folders.Out() / "BGM00.WAV"), ReadBytes(reference.Path() / "BGM00.WAV"));
    EXPECT_EQ(Names(folders.Out()), (std::vector<std::string>{"BGM00.WAV"}));
    EXPECT_EQ(folders.Now(), folders.Before());
}

// --- Inputs that change under the run ----------------------------------------------------------

// The real race: the pattern has matched a.vag and b.vag, and while a.WAV is being written
// b.vag is deleted, or replaced by a folder. Its turn then gives the open message and exit 1;
// a.WAV was written whole.
TEST(VanishingInput, InputDeletedOrReplacedAfterThePatternMatched) {
    for (const bool replaceByFolder : {false, true}) {
        SCOPED_TRACE(replaceByFolder ? "replaced by a folder" : "deleted");
        RunFolders folders;
        WriteBytes(folders.In() / "a.vag", ToneVag(4.0, 440));  // WAV of about 176 KB
        WriteBytes(folders.In() / "b.vag", ToneVag(0.2, 330));
        const std::string pattern = (folders.In() / "*.vag").string();
        TempDir reference;
        ASSERT_EQ(RunBinary({pattern, reference.Path().string()}, folders.Cwd()).exitCode, 0);
        const Bytes expectedA = ReadBytes(reference.Path() / "a.WAV");
        ASSERT_GT(expectedA.size(), 150000u);  // more than a pipe holds, so the binary waits

        fs::create_directories(folders.Out());
        OutputPipe aWav(folders.Out() / "a.WAV");
        Child child({pattern, folders.OutArg()}, folders.Cwd());
        Bytes gotA = aWav.Read(1);  // the binary is writing a.WAV now
        fs::remove(folders.In() / "b.vag");
        if (replaceByFolder) fs::create_directory(folders.In() / "b.vag");
        const Bytes rest = aWav.Read(expectedA.size() - gotA.size());
        gotA.insert(gotA.end(), rest.begin(), rest.end());
        const ChildResult result = child.Wait();

        EXPECT_EQ(result.output, "starting..." + folders.DestinationLine() +
                                     "decoding file(s):\n\r\t1\r\t2\rCan't open b.vag.\n\n"
                                     "\nfinished!\n");
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(gotA, expectedA);
        EXPECT_EQ(Names(folders.Out()), (std::vector<std::string>{"a.WAV"}));
    }
}

// The archive shrinks while the first track is being written, cutting the second track short:
// the read message with the archive's path, exit 1, the first track written whole.
TEST(VanishingInput, ArchiveShrinkingDuringTheExtraction) {
    RunFolders folders;
    ArchiveContents contents;
    for (std::size_t k = 0; k < testing::layout::kBgmTrackCount; ++k) {
        const std::size_t blocks = k == 0 ? 2000 : 40;  // the first WAV is about 224 KB
        contents.tracks.push_back({testing::MakeTrackImage("T" + std::to_string(k), blocks, k), 0});
    }
    const testing::ArchiveLayout layout =
        testing::WriteArchive(contents, folders.In(), "SOUND.SFS");
    const fs::path archive = folders.In() / "SOUND.SFS";
    TempDir reference;
    ASSERT_EQ(
        RunBinary({"-tbgm", archive.string(), reference.Path().string()}, folders.Cwd()).exitCode,
        0);
    const Bytes expectedFirst = ReadBytes(reference.Path() / "T0.WAV");
    ASSERT_GT(expectedFirst.size(), 150000u);

    fs::create_directories(folders.Out());
    OutputPipe firstWav(folders.Out() / "T0.WAV");
    Child child({"-tbgm", archive.string(), folders.OutArg()}, folders.Cwd());
    Bytes gotFirst = firstWav.Read(1);
    fs::resize_file(archive, layout.trackOffsets[1] + 100);  // inside the second track's data
    const Bytes rest = firstWav.Read(expectedFirst.size() - gotFirst.size());
    gotFirst.insert(gotFirst.end(), rest.begin(), rest.end());
    const ChildResult result = child.Wait();

    EXPECT_EQ(result.output, "starting..." + folders.DestinationLine() +
                                 "extracting: BGM\n\n\r1 / 38\r2 / 38\n\nCan't read " +
                                 archive.string() + ".\n\n\nfinished!\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(gotFirst, expectedFirst);
    EXPECT_EQ(Names(folders.Out()), (std::vector<std::string>{"T0.WAV"}));
}

// --- Limits ------------------------------------------------------------------------------------

// Ten thousand small files in one batch: all converted, the count runs to 10000, and the peak
// memory stays within a few megabytes of a batch of a hundred, so nothing grows per file.
TEST(Limits, TenThousandFilesInBoundedMemory) {
    const Bytes image = ToneVag(0.01, 440);
    long peak[2] = {0, 0};
    const int counts[2] = {100, 10000};
    for (int run = 0; run < 2; ++run) {
        RunFolders folders;
        WriteBytes(folders.In() / "s00000.vag", image);
        for (int i = 1; i < counts[run]; ++i) {
            char name[16];
            std::snprintf(name, sizeof(name), "s%05d.vag", i);
            fs::create_hard_link(folders.In() / "s00000.vag", folders.In() / name);
        }
        const ChildResult result =
            RunMeasured({(folders.In() / "*.vag").string(), folders.OutArg()}, folders.Cwd());
        std::string expected = "starting..." + folders.DestinationLine() + "decoding file(s):\n";
        for (int i = 1; i <= counts[run]; ++i) expected += "\r\t" + std::to_string(i);
        EXPECT_EQ(result.output, expected + "\nfinished!\n");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(Names(folders.Out()).size(), static_cast<std::size_t>(counts[run]));
        peak[run] = result.peakRssKiB;
    }
    EXPECT_LT(peak[1] - peak[0], 8 * 1024) << "peak KiB: " << peak[0] << " and " << peak[1];
}

// Size fields near 4 GiB in files of a few hundred bytes: what the file holds is decoded, and
// the WAV is exactly the one the true size field gives. In stereo 2 x 0xFFFFFFFF does not fit
// 32 bits.
TEST(Limits, SizeFieldNear4GiBInASmallFile) {
    for (const bool stereo : {false, true}) {
        SCOPED_TRACE(stereo ? "STER" : "VAGp");
        RunFolders folders;
        const Bytes tone = testing::EncodeAdpcm(testing::Sine(440, 0.05, 22050, 9000.0), true);
        Bytes image = stereo ? testing::MakeSterImage(tone, tone, 22050, "big", false)
                             : testing::MakeVagImage(tone, 22050, "big", false);
        TempDir reference;
        WriteBytes(reference.Path() / "true.vag", image);
        ASSERT_EQ(RunBinary({(reference.Path() / "true.vag").string(), reference.Path().string()},
                            folders.Cwd())
                      .exitCode,
                  0);
        for (const std::uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u}) {
            for (int i = 0; i < 4; ++i)
                image[12 + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
            WriteBytes(folders.In() / "big.vag", image);
            const ChildResult result =
                RunBinary({(folders.In() / "big.vag").string(), folders.OutArg()}, folders.Cwd());
            EXPECT_EQ(result.output, "starting..." + folders.DestinationLine() +
                                         "decoding file(s):\n\r\t1\nfinished!\n");
            EXPECT_EQ(result.exitCode, 0);
            EXPECT_EQ(ReadBytes(folders.Out() / "big.WAV"),
                      ReadBytes(reference.Path() / "true.WAV"));
        }
    }
}

// A track whose size field claims nearly 4 GiB per channel in an archive of a few megabytes:
// the read fails before any buffer is sized by the field, so the run stays small.
TEST(Limits, TrackSizeFieldNear4GiBInASmallArchive) {
    RunFolders folders;
    ArchiveContents contents = testing::MakeArchiveContents();
    const testing::ArchiveLayout layout =
        testing::WriteArchive(contents, folders.In(), "SOUND.SFS");
    const fs::path archive = folders.In() / "SOUND.SFS";
    testing::PatchFile(archive, layout.trackOffsets[1] + 4, {0xF0, 0xFF, 0xFF, 0xFF});

    const ChildResult result =
        RunMeasured({"-tbgm", archive.string(), folders.OutArg()}, folders.Cwd());
    EXPECT_EQ(result.output, "starting..." + folders.DestinationLine() +
                                 "extracting: BGM\n\n\r1 / 38\r2 / 38\n\nCan't read " +
                                 archive.string() + ".\n\n\nfinished!\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_LT(result.peakRssKiB, 64 * 1024);
}

// An index span near 4 GiB puts the next voice past 4 GiB into the archive (a sparse file, made
// here by hand as the generator keeps its archives below 4 GiB): it is found there and
// extracted exactly, not at an offset wrapped to 32 bits, which would land one sector before
// the bank and find the first voice a second time.
TEST(Limits, IndexSpanNear4GiBReachesPast4GiB) {
    RunFolders folders;
    const std::uint32_t span = 0xFFFFF800u;
    const std::uint64_t first = testing::layout::kVoiceBankOffset;
    const std::uint64_t second = first + span;
    const std::vector<Bytes> images = {testing::MakeBankImage("", 20, 1),
                                       testing::MakeBankImage("", 30, 2)};
    const fs::path archive = folders.In() / "SOUND.SFS";
    WriteBytes(archive, {});
    testing::PatchFile(archive, first, images[0]);
    testing::PatchFile(archive, second, images[1]);
    ASSERT_GT(fs::file_size(archive), 0x100000000ull);
    Bytes index(8 + 2 * 32, 0);
    index[4] = 2;
    std::memcpy(&index[8], "FAR0.VAG", 8);
    for (int i = 0; i < 4; ++i) index[8 + 28 + i] = static_cast<std::uint8_t>(span >> (8 * i));
    std::memcpy(&index[40], "FAR1.VAG", 8);
    index[40 + 28] = static_cast<std::uint8_t>(images[1].size());
    index[40 + 29] = static_cast<std::uint8_t>(images[1].size() >> 8);
    WriteBytes(folders.In() / "LMVVOICE.000", index);

    const ChildResult result =
        RunBinary({"-x", "-tvoice", archive.string(), folders.OutArg()}, folders.Cwd());
    EXPECT_EQ(result.output, "starting..." + folders.DestinationLine() +
                                 "extracting: " + (folders.In() / "LMVVOICE.000").string() +
                                 "\n\r1 / 2\r2 / 2\n\n\nfinished!\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Names(folders.Out()), (std::vector<std::string>{"FAR0.VAG", "FAR1.VAG"}));
    EXPECT_EQ(ReadBytes(folders.Out() / "FAR0.VAG"), images[0]);
    EXPECT_EQ(ReadBytes(folders.Out() / "FAR1.VAG"), images[1]);
}

// Raw entries named like the archive or its index files, extracted without a destination, that
// is into the archive's own folder: each gets a numbered name, and the archive and the index
// files are left whole, so the voices still follow. (Written under their own names, the first
// truncated the archive to one image and the run still said it was done.)
TEST(DestinationInTheWay, RawEntriesNamedLikeTheArchiveOrItsIndexFiles) {
    RunFolders folders;
    ArchiveContents contents = testing::MakeArchiveContents();
    contents.seBank.entries[0].SetName("SOUND.SFS");
    contents.seBank.entries[1].SetName("LMVSE.000");
    contents.seBank.entries[2].SetName("LMVVOICE.000");
    const testing::ArchiveLayout layout =
        testing::WriteArchive(contents, folders.In(), "SOUND.SFS");
    const fs::path archive = folders.In() / "SOUND.SFS";
    const Bytes seIndex = ReadBytes(folders.In() / "LMVSE.000");
    const Bytes voiceIndex = ReadBytes(folders.In() / "LMVVOICE.000");

    const ChildResult result = RunBinary({"-x", archive.string()}, folders.Cwd());
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(fs::file_size(archive), layout.fileSize);
    EXPECT_EQ(ReadBytes(folders.In() / "LMVSE.000"), seIndex);
    EXPECT_EQ(ReadBytes(folders.In() / "LMVVOICE.000"), voiceIndex);
    EXPECT_EQ(ReadBytes(folders.In() / "SOUND_2.SFS"), contents.seBank.entries[0].image);
    EXPECT_EQ(ReadBytes(folders.In() / "LMVSE_2.000"), contents.seBank.entries[1].image);
    EXPECT_EQ(ReadBytes(folders.In() / "LMVVOICE_2.000"), contents.seBank.entries[2].image);
    EXPECT_EQ(ReadBytes(folders.In() / "V_0003.VAG"), contents.voiceBank.entries[3].image);
}

}  // namespace
}  // namespace sorvik

#endif  // !defined(_WIN32)
