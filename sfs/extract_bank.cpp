#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "common/byte_order.h"
#include "common/console.h"
#include "common/heap_buffer.h"
#include "common/japanese_texts.h"
#include "common/path_helpers.h"
#include "platform/platform.h"
#include "sfs/archive_images.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {
namespace {

// Asks the user to put the missing index file beside the archive.
void ReportMissingIndex(const std::string& indexPath) {
    const std::string text =
        indexPath.substr(FileNamePart(indexPath)) + texts::kMissingIndexRequest;
    platform::ShowInformation(texts::kMissingIndexCaption, text.c_str());
}

// Reads the entry count: the low 16 bits of the field at offset 4.
bool ReadEntryCount(FileHandle& index, unsigned& count) {
    std::array<std::uint8_t, kBankIndexHeaderSize> header;
    if (!index.ReadExact(header.data(), header.size())) return false;
    count = LoadLe16(header.data() + kBankIndexCountOffset);
    return true;
}

// Reads the next entry. A name with no zero in its field is cut at 27 bytes; an empty name gets
// one made from the entry's number (1 for the first).
bool ReadEntry(FileHandle& index, unsigned number, std::string& name, std::uint32_t& span) {
    std::array<std::uint8_t, BankIndexEntry::kSize> entry;
    if (!index.ReadExact(entry.data(), entry.size())) return false;
    const auto* nameField = entry.data();
    const auto* nameEnd = std::find(nameField, nameField + BankIndexEntry::kNameSize - 1, 0);
    name.assign(nameField, nameEnd);
    if (name.empty()) {
        char fallback[24];
        std::snprintf(fallback, sizeof(fallback), "ENTRY%05u.VAG", number);
        name = fallback;
    }
    span = LoadLe32(entry.data() + BankIndexEntry::kSpanOffset);
    return true;
}

}  // namespace

ResultCode SfsExtractor::ExtractBank(FileHandle& archive, const std::string& indexPath,
                                     std::uint64_t baseOffset) {
    FileHandle index = FileHandle::OpenForReading(indexPath.c_str());
    if (!index.IsOpen()) {
        ReportMissingIndex(indexPath);
        return ResultCode::ReadFailed;
    }
    unsigned count = 0;
    if (!ReadEntryCount(index, count)) return ResultCode::UnknownFormat;
    HeapBuffer image;
    if (!image.Grow(kInitialImageBufferSize)) return ResultCode::OutOfMemory;
    console::Print("extracting: %s\n", indexPath.c_str());

    ArchiveReader reader(archive);
    std::uint64_t offset = baseOffset;
    for (unsigned k = 1; k <= count; ++k) {
        console::Print("\r%ld / %ld", static_cast<long>(k), static_cast<long>(count));
        std::string entryName;
        std::uint32_t span = 0;
        if (!ReadEntry(index, k, entryName, span)) return ResultCode::UnknownFormat;
        ArchivedImage entry;
        const ResultCode read = reader.ReadImage(offset, ImageKind::Mono, image, entry);
        if (read != ResultCode::Ok) return read;
        std::string outputName = MakeSafeFileName(entryName);
        if (decode_) ReplaceExtension(outputName, "WAV");
        const ResultCode written =
            WriteImage(outputNames_.Claim(outputName), ImageKind::Mono, decode_, image, entry);
        if (written != ResultCode::Ok) return written;
        offset = RoundUpToSector(offset + span);
    }
    console::PutLine("\n");
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
