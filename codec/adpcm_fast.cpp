#include "codec/adpcm_fast.h"

#include <algorithm>
#include <cstring>

#include "codec/adpcm_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sorvik {
namespace {

using adpcm_detail::kCoefficients;
using adpcm_detail::kScale;
using adpcm_detail::NarrowToSample;
using adpcm_detail::RowOf;
using adpcm_detail::StoreSample;

// Chains decoded side by side, two to a register. Eight keep the processor busy while each chain
// waits for its multiply and add; with four, the chains' latency shows.
constexpr std::size_t kMaxLanes = 8;
constexpr std::size_t kMaxPairs = kMaxLanes / 2;
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

struct State {
    double s1;
    double s2;
};

// Two histories are the same when their bits are; then so is everything decoded after them.
bool SameBits(const State& a, const State& b) { return std::memcmp(&a, &b, sizeof(State)) == 0; }

bool IsEndBlock(const std::uint8_t* block) { return block[1] == kEndBlockFlag; }

// A block that ignores the history: decoded with row 0 and not an end block.
bool StartsAfresh(const std::uint8_t* block) { return !IsEndBlock(block) && RowOf(block[0]) == 0; }

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

// The arithmetic of two chains at once, one in the low and one in the high half of a pair. Each
// half is computed exactly as the plain decoder computes its one value: every product and sum
// rounded on its own, in the same order. Two kinds share this interface: the portable one below,
// and, on processors with SSE2, one whose pairs are registers (whose packed multiplies and adds
// round each half exactly like the scalar instructions).
//
// Besides the arithmetic, each kind provides the two steps around it: ScaleNibbles, which puts
// the 28 scaled nibbles of two blocks into a ScaledBlocks (read back as pairs with Scaled), and
// Store, the 28 values of two blocks narrowed to samples. Store's `kSampleBytes` is 2 when the two
// blocks are separate runs of mono samples and 4 when they are the left and right channel of the
// same stereo frames (`high` is `low` + 2).
struct PortableArithmetic {
    struct Pair {
        double low;
        double high;
    };

    static Pair Make(double low, double high) { return {low, high}; }
    static double Low(Pair pair) { return pair.low; }
    static double High(Pair pair) { return pair.high; }
    static Pair Add(Pair a, Pair b) { return {a.low + b.low, a.high + b.high}; }
    static Pair Multiply(Pair a, Pair b) { return {a.low * b.low, a.high * b.high}; }

    struct ScaledBlocks {
        Pair values[kSamplesPerBlock];
    };
    static Pair Scaled(const ScaledBlocks& scaled, std::size_t i) { return scaled.values[i]; }

    static void ScaleNibbles(const std::uint8_t* low, const std::uint8_t* high,
                             ScaledBlocks& scaled) {
        const double* lowScale = kScale.values[low[0] & 0x0F];
        const double* highScale = kScale.values[high[0] & 0x0F];
        for (std::size_t j = 0; j < kSamplesPerBlock / 2; ++j) {
            scaled.values[2 * j] = {lowScale[low[2 + j] & 0x0F], highScale[high[2 + j] & 0x0F]};
            scaled.values[2 * j + 1] = {lowScale[low[2 + j] >> 4], highScale[high[2 + j] >> 4]};
        }
    }

    template <std::size_t kSampleBytes>
    static void Store(const Pair* values, std::uint8_t* low, std::uint8_t* high) {
        for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
            StoreSample(low + i * kSampleBytes, NarrowToSample(values[i].low));
            StoreSample(high + i * kSampleBytes, NarrowToSample(values[i].high));
        }
    }
};

#if defined(__SSE2__)
struct Sse2Arithmetic {
    using Pair = __m128d;

    static Pair Make(double low, double high) { return _mm_set_pd(high, low); }
    static double Low(Pair pair) { return _mm_cvtsd_f64(pair); }
    static double High(Pair pair) { return _mm_cvtsd_f64(_mm_unpackhi_pd(pair, pair)); }
    static Pair Add(Pair a, Pair b) { return _mm_add_pd(a, b); }
    static Pair Multiply(Pair a, Pair b) { return _mm_mul_pd(a, b); }

