#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "sfs/sfs_extractor.h"

// Synthetic ".sfs" archives with their two index files. ArchiveContents is a plain model that a
// test fills (MakeArchiveContents gives a complete, valid one) and edits; LayOutArchive places
// it, to be read in memory (SparseSource) or written as a sparse file (WriteArchive), so the
// full layout (the voice bank starts near 290 MB) costs little memory, disk space and time.
namespace sorvik::testing {

// The archive's fixed layout. Offsets are bytes from the start of the archive file.
namespace layout {
constexpr std::uint64_t kSectorSize = 2048;
constexpr std::uint64_t kEffectsBlockOffset = 354304;
constexpr std::uint64_t kEffectsBlockSize = 519680;
constexpr std::size_t kEffectCount = 22;
constexpr std::uint64_t kBgmOffset = 878592;
constexpr std::size_t kBgmTrackCount = 38;
constexpr std::uint64_t kSeBankOffset = 221110272;
constexpr std::uint64_t kVoiceBankOffset = 289171456;
constexpr char kSeIndexName[] = "LMVSE.000";
constexpr char kVoiceIndexName[] = "LMVVOICE.000";
constexpr std::size_t kIndexHeaderSize = 8;  // 4 unused bytes, then the entry count
constexpr std::size_t kIndexEntrySize = 32;  // 28-byte name, then the 32-bit span
constexpr std::size_t kIndexNameSize = 28;
}  // namespace layout

// The first multiple of the sector size at or after `offset`.
constexpr std::uint64_t AlignToSector(std::uint64_t offset) {
    return (offset + layout::kSectorSize - 1) / layout::kSectorSize * layout::kSectorSize;
}

// One music track: a whole "STER" image (header and data), stored unchanged.
struct TrackSpec {
    std::vector<std::uint8_t> image;
    // The header is placed this many sectors after the offset computed from the track before.
    std::uint32_t extraSectors = 0;
};

// One entry of a named bank: its index entry and its "VAGp" image, stored unchanged.
struct BankEntrySpec {
    std::array<char, layout::kIndexNameSize> nameField{};  // raw bytes of the index entry's name
    std::uint32_t span = 0;                                // as written in the index entry
    std::vector<std::uint8_t> image;
    std::uint32_t extraSectors = 0;  // as for TrackSpec

    // Sets the name field to `name` followed by zeros; a name of 28 bytes or more fills the
    // field without a terminating zero (cut at 28).
    void SetName(const std::string& name);
};

struct BankSpec {
    std::vector<BankEntrySpec> entries;
    // The raw 32-bit count field of the index; entries.size() when not set.
    std::optional<std::uint32_t> entryCountField;
    bool writeIndex = true;
};

struct ArchiveContents {
    // Written at kEffectsBlockOffset; up to kEffectsBlockSize bytes (the rest of the region
    // reads as zeros).
    std::vector<std::uint8_t> effectsBlock;
    std::vector<TrackSpec> tracks;  // normally kBgmTrackCount of them
    BankSpec seBank;
    BankSpec voiceBank;
    // When set, the archive is cut (or extended) to exactly this size after writing.
    std::optional<std::uint64_t> fileSize;
};

// A complete, valid archive of short sounds: 22 effects packed back to back in the effects block
// (each ending with its end block), 38 stereo tracks named "BGM00" to "BGM37" in their headers'
// name fields, 5 named effects ("SE_000.VAG", ...) and 4 voices ("V_0000.VAG", ...). All are
// real encoded sounds; every image carries its data size at offset 4 (little-endian) and offset
// 12 (big-endian); every span is 48 + the image's data size. No header needs the
// one-sector-further search.
ArchiveContents MakeArchiveContents();

// Pieces for tests that build their own contents. All are real encoded sounds; `variant`
// changes the sound.
// A "STER" track image with `blocksPerChannel` blocks per channel (no end blocks).
std::vector<std::uint8_t> MakeTrackImage(const std::string& name, std::size_t blocksPerChannel,
                                         std::uint32_t variant = 0);
// A "VAGp" bank image of `blocks` blocks, the last of them its end block.
std::vector<std::uint8_t> MakeBankImage(const std::string& name, std::size_t blocks,
                                        std::uint32_t variant = 0);
// A headerless effect of `blocks` blocks, the last of them its end block.
std::vector<std::uint8_t> MakeEffectSound(std::size_t blocks, std::uint32_t variant = 0);
// An entry named `name` holding `image`, with the span 48 + the image's data size (= the
// image's length).
BankEntrySpec MakeBankEntry(const std::string& name, std::vector<std::uint8_t> image);

// Where everything of `contents` lands (see WriteArchive for the placement), as extents of
// bytes with zeros between them, and the index files' bytes.
struct ArchiveImage {
    std::uint64_t fileSize = 0;
    std::map<std::uint64_t, std::vector<std::uint8_t>> extents;
    std::optional<std::vector<std::uint8_t>> seIndex;  // none when the bank's index is not written
    std::optional<std::vector<std::uint8_t>> voiceIndex;
};
ArchiveImage LayOutArchive(const ArchiveContents& contents);

// The archive of an ArchiveImage as a source, without ever holding its gaps.
class SparseSource final : public ByteSource {
  public:
    explicit SparseSource(const ArchiveImage& image) : image_(image) {}
    std::uint64_t Size() const override { return image_.fileSize; }
    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t count) override;

  private:
    const ArchiveImage& image_;
};

// The index files of an ArchiveImage; their paths are their bare names.
class ArchiveIndexFiles final : public sfs::IndexFiles {
  public:
    explicit ArchiveIndexFiles(const ArchiveImage& image) : image_(image) {}
    std::string PathOf(const char* name) const override;
    std::unique_ptr<ByteSource> Open(const char* name) const override;

  private:
    const ArchiveImage& image_;
};

// Writes `contents` as `archiveName` in `folder` (a sparse file), and the index files beside it
// for each bank whose writeIndex is set (an index that is not written is removed if present).
//
// Placement: the first track at kBgmOffset; each next one at AlignToSector(offset + 2 * S),
// with S the little-endian size at offset 4 of the track before (header bytes not counted). The
// first bank image at the bank's offset; each next one at AlignToSector(offset + span of the
// entry before). extraSectors then moves a header further. A header that would fall inside the
// image before it (less than 48 bytes before its end, as happens when 2 * S is a multiple of
// the sector size) goes one sector further, as in the game's own archives; the search for a
// header one sector late finds it. The file ends at the end of the last image unless
// `fileSize` says otherwise.
//
// Throws std::invalid_argument when the contents cannot be laid out: an effects block larger
// than its region, an image overlapping the one before by more than that, or a region running
// into the next (tracks past kSeBankOffset, effects past kVoiceBankOffset, the voices past
// 4 GiB). Throws std::runtime_error when a file cannot be written. Returns the archive's size.
std::uint64_t WriteArchive(const ArchiveContents& contents, const std::filesystem::path& folder,
                           const std::string& archiveName = "SOUND.SFS");

}  // namespace sorvik::testing
