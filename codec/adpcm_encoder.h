#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/adpcm.h"
#include "codec/adpcm_fast.h"

// The ADPCM encoder: 28 samples of one channel into one 16-byte block (see adpcm.h for the
// block). It predicts with exactly the decoder's double arithmetic and carries the decoder's
// unrounded history from block to block, so the samples it reports as decoded are the ones the
// decoder produces, bit for bit, on every platform.
//
// A block whose samples some predictor and shift make exactly from the decoder's history takes the
// first such predictor (0-4) and, for it, the coarsest such shift: so a sound decoded from ADPCM
// comes back as its own blocks. Every other block takes the predictor (0-4) and shift (0-12) that
// give the least score among those worth trying (the candidates): for every predictor, the
// residual of the block predicted from the input itself estimates the finest shift that fits; the
// two most promising predictors are searched at that shift and the next coarser one, and a fifth
// candidate where a greedy trial encoding (every predictor at both of its shifts, from the
// decoder's history) makes less error than each of those four; the trials also order the
// candidates. Within a block the nibbles are chosen by a small beam search (the beam): every kept
// path tries the two nibbles around its residual for the next sample, and the four paths with the
// least error so far go on. A path's score is its error plus half the error that a greedy encoding
// of the next block (when given) would make from where the path ends (the scoring), so a block
// does not leave the next one a history that is hard to follow. Candidates are tried best first,
// two side by side, and one is given up as soon as none of its paths can beat the best score
// found; after the first two, a candidate is passed over when its trial erred more than four
// times the best score, and gives up once its error reaches the best score less half the best
// path's look-ahead. The search runs in single precision with the same operations in every kind of
// arithmetic (plain floats, SSE, AVX2 with two beams to a register), so it chooses the same
// nibbles everywhere; the block's samples and the history it leaves are then worked out in the
// decoder's doubles.
namespace sorvik {

// What encoding one channel carries from one block to the next.
struct EncoderChannel {
    ChannelHistory history;    // the decoder's
    double largestMiss = 0.0;  // the largest error of a sample so far
};

// Encodes samples[0], samples[stride], ..., samples[27 * stride] into `block` (16 bytes) with
// `flag` in byte 1. `channel` comes in as it was before the block and goes out as it is after
// it. When `decoded` is not null, decoded[0] to decoded[27] receive the samples
// the decoder will make of the block. When `next` is not null, next[0], next[stride], ...,
// next[27 * stride] are the samples of the block that follows, looked at but not encoded.
void EncodeAdpcmBlock(const std::int16_t* samples, std::size_t stride, std::uint8_t flag,
                      EncoderChannel& channel, std::uint8_t* block, std::int16_t* decoded = nullptr,
                      const std::int16_t* next = nullptr);

namespace adpcm_detail {

// EncodeAdpcmBlock with the search arithmetic of `kernel` (the portable one where it does not
// run). Every kind gives the same blocks; this is here so that tests hold them to it.
void EncodeAdpcmBlockWith(Kernel kernel, const std::int16_t* samples, std::size_t stride,
                          std::uint8_t flag, EncoderChannel& channel, std::uint8_t* block,
                          std::int16_t* decoded, const std::int16_t* next);

}  // namespace adpcm_detail
}  // namespace sorvik
