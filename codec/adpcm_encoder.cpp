#include "codec/adpcm_encoder.h"

#include <cmath>
#include <cstring>

#include "codec/adpcm_tables.h"

#if defined(__SSE2__) && !defined(SORVIK_PORTABLE_ENCODER)
#include <emmintrin.h>
#endif

namespace sorvik {
namespace {

using adpcm_detail::kCoefficients;
using adpcm_detail::NarrowToSample;

constexpr int kPredictorCount = 5;
constexpr int kMaxShift = 12;
// Predictors searched per block (the most promising by the estimate below), and the shifts
// searched for each: the finest at which the estimated residual reaches at most this many steps
// (a little beyond the nibbles' 7, as clipping a lone peak often costs less than a coarser
// step everywhere), and the next coarser one. The same choice, made from the input alone, gives
// the pairs that look ahead into the next block.
constexpr int kPredictorsSearched = 2;
constexpr int kPairsSearched = 2 * kPredictorsSearched;
constexpr float kFitReach = 10.0f;
// The paths of the beam; the error a path starts with (every error counts from one, so that a
// key made of it is a normal float); and the error that rules a path out, larger than any block's
// (28 * 65535^2 < 2^37).
constexpr int kWidth = 4;
constexpr float kFirstError = 1.0f;
constexpr float kNoPath = 17592186044416.0f;  // 2^44
// How much of the next block's estimated error counts against a block's own.
constexpr float kLookAheadWeight = 0.5f;
// Beams run side by side, so that the processor overlaps their chains of operations.
constexpr int kSideBySide = 2;

// Four floats side by side, one per path of the beam: an SSE register where there is one, else
// four plain floats. Every operation is the same IEEE single-precision operation in both, lane
// by lane, so both give the same bits. (The search only chooses the nibbles; the block that is
// written, and the decoder's history, are worked out afterwards in the decoder's doubles.)
#if defined(__SSE2__) && !defined(SORVIK_PORTABLE_ENCODER)
struct Four {
    __m128 v;
};
struct Mask {
    __m128 v;
};
inline Four Splat(float x) { return {_mm_set1_ps(x)}; }
inline Four Make(float a, float b, float c, float d) { return {_mm_set_ps(d, c, b, a)}; }
inline void Store(float* p, Four a) { _mm_storeu_ps(p, a.v); }
inline Four operator+(Four a, Four b) { return {_mm_add_ps(a.v, b.v)}; }
inline Four operator-(Four a, Four b) { return {_mm_sub_ps(a.v, b.v)}; }
inline Four operator*(Four a, Four b) { return {_mm_mul_ps(a.v, b.v)}; }
inline Four Max(Four a, Four b) { return {_mm_max_ps(a.v, b.v)}; }  // a > b ? a : b
inline Four Min(Four a, Four b) { return {_mm_min_ps(a.v, b.v)}; }  // a < b ? a : b
// The integer part, for values within the range of a 32-bit integer.
inline Four Truncate(Four a) { return {_mm_cvtepi32_ps(_mm_cvttps_epi32(a.v))}; }
inline Mask GreaterOrEqual(Four a, Four b) { return {_mm_cmpge_ps(a.v, b.v)}; }
// `a` where the mask is set, else `b`; `a` where it is set, else 0.
inline Four Pick(Mask m, Four a, Four b) {
    return {_mm_or_ps(_mm_and_ps(m.v, a.v), _mm_andnot_ps(m.v, b.v))};
}
inline Four Where(Mask m, Four a) { return {_mm_and_ps(m.v, a.v)}; }
// Lanes rearranged: lane k of the result is lane Lk of `a`; of Combine, lanes 0 and 1 come from
// `a` and lanes 2 and 3 from `b`.
template <int L0, int L1, int L2, int L3>
inline Four Shuffle(Four a) {
    return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(L3, L2, L1, L0))};
}
template <int L0, int L1, int L2, int L3>
inline Four Combine(Four a, Four b) {
    return {_mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(L3, L2, L1, L0))};
}
// A non-negative float with its three lowest bits replaced by `index` (0-7): it orders as the
// float did, but for errors within eight units in the last place, and no two keys of a step are
// equal.
inline Four Keyed(Four a, int first) {
    const __m128i bits = _mm_and_si128(_mm_castps_si128(a.v), _mm_set1_epi32(~7));
    return {_mm_castsi128_ps(
        _mm_or_si128(bits, _mm_set_epi32(first + 3, first + 2, first + 1, first)))};
}
inline void IndexesOf(Four key, int* out) {
    const __m128i bits = _mm_and_si128(_mm_castps_si128(key.v), _mm_set1_epi32(7));
    out[0] = _mm_cvtsi128_si32(bits);
    out[1] = _mm_extract_epi16(bits, 2);
    out[2] = _mm_extract_epi16(bits, 4);
    out[3] = _mm_extract_epi16(bits, 6);
}
inline float First(Four a) { return _mm_cvtss_f32(a.v); }
#else
struct Four {
    float f[4];
};
struct Mask {
    bool b[4];
};
inline Four Splat(float x) { return {{x, x, x, x}}; }
inline Four Make(float a, float b, float c, float d) { return {{a, b, c, d}}; }
inline void Store(float* p, Four a) { std::memcpy(p, a.f, sizeof a.f); }
template <typename Op>
inline Four Lanes(Four a, Four b, Op op) {
    return {{op(a.f[0], b.f[0]), op(a.f[1], b.f[1]), op(a.f[2], b.f[2]), op(a.f[3], b.f[3])}};
}
inline Four operator+(Four a, Four b) {
    return Lanes(a, b, [](float x, float y) { return x + y; });
}
inline Four operator-(Four a, Four b) {
    return Lanes(a, b, [](float x, float y) { return x - y; });
}
inline Four operator*(Four a, Four b) {
    return Lanes(a, b, [](float x, float y) { return x * y; });
}
inline Four Max(Four a, Four b) {
    return Lanes(a, b, [](float x, float y) { return x > y ? x : y; });
}
inline Four Min(Four a, Four b) {
    return Lanes(a, b, [](float x, float y) { return x < y ? x : y; });
}
inline Four Truncate(Four a) {
    return Lanes(a, a, [](float x, float) { return static_cast<float>(static_cast<int>(x)); });
}
inline Mask GreaterOrEqual(Four a, Four b) {
    return {{a.f[0] >= b.f[0], a.f[1] >= b.f[1], a.f[2] >= b.f[2], a.f[3] >= b.f[3]}};
}
inline Four Pick(Mask m, Four a, Four b) {
    return {{m.b[0] ? a.f[0] : b.f[0], m.b[1] ? a.f[1] : b.f[1], m.b[2] ? a.f[2] : b.f[2],
             m.b[3] ? a.f[3] : b.f[3]}};
}
inline Four Where(Mask m, Four a) { return Pick(m, a, Splat(0.0f)); }
template <int L0, int L1, int L2, int L3>
inline Four Shuffle(Four a) {
    return {{a.f[L0], a.f[L1], a.f[L2], a.f[L3]}};
}
template <int L0, int L1, int L2, int L3>
inline Four Combine(Four a, Four b) {
    return {{a.f[L0], a.f[L1], b.f[L2], b.f[L3]}};
}
inline Four Keyed(Four a, int first) {
    Four key;
    for (int k = 0; k < 4; ++k) {
        std::uint32_t bits;
        std::memcpy(&bits, &a.f[k], 4);
        bits = (bits & ~7u) | static_cast<std::uint32_t>(first + k);
        std::memcpy(&key.f[k], &bits, 4);
    }
    return key;
}
inline void IndexesOf(Four key, int* out) {
    for (int k = 0; k < 4; ++k) {
        std::uint32_t bits;
        std::memcpy(&bits, &key.f[k], 4);
        out[k] = static_cast<int>(bits & 7);
    }
}
inline float First(Four a) { return a.f[0]; }
#endif

