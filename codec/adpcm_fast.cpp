#include "codec/adpcm_fast.h"

#include "codec/adpcm_lanes.h"

namespace sorvik {
namespace {

// The arithmetic of `kWidth` chains at once, one in each element of a Vector. Each element is
// computed exactly as the plain decoder computes its one value: every product and sum rounded on
// its own, in the same order. Three kinds share this interface: the portable one below; on
// processors with SSE2, one whose vectors are SSE2 registers of two elements; and, in
// adpcm_fast_avx2.cpp, one whose vectors are AVX2 registers of four. Packed multiplies and adds
// round each element exactly like the scalar instructions.
//
// Make and Extract move `kWidth` values into a Vector and out of it; Coefficients gives column
// `column` (0 for c0, 1 for c1) of the coefficient rows of `kWidth` blocks, one to an element.
// Besides the arithmetic, each kind provides the two steps around it: ScaleNibbles, which puts
// the 28 scaled nibbles of `kWidth` blocks into a ScaledBlocks (read back as vectors with
// Scaled), and Store, the 28 values of `kWidth` chains narrowed to samples and stored at their
// `outs`. Store's `kSampleBytes` is 2 when the chains are separate runs of mono samples and 4
// when chains 2k and 2k + 1 are the left and right channel of the same stereo frames (then
// outs[2k + 1] is outs[2k] + 2 and only outs[2k] is used).
struct PortableArithmetic {
    static constexpr std::size_t kWidth = 2;
    struct Vector {
        double elements[kWidth];
    };

    static Vector Make(const double* values) { return {{values[0], values[1]}}; }
    static void Extract(const Vector& vector, double* values) {
        for (std::size_t k = 0; k < kWidth; ++k) values[k] = vector.elements[k];
    }
    static Vector Add(const Vector& a, const Vector& b) {
        return {{a.elements[0] + b.elements[0], a.elements[1] + b.elements[1]}};
    }
    static Vector Multiply(const Vector& a, const Vector& b) {
        return {{a.elements[0] * b.elements[0], a.elements[1] * b.elements[1]}};
    }
    static Vector Coefficients(const std::uint8_t* const* blocks, std::size_t column) {
        return {{kCoefficients[RowOf(blocks[0][0])][column],
                 kCoefficients[RowOf(blocks[1][0])][column]}};
    }

    struct ScaledBlocks {
        Vector values[kSamplesPerBlock];
    };
    static Vector Scaled(const ScaledBlocks& scaled, std::size_t i) { return scaled.values[i]; }

    static void ScaleNibbles(const std::uint8_t* const* blocks, ScaledBlocks& scaled) {
        for (std::size_t k = 0; k < kWidth; ++k) {
            const std::uint8_t* block = blocks[k];
            const double* scale = kScale.values[block[0] & 0x0F];
            for (std::size_t j = 0; j < kSamplesPerBlock / 2; ++j) {
                scaled.values[2 * j].elements[k] = scale[block[2 + j] & 0x0F];
                scaled.values[2 * j + 1].elements[k] = scale[block[2 + j] >> 4];
            }
        }
    }

    template <std::size_t kSampleBytes>
    static void Store(const Vector* values, std::uint8_t* const* outs) {
        for (std::size_t k = 0; k < kWidth; ++k) {
            for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
                StoreSample(outs[k] + i * kSampleBytes, NarrowToSample(values[i].elements[k]));
            }
        }
    }
};

#if defined(__SSE2__)
struct Sse2Arithmetic {
    static constexpr std::size_t kWidth = 2;
    using Vector = __m128d;

    static Vector Make(const double* values) { return _mm_loadu_pd(values); }
    static void Extract(Vector vector, double* values) { _mm_storeu_pd(values, vector); }
    static Vector Add(Vector a, Vector b) { return _mm_add_pd(a, b); }
    static Vector Multiply(Vector a, Vector b) { return _mm_mul_pd(a, b); }
    // Set from values in registers: a load of a vector that was just stored element by element
    // would wait for the stores.
    static Vector Coefficients(const std::uint8_t* const* blocks, std::size_t column) {
        return _mm_set_pd(kCoefficients[RowOf(blocks[1][0])][column],
                          kCoefficients[RowOf(blocks[0][0])][column]);
    }