    // The nibbles of a block as 16-bit integers in sample order, scaled as the table scales
    // them: each nibble is put in the top four bits and shifted right arithmetically by the
    // block's shift. Vector 0 begins with the four nibbles of bytes 0 and 1, which are not
    // samples, and goes on with samples 0 to 3; vectors 1 to 3 hold samples 4 to 27.
    static void ScaleBlock(const std::uint8_t* block, __m128i* scaled) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        const __m128i count = _mm_cvtsi32_si128(block[0] & 0x0F);
        const __m128i highNibble = _mm_set1_epi16(static_cast<short>(0xF000));
        // Every byte twice in a 16-bit word: shifted left by 12 the word has the byte's low
        // nibble (the earlier sample) on top, masked it has the high nibble (the later one).
        const __m128i doubled[2] = {_mm_unpacklo_epi8(bytes, bytes),
                                    _mm_unpackhi_epi8(bytes, bytes)};
        for (int half = 0; half < 2; ++half) {
            const __m128i earlier = _mm_slli_epi16(doubled[half], 12);
            const __m128i later = _mm_and_si128(doubled[half], highNibble);
            scaled[2 * half] = _mm_sra_epi16(_mm_unpacklo_epi16(earlier, later), count);
            scaled[2 * half + 1] = _mm_sra_epi16(_mm_unpackhi_epi16(earlier, later), count);
        }
    }

    // Sign-extends four 16-bit values, the lower (`upper` false) or upper half of `words`, to
    // 32 bits.
    static __m128i Widen(__m128i words, bool upper) {
        const __m128i twice =
            upper ? _mm_unpackhi_epi16(words, words) : _mm_unpacklo_epi16(words, words);
        return _mm_srai_epi32(twice, 16);
    }

    // Kept as 32-bit integers, the two samples of a pair side by side, and converted to doubles
    // as the chains read them: the conversion is exact, and this way costs the fewest
    // instructions.
    struct ScaledBlocks {
        __m128i values[kSamplesPerBlock / 2];  // samples 2j and 2j + 1, low and high
    };
    static Pair Scaled(const ScaledBlocks& scaled, std::size_t i) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(scaled.values) + 8 * i;
        return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
    }

    static void ScaleNibbles(const std::uint8_t* low, const std::uint8_t* high,
                             ScaledBlocks& scaled) {
        __m128i lows[4];
        __m128i highs[4];
        ScaleBlock(low, lows);
        ScaleBlock(high, highs);
        // Samples 0 to 3 are the upper half of vector 0.
        const __m128i first = _mm_unpackhi_epi16(lows[0], highs[0]);
        scaled.values[0] = Widen(first, false);
        scaled.values[1] = Widen(first, true);
        for (std::size_t v = 1; v < 4; ++v) {
            // Samples 8v - 4 to 8v - 1, then 8v to 8v + 3, of the low and high block in turns.
            const __m128i earlier = _mm_unpacklo_epi16(lows[v], highs[v]);
            const __m128i later = _mm_unpackhi_epi16(lows[v], highs[v]);
            scaled.values[4 * v - 2] = Widen(earlier, false);
            scaled.values[4 * v - 1] = Widen(earlier, true);
            scaled.values[4 * v] = Widen(later, false);
            scaled.values[4 * v + 1] = Widen(later, true);
        }
    }

    // NarrowToSample on both halves. Only the upper bound needs the comparison: below it, the
    // conversion truncates toward zero, gives the most negative 32-bit integer for anything
    // below -2^31, and the packing saturates to -32768 from there. Equal to NarrowToSample for
    // every value but a NaN, which the history never holds.
    static __m128i Narrow(Pair value) {
        const Pair biased = _mm_add_pd(value, _mm_set1_pd(0.5));
        return _mm_cvttpd_epi32(_mm_min_pd(biased, _mm_set1_pd(32767.0)));
    }

    // Values 0 to 3 of two chains narrowed: the low chain's four samples and the high chain's,
    // each as 32-bit integers.
    static void NarrowFour(const Pair* values, __m128i& lows, __m128i& highs) {
        // low 0, low 1, high 0, high 1; and the same for values 2 and 3
        const __m128i first = _mm_unpacklo_epi32(Narrow(values[0]), Narrow(values[1]));
        const __m128i second = _mm_unpacklo_epi32(Narrow(values[2]), Narrow(values[3]));
        lows = _mm_unpacklo_epi64(first, second);
        highs = _mm_unpackhi_epi64(first, second);
    }

    template <std::size_t kSampleBytes>
    static void Store(const Pair* values, std::uint8_t* low, std::uint8_t* high) {
        if constexpr (kSampleBytes == 4) {
            // Left and right of four frames at a time, in frame order.
            for (std::size_t i = 0; i < kSamplesPerBlock; i += 4) {
                const __m128i frames = _mm_packs_epi32(
                    _mm_unpacklo_epi64(Narrow(values[i]), Narrow(values[i + 1])),
                    _mm_unpacklo_epi64(Narrow(values[i + 2]), Narrow(values[i + 3])));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(low + 4 * i), frames);
            }
        } else {
            // Eight samples of each chain at a time, then the last four.
            __m128i lows[2];
            __m128i highs[2];
            for (std::size_t i = 0; i + 8 <= kSamplesPerBlock; i += 8) {
                NarrowFour(values + i, lows[0], highs[0]);
                NarrowFour(values + i + 4, lows[1], highs[1]);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(low + 2 * i),
                                 _mm_packs_epi32(lows[0], lows[1]));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(high + 2 * i),
                                 _mm_packs_epi32(highs[0], highs[1]));
            }
            constexpr std::size_t kLast = kSamplesPerBlock - 4;
            NarrowFour(values + kLast, lows[0], highs[0]);
            const __m128i both = _mm_packs_epi32(lows[0], highs[0]);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(low + 2 * kLast), both);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(high + 2 * kLast),
                             _mm_unpackhi_epi64(both, both));
        }
    }
};
#endif

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
    // Blocks at the start that the lane decodes only to reach the exact history: the lane before
    // owns them and writes their samples later, so this lane need not write them at all.
    std::size_t warmUp;
};

