#include "codec/adpcm_fast.h"

#include <cstring>

#include "codec/adpcm_tables.h"

namespace sorvik {
namespace {

using adpcm_detail::kCoefficients;
using adpcm_detail::kScale;
using adpcm_detail::NarrowToSample;
using adpcm_detail::RowOf;
using adpcm_detail::StoreSample;

// Chains decoded side by side. Four keep the floating-point units busy; more only add pressure on
// the registers.
constexpr std::size_t kMaxLanes = 4;
// A later part of a channel starts at a block of row 0 when there is one this many blocks before
// the ideal cut or closer...
constexpr std::size_t kRowZeroSearchBlocks = 64;
// ...and otherwise this many blocks early, from a history of zeros.
constexpr std::size_t kWarmUpBlocks = 24;
// Histories a guessed part keeps from the cut on, for the check against the exact one.
constexpr std::size_t kCheckedBlocks = 40;
constexpr std::size_t kRecordSize = kWarmUpBlocks + kCheckedBlocks;
// A channel is cut only into parts at least this long, so guessing stays a small share of the
// work.
constexpr std::size_t kMinPartBlocks = 512;

struct State {
    double s1;
    double s2;
};

// Two histories are the same when their bits are; then so is everything decoded after them.
bool SameBits(const State& a, const State& b) { return std::memcmp(&a, &b, sizeof(State)) == 0; }

bool IsEndBlock(const std::uint8_t* block) { return block[1] == kEndBlockFlag; }

// A block that ignores the history: decoded with row 0 and not an end block.
bool StartsAfresh(const std::uint8_t* block) { return !IsEndBlock(block) && RowOf(block[0]) == 0; }

// One chain: a run of blocks of one channel decoded in order.
struct Lane {
    const std::uint8_t* block;  // next block
    std::size_t blockStride;    // bytes from one block of the channel to its next
    std::uint8_t* out;          // where the next block's first sample goes
    std::size_t remaining;      // blocks still to decode
    State state;
    // The history before each of the first `recordCount` blocks, kept for the check of a part
    // that started from a guess.
    State* record;
    std::size_t recordCount;
    std::size_t decoded;
};

// Decodes one block the plain way; used where chains cannot run side by side.
template <std::size_t kSampleBytes>
void DecodeOneBlock(const std::uint8_t* block, State& state, std::uint8_t* out) {
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

// Runs `lanes` side by side for `steps` blocks each. Everything the loop touches is copied into
// locals first, so the compiler keeps the histories in registers and unrolls the 28 samples.
template <std::size_t kLaneCount, std::size_t kSampleBytes>
void RunLanes(Lane* const* lanes, std::size_t steps) {
    const std::uint8_t* block[kLaneCount];
    std::uint8_t* out[kLaneCount];
    double s1[kLaneCount];
    double s2[kLaneCount];
    for (std::size_t l = 0; l < kLaneCount; ++l) {
        block[l] = lanes[l]->block;
        out[l] = lanes[l]->out;
        s1[l] = lanes[l]->state.s1;
        s2[l] = lanes[l]->state.s2;
    }
    for (std::size_t step = 0; step < steps; ++step) {
        bool anyEndBlock = false;
        for (std::size_t l = 0; l < kLaneCount; ++l) {
            Lane& lane = *lanes[l];
            const std::size_t index = lane.decoded + step;
            if (index < lane.recordCount) lane.record[index] = {s1[l], s2[l]};
            anyEndBlock |= IsEndBlock(block[l]);
        }
        if (anyEndBlock) {
            // Rare: end blocks stand in the middle of a stream only in odd files.
            for (std::size_t l = 0; l < kLaneCount; ++l) {
                State state{s1[l], s2[l]};
                DecodeOneBlock<kSampleBytes>(block[l], state, out[l]);
                s1[l] = state.s1;
                s2[l] = state.s2;
            }
        } else {
            double c0[kLaneCount];
            double c1[kLaneCount];
            double scaled[kSamplesPerBlock][kLaneCount];
            for (std::size_t l = 0; l < kLaneCount; ++l) {
                const unsigned row = RowOf(block[l][0]);
                c0[l] = kCoefficients[row][0];
                c1[l] = kCoefficients[row][1];
                const double* scale = kScale.values[block[l][0] & 0x0F];
                for (std::size_t j = 0; j < kSamplesPerBlock / 2; ++j) {
                    const std::uint8_t packed = block[l][2 + j];
                    scaled[2 * j][l] = scale[packed & 0x0F];
                    scaled[2 * j + 1][l] = scale[packed >> 4];
                }
            }
            double values[kLaneCount][kSamplesPerBlock];
#pragma GCC unroll 28
            for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
#pragma GCC unroll 4
                for (std::size_t l = 0; l < kLaneCount; ++l) {
                    const double value = (scaled[i][l] + c1[l] * s2[l]) + c0[l] * s1[l];
                    s2[l] = s1[l];
                    s1[l] = value;
                    values[l][i] = value;
                }
            }
            for (std::size_t l = 0; l < kLaneCount; ++l) {
                for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
                    StoreSample(out[l] + i * kSampleBytes, NarrowToSample(values[l][i]));
                }
            }
        }
        for (std::size_t l = 0; l < kLaneCount; ++l) {
            block[l] += lanes[l]->blockStride;
            out[l] += kSamplesPerBlock * kSampleBytes;
        }
    }
    for (std::size_t l = 0; l < kLaneCount; ++l) {
        Lane& lane = *lanes[l];
        lane.block = block[l];
        lane.out = out[l];
        lane.state = {s1[l], s2[l]};
        lane.remaining -= steps;
        lane.decoded += steps;
    }
}

template <std::size_t kSampleBytes>
void RunLaneGroup(Lane* const* lanes, std::size_t laneCount, std::size_t steps) {
    switch (laneCount) {
        case 1:
            return RunLanes<1, kSampleBytes>(lanes, steps);
        case 2:
            return RunLanes<2, kSampleBytes>(lanes, steps);
        case 3:
            return RunLanes<3, kSampleBytes>(lanes, steps);
        default:
            return RunLanes<4, kSampleBytes>(lanes, steps);
    }
}

// Runs all lanes to their ends: side by side while all have blocks left, then the longer ones
// on their own. Within each channel a later lane never decodes a block after an earlier lane has,
// so the earlier lane's (exact) samples are the ones left in `pcm`.
template <std::size_t kSampleBytes>
void RunAllLanes(Lane* lanes, std::size_t laneCount) {
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
        RunLaneGroup<kSampleBytes>(active, activeCount, steps);
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

// Where one part of a channel begins: its blocks from `cut` on are the ones it owns; it starts
// decoding at `start` (at most `cut`).
struct PartPlan {
    std::size_t start;
    std::size_t cut;
};

// Cuts a channel into `partCount` parts. Part 0 starts at block 0 with the exact history; a later
// part starts right after a block of row 0 near its ideal cut, or a few blocks early otherwise.
void PlanParts(const Channel& channel, std::size_t partCount, PartPlan* plans) {
    plans[0] = {0, 0};
    for (std::size_t p = 1; p < partCount; ++p) {
        const std::size_t ideal = channel.count * p / partCount;
        const std::size_t lowest = plans[p - 1].cut + 1;
        PartPlan plan{ideal > kWarmUpBlocks ? ideal - kWarmUpBlocks : 0, ideal};
        if (plan.start < lowest) plan.start = lowest;
        for (std::size_t back = 0; back < kRowZeroSearchBlocks && ideal >= lowest + back; ++back) {
            const std::size_t at = ideal - back;
            if (StartsAfresh(channel.data + at * channel.blockStride)) {
                plan = {at, at + 1};
                break;
            }
        }
        plans[p] = plan;
    }
}

// Makes every part after the first exact. The part before hands on its exact history at the cut;
// from there blocks are decoded one at a time, overwriting the guessed samples, until the history
// equals the one the guessed part had at the same block. From then on the guessed part's samples
// and its final history are exact.
template <std::size_t kSampleBytes>
void CheckParts(const Channel& channel, const PartPlan* plans, Lane* lanes, std::size_t partCount) {
    State exact = lanes[0].state;
    for (std::size_t p = 1; p < partCount; ++p) {
        const Lane& lane = lanes[p];
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

// Decodes one or two channels, each cut into parts so that up to four chains run side by side.
template <std::size_t kSampleBytes>
void DecodeChannels(const Channel* channels, std::size_t channelCount) {
    // Both channels of a stereo stream have the same number of blocks.
    std::size_t partCount = kMaxLanes / channelCount;
    while (partCount > 1 && channels[0].count / partCount < kMinPartBlocks) --partCount;

    Lane lanes[kMaxLanes];
    PartPlan plans[kMaxLanes];
    State records[kMaxLanes][kRecordSize];
    for (std::size_t c = 0; c < channelCount; ++c) {
        const Channel& channel = channels[c];
        PartPlan* channelPlans = plans + c * partCount;
        PlanParts(channel, partCount, channelPlans);
        for (std::size_t p = 0; p < partCount; ++p) {
            const std::size_t start = channelPlans[p].start;
            const std::size_t end = p + 1 < partCount ? channelPlans[p + 1].cut : channel.count;
            Lane& lane = lanes[c * partCount + p];
            lane.block = channel.data + start * channel.blockStride;
            lane.blockStride = channel.blockStride;
            lane.out = channel.pcm + start * kSamplesPerBlock * kSampleBytes;
            lane.remaining = end - start;
            lane.state = p == 0 ? State{channel.history->s1, channel.history->s2} : State{0, 0};
            lane.record = records[c * partCount + p];
            // Only histories of blocks the lane decodes are kept.
            lane.recordCount = p == 0 ? 0 : (end - start < kRecordSize ? end - start : kRecordSize);
            lane.decoded = 0;
        }
    }
    RunAllLanes<kSampleBytes>(lanes, channelCount * partCount);
    for (std::size_t c = 0; c < channelCount; ++c) {
        CheckParts<kSampleBytes>(channels[c], plans + c * partCount, lanes + c * partCount,
                                 partCount);
    }
}

}  // namespace

void DecodeMonoBlocksToPcm(const std::uint8_t* data, std::size_t blockCount,
                           ChannelHistory& history, std::uint8_t* pcm) {
    const Channel channel{data, kAdpcmBlockSize, pcm, blockCount, &history};
    DecodeChannels<2>(&channel, 1);
}

void DecodeStereoPairsToPcm(const std::uint8_t* data, std::size_t pairCount, ChannelHistory& left,
                            ChannelHistory& right, std::uint8_t* pcm) {
    const Channel channels[2] = {
        {data, 2 * kAdpcmBlockSize, pcm, pairCount, &left},
        {data + kAdpcmBlockSize, 2 * kAdpcmBlockSize, pcm + 2, pairCount, &right},
    };
    DecodeChannels<4>(channels, 2);
    // A right end block silences its whole frame, the left samples included.
    for (std::size_t pair = 0; pair < pairCount; ++pair) {
        if (!IsEndBlock(data + (2 * pair + 1) * kAdpcmBlockSize)) continue;
        std::memset(pcm + pair * 2 * kPcmBytesPerBlock, 0, 2 * kPcmBytesPerBlock);
    }
}

}  // namespace sorvik
