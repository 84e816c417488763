#include "tests/support/archive_generator.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>

#include "tests/support/adpcm_encoder.h"
#include "tests/support/test_files.h"

namespace sorvik::testing {
namespace {

constexpr std::uint32_t kTrackRate = 44100;
constexpr std::uint32_t kSeRate = 44100;
constexpr std::uint32_t kVoiceRate = 22050;
constexpr std::uint32_t kEffectRate = 48000;  // the rate the extractor gives headerless effects

std::uint32_t LoadLe32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0 && bytes.size() >= at + 4; --i) value = value << 8 | bytes[at + i];
    return value;
}

void StoreLe32(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> 8 * i);
}

std::string Numbered(const char* format, std::size_t number) {
    char text[32];
    std::snprintf(text, sizeof(text), format, static_cast<unsigned>(number));
    return text;
}

// `blocks` blocks of a tone that `variant` chooses: exactly `blocks` * 28 samples.
std::vector<std::int16_t> Tone(std::size_t blocks, std::uint32_t variant, std::uint32_t rate) {
    std::vector<std::int16_t> pcm = Sine(110.0 + 37.0 * (variant % 23), blocks * 28.0 / rate,
                                         rate, 4000.0 + 1000.0 * (variant % 9));
    pcm.resize(blocks * kBlockSamples, 0);
    return pcm;
}

// Mono ADPCM of `blocks` blocks, the last an end block.
std::vector<std::uint8_t> MonoSound(std::size_t blocks, std::uint32_t variant, std::uint32_t rate) {
    if (blocks == 0) return {};
    return EncodeAdpcm(Tone(blocks - 1, variant, rate), true);
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

std::vector<std::uint8_t> MakeTrackImage(const std::string& name, std::size_t blocksPerChannel,
                                         std::uint32_t variant) {
    return MakeSterImage(EncodeAdpcm(Tone(blocksPerChannel, variant, kTrackRate), false),
                         EncodeAdpcm(Tone(blocksPerChannel, variant + 7, kTrackRate), false),
                         kTrackRate, name, true);
}

std::vector<std::uint8_t> MakeBankImage(const std::string& name, std::size_t blocks,
                                        std::uint32_t variant) {
    return MakeVagImage(MonoSound(blocks, variant, kSeRate), kSeRate, name, true);
}

std::vector<std::uint8_t> MakeEffectSound(std::size_t blocks, std::uint32_t variant) {
    return MonoSound(blocks, variant, kEffectRate);
}

BankEntrySpec MakeBankEntry(const std::string& name, std::vector<std::uint8_t> image) {
    BankEntrySpec entry;
    entry.SetName(name);
    entry.span = static_cast<std::uint32_t>(image.size());
    entry.image = std::move(image);
    return entry;
}

ArchiveContents MakeArchiveContents() {
    // Tests ask for the same archive again and again: it is made once.
    static std::mutex mutex;
    static std::optional<ArchiveContents> made;
    const std::lock_guard<std::mutex> lock(mutex);
    if (made) return *made;
    ArchiveContents contents;
    for (std::size_t i = 0; i < layout::kEffectCount; ++i) {
        const std::vector<std::uint8_t> sound = MakeEffectSound(6 + i * 37 % 150, i);
        contents.effectsBlock.insert(contents.effectsBlock.end(), sound.begin(), sound.end());
    }
    for (std::size_t k = 0; k < layout::kBgmTrackCount; ++k) {
        const std::string name = Numbered("BGM%02u", k);
        contents.tracks.push_back({MakeTrackImage(name, ClearOfSectorEnd(9 + 3 * k), k)});
    }
    for (std::size_t i = 0; i < 5; ++i) {
        const std::string name = Numbered("SE_%03u", i);
        contents.seBank.entries.push_back(
            MakeBankEntry(name + ".VAG", MakeBankImage(name, 4 + i * 13 % 60, i)));
    }
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string name = Numbered("V_%04u", i);
        contents.voiceBank.entries.push_back(MakeBankEntry(
            name + ".VAG", MakeVagImage(MonoSound(20 + i * 17 % 200, i, kVoiceRate), kVoiceRate,
                                        name, true)));
    }
    made = contents;
    return contents;
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

// Places the images of one region from `offset` on into `image`, each next one computed from
// its header's offset + `step` of the one before; returns where the last one ends, which must
// not pass `limit`.
template <typename Spec, typename Step>
std::uint64_t PlaceRegion(const std::vector<Spec>& specs, std::uint64_t offset, std::uint64_t limit,
                          const char* what, Step step, ArchiveImage& image) {
    std::uint64_t previousEnd = offset;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const std::uint64_t at = Place(offset, specs[i].extraSectors, previousEnd, what, i);
        image.extents[at] = specs[i].image;
        previousEnd = at + specs[i].image.size();
        offset = AlignToSector(at + step(specs[i]));
    }
    if (previousEnd > limit) throw std::invalid_argument(std::string(what) + "s run too far");
    return previousEnd;
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
    image.extents[layout::kEffectsBlockOffset] = contents.effectsBlock;
    // Music: the step to the next track counts the data of both channels, not the header.
    const auto trackStep = [](const TrackSpec& track) { return 2 * std::uint64_t{LoadLe32(track.image, 4)}; };
    const auto span = [](const BankEntrySpec& entry) { return std::uint64_t{entry.span}; };
    const std::uint64_t ends[] = {
        layout::kEffectsBlockOffset + layout::kEffectsBlockSize,
        PlaceRegion(contents.tracks, layout::kBgmOffset, layout::kSeBankOffset, "track", trackStep, image),
        PlaceRegion(contents.seBank.entries, layout::kSeBankOffset, layout::kVoiceBankOffset,
                    "named effect", span, image),
        PlaceRegion(contents.voiceBank.entries, layout::kVoiceBankOffset, 0xFFFFFFFFull, "voice",
                    span, image)};
    image.fileSize = contents.fileSize.value_or(*std::max_element(std::begin(ends), std::end(ends)));
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

std::uint64_t WriteArchive(const ArchiveContents& contents, const std::filesystem::path& folder,
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
    std::filesystem::resize_file(archivePath, image.fileSize);
    const std::pair<const std::optional<std::vector<std::uint8_t>>*, const char*> indexes[] = {
        {&image.seIndex, layout::kSeIndexName}, {&image.voiceIndex, layout::kVoiceIndexName}};
    for (const auto& [index, indexName] : indexes) {
        std::filesystem::remove(folder / indexName);
        if (*index) WriteBytes(folder / indexName, **index);
    }
    return image.fileSize;
}

}  // namespace sorvik::testing
