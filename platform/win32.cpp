// The platform layer on Windows. Paths are narrow strings in the active code page ("A" functions
// throughout), separated by '\\', and limited to the system's 260-byte path buffers: a path that
// does not fit is reported as a failure, never cut.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format off
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>
// clang-format on

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "platform/platform.h"

namespace sorvik::platform {

const char kPathSeparator = '\\';
const bool kSlashStartsOption = true;
const bool kCaseInsensitiveNames = true;
const bool kIgnoresTrailingDotsAndBlanks = true;

namespace {

// The system's path buffers hold 260 bytes, the terminating zero included.
constexpr DWORD kPathBufferSize = MAX_PATH;
static_assert(MAX_PATH == 260, "the path limit is 260 bytes");

HANDLE ToHandle(FileId file) { return reinterpret_cast<HANDLE>(file); }

bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// Owns a kernel handle and closes it when it goes out of scope. Both null and
// INVALID_HANDLE_VALUE mean "no handle", as different calls report failure with either.
class OwnedHandle {
  public:
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() {
        if (IsValid(handle_)) ::CloseHandle(handle_);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    bool IsOpen() const { return IsValid(handle_); }
    HANDLE Get() const { return handle_; }
    HANDLE Release() {
        const HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

  private:
    HANDLE handle_;
};

// A read or write of at most this many bytes goes into one call (the calls take 32-bit counts).
constexpr std::size_t kLargestTransfer = 0x40000000;

// The byte count for one read or write call out of the `byteCount` still to go.
DWORD OneTransfer(std::size_t byteCount) {
    return static_cast<DWORD>(byteCount < kLargestTransfer ? byteCount : kLargestTransfer);
}

}  // namespace

bool IsLeadByte(std::uint8_t byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

bool IsReservedFileName(const std::string& name) {
    // The device names hold whatever extension follows them, and trailing blanks are ignored.
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
        if (::lstrcmpiA(stem.c_str(), device) == 0) return true;
    }
    const bool numbered = stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9';
    return numbered && (::lstrcmpiA(stem.substr(0, 3).c_str(), "COM") == 0 ||
                        ::lstrcmpiA(stem.substr(0, 3).c_str(), "LPT") == 0);
}

int CompareNoCase(const char* left, const char* right) { return ::lstrcmpiA(left, right); }

std::optional<std::string> MakeAbsolute(const std::string& path) {
    char buffer[kPathBufferSize];
    const DWORD length = ::GetFullPathNameA(path.c_str(), kPathBufferSize, buffer, nullptr);
    // A result of the buffer's size or more is the size the full path would need.
    if (length == 0 || length >= kPathBufferSize) return std::nullopt;
    return std::string(buffer, length);
}

std::optional<std::string> GetCurrentDir() {
    char buffer[kPathBufferSize];
    const DWORD length = ::GetCurrentDirectoryA(kPathBufferSize, buffer);
    if (length == 0 || length >= kPathBufferSize) return std::nullopt;
    return std::string(buffer, length);
}

bool IsPathTooLong(const std::string& path) {
    // A path that does not fit the buffers as typed is refused before it is resolved.
    if (path.size() >= kPathBufferSize) return true;
    char buffer[kPathBufferSize];
    const DWORD length = ::GetFullPathNameA(path.c_str(), kPathBufferSize, buffer, nullptr);
    // A result of the buffer's size or more is the size the full path would need.
    return length >= kPathBufferSize ||
           (length == 0 && ::GetLastError() == ERROR_FILENAME_EXCED_RANGE);
}

// The file system ignores case: opening the name as it is finds the file in any case.
std::optional<std::string> FindNameIgnoringCase(const std::string&, const std::string& name) {
    return name;
}

bool IsDirectory(const std::string& path) {
    if (path.size() >= kPathBufferSize) return false;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// The volume and index of the file at `path`; false when it cannot be opened.
bool IdentifyFile(const std::string& path, BY_HANDLE_FILE_INFORMATION& identity) {
    if (path.size() >= kPathBufferSize) return false;
    const HANDLE file =
        ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = ::GetFileInformationByHandle(file, &identity) != 0;
    ::CloseHandle(file);
    return known;
}

}  // namespace

bool IsSameFile(const std::string& first, const std::string& second) {
    BY_HANDLE_FILE_INFORMATION one;
    BY_HANDLE_FILE_INFORMATION other;
    return IdentifyFile(first, one) && IdentifyFile(second, other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

CreateDirResult CreateDir(const std::string& path) {
    if (path.size() >= kPathBufferSize) return CreateDirResult::Failed;
    if (::CreateDirectoryA(path.c_str(), nullptr)) return CreateDirResult::Created;
    switch (::GetLastError()) {
        case ERROR_ALREADY_EXISTS:
            return CreateDirResult::AlreadyExists;
        case ERROR_PATH_NOT_FOUND:
            return CreateDirResult::ParentMissing;
        default:
            return CreateDirResult::Failed;
    }
}

FileId OpenForReading(const char* path) {
    OwnedHandle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    // A folder cannot be opened this way; a device (CON, NUL, COM1, a pipe) is refused here, as
    // reading one could wait for ever or never end.
    if (!file.IsOpen() || ::GetFileType(file.Get()) != FILE_TYPE_DISK) return kInvalidFile;
    return reinterpret_cast<FileId>(file.Release());
}

namespace {

// The largest offset the system takes. Beyond it an offset means something else: all ones in
// both halves of a write's offset asks for a write at the end of the file.
constexpr std::uint64_t kLargestOffset =
    static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max());

// The record that gives a read or write its offset. On a handle opened for synchronous use the
// call still completes before it returns.
OVERLAPPED RecordAt(std::uint64_t offset) {
    OVERLAPPED record;
    std::memset(&record, 0, sizeof(record));
    record.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    record.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return record;
}

std::optional<LONGLONG> CurrentPosition(HANDLE file) {
    LARGE_INTEGER none;
    none.QuadPart = 0;
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(file, none, &position, FILE_CURRENT)) return std::nullopt;
    return position.QuadPart;
}

bool MoveTo(HANDLE file, LONGLONG position) {
    LARGE_INTEGER target;
    target.QuadPart = position;
    return ::SetFilePointerEx(file, target, nullptr, FILE_BEGIN) != FALSE;
}

// Runs `transfer`, a read or write at an offset, and puts the file position back where it was:
// on a synchronous handle such a call leaves the position after the bytes it moved. False when
// the transfer fails or the position cannot be kept.
template <typename Transfer>
bool KeepingPosition(HANDLE file, Transfer transfer) {
    const std::optional<LONGLONG> position = CurrentPosition(file);
    if (!position) return false;
    const bool transferred = transfer();
    const bool restored = MoveTo(file, *position);
    return transferred && restored;
}

}  // namespace

std::int64_t ReadAt(FileId file, std::uint64_t offset, void* buffer, std::size_t byteCount) {
    if (offset > kLargestOffset) return -1;
    const HANDLE handle = ToHandle(file);
    DWORD got = 0;
    const bool read = KeepingPosition(handle, [&] {
        OVERLAPPED record = RecordAt(offset);
        if (::ReadFile(handle, buffer, OneTransfer(byteCount), &got, &record)) return true;
        // With an offset, a read that starts at or past the end fails with this code instead of
        // reading nothing.
        got = 0;
        return ::GetLastError() == ERROR_HANDLE_EOF;
    });
    return read ? static_cast<std::int64_t>(got) : -1;
}

bool WriteAll(FileId file, const void* buffer, std::size_t byteCount) {
    const auto* cursor = static_cast<const std::uint8_t*>(buffer);
    while (byteCount > 0) {
        DWORD written = 0;
        if (!::WriteFile(ToHandle(file), cursor, OneTransfer(byteCount), &written, nullptr) ||
            written == 0) {
            return false;
        }
        cursor += written;
        byteCount -= written;
    }
    return true;
}

bool WriteAllAt(FileId file, std::uint64_t offset, const void* buffer, std::size_t byteCount) {
    if (offset > kLargestOffset || byteCount > kLargestOffset - offset) return false;
    const HANDLE handle = ToHandle(file);
    return KeepingPosition(handle, [&] {
        const auto* cursor = static_cast<const std::uint8_t*>(buffer);
        std::size_t left = byteCount;
        std::uint64_t at = offset;
        while (left > 0) {
            OVERLAPPED record = RecordAt(at);
            DWORD written = 0;
            if (!::WriteFile(handle, cursor, OneTransfer(left), &written, &record) ||
                written == 0) {
                return false;
            }
            cursor += written;
            at += written;
            left -= written;
        }
        return true;
    });
}

std::optional<std::uint64_t> FileSize(FileId file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(ToHandle(file), &size) || size.QuadPart < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

namespace {

std::optional<FileIdentity> IdentityOfHandle(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    if (::GetFileInformationByHandle(file, &information) == 0) return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        (std::uint64_t{information.nFileIndexHigh} << 32) |
                            information.nFileIndexLow};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(FileId file) { return IdentityOfHandle(ToHandle(file)); }

bool CloseFile(FileId file) { return ::CloseHandle(ToHandle(file)) != FALSE; }

namespace {

// An open destination folder: Windows has no calls relative to a folder handle, so it is kept as
// its path, ready for a bare name to be appended.
struct Folder {
    std::string prefix;
};

const Folder* ToFolder(FolderId folder) {
    if (folder == kInvalidFolder) return nullptr;
    return reinterpret_cast<const Folder*>(folder);
}

// True when the last character of `path` is '\\' or '/'. A double-byte character may end in the
// byte of '\\' without being one, so the path is read character by character.
bool EndsWithSeparator(const std::string& path) {
    bool separator = false;
    for (std::size_t at = 0; at < path.size(); ++at) {
        const auto byte = static_cast<std::uint8_t>(path[at]);
        if (IsLeadByte(byte) && at + 1 < path.size()) {
            ++at;
            separator = false;
        } else {
            separator = byte == '\\' || byte == '/';
        }
    }
    return separator;
}

// True for "C:" alone, which names the current folder of that drive: a separator after it would
// name the drive's root instead.
bool IsDriveAlone(const std::string& path) {
    return path.size() == 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// True when `name` is a name within a folder: not empty, and without separators or ':' (which
// would reach another folder, another drive or a stream of the file).
bool IsBareName(const char* name) {
    const std::string text(name);
    if (text.empty()) return false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        if (IsLeadByte(byte) && at + 1 < text.size()) {
            ++at;
        } else if (byte == '\\' || byte == '/' || byte == ':') {
            return false;
        }
    }
    return true;
}

// The full path of `name` in `folder`; nullopt when `name` is not a bare name or the path does
// not fit the system's buffers.
std::optional<std::string> PathIn(FolderId folder, const char* name) {
    const Folder* open = ToFolder(folder);
    if (open == nullptr || !IsBareName(name)) return std::nullopt;
    std::string path = open->prefix + name;
    if (path.size() >= kPathBufferSize) return std::nullopt;
    return path;
}

// True when a failed look-up says only that nothing stands at the name.
bool MeansMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

FolderId OpenFolder(const char* path) {
    std::string prefix(path);
    if (prefix.empty() || prefix.size() >= kPathBufferSize) return kInvalidFolder;
    const DWORD attributes = ::GetFileAttributesA(prefix.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return kInvalidFolder;
    }
    if (!EndsWithSeparator(prefix) && !IsDriveAlone(prefix)) prefix += '\\';
    if (prefix.size() >= kPathBufferSize) return kInvalidFolder;
    Folder* folder = new (std::nothrow) Folder{std::move(prefix)};
    return folder == nullptr ? kInvalidFolder : reinterpret_cast<FolderId>(folder);
}

void CloseFolder(FolderId folder) { delete ToFolder(folder); }

FileId CreateNewFileIn(FolderId folder, const char* name) {
    const std::optional<std::string> path = PathIn(folder, name);
    if (!path || IsReservedFileName(name)) return kInvalidFile;
    // CREATE_NEW fails on any existing name; with FILE_FLAG_OPEN_REPARSE_POINT a link there,
    // dangling or not, counts as that name instead of being followed to create its target.
    OwnedHandle file(::CreateFileA(path->c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                   nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // Whatever the name list misses, a device is still not a file to write an output to.
    if (!file.IsOpen() || ::GetFileType(file.Get()) != FILE_TYPE_DISK) return kInvalidFile;
    return reinterpret_cast<FileId>(file.Release());
}

bool ReplaceFileIn(FolderId folder, const char* temporaryName, const char* finalName,
                   bool replaceExisting) {
    const std::optional<std::string> from = PathIn(folder, temporaryName);
    const std::optional<std::string> to = PathIn(folder, finalName);
    if (!from || !to || IsReservedFileName(finalName)) return false;
    // The attributes of a link are its own, so a link to a folder is refused like a folder.
    const DWORD attributes = ::GetFileAttributesA(to->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!MeansMissing(::GetLastError())) return false;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    // A rename within one folder: whatever stood at the final name, a link included, loses the
    // name and is never written through.
    return ::MoveFileExA(from->c_str(), to->c_str(),
                         replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0) != FALSE;
}

std::optional<StoredFile> FindStoredFile(FolderId folder, const char* name, bool) {
    const std::optional<std::string> path = PathIn(folder, name);
    if (!path || IsReservedFileName(name)) return std::nullopt;
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA(path->c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    ::FindClose(search);
    // A link is opened as itself, never followed.
    OwnedHandle file(::CreateFileA(path->c_str(), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
    const std::optional<FileIdentity> identity =
        file.IsOpen() ? IdentityOfHandle(file.Get()) : std::nullopt;
    return StoredFile{found.cFileName, identity.value_or(FileIdentity{})};
}

bool RemoveFileIn(FolderId folder, const char* name) {
    const std::optional<std::string> path = PathIn(folder, name);
    return path && ::DeleteFileA(path->c_str()) != FALSE;
}

std::uint64_t ProcessNumber() { return ::GetCurrentProcessId(); }

// Windows ends no process for writing past a size limit: a failed write is reported as such.
void PrepareProcess() {}

unsigned ProcessorCount() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) == FALSE) return 1;
    unsigned count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count > 0 ? count : 1;
}

namespace {

bool IsDotEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Moves on from "." and ".." to the next real match; false when there is none.
bool SkipDotEntries(HANDLE search, WIN32_FIND_DATAA& found) {
    while (IsDotEntry(found.cFileName)) {
        if (!::FindNextFileA(search, &found)) return false;
    }
    return true;
}

}  // namespace

SearchId StartSearch(const char* pattern, std::string& firstName) {
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA(pattern, &found);
    if (!IsValid(search)) return kInvalidSearch;
    if (!SkipDotEntries(search, found)) {
        ::FindClose(search);
        return kInvalidSearch;
    }
    firstName = found.cFileName;
    return reinterpret_cast<SearchId>(search);
}

bool NextMatch(SearchId id, std::string& name) {
    const HANDLE search = reinterpret_cast<HANDLE>(id);
    if (!IsValid(search)) return false;
    WIN32_FIND_DATAA found;
    if (!::FindNextFileA(search, &found) || !SkipDotEntries(search, found)) return false;
    name = found.cFileName;
    return true;
}

void EndSearch(SearchId id) {
    const HANDLE search = reinterpret_cast<HANDLE>(id);
    if (IsValid(search)) ::FindClose(search);
}

void* AllocateBlock(std::size_t byteCount) { return ::HeapAlloc(::GetProcessHeap(), 0, byteCount); }

void* ResizeBlock(void* block, std::size_t byteCount) {
    return ::HeapReAlloc(::GetProcessHeap(), 0, block, byteCount);
}

void FreeBlock(void* block) { ::HeapFree(::GetProcessHeap(), 0, block); }

namespace {

bool IsConsole(DWORD standardHandle) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(standardHandle), &mode) != FALSE;
}

}  // namespace

bool StdoutIsTerminal() { return IsConsole(STD_OUTPUT_HANDLE); }

bool StderrIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

bool CanAskOnTerminal() { return IsConsole(STD_INPUT_HANDLE) && StdoutIsTerminal(); }

void ShowInformation(const char* caption, const char* text) {
    // Whatever the console shows so far stays visible behind the box.
    std::fflush(stdout);
    if (::MessageBoxA(nullptr, text, caption, MB_ICONINFORMATION | MB_OK) > 0) return;
    // No box could be shown (no desktop to show it on): the message goes to standard error
    // rather than being lost.
    std::fprintf(stderr, "%s\n%s\n", caption, text);
}

// --- Dialogs and the records behind them ---------------------------------------------------------

const bool kHasFileDialogs = true;

namespace {

// True when the dialogs take their newer form: the system's version is 4.90 or later. False for
// an older version and when it cannot be read.
bool IsNewShell() {
    OSVERSIONINFOA version;
    static_assert(sizeof(version) == 148, "the version record has 148 bytes");
    std::memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!::GetVersionExA(&version)) return false;
    return version.dwMajorVersion >= 5 ||
           (version.dwMajorVersion == 4 && version.dwMinorVersion >= 90);
}

// Three pairs of description and pattern, each zero-terminated, and one more zero to end them.
constexpr char kOpenFileFilter[] =
    "Lumivale SFS (*.sfs)\0*.SFS\0VAG files (*.vag)\0*.VAG\0All files (*.*)\0*.*\0";
static_assert(sizeof(kOpenFileFilter) == 72, "the filter list has 72 bytes");

// The buffers the open-file dialog fills: the chosen path and the chosen file's title.
struct OpenFileBuffers {
    char file[260];
    char title[256];
};

// The buffers beside the folder browser: the chosen item's display name and its path.
struct BrowseBuffers {
    char displayName[260];
    char path[260];
};

UINT_PTR CALLBACK OpenDialogHook(HWND, UINT, WPARAM, LPARAM) {
    // Every message gets the dialog's own default processing.
    return 0;
}

// The older form of the record ends before its last three fields (a reserved pointer, a reserved
// number and the extra flags); on 32-bit Windows the two forms have 76 and 88 bytes.
constexpr DWORD kOlderOpenFileRecordSize = offsetof(OPENFILENAMEA, pvReserved);
static_assert(sizeof(void*) != 4 || (kOlderOpenFileRecordSize == 76 && sizeof(OPENFILENAMEA) == 88),
              "OPENFILENAMEA sizes on 32-bit Windows");

// Fills the open-file record (every other field zero) with the buffers emptied. The newer, longer
// form of the record is used when `newShell` is true.
void FillOpenFileRecord(bool newShell, OpenFileBuffers& buffers, OPENFILENAMEA& record) {
    std::memset(&record, 0, sizeof(record));
    buffers.file[0] = '\0';
    buffers.title[0] = '\0';
    record.lStructSize = newShell ? sizeof(OPENFILENAMEA) : kOlderOpenFileRecordSize;
    record.lpstrFilter = kOpenFileFilter;
    record.nFilterIndex = 0;
    record.lpstrFile = buffers.file;
    record.nMaxFile = sizeof(buffers.file);
    record.lpstrFileTitle = buffers.title;
    record.nMaxFileTitle = sizeof(buffers.title);
    record.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_EXPLORER | OFN_ENABLESIZING;
    record.lpstrDefExt = "SFS";
    record.lpfnHook = OpenDialogHook;
}

// Fills the folder-browser record (no owner, no root, no callback) with the buffers emptied; the
// new dialog style is asked for when `newShell` is true.
void FillBrowseRecord(bool newShell, const char* title, BrowseBuffers& buffers,
                      BROWSEINFOA& record) {
    std::memset(&record, 0, sizeof(record));
    buffers.displayName[0] = '\0';
    buffers.path[0] = '\0';
    record.hwndOwner = nullptr;
    record.pidlRoot = nullptr;
    record.pszDisplayName = buffers.displayName;
    record.lpszTitle = title;
    record.ulFlags = BIF_RETURNONLYFSDIRS | (newShell ? BIF_NEWDIALOGSTYLE : 0);
    record.lpfn = nullptr;
    record.iImage = 0;
}

}  // namespace

bool ShowOpenFileDialog(std::string& path) {
    OpenFileBuffers buffers;
    OPENFILENAMEA record;
    FillOpenFileRecord(IsNewShell(), buffers, record);
    // Zero is a cancel, or a failure such as a name too long for the buffer.
    if (!::GetOpenFileNameA(&record)) return false;
    path = buffers.file;
    return true;
}

namespace {

// COM on this thread for as long as the owner lives. A failed start is not balanced by an end.
class ComSession {
  public:
    ComSession() : started_(SUCCEEDED(::CoInitialize(nullptr))) {}
    ~ComSession() {
        if (started_) ::CoUninitialize();
    }
    ComSession(const ComSession&) = delete;
    ComSession& operator=(const ComSession&) = delete;

  private:
    bool started_;
};

// An item list from the shell, given back to the shell's allocator when the owner goes.
class ShellItemList {
  public:
    explicit ShellItemList(PIDLIST_ABSOLUTE list) : list_(list) {}
    ~ShellItemList() {
        if (list_ == nullptr) return;
        IMalloc* allocator = nullptr;
        // When the allocator cannot be had, the list cannot be freed either.
        if (SUCCEEDED(::SHGetMalloc(&allocator)) && allocator != nullptr) {
            allocator->Free(list_);
            allocator->Release();
        }
    }
    ShellItemList(const ShellItemList&) = delete;
    ShellItemList& operator=(const ShellItemList&) = delete;

    PIDLIST_ABSOLUTE Get() const { return list_; }

  private:
    PIDLIST_ABSOLUTE list_;
};

}  // namespace

BrowseResult ShowFolderBrowser(const char* title, std::string& path) {
    const ComSession com;
    BrowseBuffers buffers;
    BROWSEINFOA record;
    FillBrowseRecord(IsNewShell(), title, buffers, record);
    const ShellItemList chosen(::SHBrowseForFolderA(&record));
    if (chosen.Get() == nullptr) return BrowseResult::Cancelled;
    if (!::SHGetPathFromIDListA(chosen.Get(), buffers.path)) return BrowseResult::NoFileSystemPath;
    path = buffers.path;
    return BrowseResult::Chosen;
}

}  // namespace sorvik::platform
