// The platform layer on POSIX systems (Linux, macOS). Paths are UTF-8 and separated by '/'.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <iconv.h>
#ifdef __linux__
#include <sched.h>
#endif
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "platform/platform.h"

namespace sorvik::platform {

const char kPathSeparator = '/';
const bool kSlashStartsOption = false;
#if defined(__APPLE__)
const bool kCaseInsensitiveNames = true;  // the default file system of macOS
#else
const bool kCaseInsensitiveNames = false;
#endif
const bool kIgnoresTrailingDotsAndBlanks = false;

bool IsReservedFileName(const std::string&) { return false; }

int CompareNoCase(const char* left, const char* right) { return ::strcasecmp(left, right); }

std::string FoldCase(const std::string& name) {
    std::string folded = name;
    for (char& character : folded) {
        if (character >= 'A' && character <= 'Z') character = static_cast<char>(character + 32);
    }
    return folded;
}

namespace {

// Removes "." components and folds ".." into its parent, as an absolute path is shown to users.
std::string NormalizeAbsolute(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    // A trailing separator is kept, as it says the path names a folder.
    if (result.empty() || (path.size() > 1 && path.back() == '/')) result += '/';
    return result;
}

}  // namespace

std::optional<std::string> GetCurrentDir() {
    std::vector<char> buffer(4096);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
        if (errno != ERANGE) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::string> MakeAbsolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return NormalizeAbsolute(path);
    const std::optional<std::string> current = GetCurrentDir();
    if (!current) return std::nullopt;
    return NormalizeAbsolute(*current + "/" + path);
}

bool IsPathTooLong(const std::string&) { return false; }

std::optional<std::string> FindNameIgnoringCase(const std::string& folder,
                                                const std::string& name) {
    struct stat status;
    if (::lstat((folder + name).c_str(), &status) == 0) return name;
    DIR* directory = ::opendir(folder.empty() ? "." : folder.c_str());
    if (directory == nullptr) return std::nullopt;
    std::optional<std::string> found;
    while (const dirent* entry = ::readdir(directory)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0 && (!found || *found > entry->d_name)) {
            found = entry->d_name;
        }
    }
    ::closedir(directory);
    return found;
}

bool IsDirectory(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsSameFile(const std::string& first, const std::string& second) {
    struct stat one;
    struct stat other;
    return ::stat(first.c_str(), &one) == 0 && ::stat(second.c_str(), &other) == 0 &&
           one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

CreateDirResult CreateDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return CreateDirResult::Created;
    switch (errno) {
        case EEXIST:
            return CreateDirResult::AlreadyExists;
        case ENOENT:
            return CreateDirResult::ParentMissing;
        default:
            return CreateDirResult::Failed;
    }
}

FileId OpenForReading(const char* path) {
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one.
    const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return kInvalidFile;
    struct stat status;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return kInvalidFile;
    }
    return descriptor;
}

