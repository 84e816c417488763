#include "tests/support/test_files.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace sorvik::testing {

namespace {

// `folder` in a form the library reaches at any length (the \\?\ form on Windows).
fs::path Reachable(const fs::path& folder) {
#if defined(_WIN32)
    return L"\\\\?\\" + fs::absolute(folder).wstring();
#else
    return folder;
#endif
}

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() / ("sorvik-test-" + std::to_string(random()) + "-" +
                                         std::to_string(stamp) + "-" + std::to_string(++counter));
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(Reachable(path_), ignored);
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

bool SameBytes(const fs::path& first, const fs::path& second) {
    std::ifstream one(first, std::ios::binary), other(second, std::ios::binary);
    std::vector<char> piece(1 << 20), otherPiece(1 << 20);
    while (one && other) {
        one.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        other.read(otherPiece.data(), static_cast<std::streamsize>(otherPiece.size()));
        if (one.gcount() != other.gcount() ||
            !std::equal(piece.begin(), piece.begin() + one.gcount(), otherPiece.begin())) {
            return false;
        }
    }
    return one.eof() && other.eof();
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    if (!stream) throw std::runtime_error("cannot write " + path.string());
}

#if defined(_WIN32)

namespace {

// Adds the files below `folder` (a \\?\ path) to `names`, each after `prefix`. The search is
// the system's own, as the library's does not reach past 260 characters.
void AddFilesBelow(const std::wstring& folder, const std::string& prefix,
                   std::vector<std::string>& names) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::string shown = prefix + fs::path(name).u8string();
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            AddFilesBelow(folder + L"\\" + name, shown + "/", names);
        } else {
            names.push_back(shown);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

std::vector<std::string> ListFilesBelow(const fs::path& folder) {
    std::vector<std::string> names;
    AddFilesBelow(Reachable(folder).native(), "", names);
    std::sort(names.begin(), names.end());
    return names;
}

#else

std::vector<std::string> ListFilesBelow(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory()) {
            names.push_back(fs::relative(entry.path(), folder).generic_u8string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

#endif

#if defined(_WIN32)

namespace {

// Reads a pipe to its end and closes it.
std::string ReadAll(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(pipe);
    return text;
}

}  // namespace

std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char character : argument) {
        if (character == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(character == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += character;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

RunResult RunSorvik(const std::vector<std::string>& arguments, const fs::path& workingDir) {
    std::string commandLine = QuoteArgument(SORVIK_BINARY);
    for (const std::string& argument : arguments) commandLine += " " + QuoteArgument(argument);

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    HANDLE errorReadEnd = nullptr;
    HANDLE errorWriteEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0) ||
        !CreatePipe(&errorReadEnd, &errorWriteEnd, &inherit, 0)) {
        throw std::runtime_error("pipe");
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errorReadEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nullInput = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullInput;
    startup.hStdOutput = writeEnd;
    startup.hStdError = errorWriteEnd;
    PROCESS_INFORMATION process{};
    // The command line goes in UTF-16, as a user's would, whatever the code page.
    std::wstring wideLine(commandLine.size() + 1, L'\0');
    wideLine.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(), -1, wideLine.data(),
                            static_cast<int>(wideLine.size())) -
        1));
    const std::wstring folder = workingDir.wstring();
    if (!CreateProcessW(nullptr, wideLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        throw std::runtime_error("cannot start " + commandLine);
    }
    CloseHandle(writeEnd);
    CloseHandle(errorWriteEnd);
    CloseHandle(nullInput);
    RunResult result;
    result.output = ReadAll(readEnd);
    result.errorOutput = ReadAll(errorReadEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    result.exitCode = static_cast<int>(exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

#else

namespace {

// Reads a pipe to its end and closes it.
std::string ReadAll(int descriptor) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof(buffer));
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(descriptor);
    return text;
}

}  // namespace

RunResult RunSorvik(const std::vector<std::string>& arguments, const fs::path& workingDir) {
    int pipeEnds[2];
    int errorEnds[2];
    if (::pipe(pipeEnds) != 0 || ::pipe(errorEnds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorEnds[1], STDERR_FILENO);
    for (const int end : {pipeEnds[0], pipeEnds[1], errorEnds[0], errorEnds[1]}) {
        posix_spawn_file_actions_addclose(&actions, end);
    }

    std::vector<std::string> argumentStrings{SORVIK_BINARY};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentStrings) argv.push_back(argument.data());
    argv.push_back(nullptr);

    // posix_spawn has no portable way to set the child's folder, so the parent moves for it.
    const fs::path previous = fs::current_path();
    fs::current_path(workingDir);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    fs::current_path(previous);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    ::close(errorEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        ::close(errorEnds[0]);
        throw std::runtime_error("cannot start the binary");
    }
    RunResult result;
    // Standard error carries at most a few lines, far less than a pipe holds, so reading the
    // two one after the other cannot stall the child.
    result.output = ReadAll(pipeEnds[0]);
    result.errorOutput = ReadAll(errorEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

#endif

}  // namespace sorvik::testing
