#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/result_code.h"
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

// Creates the file `path` (or empties an existing one), lets `fill` write its contents (it
// returns false when a write failed) and closes it. WriteFailed when the file cannot be created,
// `fill` fails or the close fails, since a failed close can mean the last bytes never reached
// the disk; otherwise Ok.
template <typename Fill>
ResultCode WriteNewFile(const char* path, Fill fill) {
    FileHandle file = FileHandle::CreateForWriting(path);
    if (!file.IsOpen()) return ResultCode::WriteFailed;
    const bool written = fill(file);
    const bool closed = file.Close();
    return written && closed ? ResultCode::Ok : ResultCode::WriteFailed;
}

}  // namespace sorvik
