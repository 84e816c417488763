// The platform layer on Windows. Paths and texts are UTF-8 strings inside the program, separated
// by '\\'; here, at the edge, they become UTF-16 for the system's wide ("W") functions, and an
// absolute path takes its \\?\ form, so that no 260-character limit applies.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format off
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace sorvik::platform {

const char kPathSeparator = '\\';
const bool kSlashStartsOption = true;
const bool kCaseInsensitiveNames = true;
const bool kIgnoresTrailingDotsAndBlanks = true;

namespace {

// The longest path the system holds, in UTF-16 units, the terminating zero included.
constexpr DWORD kLongestPath = 32768;

// The UTF-16 form of the UTF-8 `text`; nullopt when it is not UTF-8.
std::optional<std::wstring> Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    constexpr auto kLargest = static_cast<std::size_t>(std::numeric_limits<int>::max());
    if (text.size() > kLargest) return std::nullopt;
    const int size = static_cast<int>(text.size());
    const int length =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
    return wide;
}

// The UTF-8 form of `length` UTF-16 units at `text` (up to its zero when `length` is -1).
std::string Narrow(const wchar_t* text, int length = -1) {
    if (length < 0) length = static_cast<int>(std::wcslen(text));
    if (length == 0) return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), size, nullptr, nullptr);
    return narrow;
}

std::string Narrow(const std::wstring& text) {
    return Narrow(text.c_str(), static_cast<int>(text.size()));
}

// The full form of `path` as the system resolves it (against the current folder, with "." and
// ".." folded and '/' made '\\'); nullopt when it is longer than the system holds.
std::optional<std::wstring> FullPath(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()),
                                                buffer.data(), nullptr);
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        // A result of the buffer's size or more is the size the full path needs.
        if (length > kLongestPath) return std::nullopt;
        buffer.resize(length);
    }
}

bool StartsWith(const std::wstring& text, const wchar_t* start) {
    return text.compare(0, std::wcslen(start), start) == 0;
}

bool IsDeviceComponent(const std::wstring& component);

