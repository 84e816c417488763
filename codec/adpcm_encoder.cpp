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
constexpr double kFitReach = 10.0;
// The paths of the beam, and the error a path starts with when it is not one: larger than any
// block's error (28 * 65535^2 < 2^37), small enough that an error times 8 plus a child's index
// stays an exact integer below 2^52.
constexpr int kWidth = 4;
constexpr double kNoPath = 17592186044416.0;  // 2^44
// How much of the next block's estimated error counts against a block's own.
constexpr double kLookAheadWeight = 0.5;

// Two doubles side by side: an SSE2 register where there is one, else a pair of plain doubles.
// Every operation is the same IEEE double operation in both, lane by lane, so both give the same
// bits.
#if defined(__SSE2__) && !defined(SORVIK_PORTABLE_ENCODER)
struct Two {
    __m128d v;
};
inline Two Make(double lo, double hi) { return {_mm_set_pd(hi, lo)}; }
inline Two Splat(double x) { return {_mm_set1_pd(x)}; }
inline Two Load(const double* p) { return {_mm_loadu_pd(p)}; }
inline void Store(double* p, Two a) { _mm_storeu_pd(p, a.v); }
inline Two operator+(Two a, Two b) { return {_mm_add_pd(a.v, b.v)}; }
inline Two operator-(Two a, Two b) { return {_mm_sub_pd(a.v, b.v)}; }
inline Two operator*(Two a, Two b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Two Max(Two a, Two b) { return {_mm_max_pd(a.v, b.v)}; }  // a > b ? a : b
inline Two Min(Two a, Two b) { return {_mm_min_pd(a.v, b.v)}; }  // a < b ? a : b
// The integer part, for values within the range of a 32-bit integer.
inline Two Truncate(Two a) { return {_mm_cvtepi32_pd(_mm_cvttpd_epi32(a.v))}; }
// `then` where a >= b, else 0.
inline Two IfGreaterOrEqual(Two a, Two b, Two then) {
    return {_mm_and_pd(_mm_cmpge_pd(a.v, b.v), then.v)};
}
inline Two Swapped(Two a) { return {_mm_shuffle_pd(a.v, a.v, 1)}; }
inline Two Lows(Two a, Two b) { return {_mm_unpacklo_pd(a.v, b.v)}; }
inline Two Highs(Two a, Two b) { return {_mm_unpackhi_pd(a.v, b.v)}; }
// The low three bits of two exact integers from 0 to 2^52.
inline void LowBits(Two a, int* out) {
    const __m128i bits = _mm_and_si128(_mm_castpd_si128(_mm_add_pd(a.v, _mm_set1_pd(4503599627370496.0))),
                                       _mm_set1_epi32(7));
    out[0] = _mm_cvtsi128_si32(bits);
    out[1] = _mm_cvtsi128_si32(_mm_shuffle_epi32(bits, 2));
}
#else
struct Two {
    double lo, hi;
};
inline Two Make(double lo, double hi) { return {lo, hi}; }
inline Two Splat(double x) { return {x, x}; }
inline Two Load(const double* p) { return {p[0], p[1]}; }
inline void Store(double* p, Two a) { p[0] = a.lo, p[1] = a.hi; }
inline Two operator+(Two a, Two b) { return {a.lo + b.lo, a.hi + b.hi}; }
inline Two operator-(Two a, Two b) { return {a.lo - b.lo, a.hi - b.hi}; }
inline Two operator*(Two a, Two b) { return {a.lo * b.lo, a.hi * b.hi}; }
inline Two Max(Two a, Two b) { return {a.lo > b.lo ? a.lo : b.lo, a.hi > b.hi ? a.hi : b.hi}; }
inline Two Min(Two a, Two b) { return {a.lo < b.lo ? a.lo : b.lo, a.hi < b.hi ? a.hi : b.hi}; }
inline Two Truncate(Two a) {
    return {static_cast<double>(static_cast<int>(a.lo)), static_cast<double>(static_cast<int>(a.hi))};
}
inline Two IfGreaterOrEqual(Two a, Two b, Two then) {
    return {a.lo >= b.lo ? then.lo : 0.0, a.hi >= b.hi ? then.hi : 0.0};
}
inline Two Swapped(Two a) { return {a.hi, a.lo}; }
inline Two Lows(Two a, Two b) { return {a.lo, b.lo}; }
inline Two Highs(Two a, Two b) { return {a.hi, b.hi}; }
inline void LowBits(Two a, int* out) {
    out[0] = static_cast<int>(static_cast<long long>(a.lo) & 7);
    out[1] = static_cast<int>(static_cast<long long>(a.hi) & 7);
}
#endif

// The decoder's prediction from its history (s1 the newest value, s2 the one before), operation
// for operation, in doubles or two at a time. Every value the encoder predicts comes from here,
// so it is the decoder's to the last bit.
template <typename T>
struct Prediction {
    T older;  // c1 * s2
    T newer;  // c0 * s1
    // The value a nibble times the step makes: the decoder's sum, in the decoder's order.
    T Value(T scaled) const { return (scaled + older) + newer; }
    // What `x` leaves to the nibble, in steps (`inverse` is 1 / step).
    T Residual(T x, T inverse) const { return (x - (older + newer)) * inverse; }
};

template <typename T>
inline Prediction<T> Predict(T c0, T c1, T s1, T s2) {
    return {c1 * s2, c0 * s1};
}

// Orders two registers' lanes pairwise: the lesser of each pair into `a`.
inline void Order(Two& a, Two& b) {
    const Two low = Min(a, b);
    b = Max(a, b);
    a = low;
}

// What decoding with one predictor and shift needs.
struct Filter {
    Two c0, c1, step, inverse;
};

Filter FilterOf(int predictor, int shift) {
    const double step = static_cast<double>(1 << (kMaxShift - shift));
    return {Splat(kCoefficients[predictor][0]), Splat(kCoefficients[predictor][1]), Splat(step),
            Splat(1.0 / step)};  // a power of two: exact
}

// The sample the decoder makes of a value, as a double.
inline Two Narrow(Two value) {
    const Two biased = value + Splat(0.5);
    return Truncate(Min(Max(biased, Splat(-32768.0)), Splat(32767.0)));
}

// The next block, when there is one: its samples and the predictors and shifts that estimate
// what it will cost.
struct LookAhead {
    const double* target = nullptr;
    int pairs = 0;
    Filter filters[kPairsSearched];
};

// Four paths' squared error over the next block, each predicting greedily (the nearest nibble)
// from its own history with the best of the look-ahead's filters. All filters and paths run side
// by side, as chains independent of each other, so that their latencies overlap.
Two GreedyError(const LookAhead& next, const double* s1In, const double* s2In, Two* second) {
    constexpr int kChains = 2 * kPairsSearched;
    Two s1[kChains], s2[kChains], error[kChains];
    for (int c = 0; c < kChains; ++c) {
        s1[c] = Load(s1In + 2 * (c & 1)), s2[c] = Load(s2In + 2 * (c & 1)), error[c] = Splat(0.0);
    }
    const int chains = 2 * next.pairs;
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const Two x = Splat(next.target[i]);
        for (int c = 0; c < chains; ++c) {
            const Filter& filter = next.filters[c >> 1];
            const Prediction<Two> predicted = Predict(filter.c0, filter.c1, s1[c], s2[c]);
            const Two residual =
                Min(Max(predicted.Residual(x, filter.inverse), Splat(-8.0)), Splat(7.0));
            const Two nibble = Min(Truncate(residual + Splat(8.5)) - Splat(8.0), Splat(7.0));
            const Two value = predicted.Value(nibble * filter.step);
            const Two miss = Narrow(value) - x;
            error[c] = error[c] + miss * miss;
            s2[c] = s1[c];
            s1[c] = value;
        }
    }
    Two best[2] = {error[0], error[1]};
    for (int c = 2; c < chains; ++c) best[c & 1] = Min(best[c & 1], error[c]);
    *second = best[1];
    return best[0];
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
        // past most shifts.
        const double first = Predict(kCoefficients[predictor][0], kCoefficients[predictor][1],
                                     start.s1, start.s2)
                                 .Residual(target[0], 1.0);
        for (int shift = 0; shift <= kMaxShift; ++shift) {
            const double step = static_cast<double>(1 << (kMaxShift - shift));
            double nearest = std::floor(first / step + 0.5);
            nearest = nearest < -8.0 ? -8.0 : (nearest > 7.0 ? 7.0 : nearest);
            if (!saturated && std::fabs(nearest * step - first) > 2.0) continue;
            ExactFollower follower{target,   kCoefficients[predictor][0],
                                   kCoefficients[predictor][1],
                                   step,     1.0 / step,
                                   64,       out.nibbles};
            if (follower.Follow(0, start.s1, start.s2)) {
                out.predictor = predictor;
                out.shift = shift;
                return true;
            }
        }
    }
    return false;
}

