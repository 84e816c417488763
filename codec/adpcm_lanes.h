#pragma once

// The machinery of the fast decoder that does not depend on the instruction set: the lanes (one
// chain of blocks each), how a channel is cut into them, how they run side by side, and the check
// of the parts that started from a guess. The arithmetic is a parameter (see PortableArithmetic
// in adpcm_fast.cpp for what it provides), so that the same loops run two chains to an SSE2
// register in one translation unit and four to an AVX2 register in another, compiled for that
// instruction set.
//
// Private to those translation units. Everything here but the two entry points declared first
// has internal linkage, on purpose: each of them gets its own copy compiled for its own
// instruction set, and the linker can never pick the AVX2 copy of a function for a processor
// without AVX2.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/adpcm.h"
#include "codec/adpcm_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sorvik::adpcm_detail {

// The entry points of the AVX2 translation unit, declared for the dispatch in adpcm_fast.cpp.
void DecodeMonoBlocksAvx2(const std::uint8_t* data, std::size_t blockCount, ChannelHistory& history,
                          std::uint8_t* pcm);
void DecodeStereoPairsAvx2(const std::uint8_t* data, std::size_t pairCount, ChannelHistory& left,
                           ChannelHistory& right, std::uint8_t* pcm);

}  // namespace sorvik::adpcm_detail

namespace sorvik {
namespace {

using adpcm_detail::kCoefficients;
using adpcm_detail::kScale;
using adpcm_detail::NarrowToSample;
using adpcm_detail::RowOf;
using adpcm_detail::StoreSample;

// Chains decoded side by side. Eight keep the processor busy while each chain waits for its
// multiply and add; with four, the chains' latency shows.
constexpr std::size_t kMaxLanes = 8;
// A later part starts at blocks of row 0 when there are some this many blocks before the ideal
// cut or closer (see PlanPart)...
constexpr std::size_t kRowZeroSearchBlocks = 64;
// ...and otherwise this many blocks early, from a history of zeros. On music, a guess has become
// exact to the last bit after about 25 blocks in half the cases and within 64 in nine of ten;
// the rest are put right one block at a time by the check, at about three times the cost.
constexpr std::size_t kWarmUpBlocks = 64;
// Histories a guessed part keeps, from its start to some way past the cut, for the check against
// the exact one. A part never starts further before its cut than the record reaches.
constexpr std::size_t kCheckedBlocks = 40;
constexpr std::size_t kRecordSize = kWarmUpBlocks + kCheckedBlocks;
static_assert(kRowZeroSearchBlocks < kRecordSize && kWarmUpBlocks < kRecordSize);
// A channel is cut only into parts at least this long, so guessing stays a small share of the
// work.
constexpr std::size_t kMinPartBlocks = 512;

// Two histories are the same when their bits are; then so is everything decoded after them.
bool SameBits(const ChannelHistory& a, const ChannelHistory& b) { return std::memcmp(&a, &b, sizeof(ChannelHistory)) == 0; }

bool IsEndBlock(const std::uint8_t* block) { return block[1] == kEndBlockFlag; }

// A block that ignores the history: decoded with row 0 and not an end block.
bool StartsAfresh(const std::uint8_t* block) { return !IsEndBlock(block) && RowOf(block[0]) == 0; }

// Decodes one block the plain way; used where chains cannot run side by side.
template <std::size_t kSampleBytes>
void DecodeOneBlock(const std::uint8_t* block, ChannelHistory& state, std::uint8_t* out) {
    if (IsEndBlock(block)) {
        for (std::size_t i = 0; i < kSamplesPerBlock; ++i) StoreSample(out + i * kSampleBytes, 0);
        return;
    }
    const unsigned row = RowOf(block[0]);
    const double c0 = kCoefficients[row][0];
    const double c1 = kCoefficients[row][1];
    const double* scaled = kScale.values[block[0] & 0x0F];
    double s1 = state.s1;
    double s2 = state.s2;
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const std::uint8_t packed = block[2 + i / 2];
        const double d = scaled[i % 2 == 0 ? packed & 0x0F : packed >> 4];
        const double value = (d + c1 * s2) + c0 * s1;
        s2 = s1;
        s1 = value;
        StoreSample(out + i * kSampleBytes, NarrowToSample(value));
    }
    state = {s1, s2};
}

#if defined(__SSE2__)
// The nibbles of a block as 16-bit integers in sample order, scaled as the table scales them:
// each nibble is put in the top four bits and shifted right arithmetically by the block's shift.
// Vector 0 begins with the four nibbles of bytes 0 and 1, which are not samples, and goes on
// with samples 0 to 3; vectors 1 to 3 hold samples 4 to 27.
inline void ScaleBlockToWords(const std::uint8_t* block, __m128i* scaled) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    const __m128i count = _mm_cvtsi32_si128(block[0] & 0x0F);
    const __m128i highNibble = _mm_set1_epi16(static_cast<short>(0xF000));
    // Every byte twice in a 16-bit word: shifted left by 12 the word has the byte's low nibble
    // (the earlier sample) on top, masked it has the high nibble (the later one).
    const __m128i doubled[2] = {_mm_unpacklo_epi8(bytes, bytes), _mm_unpackhi_epi8(bytes, bytes)};
    for (int half = 0; half < 2; ++half) {
        const __m128i earlier = _mm_slli_epi16(doubled[half], 12);
        const __m128i later = _mm_and_si128(doubled[half], highNibble);
        scaled[2 * half] = _mm_sra_epi16(_mm_unpacklo_epi16(earlier, later), count);
        scaled[2 * half + 1] = _mm_sra_epi16(_mm_unpackhi_epi16(earlier, later), count);
    }
}
#endif