// The decoder's prediction from its history (s1 the newest value, s2 the one before), operation
// for operation: in doubles, where it is the decoder's to the last bit, and in the search's
// floats.
template <typename T>
struct Prediction {
    T older;  // c1 * s2
    T newer;  // c0 * s1
    // The value a nibble times the step makes: the decoder's sum, in the decoder's order.
    T Value(T scaled) const { return (scaled + older) + newer; }
    // The same with one addition less, as the search estimates it.
    T Estimate(T scaled) const { return scaled + Sum(); }
    // What `x` leaves to the nibble, in steps (`inverse` is 1 / step).
    T Residual(T x, T inverse) const { return (x - Sum()) * inverse; }
    T Sum() const { return older + newer; }
};

template <typename T>
inline Prediction<T> Predict(T c0, T c1, T s1, T s2) {
    return {c1 * s2, c0 * s1};
}

// The four lanes in ascending order: a network of three steps, each comparing two pairs.
inline Four SortAscending(Four k) {
    Four p = Shuffle<1, 0, 3, 2>(k);
    k = Combine<0, 2, 0, 2>(Min(k, p), Max(k, p));  // [min01, min23, max01, max23]
    p = Shuffle<1, 0, 3, 2>(k);
    k = Combine<0, 2, 0, 2>(Min(k, p), Max(k, p));  // [least, two middle ones, greatest]
    p = Shuffle<0, 2, 1, 3>(k);
    return Combine<0, 1, 2, 3>(Min(k, p), Max(k, p));
}

