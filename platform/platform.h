#pragma once

// The operating system as the rest of the program sees it. This header is the only seam: the
// POSIX and Win32 sources behind it are the only files that include system headers, and every
// function here has the same meaning on both.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace sorvik::platform {

// --- Paths -----------------------------------------------------------------------------------

// The byte that separates folders in a path: '\\' on Windows, '/' elsewhere.
extern const char kPathSeparator;

// True when a command-line argument beginning with '/' is an option (Windows); elsewhere such an
// argument is a path.
extern const bool kSlashStartsOption;

// True when `byte` opens a double-byte character of the active code page, so that the byte after
// it is never a separator. Always false where paths are UTF-8.
bool IsLeadByte(std::uint8_t byte);

// True when the file system treats names that differ only in case as the same file.
extern const bool kCaseInsensitiveNames;

// True when `name` (a bare file name) would open a device instead of a file, as CON.WAV or
// nul.vag do on Windows. Never true where devices have no names of their own.
bool IsReservedFileName(const std::string& name);

// Compares two strings without regard to case, in the active code page. Returns <0, 0 or >0.
int CompareNoCase(const char* left, const char* right);

// Resolves `path` against the current directory. nullopt when the result does not fit the
// system's path limit (Windows) or the current directory cannot be read.
std::optional<std::string> MakeAbsolute(const std::string& path);

std::optional<std::string> GetCurrentDir();
bool SetCurrentDir(const std::string& path);

// True when `path` names an existing directory.
bool IsDirectory(const std::string& path);

enum class CreateDirResult { Created, AlreadyExists, ParentMissing, Failed };
// Creates one directory; its parent must exist.
CreateDirResult CreateDir(const std::string& path);

// --- Files -----------------------------------------------------------------------------------

using FileId = std::intptr_t;
constexpr FileId kInvalidFile = -1;

// Opens an existing regular file for reading, shared for reading. A directory is refused.
FileId OpenForReading(const char* path);
// Creates a file for reading and writing, or opens an existing one and truncates it.
FileId CreateForWriting(const char* path);
// Reads at most `byteCount` bytes; returns the count read (0 at the end), or -1 on failure.
std::int64_t ReadSome(FileId file, void* buffer, std::size_t byteCount);
// Writes all `byteCount` bytes; false when any of them could not be written.
bool WriteAll(FileId file, const void* buffer, std::size_t byteCount);
enum class SeekOrigin { Begin, Current };
bool Seek(FileId file, std::int64_t offset, SeekOrigin origin);
std::optional<std::uint64_t> FileSize(FileId file);
bool CloseFile(FileId file);

// A read-only view of a whole file. An empty file cannot be mapped.
struct FileView {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::intptr_t mapping = 0;  // system object behind the view, where there is one
};
std::optional<FileView> MapWholeFile(FileId file);
void UnmapFile(const FileView& view);

// --- Directory search --------------------------------------------------------------------------

// Lists the names (without folders) that match `pattern`, whose last component may hold '*' and
// '?'. Folders whose names match are listed too; "." and ".." never are.
using SearchId = std::intptr_t;
constexpr SearchId kInvalidSearch = 0;
// Starts a search and gives its first match; kInvalidSearch when nothing matches.
SearchId StartSearch(const char* pattern, std::string& firstName);
// Gives the next match; false when there is none.
bool NextMatch(SearchId search, std::string& name);
void EndSearch(SearchId search);

// --- Memory ----------------------------------------------------------------------------------

// Blocks of the process heap; nullptr on failure. Resize keeps the old block on failure.
void* AllocateBlock(std::size_t byteCount);
void* ResizeBlock(void* block, std::size_t byteCount);
void FreeBlock(void* block);

// --- Console and user interface --------------------------------------------------------------

// True when standard output is a terminal or console window (not a file or a pipe).
bool StdoutIsTerminal();
// True when both standard input and standard output are terminals, so the user can be asked.
bool CanAskOnTerminal();

// Shows an information message with an OK button and waits until it is closed. `caption` and
// `text` are in the build's own text encoding (code page 932 on Windows, UTF-8 elsewhere); where
// there is no message box they are printed to standard error.
void ShowInformation(const char* caption, const char* text);

}  // namespace sorvik::platform

// === Dialogs: choosing the input and the destination, and the records behind the dialogs ========

#if defined(_WIN32)
// The system's records, as <commdlg.h> and <shlobj.h> name them (OPENFILENAMEA, BROWSEINFOA).
struct tagOFNA;
struct _browseinfoA;
#endif

namespace sorvik::platform {

// The system's version, major.minor (4.10 is {4, 10}).
struct SystemVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

// The version the system reports; nullopt when it cannot be read, and where there is none.
std::optional<SystemVersion> ReadSystemVersion();

// True when the dialogs take their newer form: version 4.90 or later. False for an older version
// and for an unknown one.
inline bool IsNewShell(const std::optional<SystemVersion>& version) {
    return version && (version->major >= 5 || (version->major == 4 && version->minor >= 90));
}

// True where the system has its own open-file dialog and folder browser (Windows).
extern const bool kHasFileDialogs;

// Shows the open-file dialog. True with `path` set to the chosen file's full path; false when the
// user cancels or the dialog fails (or there is no dialog).
bool ShowOpenFileDialog(std::string& path);

enum class BrowseResult { Chosen = 1, NoFileSystemPath = 2, Cancelled = -1 };
// Shows the folder browser. `path` is set only for Chosen.
BrowseResult ShowFolderBrowser(std::string& path);

#if defined(_WIN32)

// The open-file dialog's filter list: three pairs of zero-terminated description and pattern,
// closed by one more zero byte.
constexpr std::size_t kOpenFileFilterSize = 72;
extern const char kOpenFileFilter[kOpenFileFilterSize];

// The buffers the open-file dialog fills: the chosen path and the chosen file's title.
struct OpenFileBuffers {
    char file[260];
    char title[256];
};
// Fills the open-file record (every other field zero) with the buffers emptied. The newer, longer
// form of the record is used when `newShell` is true.
void FillOpenFileRecord(bool newShell, OpenFileBuffers& buffers, tagOFNA& record);

// The buffers beside the folder browser: the chosen item's display name and its path.
struct BrowseBuffers {
    char displayName[260];
    char path[260];
};
// Fills the folder-browser record (no owner, no root, no callback) with the buffers emptied; the
// new dialog style is asked for when `newShell` is true.
void FillBrowseRecord(bool newShell, BrowseBuffers& buffers, _browseinfoA& record);

// What ShowInformation hands to the message box: texts and the style bits (icon and buttons).
struct MessageRecord {
    const char* caption;
    const char* text;
    std::uint32_t style;
};
MessageRecord MakeInformationMessage(const char* caption, const char* text);

#endif

}  // namespace sorvik::platform
