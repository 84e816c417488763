// The decoder's arithmetic with four chains to an AVX2 register. This file alone is compiled for
// AVX2; adpcm_fast.cpp calls it only on processors that run AVX2. (No fused multiply-add: that
// is a separate instruction set, never enabled, and contraction is off for the whole build.)

#include <immintrin.h>

#include "codec/adpcm_lanes.h"

namespace sorvik {
namespace {

// The interface is PortableArithmetic's, in adpcm_fast.cpp.
struct Avx2Arithmetic {
    static constexpr std::size_t kWidth = 4;
    using Vector = __m256d;

    static Vector Make(const double* values) { return _mm256_loadu_pd(values); }
    static void Extract(Vector vector, double* values) { _mm256_storeu_pd(values, vector); }
    static Vector Add(Vector a, Vector b) { return _mm256_add_pd(a, b); }
    static Vector Multiply(Vector a, Vector b) { return _mm256_mul_pd(a, b); }
    // Set from values in registers, see Sse2Arithmetic::Coefficients.
    static Vector Coefficients(const std::uint8_t* const* blocks, std::size_t column) {
        return _mm256_set_pd(
            kCoefficients[RowOf(blocks[3][0])][column], kCoefficients[RowOf(blocks[2][0])][column],
            kCoefficients[RowOf(blocks[1][0])][column], kCoefficients[RowOf(blocks[0][0])][column]);
    }

    // Sample i of the four chains as 32-bit integers, converted to doubles as the chains read
    // them.
    struct ScaledBlocks {
        __m128i values[kSamplesPerBlock];
    };
    static Vector Scaled(const ScaledBlocks& scaled, std::size_t i) {
        return _mm256_cvtepi32_pd(_mm_loadu_si128(scaled.values + i));
    }

    // Samples `first` and `first` + 1 of the four chains, given as eight 16-bit words in that
    // order, stored as 32-bit integers.
    static void StoreWordPair(__m128i words, ScaledBlocks& scaled, std::size_t first) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(scaled.values + first),
                            _mm256_cvtepi16_epi32(words));
    }

    static void ScaleNibbles(const std::uint8_t* const* blocks, ScaledBlocks& scaled) {
        __m128i words[4][4];
        for (std::size_t k = 0; k < kWidth; ++k) ScaleBlockToWords(blocks[k], words[k]);
        for (std::size_t v = 0; v < 4; ++v) {
            // The words of vector v of the four blocks, block by block in turns: words 0 to 3
            // (`early`) and 4 to 7 (`late`) of blocks 0 and 1, then of blocks 2 and 3.
            const __m128i late01 = _mm_unpackhi_epi16(words[0][v], words[1][v]);
            const __m128i late23 = _mm_unpackhi_epi16(words[2][v], words[3][v]);
            // Word w of vector v is sample 8v - 4 + w; words 0 to 3 of vector 0 are not samples.
            StoreWordPair(_mm_unpacklo_epi32(late01, late23), scaled, 8 * v);
            StoreWordPair(_mm_unpackhi_epi32(late01, late23), scaled, 8 * v + 2);
            if (v == 0) continue;
            const __m128i early01 = _mm_unpacklo_epi16(words[0][v], words[1][v]);
            const __m128i early23 = _mm_unpacklo_epi16(words[2][v], words[3][v]);
            StoreWordPair(_mm_unpacklo_epi32(early01, early23), scaled, 8 * v - 4);
            StoreWordPair(_mm_unpackhi_epi32(early01, early23), scaled, 8 * v - 2);
        }
    }

    // NarrowToSample on all four elements, as 32-bit integers; see Sse2Arithmetic::Narrow for why
    // only the upper bound needs the comparison.
    static __m128i Narrow(Vector value) {
        const Vector biased = _mm256_add_pd(value, _mm256_set1_pd(0.5));
        return _mm256_cvttpd_epi32(_mm256_min_pd(biased, _mm256_set1_pd(32767.0)));
    }

