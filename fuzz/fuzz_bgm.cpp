// ExtractBgm on a small arbitrary archive, its first track header looked for at offset 0.
// Input: one byte whose lowest bit selects decoding (1) or raw extraction (0), then the archive
// as records (archive_input.h). Whatever the archive holds, the extractor ends with Ok or with
// a read or format failure, never allocates more than the archive can hold, and every file it
// wrote is whole: a WAV file that counts its samples, or a raw image of header and data.

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
    if (size < 1) return 0;
    const bool decode = (data[0] & 1) != 0;
    const std::vector<std::uint8_t> archiveBytes = fuzz::BuildArchive(data + 1, size - 1);
    const fuzz::fs::path archivePath = fuzz::Sandbox::Get().Input() / "archive.sfs";
    fuzz::WriteFile(archivePath, archiveBytes.data(), archiveBytes.size());

    const fuzz::InWorkFolder work;
    sorvik::FileHandle archive = sorvik::FileHandle::OpenForReading(archivePath.c_str());
    if (!archive.IsOpen()) fuzz::Fail("cannot open the archive");
    sorvik::sfs::SfsExtractor extractor(decode, sorvik::Section::kBgm);
    const ResultCode result = extractor.ExtractBgm(archive, 0);
    fuzz::CheckArchiveResult(result);
    const std::size_t files = fuzz::CheckExtractedImages(decode, 2);
    if (result == ResultCode::Ok && files != 38) fuzz::Fail("Ok without 38 tracks");
    return 0;
}
