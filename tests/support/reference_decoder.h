#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The straightforward ADPCM decoder, one sample after the other, kept as the reference that the
// program's fast decoder must match bit for bit. It has its own copy of the tables and the
// arithmetic, so a change to the program's cannot slip through unnoticed.
namespace sorvik::testing::reference {

struct History {
    double s1 = 0.0, s2 = 0.0;  // the newest unrounded value, and the one before
};

// Decodes one ordinary 16-byte block into out[0], out[stride], ... out[27 * stride].
void DecodeBlock(const std::uint8_t* block, History& history, std::int16_t* out,
                 std::size_t stride);

// `blockCount` mono blocks into `samples`, in place of what it held (its memory is reused); an
// end block gives 28 zeros, keeps the history and does not stop.
void DecodeMonoBlocks(const std::uint8_t* data, std::size_t blockCount,
                      std::vector<std::int16_t>& samples);

// `pairCount` stereo block pairs as interleaved frames into `samples`, in the same way, with the
// end-block rules of a stereo stream: a left end block silences the left samples of its pair, a
// right end block both.
void DecodeStereoPairs(const std::uint8_t* data, std::size_t pairCount,
                       std::vector<std::int16_t>& samples);

// A mono stream of `length` bytes: whole blocks up to and including the first end block.
std::vector<std::int16_t> DecodeMonoStream(const std::uint8_t* data, std::size_t length);

// A stereo stream of `length` bytes: every whole block pair.
std::vector<std::int16_t> DecodeStereoStream(const std::uint8_t* data, std::size_t length);

// The WAV file a correct converter writes for a whole "VAGp" or "STER" image: the data that is
// both declared by its header and held, decoded; the header built here independently of the
// program's.
std::vector<std::uint8_t> ExpectedWav(const std::vector<std::uint8_t>& image);

}  // namespace sorvik::testing::reference
