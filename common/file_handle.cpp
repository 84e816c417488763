#include "common/file_handle.h"

#include <limits>

namespace sorvik {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        file_ = other.Release();
    }
    return *this;
}

FileHandle FileHandle::OpenForReading(const char* path) {
    return FileHandle(platform::OpenForReading(path));
}

FileHandle FileHandle::CreateForWriting(const char* path) {
    return FileHandle(platform::CreateForWriting(path));
}

bool FileHandle::Write(const void* bytes, std::size_t byteCount) {
    return IsOpen() && platform::WriteAll(file_, bytes, byteCount);
}

bool FileHandle::ReadExact(void* bytes, std::size_t byteCount) {
    if (!IsOpen()) return false;
    auto* cursor = static_cast<std::uint8_t*>(bytes);
    while (byteCount > 0) {
        const std::int64_t got = platform::ReadSome(file_, cursor, byteCount);
        if (got <= 0) return false;
        cursor += got;
        byteCount -= static_cast<std::size_t>(got);
    }
    return true;
}

bool FileHandle::SeekTo(std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    return IsOpen() &&
           platform::Seek(file_, static_cast<std::int64_t>(offset), platform::SeekOrigin::Begin);
}

bool FileHandle::SeekBy(std::int64_t offset) {
    return IsOpen() && platform::Seek(file_, offset, platform::SeekOrigin::Current);
}

std::optional<std::uint64_t> FileHandle::Size() const {
    if (!IsOpen()) return std::nullopt;
    return platform::FileSize(file_);
}

bool FileHandle::Close() {
    if (!IsOpen()) return false;
    return platform::CloseFile(Release());
}

platform::FileId FileHandle::Release() {
    const platform::FileId file = file_;
    file_ = platform::kInvalidFile;
    return file;
}

}  // namespace sorvik
