#include "tests/support/archive_generator.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>

#include "tests/support/adpcm_encoder.h"
#include "tests/support/sound_synth.h"
#include "tests/support/test_files.h"

namespace sorvik::testing {
namespace {

constexpr std::uint32_t kTrackRate = 44100;
constexpr std::uint32_t kSeRate = 44100;
constexpr std::uint32_t kVoiceRate = 22050;
constexpr std::uint32_t kEffectRate = 48000;  // the rate the extractor gives headerless effects
// Sounds up to this many blocks (per channel) are encoded for themselves; longer ones repeat a
// stretch encoded once, which keeps multi-megabyte archives quick to make.
constexpr std::size_t kDirectBlockLimit = 4096;

std::uint32_t LoadLe32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    if (bytes.size() < at + 4) return 0;
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void StoreLe32(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> 8 * i);
}

std::string Numbered(const char* format, std::size_t number) {
    char text[32];
    std::snprintf(text, sizeof(text), format, static_cast<unsigned>(number));
    return text;
}

// `pcm` cut or padded with silence to exactly `count` samples.
std::vector<std::int16_t> Fit(std::vector<std::int16_t> pcm, std::size_t count) {
    pcm.resize(count, 0);
    return pcm;
}

// A major triad on one of twelve roots from C4, by repeated semitone steps.
std::vector<double> Triad(std::uint32_t variant, double spread) {
    double root = 261.6255653005986;
    for (std::uint32_t i = 0; i < variant % 12; ++i) root *= 1.0594630943592952646;
    return {root, root * 1.2599210498948732, root * 1.4983070768766815 * spread};
}

// Encoded stretches that long sounds are made of, encoded on first use.
struct Pools {
    std::vector<std::uint8_t> left;
    std::vector<std::uint8_t> right;
    std::vector<std::uint8_t> voice;
    std::vector<std::uint8_t> effects[3];
};

const Pools& GetPools() {
    static const Pools pools = [] {
        Pools made;
        made.left = EncodeAdpcm(Tune(kTrackRate, 12000.0, 0), false);
        made.right = EncodeAdpcm(Tune(kTrackRate, 12000.0, -5), false);
        made.voice = EncodeAdpcm(Tune(kVoiceRate, 10000.0, 7), false);
        for (std::uint32_t i = 0; i < 3; ++i) {
            made.effects[i] = EncodeAdpcm(Effect(100 + i, 1.5, kSeRate, 14000.0), false);
        }
        return made;
    }();
    return pools;
}

// Appends `blocks` blocks of `pool`, starting at block `first` and wrapping around.
void AppendTiled(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& pool,
                 std::size_t first, std::size_t blocks) {
    const std::size_t poolBlocks = pool.size() / kBlockBytes;
    std::size_t at = first % poolBlocks;
    while (blocks > 0) {
        const std::size_t run = std::min(blocks, poolBlocks - at);
        const auto from = pool.begin() + static_cast<std::ptrdiff_t>(at * kBlockBytes);
        out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(run * kBlockBytes));
        blocks -= run;
        at = 0;
    }
}

// Mono ADPCM of `blocks` blocks, the last an end block.
std::vector<std::uint8_t> MonoSound(std::size_t blocks, std::uint32_t variant, std::uint32_t rate,
                                    bool tiled) {
    if (blocks == 0) return {};
    const std::size_t dataBlocks = blocks - 1;
    std::vector<std::uint8_t> adpcm;
    if (!tiled && dataBlocks <= kDirectBlockLimit) {
        const std::size_t count = dataBlocks * kBlockSamples;
        adpcm = EncodeAdpcm(
            Fit(Effect(variant, static_cast<double>(count) / rate, rate, 14000.0), count), true);
    } else {
        const Pools& pools = GetPools();
        const std::vector<std::uint8_t>& pool =
            rate == kVoiceRate ? pools.voice : pools.effects[variant % 3];
        adpcm.reserve(blocks * kBlockBytes);
        AppendTiled(adpcm, pool, variant * 211u, dataBlocks);
        const std::vector<std::uint8_t> end = EndBlock();
        adpcm.insert(adpcm.end(), end.begin(), end.end());
    }
    return adpcm;
}

