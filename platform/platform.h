#pragma once

// The operating system as the rest of the program sees it. This header is the only seam: the
// POSIX and Win32 sources behind it are the only files that include system headers, and every
// function here has the same meaning on both.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sorvik::platform {

// --- Paths -----------------------------------------------------------------------------------
// Paths and names are UTF-8 throughout the program; on Windows the platform layer converts them to
// the system's wide forms at its edge, and gives absolute paths their \\?\ form there, so that
// any path the system can hold works.

// The byte that separates folders in a path: '\\' on Windows, '/' elsewhere.
extern const char kPathSeparator;

// True when a command-line argument beginning with '/' is an option (Windows); elsewhere such an
// argument is a path.
extern const bool kSlashStartsOption;

// True when the file system treats names that differ only in case as the same file.
extern const bool kCaseInsensitiveNames;
// True when the file system drops dots and blanks at the end of a name, so that "a." and "a"
// are the same file (Windows).
extern const bool kIgnoresTrailingDotsAndBlanks;

// True when `name` (a bare file name) would open a device instead of a file, as CON.WAV, nul.vag
// or CONIN$ do on Windows. Never true where devices have no names of their own.
bool IsReservedFileName(const std::string& name);

// Compares two UTF-8 strings without regard to case. Returns <0, 0 or >0.
int CompareNoCase(const char* left, const char* right);

// `name` (UTF-8) with its letters in one case, as a file system that ignores case compares
// names: every letter on Windows (Ａ and ａ, É and é too), ASCII letters elsewhere.
std::string FoldCase(const std::string& name);

// Resolves `path` against the current directory. nullopt when the result is longer than the
// system can hold (Windows) or the current directory cannot be read.
std::optional<std::string> MakeAbsolute(const std::string& path);

std::optional<std::string> GetCurrentDir();

// True when the full form of `path` is longer than the system can hold at all (Windows: 32767
// characters in all). Never true where paths have no such limit.
bool IsPathTooLong(const std::string& path);

// The name under which `name` stands in `folder` (a path ending in a separator, or empty for
// the current folder): `name` itself when anything stands there under it, or else a name that
// differs from it only in letter case (the first in byte order, when several do); nullopt when
// there is none. Where the file system ignores case (Windows), `name` as it is.
std::optional<std::string> FindNameIgnoringCase(const std::string& folder, const std::string& name);

// True when `path` names an existing directory.
bool IsDirectory(const std::string& path);

// True when both paths name one existing file (through links, or another name of it).
bool IsSameFile(const std::string& first, const std::string& second);

// What a file is, whatever names or links lead to it: its device and inode (POSIX), or its
// volume and file index (Windows).
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && index == other.index;
    }
};

enum class CreateDirResult { Created, AlreadyExists, ParentMissing, Failed };
// Creates one directory; its parent must exist.
CreateDirResult CreateDir(const std::string& path);

// --- Files -----------------------------------------------------------------------------------

using FileId = std::intptr_t;
constexpr FileId kInvalidFile = -1;

// Opens an existing regular file for reading, shared for reading. The open never waits (a FIFO
// with no writer does not hang it), and anything but a regular file (a folder, FIFO, device or
// socket) is refused. A link given as the path is followed: the user named it.
FileId OpenForReading(const char* path);
// Reads at most `byteCount` bytes at `offset`, leaving no position behind; returns the count read
// (0 at the end), or -1 on failure.
std::int64_t ReadAt(FileId file, std::uint64_t offset, void* buffer, std::size_t byteCount);
// Writes all `byteCount` bytes at the file's position; false when any of them could not be
// written.
bool WriteAll(FileId file, const void* buffer, std::size_t byteCount);
// Writes all `byteCount` bytes at `offset` without moving the file's position.
bool WriteAllAt(FileId file, std::uint64_t offset, const void* buffer, std::size_t byteCount);
std::optional<std::uint64_t> FileSize(FileId file);
std::optional<FileIdentity> IdentityOf(FileId file);
bool CloseFile(FileId file);

// --- Destination folders -------------------------------------------------------------------------

