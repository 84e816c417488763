// ExtractEffects on an arbitrary effects block held in memory. Input: one byte whose lowest bit
// selects decoding (1) or raw extraction (0), then the block. The extractor writes the 22 sounds
// or stops with UnknownFormat when the block runs out of sounds, never reads past the block,
// and every file it wrote is whole.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sfs/sfs_extractor.h"

namespace fuzz = sorvik::fuzz;
using sorvik::ResultCode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool decode = (data[0] & 1) != 0;
    // A heap block of exactly the block's size, so a read past its end is caught.
    const std::vector<std::uint8_t> block(data + 1, data + size);

    const fuzz::InWorkFolder work;
    sorvik::sfs::SfsExtractor extractor(decode, sorvik::Section::kSe);
    const ResultCode result = extractor.ExtractEffects(block.data(), block.size());
    if (result != ResultCode::Ok && result != ResultCode::UnknownFormat) {
        fuzz::Fail("unexpected result " + std::to_string(static_cast<int>(result)));
    }
    std::size_t files = 0;
    std::uint64_t adpcmBytes = 0;
    for (const auto& entry : fuzz::fs::directory_iterator(".")) {
        ++files;
        if (decode) {
            fuzz::CheckWavFile(entry.path(), 1);
            adpcmBytes += (fuzz::fs::file_size(entry.path()) - 44) / 56 * 16;
        } else {
            const std::vector<std::uint8_t> image = fuzz::ReadFile(entry.path());
            if (image.size() < 48 + 16 ||
                image.size() != 48 + std::uint64_t{fuzz::Le32(image, 4)}) {
                fuzz::Fail("raw effect is not its header and data: " + entry.path().string());
            }
            adpcmBytes += image.size() - 48;
        }
    }
    // The sounds lie back to back, so together they never hold more than the block.
    if (adpcmBytes > block.size()) fuzz::Fail("more sound written than the block holds");
    if (result == ResultCode::Ok && files != 22) fuzz::Fail("Ok without 22 sounds");
    return 0;
}
