#pragma once

// The encoder's search for the nibbles of one block (see adpcm_encoder.h for what it does),
// written once over a vector of floats: four to a register where the processor has SSE, or
// plain floats (one beam per vector), and eight to an AVX2 register (two beams per vector), in
// a translation unit of its own compiled for AVX2. Every lane goes through the same IEEE
// single-precision operations in every kind, so all choose the same nibbles.
//
// Private to adpcm_encoder.cpp and adpcm_search_avx2.cpp. Everything here but the types and the
// entry points declared first has internal linkage, on purpose: each of those translation units
// gets its own copy compiled for its own instruction set.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/adpcm.h"
#include "codec/adpcm_fast.h"
#include "codec/adpcm_tables.h"

namespace sorvik::adpcm_detail {

constexpr int kMaxShift = 12;
// Candidates (predictor and shift pairs) searched per block, at most; and those that estimate
// the next block (see LookAhead).
constexpr int kPairsSearched = 5;
constexpr int kPairsLookedAt = 4;

// What the search of one block is given: its samples and the next block's (as floats), the
// decoder's history before it, and the candidates most promising first. (The search finds those
// of the next block itself.)
struct SearchTask {
    const float* target = nullptr;  // 28 samples
    const float* next = nullptr;    // 28 samples, or null when there is no next block
    ChannelHistory history;
    double largestMiss = 0.0;  // the largest error of a sample so far
    int pairs = 0;
    int predictors[kPairsSearched];
    int shifts[kPairsSearched];
    float trialErrors[kPairsSearched];  // each one's squared error in a greedy trial encoding
};

// What it chooses.
struct SearchChoice {
    int predictor = 0;
    int shift = 0;
    std::int8_t nibbles[kSamplesPerBlock];
};

// The search of the AVX2 translation unit.
void SearchBlockAvx2(const SearchTask& task, SearchChoice& choice);
// What the input itself says about one predictor for the block: its residual predicted from
// the input (from `y1` and `y2` for the first two samples), the finest shift at which that fits
// the nibbles, and its energy.
struct Estimate {
    int predictor;
    int shift;
    bool fits;  // false when even the coarsest shift is too fine
    float energy;
    float peak;  // the largest residual, in units
};

// The estimates of the AVX2 translation unit (see EstimatePredictors).
bool EstimatePredictorsAvx2(const float* target, float y1, float y2, Estimate* out);
// Trial encodings per block: every predictor at two shifts.
constexpr int kTrialCount = 10;
// The trial encodings of the AVX2 translation unit (see TrialErrors).
void TrialErrorsAvx2(const float* target, float y1, float y2, const Estimate* estimates,
                     float* errors);

}  // namespace sorvik::adpcm_detail

