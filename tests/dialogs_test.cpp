// Choosing the input and the destination without a command line: the version test that picks the
// dialogs' form, the records handed to the Windows dialogs, the Japanese texts they show, and on
// POSIX the questions asked on the terminal.

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/japanese_texts.h"
#include "platform/platform.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/sound_synth.h"
#include "tests/support/test_files.h"

#if defined(_WIN32)
#include <windows.h>
// clang-format off
#include <commdlg.h>
#include <shlobj.h>
// clang-format on
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace sorvik::testing {
namespace {

using platform::SystemVersion;

TEST(IsNewShell, FromVersionFourNinetyOn) {
    EXPECT_FALSE(platform::IsNewShell(SystemVersion{4, 0}));   // Windows 95, NT 4.0
    EXPECT_FALSE(platform::IsNewShell(SystemVersion{4, 10}));  // Windows 98
    EXPECT_FALSE(platform::IsNewShell(SystemVersion{4, 89}));
    EXPECT_TRUE(platform::IsNewShell(SystemVersion{4, 90}));  // Windows Me
    EXPECT_TRUE(platform::IsNewShell(SystemVersion{5, 0}));   // Windows 2000
    EXPECT_TRUE(platform::IsNewShell(SystemVersion{6, 1}));
    EXPECT_TRUE(platform::IsNewShell(SystemVersion{10, 0}));
    EXPECT_FALSE(platform::IsNewShell(SystemVersion{3, 95}));
    EXPECT_FALSE(platform::IsNewShell(std::nullopt));  // the version could not be read
}

std::string Hex(const char* text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (!hex.empty()) hex += ' ';
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

TEST(JapaneseTexts, CodePage932BytesAreExact) {
    EXPECT_EQ(Hex(texts::kMissingIndexCaptionForms.cp932),
              "83 74 83 40 83 43 83 8b 82 aa 8c a9 82 c2 82 a9 82 e8 82 dc 82 b9 82 f1");
    EXPECT_EQ(Hex(texts::kMissingIndexRequestForms.cp932),
              "20 82 f0 0a 0a 53 46 53 83 74 83 40 83 43 83 8b 82 c6 93 af 82 b6 83 74 83 48 83 "
              "8b 83 5f 82 c9 92 75 82 a2 82 c4 82 ad 82 be 82 b3 82 a2");
    EXPECT_EQ(Hex(texts::kChooseDestinationTitleForms.cp932),
              "8f 6f 97 cd 90 e6 82 f0 8e 77 92 e8 82 b5 82 c4 82 ad 82 be 82 b3 82 a2");
    EXPECT_STREQ(texts::kMissingIndexCaptionForms.utf8, u8"ファイルが見つかりません");
    EXPECT_STREQ(texts::kMissingIndexRequestForms.utf8,
                 u8" を\n\nSFSファイルと同じフォルダに置いてください");
    EXPECT_STREQ(texts::kChooseDestinationTitleForms.utf8, u8"出力先を指定してください");
#if defined(_WIN32)
    EXPECT_EQ(texts::kMissingIndexCaption, texts::kMissingIndexCaptionForms.cp932);
    EXPECT_EQ(texts::kMissingIndexRequest, texts::kMissingIndexRequestForms.cp932);
#else
    EXPECT_EQ(texts::kMissingIndexCaption, texts::kMissingIndexCaptionForms.utf8);
    EXPECT_EQ(texts::kMissingIndexRequest, texts::kMissingIndexRequestForms.utf8);
#endif
}

#if defined(_WIN32)

std::wstring Decode(unsigned codePage, const char* text) {
    wchar_t wide[128] = {};
    const int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, -1, wide, 128);
    return length > 0 ? std::wstring(wide) : L"(invalid)";
}

// The system's own code page 932 table agrees with the one the texts were converted with.
TEST(JapaneseTexts, TheSystemReadsTheCodePage932FormAsTheUtf8Form) {
    for (const auto& forms : {std::make_pair(texts::kMissingIndexCaptionForms.utf8,
                                             texts::kMissingIndexCaptionForms.cp932),
                              std::make_pair(texts::kMissingIndexRequestForms.utf8,
                                             texts::kMissingIndexRequestForms.cp932),
                              std::make_pair(texts::kChooseDestinationTitleForms.utf8,
                                             texts::kChooseDestinationTitleForms.cp932)}) {
        EXPECT_EQ(Decode(932, forms.second), Decode(CP_UTF8, forms.first)) << forms.first;
    }
}

TEST(WindowsDialogs, OpenFileRecordInBothForms) {
    const std::string filter(
        "Lumivale SFS (*.sfs)\0*.SFS\0VAG files (*.vag)\0*.VAG\0"
        "All files (*.*)\0*.*\0",
        72);
    EXPECT_EQ(std::string(platform::kOpenFileFilter, platform::kOpenFileFilterSize), filter);
    EXPECT_EQ(filter.substr(70), std::string(2, '\0'));

    // 76 and 88 bytes on 32-bit Windows; the 64-bit record is wider by its pointers.
    const DWORD olderSize = sizeof(void*) == 4 ? 76 : 136;
    const DWORD newerSize = sizeof(void*) == 4 ? 88 : 152;
    for (const bool newShell : {false, true}) {
        platform::OpenFileBuffers buffers;
        std::memset(&buffers, 'x', sizeof(buffers));
        OPENFILENAMEA record;
        std::memset(&record, 0xCC, sizeof(record));
        platform::FillOpenFileRecord(newShell, buffers, record);

        EXPECT_EQ(record.lStructSize, newShell ? newerSize : olderSize);
        EXPECT_EQ(record.Flags, 0x880024u);
        EXPECT_EQ(record.lpstrFilter, platform::kOpenFileFilter);
        EXPECT_EQ(record.nFilterIndex, 0u);
        EXPECT_EQ(record.lpstrFile, buffers.file);
        EXPECT_EQ(record.nMaxFile, 260u);
        EXPECT_EQ(buffers.file[0], '\0');
        EXPECT_EQ(record.lpstrFileTitle, buffers.title);
        EXPECT_EQ(record.nMaxFileTitle, 256u);
        EXPECT_EQ(buffers.title[0], '\0');
        EXPECT_STREQ(record.lpstrDefExt, "SFS");
        ASSERT_NE(record.lpfnHook, nullptr);
        for (const UINT message : {WM_INITDIALOG, WM_NOTIFY, WM_COMMAND, WM_DESTROY}) {
            EXPECT_EQ(record.lpfnHook(nullptr, message, 1, 0), 0u) << message;
        }
        // Everything else is zero: no owner, instance, custom filter, folder or title; the
        // newer record's three last fields are zero too.
        EXPECT_EQ(record.hwndOwner, nullptr);
        EXPECT_EQ(record.hInstance, nullptr);
        EXPECT_EQ(record.lpstrCustomFilter, nullptr);
        EXPECT_EQ(record.nMaxCustFilter, 0u);
        EXPECT_EQ(record.lpstrInitialDir, nullptr);
        EXPECT_EQ(record.lpstrTitle, nullptr);
        EXPECT_EQ(record.nFileOffset, 0u);
        EXPECT_EQ(record.nFileExtension, 0u);
        EXPECT_EQ(record.lCustData, 0);
        EXPECT_EQ(record.lpTemplateName, nullptr);
        EXPECT_EQ(record.pvReserved, nullptr);
        EXPECT_EQ(record.dwReserved, 0u);
        EXPECT_EQ(record.FlagsEx, 0u);
    }
}

TEST(WindowsDialogs, FolderBrowserRecordInBothForms) {
    for (const bool newShell : {false, true}) {
        platform::BrowseBuffers buffers;
        std::memset(&buffers, 'x', sizeof(buffers));
        BROWSEINFOA record;
        std::memset(&record, 0xCC, sizeof(record));
        platform::FillBrowseRecord(newShell, buffers, record);

        EXPECT_EQ(record.ulFlags, newShell ? 0x41u : 0x1u);
        EXPECT_EQ(record.hwndOwner, nullptr);
        EXPECT_EQ(record.pidlRoot, nullptr);
        EXPECT_EQ(record.pszDisplayName, buffers.displayName);
        EXPECT_EQ(buffers.displayName[0], '\0');
        EXPECT_EQ(buffers.path[0], '\0');
        EXPECT_EQ(Hex(record.lpszTitle),
                  "8f 6f 97 cd 90 e6 82 f0 8e 77 92 e8 82 b5 82 c4 82 ad 82 be 82 b3 82 a2");
        EXPECT_EQ(record.lpfn, nullptr);
        EXPECT_EQ(record.lParam, 0);
        EXPECT_EQ(record.iImage, 0);
    }
}

TEST(WindowsDialogs, MissingIndexMessageIsAnInformationBoxWithOk) {
    const platform::MessageRecord message =
        platform::MakeInformationMessage(texts::kMissingIndexCaption, "LMVSE.000");
    EXPECT_EQ(message.style, static_cast<std::uint32_t>(MB_ICONINFORMATION | MB_OK));
    EXPECT_EQ(message.style, 0x40u);
    EXPECT_EQ(Hex(message.caption), Hex(texts::kMissingIndexCaptionForms.cp932));
    EXPECT_STREQ(message.text, "LMVSE.000");
}

TEST(WindowsDialogs, TheSystemVersionIsRead) {
    const std::optional<SystemVersion> version = platform::ReadSystemVersion();
    ASSERT_TRUE(version.has_value());
    EXPECT_GE(version->major, 4u);
    EXPECT_EQ(platform::kHasFileDialogs, true);
}

#else  // POSIX: the terminal questions

using Bytes = std::vector<std::uint8_t>;

// Runs the binary with a pseudo-terminal as its standard input and output, types each of
// `answers` exactly (a line ends in "\n"; "\x04" at a line's start ends the input) as the
// questions appear, and keeps everything it printed.
class TerminalRun {
  public:
    TerminalRun(const std::vector<std::string>& arguments, const fs::path& workingDir,
                const std::vector<std::string>& answers) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            failure_ = "no pseudo-terminal";
            return;
        }
        const std::string slaveName = ::ptsname(master);
        std::vector<std::string> argumentStrings{SORVIK_BINARY};
        argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : argumentStrings) argv.push_back(argument.data());
        argv.push_back(nullptr);
        const std::string folder = workingDir.string();

        const pid_t child = ::fork();
        if (child == 0) {
            ::setsid();
            const int slave = ::open(slaveName.c_str(), O_RDWR);
            if (slave < 0 || ::chdir(folder.c_str()) != 0) ::_exit(126);
            termios settings;
            if (::tcgetattr(slave, &settings) == 0) {
                settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);   // answers are not echoed
                settings.c_oflag &= ~static_cast<tcflag_t>(ONLCR);  // "\n" stays "\n"
                ::tcsetattr(slave, TCSANOW, &settings);
            }
            ::dup2(slave, STDIN_FILENO);
            ::dup2(slave, STDOUT_FILENO);
            ::close(slave);
            ::close(master);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        std::size_t answered = 0;
        for (;;) {
            pollfd ready{master, POLLIN, 0};
            if (::poll(&ready, 1, 10000) <= 0) {
                failure_ = "the binary went silent; output so far: " + output_;
                ::kill(child, SIGKILL);
                break;
            }
            char buffer[1024];
            const ssize_t got = ::read(master, buffer, sizeof(buffer));
            if (got <= 0) break;  // the terminal closed: the binary has ended
            output_.append(buffer, static_cast<std::size_t>(got));
            // Every question ends in ": " and waits for its answer.
            if (answered < answers.size() && output_.size() >= 2 &&
                output_.compare(output_.size() - 2, 2, ": ") == 0) {
                const std::string& line = answers[answered++];
                if (::write(master, line.data(), line.size()) !=
                    static_cast<ssize_t>(line.size())) {
                    failure_ = "cannot type";
                }
            }
        }
        ::close(master);
        int status = 0;
        ::waitpid(child, &status, 0);
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Output() const { return output_; }
    const std::string& Failure() const { return failure_; }
    int ExitCode() const { return exitCode_; }

  private:
    std::string output_;
    std::string failure_;
    int exitCode_ = -1;
};