// The four least of eight keys, in no particular order: the first half of a bitonic merge of
// the two sorted halves.
inline Four LeastFour(Four a, Four b) {
    return Min(SortAscending(a), Shuffle<3, 2, 1, 0>(SortAscending(b)));
}

// What decoding with one predictor and shift needs.
struct Filter {
    Four c0, c1, step, inverse;
};

Filter FilterOf(int predictor, int shift) {
    const float step = static_cast<float>(1 << (kMaxShift - shift));
    return {Splat(static_cast<float>(kCoefficients[predictor][0])),
            Splat(static_cast<float>(kCoefficients[predictor][1])), Splat(step),
            Splat(1.0f / step)};  // all exact: multiples of 1/64, and powers of two
}

// The nearest whole number (of two, the even one) to a value below 2^22 in magnitude: adding
// 1.5 * 2^23 leaves no bits below the units, and subtracting it again gives them back rounded.
inline Four Nearest(Four value) {
    const Four magic = Splat(12582912.0f);
    return (value + magic) - magic;
}

// The sample the decoder makes of a value.
inline Four Narrow(Four value) {
    const Four biased = value + Splat(0.5f);
    return Truncate(Min(Max(biased, Splat(-32768.0f)), Splat(32767.0f)));
}

// The next block, when there is one: its samples and the predictors and shifts that estimate
// what it will cost.
struct LookAhead {
    const float* target = nullptr;
    int pairs = 0;
    Filter filters[kPairsSearched];
};

// Four paths' squared error over the next block, each predicting greedily (the nearest nibble)
// from its own history with the best of the look-ahead's filters. The filters run side by side,
// as chains independent of each other, so that their latencies overlap.
Four GreedyError(const LookAhead& next, Four s1In, Four s2In) {
    Four s1[kPairsSearched], s2[kPairsSearched], error[kPairsSearched];
    for (int c = 0; c < kPairsSearched; ++c) s1[c] = s1In, s2[c] = s2In, error[c] = Splat(0.0f);
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const Four x = Splat(next.target[i]);
        for (int c = 0; c < next.pairs; ++c) {
            const Filter& filter = next.filters[c];
            const Prediction<Four> predicted = Predict(filter.c0, filter.c1, s1[c], s2[c]);
            const Four residual =
                Min(Max(predicted.Residual(x, filter.inverse), Splat(-8.0f)), Splat(7.0f));
            const Four value = predicted.Estimate(Nearest(residual) * filter.step);
            const Four miss = Narrow(value) - x;
            error[c] = error[c] + miss * miss;
            s2[c] = s1[c];
            s1[c] = value;
        }
    }
    Four best = error[0];
    for (int c = 1; c < next.pairs; ++c) best = Min(best, error[c]);
    return best;
}