// One chain: a run of blocks of one channel decoded in order.
struct Lane {
    const std::uint8_t* block;  // next block
    std::size_t blockStride;    // bytes from one block of the channel to its next
    std::uint8_t* out;          // where the next block's first sample goes
    std::size_t remaining;      // blocks still to decode
    ChannelHistory state;
    // The history before each of the first `recordCount` blocks, kept for the check of a part
    // that started from a guess.
    ChannelHistory* record;
    std::size_t recordCount;
    std::size_t decoded;
    // Blocks at the start that the lane decodes only to reach the exact history: the lane before
    // owns them and writes their samples later, so this lane need not write them at all.
    std::size_t warmUp;
};

// The 28 steps of the chains of one block. The histories are copied into locals that nothing
// else can see, so that the compiler keeps them in registers for the whole block.
template <class Arithmetic, std::size_t kVectors>
void RunChains(const typename Arithmetic::Vector* c0, const typename Arithmetic::Vector* c1,
               const typename Arithmetic::ScaledBlocks* scaled, typename Arithmetic::Vector* s1,
               typename Arithmetic::Vector* s2,
               typename Arithmetic::Vector (*values)[kSamplesPerBlock]) {
    using Vector = typename Arithmetic::Vector;
    Vector newest[kVectors];
    Vector older[kVectors];
    for (std::size_t v = 0; v < kVectors; ++v) {
        newest[v] = s1[v];
        older[v] = s2[v];
    }
#pragma GCC unroll 28
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
#pragma GCC unroll 4
        for (std::size_t v = 0; v < kVectors; ++v) {
            const Vector value =
                Arithmetic::Add(Arithmetic::Add(Arithmetic::Scaled(scaled[v], i),
                                                Arithmetic::Multiply(c1[v], older[v])),
                                Arithmetic::Multiply(c0[v], newest[v]));
            older[v] = newest[v];
            newest[v] = value;
            values[v][i] = value;
        }
    }
    for (std::size_t v = 0; v < kVectors; ++v) {
        s1[v] = newest[v];
        s2[v] = older[v];
    }
}

// The histories of `kVectors` vectors of chains, as one ChannelHistory per slot.
template <class Arithmetic, std::size_t kVectors>
struct SlotStates {
    static constexpr std::size_t kSlots = Arithmetic::kWidth * kVectors;
    ChannelHistory states[kSlots];

    SlotStates() = default;
    // The histories held in the vectors.
    SlotStates(const typename Arithmetic::Vector* s1, const typename Arithmetic::Vector* s2) {
        double newest[kSlots];
        double older[kSlots];
        for (std::size_t v = 0; v < kVectors; ++v) {
            Arithmetic::Extract(s1[v], newest + v * Arithmetic::kWidth);
            Arithmetic::Extract(s2[v], older + v * Arithmetic::kWidth);
        }
        for (std::size_t s = 0; s < kSlots; ++s) states[s] = {newest[s], older[s]};
    }

    // Puts the histories into the vectors.
    void Load(typename Arithmetic::Vector* s1, typename Arithmetic::Vector* s2) const {
        double newest[kSlots];
        double older[kSlots];
        for (std::size_t s = 0; s < kSlots; ++s) {
            newest[s] = states[s].s1;
            older[s] = states[s].s2;
        }
        for (std::size_t v = 0; v < kVectors; ++v) {
            s1[v] = Arithmetic::Make(newest + v * Arithmetic::kWidth);
            s2[v] = Arithmetic::Make(older + v * Arithmetic::kWidth);
        }
    }
};

