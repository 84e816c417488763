#include <algorithm>
#include <string>

#include "codec/convert.h"
#include "common/byte_order.h"
#include "common/console.h"
#include "common/heap_buffer.h"
#include "sfs/archive_images.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {
namespace {

// The track's name field: up to its first zero byte, at most its 16 bytes.
std::string TrackName(const ImageHeaderBytes& header) {
    const auto* field = header.data() + kHeaderNameOffset;
    const auto* end = std::find(field, field + kHeaderNameSize, 0);
    return std::string(field, end);
}

}  // namespace

ResultCode SfsExtractor::ExtractBgm(FileHandle& archive, std::uint64_t offset) {
    HeapBuffer image;
    if (!image.Grow(kInitialImageBufferSize)) return ResultCode::OutOfMemory;
    console::PutLine("extracting: BGM\n");
    ArchiveReader reader(archive);
    for (int k = 1; k <= kBgmTrackCount; ++k) {
        console::Print("\r%ld / %ld", static_cast<long>(k), static_cast<long>(kBgmTrackCount));
        ImageHeaderBytes header;
        ResultCode result = reader.FindImageHeader(offset, kSterMagic, header);
        if (result != ResultCode::Ok) return result;
        // The size at offset 4 counts one channel; the interleaved data is twice as long.
        const std::uint64_t dataBytes =
            2 * std::uint64_t{LoadLe32(header.data() + kHeaderLeSizeOffset)};
        result = reader.LoadImage(offset, header, dataBytes, image);
        if (result != ResultCode::Ok) return result;

        const std::size_t imageBytes = static_cast<std::size_t>(header.size() + dataBytes);
        const std::string outputName =
            outputNames_.Claim(MakeSafeFileName(TrackName(header)) + (decode_ ? ".WAV" : ".VAG"));
        result = decode_ ? ConvertSterImage(outputName.c_str(), image.Data(), imageBytes)
                         : WriteRawImage(outputName.c_str(), image, imageBytes);
        if (result != ResultCode::Ok) return result;
        offset = RoundUpToSector(offset + dataBytes);
    }
    console::PutLine("\n");
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