// A block that makes `target` exactly from the decoder's history `start`, when there is one: the
// first predictor (0 to 4) and, for it, the coarsest shift that does. A sound decoded from blocks
// so found gives the same blocks back (where the shifts are equal, the values are too, so the
// history goes on unchanged).
struct Exact {
    int predictor = 0;
    int shift = 0;
    std::int8_t nibbles[kSamplesPerBlock];
};

// Follows the target sample by sample from `i`, with the nibbles that make each sample exactly.
// Only a saturated sample (32767 or -32768) can be made by more than one nibble; those are tried
// nearest first, within `budget` steps in all.
struct ExactFollower {
    const double* target;
    double c0, c1, step, inverse;
    int budget;
    std::int8_t* nibbles;

    bool Follow(std::size_t i, double s1, double s2) {
        if (i == kSamplesPerBlock) return true;
        if (--budget < 0) return false;
        const double x = target[i];
        const Prediction<double> predicted = Predict(c0, c1, s1, s2);
        double nearest = std::floor(predicted.Residual(x, inverse) + 0.5);
        nearest = nearest < -8.0 ? -8.0 : (nearest > 7.0 ? 7.0 : nearest);
        const bool saturated = x == 32767.0 || x == -32768.0;
        for (int k = 0; k < (saturated ? 32 : 3); ++k) {
            const double n = nearest + (k % 2 == 0 ? k / 2 : -(k + 1) / 2);
            if (n < -8.0 || n > 7.0) continue;
            const double value = predicted.Value(n * step);
            if (NarrowToSample(value) != x) continue;
            nibbles[i] = static_cast<std::int8_t>(n);
            if (Follow(i + 1, value, s1)) return true;
        }
        return false;
    }
};

bool FindExactBlock(const double* target, const ChannelHistory& start, Exact& out) {
    const bool saturated = target[0] == 32767.0 || target[0] == -32768.0;
    for (int predictor = 0; predictor < kPredictorCount; ++predictor) {
        // What the first sample leaves to its nibble: no shift whose nearest multiple of the
        // step misses it by two units can make it (a value makes a sample x from x - 1.5 to
        // x + 0.5, as the decoder rounds half up and then truncates toward zero): a quick way
        // past most shifts. Once it is beyond eight steps, it is beyond the finer shifts too.
        const double first =
            Predict(kCoefficients[predictor][0], kCoefficients[predictor][1], start.s1, start.s2)
                .Residual(target[0], 1.0);
        for (int shift = 0; shift <= kMaxShift; ++shift) {
            const double step = static_cast<double>(1 << (kMaxShift - shift));
            if (!saturated && std::fabs(first) > 8.0 * step + 2.0) break;
            double nearest = std::floor(first * (1.0 / step) + 0.5);
            nearest = nearest < -8.0 ? -8.0 : (nearest > 7.0 ? 7.0 : nearest);
            if (!saturated && std::fabs(nearest * step - first) > 2.0) continue;
            ExactFollower follower{target,
                                   kCoefficients[predictor][0],
                                   kCoefficients[predictor][1],
                                   step,
                                   1.0 / step,
                                   64,
                                   out.nibbles};
            if (follower.Follow(0, start.s1, start.s2)) {
                out.predictor = predictor;
                out.shift = shift;
                return true;
            }
        }
    }
    return false;
}

// The outcome of searching one predictor and shift: for each sample, the child each path came
// from and the nibbles of the eight children; and the path that ends best.
struct Search {
    int predictor = 0;
    int shift = 0;
    int path = 0;
    float score = HUGE_VALF;
    std::uint8_t child[kSamplesPerBlock][kWidth];
    float nibble[kSamplesPerBlock][2 * kWidth];
};

// The beam: searches the nibbles of one block for one filter, predicting as the decoder does
// from its history. Four paths, each trying the two nibbles around its residual for the
// next sample, so eight children per sample (0-3 the nearer nibble of paths 0-3, 4-7 the other),
// of which the four with the least squared error so far go on. It gives up as soon as no path's
// error is below its bound.
struct Beam {
    Filter filter;
    Four s1, s2, error, cap;
    float giveUp;
    Search* out;
    bool running;