std::vector<std::uint8_t> TrackImage(const std::string& name, std::size_t blocksPerChannel,
                                     std::uint32_t variant, bool tiled) {
    if (!tiled && blocksPerChannel <= kDirectBlockLimit) {
        const std::size_t count = blocksPerChannel * kBlockSamples;
        const double seconds = static_cast<double>(count) / kTrackRate;
        const std::vector<std::int16_t> left =
            Fit(Chord(Triad(variant, 1.0), seconds, kTrackRate, 11000.0), count);
        const std::vector<std::int16_t> right =
            Fit(Chord(Triad(variant, 0.5), seconds, kTrackRate, 11000.0), count);
        return MakeSterImage(EncodeAdpcm(left, false), EncodeAdpcm(right, false), kTrackRate, name,
                             true);
    }
    const Pools& pools = GetPools();
    std::vector<std::uint8_t> left;
    std::vector<std::uint8_t> right;
    left.reserve(blocksPerChannel * kBlockBytes);
    right.reserve(blocksPerChannel * kBlockBytes);
    AppendTiled(left, pools.left, variant * 389u, blocksPerChannel);
    AppendTiled(right, pools.right, variant * 389u, blocksPerChannel);
    return MakeSterImage(left, right, kTrackRate, name, true);
}

// A block count near `wanted` for which 2 * S is neither a multiple of the sector size nor
// within 48 bytes below one, so the next track fits at the computed offset.
std::size_t ClearOfSectorEnd(std::size_t wanted) {
    while (wanted % 64 == 0 || wanted % 64 == 63) ++wanted;
    return wanted;
}

}  // namespace

void BankEntrySpec::SetName(const std::string& name) {
    nameField.fill(0);
    std::copy_n(name.begin(), std::min(name.size(), nameField.size()), nameField.begin());
}

ArchiveOptions ArchiveOptions::Realistic() {
    ArchiveOptions options;
    options.seEntryCount = 300;
    options.voiceEntryCount = 600;
    options.realistic = true;
    return options;
}

std::vector<std::uint8_t> MakeTrackImage(const std::string& name, std::size_t blocksPerChannel,
                                         std::uint32_t variant) {
    return TrackImage(name, blocksPerChannel, variant, false);
}

std::vector<std::uint8_t> MakeBankImage(const std::string& name, std::size_t blocks,
                                        std::uint32_t variant) {
    return MakeVagImage(MonoSound(blocks, variant, kSeRate, false), kSeRate, name, true);
}

std::vector<std::uint8_t> MakeEffectSound(std::size_t blocks, std::uint32_t variant) {
    return MonoSound(blocks, variant, kEffectRate, false);
}

BankEntrySpec MakeBankEntry(const std::string& name, std::vector<std::uint8_t> image) {
    BankEntrySpec entry;
    entry.SetName(name);
    entry.span = static_cast<std::uint32_t>(image.size());
    entry.image = std::move(image);
    return entry;
}

namespace {

ArchiveContents BuildArchiveContents(const ArchiveOptions& options) {
    const bool big = options.realistic;
    ArchiveContents contents;

    for (std::size_t i = 0; i < layout::kEffectCount; ++i) {
        const std::size_t blocks = big ? 600 + 53 * i : 6 + i * 37 % 150;
        const std::vector<std::uint8_t> sound =
            MonoSound(blocks, static_cast<std::uint32_t>(i), kEffectRate, false);
        contents.effectsBlock.insert(contents.effectsBlock.end(), sound.begin(), sound.end());
    }

    for (std::size_t k = 0; k < layout::kBgmTrackCount; ++k) {
        const std::size_t blocks = ClearOfSectorEnd(big ? 90000 + 2000 * k : 9 + 3 * k);
        TrackSpec track;
        track.image =
            TrackImage(Numbered("BGM%02u", k), blocks, static_cast<std::uint32_t>(k), big);
        contents.tracks.push_back(std::move(track));
    }

    for (std::size_t i = 0; i < options.seEntryCount; ++i) {
        const std::size_t blocks = big ? 100 + i * 7919 % 1500 : 4 + i * 13 % 60;
        const std::string name = Numbered("SE_%03u", i);
        contents.seBank.entries.push_back(MakeBankEntry(
            name + ".VAG",
            MakeVagImage(MonoSound(blocks, static_cast<std::uint32_t>(i), kSeRate, big), kSeRate,
                         name, true)));
    }
    for (std::size_t i = 0; i < options.voiceEntryCount; ++i) {
        const std::size_t blocks = big ? 800 + i * 4973 % 2400 : 20 + i * 17 % 200;
        const std::string name = Numbered("V_%04u", i);
        contents.voiceBank.entries.push_back(MakeBankEntry(
            name + ".VAG",
            MakeVagImage(MonoSound(blocks, static_cast<std::uint32_t>(i), kVoiceRate, big),
                         kVoiceRate, name, true)));
    }
    return contents;
}

}  // namespace

