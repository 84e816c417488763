// Writes the seed corpora of the fuzz targets, <corpus folder>/<target>/<seed>, with real ADPCM
// sounds from the tests' generators:   make_fuzz_seeds <corpus folder>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"

using namespace sorvik::testing;
using Bytes = std::vector<std::uint8_t>;

// `to` and after it `bytes`, after their length in `lengthBytes` little-endian bytes, then zeros
// up to a multiple of `align` bytes.
static Bytes Add(Bytes to, const Bytes& bytes, int lengthBytes = 0, std::size_t align = 1) {
    for (int i = 0; i < lengthBytes; ++i)
        to.push_back(static_cast<std::uint8_t>(bytes.size() >> 8 * i));
    to.insert(to.end(), bytes.begin(), bytes.end());
    to.resize((to.size() + align - 1) / align * align);
    return to;
}

int main(int, char** argv) {
    const auto put = [&](const char* target, const char* name, const Bytes& bytes) {
        std::filesystem::create_directories(std::filesystem::path(argv[1]) / target);
        std::ofstream(std::filesystem::path(argv[1]) / target / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    };
    put("convert", "mono.vag", MakeVagImage(MakeEffectSound(6, 1), 22050, "tone", false));
    put("convert", "stereo.vag", MakeTrackImage("chord", 3));

    // Decoder streams (fuzz_decoder.cpp): music in eight parts, loud blocks in two.
    Bytes loud(16 * 40, 0x78);
    for (std::size_t b = 0; b < 40; ++b) loud[16 * b] = 0x40, loud[16 * b + 1] = b == 39 ? 7 : 0;
    put("decoder", "music", Add({7, 2 | 13 << 3}, MakeEffectSound(150, 2)));
    put("decoder", "loud", Add({1, 1}, loud));

    const char arguments[] = "-x\0-tbgm\0in.vag\0out\0more";
    put("command_line", "arguments", Bytes(arguments, std::end(arguments) - 1));

    // Archives (fuzz_archive.cpp): 22 effects; 38 tracks, 128 bytes to a sector, the third a
    // sector late, names doubled or with a separator; an effect and a voice bank and their index
    // files, with names doubled, without a zero, empty, unsafe or an input's.
    Bytes effects, music, banks[2];
    for (std::uint32_t i = 0; i < 38; ++i) {
        if (i < 22) effects = Add(effects, MakeEffectSound(2 + i % 3, i));
        if (i == 2) music.resize(music.size() + 128);
        const std::string name = i == 5 ? "BGM4" : i == 7 ? "../up" : "BGM" + std::to_string(i);
        music = Add(music, MakeTrackImage(name, 1, i), 0, 128);
    }
    const std::vector<std::string> names[2] = {
        {"a.VAG", "noext", std::string(28, 'L'), "", "a.VAG", "LMVSE.000"}, {"..", "/x"}};
    Bytes indexes[2] = {{0, 0, 0, 0, 6, 0, 0, 0}, {0, 0, 0, 0, 2, 0, 0, 0}};
    for (std::uint32_t k = 0; k < 2; ++k) {
        for (const std::string& name : names[k]) {
            banks[k] = Add(banks[k], MakeBankImage("", 3, k), 0, 128);
            Bytes entry(name.begin(), name.end());
            entry.resize(32);
            entry[28] = 96;  // the span: the image's header and three blocks
            indexes[k] = Add(indexes[k], entry);
        }
    }
    Bytes input{1};  // decoded, all sections
    for (const Bytes& piece : {effects, music, banks[0], banks[1], indexes[0], indexes[1]})
        input = Add(input, piece, 2);
    put("archive", "decode", input);
    input[0] = 0;  // raw
    put("archive", "raw", input);
    return 0;
}
