// A loose sound file converted in memory (ConvertLooseImage), with healthy and with failing reads
// and writes; see README.md.

#include "codec/batch.h"
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
    return 0;
}
