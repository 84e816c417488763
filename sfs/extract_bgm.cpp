#include <algorithm>
#include <string>

#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {
namespace {

// The track's name field: up to its first zero byte, at most its 16 bytes.
std::string TrackName(const SoundHeaderBytes& header) {
    const auto* field = header.data() + kHeaderNameOffset;
    const auto* end = std::find(field, field + kHeaderNameSize, 0);
    return std::string(field, end);
}

}  // namespace

ResultCode SfsExtractor::ExtractBgm(ByteSource& archive) {
    reporter_.SectionStarted(ArchiveSection::Bgm, std::string());
    std::uint64_t offset = kBgmOffset;
    for (unsigned k = 1; k <= kBgmTrackCount; ++k) {
        reporter_.ItemStarted(k, kBgmTrackCount);
        ArchivedImage track;
        ResultCode result = FindImage(archive, offset, ImageKind::Stereo, track);
        if (result != ResultCode::Ok) return result;
        const std::string name =
            sink_.Claim(images_.NameFor(MakeSafeFileName(TrackName(track.header))));
        result = images_.WriteImage(archive, track, ImageKind::Stereo, sink_, name);
        if (result != ResultCode::Ok) return result;
        reporter_.FileWritten(name);
        // The next header is looked for after the data; the header's own bytes are not counted.
        offset = RoundUpToSector(offset + track.dataBytes);
    }
    reporter_.SectionEnded();
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
