#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/file_handle.h"

// Where inputs are read from. Converters and extractors read through a ByteSource, so the same
// code reads a file on disk (FileSource) or bytes in memory (MemorySource, for tests, fuzzing
// and data already read).
namespace sorvik {

class ByteSource {
  public:
    virtual ~ByteSource() = default;

    // The size the source had when it was opened; no read is ever asked to pass it.
    virtual std::uint64_t Size() const = 0;
    // Reads exactly `byteCount` bytes at `offset`; false when they are not all there (the source
    // is shorter, or shrank since it was opened) or the read failed.
    virtual bool ReadAt(std::uint64_t offset, void* bytes, std::size_t byteCount) = 0;

    // What the source is on disk, whatever name it was opened by; nullopt when it is no file.
    virtual std::optional<platform::FileIdentity> Identity() const { return std::nullopt; }

    // True when [offset, offset + byteCount) lies within Size().
    bool Holds(std::uint64_t offset, std::uint64_t byteCount) const {
        return offset <= Size() && byteCount <= Size() - offset;
    }
};

class MemorySource final : public ByteSource {
  public:
    // `identity`: the file the bytes stand for, when they stand for one.
    MemorySource(const std::uint8_t* data, std::size_t size,
                 std::optional<platform::FileIdentity> identity = std::nullopt)
        : data_(data), size_(size), identity_(identity) {}

    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t byteCount) override;
    std::optional<platform::FileIdentity> Identity() const override { return identity_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::optional<platform::FileIdentity> identity_;
};

// A regular file, opened for reading when constructed (see platform::OpenForReading).
class FileSource final : public ByteSource {
  public:
    explicit FileSource(const char* path);

    bool IsOpen() const { return file_.IsOpen(); }
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t byteCount) override;
    std::optional<platform::FileIdentity> Identity() const override { return file_.Identity(); }

  private:
    FileHandle file_;
    std::uint64_t size_ = 0;
};

// Reads a range of a source front to back, a piece at a time.
class RangeReader {
  public:
    RangeReader(ByteSource& source, std::uint64_t offset, std::uint64_t length)
        : source_(source), offset_(offset), remaining_(length) {}

    std::uint64_t Remaining() const { return remaining_; }
    // Reads the next min(Remaining(), maxBytes) bytes into `bytes`; the count read, or nullopt
    // when the read failed.
    std::optional<std::size_t> Next(std::uint8_t* bytes, std::size_t maxBytes);

  private:
    ByteSource& source_;
    std::uint64_t offset_;
    std::uint64_t remaining_;
};

}  // namespace sorvik