namespace sorvik::adpcm_detail {
namespace {

// The step of each shift and its inverse, powers of two and exact in floats; 13 to 15 are
// there to fill a fourth vector of four, with the step of 12.
struct StepTable {
    float step[16];
    float inverse[16];
};
constexpr StepTable MakeStepTable() {
    StepTable table{};
    for (int shift = 0; shift < 16; ++shift) {
        table.step[shift] = static_cast<float>(1 << (shift <= kMaxShift ? kMaxShift - shift : 0));
        table.inverse[shift] = 1.0f / table.step[shift];
    }
    return table;
}
inline constexpr StepTable kSteps = MakeStepTable();

// The paths of a beam; the error a path starts with (every error counts from one, so that a key
// made of it is a normal float); and the error that rules a path out, larger than any block's
// (28 * 65535^2 < 2^37).
constexpr int kWidth = 4;
constexpr float kFirstError = 1.0f;
constexpr float kNoPath = 17592186044416.0f;  // 2^44
// How much of the next block's estimated error counts against a block's own.
constexpr float kLookAheadWeight = 0.5f;
// Candidates searched side by side, so that the processor overlaps their chains of operations.
constexpr int kSideBySide = 2;
// Candidates after the first round are searched only while they may still win. One whose trial
// encoding erred more than kTrialReach times the best score so far is passed over. One that is
// searched gives up once its error reaches the best score less kAheadTaken of the best path's
// look-ahead: its own paths are taken to look ahead at least that well. (Both rules give up a
// winner in a block now and then, which cost at most 0.02 dB on the test signals; exact rules
// gave up far fewer candidates.)
constexpr float kTrialReach = 4.0f;
constexpr float kAheadTaken = 0.5f;

// The decoder's prediction from its history (s1 the newest value, s2 the one before), operation
// for operation: in doubles, where it is the decoder's to the last bit, and in the search's
// floats.
template <typename T>
struct Prediction {
    T older;  // c1 * s2
    T newer;  // c0 * s1
    // The value a nibble times the step makes: the decoder's sum, in the decoder's order.
    T Value(T scaled) const { return (scaled + older) + newer; }
    // What `x` leaves to the nibble, in steps (`inverse` is 1 / step).
    T Residual(T x, T inverse) const { return (x - Sum()) * inverse; }
    T Sum() const { return older + newer; }
};

template <typename T>
inline Prediction<T> Predict(T c0, T c1, T s1, T s2) {
    return {c1 * s2, c0 * s1};
}

// Four plain floats, one beam's paths: the portable vector. Every vector type has the same
// operations, lane by lane; shuffles and keys work on each group of four lanes (one beam).
struct PlainFour {
    static constexpr int kGroups = 1;
    static constexpr bool kPermutesInRegisters = false;  // Gather goes through memory
    float f[4];
    struct Mask {
        bool b[4];
    };
    static PlainFour Splat(float x) { return {{x, x, x, x}}; }
    // Each group of four lanes the value of its own: perGroup[0] for the one group.
    static PlainFour Groups(const float* perGroup) { return Splat(perGroup[0]); }
    static PlainFour Load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
    // Lane k is values[offsets[k]].
    static PlainFour Gather(const float* values, const int* offsets) {
        return {{values[offsets[0]], values[offsets[1]], values[offsets[2]], values[offsets[3]]}};
    }
    template <typename Op>
    static PlainFour Lanes(PlainFour a, PlainFour b, Op op) {
        return {{op(a.f[0], b.f[0]), op(a.f[1], b.f[1]), op(a.f[2], b.f[2]), op(a.f[3], b.f[3])}};
    }
};
inline void Store(float* p, PlainFour a) { std::memcpy(p, a.f, sizeof a.f); }
inline PlainFour operator+(PlainFour a, PlainFour b) {
    return PlainFour::Lanes(a, b, [](float x, float y) { return x + y; });
}
inline PlainFour operator-(PlainFour a, PlainFour b) {
    return PlainFour::Lanes(a, b, [](float x, float y) { return x - y; });
}
inline PlainFour operator*(PlainFour a, PlainFour b) {
    return PlainFour::Lanes(a, b, [](float x, float y) { return x * y; });
}
inline PlainFour Max(PlainFour a, PlainFour b) {  // a > b ? a : b, as the processors' max
    return PlainFour::Lanes(a, b, [](float x, float y) { return x > y ? x : y; });
}
inline PlainFour Min(PlainFour a, PlainFour b) {  // a < b ? a : b
    return PlainFour::Lanes(a, b, [](float x, float y) { return x < y ? x : y; });
}
inline PlainFour KeyMin(PlainFour a, PlainFour b) { return Min(a, b); }
inline PlainFour KeyMax(PlainFour a, PlainFour b) { return Max(a, b); }
inline PlainFour Abs(PlainFour a) {
    return PlainFour::Lanes(a, a, [](float x, float) { return std::fabs(x); });
}
// The integer part, for values within the range of a 32-bit integer.
inline PlainFour Truncate(PlainFour a) {
    return PlainFour::Lanes(a, a,
                            [](float x, float) { return static_cast<float>(static_cast<int>(x)); });
}
inline PlainFour::Mask GreaterOrEqual(PlainFour a, PlainFour b) {
    return {{a.f[0] >= b.f[0], a.f[1] >= b.f[1], a.f[2] >= b.f[2], a.f[3] >= b.f[3]}};
}
// `a` where the mask is set, else `b`.
inline PlainFour Pick(PlainFour::Mask m, PlainFour a, PlainFour b) {
    return {{m.b[0] ? a.f[0] : b.f[0], m.b[1] ? a.f[1] : b.f[1], m.b[2] ? a.f[2] : b.f[2],
             m.b[3] ? a.f[3] : b.f[3]}};
}
// Lanes of each group of four rearranged: lane k is lane Lk of `a`; of Combine, lanes 0 and 1
// come from `a` and lanes 2 and 3 from `b`.
template <int L0, int L1, int L2, int L3>
inline PlainFour Shuffle(PlainFour a) {
    return {{a.f[L0], a.f[L1], a.f[L2], a.f[L3]}};
}
template <int L0, int L1, int L2, int L3>
inline PlainFour Combine(PlainFour a, PlainFour b) {
    return {{a.f[L0], a.f[L1], b.f[L2], b.f[L3]}};
}
// A non-negative float with its three lowest bits replaced by `first` plus its lane's place in
// its group (`first` is 0 or 4): it orders as the float did, but for errors within eight units
// in the last place, and no two keys of a step are equal.
inline PlainFour Keyed(PlainFour a, int first) {
    PlainFour key;
    for (int k = 0; k < 4; ++k) {
        std::uint32_t bits;
        std::memcpy(&bits, &a.f[k], 4);
        bits = (bits & ~7u) | static_cast<std::uint32_t>(first + k);
        std::memcpy(&key.f[k], &bits, 4);
    }
    return key;
}
// The three lowest bits of each lane.
inline void IndexesOf(PlainFour key, int* out) {
    for (int k = 0; k < 4; ++k) {
        std::uint32_t bits;
        std::memcpy(&bits, &key.f[k], 4);
        out[k] = static_cast<int>(bits & 7);
    }
}

// The children that go on, for vectors of one group of four: where each is in the two rows of
// children (nearer, then farther), and its parent's lane.
struct FourPicks {
    int from[4];
    int parent[4];
};
template <typename V>
FourPicks PicksOfFour(V kept) {
    FourPicks picks;
    int child[4];
    IndexesOf(kept, child);
    for (int r = 0; r < 4; ++r) {
        picks.parent[r] = child[r] & 3;
        picks.from[r] = (child[r] >> 2) * 4 + picks.parent[r];
    }
    return picks;
}
template <typename V>
V ChosenOfFour(const FourPicks& picks, V nearRow, V farRow) {
    alignas(16) float rows[8];
    Store(rows, nearRow), Store(rows + 4, farRow);
    return V::Gather(rows, picks.from);
}
template <typename V>
V ParentsOfFour(const FourPicks& picks, V row) {
    alignas(16) float rows[4];
    Store(rows, row);
    return V::Gather(rows, picks.parent);
}
inline FourPicks PicksOf(PlainFour kept) { return PicksOfFour(kept); }
inline PlainFour Chosen(const FourPicks& picks, PlainFour nearRow, PlainFour farRow) {
    return ChosenOfFour(picks, nearRow, farRow);
}
inline PlainFour Parents(const FourPicks& picks, PlainFour row) {
    return ParentsOfFour(picks, row);
}

// The lanes of `value` each to the nearest whole number (of two, the even one), for values below
// 2^22 in magnitude: adding 1.5 * 2^23 leaves no bits below the units, and subtracting it again
// gives them back rounded.
template <typename V>
inline V Nearest(V value) {
    const V magic = V::Splat(12582912.0f);
    return (value + magic) - magic;
}

// The sample the decoder makes of a value, given with the half the decoder adds.
template <typename V>
inline V Truncated(V biased) {
    return Truncate(Min(Max(biased, V::Splat(-32768.0f)), V::Splat(32767.0f)));
}

// Each group's four keys in ascending order: a network of three steps, each comparing two
// pairs. (Keys are positive floats, which order as their bits do: KeyMin and KeyMax may compare
// either.)
template <typename V>
inline V SortAscending(V k) {
    V p = Shuffle<1, 0, 3, 2>(k);
    k = Combine<0, 2, 0, 2>(KeyMin(k, p), KeyMax(k, p));  // [min01, min23, max01, max23]
    p = Shuffle<1, 0, 3, 2>(k);
    k = Combine<0, 2, 0, 2>(KeyMin(k, p), KeyMax(k, p));  // [least, two middle ones, greatest]
    p = Shuffle<0, 2, 1, 3>(k);
    return Combine<0, 1, 2, 3>(KeyMin(k, p), KeyMax(k, p));
}

// Each group's four least of eight keys, in no particular order: the first half of a bitonic
// merge of the two sorted halves. The least of them all is in lane 0 or 3.
template <typename V>
inline V LeastFour(V a, V b) {
    return KeyMin(SortAscending(a), Shuffle<3, 2, 1, 0>(SortAscending(b)));
}

// What decoding with a predictor and shift needs, each group of lanes with its own; and, for
// finding the nibbles around a residual in units: half a step, the number that rounds to a
// multiple of the step (see Nearest), and that number's bounds once it is added (its multiples
// less 8 and plus 6 steps, the two lowest nibbles of the pairs searched).
template <typename V>
struct Filter {
    V c0, c1, step, inverse;
    V halfStep, lowest, highest, magic;
};

template <typename V>
Filter<V> FilterOf(const int* predictors, const int* shifts) {
    constexpr int kGroups = V::kGroups;
    float c0[kGroups], c1[kGroups], step[kGroups], inverse[kGroups];
    float halfStep[kGroups], lowest[kGroups], highest[kGroups], magic[kGroups];
    for (int g = 0; g < kGroups; ++g) {
        // All exact: multiples of 1/64, and powers of two times numbers of few bits.
        c0[g] = static_cast<float>(kCoefficients[predictors[g]][0]);
        c1[g] = static_cast<float>(kCoefficients[predictors[g]][1]);
        step[g] = kSteps.step[shifts[g]];
        inverse[g] = kSteps.inverse[shifts[g]];
        halfStep[g] = 0.5f * step[g];
        lowest[g] = 12582904.0f * step[g];   // 1.5 * 2^23 - 8 steps
        highest[g] = 12582918.0f * step[g];  // 1.5 * 2^23 + 6 steps
        magic[g] = 12582912.0f * step[g];
    }
    return {V::Groups(c0),       V::Groups(c1),     V::Groups(step),    V::Groups(inverse),
            V::Groups(halfStep), V::Groups(lowest), V::Groups(highest), V::Groups(magic)};
}

// The filter of one predictor and shift in every lane (made of broadcasts, not through memory).
template <typename V>
Filter<V> UniformFilter(int predictor, int shift) {
    const float step = kSteps.step[shift];
    return {V::Splat(static_cast<float>(kCoefficients[predictor][0])),
            V::Splat(static_cast<float>(kCoefficients[predictor][1])),
            V::Splat(step),
            V::Splat(kSteps.inverse[shift]),
            V::Splat(0.5f * step),
            V::Splat(12582904.0f * step),
            V::Splat(12582918.0f * step),
            V::Splat(12582912.0f * step)};
}

constexpr int kPredictorCount = 5;
// Predictors searched per block (the most promising by the estimate below), and the shifts
// searched for each: the finest at which the estimated residual reaches at most this many steps
// (a little beyond the nibbles' 7, as clipping a lone peak often costs less than a coarser
// step everywhere), and the next coarser one; and one more candidate where a trial encoding
// finds it better than these. The same choice without the trials, made from the input alone,
// gives the candidates that look ahead into the next block.
constexpr int kEstimatedPredictors = 2;
static_assert(2 * kEstimatedPredictors + 1 <= kPairsSearched, "room for the candidates");
static_assert(2 * kEstimatedPredictors <= kPairsLookedAt, "room for the next block's");
static_assert(kTrialCount == 2 * kPredictorCount, "two trials a predictor");
constexpr float kFitReach = 10.0f;

// The estimates of all five predictors (see Estimate), worked out a sample at a time, the
// predictors a vector's lanes at a time (lanes past the last predictor repeat it), so that the
// search can work out the next block's beside its first round.
template <typename V>
struct EstimateRun {
    static constexpr int kLanes = 4 * V::kGroups;
    static constexpr int kVectors = (kPredictorCount + kLanes - 1) / kLanes;
    V c0[kVectors], c1[kVectors];
    V s1, s2;
    V peak[kVectors], energy[kVectors];
    V highest, lowest;

