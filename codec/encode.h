#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "codec/wav_reader.h"
#include "common/byte_source.h"
#include "common/output_sink.h"
#include "common/result_code.h"
#include "common/second_thread.h"

// WAV files to sound images: the encoder's way in and out. The WAV file is read a piece at a
// time and the image is handed to a sink, so memory stays under 1 MB whatever the file's size
// or its header's claims.
//
// The image (see docs/formats.md, "Encoded images"):
//   - a 48-byte header in the SDK tools' form (see MakeSoundImageHeader): "VAGp" (mono) or
//     "STER" (stereo); the version 0x20 BE at 4; the data size of one channel BE at 12; the
//     sample rate BE at 16; at 32 the output name without its extension, cut to 15 bytes and
//     ended by a zero byte;
//   - per channel, B = max(1, ceil(frames / 28)) blocks, the last one padded with silence; a
//     stereo image alternates them, left block first, as the archive's music does;
//   - mono only: one end block after them (byte 1 = 7, all else 0). A stereo image has none: the
//     decoder turns an end block into 28 frames of silence without ending the stream, and the
//     archive's music has none either.
// So the decoder makes 28 * (B + 1) samples of a mono image and 28 * B frames of a stereo one,
// the WAV file's samples first. The end block decodes to 28 zeros, so every mono sound decoded
// from an image ends with them: a mono WAV file of whole blocks (at least one) whose last 28
// samples are 0, and whose loop does not reach into them, has them made its end block instead,
// with B = frames / 28 - 1. Its image decodes to exactly its own length.
//
// Loops: with a forward loop in the WAV file's "smpl" chunk, the block holding its first frame
// gets flag 6 and the block holding its last frame flag 3 (in both channels). A loop within one
// block is widened to that block and the next one (6, 3), or, in the last block, to the one
// before it and it; a sound of one block keeps no loop. Every other block has flag 0.
namespace sorvik {

// Receives, as an image is encoded, the samples the decoder will make of its blocks: frame by
// frame (a stereo frame left, then right), a mono image's end block not included.
class DecodedSamples {
  public:
    virtual ~DecodedSamples() = default;
    virtual void Take(const std::int16_t* samples, std::size_t count) = 0;
};

// B above for the WAV file `info` describes (all of `wav`): the blocks (block pairs) of sound its
// image has, a mono end block not counted. nullopt when its last samples cannot be read.
std::optional<std::uint64_t> EncodedBlockCount(ByteSource& wav, const WavInfo& info);

// Encodes the 16-bit PCM WAV file that is all of `wav` into the sound image `outputName`.
// Everything that can be refused is refused, and the buffers are allocated, before the output
// is started; any failure leaves no output. Returns Ok; UnknownFormat when the file is damaged
// or not a WAV file, or, with `refusal` naming the format, a WAV file of a format other than
// 16-bit PCM in 1 or 2 channels; ReadFailed (the source failed or ended early); WriteFailed; or
// OutOfMemory. `decoded`, when given, receives the image's sound as the decoder will make it.
// A stereo sound's two channels are encoded side by side on two threads as
// `channelsSideBySide` says (Automatic: from about half a second of sound on, with more than one
// processor); the image is the same either way.
ResultCode EncodeWavToImage(ByteSource& wav, OutputSink& sink, const std::string& outputName,
                            WavRefusal& refusal, DecodedSamples* decoded = nullptr,
                            SecondThread channelsSideBySide = SecondThread::Automatic);

}  // namespace sorvik
