#include "sfs/archive_images.h"

#include <cstring>
#include <limits>
#include <optional>

#include "common/byte_order.h"
#include "sfs/layout.h"

namespace sorvik::sfs {

ArchiveReader::ArchiveReader(FileHandle& archive) : archive_(archive) {
    const std::optional<std::uint64_t> size = archive.Size();
    size_ = size.value_or(0);
}

bool ArchiveReader::ReadAt(std::uint64_t offset, void* bytes, std::uint64_t byteCount) {
    if (offset > size_ || byteCount > size_ - offset) return false;
    return archive_.SeekTo(offset) &&
           archive_.ReadExact(bytes, static_cast<std::size_t>(byteCount));
}

ResultCode ArchiveReader::FindImageHeader(std::uint64_t& offset, const char (&magic)[5],
                                          ImageHeaderBytes& header) {
    if (!ReadAt(offset, header.data(), header.size())) return ResultCode::ReadFailed;
    if (HasMagic(header.data(), magic)) return ResultCode::Ok;
    offset += kSectorSize;
    if (!ReadAt(offset, header.data(), header.size())) return ResultCode::ReadFailed;
    return HasMagic(header.data(), magic) ? ResultCode::Ok : ResultCode::UnknownFormat;
}

ResultCode ArchiveReader::LoadImage(std::uint64_t offset, const ImageHeaderBytes& header,
                                    std::uint64_t dataBytes, HeapBuffer& buffer) {
    const std::uint64_t dataOffset = offset + header.size();
    if (dataOffset > size_ || dataBytes > size_ - dataOffset) return ResultCode::ReadFailed;
    const std::uint64_t imageBytes = header.size() + dataBytes;
    if (imageBytes > std::numeric_limits<std::size_t>::max()) return ResultCode::OutOfMemory;
    if (imageBytes > buffer.Size() && !buffer.Grow(static_cast<std::size_t>(imageBytes))) {
        return ResultCode::OutOfMemory;
    }
    std::memcpy(buffer.Data(), header.data(), header.size());
    if (!ReadAt(dataOffset, buffer.Data() + header.size(), dataBytes)) {
        return ResultCode::ReadFailed;
    }
    return ResultCode::Ok;
}

ResultCode WriteRawImage(const char* outputName, const HeapBuffer& image, std::size_t imageBytes) {
    FileHandle file = FileHandle::CreateForWriting(outputName);
    if (!file.IsOpen()) return ResultCode::WriteFailed;
    const bool written = file.Write(image.Data(), imageBytes);
    const bool closed = file.Close();
    return written && closed ? ResultCode::Ok : ResultCode::WriteFailed;
}

}  // namespace sorvik::sfs
