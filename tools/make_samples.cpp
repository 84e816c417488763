// Writes the bundled sample files: tune.vag (mono) and chord.vag (stereo). With no argument
// they go to the source tree's samples/ folder; an argument names another folder.
#include <cstdio>
#include <exception>
#include <filesystem>

#include "tools/sound_synth.h"
#include "tests/support/test_files.h"

int main(int argc, char** argv) {
    try {
        const std::filesystem::path folder =
            argc > 1 ? std::filesystem::path(argv[1])
                     : std::filesystem::path(SORVIK_SOURCE_DIR) / "samples";
        std::filesystem::create_directories(folder);
        sorvik::testing::WriteBytes(folder / "tune.vag", sorvik::synth::MakeTuneSample());
        sorvik::testing::WriteBytes(folder / "chord.vag", sorvik::synth::MakeChordSample());
        std::printf("wrote tune.vag and chord.vag to %s\n", folder.string().c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_samples: %s\n", error.what());
        return 1;
    }
}