ArchiveContents MakeArchiveContents(const ArchiveOptions& options) {
    if (options.realistic) return BuildArchiveContents(options);
    // Tests ask for the same small archive again and again: it is made once per shape.
    static std::mutex mutex;
    static std::map<std::pair<std::size_t, std::size_t>, ArchiveContents> made;
    const std::lock_guard<std::mutex> lock(mutex);
    const auto key = std::make_pair(options.seEntryCount, options.voiceEntryCount);
    auto found = made.find(key);
    if (found == made.end()) found = made.emplace(key, BuildArchiveContents(options)).first;
    return found->second;
}

namespace {

// Places one image: `computed` moved by `extraSectors`, and one sector further when it would
// fall inside the image before (which ends at `previousEnd`).
std::uint64_t Place(std::uint64_t computed, std::uint32_t extraSectors, std::uint64_t previousEnd,
                    const char* what, std::size_t index) {
    std::uint64_t offset = computed + std::uint64_t{extraSectors} * layout::kSectorSize;
    if (offset < previousEnd) offset += layout::kSectorSize;
    if (offset < previousEnd) {
        throw std::invalid_argument(std::string(what) + " " + std::to_string(index) +
                                    " would overlap the image before it");
    }
    return offset;
}

struct Placed {
    std::vector<std::uint64_t> offsets;
    std::uint64_t end = 0;  // end of the last image
};

Placed PlaceBank(const BankSpec& bank, std::uint64_t base, std::uint64_t limit, const char* what) {
    Placed placed;
    std::uint64_t computed = base;
    std::uint64_t previousEnd = base;
    for (std::size_t i = 0; i < bank.entries.size(); ++i) {
        const BankEntrySpec& entry = bank.entries[i];
        const std::uint64_t offset = Place(computed, entry.extraSectors, previousEnd, what, i);
        placed.offsets.push_back(offset);
        previousEnd = offset + entry.image.size();
        computed = AlignToSector(offset + entry.span);
    }
    placed.end = previousEnd;
    if (placed.end > limit) {
        throw std::invalid_argument(std::string(what) + " bank runs past its region");
    }
    return placed;
}

std::vector<std::uint8_t> IndexBytes(const BankSpec& bank) {
    std::vector<std::uint8_t> bytes(layout::kIndexHeaderSize +
                                    layout::kIndexEntrySize * bank.entries.size());
    StoreLe32(&bytes[4],
              bank.entryCountField.value_or(static_cast<std::uint32_t>(bank.entries.size())));
    for (std::size_t i = 0; i < bank.entries.size(); ++i) {
        std::uint8_t* entry = &bytes[layout::kIndexHeaderSize + layout::kIndexEntrySize * i];
        std::copy(bank.entries[i].nameField.begin(), bank.entries[i].nameField.end(), entry);
        StoreLe32(entry + layout::kIndexNameSize, bank.entries[i].span);
    }
    return bytes;
}

}  // namespace

