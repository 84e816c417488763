#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/adpcm.h"

// The decoder used for whole streams. Its output is bit for bit that of the straightforward
// decoder, which decodes one sample after the other block by block; it is only faster.
//
// Each sample depends on the one before it, so one channel is a chain of dependent floating-point
// operations whose latency, not the processor's throughput, sets the pace. The decoder therefore
// runs up to eight independent chains side by side, two to a register where the processor has
// SSE2 and four where it has AVX2: the two channels of a stereo stream, and parts of a channel cut
// at points where the history is known. A block of prediction row 0 does not look at the history at
// all, so the part that starts there needs nothing from the part before. Where no such block is
// near a cut, the later part starts a little early from a guessed history; the prediction filters
// forget their past, so within a few dozen blocks the guess has become the exact history, bit for
// bit. That is checked, not assumed: when the part before reaches the cut, its exact history is
// compared with the one the later part had at the same block, and the blocks are decoded again one
// at a time until the two agree.
namespace sorvik {

// Decodes `blockCount` mono blocks into `pcm`: 28 little-endian 16-bit samples (56 bytes) per
// block. An end block gives 28 zero samples and leaves the history as it was; decoding goes on
// after it. `history` comes in as the history before the first block and goes out as the one
// after the last.
void DecodeMonoBlocksToPcm(const std::uint8_t* data, std::size_t blockCount,
                           ChannelHistory& history, std::uint8_t* pcm);

// Decodes `pairCount` stereo block pairs (left block, right block) into `pcm`: 28 frames of a
// left and a right little-endian 16-bit sample (112 bytes) per pair. A left end block gives zero
// left samples; a right end block gives zero samples on both channels for its 28 frames (even
// where the left block was decoded, whose history still moves on). Neither ends the stream.
void DecodeStereoPairsToPcm(const std::uint8_t* data, std::size_t pairCount, ChannelHistory& left,
                            ChannelHistory& right, std::uint8_t* pcm);

namespace adpcm_detail {

// The kinds of arithmetic the decoder has: the portable one, which runs everywhere; two chains to
// an SSE2 register, on x86 (64-bit, or 32-bit built with SSE2); and four to an AVX2 register, on
// x86 processors that have AVX2, chosen when the program runs. All give the same output; the
// functions above use the fastest that runs.
enum class Kernel { Portable, Sse2, Avx2 };

// Whether this build has `kernel` and this processor (and its system) can run it.
bool KernelRuns(Kernel kernel);

// The fastest kind that this build has and this processor runs: the decoder's and the encoder's.
Kernel FastestKernel();

// The two decoders above with the arithmetic of `kernel` (the portable one where `kernel` does not
// run). They exist so that tests hold every kind of arithmetic to the same output.
void DecodeMonoBlocksWith(Kernel kernel, const std::uint8_t* data, std::size_t blockCount,
                          ChannelHistory& history, std::uint8_t* pcm);
void DecodeStereoPairsWith(Kernel kernel, const std::uint8_t* data, std::size_t pairCount,
                           ChannelHistory& left, ChannelHistory& right, std::uint8_t* pcm);

}  // namespace adpcm_detail
}  // namespace sorvik
