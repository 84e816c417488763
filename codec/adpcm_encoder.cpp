#include "codec/adpcm_encoder.h"

#include <cmath>
#include <cstring>

#include "codec/adpcm_search.h"
#include "codec/adpcm_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sorvik {
namespace adpcm_detail {
namespace {

#if defined(__SSE2__)
// Four floats in an SSE register, one beam's paths (see PlainFour for the operations).
struct SseFour {
    static constexpr int kGroups = 1;
    static constexpr bool kPermutesInRegisters = false;
    __m128 v;
    struct Mask {
        __m128 v;
    };
    static SseFour Splat(float x) { return {_mm_set1_ps(x)}; }
    static SseFour Groups(const float* perGroup) { return Splat(perGroup[0]); }
    static SseFour Load(const float* p) { return {_mm_loadu_ps(p)}; }
    static SseFour Gather(const float* values, const int* offsets) {
        return {_mm_set_ps(values[offsets[3]], values[offsets[2]], values[offsets[1]],
                           values[offsets[0]])};
    }
};
inline void Store(float* p, SseFour a) { _mm_storeu_ps(p, a.v); }
inline SseFour operator+(SseFour a, SseFour b) { return {_mm_add_ps(a.v, b.v)}; }
inline SseFour operator-(SseFour a, SseFour b) { return {_mm_sub_ps(a.v, b.v)}; }
inline SseFour operator*(SseFour a, SseFour b) { return {_mm_mul_ps(a.v, b.v)}; }
inline SseFour Max(SseFour a, SseFour b) { return {_mm_max_ps(a.v, b.v)}; }
inline SseFour Min(SseFour a, SseFour b) { return {_mm_min_ps(a.v, b.v)}; }
inline SseFour KeyMin(SseFour a, SseFour b) { return Min(a, b); }
inline SseFour KeyMax(SseFour a, SseFour b) { return Max(a, b); }
inline SseFour Abs(SseFour a) { return {_mm_andnot_ps(_mm_set1_ps(-0.0f), a.v)}; }
inline SseFour Truncate(SseFour a) { return {_mm_cvtepi32_ps(_mm_cvttps_epi32(a.v))}; }
inline SseFour::Mask GreaterOrEqual(SseFour a, SseFour b) { return {_mm_cmpge_ps(a.v, b.v)}; }
inline SseFour Pick(SseFour::Mask m, SseFour a, SseFour b) {
    return {_mm_or_ps(_mm_and_ps(m.v, a.v), _mm_andnot_ps(m.v, b.v))};
}
template <int L0, int L1, int L2, int L3>
inline SseFour Shuffle(SseFour a) {
    return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(L3, L2, L1, L0))};
}
template <int L0, int L1, int L2, int L3>
inline SseFour Combine(SseFour a, SseFour b) {
    return {_mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(L3, L2, L1, L0))};
}
inline SseFour Keyed(SseFour a, int first) {
    const __m128i bits = _mm_and_si128(_mm_castps_si128(a.v), _mm_set1_epi32(~7));
    const __m128i index = _mm_set_epi32(first + 3, first + 2, first + 1, first);
    return {_mm_castsi128_ps(_mm_or_si128(bits, index))};
}
inline void IndexesOf(SseFour key, int* out) {
    const __m128i bits = _mm_and_si128(_mm_castps_si128(key.v), _mm_set1_epi32(7));
    out[0] = _mm_cvtsi128_si32(bits);
    out[1] = _mm_extract_epi16(bits, 2);
    out[2] = _mm_extract_epi16(bits, 4);
    out[3] = _mm_extract_epi16(bits, 6);
}
inline FourPicks PicksOf(SseFour kept) { return PicksOfFour(kept); }
inline SseFour Chosen(const FourPicks& picks, SseFour nearRow, SseFour farRow) {
    return ChosenOfFour(picks, nearRow, farRow);
}
inline SseFour Parents(const FourPicks& picks, SseFour row) { return ParentsOfFour(picks, row); }
using Four = SseFour;
#else
using Four = PlainFour;
#endif

// A block that makes `target` exactly from the decoder's history `start`, when there is one: the
// first predictor (0 to 4) and, for it, the coarsest shift that does. A sound decoded from blocks
// so found gives the same blocks back (where the shifts are equal, the values are too, so the
// history goes on unchanged).
struct Exact {
    int predictor = 0;
    int shift = 0;
    std::int8_t nibbles[kSamplesPerBlock];
};

// The whole number nearest to `residual` (half up) within the nibbles' -8 to 7: the residual is
// first brought within reach of them, then rounded by conversion, which truncates toward zero.
double NearestNibble(double residual) {
    const double bounded = residual < -8.5 ? -8.5 : (residual > 7.5 ? 7.5 : residual);
    const double biased = bounded + 0.5;
    const auto truncated = static_cast<double>(static_cast<int>(biased));
    const double nearest = truncated > biased ? truncated - 1.0 : truncated;
    return nearest < -8.0 ? -8.0 : (nearest > 7.0 ? 7.0 : nearest);
}

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
        const double nearest = NearestNibble(predicted.Residual(x, inverse));
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