    // Sign-extends four 16-bit values, the lower (`upper` false) or upper half of `words`, to
    // 32 bits.
    static __m128i Widen(__m128i words, bool upper) {
        const __m128i twice =
            upper ? _mm_unpackhi_epi16(words, words) : _mm_unpacklo_epi16(words, words);
        return _mm_srai_epi32(twice, 16);
    }

    // Kept as 32-bit integers, the two samples of a vector side by side, and converted to doubles
    // as the chains read them: the conversion is exact, and this way costs the fewest
    // instructions.
    struct ScaledBlocks {
        __m128i values[kSamplesPerBlock / 2];  // samples 2j and 2j + 1 of both chains
    };
    static Vector Scaled(const ScaledBlocks& scaled, std::size_t i) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(scaled.values) + 8 * i;
        return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
    }

    static void ScaleNibbles(const std::uint8_t* const* blocks, ScaledBlocks& scaled) {
        __m128i lows[4];
        __m128i highs[4];
        ScaleBlockToWords(blocks[0], lows);
        ScaleBlockToWords(blocks[1], highs);
        // Samples 0 to 3 are the upper half of vector 0.
        const __m128i first = _mm_unpackhi_epi16(lows[0], highs[0]);
        scaled.values[0] = Widen(first, false);
        scaled.values[1] = Widen(first, true);
        for (std::size_t v = 1; v < 4; ++v) {
            // Samples 8v - 4 to 8v - 1, then 8v to 8v + 3, of the two blocks in turns.
            const __m128i earlier = _mm_unpacklo_epi16(lows[v], highs[v]);
            const __m128i later = _mm_unpackhi_epi16(lows[v], highs[v]);
            scaled.values[4 * v - 2] = Widen(earlier, false);
            scaled.values[4 * v - 1] = Widen(earlier, true);
            scaled.values[4 * v] = Widen(later, false);
            scaled.values[4 * v + 1] = Widen(later, true);
        }
    }

    // NarrowToSample on both elements. Only the upper bound needs the comparison: below it, the
    // conversion truncates toward zero, gives the most negative 32-bit integer for anything
    // below -2^31, and the packing saturates to -32768 from there. Equal to NarrowToSample for
    // every value but a NaN, which the history never holds.
    static __m128i Narrow(Vector value) {
        const Vector biased = _mm_add_pd(value, _mm_set1_pd(0.5));
        return _mm_cvttpd_epi32(_mm_min_pd(biased, _mm_set1_pd(32767.0)));
    }

    // Values 0 to 3 of two chains narrowed: the first chain's four samples and the second's, each
    // as 32-bit integers.
    static void NarrowFour(const Vector* values, __m128i& firsts, __m128i& seconds) {
        // first 0, first 1, second 0, second 1; and the same for values 2 and 3
        const __m128i early = _mm_unpacklo_epi32(Narrow(values[0]), Narrow(values[1]));
        const __m128i late = _mm_unpacklo_epi32(Narrow(values[2]), Narrow(values[3]));
        firsts = _mm_unpacklo_epi64(early, late);
        seconds = _mm_unpackhi_epi64(early, late);
    }

