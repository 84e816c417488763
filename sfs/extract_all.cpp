#include <string>

#include "common/console.h"
#include "common/heap_buffer.h"
#include "common/path_helpers.h"
#include "sfs/archive_images.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {
namespace {

// The companion index file `indexName` in the archive's folder.
std::string IndexPath(const std::string& sfsPath, const char* indexName) {
    std::string path = sfsPath;
    CutLastComponent(path);
    EnsureTrailingSeparator(path);
    return path + indexName;
}

// Ends the failed extractor's running count before the caller prints the outcome.
ResultCode Failed(ResultCode result) {
    console::PutLine("\n");
    return result;
}

}  // namespace

ResultCode SfsExtractor::ExtractAll(const std::string& sfsPath) {
    // Raw bank entries keep the names their index gives, and the destination is often the
    // archive's own folder: an entry named like the archive or an index file gets a numbered
    // name instead of replacing the file being read.
    outputNames_.Claim(sfsPath.substr(FileNamePart(sfsPath)));
    outputNames_.Claim(kSeIndexName);
    outputNames_.Claim(kVoiceIndexName);
    if (HasSection(sections_, Section::kSe)) {
        FileHandle archive = FileHandle::OpenForReading(sfsPath.c_str());
        if (!archive.IsOpen()) return ResultCode::ReadFailed;
        HeapBuffer block;
        if (!block.Grow(kEffectsBlockSize)) return ResultCode::OutOfMemory;
        if (!ArchiveReader(archive).ReadAt(kEffectsBlockOffset, block.Data(), kEffectsBlockSize)) {
            return ResultCode::ReadFailed;
        }
        const ResultCode result = ExtractEffects(block.Data(), kEffectsBlockSize);
        if (result != ResultCode::Ok) return Failed(result);
    }

    FileHandle archive = FileHandle::OpenForReading(sfsPath.c_str());
    if (!archive.IsOpen()) return ResultCode::ReadFailed;
    if (HasSection(sections_, Section::kBgm)) {
        const ResultCode result = ExtractBgm(archive, kBgmOffset);
        if (result != ResultCode::Ok) return Failed(result);
    }
    if (HasSection(sections_, Section::kSe)) {
        const ResultCode result =
            ExtractBank(archive, IndexPath(sfsPath, kSeIndexName), kSeBankOffset);
        if (result != ResultCode::Ok) return Failed(result);
    }
    if (HasSection(sections_, Section::kVoice)) {
        const ResultCode result =
            ExtractBank(archive, IndexPath(sfsPath, kVoiceIndexName), kVoiceBankOffset);
        if (result != ResultCode::Ok) return Failed(result);
    }
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
