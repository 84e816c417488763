// The batch decoder on an arbitrary file: the input is written as a loose ".vag" file and
// decoded through a wildcard pattern, as a user's command line would. The batch succeeds with a
// sound WAV file, or fails with its message and leaves no file for an image it refused.

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/batch.h"
#include "fuzz/fuzz_support.h"

namespace fuzz = sorvik::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::fs::path input = fuzz::Sandbox::Get().Input() / "sound.vag";
    fuzz::WriteFile(input, data, size);
    const fuzz::InWorkFolder work;
    const std::string pattern = (fuzz::Sandbox::Get().Input() / "*.VAG").string();
    const bool converted = sorvik::DecodeVagFiles(pattern);
    const bool written = fuzz::fs::exists("sound.WAV");
    if (converted != written) fuzz::Fail("the result does not match the file written");
    if (written) {
        const bool stereo = size >= 4 && data[0] == 'S';
        fuzz::CheckWavFile("sound.WAV", stereo ? 2 : 1);
    }
    return 0;
}
