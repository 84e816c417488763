// A loose sound file converted in memory (ConvertLooseImage), with healthy and with failing reads
// and writes, then described (DescribeLooseImage) and converted with the loop options; and the
// same bytes as a WAV file to encode (EncodeWavToImage); see README.md.

#include "codec/batch.h"
#include "codec/encode.h"
#include "fuzz/harness.h"
#include "tests/support/reference_decoder.h"

using namespace sorvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
        // Ok, even with failing reads or writes, leaves the reference decoder's WAV file (its
        // header built apart from the program's) and nothing else; a failure leaves nothing.
        const bool ok = result == ResultCode::Ok;
        fuzz::Expect(sink.files.size() == (ok ? 1u : 0u) &&
                         (!ok || sink.files["out.WAV"] ==
                                     testing::reference::ExpectedWav({data, data + size})),
                     "not the reference decoder's WAV file for Ok, or a file after a failure");
    }
    // The description and the loop options refuse what the plain conversion refuses, and nothing
    // else (a rate kept low, so that a fade of ten seconds stays small).
    testing::MemorySink plain;
    const ResultCode converted = ConvertLooseImage(image, plain, "out.WAV");
    SoundFacts facts;
    fuzz::Expect(DescribeLooseImage(image, facts) == converted, "described otherwise");
    // A WAV file that is encoded gives one image that converts back.
    testing::MemorySink encoded;
    WavRefusal refusal;
    if (EncodeWavToImage(image, encoded, "out.VAG", refusal) == ResultCode::Ok) {
        testing::Bytes& vag = encoded.files["out.VAG"];
        MemorySource back(vag.data(), vag.size());
        fuzz::Expect(encoded.files.size() == 1 && ConvertLooseImage(back, plain, "back.WAV") ==
                                                      ResultCode::Ok,
                     "an encoded image that does not convert back");
    } else {
        fuzz::Expect(encoded.files.empty(), "a file left by a failed encoding");
    }
    if (size < 20 || LoadBe32(data + 16) > 48000) return 0;
    const WavOptions options{(data[size - 1] & 1) != 0, data[size - 1] / 2u % 10};
    testing::MemorySink looped;
    fuzz::Expect(ConvertLooseImage(image, looped, "out.WAV", options) == converted,
                 "converted otherwise with loop options");
    return 0;
}