// An open folder that outputs are created in. Names given with it are bare file names.
using FolderId = std::intptr_t;
constexpr FolderId kInvalidFolder = -1;

// Opens the existing folder `path`; kInvalidFolder when it is missing or not a folder.
FolderId OpenFolder(const char* path);
void CloseFolder(FolderId folder);

// Creates the file `name` in `folder` for writing. It must not exist yet in any form: an existing
// file, folder or link (even a dangling one) makes this fail, so nothing is ever written
// through a link.
FileId CreateNewFileIn(FolderId folder, const char* name);

// Puts the complete file `temporaryName` in place of `finalName` in one step. Whatever stood at
// `finalName` (a file, a symbolic link or one of several hard links) loses that name and is
// otherwise untouched. False, with both names left as they were, when `finalName` is a folder,
// FIFO, device or other special file, or when the system refuses; and, unless
// `replaceExisting`, when anything stands at `finalName` at the moment of the rename.
bool ReplaceFileIn(FolderId folder, const char* temporaryName, const char* finalName,
                   bool replaceExisting = true);

// What stands at `name` in `folder`, a link taken as itself: the name it is stored under and its
// identity; nullopt when nothing does. Where `foldsCase`, the stored name may differ from `name`
// in letter case; otherwise it is `name`.
struct StoredFile {
    std::string name;
    FileIdentity identity;
};
std::optional<StoredFile> FindStoredFile(FolderId folder, const char* name, bool foldsCase);

// Removes the file `name` from `folder`.
bool RemoveFileIn(FolderId folder, const char* name);

// A number that tells this process from others running now, for names of temporary files.
std::uint64_t ProcessNumber();

// --- Text --------------------------------------------------------------------------------------

// The UTF-8 form of `bytes` read as code page 932 (Shift-JIS as Windows extends it); nullopt when
// they are not code page 932 or the system has no converter for it.
std::optional<std::string> Cp932ToUtf8(const std::string& bytes);
// The code page 932 form of the UTF-8 `text`; nullopt when a character has none.
std::optional<std::string> Utf8ToCp932(const std::string& text);

// --- The process -------------------------------------------------------------------------------

// The arguments the program was started with, in UTF-8, the program's own name first. On Windows
// they are read from the wide command line, whatever the system's code page.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Once at start: a write past the system's file-size limit fails as an ordinary write failure
// instead of ending the process (POSIX signals it otherwise).
void PrepareProcess();

// How many processors this process may run on: 1 when the system cannot tell.
unsigned ProcessorCount();

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
// The same for standard error.
bool StderrIsTerminal();

// Writes the UTF-8 `text` to standard output (or standard error), after what the C library holds
// for it. A Windows console is given the characters whatever its code page; a file or a pipe gets
// the bytes as they are.
void WriteOut(const std::string& text, bool toStandardError = false);
// True when both standard input and standard output are terminals, so the user can be asked.
bool CanAskOnTerminal();

// Shows an information message (UTF-8) with an OK button and waits until it is closed, when a
// person started the run (Windows: no arguments, a drop from Explorer, or standard input, output
// and error all on a console); an unattended run is never held up, and shows nothing more. Where
// the system has no message boxes (POSIX) nothing is shown: the caller tells the user on
// standard error, in one line of its own.
void ShowInformation(const char* caption, const char* text);

}  // namespace sorvik::platform

// === Dialogs: choosing the input and the destination, and the records behind the dialogs ========

namespace sorvik::platform {

// True where the system has its own open-file dialog and folder browser (Windows).
extern const bool kHasFileDialogs;

// Shows the open-file dialog. True with `path` set to the chosen file's full path; false when the
// user cancels or the dialog fails (or there is no dialog).
bool ShowOpenFileDialog(std::string& path);

enum class BrowseResult { Chosen = 1, NoFileSystemPath = 2, Cancelled = -1 };
// Shows the folder browser with `title` (UTF-8). `path` is set only for Chosen.
BrowseResult ShowFolderBrowser(const char* title, std::string& path);

}  // namespace sorvik::platform
