#include <string>

#include "common/heap_buffer.h"
#include "common/path_helpers.h"
#include "platform/platform.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {
namespace {

// True when the run asked for `section`: the unnamed and the named effects come with -tse.
bool IsSelected(SectionMask sections, ArchiveSection section) {
    switch (section) {
        case ArchiveSection::Effects:
        case ArchiveSection::SeBank:
            return HasSection(sections, Section::kSe);
        case ArchiveSection::Bgm:
            return HasSection(sections, Section::kBgm);
        case ArchiveSection::VoiceBank:
            return HasSection(sections, Section::kVoice);
    }
    return false;
}

}  // namespace

IndexFilesBeside::IndexFilesBeside(const std::string& sfsPath)
    : folder_(sfsPath.substr(0, FileNamePart(sfsPath))) {}

std::string IndexFilesBeside::PathOf(const char* name) const {
    return folder_ + platform::FindNameIgnoringCase(folder_, name).value_or(name);
}

std::unique_ptr<ByteSource> IndexFilesBeside::Open(const char* name) const {
    auto index = std::make_unique<FileSource>(PathOf(name).c_str());
    if (!index->IsOpen()) return nullptr;
    return index;
}

bool SfsExtractor::GoesOnAfterSection(ArchiveSection section, ResultCode reason) {
    if (policy_ == FailurePolicy::StopAtFirst) return false;
    reporter_.SectionFailed(section, reason);
    ++failuresPassed_;
    return true;
}

bool SfsExtractor::GoesOnAfterEntry(const std::string& entryName, const std::string& outputName,
                                    ResultCode result) {
    if (result == ResultCode::Ok) {
        reporter_.FileWritten(outputName);
        return true;
    }
    if (policy_ == FailurePolicy::StopAtFirst) return false;
    reporter_.EntryFailed(entryName, outputName, result);
    ++failuresPassed_;
    return true;
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
    // Whatever an entry is named, and whatever case or link the files were found by, no output
    // takes the place of a file this run reads.
    sink_.ProtectInput(archive.Identity());
    for (const char* indexName : {kSeIndexName, kVoiceIndexName}) {
        if (const std::unique_ptr<ByteSource> index = indexFiles.Open(indexName)) {
            sink_.ProtectInput(index->Identity());
        }
    }
    for (const ArchiveSection section : {ArchiveSection::Effects, ArchiveSection::Bgm,
                                         ArchiveSection::SeBank, ArchiveSection::VoiceBank}) {
        if (!IsSelected(sections_, section)) continue;
        const ResultCode result = ExtractSection(archive, indexFiles, section);
        if (result != ResultCode::Ok && !GoesOnAfterSection(section, result)) return result;
    }
    return ResultCode::Ok;
}

ResultCode SfsExtractor::ExtractSection(ByteSource& archive, const IndexFiles& indexFiles,
                                        ArchiveSection section) {
    ResultCode result = ResultCode::Ok;
    switch (section) {
        case ArchiveSection::Effects:
            return ExtractEffectsBlock(archive);
        case ArchiveSection::Bgm:
            result = ExtractBgm(archive);
            break;
        case ArchiveSection::SeBank:
        case ArchiveSection::VoiceBank:
            result = ExtractBank(archive, indexFiles, section);
            break;
    }
    if (result != ResultCode::Ok) reporter_.SectionEnded();
    return result;
}

ResultCode SfsExtractor::ExtractEffectsBlock(ByteSource& archive) {
    HeapBuffer block;
    if (!block.Grow(kEffectsBlockSize)) return ResultCode::OutOfMemory;
    if (!archive.ReadAt(kEffectsBlockOffset, block.Data(), kEffectsBlockSize)) {
        return ResultCode::ReadFailed;
    }
    MemorySource effects(block.Data(), kEffectsBlockSize);
    const ResultCode result = ExtractEffects(effects);
    if (result != ResultCode::Ok) reporter_.SectionEnded();
    return result;
}

}  // namespace sorvik::sfs
