#pragma once

#include <cstddef>
#include <cstdint>

// The fixed layout of the game's ".sfs" sound archive. The archive has no table of contents:
// every region starts at a fixed byte offset, on a 2048-byte sector boundary.
//
//   region                  offset       extent
//   unnamed effects block   354304       519680 bytes: 22 headerless mono ADPCM sounds, back to
//                                        back, each ending with (and including) an end block
//   music                   878592       38 stereo "STER" images
//   named effect bank       221110272    mono "VAGp" images listed by LMVSE.000
//   voice bank              289171456    mono "VAGp" images listed by LMVVOICE.000
//
// Within the music region and the banks each image header starts on a sector boundary: the
// first boundary at or after the previous header plus its data (music) or its index span
// (banks), or one sector further. Archived headers carry the data size a second time at offset
// 4, little-endian; for music it counts one channel, the data being twice as long.
namespace sorvik::sfs {

constexpr std::uint64_t kSectorSize = 2048;

constexpr std::uint64_t kEffectsBlockOffset = 354304;  // 0x56800
constexpr std::size_t kEffectsBlockSize = 519680;      // 0x7EE00
constexpr int kEffectCount = 22;

constexpr std::uint64_t kBgmOffset = 878592;  // 0xD6800
constexpr int kBgmTrackCount = 38;

constexpr std::uint64_t kSeBankOffset = 221110272;     // 0x0D2DE000
constexpr std::uint64_t kVoiceBankOffset = 289171456;  // 0x113C6800

// Companion index files, which lie in the archive's folder.
constexpr char kSeIndexName[] = "LMVSE.000";
constexpr char kVoiceIndexName[] = "LMVVOICE.000";

// Companion index file (BankIndex), little-endian:
//   0  4 bytes   not read
//   4  u32       entry count; only its low 16 bits count
//   8  32 bytes per entry (BankIndexEntry), in the order of the images in the bank
constexpr std::size_t kBankIndexHeaderSize = 8;
constexpr std::size_t kBankIndexCountOffset = 4;

// One index entry: the image's file name, zero-terminated (at most 27 characters), and its
// span: the next header is at the first sector at or after this one's offset + span.
constexpr std::size_t kBankIndexEntrySize = 32;
constexpr std::size_t kBankIndexNameSize = 28;
constexpr std::size_t kBankIndexSpanOffset = 28;

// The first sector boundary at or after `offset`.
constexpr std::uint64_t RoundUpToSector(std::uint64_t offset) {
    return (offset + kSectorSize - 1) / kSectorSize * kSectorSize;
}

}  // namespace sorvik::sfs
