#include "sfs/archive_images.h"

#include <cstring>
#include <limits>
#include <optional>

#include "codec/convert.h"
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

ResultCode ArchiveReader::LoadImage(std::uint64_t offset, const ArchivedImage& image,
                                    HeapBuffer& buffer) {
    const std::uint64_t dataOffset = offset + image.header.size();
    if (dataOffset > size_ || image.dataBytes > size_ - dataOffset) return ResultCode::ReadFailed;
    const std::uint64_t imageBytes = image.header.size() + image.dataBytes;
    if (imageBytes > std::numeric_limits<std::size_t>::max()) return ResultCode::OutOfMemory;
    if (imageBytes > buffer.Size() && !buffer.Grow(static_cast<std::size_t>(imageBytes))) {
        return ResultCode::OutOfMemory;
    }
    std::memcpy(buffer.Data(), image.header.data(), image.header.size());
    if (!ReadAt(dataOffset, buffer.Data() + image.header.size(), image.dataBytes)) {
        return ResultCode::ReadFailed;
    }
    return ResultCode::Ok;
}

ResultCode ArchiveReader::ReadImage(std::uint64_t& offset, ImageKind kind, HeapBuffer& buffer,
                                    ArchivedImage& image) {
    const bool stereo = kind == ImageKind::Stereo;
    ResultCode result = FindImageHeader(offset, stereo ? kSterMagic : kVagMagic, image.header);
    if (result != ResultCode::Ok) return result;
    const std::uint64_t archivedSize = LoadLe32(image.header.data() + kHeaderLeSizeOffset);
    image.dataBytes = stereo ? 2 * archivedSize : archivedSize;
    return LoadImage(offset, image, buffer);
}

ResultCode WriteImage(const std::string& outputName, ImageKind kind, bool decode,
                      const HeapBuffer& buffer, const ArchivedImage& image) {
    if (!decode) {
        return WriteNewFile(outputName.c_str(), [&](FileHandle& file) {
            return file.Write(buffer.Data(), image.Length());
        });
    }
    return kind == ImageKind::Stereo
               ? ConvertSterImage(outputName.c_str(), buffer.Data(), image.Length())
               : ConvertVagImage(outputName.c_str(), buffer.Data(), image.Length());
}

}  // namespace sorvik::sfs
