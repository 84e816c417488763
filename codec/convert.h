#pragma once

#include <cstdint>
#include <string>

#include "common/byte_source.h"
#include "common/output_sink.h"
#include "common/result_code.h"
#include "common/second_thread.h"

// Sound images to WAV files. The image is read from a source a piece at a time, only as far as
// its sound goes, and the WAV file is handed to a sink, so memory stays at two buffers of about
// 1 MB together whatever the image's size or its header's claims.
namespace sorvik {

// What a WAV file carries beyond the sound as stored; by default nothing.
struct WavOptions {
    // A "smpl" chunk after the data with the sound's loop, when it has one.
    bool loopChunk = false;
    // 1 to 9: a sound with a loop is written with its loop played this many times in all, then
    // faded out linearly over kFadeSeconds of further repeats; 0: as stored. Takes the place of
    // loopChunk.
    unsigned loopCount = 0;
    // Whether a long sound is written to its file on a second thread while it is decoded.
    SecondThread writeBehind = SecondThread::Automatic;
};
constexpr std::uint32_t kFadeSeconds = 10;

// Writes the WAV file `outputName` for the mono "VAGp" or the stereo "STER" image whose header
// is at `offset` in `source`, with `length` bytes of image (header included) there. The header
// is checked before any output is started: UnknownFormat when the magic is wrong, the header is
// incomplete, the size field is 0, there is not one whole block (block pair) of data, or the WAV
// would pass 4 GiB (a mono sound that might, by its size, has its blocks' flags read for its end
// block first; only reading). The data decoded is the smaller of what the size field declares and what
// the image holds; a mono sound also ends at its first end block. The WAV header counts exactly
// the samples written. Returns Ok, UnknownFormat, OutOfMemory (a buffer could not be allocated),
// ReadFailed (the source failed or ended early) or WriteFailed.
ResultCode ConvertVagImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                           OutputSink& sink, const std::string& outputName,
                           const WavOptions& options = {});
ResultCode ConvertSterImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                            OutputSink& sink, const std::string& outputName,
                            const WavOptions& options = {});

// Writes the WAV file `outputName` for exactly `blockCount` headerless mono blocks at `offset`
// in `source` (an end block among them decodes to silence), played at `sampleRate`.
// UnknownFormat when there is no block or the WAV would pass 4 GiB; otherwise as above.
ResultCode WriteMonoWav(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                        std::uint32_t sampleRate, OutputSink& sink, const std::string& outputName,
                        const WavOptions& options = {});

}  // namespace sorvik
