#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Files, folders and runs of the real binary for the tests.
namespace sorvik::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& Path() const { return path_; }
    // `relative` (UTF-8) under the folder, as a UTF-8 string.
    std::string operator/(const std::string& relative) const {
        return (path_ / fs::u8path(relative)).u8string();
    }

  private:
    fs::path path_;
};

std::vector<std::uint8_t> ReadBytes(const fs::path& path);
// True when both files hold the same bytes (read a piece at a time, as archives are large).
bool SameBytes(const fs::path& first, const fs::path& second);
void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes);
// Every file below `folder`, as UTF-8 paths relative to it with '/' separators, sorted.
std::vector<std::string> ListFilesBelow(const fs::path& folder);

struct RunResult {
    std::string output;       // everything written to standard output
    std::string errorOutput;  // everything written to standard error
    int exitCode = -1;
};

#if defined(_WIN32)
// Quotes one argument of a command line so that the C runtime's parser gives it back unchanged.
std::string QuoteArgument(const std::string& argument);
#endif

// Runs the sorvik binary with `arguments` (UTF-8, passed exactly, empty ones included) in the
// folder `workingDir`, with standard input empty and standard output and error captured.
RunResult RunSorvik(const std::vector<std::string>& arguments, const fs::path& workingDir);

}  // namespace sorvik::testing