    EstimateRun(float y1, float y2) : s1(V::Splat(y1)), s2(V::Splat(y2)) {
        float c0s[kVectors * kLanes], c1s[kVectors * kLanes];
        for (int lane = 0; lane < kVectors * kLanes; ++lane) {
            const int predictor = lane < kPredictorCount ? lane : kPredictorCount - 1;
            c0s[lane] = static_cast<float>(kCoefficients[predictor][0]);
            c1s[lane] = static_cast<float>(kCoefficients[predictor][1]);
        }
        for (int h = 0; h < kVectors; ++h) {
            c0[h] = V::Load(c0s + h * kLanes), c1[h] = V::Load(c1s + h * kLanes);
            peak[h] = energy[h] = V::Splat(0.0f);
        }
        highest = lowest = V::Splat(0.0f);
    }
    void Sample(float sample) {
        const V x = V::Splat(sample);
        highest = Max(highest, x), lowest = Min(lowest, x);
        for (int h = 0; h < kVectors; ++h) {
            const V residual = x - Predict(c0[h], c1[h], s1, s2).Sum();
            peak[h] = Max(peak[h], Abs(residual));
            energy[h] = energy[h] + residual * residual;
        }
        s2 = s1;
        s1 = x;
    }
    // The estimates; returns whether a sample is at full scale (32767 or -32768).
    bool Finish(Estimate* out) const {
        alignas(32) float peaks[kVectors * kLanes], energies[kVectors * kLanes];
        alignas(32) float extremes[2 * kLanes];
        for (int h = 0; h < kVectors; ++h) {
            Store(peaks + h * kLanes, peak[h]), Store(energies + h * kLanes, energy[h]);
        }
        for (int predictor = 0; predictor < kPredictorCount; ++predictor) {
            // The reaches kFitReach, twice that, ... that the peak passes, counted without a
            // branch: that many shifts coarser than the finest.
            const float peak = peaks[predictor];
            int coarser = 0;
            for (int k = 0; k < kMaxShift; ++k) {
                coarser += peak > kFitReach * kSteps.step[kMaxShift - k] ? 1 : 0;
            }
            out[predictor] = {predictor, kMaxShift - coarser,
                              peak <= kFitReach * kSteps.step[kMaxShift - coarser],
                              energies[predictor], peak};
        }
        Store(extremes, highest), Store(extremes + kLanes, lowest);
        return extremes[0] >= 32767.0f || extremes[kLanes] <= -32768.0f;
    }
};

// The estimates of all five predictors for the block `target`, from `y1` and `y2` before it.
// Returns whether a sample is at full scale (32767 or -32768).
template <typename V>
bool EstimatePredictors(const float* target, float y1, float y2, Estimate* out) {
    EstimateRun<V> run(y1, y2);
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) run.Sample(target[i]);
    return run.Finish(out);
}

// The order of the predictors' estimates as one number: a predictor whose residual fits first
// (one that does not clip a sample by thousands, as at the edge of a full-scale square wave),
// then the finer shift (a finer step means less noise), then less residual energy (a float never
// negative, whose bits order as it does).
inline std::uint64_t OrderOf(const Estimate& estimate) {
    std::uint32_t energy;
    std::memcpy(&energy, &estimate.energy, sizeof energy);
    return std::uint64_t{estimate.fits ? 0u : 1u} << 40 |
           static_cast<std::uint64_t>(kMaxShift - estimate.shift) << 32 | energy;
}

// The predictors ordered by their estimates, best first, equal ones in their own order: each
// one's place counted without a branch.
inline void RankPredictors(const Estimate* estimates, int* ranked) {
    std::uint64_t order[kPredictorCount];
    for (int p = 0; p < kPredictorCount; ++p) order[p] = OrderOf(estimates[p]);
    for (int p = 0; p < kPredictorCount; ++p) {
        int place = 0;
        for (int q = 0; q < kPredictorCount; ++q) {
            place += order[q] < order[p] || (order[q] == order[p] && q < p) ? 1 : 0;
        }
        ranked[place] = p;
    }
}

// The predictor and shift pairs that the estimates find most promising, best first: the two
// predictors they rank first, each at its finest fitting shift and the next coarser one. Returns
// their number. From the input alone, they estimate what the next block will cost.
inline int PairsToSearch(const Estimate* estimates, int* predictors, int* shifts) {
    int ranked[kPredictorCount];
    RankPredictors(estimates, ranked);
    int count = 0;
    for (int r = 0; r < kEstimatedPredictors; ++r) {
        const Estimate& estimate = estimates[ranked[r]];
        for (int shift = estimate.shift; shift >= 0 && shift >= estimate.shift - 1; --shift) {
            predictors[count] = estimate.predictor;
            shifts[count++] = shift;
        }
    }
    return count;
}

// The next block, when there is one: its samples and the candidates that estimate what it will
// cost, each in every lane.
template <typename V>
struct LookAhead {
    const float* target = nullptr;
    // Always kPairsLookedAt, the first repeated where there are fewer, so that their number is
    // known when compiling and their state stays in registers.
    Filter<V> filters[kPairsLookedAt];