// Whether `slots[s]` is a lane that an earlier slot already holds.
inline bool RepeatsEarlierSlot(Lane* const* slots, std::size_t s) {
    for (std::size_t earlier = 0; earlier < s; ++earlier) {
        if (slots[earlier] == slots[s]) return true;
    }
    return false;
}

// Runs the lanes of `slots` side by side for `steps` blocks each, slot k in chain k % kWidth of
// vector k / kWidth. A lane may fill more than one slot when there are fewer lanes than slots:
// its slots then compute the same values and store them to the same place. Everything the loop
// touches is copied into locals first, so that the compiler need not reload it from the lanes.
template <class Arithmetic, std::size_t kVectors, std::size_t kSampleBytes>
void RunVectors(Lane* const* slots, std::size_t steps) {
    using Vector = typename Arithmetic::Vector;
    constexpr std::size_t kWidth = Arithmetic::kWidth;
    constexpr std::size_t kSlots = kWidth * kVectors;
    const std::uint8_t* block[kSlots];
    std::uint8_t* out[kSlots];
    Vector s1[kVectors];
    Vector s2[kVectors];
    {
        SlotStates<Arithmetic, kVectors> start;
        for (std::size_t s = 0; s < kSlots; ++s) {
            block[s] = slots[s]->block;
            out[s] = slots[s]->out;
            start.states[s] = slots[s]->state;
        }
        start.Load(s1, s2);
    }

    for (std::size_t step = 0; step < steps; ++step) {
        bool anyEndBlock = false;
        bool anyRecord = false;
        for (std::size_t s = 0; s < kSlots; ++s) {
            anyRecord |= slots[s]->decoded + step < slots[s]->recordCount;
            anyEndBlock |= IsEndBlock(block[s]);
        }
        if (anyRecord || anyEndBlock) {
            SlotStates<Arithmetic, kVectors> states(s1, s2);
            for (std::size_t s = 0; s < kSlots; ++s) {
                const std::size_t index = slots[s]->decoded + step;
                if (index < slots[s]->recordCount) slots[s]->record[index] = states.states[s];
            }
            if (anyEndBlock) {
                // Rare: end blocks stand in the middle of a stream only in odd files.
                for (std::size_t s = 0; s < kSlots; ++s) {
                    DecodeOneBlock<kSampleBytes>(block[s], states.states[s], out[s]);
                }
                states.Load(s1, s2);
            }
        }
        if (!anyEndBlock) {
            Vector c0[kVectors];
            Vector c1[kVectors];
            typename Arithmetic::ScaledBlocks scaled[kVectors];
            for (std::size_t v = 0; v < kVectors; ++v) {
                c0[v] = Arithmetic::Coefficients(block + v * kWidth, 0);
                c1[v] = Arithmetic::Coefficients(block + v * kWidth, 1);
                Arithmetic::ScaleNibbles(block + v * kWidth, scaled[v]);
            }
            Vector values[kVectors][kSamplesPerBlock];
            RunChains<Arithmetic, kVectors>(c0, c1, scaled, s1, s2, values);
            for (std::size_t v = 0; v < kVectors; ++v) {
                bool warmingUp = true;
                for (std::size_t k = 0; k < kWidth; ++k) {
                    const Lane& lane = *slots[v * kWidth + k];
                    warmingUp = warmingUp && lane.decoded + step < lane.warmUp;
                }
                if (warmingUp) continue;
                Arithmetic::template Store<kSampleBytes>(values[v], out + v * kWidth);
            }
        }
        for (std::size_t s = 0; s < kSlots; ++s) {
            block[s] += slots[s]->blockStride;
            out[s] += kSamplesPerBlock * kSampleBytes;
        }
    }
    const SlotStates<Arithmetic, kVectors> end(s1, s2);
    for (std::size_t s = 0; s < kSlots; ++s) {
        Lane& lane = *slots[s];
        lane.block = block[s];
        lane.out = out[s];
        lane.state = end.states[s];
        // A lane in several slots has decoded its blocks once.
        if (RepeatsEarlierSlot(slots, s)) continue;
        lane.remaining -= steps;
        lane.decoded += steps;
    }
}

// RunVectors with `vectorCount` (1 to kVectors) vectors.
template <class Arithmetic, std::size_t kSampleBytes,
          std::size_t kVectors = kMaxLanes / Arithmetic::kWidth>
void RunSlots(Lane* const* slots, std::size_t vectorCount, std::size_t steps) {
    if constexpr (kVectors > 1) {
        if (vectorCount < kVectors) {
            return RunSlots<Arithmetic, kSampleBytes, kVectors - 1>(slots, vectorCount, steps);
        }
    }
    RunVectors<Arithmetic, kVectors, kSampleBytes>(slots, steps);
}