    template <std::size_t kSampleBytes>
    static void Store(const Vector* values, std::uint8_t* const* outs) {
        if constexpr (kSampleBytes == 4) {
            // Left and right of four frames at a time, in frame order.
            for (std::size_t i = 0; i < kSamplesPerBlock; i += 4) {
                const __m128i frames = _mm_packs_epi32(
                    _mm_unpacklo_epi64(Narrow(values[i]), Narrow(values[i + 1])),
                    _mm_unpacklo_epi64(Narrow(values[i + 2]), Narrow(values[i + 3])));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[0] + 4 * i), frames);
            }
        } else {
            // Eight samples of each chain at a time, then the last four.
            __m128i firsts[2];
            __m128i seconds[2];
            for (std::size_t i = 0; i + 8 <= kSamplesPerBlock; i += 8) {
                NarrowFour(values + i, firsts[0], seconds[0]);
                NarrowFour(values + i + 4, firsts[1], seconds[1]);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[0] + 2 * i),
                                 _mm_packs_epi32(firsts[0], firsts[1]));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[1] + 2 * i),
                                 _mm_packs_epi32(seconds[0], seconds[1]));
            }
            constexpr std::size_t kLast = kSamplesPerBlock - 4;
            NarrowFour(values + kLast, firsts[0], seconds[0]);
            const __m128i both = _mm_packs_epi32(firsts[0], seconds[0]);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outs[0] + 2 * kLast), both);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outs[1] + 2 * kLast),
                             _mm_unpackhi_epi64(both, both));
        }
    }
};
#endif

}  // namespace

using adpcm_detail::FastestKernel;

void DecodeMonoBlocksToPcm(const std::uint8_t* data, std::size_t blockCount,
                           ChannelHistory& history, std::uint8_t* pcm) {
    adpcm_detail::DecodeMonoBlocksWith(FastestKernel(), data, blockCount, history, pcm);
}

void DecodeStereoPairsToPcm(const std::uint8_t* data, std::size_t pairCount, ChannelHistory& left,
                            ChannelHistory& right, std::uint8_t* pcm) {
    adpcm_detail::DecodeStereoPairsWith(FastestKernel(), data, pairCount, left, right, pcm);
}

namespace adpcm_detail {

Kernel FastestKernel() {
    if (KernelRuns(Kernel::Avx2)) return Kernel::Avx2;
    if (KernelRuns(Kernel::Sse2)) return Kernel::Sse2;
    return Kernel::Portable;
}

bool KernelRuns(Kernel kernel) {
    switch (kernel) {
        case Kernel::Portable:
            return true;
        case Kernel::Sse2:
#if defined(__SSE2__)
            return true;
#else
            return false;
#endif
        case Kernel::Avx2:
#if defined(SORVIK_AVX2_KERNEL)
            // Also false where the system does not save the AVX registers.
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
    }
    return false;
}

// A kernel that does not run falls back to the portable arithmetic, which gives the same output.
void DecodeMonoBlocksWith(Kernel kernel, const std::uint8_t* data, std::size_t blockCount,
                          ChannelHistory& history, std::uint8_t* pcm) {
    if (!KernelRuns(kernel)) kernel = Kernel::Portable;
    switch (kernel) {
#if defined(SORVIK_AVX2_KERNEL)
        case Kernel::Avx2:
            return DecodeMonoBlocksAvx2(data, blockCount, history, pcm);
#endif
#if defined(__SSE2__)
        case Kernel::Sse2:
            return DecodeMono<Sse2Arithmetic>(data, blockCount, history, pcm);
#endif
        default:
            return DecodeMono<PortableArithmetic>(data, blockCount, history, pcm);
    }
}

void DecodeStereoPairsWith(Kernel kernel, const std::uint8_t* data, std::size_t pairCount,
                           ChannelHistory& left, ChannelHistory& right, std::uint8_t* pcm) {
    if (!KernelRuns(kernel)) kernel = Kernel::Portable;
    switch (kernel) {
#if defined(SORVIK_AVX2_KERNEL)
        case Kernel::Avx2:
            return DecodeStereoPairsAvx2(data, pairCount, left, right, pcm);
#endif
#if defined(__SSE2__)
        case Kernel::Sse2:
            return DecodeStereo<Sse2Arithmetic>(data, pairCount, left, right, pcm);
#endif
        default:
            return DecodeStereo<PortableArithmetic>(data, pairCount, left, right, pcm);
    }
}

}  // namespace adpcm_detail
}  // namespace sorvik
