#include "common/byte_source.h"

#include <cstring>

namespace sorvik {

bool MemorySource::ReadAt(std::uint64_t offset, void* bytes, std::size_t byteCount) {
    if (!Holds(offset, byteCount)) return false;
    if (byteCount != 0) std::memcpy(bytes, data_ + offset, byteCount);
    return true;
}

FileSource::FileSource(const char* path) : file_(FileHandle::OpenForReading(path)) {
    const std::optional<std::uint64_t> size = file_.Size();
    if (!size) {
        file_.Close();
        return;
    }
    size_ = *size;
}

bool FileSource::ReadAt(std::uint64_t offset, void* bytes, std::size_t byteCount) {
    return Holds(offset, byteCount) && file_.ReadAt(offset, bytes, byteCount);
}

std::optional<std::size_t> RangeReader::Next(std::uint8_t* bytes, std::size_t maxBytes) {
    const std::size_t count =
        remaining_ < maxBytes ? static_cast<std::size_t>(remaining_) : maxBytes;
    if (!source_.ReadAt(offset_, bytes, count)) return std::nullopt;
    offset_ += count;
    remaining_ -= count;
    return count;
}

}  // namespace sorvik