// The outcome of searching one predictor and shift: the paths' nibbles and parents, sample by
// sample, and the path that ends best.
struct Search {
    int predictor = 0;
    int shift = 0;
    int path = 0;
    double score = HUGE_VAL;
    std::uint8_t parent[kSamplesPerBlock][kWidth];
    std::int8_t nibble[kSamplesPerBlock][kWidth];
};

// The beam's paths at the end of a block: each one's history and squared error.
struct PathEnds {
    alignas(16) double s1[kWidth];
    alignas(16) double s2[kWidth];
    alignas(16) double error[kWidth];
};

// The beam: searches the nibbles of one block for one filter, predicting exactly as the decoder
// does from the decoder's history `start`. Four paths, each trying its two nearest nibbles for
// the next sample, so eight children per sample, of which the four with the least squared error
// so far go on. A child's key is its error times 8 plus its index, an exact integer, so no two
// are equal and the four least are the same set, in the same order, everywhere. Gives up as
// soon as no path's error is below `bound`; else records the paths in `out` and returns true.
bool RunBeam(const double* target, const ChannelHistory& start, double largestMiss,
             const Filter& filter, int shift, double bound, PathEnds& ends, Search& out) {
    double* s1 = ends.s1;
    double* s2 = ends.s2;
    double* error = ends.error;
    s1[0] = start.s1, s2[0] = start.s2, error[0] = 0.0;
    for (int r = 1; r < kWidth; ++r) s1[r] = 0.0, s2[r] = 0.0, error[r] = kNoPath;
    const Two index[4] = {Make(0, 1), Make(2, 3), Make(4, 5), Make(6, 7)};
    // A second-nearest nibble may not make a sample worse than the nearest can make one (half a
    // step, and the rounding) or than the largest error already made.
    double allowed = 0.5 * static_cast<double>(1 << (kMaxShift - shift)) + 1.0;
    allowed = allowed > largestMiss ? allowed : largestMiss;
    const Two cap = Splat((allowed + 0.5) * (allowed + 0.5));
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const Two x = Splat(target[i]);
        // Children 0-3: the nearest nibble of paths 0-3; children 4-7: the second nearest.
        alignas(16) double value[2 * kWidth];
        alignas(16) double total[2 * kWidth];
        alignas(16) double chosen[2 * kWidth];
        Two key[4];
        for (int h = 0; h < 2; ++h) {
            const Prediction<Two> predicted =
                Predict(filter.c0, filter.c1, Load(s1 + 2 * h), Load(s2 + 2 * h));
            const Two residual =
                Min(Max(predicted.Residual(x, filter.inverse), Splat(-8.0)), Splat(7.0));
            const Two low = Truncate(residual + Splat(8.0)) - Splat(8.0);  // floor: sum >= 0
            const Two up = IfGreaterOrEqual(residual - low, Splat(0.5), Splat(1.0));
            const Two first = low + up;
            Two second = low + (Splat(1.0) - up);
            second = second - IfGreaterOrEqual(second, Splat(8.0), Splat(2.0));  // 8: 6 instead
            const Two errors = Load(error + 2 * h);
            const Two v0 = predicted.Value(first * filter.step);
            const Two v1 = predicted.Value(second * filter.step);
            const Two m0 = Narrow(v0) - x;
            const Two m1 = Narrow(v1) - x;
            const Two t0 = errors + m0 * m0;
            const Two t1 = errors + m1 * m1 + IfGreaterOrEqual(m1 * m1, cap, Splat(kNoPath));
            Store(value + 2 * h, v0), Store(value + 4 + 2 * h, v1);
            Store(total + 2 * h, t0), Store(total + 4 + 2 * h, t1);
            Store(chosen + 2 * h, first), Store(chosen + 4 + 2 * h, second);
            key[h] = t0 * Splat(8.0) + index[h];
            key[2 + h] = t1 * Splat(8.0) + index[2 + h];
        }
        // The four least keys, in order: sort each lane's four (a network of five), take the
        // least four of the two sorted columns (a bitonic sequence) and sort those.
        Order(key[0], key[1]), Order(key[2], key[3]);
        Order(key[0], key[2]), Order(key[1], key[3]);
        Order(key[1], key[2]);
        const Two x0 = Min(key[0], Swapped(key[3]));
        const Two y0 = Swapped(Min(key[1], Swapped(key[2])));
        Two low = Min(x0, y0), high = Max(x0, y0);
        Two a = Lows(low, high), b = Highs(low, high);
        Order(a, b);  // a: ranks 0 and 2; b: ranks 1 and 3
        int child[kWidth];
        LowBits(Lows(a, b), child);
        LowBits(Highs(a, b), child + 2);
        if (total[child[0]] >= bound) return false;
        double nextS1[kWidth], nextS2[kWidth], nextError[kWidth];
        for (int r = 0; r < kWidth; ++r) {
            const int c = child[r];
            nextS1[r] = value[c];
            nextS2[r] = s1[c & 3];
            nextError[r] = total[c];
            out.parent[i][r] = static_cast<std::uint8_t>(c & 3);
            out.nibble[i][r] = static_cast<std::int8_t>(chosen[c]);
        }
        std::memcpy(s1, nextS1, sizeof nextS1);
        std::memcpy(s2, nextS2, sizeof nextS2);
        std::memcpy(error, nextError, sizeof nextError);
    }
    return true;
}

