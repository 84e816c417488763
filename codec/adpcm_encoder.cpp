#include "codec/adpcm_encoder.h"

#include <cmath>
#include <cstring>

#include "codec/adpcm_tables.h"

namespace sorvik {
namespace {

using adpcm_detail::kCoefficients;
using adpcm_detail::NarrowToSample;

constexpr int kPredictorCount = 5;
constexpr int kMaxShift = 12;
// Predictors searched per block (the most promising by the estimate below), and the shifts
// searched for each: the finest at which the estimated residual reaches at most this many steps
// (a little beyond the nibbles' 7, as clipping a lone peak often costs less than a coarser
// step everywhere), and the next coarser one.
constexpr int kPredictorsSearched = 2;
constexpr double kFitReach = 10.0;

// The best way found so far to encode one block.
struct BlockChoice {
    double error = HUGE_VAL;
    int predictor = 0;
    int shift = kMaxShift;
    std::int8_t nibbles[kSamplesPerBlock] = {};
};

// Searches the nibbles of one block for a fixed predictor and shift, predicting exactly as the
// decoder does from the decoder's history `start`: a beam of four paths, each trying its two
// nearest nibbles for the next sample, so eight children per sample, of which the four with the
// least squared error so far go on (ties to the earlier child, so the result is the same
// everywhere). Children whose error reaches best.error are dropped; when none is left the search
// gives up. Replaces `best` and returns true when it finds a block with less error.
bool SearchBlock(const double* target, const ChannelHistory& start, int predictor, int shift,
                 BlockChoice& best) {
    constexpr int kWidth = 4;
    constexpr int kChildren = 2 * kWidth;
    const double c0 = kCoefficients[predictor][0];
    const double c1 = kCoefficients[predictor][1];
    const double step = static_cast<double>(1 << (kMaxShift - shift));
    const double inverse = 1.0 / step;
    const double bound = best.error;

    double s1[kWidth] = {start.s1, 0.0, 0.0, 0.0};
    double s2[kWidth] = {start.s2, 0.0, 0.0, 0.0};
    double error[kWidth] = {0.0, HUGE_VAL, HUGE_VAL, HUGE_VAL};
    std::uint8_t parent[kSamplesPerBlock][kWidth];
    std::int8_t nibble[kSamplesPerBlock][kWidth];

    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const double x = target[i];
        double value[kChildren];
        double total[kChildren];
        int chosen[kChildren];
        for (int k = 0; k < kWidth; ++k) {
            const double older = c1 * s2[k];
            const double newer = c0 * s1[k];
            double residual = (x - (older + newer)) * inverse;
            residual = residual > -8.0 ? residual : -8.0;
            residual = residual < 7.0 ? residual : 7.0;
            const int low = static_cast<int>(residual + 8.0) - 8;  // floor: the sum is >= 0
            const bool up = residual - low >= 0.5;
            const int first = up ? low + 1 : low;
            int second = up ? low : low + 1;
            second = second > 7 ? 6 : second;
            const double v0 = (first * step + older) + newer;
            const double v1 = (second * step + older) + newer;
            const double m0 = NarrowToSample(v0) - x;
            const double m1 = NarrowToSample(v1) - x;
            value[2 * k] = v0;
            value[2 * k + 1] = v1;
            total[2 * k] = error[k] + m0 * m0;
            total[2 * k + 1] = error[k] + m1 * m1;
            chosen[2 * k] = first;
            chosen[2 * k + 1] = second;
        }
        double nextS1[kWidth];
        double nextS2[kWidth];
        double nextError[kWidth] = {HUGE_VAL, HUGE_VAL, HUGE_VAL, HUGE_VAL};
        int kept = 0;
        int ranks[kChildren];
        for (int c = 0; c < kChildren; ++c) {
            int rank = 0;
            for (int j = 0; j < c; ++j) rank += static_cast<int>(total[j] <= total[c]);
            for (int j = c + 1; j < kChildren; ++j) rank += static_cast<int>(total[j] < total[c]);
            ranks[c] = total[c] < bound ? rank : kChildren;
        }
        for (int c = 0; c < kChildren; ++c) {
            const int rank = ranks[c];
            if (rank >= kWidth) continue;
            ++kept;
            nextS1[rank] = value[c];
            nextS2[rank] = s1[c / 2];
            nextError[rank] = total[c];
            parent[i][rank] = static_cast<std::uint8_t>(c / 2);
            nibble[i][rank] = static_cast<std::int8_t>(chosen[c]);
        }
        if (kept == 0) return false;
        for (int k = 0; k < kWidth; ++k) {
            s1[k] = k < kept ? nextS1[k] : 0.0;
            s2[k] = k < kept ? nextS2[k] : 0.0;
            error[k] = k < kept ? nextError[k] : HUGE_VAL;
        }
    }
    best.error = error[0];
    best.predictor = predictor;
    best.shift = shift;
    for (int i = kSamplesPerBlock - 1, path = 0; i >= 0; --i) {
        best.nibbles[i] = nibble[i][path];
        path = parent[i][path];
    }
    return true;
}

// What the input itself says about one predictor for the block: its residual predicted from
// the input (from the decoder's history for the first two samples), the finest shift at which
// that fits the nibbles, and its energy.
struct Estimate {
    int predictor;
    int shift;
    double energy;
};

Estimate EstimatePredictor(const double* target, const ChannelHistory& start, int predictor) {
    const double c0 = kCoefficients[predictor][0];
    const double c1 = kCoefficients[predictor][1];
    double y1 = start.s1;
    double y2 = start.s2;
    double peak = 0.0;
    double energy = 0.0;
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const double residual = target[i] - (c0 * y1 + c1 * y2);
        const double size = std::fabs(residual);
        peak = size > peak ? size : peak;
        energy += residual * residual;
        y2 = y1;
        y1 = target[i];
    }
    int shift = kMaxShift;
    for (double reach = kFitReach; shift > 0 && peak > reach; reach *= 2) --shift;
    return {predictor, shift, energy};
}

