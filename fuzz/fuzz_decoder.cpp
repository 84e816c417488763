// The fast decoder, with every kind of arithmetic that runs here, against the straightforward
// reference decoder, sample for sample. The fast decoder cuts long streams into parts that run
// side by side, so short inputs are stretched: the first two bytes give the stream's length in
// blocks (up to 8191: from 4096 on, a mono stream is cut into eight parts), and the rest is
// repeated to fill it. The stream is decoded as mono blocks and as stereo pairs.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/adpcm.h"
#include "codec/adpcm_fast.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/reference_decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;
namespace adpcm_detail = sorvik::adpcm_detail;
namespace reference = sorvik::testing::reference;
namespace fuzz = sorvik::fuzz;

Samples ToSamples(const Bytes& pcm) {
    Samples samples(pcm.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
    }
    return samples;
}

void Expect(const Samples& expected, const Samples& actual, const char* what) {
    if (expected == actual) return;
    std::size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
    fuzz::Fail(std::string(what) + ": first difference at sample " + std::to_string(i));
}

// `count` blocks of `pattern` repeated.
Bytes Stretch(const std::uint8_t* pattern, std::size_t size, std::size_t count) {
    Bytes blocks(count * sorvik::kAdpcmBlockSize);
    for (std::size_t i = 0; i < blocks.size(); ++i) blocks[i] = pattern[i % size];
    return blocks;
}

void CheckKernel(adpcm_detail::Kernel kernel, const Bytes& blocks, const Samples& mono,
                 const Samples& stereo) {
    const std::size_t count = blocks.size() / sorvik::kAdpcmBlockSize;
    Bytes pcm(count * sorvik::kPcmBytesPerBlock);
    sorvik::ChannelHistory history;
    adpcm_detail::DecodeMonoBlocksWith(kernel, blocks.data(), count, history, pcm.data());
    Expect(mono, ToSamples(pcm), "mono");
    sorvik::ChannelHistory left;
    sorvik::ChannelHistory right;
    pcm.assign((count / 2) * 2 * sorvik::kPcmBytesPerBlock, 0);
    adpcm_detail::DecodeStereoPairsWith(kernel, blocks.data(), count / 2, left, right, pcm.data());
    Expect(stereo, ToSamples(pcm), "stereo");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t count = (data[0] | data[1] << 8) & 0x1FFF;
    const Bytes blocks = Stretch(data + 2, size - 2, count);
    const Samples mono = reference::DecodeMonoBlocks(blocks.data(), count);
    const Samples stereo = reference::DecodeStereoPairs(blocks.data(), count / 2);
    for (const auto kernel :
         {adpcm_detail::Kernel::Portable, adpcm_detail::Kernel::Sse2, adpcm_detail::Kernel::Avx2}) {
        if (adpcm_detail::KernelRuns(kernel)) CheckKernel(kernel, blocks, mono, stereo);
    }
    return 0;
}
