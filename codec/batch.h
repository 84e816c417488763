#pragma once

#include <string>

#include "codec/convert.h"
#include "codec/describe.h"
#include "common/byte_source.h"
#include "common/output_sink.h"
#include "common/reporter.h"
#include "common/result_code.h"
#include "common/second_thread.h"
#include "platform/platform.h"

namespace sorvik {

// A search for the names that match a pattern; ended when it goes out of scope.
class FileFinder {
  public:
    explicit FileFinder(const char* pattern);
    ~FileFinder();
    FileFinder(const FileFinder&) = delete;
    FileFinder& operator=(const FileFinder&) = delete;

    bool HasMatch() const { return search_ != platform::kInvalidSearch; }
    const std::string& Name() const { return name_; }
    // Moves to the next match; false when there is none.
    bool Next();

  private:
    std::string name_;  // declared first: the search fills it while starting
    platform::SearchId search_ = platform::kInvalidSearch;
};

// Converts one loose sound file, all of `source`, to the WAV file `outputName`, choosing the
// converter by its magic: "VAGp" mono, "STER" stereo, anything else (a file shorter than a magic
// included) UnknownFormat. An empty source cannot be read: ReadFailed.
ResultCode ConvertLooseImage(ByteSource& source, OutputSink& sink, const std::string& outputName,
                             const WavOptions& options = {});

// Decodes the loose sound files that `pattern` names (wildcards allowed in its last component)
// into WAV files of the same base name, handed to `sink`. Reports the running count and each
// failure; the first one ends the batch unless `policy` is KeepGoing. True when every match was
// converted.
bool DecodeVagFiles(const std::string& pattern, OutputSink& sink, Reporter& reporter,
                    FailurePolicy policy = FailurePolicy::StopAtFirst,
                    const WavOptions& options = {});

// Encodes the 16-bit PCM WAV files that `pattern` names into sound images of the same base name
// with ".VAG" (see EncodeWavToImage), handed to `sink`, reporting as DecodeVagFiles does; a WAV
// file of another format is reported with its format named (Reporter::FormatRefused). As
// `filesSideBySide` allows, each second file is encoded on a second thread into memory (up to
// 4 MB of image) while the one before it is encoded; the events, outputs and result are those of
// a run one file after the other.
bool EncodeWavFiles(const std::string& pattern, OutputSink& sink, Reporter& reporter,
                    FailurePolicy policy = FailurePolicy::StopAtFirst,
                    SecondThread filesSideBySide = SecondThread::Automatic);

// Lists the loose sound files that `pattern` names in `catalog`, each under the name that
// DecodeVagFiles would give its WAV file (claimed from `names`, which is never written to). A
// file that cannot be opened is reported to `reporter` as a failed one is; the listing goes on.
// True when every match was described.
bool ListVagFiles(const std::string& pattern, OutputSink& names, Reporter& reporter,
                  SoundCatalog& catalog);

}  // namespace sorvik