ArchiveImage LayOutArchive(const ArchiveContents& contents) {
    if (contents.effectsBlock.size() > layout::kEffectsBlockSize) {
        throw std::invalid_argument("effects block larger than its region");
    }
    ArchiveImage image;
    ArchiveLayout& result = image.layout;
    // Music: the step to the next track counts the data of both channels, not the header.
    std::uint64_t computed = layout::kBgmOffset;
    std::uint64_t previousEnd = layout::kBgmOffset;
    for (std::size_t i = 0; i < contents.tracks.size(); ++i) {
        const TrackSpec& track = contents.tracks[i];
        const std::uint64_t offset = Place(computed, track.extraSectors, previousEnd, "track", i);
        result.trackOffsets.push_back(offset);
        previousEnd = offset + track.image.size();
        computed = AlignToSector(offset + 2 * std::uint64_t{LoadLe32(track.image, 4)});
    }
    if (previousEnd > layout::kSeBankOffset) {
        throw std::invalid_argument("music runs into the named-effect bank");
    }
    const Placed se =
        PlaceBank(contents.seBank, layout::kSeBankOffset, layout::kVoiceBankOffset, "named-effect");
    const Placed voice =
        PlaceBank(contents.voiceBank, layout::kVoiceBankOffset, 0xFFFFFFFFull, "voice");
    result.seOffsets = se.offsets;
    result.voiceOffsets = voice.offsets;
    const std::uint64_t naturalEnd = std::max(
        {layout::kEffectsBlockOffset + layout::kEffectsBlockSize, previousEnd, se.end, voice.end});
    result.fileSize = contents.fileSize.value_or(naturalEnd);

    image.extents[layout::kEffectsBlockOffset] = contents.effectsBlock;
    for (std::size_t i = 0; i < contents.tracks.size(); ++i) {
        image.extents[result.trackOffsets[i]] = contents.tracks[i].image;
    }
    for (std::size_t i = 0; i < contents.seBank.entries.size(); ++i) {
        image.extents[result.seOffsets[i]] = contents.seBank.entries[i].image;
    }
    for (std::size_t i = 0; i < contents.voiceBank.entries.size(); ++i) {
        image.extents[result.voiceOffsets[i]] = contents.voiceBank.entries[i].image;
    }
    if (contents.seBank.writeIndex) image.seIndex = IndexBytes(contents.seBank);
    if (contents.voiceBank.writeIndex) image.voiceIndex = IndexBytes(contents.voiceBank);
    return image;
}

bool SparseSource::ReadAt(std::uint64_t offset, void* bytes, std::size_t count) {
    if (!Holds(offset, count)) return false;
    auto* out = static_cast<std::uint8_t*>(bytes);
    std::fill(out, out + count, 0);
    for (const auto& [start, extent] : image_.extents) {
        const std::uint64_t from = std::max(start, offset);
        const std::uint64_t to = std::min(start + extent.size(), offset + count);
        if (from < to) std::copy(&extent[from - start], &extent[to - start], out + (from - offset));
    }
    return true;
}

std::string ArchiveIndexFiles::PathOf(const char* name) const { return name; }

std::unique_ptr<ByteSource> ArchiveIndexFiles::Open(const char* name) const {
    const std::optional<std::vector<std::uint8_t>>& index =
        std::string(name) == layout::kSeIndexName ? image_.seIndex : image_.voiceIndex;
    if (!index) return nullptr;
    return std::make_unique<MemorySource>(index->data(), index->size());
}

ArchiveLayout WriteArchive(const ArchiveContents& contents, const std::filesystem::path& folder,
                           const std::string& archiveName) {
    const ArchiveImage image = LayOutArchive(contents);
    std::filesystem::create_directories(folder);
    const std::filesystem::path archivePath = folder / archiveName;
    {
        std::ofstream out(archivePath, std::ios::binary | std::ios::trunc);
        for (const auto& [offset, bytes] : image.extents) {
            out.seekp(static_cast<std::streamoff>(offset));
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
        if (!out) throw std::runtime_error("cannot write " + archivePath.string());
    }
    // Sets the end without writing the gap, which stays a hole where the system has them.
    std::filesystem::resize_file(archivePath, image.layout.fileSize);
    const std::pair<const std::optional<std::vector<std::uint8_t>>*, const char*> indexes[] = {
        {&image.seIndex, layout::kSeIndexName}, {&image.voiceIndex, layout::kVoiceIndexName}};
    for (const auto& [index, indexName] : indexes) {
        std::filesystem::remove(folder / indexName);
        if (*index) WriteBytes(folder / indexName, **index);
    }
    return image.layout;
}

}  // namespace sorvik::testing
