#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "common/archive_names.h"
#include "common/byte_order.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {
namespace {

// Reads the entry count: the low 16 bits of the field at offset 4.
bool ReadEntryCount(ByteSource& index, unsigned& count) {
    std::array<std::uint8_t, kBankIndexHeaderSize> header;
    if (!index.ReadAt(0, header.data(), header.size())) return false;
    count = LoadLe16(header.data() + kBankIndexCountOffset);
    return true;
}

// Reads entry `number` (1 for the first). A name with no zero in its field is cut at 27 bytes;
// an empty name gets one made from the entry's number. The name is given in UTF-8.
bool ReadEntry(ByteSource& index, unsigned number, std::string& name, std::uint32_t& span) {
    std::array<std::uint8_t, kBankIndexEntrySize> entry;
    const std::uint64_t offset = kBankIndexHeaderSize + std::uint64_t{number - 1} * entry.size();
    if (!index.ReadAt(offset, entry.data(), entry.size())) return false;
    const auto* nameField = entry.data();
    const auto* nameEnd = std::find(nameField, nameField + kBankIndexNameSize - 1, 0);
    name = NameFromArchive(std::string(nameField, nameEnd));
    if (name.empty()) {
        char fallback[24];
        std::snprintf(fallback, sizeof(fallback), "ENTRY%05u.VAG", number);
        name = fallback;
    }
    span = LoadLe32(entry.data() + kBankIndexSpanOffset);
    return true;
}

}  // namespace

ResultCode SfsExtractor::WriteBankImage(ByteSource& archive, std::uint64_t& offset,
                                        std::string& name) {
    std::uint64_t found = offset;
    ArchivedImage image;
    const ResultCode result = FindImage(archive, found, ImageKind::Mono, image);
    if (result != ResultCode::Ok) return result;
    offset = found;
    name = sink_.Claim(name);
    return images_.WriteImage(archive, image, ImageKind::Mono, sink_, name);
}

ResultCode SfsExtractor::ExtractBank(ByteSource& archive, const IndexFiles& indexFiles,
                                     ArchiveSection bank) {
    const bool effects = bank == ArchiveSection::SeBank;
    const char* indexName = effects ? kSeIndexName : kVoiceIndexName;
    const std::string indexPath = indexFiles.PathOf(indexName);
    const std::unique_ptr<ByteSource> index = indexFiles.Open(indexName);
    if (!index) {
        reporter_.IndexMissing(indexPath);
        return ResultCode::ReadFailed;
    }
    unsigned count = 0;
    if (!ReadEntryCount(*index, count)) return ResultCode::UnknownFormat;
    reporter_.SectionStarted(bank, indexPath);

    std::uint64_t offset = effects ? kSeBankOffset : kVoiceBankOffset;
    for (unsigned k = 1; k <= count; ++k) {
        reporter_.ItemStarted(k, count);
        std::string entryName;
        std::uint32_t span = 0;
        // An index shorter than its count holds no entry after this one either: the bank ends.
        if (!ReadEntry(*index, k, entryName, span)) return ResultCode::UnknownFormat;
        const std::string safeName = MakeSafeFileName(entryName);
        std::string name = images_.NameForEntry(safeName);
        const ResultCode result = WriteBankImage(archive, offset, name);
        if (!GoesOnAfterEntry(safeName, name, result)) return result;
        // The index gives the next place, whether this image was found or not.
        offset = RoundUpToSector(offset + span);
    }
    reporter_.SectionEnded();
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
