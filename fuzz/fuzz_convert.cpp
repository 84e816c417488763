// ConvertVagImage and ConvertSterImage on arbitrary bytes held in memory. A conversion either
// refuses the image and creates no file, or writes a WAV file whose header counts exactly the
// samples in it; it never reads past the bytes it was given.

#include <cstddef>
#include <cstdint>

#include "codec/convert.h"
#include "fuzz/fuzz_support.h"

namespace {

using sorvik::ResultCode;
namespace fuzz = sorvik::fuzz;

void Check(ResultCode result, const char* outputName, unsigned channels) {
    const bool exists = fuzz::fs::exists(outputName);
    switch (result) {
        case ResultCode::Ok:
            if (!exists) fuzz::Fail("Ok without a file");
            fuzz::CheckWavFile(outputName, channels);
            return;
        case ResultCode::UnknownFormat:
            if (exists) fuzz::Fail("a refused image left a file");
            return;
        default:
            fuzz::Fail("unexpected result " + std::to_string(static_cast<int>(result)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::InWorkFolder work;
    // libFuzzer hands over a heap copy of exactly `size` bytes, so any read past the image is
    // caught by AddressSanitizer.
    Check(sorvik::ConvertVagImage("mono.WAV", data, size), "mono.WAV", 1);
    Check(sorvik::ConvertSterImage("stereo.WAV", data, size), "stereo.WAV", 2);
    return 0;
}