std::int64_t ReadAt(FileId file, std::uint64_t offset, void* buffer, std::size_t byteCount) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return -1;
    for (;;) {
        const ssize_t got =
            ::pread(static_cast<int>(file), buffer, byteCount, static_cast<off_t>(offset));
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

namespace {

// Calls `write(cursor, count)` until every byte is written; it returns the count written or -1.
template <typename WriteSome>
bool WriteEvery(const void* buffer, std::size_t byteCount, WriteSome writeSome) {
    const auto* cursor = static_cast<const std::uint8_t*>(buffer);
    std::uint64_t done = 0;
    while (byteCount > 0) {
        const ssize_t written = writeSome(cursor, byteCount, done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        cursor += written;
        done += static_cast<std::uint64_t>(written);
        byteCount -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool WriteAll(FileId file, const void* buffer, std::size_t byteCount) {
    return WriteEvery(buffer, byteCount, [file](const void* bytes, std::size_t count, std::uint64_t) {
        return ::write(static_cast<int>(file), bytes, count);
    });
}

bool WriteAllAt(FileId file, std::uint64_t offset, const void* buffer, std::size_t byteCount) {
    return WriteEvery(buffer, byteCount,
                      [file, offset](const void* bytes, std::size_t count, std::uint64_t done) {
                          return ::pwrite(static_cast<int>(file), bytes, count,
                                          static_cast<off_t>(offset + done));
                      });
}

std::optional<std::uint64_t> FileSize(FileId file) {
    struct stat status;
    if (::fstat(static_cast<int>(file), &status) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
}

namespace {

FileIdentity IdentityIn(const struct stat& status) {
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                        static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(FileId file) {
    struct stat status;
    if (::fstat(static_cast<int>(file), &status) != 0) return std::nullopt;
    return IdentityIn(status);
}

bool CloseFile(FileId file) { return ::close(static_cast<int>(file)) == 0; }

FolderId OpenFolder(const char* path) {
    const int descriptor = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return descriptor < 0 ? kInvalidFolder : descriptor;
}

void CloseFolder(FolderId folder) {
    if (folder != kInvalidFolder) ::close(static_cast<int>(folder));
}

FileId CreateNewFileIn(FolderId folder, const char* name) {
    const int descriptor = ::openat(static_cast<int>(folder), name,
                                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return descriptor < 0 ? kInvalidFile : descriptor;
}

namespace {

// Renames `from` to `to` in `directory` unless something stands at `to` then: in one step where
// the system can; where it cannot, by a new link (which refuses an existing name too) and, on file
// systems without links, by a look just before the rename.
bool RenameIfFree(int directory, const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(directory, from, directory, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#elif defined(__APPLE__)
    if (::renameatx_np(directory, from, directory, to, RENAME_EXCL) == 0) return true;
    if (errno != ENOTSUP) return false;
#endif
    if (::linkat(directory, from, directory, to, 0) == 0) return ::unlinkat(directory, from, 0) == 0;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return false;
    struct stat status;
    if (::fstatat(directory, to, &status, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
        return false;
    }
    return ::renameat(directory, from, directory, to) == 0;
}

}  // namespace

bool ReplaceFileIn(FolderId folder, const char* temporaryName, const char* finalName,
                   bool replaceExisting) {
    const int directory = static_cast<int>(folder);
    if (!replaceExisting) return RenameIfFree(directory, temporaryName, finalName);
    struct stat status;
    if (::fstatat(directory, finalName, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
        return false;
    }
    return ::renameat(directory, temporaryName, directory, finalName) == 0;
}

std::optional<StoredFile> FindStoredFile(FolderId folder, const char* name, bool foldsCase) {
    const int directory = static_cast<int>(folder);
    struct stat status;
    if (::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    StoredFile stored{name, IdentityIn(status)};
    if (!foldsCase) return stored;
    // The name as the folder lists it: the entry of the same file whose name matches in any case.
    const int listing = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = listing < 0 ? nullptr : ::fdopendir(listing);
    if (entries == nullptr) {
        if (listing >= 0) ::close(listing);
        return stored;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (::strcasecmp(entry->d_name, name) == 0 && entry->d_ino == status.st_ino) {
            stored.name = entry->d_name;
            break;
        }
    }
    ::closedir(entries);
    return stored;
}

bool RemoveFileIn(FolderId folder, const char* name) {
    return ::unlinkat(static_cast<int>(folder), name, 0) == 0;
}

std::uint64_t ProcessNumber() { return static_cast<std::uint64_t>(::getpid()); }

void PrepareProcess() { ::signal(SIGXFSZ, SIG_IGN); }

unsigned ProcessorCount() {
#ifdef __linux__
    // Only those the process is allowed on (a container or `taskset` may limit them).
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return static_cast<unsigned>(std::max(1, CPU_COUNT(&allowed)));
    }
#endif
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 1 ? static_cast<unsigned>(online) : 1;
}

namespace {

// A search lists its folder once, sorted by name, so the order of matches is stable.
struct Search {
    std::vector<std::string> names;
    std::size_t next = 0;
};

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

std::vector<std::string> ListMatches(const std::string& pattern) {
    const std::size_t slash = pattern.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    const std::string namePattern =
        slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    std::vector<std::string> names;
    if (!HasWildcard(namePattern)) {
        struct stat status;
        if (!namePattern.empty() && ::stat(pattern.c_str(), &status) == 0) {
            names.push_back(namePattern);
        }
        return names;
    }
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return names;
    while (const dirent* entry = ::readdir(directory)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        // Names from discs made for Windows come in any case, so patterns ignore case.
        if (::fnmatch(namePattern.c_str(), name, FNM_CASEFOLD) == 0) names.emplace_back(name);
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

SearchId StartSearch(const char* pattern, std::string& firstName) {
    auto* search = new (std::nothrow) Search{ListMatches(pattern), 0};
    if (search == nullptr) return kInvalidSearch;
    if (search->names.empty()) {
        delete search;
        return kInvalidSearch;
    }
    firstName = search->names[search->next++];
    return reinterpret_cast<SearchId>(search);
}

bool NextMatch(SearchId id, std::string& name) {
    auto* search = reinterpret_cast<Search*>(id);
    if (search == nullptr || search->next >= search->names.size()) return false;
    name = search->names[search->next++];
    return true;
}

void EndSearch(SearchId id) { delete reinterpret_cast<Search*>(id); }

namespace {

// Converts `text` from one character set to another with the C library's converter; nullopt when
// a byte sequence has no form in the other set or the library has no converter between them.
std::optional<std::string> ConvertText(const std::string& text, const char* from, const char* to) {
    const iconv_t converter = ::iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string input = text;
    std::string output(text.size() * 2 + 4, '\0');  // UTF-8 needs at most 3 bytes for 2
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    const std::size_t converted = ::iconv(converter, &in, &inLeft, &out, &outLeft);
    ::iconv_close(converter);
    if (converted == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
    output.resize(output.size() - outLeft);
    return output;
}

}  // namespace

std::optional<std::string> Cp932ToUtf8(const std::string& bytes) {
    return ConvertText(bytes, "CP932", "UTF-8");
}

std::optional<std::string> Utf8ToCp932(const std::string& text) {
    return ConvertText(text, "UTF-8", "CP932");
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void* AllocateBlock(std::size_t byteCount) { return std::malloc(byteCount); }

void* ResizeBlock(void* block, std::size_t byteCount) { return std::realloc(block, byteCount); }

void FreeBlock(void* block) { std::free(block); }

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void WriteOut(const std::string& text, bool toStandardError) {
    std::fwrite(text.data(), 1, text.size(), toStandardError ? stderr : stdout);
}

bool CanAskOnTerminal() { return ::isatty(STDIN_FILENO) == 1 && StdoutIsTerminal(); }

// Standard error keeps one English line per problem, which the caller has written.
void ShowInformation(const char*, const char*) {}

}  // namespace sorvik::platform

// === Dialogs =====================================================================================
// POSIX systems have no dialogs of their own: the front end asks on the terminal instead.

namespace sorvik::platform {

const bool kHasFileDialogs = false;

bool ShowOpenFileDialog(std::string&) { return false; }

BrowseResult ShowFolderBrowser(const char*, std::string&) { return BrowseResult::Cancelled; }

}  // namespace sorvik::platform