    void Start(const ChannelHistory& start, double largestMiss, int predictor, int shift,
               float bound, Search& search) {
        filter = FilterOf(predictor, shift);
        s1 = Make(static_cast<float>(start.s1), 0.0f, 0.0f, 0.0f);
        s2 = Make(static_cast<float>(start.s2), 0.0f, 0.0f, 0.0f);
        error = Make(kFirstError, kNoPath, kNoPath, kNoPath);
        // The second nibble may not make a sample worse than the nearer can make one (half a
        // step, and the rounding) or than the largest error already made.
        double allowed = 0.5 * static_cast<double>(1 << (kMaxShift - shift)) + 1.0;
        allowed = allowed > largestMiss ? allowed : largestMiss;
        cap = Splat(static_cast<float>((allowed + 0.5) * (allowed + 0.5)));
        giveUp = bound + kFirstError;
        out = &search;
        out->predictor = predictor;
        out->shift = shift;
        running = true;
    }

    // Sample i; false when the beam gives up there.
    bool Step(const float* target, std::size_t i) {
        const Four x = Splat(target[i]);
        const Prediction<Four> predicted = Predict(filter.c0, filter.c1, s1, s2);
        const Four residual =
            Min(Max(predicted.Residual(x, filter.inverse), Splat(-8.0f)), Splat(7.0f));
        // The two nibbles around the residual: base and base + 1 (6 and 7 at the top). (When the
        // residual is an odd whole number, base is one below it; it is still the nearer one.)
        const Four base = Min(Nearest(residual - Splat(0.5f)), Splat(6.0f));
        const Mask up = GreaterOrEqual(residual - base, Splat(0.5f));  // base + 1 is nearer
        const Four scaled = base * filter.step;
        const Four lower = predicted.Estimate(scaled);
        const Four upper = predicted.Estimate(scaled + filter.step);
        const Four lowerMiss = Narrow(lower) - x;
        const Four upperMiss = Narrow(upper) - x;
        const Four lowerError = lowerMiss * lowerMiss;
        const Four upperError = upperMiss * upperMiss;
        const Four nearError = Pick(up, upperError, lowerError);
        const Four farError = Pick(up, lowerError, upperError);
        const Four nearTotal = error + nearError;
        const Four farTotal =
            error + farError + Where(GreaterOrEqual(farError, cap), Splat(kNoPath));
        alignas(16) float value[2 * kWidth];
        alignas(16) float total[2 * kWidth];
        alignas(16) float older[kWidth];
        Store(value, Pick(up, upper, lower)), Store(value + kWidth, Pick(up, lower, upper));
        Store(total, nearTotal), Store(total + kWidth, farTotal);
        Store(older, s1);
        const Four one = Splat(1.0f);
        Store(out->nibble[i], base + Where(up, one)),
            Store(out->nibble[i] + kWidth, base + Pick(up, Splat(0.0f), one));
        const Four kept = LeastFour(Keyed(nearTotal, 0), Keyed(farTotal, kWidth));
        if (First(Min(kept, Shuffle<3, 2, 1, 0>(kept))) >= giveUp) return false;
        int c[kWidth];
        IndexesOf(kept, c);
        for (int r = 0; r < kWidth; ++r) out->child[i][r] = static_cast<std::uint8_t>(c[r]);
        s1 = Make(value[c[0]], value[c[1]], value[c[2]], value[c[3]]);
        s2 = Make(older[c[0] & 3], older[c[1] & 3], older[c[2] & 3], older[c[3] & 3]);
        error = Make(total[c[0]], total[c[1]], total[c[2]], total[c[3]]);
        return true;
    }
};

// Runs `count` beams side by side, sample by sample, so that the processor overlaps their chains;
// each stops where it gives up.
void RunSideBySide(Beam* beams, int count, const float* target) {
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        bool any = false;
        for (int b = 0; b < count; ++b) {
            if (beams[b].running) beams[b].running = beams[b].Step(target, i);
            any = any || beams[b].running;
        }
        if (!any) return;
    }
}

