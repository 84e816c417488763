#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "codec/adpcm.h"
#include "codec/convert.h"
#include "codec/sound_headers.h"
#include "common/byte_order.h"
#include "common/console.h"
#include "sfs/archive_images.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace sorvik::sfs {
namespace {

// The effects are stored without headers; every one plays at this rate.
constexpr std::uint32_t kEffectSampleRate = 48000;

// The header a raw effect gets: "VAGp", its size (little-endian at 4, big-endian at 12), the rate
// and its name.
ImageHeaderBytes MakeEffectVagHeader(std::uint32_t dataBytes, const char* baseName) {
    ImageHeaderBytes header{};
    std::memcpy(header.data(), kVagMagic, 4);
    StoreLe32(header.data() + kHeaderLeSizeOffset, dataBytes);
    StoreBe32(header.data() + kHeaderBeSizeOffset, dataBytes);
    StoreBe32(header.data() + kHeaderSampleRateOffset, kEffectSampleRate);
    // The name is zero-terminated within its field; the header starts zeroed.
    std::memcpy(header.data() + kHeaderNameOffset, baseName,
                std::min(std::strlen(baseName), kHeaderNameSize - 1));
    return header;
}

ResultCode WriteRawEffect(const char* outputName, const char* baseName, const std::uint8_t* data,
                          std::size_t dataBytes) {
    const ImageHeaderBytes header =
        MakeEffectVagHeader(static_cast<std::uint32_t>(dataBytes), baseName);
    return WriteNewFile(outputName, [&](FileHandle& file) {
        return file.Write(header.data(), header.size()) && file.Write(data, dataBytes);
    });
}

}  // namespace

ResultCode SfsExtractor::ExtractEffects(const std::uint8_t* block, std::size_t blockLength) {
    console::PutLine("extracting: SFS\\SE");
    std::size_t position = 0;
    for (int i = 0; i < kEffectCount; ++i) {
        console::Print("\r%ld / %ld", static_cast<long>(i + 1), static_cast<long>(kEffectCount));
        // A sound runs to its end block, or to the end of the block when it has none.
        const std::size_t blockCount = CountMonoBlocks(block + position, blockLength - position);
        if (blockCount == 0) return ResultCode::UnknownFormat;  // no sound left in the block
        const std::size_t dataBytes = blockCount * kAdpcmBlockSize;

        char baseName[16];
        std::snprintf(baseName, sizeof(baseName), "SE_NONAME%02d", i);
        const std::string outputName =
            outputNames_.Claim(std::string(baseName) + (decode_ ? ".WAV" : ".VAG"));
        const ResultCode result =
            decode_
                ? WriteMonoWav(outputName.c_str(), block + position, blockCount, kEffectSampleRate)
                : WriteRawEffect(outputName.c_str(), baseName, block + position, dataBytes);
        if (result != ResultCode::Ok) return result;
        position += dataBytes;
    }
    console::PutLine("\n");
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
