#include "bench/realistic_archive.h"

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/adpcm_encoder.h"
#include "tools/sound_synth.h"

namespace sorvik::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::kBlockBytes;

constexpr std::uint32_t kTrackRate = 44100;
constexpr std::uint32_t kSeRate = 44100;
constexpr std::uint32_t kVoiceRate = 22050;

std::string Numbered(const char* format, std::size_t number) {
    char text[32];
    std::snprintf(text, sizeof(text), format, static_cast<unsigned>(number));
    return text;
}

// Encoded stretches that the sounds are made of.
struct Pools {
    Bytes left;
    Bytes right;
    Bytes voice;
    Bytes effects[3];
};

Pools MakePools() {
    Pools pools;
    pools.left = testing::EncodeAdpcm(synth::Tune(kTrackRate, 12000.0, 0), false);
    pools.right = testing::EncodeAdpcm(synth::Tune(kTrackRate, 12000.0, -5), false);
    pools.voice = testing::EncodeAdpcm(synth::Tune(kVoiceRate, 10000.0, 7), false);
    for (std::uint32_t i = 0; i < 3; ++i) {
        pools.effects[i] = testing::EncodeAdpcm(synth::Effect(100 + i, 1.5, kSeRate, 14000.0), false);
    }
    return pools;
}

// `blocks` blocks of `pool`, starting at block `first` and wrapping around.
Bytes Tiled(const Bytes& pool, std::size_t first, std::size_t blocks) {
    Bytes out;
    out.reserve(blocks * kBlockBytes + kBlockBytes);
    const std::size_t poolBlocks = pool.size() / kBlockBytes;
    for (std::size_t i = 0; i < blocks; ++i) {
        const auto from = pool.begin() + static_cast<std::ptrdiff_t>((first + i) % poolBlocks * kBlockBytes);
        out.insert(out.end(), from, from + kBlockBytes);
    }
    return out;
}

// Mono ADPCM of `blocks` blocks from `pool`, the last an end block.
Bytes MonoSound(const Bytes& pool, std::size_t blocks, std::size_t first) {
    Bytes adpcm = Tiled(pool, first, blocks - 1);
    const Bytes end = testing::EndBlock();
    adpcm.insert(adpcm.end(), end.begin(), end.end());
    return adpcm;
}

// A block count near `wanted` for which the next track fits at its computed offset.
std::size_t ClearOfSectorEnd(std::size_t wanted) {
    while (wanted % 64 == 0 || wanted % 64 == 63) ++wanted;
    return wanted;
}

}  // namespace

testing::ArchiveContents MakeRealisticArchive() {
    const Pools pools = MakePools();
    testing::ArchiveContents contents;
    for (std::size_t i = 0; i < 22; ++i) {
        const Bytes sound = MonoSound(pools.effects[i % 3], 600 + 53 * i, i * 211);
        contents.effectsBlock.insert(contents.effectsBlock.end(), sound.begin(), sound.end());
    }
    for (std::size_t k = 0; k < 38; ++k) {
        const std::size_t blocks = ClearOfSectorEnd(90000 + 2000 * k);
        contents.tracks.push_back({testing::MakeSterImage(Tiled(pools.left, k * 389, blocks),
                                                          Tiled(pools.right, k * 389, blocks),
                                                          kTrackRate, Numbered("BGM%02u", k),
                                                          true)});
    }
    for (std::size_t i = 0; i < 300; ++i) {
        const std::string name = Numbered("SE_%03u", i);
        const Bytes sound = MonoSound(pools.effects[i % 3], 100 + i * 7919 % 1500, i * 211);
        contents.seBank.entries.push_back(testing::MakeBankEntry(
            name + ".VAG", testing::MakeVagImage(sound, kSeRate, name, true)));
    }
    for (std::size_t i = 0; i < 600; ++i) {
        const std::string name = Numbered("V_%04u", i);
        const Bytes sound = MonoSound(pools.voice, 800 + i * 4973 % 2400, i * 211);
        contents.voiceBank.entries.push_back(testing::MakeBankEntry(
            name + ".VAG", testing::MakeVagImage(sound, kVoiceRate, name, true)));
    }
    return contents;
}

}  // namespace sorvik::bench