    LookAhead() = default;
    LookAhead(const float* next, const Estimate* estimates) : target(next) {
        int predictors[kPairsLookedAt], shifts[kPairsLookedAt];
        const int pairs = PairsToSearch(estimates, predictors, shifts);
        for (int f = 0; f < kPairsLookedAt; ++f) {
            const int from = f < pairs ? f : 0;
            filters[f] = UniformFilter<V>(predictors[from], shifts[from]);
        }
    }
};

// One sample of a greedy encoding (the nearest nibble), lane by lane, all in steps: the last
// value (`u1`, times the inverse step), the prediction for the sample (`predicted`) and the
// sample `xs` (times the inverse step), so that every product and sum is the one in units scaled
// by a power of two. The square of the value's miss, before the decoder rounds it to a sample,
// is added to `error` (in steps squared: times step * step it is the one in units). (Rounding the
// value as the decoder does made these estimates no better.) The next prediction, c0 * value +
// c1 * u1, is taken as c0 * nibble + (c0 * predicted + c1 * u1): the chain of operations from
// one sample to the next is then three operations shorter.
template <typename V>
inline void GreedySample(const Filter<V>& filter, V xs, V& u1, V& predicted, V& error) {
    const V nibble = Nearest(Min(Max(xs - predicted, V::Splat(-8.0f)), V::Splat(7.0f)));
    const V value = nibble + predicted;
    const V miss = value - xs;
    error = error + miss * miss;
    predicted = filter.c0 * nibble + (filter.c0 * predicted + filter.c1 * u1);
    u1 = value;
}

// The paths' squared error over the next block, each predicting greedily (the nearest nibble)
// from its own history with the best of the look-ahead's filters. The filters run side by side,
// as chains independent of each other, so that their latencies overlap.
template <typename V>
V GreedyError(const LookAhead<V>& next, V s1, V s2) {
    V u1[kPairsLookedAt], predicted[kPairsLookedAt], error[kPairsLookedAt];
    for (int c = 0; c < kPairsLookedAt; ++c) {
        const Filter<V>& filter = next.filters[c];
        u1[c] = s1 * filter.inverse;
        predicted[c] = Predict(filter.c0, filter.c1, u1[c], s2 * filter.inverse).Sum();
        error[c] = V::Splat(0.0f);
    }
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const V x = V::Splat(next.target[i]);
        for (int c = 0; c < kPairsLookedAt; ++c) {
            GreedySample(next.filters[c], x * next.filters[c].inverse, u1[c], predicted[c],
                         error[c]);
        }
    }
    auto inUnits = [&](int c) { return error[c] * (next.filters[c].step * next.filters[c].step); };
    V best = inUnits(0);
    for (int c = 1; c < kPairsLookedAt; ++c) best = Min(best, inUnits(c));
    return best;
}

