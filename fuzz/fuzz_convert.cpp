// A loose sound file converted in memory (ConvertLooseImage), with healthy and with failing reads
// and writes; see README.md.

#include <algorithm>

#include "codec/batch.h"
#include "fuzz/harness.h"
#include "tests/support/reference_decoder.h"

using namespace sorvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const unsigned channels = size >= 4 && data[0] == 'S' ? 2 : 1;
    MemorySource image(data, size);
    testing::CutSource failingImage(image, size / 2);
    for (const bool failing : {false, true}) {
        testing::MemorySink sink;
        sink.failAtWrite = failing ? 2 : 0;
        const ResultCode result = ConvertLooseImage(
            failing ? static_cast<ByteSource&>(failingImage) : image, sink, "out.WAV");
        fuzz::Expect(failing || result == ResultCode::Ok || result == ResultCode::UnknownFormat ||
                         (size == 0 && result == ResultCode::ReadFailed),
                     "unexpected result " + std::to_string(static_cast<int>(result)));
        fuzz::Expect(sink.files.size() == (result == ResultCode::Ok ? 1u : 0u) &&
                         sink.files.count("out.WAV") == sink.files.size(),
                     "not one file for Ok and none after a failure");
        if (result != ResultCode::Ok) continue;
        const fuzz::Bytes& wav = sink.files["out.WAV"];
        fuzz::ExpectWav(wav, channels, "out.WAV");
        if (failing) continue;
        const std::size_t held =
            std::min<std::uint64_t>(LoadBe32(data + 12) * std::uint64_t{channels}, size - 48);
        const std::vector<std::int16_t> samples =
            channels == 2 ? testing::reference::DecodeStereoStream(data + 48, held)
                          : testing::reference::DecodeMonoStream(data + 48, held);
        bool same =
            wav.size() == 44 + 2 * samples.size() && LoadLe32(&wav[24]) == LoadBe32(data + 16);
        for (std::size_t i = 0; same && i < samples.size(); ++i) {
            same = static_cast<std::int16_t>(LoadLe16(&wav[44 + 2 * i])) == samples[i];
        }
        fuzz::Expect(same, "the WAV file is not the reference decoder's sound");
    }
    return 0;
}