// Scoring: a path's score is its error plus kLookAheadWeight times its greedy error over the
// next block, when there is one. Picks the path that scores least, and returns true when that
// is below `bound`.
bool ScorePaths(const PathEnds& ends, const LookAhead& next, double bound, Search& out) {
    alignas(16) double score[kWidth];
    std::memcpy(score, ends.error, sizeof score);
    if (next.target != nullptr) {
        Two later[2];
        later[0] = GreedyError(next, ends.s1, ends.s2, &later[1]);
        for (int h = 0; h < 2; ++h) {
            Store(score + 2 * h, Load(ends.error + 2 * h) + Splat(kLookAheadWeight) * later[h]);
        }
    }
    int path = 0;
    for (int r = 1; r < kWidth; ++r) path = score[r] < score[path] ? r : path;
    if (!(score[path] < bound)) return false;
    out.path = path;
    out.score = score[path];
    return true;
}

// One predictor and shift: the beam, then the scoring; fills `out` and returns true when the
// block scores below `bound`.
bool SearchBlock(const double* target, const EncoderChannel& start, int predictor, int shift,
                 const LookAhead& next, double bound, Search& out) {
    PathEnds ends;
    if (!RunBeam(target, start.history, start.largestMiss, FilterOf(predictor, shift), shift,
                 bound, ends, out) ||
        !ScorePaths(ends, next, bound, out)) {
        return false;
    }
    out.predictor = predictor;
    out.shift = shift;
    return true;
}

