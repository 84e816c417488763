// Each kind of the fast decoder's arithmetic against the reference decoder, sample for sample,
// on the input stretched into a stream of as many parts as it asks for; see README.md.

#include <algorithm>
#include <vector>

#include "codec/adpcm_fast.h"
#include "fuzz/harness.h"
#include "tests/support/reference_decoder.h"

using namespace sorvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const bool stereo = data[1] & 4;
    const auto kernel = static_cast<adpcm_detail::Kernel>((data[1] & 3) % 3);
    const std::size_t units = 512 * (1 + (data[0] & (stereo ? 3 : 7))) + (data[0] >> 3);
    const std::size_t cut = units * (data[1] >> 3) / 32;
    const std::size_t unitBlocks = stereo ? 2 : 1;
    static testing::Bytes stream, pcm;  // kept from input to input: fresh pages cost much
    stream.resize(std::max(size - 2, units * unitBlocks * kAdpcmBlockSize));
    std::memcpy(stream.data(), data + 2, size - 2);
    for (std::size_t at = size - 2; at < stream.size(); at *= 2)
        std::memcpy(&stream[at], stream.data(), std::min(at, stream.size() - at));
    pcm.assign(units * unitBlocks * kPcmBytesPerBlock, 0xA5);
    ChannelHistory left, right;
    for (const auto& [from, to] : {std::pair{std::size_t{0}, cut}, {cut, units}}) {
        const std::uint8_t* in = stream.data() + from * unitBlocks * kAdpcmBlockSize;
        std::uint8_t* out = pcm.data() + from * unitBlocks * kPcmBytesPerBlock;
        if (stereo) adpcm_detail::DecodeStereoPairsWith(kernel, in, to - from, left, right, out);
        if (!stereo) adpcm_detail::DecodeMonoBlocksWith(kernel, in, to - from, left, out);
    }
    static std::vector<std::int16_t> expected;
    if (stereo) testing::reference::DecodeStereoPairs(stream.data(), units, expected);
    if (!stereo) testing::reference::DecodeMonoBlocks(stream.data(), units, expected);
    std::size_t i = 0;
    while (i < expected.size() && std::int16_t(LoadLe16(&pcm[2 * i])) == expected[i]) ++i;
    fuzz::Expect(i == expected.size(), "kernel " + std::to_string(static_cast<int>(kernel)) +
                                           (stereo ? ", stereo" : ", mono") + ": sample " +
                                           std::to_string(i));
    return 0;
}
