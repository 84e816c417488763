// Writes a small made-up SOUND.SFS with its two index files into the folder named (the full
// layout as a sparse file: about 290 MB long, a few MB on disk), for trying sorvik without the
// game. The first music track and the first named effect carry loop marks.
#include <cstdio>
#include <exception>
#include <filesystem>

#include "tests/support/archive_generator.h"

namespace {

// Marks blocks `first` to `last` of each channel of an image as its loop (6 ... 3).
void MarkLoop(std::vector<std::uint8_t>& image, std::size_t channels, std::size_t first,
              std::size_t last) {
    for (std::size_t channel = 0; channel < channels; ++channel) {
        image[48 + (first * channels + channel) * 16 + 1] = 6;
        image[48 + (last * channels + channel) * 16 + 1] = 3;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_archive <folder>\n");
        return 2;
    }
    try {
        sorvik::testing::ArchiveContents contents = sorvik::testing::MakeArchiveContents();
        MarkLoop(contents.tracks[0].image, 2, 2, 7);
        MarkLoop(contents.seBank.entries[0].image, 1, 1, 3);
        std::filesystem::create_directories(argv[1]);
        sorvik::testing::WriteArchive(contents, argv[1]);
        std::printf("wrote SOUND.SFS, LMVSE.000 and LMVVOICE.000 to %s\n", argv[1]);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_archive: %s\n", error.what());
        return 1;
    }
}