// The place of the highest bit set in `bits` (not 0), read from the exponent of its conversion
// to double, which is exact.
int HighestBit(unsigned bits) {
    const double converted = bits;
    std::uint64_t representation;
    std::memcpy(&representation, &converted, sizeof representation);
    return static_cast<int>(representation >> 52) - 1023;
}

// The coarsest shift worth following for a block whose first sample leaves `first` to its
// nibble: a shift can make the sample only if its step has a multiple from 1.5 units below
// `first` to 0.5 above (a value makes a sample x from x - 1.5 to x + 0.5, as the decoder rounds
// half up and then truncates toward zero); a tenth of a unit is spared for the rounding of the
// sums. Steps are powers of two, so those are the steps that divide one of the whole numbers in
// that window, and every finer step does too. Never a shift that could make the sample is left
// out, and following a shift is exact anyway.
int CoarsestWithinReach(double first) {
    if (!(std::fabs(first) < 1e9)) return 0;
    // The whole numbers from low to high (rounded by conversion, which truncates, and a
    // correction where that went up or down).
    const double below = first - 1.6, above = first + 0.6;
    auto low = static_cast<long long>(below), high = static_cast<long long>(above);
    low += static_cast<double>(low) < below ? 1 : 0;
    high -= static_cast<double>(high) > above ? 1 : 0;
    // Of those, the one with the most trailing zeros has them up to the highest bit in which
    // low - 1 and high differ.
    const auto differ = static_cast<unsigned long long>((low - 1) ^ high);
    if (differ >> kMaxShift != 0) return 0;
    return kMaxShift - HighestBit(static_cast<unsigned>(differ));
}

