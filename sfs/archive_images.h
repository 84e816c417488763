#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/sound_headers.h"
#include "common/file_handle.h"
#include "common/heap_buffer.h"
#include "common/result_code.h"

// Reading sound images out of the music region and the banks of an open archive.
namespace sorvik::sfs {

using ImageHeaderBytes = std::array<std::uint8_t, kSoundHeaderSize>;

// The two kinds of image stored in the archive. Their headers carry the data size a second time
// at offset 4, little-endian: for mono images the data's length, for stereo images one
// channel's, the interleaved data being twice as long.
enum class ImageKind { Mono, Stereo };

// Where an image read from the archive stands in the buffer it was read into.
struct ArchivedImage {
    ImageHeaderBytes header;
    std::uint64_t dataBytes;  // the data behind the header

    std::size_t Length() const { return static_cast<std::size_t>(header.size() + dataBytes); }
};

// An open archive and its size, so no read is ever asked to pass its end.
class ArchiveReader {
  public:
    explicit ArchiveReader(FileHandle& archive);

    // Reads `byteCount` bytes at `offset`; false when they are not all in the archive or the
    // read fails.
    bool ReadAt(std::uint64_t offset, void* bytes, std::uint64_t byteCount);
    std::uint64_t Size() const { return size_; }

    // Finds the image of `kind` whose header is at `offset`, or one sector further (then
    // `offset` moves there), and reads it whole (header and data) into `buffer`, growing it when
    // the image is larger than every earlier one. ReadFailed when a header cannot be read or the
    // image does not lie within the archive (so the buffer never grows past what the archive can
    // hold), UnknownFormat when neither place holds the kind's magic.
    ResultCode ReadImage(std::uint64_t& offset, ImageKind kind, HeapBuffer& buffer,
                         ArchivedImage& image);

  private:
    ResultCode FindImageHeader(std::uint64_t& offset, const char (&magic)[5],
                               ImageHeaderBytes& header);
    ResultCode LoadImage(std::uint64_t offset, const ArchivedImage& image, HeapBuffer& buffer);

    FileHandle& archive_;
    std::uint64_t size_ = 0;
};

// Writes an image read into `buffer` to the file `outputName`: decoded to WAV, or unchanged.
ResultCode WriteImage(const std::string& outputName, ImageKind kind, bool decode,
                      const HeapBuffer& buffer, const ArchivedImage& image);

}  // namespace sorvik::sfs
