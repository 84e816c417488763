#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/platform.h"

namespace sorvik {

// Owns one open file of the system and closes it when it goes out of scope. Movable, not
// copyable. Reads and writes are all-or-nothing: one that moves fewer bytes than asked counts as
// failed.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(platform::FileId file) : file_(file) {}
    ~FileHandle() { Close(); }
    FileHandle(FileHandle&& other) noexcept : file_(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // An existing regular file, for reading; see platform::OpenForReading.
    static FileHandle OpenForReading(const char* path);

    bool IsOpen() const { return file_ != platform::kInvalidFile; }

    // Reads exactly `byteCount` bytes at `offset`; false on a failure or when the file ends
    // first.
    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t byteCount) const;
    // Writes at the file's position, which moves on.
    bool Write(const void* bytes, std::size_t byteCount);
    // Writes at `offset`; the position stays.
    bool WriteAt(std::uint64_t offset, const void* bytes, std::size_t byteCount);
    std::optional<std::uint64_t> Size() const;
    std::optional<platform::FileIdentity> Identity() const;

    // Closes the file; true when it was open and closed cleanly (for outputs a failed close can
    // mean lost data). The handle is invalid afterwards.
    bool Close();

  private:
    platform::FileId Release();

    platform::FileId file_ = platform::kInvalidFile;
};

}  // namespace sorvik