// What the input itself says about one predictor for the block: its residual predicted from
// the input (from `y1` and `y2` for the first two samples), the finest shift at which that fits
// the nibbles, and its energy.
struct Estimate {
    int predictor;
    int shift;
    bool fits;  // false when even the coarsest shift is too fine
    double energy;
};

Estimate EstimatePredictor(const double* target, double y1, double y2, int predictor) {
    const double c0 = kCoefficients[predictor][0];
    const double c1 = kCoefficients[predictor][1];
    double peak = 0.0;
    double energy = 0.0;
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const double residual = Predict(c0, c1, y1, y2).Residual(target[i], 1.0);
        const double size = std::fabs(residual);
        peak = size > peak ? size : peak;
        energy += residual * residual;
        y2 = y1;
        y1 = target[i];
    }
    int shift = kMaxShift;
    double reach = kFitReach;
    for (; shift > 0 && peak > reach; reach *= 2) --shift;
    return {predictor, shift, peak <= reach, energy};
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
int PairsToSearch(const double* target, double y1, double y2, int* predictors, int* shifts) {
    Estimate order[kPredictorCount];
    for (int p = 0; p < kPredictorCount; ++p) {
        const Estimate estimate = EstimatePredictor(target, y1, y2, p);
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
    double target[2 * kSamplesPerBlock];
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
        int predictors[kPairsSearched];
        int shifts[kPairsSearched];
        LookAhead ahead;
        if (next != nullptr) {
            double* later = target + kSamplesPerBlock;
            for (std::size_t i = 0; i < kSamplesPerBlock; ++i) later[i] = next[i * stride];
            ahead.target = later;
            ahead.pairs = PairsToSearch(later, target[kSamplesPerBlock - 1],
                                        target[kSamplesPerBlock - 2], predictors, shifts);
            for (int f = 0; f < ahead.pairs; ++f) {
                ahead.filters[f] = FilterOf(predictors[f], shifts[f]);
            }
        }
        const int pairs = PairsToSearch(target, history.s1, history.s2, predictors, shifts);
        Search searches[2];
        int best = 0;  // the search holding the best block so far; the other is scratch
        for (int p = 0; p < pairs; ++p) {
            if (SearchBlock(target, channel, predictors[p], shifts[p], ahead,
                            searches[best].score, searches[1 - best])) {
                best = 1 - best;
            }
        }
        const Search& chosen = searches[best];
        for (int i = kSamplesPerBlock - 1, path = chosen.path; i >= 0; --i) {
            nibbles[i] = chosen.nibble[i][path];
            path = chosen.parent[i][path];
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