// Trial encodings of a block: every predictor at its estimated finest shift (trial 2p) and at the
// next coarser one (trial 2p + 1), each taking the nearest nibble for every sample from the
// decoder's history (`y1` the newest value), a vector's lanes at a time, side by side. Gives each
// one's squared error. (Lanes past the last trial repeat predictor 0 at the finest shift.)
template <typename V>
void TrialErrors(const float* target, float y1, float y2, const Estimate* estimates,
                 float* errors) {
    constexpr int kLanes = 4 * V::kGroups;
    constexpr int kChains = (kTrialCount + kLanes - 1) / kLanes;
    Filter<V> filters[kChains];
    V u1[kChains], predicted[kChains], error[kChains];
    for (int c = 0; c < kChains; ++c) {
        alignas(32) float c0[kLanes], c1[kLanes], step[kLanes], inverse[kLanes];
        for (int lane = 0; lane < kLanes; ++lane) {
            const int k = c * kLanes + lane;
            const int predictor = k < kTrialCount ? k / 2 : 0;
            const int shift = k < kTrialCount ? estimates[predictor].shift - k % 2 : kMaxShift;
            c0[lane] = static_cast<float>(kCoefficients[predictor][0]);
            c1[lane] = static_cast<float>(kCoefficients[predictor][1]);
            step[lane] = kSteps.step[shift < 0 ? 0 : shift];
            inverse[lane] = kSteps.inverse[shift < 0 ? 0 : shift];
        }
        filters[c].c0 = V::Load(c0), filters[c].c1 = V::Load(c1);
        filters[c].step = V::Load(step), filters[c].inverse = V::Load(inverse);
        u1[c] = V::Splat(y1) * filters[c].inverse;
        predicted[c] =
            Predict(filters[c].c0, filters[c].c1, u1[c], V::Splat(y2) * filters[c].inverse).Sum();
        error[c] = V::Splat(0.0f);
    }
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const V x = V::Splat(target[i]);
        for (int c = 0; c < kChains; ++c) {
            GreedySample(filters[c], x * filters[c].inverse, u1[c], predicted[c], error[c]);
        }
    }
    alignas(32) float all[kChains * kLanes];
    for (int c = 0; c < kChains; ++c) {
        Store(all + c * kLanes, error[c] * (filters[c].step * filters[c].step));
    }
    std::memcpy(errors, all, kTrialCount * sizeof(float));
}

