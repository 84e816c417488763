#include <algorithm>
#include <string>

#include "common/archive_names.h"
#include "common/progress_source.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {
namespace {

// The track's name field (up to its first zero byte, at most its 16 bytes), in UTF-8.
std::string TrackName(const SoundHeaderBytes& header) {
    const auto* field = header.data() + kHeaderNameOffset;
    const auto* end = std::find(field, field + kHeaderNameSize, 0);
    return NameFromArchive(std::string(field, end));
}

}  // namespace

ResultCode SfsExtractor::ExtractBgm(ByteSource& archive) {
    reporter_.SectionStarted(ArchiveSection::Bgm, std::string());
    std::uint64_t offset = kBgmOffset;
    for (unsigned k = 1; k <= kBgmTrackCount; ++k) {
        reporter_.ItemStarted(k, kBgmTrackCount);
        // The next track's place follows from this one's size: one not found ends the music.
        ArchivedImage track;
        const ResultCode found = FindImage(archive, offset, ImageKind::Stereo, track);
        if (found != ResultCode::Ok) return found;
        const std::string stem = MakeSafeFileName(TrackName(track.header));
        const std::string name = sink_.Claim(images_.NameFor(stem));
        // A track can take seconds: its progress is told as it is read.
        ProgressSource watched(archive, reporter_, track.offset, track.Length());
        const ResultCode result =
            images_.WriteImage(watched, track, ImageKind::Stereo, sink_, name);
        if (!GoesOnAfterEntry(stem, name, result)) return result;
        // The next header is looked for after the data; the header's own bytes are not counted.
        offset = RoundUpToSector(offset + track.dataBytes);
    }
    reporter_.SectionEnded();
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