// Scoring: a path's score is its error plus kLookAheadWeight times its greedy error over the
// next block, when there is one. Picks the path that scores least (the first of equal ones), and
// returns true when that is below `bound`.
bool ScorePaths(const Beam& ends, const LookAhead& next, float bound, Search& out) {
    Four scores = ends.error - Splat(kFirstError);
    if (next.target != nullptr) {
        scores = scores + Splat(kLookAheadWeight) * GreedyError(next, ends.s1, ends.s2);
    }
    alignas(16) float score[kWidth];
    Store(score, scores);
    int path = 0;
    for (int r = 1; r < kWidth; ++r) path = score[r] < score[path] ? r : path;
    if (!(score[path] < bound)) return false;
    out.path = path;
    out.score = score[path];
    return true;
}

// What the input itself says about one predictor for the block: its residual predicted from
// the input (from `y1` and `y2` for the first two samples), the finest shift at which that fits
// the nibbles, and its energy.
struct Estimate {
    int predictor;
    int shift;
    bool fits;  // false when even the coarsest shift is too fine
    float energy;
};

// The estimates of all five predictors, side by side: predictors 0-3 in one register, 4 in
// another.
void EstimatePredictors(const float* target, float y1, float y2, Estimate* out) {
    auto coefficient = [](int predictor, int which) {
        return static_cast<float>(kCoefficients[predictor][which]);
    };
    const Four c0[2] = {
        Make(coefficient(0, 0), coefficient(1, 0), coefficient(2, 0), coefficient(3, 0)),
        Splat(coefficient(4, 0))};
    const Four c1[2] = {
        Make(coefficient(0, 1), coefficient(1, 1), coefficient(2, 1), coefficient(3, 1)),
        Splat(coefficient(4, 1))};
    Four s1 = Splat(y1), s2 = Splat(y2);
    Four peak[2] = {Splat(0.0f), Splat(0.0f)};
    Four energy[2] = {Splat(0.0f), Splat(0.0f)};
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const Four x = Splat(target[i]);
        for (int h = 0; h < 2; ++h) {
            const Four residual = x - Predict(c0[h], c1[h], s1, s2).Sum();
            peak[h] = Max(peak[h], Max(residual, Splat(0.0f) - residual));
            energy[h] = energy[h] + residual * residual;
        }
        s2 = s1;
        s1 = x;
    }
    alignas(16) float peaks[2 * 4];
    alignas(16) float energies[2 * 4];
    for (int h = 0; h < 2; ++h) Store(peaks + 4 * h, peak[h]), Store(energies + 4 * h, energy[h]);
    for (int predictor = 0; predictor < kPredictorCount; ++predictor) {
        int shift = kMaxShift;
        float reach = kFitReach;
        for (; shift > 0 && peaks[predictor] > reach; reach *= 2) --shift;
        out[predictor] = {predictor, shift, peaks[predictor] <= reach, energies[predictor]};
    }
}

// A predictor whose residual fits first (one that does not clips a sample by thousands, as at
// the edge of a full-scale square wave), then the finer shift (a finer step means less noise),
// then less residual energy.
bool Before(const Estimate& a, const Estimate& b) {
    if (a.fits != b.fits) return a.fits;
    if (a.shift != b.shift) return a.shift > b.shift;
    return a.energy < b.energy;
}

// The predictor and shift pairs worth searching, most promising first: the predictors ordered
// by their estimates (an insertion sort: the same order everywhere), each at its finest fitting
// shift and the next coarser one. Returns their number.
int PairsToSearch(const float* target, float y1, float y2, int* predictors, int* shifts) {
    Estimate estimates[kPredictorCount];
    EstimatePredictors(target, y1, y2, estimates);
    Estimate order[kPredictorCount];
    for (int p = 0; p < kPredictorCount; ++p) {
        const Estimate& estimate = estimates[p];
        int at = p;
        for (; at > 0 && Before(estimate, order[at - 1]); --at) order[at] = order[at - 1];
        order[at] = estimate;
    }
    int count = 0;
    for (int p = 0; p < kPredictorsSearched; ++p) {
        for (int shift = order[p].shift; shift >= 0 && shift >= order[p].shift - 1; --shift) {
            predictors[count] = order[p].predictor;
            shifts[count++] = shift;
        }
    }
    return count;
}

}  // namespace

