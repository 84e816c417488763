#pragma once

#include <cstddef>
#include <cstdint>

#include "common/result_code.h"

// One whole sound image held in memory to one WAV file.
namespace sorvik {

// Write the WAV file `outputName` (created, or replaced) for the mono "VAGp" or stereo "STER"
// image of `imageLength` bytes at `image`. The image is checked before any file is touched:
// UnknownFormat when the magic is wrong, the header is incomplete, the size field is 0, there is
// not one whole block (block pair) of data, or the WAV would pass 4 GiB. The data decoded is the
// smaller of what the size field declares and what the image holds; the WAV header counts exactly
// the samples written. Returns Ok, UnknownFormat, OutOfMemory (the output buffer could not be
// allocated; no file is touched) or WriteFailed.
ResultCode ConvertVagImage(const char* outputName, const std::uint8_t* image,
                           std::size_t imageLength);
ResultCode ConvertSterImage(const char* outputName, const std::uint8_t* image,
                            std::size_t imageLength);

// Writes the WAV file `outputName` for exactly `blockCount` headerless mono ADPCM blocks at
// `data` (an end block among them decodes to silence), played at `sampleRate`. UnknownFormat
// (and no file) when there is no block or the WAV would pass 4 GiB; otherwise as above.
ResultCode WriteMonoWav(const char* outputName, const std::uint8_t* data, std::size_t blockCount,
                        std::uint32_t sampleRate);

}  // namespace sorvik