// Runs all lanes to their ends: side by side while all have blocks left, then the longer ones
// on their own. Within each channel a later lane never decodes a block after an earlier lane has,
// so the earlier lane's (exact) samples are the ones left in `pcm`. Lanes fill the slots in the
// order given, and the slots left over repeat them from the first. A stereo stream lists the left
// and right lane of each part next to each other, and the two always have the same number of
// blocks; so they always stand in neighbouring slots, the left one at an even slot.
template <class Arithmetic, std::size_t kSampleBytes>
void RunAllLanes(Lane* lanes, std::size_t laneCount) {
    constexpr std::size_t kWidth = Arithmetic::kWidth;
    Lane* active[kMaxLanes];
    std::size_t activeCount = 0;
    for (std::size_t l = 0; l < laneCount; ++l) {
        if (lanes[l].remaining > 0) active[activeCount++] = &lanes[l];
    }
    while (activeCount > 0) {
        std::size_t steps = active[0]->remaining;
        for (std::size_t l = 1; l < activeCount; ++l) {
            if (active[l]->remaining < steps) steps = active[l]->remaining;
        }
        const std::size_t vectorCount = (activeCount + kWidth - 1) / kWidth;
        Lane* slots[kMaxLanes];
        for (std::size_t s = 0; s < vectorCount * kWidth; ++s) slots[s] = active[s % activeCount];
        RunSlots<Arithmetic, kSampleBytes>(slots, vectorCount, steps);
        std::size_t kept = 0;
        for (std::size_t l = 0; l < activeCount; ++l) {
            if (active[l]->remaining > 0) active[kept++] = active[l];
        }
        activeCount = kept;
    }
}

// One channel of a stream: `count` blocks `blockStride` bytes apart, decoded to samples
// `kSampleBytes` apart in `pcm`.
struct Channel {
    const std::uint8_t* data;
    std::size_t blockStride;
    std::uint8_t* pcm;
    std::size_t count;
    ChannelHistory* history;
};

// Where one part of the channels begins: its blocks from `cut` on are the ones it owns; it starts
// decoding at `start` (at most `cut`).
struct PartPlan {
    std::size_t start;
    std::size_t cut;
};

// The plan of a part whose ideal cut is `ideal`, starting no earlier than `lowest`. Best is a
// short stretch of blocks, not long before the ideal cut, in which every channel has a block of
// row 0: the part starts at the stretch's first block, from a history of zeros, and has the exact
// history of every channel after its last block, where it takes over. The shortest such stretch
// wins (for mono it is a single block, and nothing is decoded twice). Without one, the part
// starts a warm-up early and takes over at the ideal cut.
PartPlan PlanPart(const Channel* channels, std::size_t channelCount, std::size_t ideal,
                  std::size_t lowest) {
    constexpr std::size_t kNone = ~std::size_t{0};
    // For each channel, its nearest block of row 0 at or after `at`.
    std::size_t nearest[2] = {kNone, kNone};
    bool found = false;
    PartPlan best{};
    for (std::size_t back = 0; back < kRowZeroSearchBlocks && ideal >= lowest + back; ++back) {
        const std::size_t at = ideal - back;
        bool freshHere = false;
        std::size_t last = at;
        for (std::size_t c = 0; c < channelCount; ++c) {
            if (StartsAfresh(channels[c].data + at * channels[c].blockStride)) {
                nearest[c] = at;
                freshHere = true;
            }
            last = nearest[c] == kNone || last == kNone ? kNone
                   : last > nearest[c]                  ? last
                                                        : nearest[c];
        }
        // A stretch is worth trying only from a block of row 0: one starting later is shorter.
        if (!freshHere || last == kNone) continue;
        if (!found || last - at < best.cut - 1 - best.start) {
            best = {at, last + 1};
            found = true;
            if (last == at) break;
        }
    }
    if (found) return best;
    return {ideal > lowest + kWarmUpBlocks ? ideal - kWarmUpBlocks : lowest, ideal};
}

// Cuts the channels, all at the same blocks, into `partCount` parts. Part 0 starts at block 0
// with the exact history; PlanPart places the others.
void PlanParts(const Channel* channels, std::size_t channelCount, std::size_t partCount,
               PartPlan* plans) {
    const std::size_t count = channels[0].count;
    plans[0] = {0, 0};
    for (std::size_t p = 1; p < partCount; ++p) {
        const std::size_t ideal = count * p / partCount;
        plans[p] = PlanPart(channels, channelCount, ideal, plans[p - 1].cut + 1);
    }
}