void EncodeAdpcmBlock(const std::int16_t* samples, std::size_t stride, std::uint8_t flag,
                      EncoderChannel& channel, std::uint8_t* block, std::int16_t* decoded,
                      const std::int16_t* next) {
    double target[kSamplesPerBlock];
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) target[i] = samples[i * stride];
    Exact exact;
    int predictor = 0;
    int shift = 0;
    std::int8_t* nibbles = exact.nibbles;
    ChannelHistory& history = channel.history;
    if (FindExactBlock(target, history, exact)) {
        predictor = exact.predictor;
        shift = exact.shift;
    } else {
        // The samples as the search sees them: the block's, then the next block's.
        float searched[2 * kSamplesPerBlock];
        for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
            searched[i] = static_cast<float>(target[i]);
        }
        int predictors[kPairsSearched];
        int shifts[kPairsSearched];
        LookAhead ahead;
        if (next != nullptr) {
            float* later = searched + kSamplesPerBlock;
            for (std::size_t i = 0; i < kSamplesPerBlock; ++i) later[i] = next[i * stride];
            ahead.target = later;
            ahead.pairs = PairsToSearch(later, searched[kSamplesPerBlock - 1],
                                        searched[kSamplesPerBlock - 2], predictors, shifts);
            for (int f = 0; f < ahead.pairs; ++f) {
                ahead.filters[f] = FilterOf(predictors[f], shifts[f]);
            }
        }
        const int pairs = PairsToSearch(searched, static_cast<float>(history.s1),
                                        static_cast<float>(history.s2), predictors, shifts);
        // The candidates, kSideBySide at a time; each is given up once it cannot beat the best
        // score of those before, so the order of the candidates decides, not their grouping.
        Search searches[kSideBySide + 1];
        int best = 0;  // the search holding the best block so far; the others are scratch
        float bound = HUGE_VALF;
        for (int p = 0; p < pairs;) {
            const int count = pairs - p < kSideBySide ? pairs - p : kSideBySide;
            Beam beams[kSideBySide];
            for (int b = 0; b < count; ++b) {
                beams[b].Start(history, channel.largestMiss, predictors[p + b], shifts[p + b],
                               bound, searches[(best + 1 + b) % (kSideBySide + 1)]);
            }
            RunSideBySide(beams, count, searched);
            for (int b = 0; b < count; ++b) {
                Search& search = *beams[b].out;
                if (beams[b].running && ScorePaths(beams[b], ahead, bound, search)) {
                    best = static_cast<int>(&search - searches);
                    bound = search.score;
                }
            }
            p += count;
        }
        const Search& chosen = searches[best];
        for (int i = kSamplesPerBlock - 1, path = chosen.path; i >= 0; --i) {
            const int c = chosen.child[i][path];
            nibbles[i] = static_cast<std::int8_t>(chosen.nibble[i][c]);
            path = c & (kWidth - 1);
        }
        predictor = chosen.predictor;
        shift = chosen.shift;
    }

    // The block, and what the decoder will make of it.
    block[0] = static_cast<std::uint8_t>(predictor << 4 | shift);
    block[1] = flag;
    std::memset(block + 2, 0, kAdpcmBlockSize - 2);
    const double c0 = kCoefficients[predictor][0];
    const double c1 = kCoefficients[predictor][1];
    const double step = static_cast<double>(1 << (kMaxShift - shift));
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const int n = nibbles[i];
        block[2 + i / 2] |= static_cast<std::uint8_t>((n & 0x0F) << (i % 2 * 4));
        const double value = Predict(c0, c1, history.s1, history.s2).Value(n * step);
        history.s2 = history.s1;
        history.s1 = value;
        if (decoded != nullptr) decoded[i] = NarrowToSample(value);
        const double miss = std::fabs(NarrowToSample(value) - target[i]);
        channel.largestMiss = miss > channel.largestMiss ? miss : channel.largestMiss;
    }
}

}  // namespace sorvik
