// Writes the seed corpora of the fuzz targets from the test data generators: real ADPCM sounds
// made by the test encoder, in small images, effects blocks, archives and index files.
//   make_fuzz_seeds <corpus folder>     writes <corpus folder>/<target>/<seed>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/archive_input.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/sound_synth.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace sorvik::testing;

fs::path gCorpus;

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path folder = gCorpus / target;
    fs::create_directories(folder);
    std::ofstream stream(folder / name, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
}

Bytes Cat(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// A short tone of `blocks` ADPCM blocks (end block not included).
Bytes Tone(double hz, std::size_t blocks, double amplitude = 12000) {
    std::vector<std::int16_t> pcm = Sine(hz, 1.0, 22050, amplitude);
    pcm.resize(blocks * kBlockSamples);
    return EncodeAdpcm(pcm, false);
}

void StoreBe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void StoreLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Place(Bytes& archive, std::size_t offset, const Bytes& bytes) {
    if (archive.size() < offset + bytes.size()) archive.resize(offset + bytes.size());
    std::memcpy(archive.data() + offset, bytes.data(), bytes.size());
}

void LooseImages() {
    const Bytes mono = MakeVagImage(Cat(Tone(440, 4), EndBlock()), 22050, "tone", false);
    const Bytes stereo = MakeSterImage(Tone(330, 3), Tone(495, 3), 44100, "chord", false);
    // The size field promises more than the file holds, and a block with predictor 13 and
    // shift 15 follows the tone.
    Bytes longer = mono;
    StoreBe32(longer, 12, 0xFFFFFFF0);
    Bytes odd = MakeVagImage(Tone(220, 2), 8000, "odd", false);
    odd.insert(odd.end() - 16, {0xDF, 0x02, 0x77, 0x88, 0x80, 0x08, 0xF0, 0x0F, 0x12, 0x34, 0x56,
                                0x78, 0x9A, 0xBC, 0xDE, 0xF0});
    for (const char* target : {"convert", "batch"}) {
        Put(target, "mono.vag", mono);
        Put(target, "stereo.vag", stereo);
        Put(target, "size_beyond_data.vag", longer);
        Put(target, "odd_blocks.vag", odd);
    }
}

void EffectsBlocks() {
    Bytes block;
    for (std::uint32_t i = 0; i < 22; ++i) {
        std::vector<std::int16_t> pcm = Effect(i + 1, 0.01, 48000, 9000);
        block = Cat(block, EncodeAdpcm(pcm, true));
    }
    Put("effects", "decode", Cat({1}, block));
    Put("effects", "raw", Cat({0}, block));
    // The block runs out after a few sounds, the last without its end block.
    Bytes shortBlock(block.begin(), block.begin() + 200);
    Put("effects", "short", Cat({1}, shortBlock));
}

// 38 tracks of one or two sectors; the third lies one sector late, two share a name and one
// name holds a separator.
void BgmArchives() {
    Bytes archive;
    std::size_t offset = 0;
    for (int k = 0; k < 38; ++k) {
        std::string name = "BGM" + std::to_string(k);
        if (k == 5) name = "BGM4";
        if (k == 7) name = "../up";
        const std::size_t blocks = k == 0 ? 65 : 1;  // 65 blocks need a second sector
        Bytes track = MakeSterImage(Tone(200 + 10 * k, blocks), Tone(300 + 10 * k, blocks), 32000,
                                    name, true);
        if (k == 2) offset += 2048;
        Place(archive, offset, track);
        offset = (offset + track.size() - 48 + 2047) / 2048 * 2048;
    }
    const Bytes records = sorvik::fuzz::DescribeArchive(archive);
    Put("bgm", "decode", Cat({1}, records));
    Put("bgm", "raw", Cat({0}, records));
    // Cut short inside the tenth track.
    Bytes cut(archive.begin(), archive.begin() + 9 * 2048 + 100);
    Put("bgm", "cut", Cat({1}, sorvik::fuzz::DescribeArchive(cut)));
}

// A bank of six images with its index: one image a sector late, names with and without an
// extension, a name without a zero, an empty name and a duplicate.
void BankArchives() {
    const std::vector<std::string> names = {"se_a.VAG",           "se_b.vag", "noext",
                                            std::string(28, 'L'), "",         "se_a.VAG"};
    Bytes index(8, 0);
    index[4] = static_cast<std::uint8_t>(names.size());
    Bytes archive;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Bytes image =
            MakeVagImage(Cat(Tone(600 + 50 * i, 3 + i), EndBlock()), 24000, "", true);
        if (i == 3) offset += 2048;
        Place(archive, offset, image);
        Bytes entry(32, 0);
        std::memcpy(entry.data(), names[i].data(), std::min<std::size_t>(names[i].size(), 28));
        StoreLe32(entry, 28, static_cast<std::uint32_t>(image.size()));
        index = Cat(index, entry);
        offset = (offset + image.size() + 2047) / 2048 * 2048;
    }
    const Bytes records = sorvik::fuzz::DescribeArchive(archive);
    for (const std::uint8_t mode : {0, 1}) {
        const Bytes head = {mode, static_cast<std::uint8_t>(index.size()),
                            static_cast<std::uint8_t>(index.size() >> 8)};
        Put("bank", mode ? "decode" : "raw", Cat(Cat(head, index), records));
    }
}

// Decoder streams: a length in blocks (16-bit little-endian), then a pattern repeated to fill it.
void DecoderStreams() {
    const auto withCount = [](std::uint16_t count, const Bytes& pattern) {
        return Cat({static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8)},
                   pattern);
    };
    // Music long enough for eight parts, the pattern's length not a whole number of blocks.
    Bytes music = Tone(440, 150);
    music.resize(music.size() - 5);
    Put("decoder", "music", withCount(9000, music));
    // Loud blocks of row 4 that saturate, with a block of row 0 and an end block among them.
    Bytes loud;
    for (int i = 0; i < 40; ++i) {
        loud = Cat(loud, {0x40, 0x00, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x88, 0x88,
                          0x88, 0x88, 0x88, 0x88});
    }
    loud = Cat(loud, Cat(Tone(880, 2), EndBlock()));
    Put("decoder", "loud", withCount(8191, loud));
    Put("decoder", "short", withCount(1500, Tone(300, 7)));
}

void CommandLines() {
    const std::vector<std::string> lines = {
        std::string("song.vag\0out", 12),
        std::string("-x\0-tse\0game.sfs", 16),
        std::string("-tbgm\0-tSE\0x.sfs\0dest\0third", 27),
        std::string("-h", 2),
        std::string("/tmp/a.vag\0-x more", 18),
        std::string("\0in.vag\0-tvoice", 15),
    };
    int i = 0;
    for (const std::string& line : lines) {
        Put("command_line", "args" + std::to_string(i++), Bytes(line.begin(), line.end()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <corpus folder>\n");
        return 2;
    }
    gCorpus = argv[1];
    LooseImages();
    EffectsBlocks();
    BgmArchives();
    BankArchives();
    CommandLines();
    DecoderStreams();
    return 0;
}
