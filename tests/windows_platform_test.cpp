// The Windows platform layer: full paths of any length, what may be read, the destination's
// exclusive create and rename, 64-bit offsets, the search, and names in UTF-8 whatever the code
// page.
#if defined(_WIN32)

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_files.h"

namespace sorvik::testing {
namespace {

namespace pf = platform;
using Names = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

Bytes Of(const std::string& text) { return {text.begin(), text.end()}; }

Names Search(const std::string& pattern) {
    Names names(1);
    const pf::SearchId search = pf::StartSearch(pattern.c_str(), names[0]);
    if (search == pf::kInvalidSearch) return {};
    for (std::string name; pf::NextMatch(search, name);) names.push_back(name);
    pf::EndSearch(search);
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder, open as a destination.
class WindowsPlatform : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(folder, pf::kInvalidFolder); }
    ~WindowsPlatform() override { pf::CloseFolder(folder); }
    TempDir root;
    const std::string base = root.Path().string();
    const pf::FolderId folder = pf::OpenFolder(base.c_str());
};

TEST_F(WindowsPlatform, FullDrivePathsOfAnyLengthAndCreateDirOutcomes) {
    const std::string cwd = pf::GetCurrentDir().value_or("");
    ASSERT_EQ(cwd.find(':'), 1u);
    EXPECT_EQ(pf::MakeAbsolute("in/x/../a.vag"), cwd + "\\in\\a.vag");
    EXPECT_EQ(pf::MakeAbsolute("\\x\\y.sfs"), cwd.substr(0, 2) + "\\x\\y.sfs");
    const std::string beyond = "C:\\" + std::string(200, 'a') + "\\" + std::string(200, 'b');
    EXPECT_EQ(pf::MakeAbsolute(beyond), beyond);
    EXPECT_FALSE(pf::IsPathTooLong(beyond));
    EXPECT_TRUE(pf::IsPathTooLong("C:\\" + std::string(33000, 'c')));
    EXPECT_EQ(pf::CreateDir(root / std::string(300, 'd')), pf::CreateDirResult::Failed);
    // Folders and files past 260 characters, the temporary name's rename included.
    const std::string deep = root / (std::string(200, 'd') + "\\" + std::string(200, 'e'));
    EXPECT_EQ(pf::CreateDir(deep), pf::CreateDirResult::ParentMissing);
    EXPECT_EQ(pf::CreateDir(root / std::string(200, 'd')), pf::CreateDirResult::Created);
    EXPECT_EQ(pf::CreateDir(deep), pf::CreateDirResult::Created);
    const pf::FolderId deepFolder = pf::OpenFolder(deep.c_str());
    EXPECT_TRUE(pf::CloseFile(pf::CreateNewFileIn(deepFolder, "sorvik-unfinished-1-0.tmp")));
    EXPECT_TRUE(pf::ReplaceFileIn(deepFolder, "sorvik-unfinished-1-0.tmp", "a.WAV"));
    pf::CloseFolder(deepFolder);
    EXPECT_EQ(Search(deep + "\\*"), Names{"a.WAV"});
    EXPECT_TRUE(pf::IsDirectory(deep) && !pf::IsDirectory(deep + "\\a.WAV"));
    // A device name is never made a folder, whatever the form of the path.
    EXPECT_EQ(pf::CreateDir(root / "nul"), pf::CreateDirResult::Failed);
    EXPECT_EQ(pf::CreateDir(root / "CONIN$"), pf::CreateDirResult::Failed);
    EXPECT_EQ(pf::CreateDir(root / "a"), pf::CreateDirResult::Created);
    EXPECT_EQ(pf::CreateDir(root / "a\\"), pf::CreateDirResult::AlreadyExists);
    EXPECT_EQ(pf::CreateDir(root / "x\\y"), pf::CreateDirResult::ParentMissing);
}

TEST_F(WindowsPlatform, ReadingRefusesFoldersDevicesAndMissingFiles) {
    for (const std::string& path : {base, root / "missing", root / "CON", root / "nul.vag"})
        EXPECT_EQ(pf::OpenForReading(path.c_str()), pf::kInvalidFile) << path;
    for (const char* name : {"CON", "con.WAV", "Nul.x.y", "AUX", "PRN", "COM1", "lpt9.V", "CON .W",
                             "conin$.VAG", "CONOUT$", "COM¹.wav", "lpt³"})
        EXPECT_TRUE(pf::IsReservedFileName(name)) << name;
    for (const char* name : {"CONIN", "COM0", "COM10", "conin$x", "表.VAG", "LPT"})
        EXPECT_FALSE(pf::IsReservedFileName(name)) << name;
}

TEST_F(WindowsPlatform, NewFilesTakeFreeNamesAndReplaceFilesOrHardLinksNeverFolders) {
    for (const char* name : {"t2", "t3", "old", "in", "gone"}) WriteBytes(root / name, Of(name));
    ASSERT_TRUE(CreateHardLinkA((root / "link").c_str(), (root / "in").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((root / "dir").c_str(), nullptr));
    for (const char* name : {"t2", "T2", "dir", "NUL.tmp", "CONOUT$", "dir\\x", "dir/x", "x:s", ""})
        EXPECT_EQ(pf::CreateNewFileIn(folder, name), pf::kInvalidFile) << name;
    const pf::FileId file = pf::CreateNewFileIn(folder, "t1");
    EXPECT_TRUE(pf::WriteAll(file, "t1", 2) && pf::CloseFile(file));
    EXPECT_TRUE(pf::ReplaceFileIn(folder, "t1", "old") && pf::ReplaceFileIn(folder, "t2", "LINK"));
    EXPECT_FALSE(pf::ReplaceFileIn(folder, "t3", "dir") || pf::ReplaceFileIn(folder, "t3", "nul"));
    EXPECT_TRUE(pf::RemoveFileIn(folder, "gone") && !pf::RemoveFileIn(folder, "gone"));
    EXPECT_EQ(ReadBytes(root / "old"), Of("t1"));
    EXPECT_EQ(ReadBytes(root / "link"), Of("t2"));
    EXPECT_EQ(ReadBytes(root / "in"), Of("in"));
    EXPECT_TRUE(pf::IsDirectory(root / "dir") && ReadBytes(root / "t3") == Of("t3"));
    // The search: every match in any case, folders too, and never "." or "..".
    EXPECT_EQ(Search(root / "*"), (Names{"dir", "in", "link", "old", "t3"}));
    EXPECT_EQ(Search(root / "dir\\*"), Names{});
}

TEST_F(WindowsPlatform, OffsetsBeyondFourGibibytesKeepTheirHighHalf) {
    const pf::FileId file = pf::CreateNewFileIn(folder, "big");
    DWORD unused = 0;  // sparse, so that no gigabytes of zeros are written
    DeviceIoControl(reinterpret_cast<HANDLE>(file), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0,
                    &unused, nullptr);
    const std::uint64_t high = 0x140000000;  // 5 GiB
    EXPECT_TRUE(pf::WriteAll(file, "head", 4) && pf::WriteAllAt(file, high, "tail", 4));
    EXPECT_TRUE(pf::WriteAll(file, "er", 2));                // where the first write ended
    EXPECT_FALSE(pf::WriteAllAt(file, UINT64_MAX, "x", 1));  // all ones would mean "at the end"
    EXPECT_EQ(pf::FileSize(file), high + 4);
    const auto read = [&](std::uint64_t at) {
        char got[8];
        const std::int64_t count = pf::ReadAt(file, at, got, sizeof(got));
        return count < 0 ? "?" : std::string(got, count);
    };
    EXPECT_EQ(read(high - 2) + read(high + 4) + read(UINT64_MAX), std::string("\0\0tail?", 7));
    EXPECT_EQ(read(0), std::string("header\0\0", 8));
    EXPECT_TRUE(pf::CloseFile(file) && pf::RemoveFileIn(folder, "big"));
}

TEST_F(WindowsPlatform, JapaneseNamesInAnyCodePage) {
    const std::string so = "ソ表";  // in code page 932 both end in the byte of '\\'
    const std::string soFolder = root / so;
    EXPECT_EQ(pf::CreateDir(soFolder), pf::CreateDirResult::Created);
    const pf::FolderId inner = pf::OpenFolder(soFolder.c_str());  // outputs land inside it
    EXPECT_TRUE(pf::CloseFile(pf::CreateNewFileIn(inner, (so + ".tmp").c_str())));
    EXPECT_TRUE(pf::ReplaceFileIn(inner, (so + ".tmp").c_str(), (so + ".WAV").c_str()));
    const auto stored = pf::FindStoredFile(inner, (so + ".wav").c_str(), true);
    EXPECT_EQ(stored ? stored->name : "", so + ".WAV");
    pf::CloseFolder(inner);
    EXPECT_EQ(Search(soFolder + "\\*.wav"), Names{so + ".WAV"});
    EXPECT_EQ(Search(root / "*"), Names{so});
    EXPECT_EQ(pf::CompareNoCase("ÉTÉ.WAV", "été.wav"), 0);
    EXPECT_EQ(pf::Cp932ToUtf8("\x83\x5c\x95\x5c"), so);
    EXPECT_EQ(pf::Utf8ToCp932("é"), std::nullopt);  // no best fit to 'e'
}

}  // namespace
}  // namespace sorvik::testing

#endif  // _WIN32