constexpr char kAskInput[] = "\ninput file (empty to cancel): ";
constexpr char kAskFolder[] = "destination folder (empty for the input's folder): ";
constexpr char kUsage[] =
    "Lumivale SFS & VAG to WAV converter ver. 0.02\n\nUsage:\n\tsorvik [input] [output path]\n\n"
    "Options:\n\t-x\textract vag files (not decode)\n\t-tbgm\tbgm files only\n"
    "\t-tvoice\tvoice files only\n\t-tse\tse files only\n\t-h, -?\tshow this help\n\n";

class TerminalQuestions : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_.Path() / "in");
        WriteBytes(root_.Path() / "in" / "tone.vag",
                   MakeVagImage(EncodeAdpcm(Sine(440, 0.1, 22050, 12000)), 22050, "t", false));
    }
    std::string Full(const std::string& relative) const {
        return (root_.Path() / relative).string();
    }

    TempDir root_;
};

TEST_F(TerminalQuestions, ARelativeInputAndNoFolderWriteBesideTheInput) {
    const TerminalRun run({}, root_.Path(), {"in/tone.vag\n", "\n"});
    ASSERT_EQ(run.Failure(), "");
    EXPECT_EQ(run.Output(), std::string("starting...") + kAskInput + kAskFolder +
                                "\rdestination:\n\t" + Full("in") +
                                "/\n\ndecoding file(s):\n\r\t1\nfinished!\n");
    EXPECT_EQ(ListFilesBelow(root_.Path()),
              (std::vector<std::string>{"in/tone.WAV", "in/tone.vag"}));
}