// The 28 steps of the chains of one block. The histories are copied into locals that nothing
// else can see, so that the compiler keeps them in registers for the whole block.
template <class Arithmetic, std::size_t kPairs>
void RunChains(const typename Arithmetic::Pair* c0, const typename Arithmetic::Pair* c1,
               const typename Arithmetic::ScaledBlocks* scaled, typename Arithmetic::Pair* s1,
               typename Arithmetic::Pair* s2,
               typename Arithmetic::Pair (*values)[kSamplesPerBlock]) {
    using Pair = typename Arithmetic::Pair;
    Pair newest[kPairs];
    Pair older[kPairs];
    for (std::size_t p = 0; p < kPairs; ++p) {
        newest[p] = s1[p];
        older[p] = s2[p];
    }
#pragma GCC unroll 28
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
#pragma GCC unroll 4
        for (std::size_t p = 0; p < kPairs; ++p) {
            const Pair value =
                Arithmetic::Add(Arithmetic::Add(Arithmetic::Scaled(scaled[p], i),
                                                Arithmetic::Multiply(c1[p], older[p])),
                                Arithmetic::Multiply(c0[p], newest[p]));
            older[p] = newest[p];
            newest[p] = value;
            values[p][i] = value;
        }
    }
    for (std::size_t p = 0; p < kPairs; ++p) {
        s1[p] = newest[p];
        s2[p] = older[p];
    }
}

// Runs the lanes of `slots` side by side for `steps` blocks each, slots 2p and 2p + 1 in the two
// halves of pair p. A slot may repeat the one before it when a lane has no partner: both halves
// then compute the same values and store them to the same place. Everything the loop touches is
// copied into locals first, so that the compiler need not reload it from the lanes.
template <class Arithmetic, std::size_t kPairs, std::size_t kSampleBytes>
void RunPairs(Lane* const* slots, std::size_t steps) {
    using Pair = typename Arithmetic::Pair;
    constexpr std::size_t kSlots = 2 * kPairs;
    const std::uint8_t* block[kSlots];
    std::uint8_t* out[kSlots];
    Pair s1[kPairs];
    Pair s2[kPairs];
    for (std::size_t p = 0; p < kPairs; ++p) {
        const Lane& low = *slots[2 * p];
        const Lane& high = *slots[2 * p + 1];
        block[2 * p] = low.block;
        block[2 * p + 1] = high.block;
        out[2 * p] = low.out;
        out[2 * p + 1] = high.out;
        s1[p] = Arithmetic::Make(low.state.s1, high.state.s1);
        s2[p] = Arithmetic::Make(low.state.s2, high.state.s2);
    }
    const auto stateOf = [&](std::size_t slot) {
        const std::size_t p = slot / 2;
        return slot % 2 == 0 ? State{Arithmetic::Low(s1[p]), Arithmetic::Low(s2[p])}
                             : State{Arithmetic::High(s1[p]), Arithmetic::High(s2[p])};
    };

    for (std::size_t step = 0; step < steps; ++step) {
        bool anyEndBlock = false;
        for (std::size_t s = 0; s < kSlots; ++s) {
            Lane& lane = *slots[s];
            const std::size_t index = lane.decoded + step;
            if (index < lane.recordCount) lane.record[index] = stateOf(s);
            anyEndBlock |= IsEndBlock(block[s]);
        }
        if (anyEndBlock) {
            // Rare: end blocks stand in the middle of a stream only in odd files.
            for (std::size_t p = 0; p < kPairs; ++p) {
                State low = stateOf(2 * p);
                State high = stateOf(2 * p + 1);
                DecodeOneBlock<kSampleBytes>(block[2 * p], low, out[2 * p]);
                DecodeOneBlock<kSampleBytes>(block[2 * p + 1], high, out[2 * p + 1]);
                s1[p] = Arithmetic::Make(low.s1, high.s1);
                s2[p] = Arithmetic::Make(low.s2, high.s2);
            }
        } else {
            Pair c0[kPairs];
            Pair c1[kPairs];
            typename Arithmetic::ScaledBlocks scaled[kPairs];
            for (std::size_t p = 0; p < kPairs; ++p) {
                const double* low = kCoefficients[RowOf(block[2 * p][0])];
                const double* high = kCoefficients[RowOf(block[2 * p + 1][0])];
                c0[p] = Arithmetic::Make(low[0], high[0]);
                c1[p] = Arithmetic::Make(low[1], high[1]);
                Arithmetic::ScaleNibbles(block[2 * p], block[2 * p + 1], scaled[p]);
            }
            Pair values[kPairs][kSamplesPerBlock];
            RunChains<Arithmetic, kPairs>(c0, c1, scaled, s1, s2, values);
            for (std::size_t p = 0; p < kPairs; ++p) {
                const bool warmingUp = slots[2 * p]->decoded + step < slots[2 * p]->warmUp &&
                                       slots[2 * p + 1]->decoded + step < slots[2 * p + 1]->warmUp;
                if (warmingUp) continue;
                Arithmetic::template Store<kSampleBytes>(values[p], out[2 * p], out[2 * p + 1]);
            }
        }
        for (std::size_t s = 0; s < kSlots; ++s) {
            block[s] += slots[s]->blockStride;
            out[s] += kSamplesPerBlock * kSampleBytes;
        }
    }
    for (std::size_t s = 0; s < kSlots; ++s) {
        Lane& lane = *slots[s];
        lane.block = block[s];
        lane.out = out[s];
        lane.state = stateOf(s);
        // A repeated slot is the same lane: count its blocks once.
        if (s % 2 == 1 && slots[s] == slots[s - 1]) continue;
        lane.remaining -= steps;
        lane.decoded += steps;
    }
}