// Makes every part of one channel after the first exact; its lanes are `laneStride` apart. The
// part before hands on its exact history at the cut; from there blocks are decoded one at a time,
// overwriting the guessed samples, until the history equals the one the guessed part had at the
// same block. From then on the guessed part's samples and its final history are exact.
template <std::size_t kSampleBytes>
void CheckParts(const Channel& channel, const PartPlan* plans, const Lane* lanes,
                std::size_t laneStride, std::size_t partCount) {
    ChannelHistory exact = lanes[0].state;
    for (std::size_t p = 1; p < partCount; ++p) {
        const Lane& lane = lanes[p * laneStride];
        const std::size_t end = p + 1 < partCount ? plans[p + 1].cut : channel.count;
        std::size_t at = plans[p].cut;
        std::size_t index = at - plans[p].start;
        for (;;) {
            if (index < lane.recordCount && SameBits(lane.record[index], exact)) {
                exact = lane.state;
                break;
            }
            if (at == end) break;
            DecodeOneBlock<kSampleBytes>(channel.data + at * channel.blockStride, exact,
                                         channel.pcm + at * kSamplesPerBlock * kSampleBytes);
            ++at;
            ++index;
        }
    }
    channel.history->s1 = exact.s1;
    channel.history->s2 = exact.s2;
}

// Decodes one or two channels, each cut into parts so that up to eight chains run side by side.
// The lanes are listed part by part, the channels of a part next to each other.
template <class Arithmetic, std::size_t kSampleBytes>
void DecodeChannels(const Channel* channels, std::size_t channelCount) {
    // Both channels of a stereo stream have the same number of blocks.
    std::size_t partCount = kMaxLanes / channelCount;
    while (partCount > 1 && channels[0].count / partCount < kMinPartBlocks) --partCount;

    PartPlan plans[kMaxLanes];
    PlanParts(channels, channelCount, partCount, plans);
    Lane lanes[kMaxLanes];
    ChannelHistory records[kMaxLanes][kRecordSize];
    for (std::size_t p = 0; p < partCount; ++p) {
        const std::size_t start = plans[p].start;
        const std::size_t end = p + 1 < partCount ? plans[p + 1].cut : channels[0].count;
        for (std::size_t c = 0; c < channelCount; ++c) {
            const Channel& channel = channels[c];
            const std::size_t l = p * channelCount + c;
            Lane& lane = lanes[l];
            lane.block = channel.data + start * channel.blockStride;
            lane.blockStride = channel.blockStride;
            lane.out = channel.pcm + start * kSamplesPerBlock * kSampleBytes;
            lane.remaining = end - start;
            lane.state = p == 0 ? *channel.history : ChannelHistory{};
            lane.record = records[l];
            // Only histories of blocks the lane decodes are kept.
            lane.recordCount = p == 0 ? 0 : (end - start < kRecordSize ? end - start : kRecordSize);
            lane.decoded = 0;
            lane.warmUp = plans[p].cut - start;
        }
    }
    RunAllLanes<Arithmetic, kSampleBytes>(lanes, channelCount * partCount);
    for (std::size_t c = 0; c < channelCount; ++c) {
        CheckParts<kSampleBytes>(channels[c], plans, lanes + c, channelCount, partCount);
    }
}

template <class Arithmetic>
void DecodeMono(const std::uint8_t* data, std::size_t blockCount, ChannelHistory& history,
                std::uint8_t* pcm) {
    const Channel channel{data, kAdpcmBlockSize, pcm, blockCount, &history};
    DecodeChannels<Arithmetic, 2>(&channel, 1);
}

template <class Arithmetic>
void DecodeStereo(const std::uint8_t* data, std::size_t pairCount, ChannelHistory& left,
                  ChannelHistory& right, std::uint8_t* pcm) {
    if (pairCount == 0) return;  // `pcm` may then be null, and not even pcm + 2 may be formed
    const Channel channels[2] = {
        {data, 2 * kAdpcmBlockSize, pcm, pairCount, &left},
        {data + kAdpcmBlockSize, 2 * kAdpcmBlockSize, pcm + 2, pairCount, &right},
    };
    DecodeChannels<Arithmetic, 4>(channels, 2);
    // A right end block silences its whole frame, the left samples included.
    for (std::size_t pair = 0; pair < pairCount; ++pair) {
        if (!IsEndBlock(data + (2 * pair + 1) * kAdpcmBlockSize)) continue;
        std::memset(pcm + pair * 2 * kPcmBytesPerBlock, 0, 2 * kPcmBytesPerBlock);
    }
}

}  // namespace
}  // namespace sorvik