template <typename V>
struct Beams;

// The state of a beam's paths: each one's last two values, its prediction for the next sample
// and its squared error so far. Kept apart from the beam, in a variable of the search's own, so
// that it can stay in registers.
template <typename V>
struct Paths {
    V s1, s2, predicted, error;
};

// The best path found so far: its candidate and where its beam recorded it, and what of its
// score is look-ahead.
template <typename V>
struct Best {
    const Beams<V>* beams = nullptr;
    int group = 0;
    int path = 0;
    float ahead = 0.0f;
};

// The beams of V::kGroups candidates, one group of four lanes each. A beam searches the nibbles
// of one block for one predictor and shift, predicting as the decoder does from its history.
// Four paths, each trying the two nibbles around its residual for the next sample, so eight
// children per sample (0-3 the nearer nibble of paths 0-3, 4-7 the other), of which the four
// with the least squared error so far go on. A beam gives up as soon as no path's error is below
// its bound.
template <typename V>
struct Beams {
    static constexpr int kGroups = V::kGroups;
    static constexpr int kLanes = 4 * kGroups;
    Filter<V> filter;
    V cap;
    float giveUp[kGroups];
    bool running[kGroups];
    int predictors[kGroups], shifts[kGroups];
    // For each sample, the keys of the children that went on (whose three lowest bits tell which
    // child each path came from) and the nibbles of the nearer and the farther children.
    float kept[kSamplesPerBlock][kLanes];
    float childNibbles[kSamplesPerBlock][2][kLanes];

    // The task's candidates `candidates[0]` to `candidates[count - 1]` (count 0 to kGroups); a
    // group without a candidate repeats the first one and does not run.
    // (Every path starts from the decoder's history; all but the first of each beam with the
    // error that rules a path out.)
    Paths<V> Start(const SearchTask& task, const int* candidates, int count, float bound) {
        static constexpr float kStartErrors[8] = {kFirstError, kNoPath, kNoPath, kNoPath,
                                                  kFirstError, kNoPath, kNoPath, kNoPath};
        float caps[kGroups];
        for (int g = 0; g < kGroups; ++g) {
            const int candidate = candidates[g < count ? g : 0];
            predictors[g] = task.predictors[candidate];
            shifts[g] = task.shifts[candidate];
            // The second nibble may not make a sample worse than the nearer can make one (half
            // a step, and the rounding) or than the largest error already made.
            double allowed = 0.5 * static_cast<double>(1 << (kMaxShift - shifts[g])) + 1.0;
            allowed = allowed > task.largestMiss ? allowed : task.largestMiss;
            caps[g] = static_cast<float>(allowed + 0.5);
            giveUp[g] = bound + kFirstError;
            running[g] = g < count;
        }
        filter = FilterOf<V>(predictors, shifts);
        cap = V::Groups(caps);
        const V s1 = V::Splat(static_cast<float>(task.history.s1));
        const V s2 = V::Splat(static_cast<float>(task.history.s2));
        return {s1, s2, Predict(filter.c0, filter.c1, s1, s2).Sum(), V::Load(kStartErrors)};
    }

