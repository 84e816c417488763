#pragma once

#include <array>
#include <cstdint>

#include "codec/sound_headers.h"
#include "common/file_handle.h"
#include "common/heap_buffer.h"
#include "common/result_code.h"

// Reading sound images out of the music region and the banks of an open archive.
namespace sorvik::sfs {

using ImageHeaderBytes = std::array<std::uint8_t, kSoundHeaderSize>;

// An open archive and its size, so no read is ever asked to pass its end.
class ArchiveReader {
  public:
    explicit ArchiveReader(FileHandle& archive);

    // Reads `byteCount` bytes at `offset`; false when they are not all in the archive or the
    // read fails.
    bool ReadAt(std::uint64_t offset, void* bytes, std::uint64_t byteCount);
    std::uint64_t Size() const { return size_; }

    // Finds the image header with `magic` at `offset`, or one sector further (then `offset`
    // moves there). ReadFailed when a header cannot be read, UnknownFormat when neither place
    // holds the magic.
    ResultCode FindImageHeader(std::uint64_t& offset, const char (&magic)[5],
                               ImageHeaderBytes& header);

    // Reads the image whose header is at `offset` (the header and `dataBytes` of data behind
    // it) into `buffer`, growing it when the image is larger than every earlier one. The image
    // must lie within the archive (ReadFailed), so the buffer never grows past what the archive
    // can hold.
    ResultCode LoadImage(std::uint64_t offset, const ImageHeaderBytes& header,
                         std::uint64_t dataBytes, HeapBuffer& buffer);

  private:
    FileHandle& archive_;
    std::uint64_t size_ = 0;
};

// Writes the first `imageBytes` bytes of `image` unchanged into the file `outputName`.
ResultCode WriteRawImage(const char* outputName, const HeapBuffer& image, std::size_t imageBytes);

}  // namespace sorvik::sfs