// Finer shift first (a finer step means less noise), then less residual energy.
bool Before(const Estimate& a, const Estimate& b) {
    if (a.shift != b.shift) return a.shift > b.shift;
    return a.energy < b.energy;
}

}  // namespace

void EncodeAdpcmBlock(const std::int16_t* samples, std::size_t stride, std::uint8_t flag,
                      ChannelHistory& history, std::uint8_t* block, std::int16_t* decoded) {
    double target[kSamplesPerBlock];
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) target[i] = samples[i * stride];

    // The predictors, most promising first (an insertion sort: the same order everywhere),
    // each searched at its finest fitting shift and the next coarser one.
    Estimate order[kPredictorCount];
    for (int p = 0; p < kPredictorCount; ++p) {
        const Estimate estimate = EstimatePredictor(target, history, p);
        int at = p;
        for (; at > 0 && Before(estimate, order[at - 1]); --at) order[at] = order[at - 1];
        order[at] = estimate;
    }
    BlockChoice best;
    for (int p = 0; p < kPredictorsSearched; ++p) {
        SearchBlock(target, history, order[p].predictor, order[p].shift, best);
        if (order[p].shift > 0) {
            SearchBlock(target, history, order[p].predictor, order[p].shift - 1, best);
        }
    }

    // The block, and what the decoder will make of it.
    block[0] = static_cast<std::uint8_t>(best.predictor << 4 | best.shift);
    block[1] = flag;
    std::memset(block + 2, 0, kAdpcmBlockSize - 2);
    const double c0 = kCoefficients[best.predictor][0];
    const double c1 = kCoefficients[best.predictor][1];
    const double step = static_cast<double>(1 << (kMaxShift - best.shift));
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        const int n = best.nibbles[i];
        block[2 + i / 2] |= static_cast<std::uint8_t>((n & 0x0F) << (i % 2 * 4));
        const double value = (n * step + c1 * history.s2) + c0 * history.s1;
        history.s2 = history.s1;
        history.s1 = value;
        if (decoded != nullptr) decoded[i] = NarrowToSample(value);
    }
}

}  // namespace sorvik
