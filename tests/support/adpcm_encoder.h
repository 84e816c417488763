#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A PlayStation 4-bit ADPCM encoder and the two sound image headers, for making test data and
// the bundled samples. It predicts with exactly the decoder's arithmetic.
namespace sorvik::testing {

constexpr std::size_t kBlockBytes = 16;        // one ADPCM block
constexpr std::size_t kBlockSamples = 28;      // samples of one channel per block
constexpr std::size_t kImageHeaderBytes = 48;  // "VAGp" and "STER" headers

// Encodes 16-bit PCM into 16-byte ADPCM blocks: byte 0 = predictor << 4 | shift, byte 1 = flag
// (0), bytes 2-15 = 28 four-bit samples, low nibble first. Each block takes the predictor (0-4)
// and shift (0-12) with the least squared error, and the prediction history runs on across
// blocks as in the decoder. The last block is padded with silence. With `appendEndBlock` an end
// block (16 bytes, byte 1 = 7, all else 0) follows the data.
std::vector<std::uint8_t> EncodeAdpcm(const std::vector<std::int16_t>& pcm,
                                      bool appendEndBlock = true);

// A sine tone of `seconds` at `rate` whose peak is `amplitude` (in sample units).
std::vector<std::int16_t> Sine(double frequencyHz, double seconds, std::uint32_t rate,
                               double amplitude);

// One end block: byte 1 = 7, every other byte 0.
std::vector<std::uint8_t> EndBlock();

// A mono image: the 48-byte "VAGp" header followed by `adpcm`. Header: [0] "VAGp", [4] data size
// little-endian (only when `fillLittleEndianSize`, as images stored in the archive have it; else
// 0), [12] data size big-endian, [16] sample rate big-endian, [32] `name`, cut at 16 bytes and
// zero-padded; every other byte 0.
std::vector<std::uint8_t> MakeVagImage(const std::vector<std::uint8_t>& adpcm,
                                       std::uint32_t sampleRate, const std::string& name,
                                       bool fillLittleEndianSize);

// An interleaved stereo image: the "STER" header (same fields; the sizes count the bytes of ONE
// channel) followed by a left block, a right block, a left block, ... The shorter channel is
// padded with silent blocks (all zero) and a partial block with zeros, so both channels have
// the same whole number of blocks.
std::vector<std::uint8_t> MakeSterImage(const std::vector<std::uint8_t>& left,
                                        const std::vector<std::uint8_t>& right,
                                        std::uint32_t sampleRate, const std::string& name,
                                        bool fillLittleEndianSize);

}  // namespace sorvik::testing
