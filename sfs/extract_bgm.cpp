#include <algorithm>
#include <string>

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
        ArchivedImage track;
        ResultCode result = reader.ReadImage(offset, ImageKind::Stereo, image, track);
        if (result != ResultCode::Ok) return result;
        const std::string outputName = outputNames_.Claim(
            MakeSafeFileName(TrackName(track.header)) + (decode_ ? ".WAV" : ".VAG"));
        result = WriteImage(outputName, ImageKind::Stereo, decode_, image, track);
        if (result != ResultCode::Ok) return result;
        // The next header is looked for after the data; the header's own bytes are not counted.
        offset = RoundUpToSector(offset + track.dataBytes);
    }
    console::PutLine("\n");
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
