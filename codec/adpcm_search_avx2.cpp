// The encoder's search with two beams to an AVX2 register of eight floats. This file alone is
// compiled for AVX2; adpcm_encoder.cpp calls it only on processors that run AVX2. (No fused
// multiply-add: that is a separate instruction set, never enabled, and contraction is off for
// the whole build.)

#include <immintrin.h>

#include "codec/adpcm_search.h"

namespace sorvik::adpcm_detail {
namespace {

// Eight floats, two beams' paths: lanes 0-3 one beam, 4-7 the other (see PlainFour for the
// operations). AVX2's shuffles work on each half on its own, which is what a group of four
// needs.
struct Eight {
    static constexpr int kGroups = 2;
    static constexpr bool kPermutesInRegisters = true;
    __m256 v;
    struct Mask {
        __m256 v;
    };
    static Eight Splat(float x) { return {_mm256_set1_ps(x)}; }
    static Eight Groups(const float* perGroup) {
        return {_mm256_set_m128(_mm_set1_ps(perGroup[1]), _mm_set1_ps(perGroup[0]))};
    }
    static Eight Load(const float* p) { return {_mm256_loadu_ps(p)}; }
};
inline void Store(float* p, Eight a) { _mm256_storeu_ps(p, a.v); }
inline Eight operator+(Eight a, Eight b) { return {_mm256_add_ps(a.v, b.v)}; }
inline Eight operator-(Eight a, Eight b) { return {_mm256_sub_ps(a.v, b.v)}; }
inline Eight operator*(Eight a, Eight b) { return {_mm256_mul_ps(a.v, b.v)}; }
inline Eight Max(Eight a, Eight b) { return {_mm256_max_ps(a.v, b.v)}; }
inline Eight Min(Eight a, Eight b) { return {_mm256_min_ps(a.v, b.v)}; }
// Keys compared as the integers their bits make: a shorter latency than floats'.
inline Eight KeyMin(Eight a, Eight b) {
    return {
        _mm256_castsi256_ps(_mm256_min_epi32(_mm256_castps_si256(a.v), _mm256_castps_si256(b.v)))};
}
inline Eight KeyMax(Eight a, Eight b) {
    return {
        _mm256_castsi256_ps(_mm256_max_epi32(_mm256_castps_si256(a.v), _mm256_castps_si256(b.v)))};
}
inline Eight Abs(Eight a) {  // the sign bit cleared
    return {_mm256_andnot_ps(_mm256_set1_ps(-0.0f), a.v)};
}
inline Eight Truncate(Eight a) {  // the same as converting to integers and back
    return {_mm256_round_ps(a.v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)};
}
// The nearest whole number (of two, the even one): what adding and subtracting 1.5 * 2^23 gives,
// in one operation.
inline Eight Nearest(Eight a) {
    return {_mm256_round_ps(a.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)};
}
inline Eight::Mask GreaterOrEqual(Eight a, Eight b) {
    return {_mm256_cmp_ps(a.v, b.v, _CMP_GE_OS)};
}
inline Eight Pick(Eight::Mask m, Eight a, Eight b) { return {_mm256_blendv_ps(b.v, a.v, m.v)}; }
template <int L0, int L1, int L2, int L3>
inline Eight Shuffle(Eight a) {
    return {_mm256_shuffle_ps(a.v, a.v, _MM_SHUFFLE(L3, L2, L1, L0))};
}
template <int L0, int L1, int L2, int L3>
inline Eight Combine(Eight a, Eight b) {
    return {_mm256_shuffle_ps(a.v, b.v, _MM_SHUFFLE(L3, L2, L1, L0))};
}
inline Eight Keyed(Eight a, int first) {
    const __m256i bits = _mm256_and_si256(_mm256_castps_si256(a.v), _mm256_set1_epi32(~7));
    const __m256i index = _mm256_set_epi32(first + 3, first + 2, first + 1, first, first + 3,
                                           first + 2, first + 1, first);
    return {_mm256_castsi256_ps(_mm256_or_si256(bits, index))};
}
// The children that go on: the keys, whose two lowest bits are each one's lane in its group of
// four, which is all that AVX's in-lane permutes read; and which row (the key's third bit, moved
// into the sign).
struct EightPicks {
    __m256i lane;
    __m256 far;
};
inline EightPicks PicksOf(Eight kept) {
    const __m256i bits = _mm256_castps_si256(kept.v);
    return {bits, _mm256_castsi256_ps(_mm256_slli_epi32(bits, 29))};
}
inline Eight Chosen(const EightPicks& picks, Eight nearRow, Eight farRow) {
    return {_mm256_blendv_ps(_mm256_permutevar_ps(nearRow.v, picks.lane),
                             _mm256_permutevar_ps(farRow.v, picks.lane), picks.far)};
}
inline Eight Parents(const EightPicks& picks, Eight row) {
    return {_mm256_permutevar_ps(row.v, picks.lane)};
}
inline void IndexesOf(Eight key, int* out) {
    const __m256i bits = _mm256_and_si256(_mm256_castps_si256(key.v), _mm256_set1_epi32(7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bits);
}

}  // namespace

void SearchBlockAvx2(const SearchTask& task, SearchChoice& choice) {
    SearchCandidates<Eight>(task, choice);
}

bool EstimatePredictorsAvx2(const float* target, float y1, float y2, Estimate* out) {
    return EstimatePredictors<Eight>(target, y1, y2, out);
}

void TrialErrorsAvx2(const float* target, float y1, float y2, const Estimate* estimates,
                     float* errors) {
    TrialErrors<Eight>(target, y1, y2, estimates, errors);
}

}  // namespace sorvik::adpcm_detail
