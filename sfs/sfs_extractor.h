#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/file_handle.h"
#include "common/result_code.h"
#include "common/section_mask.h"
#include "sfs/output_names.h"

namespace sorvik::sfs {

// Writes the sections of one ".sfs" archive into the current directory, either as raw sound
// images (decode false) or decoded to WAV. Each extractor prints a heading and a running count;
// on failure it prints nothing and returns the code, and the caller ends the count's line.
class SfsExtractor {
  public:
    SfsExtractor(bool decode, SectionMask sections) : decode_(decode), sections_(sections) {}

    // Runs the selected sections in their fixed order (unnamed effects, music, named effects,
    // voices) and stops at the first failure, returning its code.
    ResultCode ExtractAll(const std::string& sfsPath);

    // The 22 headerless effects of the effects block (`blockLength` bytes in memory), written as
    // SE_NONAME00 to SE_NONAME21.
    ResultCode ExtractEffects(const std::uint8_t* block, std::size_t blockLength);
    // The 38 stereo music tracks whose first header is at `offset`, named after their headers.
    ResultCode ExtractBgm(FileHandle& archive, std::uint64_t offset);
    // The mono images of one named bank, whose first header is at `baseOffset`, named and
    // spaced by the companion index file at `indexPath`.
    ResultCode ExtractBank(FileHandle& archive, const std::string& indexPath,
                           std::uint64_t baseOffset);

  private:
    bool decode_;
    SectionMask sections_;
    // Names written so far in this run, so no sound overwrites another.
    OutputNameRegistry outputNames_;
};

}  // namespace sorvik::sfs