template <class Arithmetic, std::size_t kSampleBytes>
void RunSlots(Lane* const* slots, std::size_t pairCount, std::size_t steps) {
    static_assert(kMaxPairs == 4, "one case per number of pairs");
    switch (pairCount) {
        case 1:
            return RunPairs<Arithmetic, 1, kSampleBytes>(slots, steps);
        case 2:
            return RunPairs<Arithmetic, 2, kSampleBytes>(slots, steps);
        case 3:
            return RunPairs<Arithmetic, 3, kSampleBytes>(slots, steps);
        default:
            return RunPairs<Arithmetic, 4, kSampleBytes>(slots, steps);
    }
}

// Runs all lanes to their ends: side by side while all have blocks left, then the longer ones
// on their own. Within each channel a later lane never decodes a block after an earlier lane has,
// so the earlier lane's (exact) samples are the ones left in `pcm`. Lanes are paired in the order
// given; a stereo stream lists the left and right lane of each part next to each other, and the
// two always have the same number of blocks, so they stay partners to the end.
template <class Arithmetic, std::size_t kSampleBytes>
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
        Lane* slots[kMaxLanes];
        std::copy(active, active + activeCount, slots);
        if (activeCount % 2 == 1) slots[activeCount] = active[activeCount - 1];
        RunSlots<Arithmetic, kSampleBytes>(slots, (activeCount + 1) / 2, steps);
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
            last = nearest[c] == kNone || last == kNone ? kNone : std::max(last, nearest[c]);
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
    State exact = lanes[0].state;
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
    State records[kMaxLanes][kRecordSize];
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
            lane.state = p == 0 ? State{channel.history->s1, channel.history->s2} : State{0, 0};
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

#if defined(__SSE2__)
using FastestArithmetic = Sse2Arithmetic;
#else
using FastestArithmetic = PortableArithmetic;
#endif

}  // namespace

void DecodeMonoBlocksToPcm(const std::uint8_t* data, std::size_t blockCount,
                           ChannelHistory& history, std::uint8_t* pcm) {
    DecodeMono<FastestArithmetic>(data, blockCount, history, pcm);
}

void DecodeStereoPairsToPcm(const std::uint8_t* data, std::size_t pairCount, ChannelHistory& left,
                            ChannelHistory& right, std::uint8_t* pcm) {
    DecodeStereo<FastestArithmetic>(data, pairCount, left, right, pcm);
}

namespace adpcm_detail {

void DecodeMonoBlocksPortable(const std::uint8_t* data, std::size_t blockCount,
                              ChannelHistory& history, std::uint8_t* pcm) {
    DecodeMono<PortableArithmetic>(data, blockCount, history, pcm);
}

void DecodeStereoPairsPortable(const std::uint8_t* data, std::size_t pairCount,
                               ChannelHistory& left, ChannelHistory& right, std::uint8_t* pcm) {
    DecodeStereo<PortableArithmetic>(data, pairCount, left, right, pcm);
}

}  // namespace adpcm_detail
}  // namespace sorvik