    bool Running() const {
        bool any = false;
        for (const bool one : running) any = any || one;
        return any;
    }

    // Sample i; false when every beam has given up.
    bool Step(Paths<V>& paths, const float* target, std::size_t i) {
        const V s1 = paths.s1, sum = paths.predicted, error = paths.error;
        const V x = V::Splat(target[i]);
        const V half = V::Splat(0.5f);
        // The residual less half a step, and the multiple of the step nearest to it within -8 to
        // 6 steps, in units: each the same, scaled by a power of two, as in steps, by a shorter
        // chain. Bounded once the rounding number is added, where it is a positive float, which
        // compares as its bits do (and rounds -8.5 and 6.5 steps to -8 and 6 as well).
        const V below = (x - filter.halfStep) - sum;
        const V scaled =
            KeyMin(KeyMax(below + filter.magic, filter.lowest), filter.highest) - filter.magic;
        // The two nibbles around the residual: base and base + 1 (6 and 7 at the top). (When the
        // residual is an odd whole number, base is one below it; it is still the nearer one.)
        const auto up = GreaterOrEqual(below, scaled);  // base + 1 is nearer
        const V base = scaled * filter.inverse;
        const V lower = scaled + sum;
        const V upper = (scaled + filter.step) + sum;
        // What the decoder makes of them: the half it adds before it truncates is added to the
        // sum beforehand.
        const V lowerMiss = Truncated(scaled + (sum + half)) - x;
        const V upperMiss = Truncated((scaled + filter.step) + (sum + half)) - x;
        const V nearMiss = Pick(up, upperMiss, lowerMiss);
        const V farMiss = Pick(up, lowerMiss, upperMiss);
        const V nearTotal = error + nearMiss * nearMiss;
        // A farther child that misses by the cap or more ends its path.
        const V farTotal =
            error + Pick(GreaterOrEqual(Abs(farMiss), cap), V::Splat(kNoPath), farMiss * farMiss);
        // Each child's prediction for the next sample, c0 * value + c1 * s1, taken as c0 *
        // (value - sum) + (c0 * sum + c1 * s1): worked out beside the errors, not after them.
        const V carried = filter.c0 * sum + filter.c1 * s1;
        const V lowerNext = filter.c0 * scaled + carried;
        const V upperNext = filter.c0 * (scaled + filter.step) + carried;
        const V nearNibble = Pick(up, base + V::Splat(1.0f), base);
        const V farNibble = Pick(up, base, base + V::Splat(1.0f));
        const V keys = LeastFour(Keyed(nearTotal, 0), Keyed(farTotal, kWidth));
        const auto picks = PicksOf(keys);
        paths.error = Chosen(picks, nearTotal, farTotal);
        paths.s2 = Parents(picks, s1);
        paths.s1 = Chosen(picks, Pick(up, upper, lower), Pick(up, lower, upper));
        paths.predicted =
            Chosen(picks, Pick(up, upperNext, lowerNext), Pick(up, lowerNext, upperNext));
        Store(kept[i], keys);
        Store(childNibbles[i][0], nearNibble), Store(childNibbles[i][1], farNibble);
        alignas(32) float least[kLanes];
        Store(least, KeyMin(keys, Shuffle<3, 2, 1, 0>(keys)));
        bool any = false;
        for (int g = 0; g < kGroups; ++g) {
            running[g] = running[g] && least[4 * g] < giveUp[g];
            any = any || running[g];
        }
        return any;
    }

