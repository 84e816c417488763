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

#include "common/japanese_texts.h"
#include "platform/platform.h"

namespace sorvik::platform {

const char kPathSeparator = '\\';
const bool kSlashStartsOption = true;
const bool kCaseInsensitiveNames = true;

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

bool SetCurrentDir(const std::string& path) {
    if (path.size() >= kPathBufferSize) return false;
    return ::SetCurrentDirectoryA(path.c_str()) != FALSE;
}

bool IsDirectory(const std::string& path) {
    if (path.size() >= kPathBufferSize) return false;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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

FileId CreateForWriting(const char* path) {
    const HANDLE file = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return IsValid(file) ? reinterpret_cast<FileId>(file) : kInvalidFile;
}

std::int64_t ReadSome(FileId file, void* buffer, std::size_t byteCount) {
    const DWORD asked =
        static_cast<DWORD>(byteCount < kLargestTransfer ? byteCount : kLargestTransfer);
    DWORD got = 0;
    if (!::ReadFile(ToHandle(file), buffer, asked, &got, nullptr)) return -1;
    return got;
}

bool WriteAll(FileId file, const void* buffer, std::size_t byteCount) {
    const auto* cursor = static_cast<const std::uint8_t*>(buffer);
    while (byteCount > 0) {
        const DWORD asked =
            static_cast<DWORD>(byteCount < kLargestTransfer ? byteCount : kLargestTransfer);
        DWORD written = 0;
        if (!::WriteFile(ToHandle(file), cursor, asked, &written, nullptr) || written == 0) {
            return false;
        }
        cursor += written;
        byteCount -= written;
    }
    return true;
}

namespace {

// Moves the file position; the new position, or nullopt on failure.
std::optional<std::uint64_t> MovePosition(FileId file, std::int64_t offset, DWORD method) {
    LONG high = static_cast<LONG>(offset >> 32);
    ::SetLastError(NO_ERROR);
    const DWORD low =
        ::SetFilePointer(ToHandle(file), static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
    // INVALID_SET_FILE_POINTER is also a valid low half; only the error code tells them apart.
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return std::nullopt;
    return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

}  // namespace

bool Seek(FileId file, std::int64_t offset, SeekOrigin origin) {
    return MovePosition(file, offset, origin == SeekOrigin::Begin ? FILE_BEGIN : FILE_CURRENT)
        .has_value();
}

std::optional<std::uint64_t> FileSize(FileId file) {
    const std::optional<std::uint64_t> position = MovePosition(file, 0, FILE_CURRENT);
    if (!position) return std::nullopt;
    const std::optional<std::uint64_t> end = MovePosition(file, 0, FILE_END);
    if (!MovePosition(file, static_cast<std::int64_t>(*position), FILE_BEGIN)) return std::nullopt;
    return end;
}

bool CloseFile(FileId file) { return ::CloseHandle(ToHandle(file)) != FALSE; }

std::optional<FileView> MapWholeFile(FileId file) {
    const std::optional<std::uint64_t> size = FileSize(file);
    if (!size || *size == 0 || *size > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }
    OwnedHandle mapping(
        ::CreateFileMappingA(ToHandle(file), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.IsOpen()) return std::nullopt;
    const void* data = ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0);
    if (data == nullptr) return std::nullopt;
    FileView view;
    view.data = static_cast<const std::uint8_t*>(data);
    view.size = static_cast<std::size_t>(*size);
    view.mapping = reinterpret_cast<std::intptr_t>(mapping.Release());
    return view;
}

void UnmapFile(const FileView& view) {
    if (view.data != nullptr) ::UnmapViewOfFile(view.data);
    const HANDLE mapping = reinterpret_cast<HANDLE>(view.mapping);
    if (IsValid(mapping)) ::CloseHandle(mapping);
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

bool CanAskOnTerminal() { return IsConsole(STD_INPUT_HANDLE) && StdoutIsTerminal(); }

void ShowInformation(const char* caption, const char* text) {
    const MessageRecord message = MakeInformationMessage(caption, text);
    // Whatever the console shows so far stays visible behind the box.
    std::fflush(stdout);
    if (::MessageBoxA(nullptr, message.text, message.caption, message.style) > 0) return;
    // No box could be shown (no desktop to show it on): the message goes to standard error
    // rather than being lost.
    std::fprintf(stderr, "%s\n%s\n", caption, text);
}

// --- Dialogs and the records behind them ---------------------------------------------------------

const bool kHasFileDialogs = true;

std::optional<SystemVersion> ReadSystemVersion() {
    OSVERSIONINFOA version;
    static_assert(sizeof(version) == 148, "the version record has 148 bytes");
    std::memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!::GetVersionExA(&version)) return std::nullopt;
    return SystemVersion{version.dwMajorVersion, version.dwMinorVersion};
}

// Three pairs of description and pattern, each zero-terminated, and one more zero to end them.
const char kOpenFileFilter[kOpenFileFilterSize] =
    "Lumivale SFS (*.sfs)\0*.SFS\0VAG files (*.vag)\0*.VAG\0All files (*.*)\0*.*\0";

UINT_PTR CALLBACK OpenDialogHook(HWND, UINT, WPARAM, LPARAM) {
    // Every message gets the dialog's own default processing.
    return 0;
}

// The older form of the record ends before its last three fields (a reserved pointer, a reserved
// number and the extra flags); on 32-bit Windows the two forms have 76 and 88 bytes.
constexpr DWORD kOlderOpenFileRecordSize = offsetof(OPENFILENAMEA, pvReserved);
static_assert(sizeof(void*) != 4 || (kOlderOpenFileRecordSize == 76 && sizeof(OPENFILENAMEA) == 88),
              "OPENFILENAMEA sizes on 32-bit Windows");

void FillOpenFileRecord(bool newShell, OpenFileBuffers& buffers, tagOFNA& record) {
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

void FillBrowseRecord(bool newShell, BrowseBuffers& buffers, _browseinfoA& record) {
    std::memset(&record, 0, sizeof(record));
    buffers.displayName[0] = '\0';
    buffers.path[0] = '\0';
    record.hwndOwner = nullptr;
    record.pidlRoot = nullptr;
    record.pszDisplayName = buffers.displayName;
    record.lpszTitle = texts::kChooseDestinationTitleForms.cp932;
    record.ulFlags = BIF_RETURNONLYFSDIRS | (newShell ? BIF_NEWDIALOGSTYLE : 0);
    record.lpfn = nullptr;
    record.iImage = 0;
}

MessageRecord MakeInformationMessage(const char* caption, const char* text) {
    return MessageRecord{caption, text, MB_ICONINFORMATION | MB_OK};
}

bool ShowOpenFileDialog(std::string& path) {
    OpenFileBuffers buffers;
    OPENFILENAMEA record;
    FillOpenFileRecord(IsNewShell(ReadSystemVersion()), buffers, record);
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

BrowseResult ShowFolderBrowser(std::string& path) {
    const ComSession com;
    BrowseBuffers buffers;
    BROWSEINFOA record;
    FillBrowseRecord(IsNewShell(ReadSystemVersion()), buffers, record);
    const ShellItemList chosen(::SHBrowseForFolderA(&record));
    if (chosen.Get() == nullptr) return BrowseResult::Cancelled;
    if (!::SHGetPathFromIDListA(chosen.Get(), buffers.path)) return BrowseResult::NoFileSystemPath;
    path = buffers.path;
    return BrowseResult::Chosen;
}

}  // namespace sorvik::platform