    // Values 0 to 3 of the four chains narrowed, chain by chain: chains[k] holds chain k's four
    // samples as 32-bit integers.
    static void NarrowFour(const Vector* values, __m128i* chains) {
        const __m128i step0 = Narrow(values[0]);
        const __m128i step1 = Narrow(values[1]);
        const __m128i step2 = Narrow(values[2]);
        const __m128i step3 = Narrow(values[3]);
        // chains 0 and 1, then 2 and 3, of steps 0 and 1; then the same of steps 2 and 3
        const __m128i early01 = _mm_unpacklo_epi32(step0, step1);
        const __m128i early23 = _mm_unpackhi_epi32(step0, step1);
        const __m128i late01 = _mm_unpacklo_epi32(step2, step3);
        const __m128i late23 = _mm_unpackhi_epi32(step2, step3);
        chains[0] = _mm_unpacklo_epi64(early01, late01);
        chains[1] = _mm_unpackhi_epi64(early01, late01);
        chains[2] = _mm_unpacklo_epi64(early23, late23);
        chains[3] = _mm_unpackhi_epi64(early23, late23);
    }

    template <std::size_t kSampleBytes>
    static void Store(const Vector* values, std::uint8_t* const* outs) {
        if constexpr (kSampleBytes == 4) {
            // Four frames of both parts at a time: elements 0 and 1 are the left and right
            // sample of one part's frame, elements 2 and 3 of the other's.
            for (std::size_t i = 0; i < kSamplesPerBlock; i += 4) {
                const __m128i step0 = Narrow(values[i]);
                const __m128i step1 = Narrow(values[i + 1]);
                const __m128i step2 = Narrow(values[i + 2]);
                const __m128i step3 = Narrow(values[i + 3]);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[0] + 4 * i),
                                 _mm_packs_epi32(_mm_unpacklo_epi64(step0, step1),
                                                 _mm_unpacklo_epi64(step2, step3)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[2] + 4 * i),
                                 _mm_packs_epi32(_mm_unpackhi_epi64(step0, step1),
                                                 _mm_unpackhi_epi64(step2, step3)));
            }
        } else {
            // Eight samples of each chain at a time, then the last four.
            __m128i early[4];
            __m128i late[4];
            for (std::size_t i = 0; i + 8 <= kSamplesPerBlock; i += 8) {
                NarrowFour(values + i, early);
                NarrowFour(values + i + 4, late);
                for (std::size_t k = 0; k < kWidth; ++k) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[k] + 2 * i),
                                     _mm_packs_epi32(early[k], late[k]));
                }
            }
            constexpr std::size_t kLast = kSamplesPerBlock - 4;
            NarrowFour(values + kLast, early);
            const __m128i chains01 = _mm_packs_epi32(early[0], early[1]);
            const __m128i chains23 = _mm_packs_epi32(early[2], early[3]);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outs[0] + 2 * kLast), chains01);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outs[1] + 2 * kLast),
                             _mm_unpackhi_epi64(chains01, chains01));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outs[2] + 2 * kLast), chains23);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outs[3] + 2 * kLast),
                             _mm_unpackhi_epi64(chains23, chains23));
        }
    }
};

}  // namespace

namespace adpcm_detail {

void DecodeMonoBlocksAvx2(const std::uint8_t* data, std::size_t blockCount, ChannelHistory& history,
                          std::uint8_t* pcm) {
    DecodeMono<Avx2Arithmetic>(data, blockCount, history, pcm);
}

void DecodeStereoPairsAvx2(const std::uint8_t* data, std::size_t pairCount, ChannelHistory& left,
                           ChannelHistory& right, std::uint8_t* pcm) {
    DecodeStereo<Avx2Arithmetic>(data, pairCount, left, right, pcm);
}

}  // namespace adpcm_detail
}  // namespace sorvik
