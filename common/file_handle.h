#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/platform.h"

namespace sorvik {

// Owns one open file of the system and closes it when it goes out of scope. Movable, not
// copyable. Reads and writes are all-or-nothing: a read or write that moves fewer bytes than
// asked counts as failed.
class FileHandle {
  public:
    FileHandle() = default;
    ~FileHandle() { Close(); }
    FileHandle(FileHandle&& other) noexcept : file_(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // An existing regular file, for reading.
    static FileHandle OpenForReading(const char* path);
    // A new file, or an existing one emptied, for writing.
    static FileHandle CreateForWriting(const char* path);

    bool IsOpen() const { return file_ != platform::kInvalidFile; }
    platform::FileId Id() const { return file_; }

    bool Write(const void* bytes, std::size_t byteCount);
    // Reads exactly `byteCount` bytes; false on a failure or when the file ends first.
    bool ReadExact(void* bytes, std::size_t byteCount);
    bool SeekTo(std::uint64_t offset);
    bool SeekBy(std::int64_t offset);
    std::optional<std::uint64_t> Size() const;

    // Closes the file; true when it was open and closed cleanly (for outputs a failed close can
    // mean lost data). The handle is invalid afterwards.
    bool Close();

  private:
    explicit FileHandle(platform::FileId file) : file_(file) {}
    platform::FileId Release();

    platform::FileId file_ = platform::kInvalidFile;
};

}  // namespace sorvik
