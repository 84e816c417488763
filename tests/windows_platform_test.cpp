// The Windows platform layer and the Windows binary: separators with the double-byte lead-byte
// test, the 260-byte path limit, options beginning with '/', drive-letter paths, and the CRLF
// console. Built into every test program; the tests exist only in Windows builds.

#if defined(_WIN32)

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/path_helpers.h"
#include "platform/platform.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/sound_synth.h"
#include "tests/support/test_files.h"
#include "tests/support/transcript.h"

namespace sorvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kUsage =
    "Lumivale SFS & VAG to WAV converter ver. 0.02\n\nUsage:\n\tsorvik [input] [output path]\n\n"
    "Options:\n\t-x\textract vag files (not decode)\n\t-tbgm\tbgm files only\n"
    "\t-tvoice\tvoice files only\n\t-tse\tse files only\n\t-h, -?\tshow this help\n\n";

Bytes Tone() { return MakeVagImage(EncodeAdpcm(Sine(440, 0.1, 22050, 12000)), 22050, "t", false); }

// Files are made and inspected with the "A" functions, so names are the very bytes the binary
// sees, in the active code page.
void WriteFileA(const std::string& path, const Bytes& bytes) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

bool ExistsA(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0) {
            names.emplace_back(found.cFileName);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Restores the test program's current folder when a test has moved it.
class CurrentDirGuard {
  public:
    CurrentDirGuard() : saved_(platform::GetCurrentDir().value_or("")) {}
    ~CurrentDirGuard() { platform::SetCurrentDir(saved_); }

  private:
    std::string saved_;
};

std::string Started(const std::string& destination) {
    return "starting...\rdestination:\n\t" + destination + "\n\n";
}

// --- Paths ---------------------------------------------------------------------------------------

TEST(WindowsPaths, RelativeRootedAndSlashedPathsBecomeFullDrivePaths) {
    TempDir root;
    const std::string base = root.Path().string();
    ASSERT_EQ(base[1], ':');
    CurrentDirGuard guard;
    ASSERT_TRUE(platform::SetCurrentDir(base));
    EXPECT_EQ(platform::GetCurrentDir(), base);

    EXPECT_EQ(platform::MakeAbsolute("in\\a.vag"), base + "\\in\\a.vag");
    EXPECT_EQ(platform::MakeAbsolute("in/a.vag"), base + "\\in\\a.vag");
    EXPECT_EQ(platform::MakeAbsolute("in\\..\\*.VAG"), base + "\\*.VAG");
    EXPECT_EQ(platform::MakeAbsolute("\\x\\y.sfs"), base.substr(0, 2) + "\\x\\y.sfs");
    EXPECT_EQ(platform::MakeAbsolute("D:\\a\\.\\b\\"), "D:\\a\\b\\");
}

TEST(WindowsPaths, PathsBeyondTheLimitAreRefusedNotCut) {
    // "C:\" and 256 more bytes: 259 bytes and the terminator fill the 260-byte buffer exactly.
    const std::string fits = "C:\\" + std::string(256, 'a');
    EXPECT_EQ(platform::MakeAbsolute(fits), fits);
    EXPECT_EQ(platform::MakeAbsolute(fits + "b"), std::nullopt);

    TempDir root;
    const std::string base = root.Path().string();
    const std::string tooLong = base + "\\" + std::string(270 - base.size(), 'd');
    EXPECT_EQ(platform::CreateDir(tooLong), platform::CreateDirResult::Failed);
    EXPECT_FALSE(platform::IsDirectory(tooLong));
    EXPECT_FALSE(platform::SetCurrentDir(tooLong));
    EXPECT_EQ(NamesIn(base), std::vector<std::string>{});
}

TEST(WindowsPaths, CreateDirTellsItsOutcomesApart) {
    TempDir root;
    const std::string base = root.Path().string();
    EXPECT_EQ(platform::CreateDir(base + "\\a"), platform::CreateDirResult::Created);
    EXPECT_TRUE(platform::IsDirectory(base + "\\a"));
    EXPECT_TRUE(platform::IsDirectory(base + "\\a\\"));
    EXPECT_EQ(platform::CreateDir(base + "\\a\\"), platform::CreateDirResult::AlreadyExists);
    EXPECT_EQ(platform::CreateDir(base + "\\x\\y"), platform::CreateDirResult::ParentMissing);
    WriteFileA(base + "\\file", {1});
    EXPECT_EQ(platform::CreateDir(base + "\\file"), platform::CreateDirResult::AlreadyExists);
    EXPECT_FALSE(platform::IsDirectory(base + "\\file"));
}

// --- Files ---------------------------------------------------------------------------------------

TEST(WindowsFiles, ReadingRefusesFoldersDevicesAndMissingFiles) {
    TempDir root;
    const std::string base = root.Path().string();
    WriteFileA(base + "\\a.vag", {1, 2, 3});
    const platform::FileId file = platform::OpenForReading((base + "\\a.vag").c_str());
    ASSERT_NE(file, platform::kInvalidFile);
    EXPECT_TRUE(platform::CloseFile(file));
    EXPECT_EQ(platform::OpenForReading(base.c_str()), platform::kInvalidFile);
    EXPECT_EQ(platform::OpenForReading((base + "\\missing.vag").c_str()), platform::kInvalidFile);
    EXPECT_EQ(platform::OpenForReading("NUL"), platform::kInvalidFile);
    EXPECT_EQ(platform::OpenForReading((base + "\\CON").c_str()), platform::kInvalidFile);
}

TEST(WindowsFiles, DeviceNamesAreKnownWhateverTheirExtensionAndCase) {
    for (const char* device :
         {"CON", "con.WAV", "Nul.vag", "AUX", "prn.x.y", "COM1", "lpt9.VAG", "CON .WAV"}) {
        EXPECT_TRUE(platform::IsReservedFileName(device)) << device;
    }
    for (const char* file : {"CONSOLE.WAV", "COM0", "COM10", "LPT", "_CON.WAV", "BGM00.WAV"}) {
        EXPECT_FALSE(platform::IsReservedFileName(file)) << file;
    }
}

TEST(WindowsFiles, WritingReplacesTheOldContentAndPositionsAreSixtyFourBit) {
    TempDir root;
    const std::string path = root / "out.wav";
    WriteFileA(path, Bytes(100, 0xEE));
    const platform::FileId file = platform::CreateForWriting(path.c_str());
    ASSERT_NE(file, platform::kInvalidFile);
    EXPECT_EQ(platform::FileSize(file), std::optional<std::uint64_t>(0));
    const Bytes data = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_TRUE(platform::WriteAll(file, data.data(), data.size()));
    EXPECT_EQ(platform::FileSize(file), std::optional<std::uint64_t>(10));
    // Asking for the size leaves the position where it was: the next write appends.
    EXPECT_TRUE(platform::WriteAll(file, data.data(), 2));
    EXPECT_TRUE(platform::Seek(file, 4, platform::SeekOrigin::Begin));
    EXPECT_TRUE(platform::Seek(file, 3, platform::SeekOrigin::Current));
    std::uint8_t got[8] = {};
    EXPECT_EQ(platform::ReadSome(file, got, sizeof(got)), 5);
    EXPECT_EQ(Bytes(got, got + 5), (Bytes{7, 8, 9, 0, 1}));
    EXPECT_EQ(platform::ReadSome(file, got, sizeof(got)), 0);
    EXPECT_FALSE(platform::Seek(file, -100, platform::SeekOrigin::Current));
    // A position past 4 GiB needs the high half of the offset.
    EXPECT_TRUE(platform::Seek(file, 0x100000010LL, platform::SeekOrigin::Begin));
    EXPECT_TRUE(platform::Seek(file, -0x100000000LL, platform::SeekOrigin::Current));
    EXPECT_EQ(platform::ReadSome(file, got, 1), 0);  // at 16, past the end of 12 bytes
    EXPECT_TRUE(platform::Seek(file, 11, platform::SeekOrigin::Begin));
    EXPECT_EQ(platform::ReadSome(file, got, 1), 1);
    EXPECT_EQ(got[0], 1);
    EXPECT_TRUE(platform::CloseFile(file));
    EXPECT_EQ(ReadBytes(path).size(), 12u);
}

TEST(WindowsFiles, AMappedFileShowsItsBytesAndLetsGoOfTheFile) {
    TempDir root;
    const std::string path = root / "a.vag";
    const Bytes data = Tone();
    WriteFileA(path, data);
    const platform::FileId file = platform::OpenForReading(path.c_str());
    ASSERT_NE(file, platform::kInvalidFile);
    const std::optional<platform::FileView> view = platform::MapWholeFile(file);
    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(Bytes(view->data, view->data + view->size), data);
    platform::UnmapFile(*view);
    EXPECT_TRUE(platform::CloseFile(file));
    // Once the view, the mapping and the file are all let go, the file can be removed.
    EXPECT_TRUE(DeleteFileA(path.c_str()));

    const std::string empty = root / "empty.vag";
    WriteFileA(empty, {});
    const platform::FileId emptyFile = platform::OpenForReading(empty.c_str());
    EXPECT_EQ(platform::MapWholeFile(emptyFile), std::nullopt);
    platform::CloseFile(emptyFile);
}

TEST(WindowsFiles, SearchListsMatchesOfAnyCaseWithoutDotEntries) {
    TempDir root;
    const std::string base = root.Path().string();
    WriteFileA(base + "\\A.VAG", {1});
    WriteFileA(base + "\\b.vag", {1});
    WriteFileA(base + "\\c.txt", {1});
    CreateDirectoryA((base + "\\d.vag").c_str(), nullptr);

    const auto list = [](const std::string& pattern) {
        std::vector<std::string> names;
        std::string name;
        const platform::SearchId search = platform::StartSearch(pattern.c_str(), name);
        if (search == platform::kInvalidSearch) return names;
        do {
            names.push_back(name);
        } while (platform::NextMatch(search, name));
        platform::EndSearch(search);
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(list(base + "\\*.vag"), (std::vector<std::string>{"A.VAG", "b.vag", "d.vag"}));
    EXPECT_EQ(list(base + "\\*"), (std::vector<std::string>{"A.VAG", "b.vag", "c.txt", "d.vag"}));
    EXPECT_EQ(list(base + "\\B.VAG"), std::vector<std::string>{"b.vag"});
    EXPECT_EQ(list(base + "\\*.sfs"), std::vector<std::string>{});
    EXPECT_EQ(list(base + "\\d.vag\\*"), std::vector<std::string>{});
}

// --- Code page 932 -------------------------------------------------------------------------------

// Shift-JIS names whose trail byte is 0x5C, the byte of the backslash. 0x83 0x5C is one
// character; in 0x88 0x9F 0x5C the trail byte 0x9F is followed by a real separator, which a test
// of only the byte before the backslash would miss, as 0x9F is also a lead byte.
const std::string kTrailBackslash = "\x83\x5C";       // "ソ"
const std::string kSeparatorAfterTrail = "\x88\x9F";  // "亜"
const std::string kFolder = kSeparatorAfterTrail + kTrailBackslash;

class Cp932Test : public ::testing::Test {
  protected:
    void SetUp() override {
        if (GetACP() != 932) {
            GTEST_SKIP() << "needs the code page 932 (run under a Japanese locale, such as "
                            "LC_ALL=ja_JP.UTF-8 with wine)";
        }
    }
};

TEST_F(Cp932Test, SeparatorsAreFoundOnlyAtCharacterBoundaries) {
    EXPECT_TRUE(platform::IsLeadByte(0x83));
    EXPECT_TRUE(platform::IsLeadByte(0x9F));
    EXPECT_FALSE(platform::IsLeadByte(0x5C));
    EXPECT_FALSE(platform::IsLeadByte('A'));

    const std::string inFolder = "C:\\" + kFolder + "\\a.vag";
    EXPECT_EQ(FileNamePart(inFolder), 3 + kFolder.size() + 1);
    EXPECT_EQ(FileNamePart("C:\\x\\" + kTrailBackslash), 5u);
    EXPECT_EQ(FileNamePart("C:\\" + kSeparatorAfterTrail + "\\b"), 6u);

    std::string folder = "C:\\" + kFolder + "\\";
    EXPECT_EQ(CutLastComponent(folder), std::optional<std::size_t>(2));
    EXPECT_EQ(folder, "C:");
    std::string trail = "C:\\a\\" + kTrailBackslash;
    EXPECT_EQ(CutLastComponent(trail), std::optional<std::size_t>(4));

    std::string name = kTrailBackslash;
    EXPECT_EQ(EnsureTrailingSeparator(name), 3u);
    EXPECT_EQ(name, kTrailBackslash + "\\");
    EXPECT_EQ(
        platform::CompareNoCase((kTrailBackslash + "a").c_str(), (kTrailBackslash + "A").c_str()),
        0);
}

TEST_F(Cp932Test, TheBinaryWritesBesideAnInputInAFolderWithTrailBackslashes) {
    TempDir root;
    const std::string folder = root.Path().string() + "\\" + kFolder;
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    WriteFileA(folder + "\\" + kTrailBackslash + ".vag", Tone());

    const RunResult run = RunSorvik({kFolder + "\\" + kTrailBackslash + ".vag"}, root.Path());
    EXPECT_EQ(run.output,
              Transcript(Started(folder + "\\") + "decoding file(s):\n\r\t1\nfinished!\n"));
    EXPECT_EQ(NamesIn(folder),
              (std::vector<std::string>{kTrailBackslash + ".WAV", kTrailBackslash + ".vag"}));
    EXPECT_EQ(NamesIn(root.Path().string()), std::vector<std::string>{kFolder});

    // A typed destination with a trail backslash at its end still gets its own separator.
    const RunResult typed = RunSorvik({kFolder + "\\*.vag", kTrailBackslash}, root.Path());
    EXPECT_EQ(typed.output, Transcript(Started(kTrailBackslash + "\\") +
                                       "decoding file(s):\n\r\t1\nfinished!\n"));
    EXPECT_EQ(NamesIn(root.Path().string() + "\\" + kTrailBackslash),
              std::vector<std::string>{kTrailBackslash + ".WAV"});
}

// --- The binary's command line on Windows --------------------------------------------------------

TEST(WindowsCommandLine, OptionsMayBeginWithASlash) {
    TempDir root;
    WriteFileA(root / "a.vag", Tone());
    for (const char* help : {"/h", "/?", "/X", "/", "/tmp", "/t"}) {
        const RunResult run = RunSorvik({help, "a.vag"}, root.Path());
        EXPECT_EQ(run.output, Transcript("starting...\r" + kUsage)) << help;
    }
    EXPECT_EQ(NamesIn(root.Path().string()), std::vector<std::string>{"a.vag"});

    const RunResult run = RunSorvik({"/tSE", "a.vag", "/x"}, root.Path());
    EXPECT_EQ(run.output, Transcript(Started(root.Path().string() + "\\") +
                                     "decoding file(s):\n\r\t1\nfinished!\n"));
    EXPECT_EQ(NamesIn(root.Path().string()), (std::vector<std::string>{"a.WAV", "a.vag"}));
}

TEST(WindowsCommandLine, DriveRootedSlashedAndRelativePathsReachTheSameFile) {
    TempDir root;
    const std::string base = root.Path().string();
    CreateDirectoryA((base + "\\in").c_str(), nullptr);
    WriteFileA(base + "\\in\\a.vag", Tone());
    const std::string finished = "decoding file(s):\n\r\t1\nfinished!\n";
    struct Case {
        std::string input;
        std::string output;   // typed destination, or empty
        std::string shown;    // the destination line
        std::string written;  // where the WAV must land, below the temporary folder
    };
    const std::vector<Case> cases = {
        {base + "\\in\\a.vag", "", base + "\\in\\", "in\\a.WAV"},
        {base.substr(2) + "\\in\\a.vag", "", base + "\\in\\", "in\\a.WAV"},
        {"in/a.vag", "", base + "\\in\\", "in\\a.WAV"},
        {"in\\A.VAG", "out", "out\\", "out\\a.WAV"},
        {"in\\*.vag", base + "\\x\\y\\", base + "\\x\\y\\", "x\\y\\a.WAV"},
        {"in\\a.vag", "out/", "out/\\", "out\\a.WAV"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {c.input};
        if (!c.output.empty()) arguments.push_back(c.output);
        const RunResult run = RunSorvik(arguments, root.Path());
        EXPECT_EQ(run.output, Transcript(Started(c.shown) + finished)) << c.input;
        EXPECT_TRUE(ExistsA(base + "\\" + c.written)) << c.input;
        DeleteFileA((base + "\\" + c.written).c_str());
    }
}

TEST(WindowsCommandLine, ADestinationBeyondThePathLimitIsReportedAndNothingIsCut) {
    TempDir root;
    const std::string base = root.Path().string();
    WriteFileA(base + "\\a.vag", Tone());
    const std::string destination = base + "\\" + std::string(265 - base.size(), 'd');
    const RunResult run = RunSorvik({"a.vag", destination}, root.Path());
    EXPECT_EQ(run.output,
              Transcript("starting...\rCan't create " + destination + "\\.\n\n\nfinished!\n"));
    EXPECT_EQ(NamesIn(base), std::vector<std::string>{"a.vag"});
}

// Under wine without a display the dialogs cannot open: a run without an input ends as a
// cancelled choice. (On a desktop the dialog would wait for a user, so this runs only there.)
TEST(WindowsCommandLine, WithoutADisplayTheCancelledDialogPrintsTheUsage) {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    char display[8];
    if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr ||
        GetEnvironmentVariableA("DISPLAY", display, sizeof(display)) != 0) {
        GTEST_SKIP() << "runs only under wine without a display";
    }
    TempDir root;
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, std::vector<std::string>{"/x"}}) {
        const RunResult run = RunSorvik(arguments, root.Path());
        EXPECT_EQ(run.output, Transcript("starting...\r" + kUsage));
    }
    EXPECT_EQ(NamesIn(root.Path().string()), std::vector<std::string>{});
}

}  // namespace
}  // namespace sorvik::testing

#endif  // _WIN32