TEST_F(TerminalQuestions, ATypedFolderIsCreatedAndOptionsStillApply) {
    const TerminalRun run({"-tbgm"}, root_.Path(), {"in/../in/*.VAG\n", "out/new\r\n"});
    ASSERT_EQ(run.Failure(), "");
    EXPECT_EQ(run.Output(), std::string("starting...") + kAskInput + kAskFolder +
                                "\rdestination:\n\t" + Full("out/new") +
                                "/\n\ndecoding file(s):\n\r\t1\nfinished!\n");
    EXPECT_EQ(ListFilesBelow(root_.Path()),
              (std::vector<std::string>{"in/tone.vag", "out/new/tone.WAV"}));
}

TEST_F(TerminalQuestions, AnEmptyOrMissingFirstAnswerCancels) {
    for (const char* answer : {"\n", "\x04"}) {
        const TerminalRun run({}, root_.Path(), {answer});
        ASSERT_EQ(run.Failure(), "");
        EXPECT_EQ(run.Output(), std::string("starting...") + kAskInput + "\r" + kUsage);
    }
    EXPECT_EQ(ListFilesBelow(root_.Path()), std::vector<std::string>{"in/tone.vag"});
}

TEST_F(TerminalQuestions, WithoutATerminalNothingIsAsked) {
    const RunResult run = RunSorvik({}, root_.Path());
    EXPECT_EQ(run.output, std::string("starting...\r") + kUsage);
    EXPECT_EQ(ListFilesBelow(root_.Path()), std::vector<std::string>{"in/tone.vag"});
}

#endif

}  // namespace
}  // namespace sorvik::testing
