#include <array>
#include <cstdio>
#include <string>

#include "codec/adpcm.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {

ResultCode SfsExtractor::ExtractEffects(ByteSource& block) {
    reporter_.SectionStarted(ArchiveSection::Effects, std::string());
    std::array<std::uint8_t, kAdpcmBlockSize> adpcm;
    std::uint64_t position = 0;
    for (unsigned i = 0; i < kEffectCount; ++i) {
        reporter_.ItemStarted(i + 1, kEffectCount);
        // A sound runs to its end block, or to the end of the block when it has none.
        std::uint64_t blockCount = 0;
        while (block.ReadAt(position + blockCount * kAdpcmBlockSize, adpcm.data(), adpcm.size())) {
            ++blockCount;
            if (adpcm[1] == kEndBlockFlag) break;
        }
        if (blockCount == 0) return ResultCode::UnknownFormat;  // no sound left in the block

        char stem[16];
        std::snprintf(stem, sizeof(stem), "SE_NONAME%02u", i);
        const std::string name = sink_.Claim(images_.NameFor(stem));
        const ResultCode result =
            images_.WriteEffect(block, position, blockCount, stem, sink_, name);
        if (!GoesOnAfterEntry(stem, name, result)) return result;
        position += blockCount * kAdpcmBlockSize;
    }
    reporter_.SectionEnded();
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