// `estimates`: what the input says of each predictor, here its peak, the largest residual. A block
// made exactly has every residual from the decoder's history within -8.5 to 7.5 steps (a value
// makes a sample x from x - 1.5 to x + 0.5); the input's samples are that history narrowed, at
// most 1.5 off, which moves a prediction by at most 1.5 * (122 + 60) / 64 < 4.3. So no shift
// whose eight steps and seven units fall short of the peak can make the block; unless a sample
// is at full scale, where the decoder's value may be any distance beyond it.
bool FindExactBlock(const double* target, const ChannelHistory& start, const Estimate* estimates,
                    bool clipped, Exact& out) {
    const bool saturated = target[0] == 32767.0 || target[0] == -32768.0;
    for (int predictor = 0; predictor < kPredictorCount; ++predictor) {
        const double first =
            Predict(kCoefficients[predictor][0], kCoefficients[predictor][1], start.s1, start.s2)
                .Residual(target[0], 1.0);
        for (int shift = saturated ? 0 : CoarsestWithinReach(first); shift <= kMaxShift; ++shift) {
            if (!clipped && estimates[predictor].peak > 8.0f * kSteps.step[shift] + 7.0f) break;
            const double step = static_cast<double>(1 << (kMaxShift - shift));
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

// The estimates of a block (see EstimatePredictors), in the kind of arithmetic that runs.
bool EstimatePredictorsWith(Kernel kernel, const float* target, float y1, float y2,
                            Estimate* estimates) {
#if defined(SORVIK_AVX2_KERNEL)
    if (kernel == Kernel::Avx2 && KernelRuns(kernel)) {
        return EstimatePredictorsAvx2(target, y1, y2, estimates);
    }
#endif
    static_cast<void>(kernel);
    return EstimatePredictors<Four>(target, y1, y2, estimates);
}

// Trial encodings of a block (see TrialErrors), in the kind of arithmetic that runs.
void TrialErrorsWith(Kernel kernel, const float* target, float y1, float y2,
                     const Estimate* estimates, float* errors) {
#if defined(SORVIK_AVX2_KERNEL)
    if (kernel == Kernel::Avx2 && KernelRuns(kernel)) {
        return TrialErrorsAvx2(target, y1, y2, estimates, errors);
    }
#endif
    static_cast<void>(kernel);
    TrialErrors<Four>(target, y1, y2, estimates, errors);
}

// The candidates of a block, from its decoder's history: the estimate's pairs (see
// PairsToSearch), and one more where a trial encoding of another predictor or shift makes less
// error than each of theirs. All ordered by their trial errors, least first (the best found early
// gives up the others sooner), which go to `trialErrors`. Returns their number.
int CandidatesOf(Kernel kernel, const float* target, float y1, float y2, const Estimate* estimates,
                 int* predictors, int* shifts, float* trialErrors) {
    float errors[kTrialCount];
    TrialErrorsWith(kernel, target, y1, y2, estimates, errors);
    int ranked[kPredictorCount];
    RankPredictors(estimates, ranked);
    bool taken[kTrialCount] = {};
    for (int p = 0; p < kPredictorCount; ++p) {
        taken[2 * p + 1] = estimates[p].shift == 0;  // no coarser shift: the same as the finest
    }
    int trials[kPairsSearched];
    int count = 0;
    float least = HUGE_VALF;
    for (int r = 0; r < kEstimatedPredictors; ++r) {
        for (int k = 2 * ranked[r]; k <= 2 * ranked[r] + 1; ++k) {
            if (taken[k]) continue;
            taken[k] = true;
            trials[count++] = k;
            least = errors[k] < least ? errors[k] : least;
        }
    }
    int other = -1;
    for (int k = 0; k < kTrialCount; ++k) {
        if (!taken[k] && errors[k] < least) other = k, least = errors[k];
    }
    if (other >= 0) trials[count++] = other;
    for (int j = 1; j < count; ++j) {  // an insertion sort, which keeps equal ones in order
        const int k = trials[j];
        int at = j;
        for (; at > 0 && errors[k] < errors[trials[at - 1]]; --at) trials[at] = trials[at - 1];
        trials[at] = k;
    }
    for (int j = 0; j < count; ++j) {
        predictors[j] = trials[j] / 2;
        shifts[j] = estimates[trials[j] / 2].shift - trials[j] % 2;
        trialErrors[j] = errors[trials[j]];
    }
    return count;
}

void SearchBlockWith(Kernel kernel, const SearchTask& task, SearchChoice& choice) {
    if (!KernelRuns(kernel)) kernel = Kernel::Portable;
    switch (kernel) {
#if defined(SORVIK_AVX2_KERNEL)
        case Kernel::Avx2:
            return SearchBlockAvx2(task, choice);
#endif
#if defined(__SSE2__)
        case Kernel::Sse2:
            return SearchCandidates<SseFour>(task, choice);
#endif
        default:
            return SearchCandidates<PlainFour>(task, choice);
    }
}

}  // namespace

void EncodeAdpcmBlockWith(Kernel kernel, const std::int16_t* samples, std::size_t stride,
                          std::uint8_t flag, EncoderChannel& channel, std::uint8_t* block,
                          std::int16_t* decoded, const std::int16_t* next) {
    double target[kSamplesPerBlock];
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) target[i] = samples[i * stride];
    ChannelHistory& history = channel.history;
    Exact exact;
    SearchChoice searched;
    int predictor = 0;
    int shift = 0;
    const std::int8_t* nibbles = exact.nibbles;
    // The samples as the search sees them: the block's, then the next block's.
    float samplesSearched[2 * kSamplesPerBlock];
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        samplesSearched[i] = static_cast<float>(target[i]);
    }
    const float y1 = static_cast<float>(history.s1), y2 = static_cast<float>(history.s2);
    Estimate estimates[kPredictorCount];
    const bool clipped = EstimatePredictorsWith(kernel, samplesSearched, y1, y2, estimates);
    if (FindExactBlock(target, history, estimates, clipped, exact)) {
        predictor = exact.predictor;
        shift = exact.shift;
    } else {
        SearchTask task;
        task.target = samplesSearched;
        task.history = history;
        task.largestMiss = channel.largestMiss;
        if (next != nullptr) {
            float* later = samplesSearched + kSamplesPerBlock;
            for (std::size_t i = 0; i < kSamplesPerBlock; ++i) later[i] = next[i * stride];
            task.next = later;
        }
        task.pairs = CandidatesOf(kernel, samplesSearched, y1, y2, estimates, task.predictors,
                                  task.shifts, task.trialErrors);
        SearchBlockWith(kernel, task, searched);
        predictor = searched.predictor;
        shift = searched.shift;
        nibbles = searched.nibbles;
    }

    // The block, and what the decoder will make of it (in local variables, which the block's
    // bytes cannot alias, so that the chain of the history stays in registers).
    std::uint8_t bytes[kAdpcmBlockSize] = {static_cast<std::uint8_t>(predictor << 4 | shift), flag};
    const double c0 = kCoefficients[predictor][0];
    const double c1 = kCoefficients[predictor][1];
    const double step = static_cast<double>(1 << (kMaxShift - shift));
    double s1 = history.s1, s2 = history.s2, largestMiss = channel.largestMiss;
    std::int16_t samplesMade[kSamplesPerBlock];
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const int n = nibbles[i];
        bytes[2 + i / 2] |= static_cast<std::uint8_t>((n & 0x0F) << (i % 2 * 4));
        const double value = Predict(c0, c1, s1, s2).Value(n * step);
        s2 = s1;
        s1 = value;
        samplesMade[i] = NarrowToSample(value);
        const double miss = std::fabs(samplesMade[i] - target[i]);
        largestMiss = miss > largestMiss ? miss : largestMiss;
    }
    std::memcpy(block, bytes, kAdpcmBlockSize);
    if (decoded != nullptr) std::memcpy(decoded, samplesMade, sizeof samplesMade);
    history = {s1, s2};
    channel.largestMiss = largestMiss;
}

}  // namespace adpcm_detail

void EncodeAdpcmBlock(const std::int16_t* samples, std::size_t stride, std::uint8_t flag,
                      EncoderChannel& channel, std::uint8_t* block, std::int16_t* decoded,
                      const std::int16_t* next) {
    adpcm_detail::EncodeAdpcmBlockWith(adpcm_detail::FastestKernel(), samples, stride, flag,
                                       channel, block, decoded, next);
}

}  // namespace sorvik