    // The nibbles of path `path` of group `group`, followed back from its end. Where the vector
    // permutes in registers, every lane's path at once, by the same permutes that took the
    // children on (the low bits of a lane of `along` say which path of its group it follows, as
    // a key's do); else the one path, the child it came from read from its key's low bits.
    void Nibbles(int group, int path, std::int8_t* nibbles) const {
        std::int8_t found[kSamplesPerBlock];
        if constexpr (V::kPermutesInRegisters) {
            static constexpr std::uint32_t kOwnPaths[8] = {0, 1, 2, 3, 0, 1, 2, 3};
            alignas(32) float own[kLanes], all[kSamplesPerBlock][kLanes];
            std::memcpy(own, kOwnPaths, sizeof own);
            V along = V::Load(own);
            for (int i = kSamplesPerBlock - 1; i >= 0; --i) {
                along = Parents(PicksOf(along), V::Load(kept[i]));  // the key it went on with
                Store(all[i], Chosen(PicksOf(along), V::Load(childNibbles[i][0]),
                                     V::Load(childNibbles[i][1])));
            }
            for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
                found[i] = static_cast<std::int8_t>(all[i][4 * group + path]);
            }
        } else {
            for (int i = kSamplesPerBlock - 1; i >= 0; --i) {
                std::uint32_t key;
                std::memcpy(&key, &kept[i][4 * group + path], sizeof key);
                const int child = static_cast<int>(key & 7);
                path = child & 3;
                found[i] = static_cast<std::int8_t>(childNibbles[i][child >> 2][4 * group + path]);
            }
        }
        std::memcpy(nibbles, found, sizeof found);
    }

    // Scoring, beam by beam in order: a path's score is its error plus kLookAheadWeight times
    // its greedy error over the next block, when there is one. A beam whose best path (the first
    // of equal ones) scores below `bound` becomes the best so far: `bound` and `best` follow it.
    void Score(const Paths<V>& paths, const LookAhead<V>& next, float& bound, Best<V>& best) const {
        V ahead = V::Splat(0.0f);
        if (next.target != nullptr) {
            ahead = V::Splat(kLookAheadWeight) * GreedyError(next, paths.s1, paths.s2);
        }
        alignas(32) float score[kLanes], aheads[kLanes];
        Store(score, (paths.error - V::Splat(kFirstError)) + ahead);
        Store(aheads, ahead);
        for (int g = 0; g < kGroups; ++g) {
            if (!running[g]) continue;
            const float* own = score + 4 * g;
            int path = 0;
            for (int r = 1; r < 4; ++r) path = own[r] < own[path] ? r : path;
            if (!(own[path] < bound)) continue;
            bound = own[path];
            best = {this, g, path, aheads[4 * g + path]};
        }
    }
};

// The search of one block: the candidates kSideBySide at a time, in beams of V::kGroups; each
// candidate is given up once it cannot beat the best score of those before (see kTrialReach), so
// the order of the candidates decides which wins, not their grouping. Then the nibbles of the
// best path, followed back from its end.
template <typename V>
void SearchCandidates(const SearchTask& task, SearchChoice& choice) {
    constexpr int kBeams = kSideBySide / V::kGroups;
    constexpr int kRounds = (kPairsSearched + kSideBySide - 1) / kSideBySide;
    // The next block's estimates are worked out beside the first round's steps, whose chains of
    // operations leave the processor room for them; they give the look-ahead its candidates.
    LookAhead<V> next;
    EstimateRun<V> nextEstimates(task.target[kSamplesPerBlock - 1],
                                 task.target[kSamplesPerBlock - 2]);
    // Every round's beams stay, so that the best path can be followed back at the end.
    Beams<V> beams[kRounds][kBeams];
    Best<V> best;
    float bound = HUGE_VALF;
    int cursor = 0;  // the next candidate to look at
    for (int round = 0; round < kRounds && cursor < task.pairs; ++round) {
        int candidates[kSideBySide];
        int count = 0;
        while (count < kSideBySide && cursor < task.pairs) {
            const int candidate = cursor++;
            if (round > 0 && task.trialErrors[candidate] > kTrialReach * bound) continue;
            candidates[count++] = candidate;
        }
        Paths<V> paths[kBeams];
        for (int b = 0; b < kBeams; ++b) {
            const int from = b * V::kGroups;
            const int own = count - from < V::kGroups ? count - from : V::kGroups;
            paths[b] = beams[round][b].Start(task, own > 0 ? candidates + from : candidates,
                                             own > 0 ? own : 0, bound - kAheadTaken * best.ahead);
        }
        for (std::size_t i = 0; count > 0 && i < kSamplesPerBlock; ++i) {
            if (round == 0 && task.next != nullptr) nextEstimates.Sample(task.next[i]);
            bool any = false;
            for (int b = 0; b < kBeams; ++b) {
                Beams<V>& beam = beams[round][b];
                any = (beam.Running() && beam.Step(paths[b], task.target, i)) || any;
            }
            if (!any) break;
        }
        if (round == 0 && task.next != nullptr) {
            Estimate estimates[kPredictorCount];
            nextEstimates.Finish(estimates);
            next = LookAhead<V>(task.next, estimates);
        }
        for (int b = 0; b < kBeams; ++b) {
            if (beams[round][b].Running()) beams[round][b].Score(paths[b], next, bound, best);
        }
    }
    if (best.beams == nullptr) best.beams = &beams[0][0];  // no score is finite: cannot happen
    best.beams->Nibbles(best.group, best.path, choice.nibbles);
    choice.predictor = best.beams->predictors[best.group];
    choice.shift = best.beams->shifts[best.group];
}

}  // namespace
}  // namespace sorvik::adpcm_detail
