#include <string>

#include "common/heap_buffer.h"
#include "common/path_helpers.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {

IndexFilesBeside::IndexFilesBeside(const std::string& sfsPath) : folder_(sfsPath) {
    CutLastComponent(folder_);
    EnsureTrailingSeparator(folder_);
}

std::string IndexFilesBeside::PathOf(const char* name) const { return folder_ + name; }

std::unique_ptr<ByteSource> IndexFilesBeside::Open(const char* name) const {
    auto index = std::make_unique<FileSource>(PathOf(name).c_str());
    if (!index->IsOpen()) return nullptr;
    return index;
}

ResultCode SfsExtractor::SectionFailed(ResultCode result) {
    reporter_.SectionEnded();
    return result;
}

ResultCode SfsExtractor::ExtractAll(const std::string& sfsPath) {
    FileSource archive(sfsPath.c_str());
    if (!archive.IsOpen()) return ResultCode::ReadFailed;
    return ExtractAll(archive, sfsPath.substr(FileNamePart(sfsPath)), IndexFilesBeside(sfsPath));
}

ResultCode SfsExtractor::ExtractAll(ByteSource& archive, const std::string& archiveName,
                                    const IndexFiles& indexFiles) {
    // Raw bank entries keep the names their index gives, and the destination is often the
    // archive's own folder: an entry named like the archive or an index file gets a numbered
    // name instead of replacing the file being read.
    sink_.Claim(archiveName);
    sink_.Claim(kSeIndexName);
    sink_.Claim(kVoiceIndexName);
    if (HasSection(sections_, Section::kSe)) {
        HeapBuffer block;
        if (!block.Grow(kEffectsBlockSize)) return ResultCode::OutOfMemory;
        if (!archive.ReadAt(kEffectsBlockOffset, block.Data(), kEffectsBlockSize)) {
            return ResultCode::ReadFailed;
        }
        MemorySource effects(block.Data(), kEffectsBlockSize);
        const ResultCode result = ExtractEffects(effects);
        if (result != ResultCode::Ok) return SectionFailed(result);
    }
    if (HasSection(sections_, Section::kBgm)) {
        const ResultCode result = ExtractBgm(archive);
        if (result != ResultCode::Ok) return SectionFailed(result);
    }
    if (HasSection(sections_, Section::kSe)) {
        const ResultCode result = ExtractBank(archive, indexFiles, ArchiveSection::SeBank);
        if (result != ResultCode::Ok) return SectionFailed(result);
    }
    if (HasSection(sections_, Section::kVoice)) {
        const ResultCode result = ExtractBank(archive, indexFiles, ArchiveSection::VoiceBank);
        if (result != ResultCode::Ok) return SectionFailed(result);
    }
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
