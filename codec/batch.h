#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/file_handle.h"
#include "platform/platform.h"

namespace sorvik {

// A file opened for reading together with a read-only view of all of it. Movable, not copyable.
class MappedFile {
  public:
    enum class Status { Mapped, OpenFailed, MapFailed };

    explicit MappedFile(const char* path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    Status GetStatus() const { return status_; }
    const std::uint8_t* Data() const { return view_.data; }
    std::size_t Size() const { return view_.size; }

  private:
    FileHandle file_;
    platform::FileView view_;
    Status status_ = Status::OpenFailed;
};

// A search for the names that match a pattern; ended when it goes out of scope.
class FileFinder {
  public:
    explicit FileFinder(const char* pattern);
    ~FileFinder();
    FileFinder(const FileFinder&) = delete;
    FileFinder& operator=(const FileFinder&) = delete;

    bool HasMatch() const { return search_ != platform::kInvalidSearch; }
    const std::string& Name() const { return name_; }
    // Moves to the next match; false when there is none.
    bool Next();

  private:
    std::string name_;  // declared first: the search fills it while starting
    platform::SearchId search_ = platform::kInvalidSearch;
};

// Decodes the loose sound files that `pattern` names (wildcards allowed in its last component)
// into WAV files of the same base name in the current directory, printing a running count and,
// on the first failure, its message. True when every match was converted.
bool DecodeVagFiles(const std::string& pattern);

}  // namespace sorvik