// True when a folder or file name within `full` (after its drive or share) names a device: under
// the \\?\ form such a name would be made a real file or folder that few programs can remove.
bool HoldsDeviceName(const std::wstring& full, std::size_t rootLength) {
    std::size_t start = rootLength;
    while (start < full.size()) {
        std::size_t end = full.find(L'\\', start);
        if (end == std::wstring::npos) end = full.size();
        if (end > start && IsDeviceComponent(full.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

// The form of the UTF-8 `path` the wide calls take: resolved to a full path and given the
// \\?\ form that lifts the 260-character limit (\\?\UNC\ for a share). A path already in
// the \\?\ or \\.\ form is taken as it is. nullopt when `path` is not UTF-8, too long for the
// system, or names a device within it.
std::optional<std::wstring> SystemPath(const std::string& path) {
    const std::optional<std::wstring> wide = Widen(path);
    if (!wide || wide->empty()) return std::nullopt;
    if (StartsWith(*wide, L"\\\\?\\") || StartsWith(*wide, L"\\\\.\\")) return wide;
    const std::optional<std::wstring> full = FullPath(*wide);
    if (!full) return std::nullopt;
    // A name the system resolves to a device is not given to a file call.
    if (StartsWith(*full, L"\\\\.\\") || StartsWith(*full, L"\\\\?\\")) return std::nullopt;
    if (StartsWith(*full, L"\\\\")) {
        if (HoldsDeviceName(*full, 2)) return std::nullopt;
        return L"\\\\?\\UNC\\" + full->substr(2);
    }
    if (full->size() < 3 || (*full)[1] != L':' || HoldsDeviceName(*full, 3)) return std::nullopt;
    return L"\\\\?\\" + *full;
}

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

namespace {

bool EqualsAsciiNoCase(const std::string& text, const char* word) {
    std::size_t at = 0;
    for (; word[at] != '\0'; ++at) {
        if (at == text.size()) return false;
        char letter = text[at];
        if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
        if (letter != word[at]) return false;
    }
    return at == text.size();
}

}  // namespace

bool IsReservedFileName(const std::string& name) {
    // The device names hold whatever extension follows them, and trailing blanks are ignored.
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (EqualsAsciiNoCase(stem, device)) return true;
    }
    // COM and LPT take the digits 1-9 and the superscripts ¹ ² ³.
    const std::string number = stem.size() > 3 ? stem.substr(3) : std::string();
    const bool numbered = (number.size() == 1 && number[0] >= '1' && number[0] <= '9') ||
                          number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
    const std::string port = stem.substr(0, 3);
    return numbered && (EqualsAsciiNoCase(port, "COM") || EqualsAsciiNoCase(port, "LPT"));
}

namespace {

bool IsDeviceComponent(const std::wstring& component) {
    return IsReservedFileName(Narrow(component));
}

}  // namespace

int CompareNoCase(const char* left, const char* right) {
    const std::optional<std::wstring> wideLeft = Widen(left);
    const std::optional<std::wstring> wideRight = Widen(right);
    if (!wideLeft || !wideRight) return std::strcmp(left, right);
    return ::lstrcmpiW(wideLeft->c_str(), wideRight->c_str());
}

std::string FoldCase(const std::string& name) {
    std::optional<std::wstring> wide = Widen(name);
    if (!wide) return name;
    // The file system's own table folds to upper case.
    ::CharUpperBuffW(wide->data(), static_cast<DWORD>(wide->size()));
    return Narrow(*wide);
}

std::optional<std::string> MakeAbsolute(const std::string& path) {
    const std::optional<std::wstring> wide = Widen(path);
    if (!wide || wide->empty()) return std::nullopt;
    const std::optional<std::wstring> full = FullPath(*wide);
    if (!full) return std::nullopt;
    return Narrow(*full);
}

std::optional<std::string> GetCurrentDir() {
    std::vector<wchar_t> buffer(kLongestPath);
    const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size()) return std::nullopt;
    return Narrow(buffer.data(), static_cast<int>(length));
}

bool IsPathTooLong(const std::string& path) {
    const std::optional<std::wstring> wide = Widen(path);
    if (!wide || wide->size() >= kLongestPath) return wide.has_value();
    return !FullPath(*wide) && ::GetLastError() == ERROR_FILENAME_EXCED_RANGE;
}

// The file system ignores case: opening the name as it is finds the file in any case.
std::optional<std::string> FindNameIgnoringCase(const std::string&, const std::string& name) {
    return name;
}

bool IsDirectory(const std::string& path) {
    const std::optional<std::wstring> systemPath = SystemPath(path);
    if (!systemPath) return false;
    const DWORD attributes = ::GetFileAttributesW(systemPath->c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// The volume and index of the file at `path`; false when it cannot be opened.
bool IdentifyFile(const std::string& path, BY_HANDLE_FILE_INFORMATION& identity) {
    const std::optional<std::wstring> systemPath = SystemPath(path);
    if (!systemPath) return false;
    const HANDLE file = ::CreateFileW(systemPath->c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
    const std::optional<std::wstring> systemPath = SystemPath(path);
    if (!systemPath) return CreateDirResult::Failed;
    if (::CreateDirectoryW(systemPath->c_str(), nullptr)) return CreateDirResult::Created;
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
    const std::optional<std::wstring> systemPath = SystemPath(path);
    if (!systemPath) return kInvalidFile;
    OwnedHandle file(::CreateFileW(systemPath->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
    return FileIdentity{
        information.dwVolumeSerialNumber,
        (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
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

// True when the last character of `path` is '\\' or '/'.
bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
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
    return name[0] != '\0' && std::strpbrk(name, "\\/:") == nullptr;
}

// The system's form of `name` in `folder`; nullopt when `name` is not a bare name or the path
// cannot be given to the system.
std::optional<std::wstring> PathIn(FolderId folder, const char* name) {
    const Folder* open = ToFolder(folder);
    if (open == nullptr || !IsBareName(name)) return std::nullopt;
    return SystemPath(open->prefix + name);
}

// True when a failed look-up says only that nothing stands at the name.
bool MeansMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

FolderId OpenFolder(const char* path) {
    std::string prefix(path);
    if (!IsDirectory(prefix)) return kInvalidFolder;
    if (!EndsWithSeparator(prefix) && !IsDriveAlone(prefix)) prefix += '\\';
    Folder* folder = new (std::nothrow) Folder{std::move(prefix)};
    return folder == nullptr ? kInvalidFolder : reinterpret_cast<FolderId>(folder);
}

void CloseFolder(FolderId folder) { delete ToFolder(folder); }

FileId CreateNewFileIn(FolderId folder, const char* name) {
    const std::optional<std::wstring> path = PathIn(folder, name);
    if (!path || IsReservedFileName(name)) return kInvalidFile;
    // CREATE_NEW fails on any existing name; with FILE_FLAG_OPEN_REPARSE_POINT a link there,
    // dangling or not, counts as that name instead of being followed to create its target.
    OwnedHandle file(::CreateFileW(path->c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                   nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // Whatever the name list misses, a device is still not a file to write an output to.
    if (!file.IsOpen() || ::GetFileType(file.Get()) != FILE_TYPE_DISK) return kInvalidFile;
    return reinterpret_cast<FileId>(file.Release());
}

bool ReplaceFileIn(FolderId folder, const char* temporaryName, const char* finalName,
                   bool replaceExisting) {
    const std::optional<std::wstring> from = PathIn(folder, temporaryName);
    const std::optional<std::wstring> to = PathIn(folder, finalName);
    if (!from || !to || IsReservedFileName(finalName)) return false;
    // The attributes of a link are its own, so a link to a folder is refused like a folder.
    const DWORD attributes = ::GetFileAttributesW(to->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!MeansMissing(::GetLastError())) return false;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    // A rename within one folder: whatever stood at the final name, a link included, loses the
    // name and is never written through.
    return ::MoveFileExW(from->c_str(), to->c_str(),
                         replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0) != FALSE;
}

std::optional<StoredFile> FindStoredFile(FolderId folder, const char* name, bool) {
    const std::optional<std::wstring> path = PathIn(folder, name);
    if (!path || IsReservedFileName(name)) return std::nullopt;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(path->c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    ::FindClose(search);
    // A link is opened as itself, never followed.
    OwnedHandle file(::CreateFileW(
        path->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const std::optional<FileIdentity> identity =
        file.IsOpen() ? IdentityOfHandle(file.Get()) : std::nullopt;
    return StoredFile{Narrow(found.cFileName), identity.value_or(FileIdentity{})};
}

bool RemoveFileIn(FolderId folder, const char* name) {
    const std::optional<std::wstring> path = PathIn(folder, name);
    return path && ::DeleteFileW(path->c_str()) != FALSE;
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

bool IsDotEntry(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// Moves on from "." and ".." to the next real match; false when there is none.
bool SkipDotEntries(HANDLE search, WIN32_FIND_DATAW& found) {
    while (IsDotEntry(found.cFileName)) {
        if (!::FindNextFileW(search, &found)) return false;
    }
    return true;
}

}  // namespace

SearchId StartSearch(const char* pattern, std::string& firstName) {
    const std::optional<std::wstring> systemPattern = SystemPath(pattern);
    if (!systemPattern) return kInvalidSearch;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(systemPattern->c_str(), &found);
    if (!IsValid(search)) return kInvalidSearch;
    if (!SkipDotEntries(search, found)) {
        ::FindClose(search);
        return kInvalidSearch;
    }
    firstName = Narrow(found.cFileName);
    return reinterpret_cast<SearchId>(search);
}

bool NextMatch(SearchId id, std::string& name) {
    const HANDLE search = reinterpret_cast<HANDLE>(id);
    if (!IsValid(search)) return false;
    WIN32_FIND_DATAW found;
    if (!::FindNextFileW(search, &found) || !SkipDotEntries(search, found)) return false;
    name = Narrow(found.cFileName);
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

void WriteOut(const std::string& text, bool toStandardError) {
    std::FILE* stream = toStandardError ? stderr : stdout;
    const HANDLE console = ::GetStdHandle(toStandardError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    const std::optional<std::wstring> wide = Widen(text);
    if (::GetConsoleMode(console, &mode) == FALSE || !wide) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // The console takes characters, whatever its code page; what the C library holds for it
    // goes first.
    std::fflush(stream);
    for (std::size_t at = 0; at < wide->size();) {
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(wide->size() - at, 8192));
        DWORD written = 0;
        if (!::WriteConsoleW(console, wide->data() + at, count, &written, nullptr) ||
            written == 0) {
            return;
        }
        at += written;
    }
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

namespace {

// The text of `bytes` in code page `from`, in code page `to`; nullopt when a character has no
// form in either.
std::optional<std::string> ConvertText(const std::string& bytes, UINT from, UINT to) {
    if (bytes.empty()) return std::string();
    if (bytes.size() > 0x10000000) return std::nullopt;
    const int size = static_cast<int>(bytes.size());
    const int length =
        ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), length);
    // Into code page 932, a character it lacks is neither fitted to a like one nor defaulted.
    const DWORD flags = to == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL defaulted = FALSE;
    BOOL* const reportDefault = to == CP_UTF8 ? nullptr : &defaulted;
    const int outLength =
        ::WideCharToMultiByte(to, flags, wide.data(), length, nullptr, 0, nullptr, reportDefault);
    if (outLength <= 0 || defaulted) return std::nullopt;
    std::string converted(static_cast<std::size_t>(outLength), '\0');
    ::WideCharToMultiByte(to, flags, wide.data(), length, converted.data(), outLength, nullptr,
                          nullptr);
    return converted;
}

// True when a person is watching the run: it was started without arguments or from Explorer
// (the process has its console window to itself), or all of standard input, output and error
// are on a console.
bool PersonIsWatching() {
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments != nullptr) ::LocalFree(arguments);
    DWORD processes[2];
    const bool ownConsole = ::GetConsoleProcessList(processes, 2) == 1;
    const bool allConsoles =
        IsConsole(STD_INPUT_HANDLE) && IsConsole(STD_OUTPUT_HANDLE) && IsConsole(STD_ERROR_HANDLE);
    return count == 1 || ownConsole || allConsoles;
}

}  // namespace

std::optional<std::string> Cp932ToUtf8(const std::string& bytes) {
    return ConvertText(bytes, 932, CP_UTF8);
}

std::optional<std::string> Utf8ToCp932(const std::string& text) {
    return ConvertText(text, CP_UTF8, 932);
}

void ShowInformation(const char* caption, const char* text) {
    // An unattended run is never held up: the line on standard error tells it.
    if (!PersonIsWatching()) return;
    // Whatever the console shows so far stays visible behind the box.
    std::fflush(stdout);
    const std::wstring wideText = Widen(text).value_or(L"");
    const std::wstring wideCaption = Widen(caption).value_or(L"");
    if (::MessageBoxW(nullptr, wideText.c_str(), wideCaption.c_str(), MB_ICONINFORMATION | MB_OK) >
        0) {
        return;
    }
    // No box could be shown (no desktop to show it on): the message goes to standard error
    // rather than being lost.
    WriteOut(std::string(caption) + "\n" + text + "\n", true);
}

// --- Dialogs and the records behind them ---------------------------------------------------------

const bool kHasFileDialogs = true;

namespace {

// True when the dialogs take their newer form: the system's version is 4.90 or later. False for
// an older version and when it cannot be read.
bool IsNewShell() {
    OSVERSIONINFOW version;
    std::memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!::GetVersionExW(&version)) return false;
    return version.dwMajorVersion >= 5 ||
           (version.dwMajorVersion == 4 && version.dwMinorVersion >= 90);
}

// Three pairs of description and pattern, each zero-terminated, and one more zero to end them.
constexpr char kOpenFileFilter[] =
    "Lumivale SFS (*.sfs)\0*.SFS\0VAG files (*.vag)\0*.VAG\0All files (*.*)\0*.*\0";
static_assert(sizeof(kOpenFileFilter) == 72, "the filter list has 72 bytes");

// The filter list as the wide dialog takes it: the same characters, the zeros included.
std::wstring WideFilter() {
    return std::wstring(kOpenFileFilter, kOpenFileFilter + sizeof(kOpenFileFilter));
}

// The buffers the open-file dialog fills: the chosen path and the chosen file's title.
struct OpenFileBuffers {
    wchar_t file[260];
    wchar_t title[256];
};

// The buffers beside the folder browser: the chosen item's display name and its path.
struct BrowseBuffers {
    wchar_t displayName[260];
    wchar_t path[260];
};

UINT_PTR CALLBACK OpenDialogHook(HWND, UINT, WPARAM, LPARAM) {
    // Every message gets the dialog's own default processing.
    return 0;
}

// The older form of the record ends before its last three fields (a reserved pointer, a reserved
// number and the extra flags); on 32-bit Windows the two forms have 76 and 88 bytes.
constexpr DWORD kOlderOpenFileRecordSize = offsetof(OPENFILENAMEW, pvReserved);
static_assert(sizeof(void*) != 4 || (kOlderOpenFileRecordSize == 76 && sizeof(OPENFILENAMEW) == 88),
              "OPENFILENAMEW sizes on 32-bit Windows");

// Fills the open-file record (every other field zero) with the buffers emptied. The newer, longer
// form of the record is used when `newShell` is true.
void FillOpenFileRecord(bool newShell, const std::wstring& filter, OpenFileBuffers& buffers,
                        OPENFILENAMEW& record) {
    std::memset(&record, 0, sizeof(record));
    buffers.file[0] = L'\0';
    buffers.title[0] = L'\0';
    record.lStructSize = newShell ? sizeof(OPENFILENAMEW) : kOlderOpenFileRecordSize;
    record.lpstrFilter = filter.c_str();
    record.nFilterIndex = 0;
    record.lpstrFile = buffers.file;
    record.nMaxFile = sizeof(buffers.file) / sizeof(buffers.file[0]);
    record.lpstrFileTitle = buffers.title;
    record.nMaxFileTitle = sizeof(buffers.title) / sizeof(buffers.title[0]);
    record.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_EXPLORER | OFN_ENABLESIZING;
    record.lpstrDefExt = L"SFS";
    record.lpfnHook = OpenDialogHook;
}

// Fills the folder-browser record (no owner, no root, no callback) with the buffers emptied; the
// new dialog style is asked for when `newShell` is true.
void FillBrowseRecord(bool newShell, const wchar_t* title, BrowseBuffers& buffers,
                      BROWSEINFOW& record) {
    std::memset(&record, 0, sizeof(record));
    buffers.displayName[0] = L'\0';
    buffers.path[0] = L'\0';
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
    OPENFILENAMEW record;
    const std::wstring filter = WideFilter();
    FillOpenFileRecord(IsNewShell(), filter, buffers, record);
    // Zero is a cancel, or a failure such as a name too long for the buffer.
    if (!::GetOpenFileNameW(&record)) return false;
    path = Narrow(buffers.file);
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
    BROWSEINFOW record;
    const std::wstring wideTitle = Widen(title).value_or(L"");
    FillBrowseRecord(IsNewShell(), wideTitle.c_str(), buffers, record);
    const ShellItemList chosen(::SHBrowseForFolderW(&record));
    if (chosen.Get() == nullptr) return BrowseResult::Cancelled;
    if (!::SHGetPathFromIDListW(chosen.Get(), buffers.path)) return BrowseResult::NoFileSystemPath;
    path = Narrow(buffers.path);
    return BrowseResult::Chosen;
}

}  // namespace sorvik::platform
