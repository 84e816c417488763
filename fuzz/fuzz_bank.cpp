// ExtractBank with an arbitrary index on a small arbitrary archive, its first image header
// looked for at offset 0. Input: one byte whose lowest bit selects decoding (1) or raw
// extraction (0); a 16-bit little-endian length and that many bytes of index file; then the
// archive as records (archive_input.h). The bank ends with Ok or a read or format failure,
// never allocates more than the archive can hold, writes only plain files into the current
// folder whatever the names say, and writes one file per entry, none overwriting another.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/file_handle.h"
#include "fuzz/archive_input.h"
#include "fuzz/fuzz_support.h"
#include "sfs/sfs_extractor.h"

namespace fuzz = sorvik::fuzz;
using sorvik::ResultCode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const bool decode = (data[0] & 1) != 0;
    const std::size_t indexSize = std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
    const std::uint8_t* index = data + 3;
    const std::vector<std::uint8_t> archiveBytes =
        fuzz::BuildArchive(index + indexSize, size - 3 - indexSize);
    const fuzz::fs::path indexPath = fuzz::Sandbox::Get().Input() / "LMVSE.000";
    const fuzz::fs::path archivePath = fuzz::Sandbox::Get().Input() / "archive.sfs";
    fuzz::WriteFile(indexPath, index, indexSize);
    fuzz::WriteFile(archivePath, archiveBytes.data(), archiveBytes.size());

    const fuzz::InWorkFolder work;
    sorvik::FileHandle archive = sorvik::FileHandle::OpenForReading(archivePath.c_str());
    if (!archive.IsOpen()) fuzz::Fail("cannot open the archive");
    sorvik::sfs::SfsExtractor extractor(decode, sorvik::Section::kSe);
    const ResultCode result = extractor.ExtractBank(archive, indexPath.string(), 0);
    fuzz::CheckArchiveResult(result);
    const std::size_t files = fuzz::CheckExtractedImages(decode, 1);
    if (result == ResultCode::Ok) {
        const std::size_t count = indexSize >= 6 ? (index[4] | index[5] << 8) : 0;
        if (files != count) fuzz::Fail("Ok without one file per entry");
    }
    return 0;
}
