#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "codec/adpcm.h"
#include "codec/loop_points.h"
#include "codec/sound_headers.h"
#include "common/byte_source.h"
#include "common/result_code.h"

// The ADPCM data of one sound as found in a source, shared by the converters and the listing.
namespace sorvik {

// Mono blocks or stereo block pairs ("units") at `offset`.
struct SoundData {
    std::uint64_t offset;
    std::uint64_t unitCount;  // exact, or at most this many when the sound ends at an end block
    std::uint16_t channels;
    bool endsAtEndBlock;  // mono only
    std::uint32_t sampleRate;

    std::size_t UnitBytes() const { return kAdpcmBlockSize * channels; }
    std::size_t PcmBytesPerUnit() const { return kPcmBytesPerBlock * channels; }
};

// True when `unitCount` units decoded, and `trailingBytes` of chunks after them, do not fit a WAV
// file.
inline bool TooLargeForWav(std::uint64_t unitCount, std::size_t pcmBytesPerUnit,
                           std::size_t trailingBytes = 0) {
    return unitCount > (kMaxWavDataSize - trailingBytes) / pcmBytesPerUnit;
}

// Reads and checks the header of the image of `channels` channels whose header is at `offset`
// in `source`, with `length` bytes of image there: the sound's data, or why there is none
// (UnknownFormat: wrong magic, a header cut short or a size field of 0; ReadFailed).
ResultCode ReadSoundImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                          std::uint16_t channels, SoundData& sound);

// The channels of a loose sound file, all of `source`, by its magic: 1 for "VAGp", 2 for "STER".
// ReadFailed when the file is empty or cannot be read, UnknownFormat when it has neither magic
// (a file shorter than a magic included).
ResultCode FindLooseChannels(ByteSource& source, std::uint16_t& channels);

// What the flags of a sound's blocks say, read without decoding.
struct SoundScan {
    std::uint64_t unitCount = 0;          // exact: up to and including a mono sound's end block
    std::optional<LoopPoints> loop;       // the left (or only) channel's
    std::optional<LoopPoints> rightLoop;  // stereo only
};

// Reads the flags of the sound's units a piece at a time. ReadFailed when the source ends early;
// OutOfMemory when the buffer could not be allocated.
ResultCode ScanSound(ByteSource& source, const SoundData& sound, SoundScan& scan);

}  // namespace sorvik
