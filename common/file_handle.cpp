#include "common/file_handle.h"

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

bool FileHandle::ReadAt(std::uint64_t offset, void* bytes, std::size_t byteCount) const {
    if (!IsOpen()) return false;
    auto* cursor = static_cast<std::uint8_t*>(bytes);
    while (byteCount > 0) {
        const std::int64_t got = platform::ReadAt(file_, offset, cursor, byteCount);
        if (got <= 0) return false;
        cursor += got;
        offset += static_cast<std::uint64_t>(got);
        byteCount -= static_cast<std::size_t>(got);
    }
    return true;
}

bool FileHandle::Write(const void* bytes, std::size_t byteCount) {
    return IsOpen() && platform::WriteAll(file_, bytes, byteCount);
}

bool FileHandle::WriteAt(std::uint64_t offset, const void* bytes, std::size_t byteCount) {
    return IsOpen() && platform::WriteAllAt(file_, offset, bytes, byteCount);
}

std::optional<std::uint64_t> FileHandle::Size() const {
    if (!IsOpen()) return std::nullopt;
    return platform::FileSize(file_);
}

std::optional<platform::FileIdentity> FileHandle::Identity() const {
    if (!IsOpen()) return std::nullopt;
    return platform::IdentityOf(file_);
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
