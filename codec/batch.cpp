#include "codec/batch.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "codec/encode.h"
#include "codec/sound_data.h"
#include "common/path_helpers.h"
#include "common/progress_source.h"
#include "common/second_thread.h"

namespace sorvik {

FileFinder::FileFinder(const char* pattern) : search_(platform::StartSearch(pattern, name_)) {}

FileFinder::~FileFinder() {
    if (HasMatch()) platform::EndSearch(search_);
}

bool FileFinder::Next() { return HasMatch() && platform::NextMatch(search_, name_); }

ResultCode ConvertLooseImage(ByteSource& source, OutputSink& sink, const std::string& outputName,
                             const WavOptions& options) {
    std::uint16_t channels = 0;
    const ResultCode found = FindLooseChannels(source, channels);
    if (found != ResultCode::Ok) return found;
    return channels == 1 ? ConvertVagImage(source, 0, source.Size(), sink, outputName, options)
                         : ConvertSterImage(source, 0, source.Size(), sink, outputName, options);
}

namespace {

// Runs `handle(path, name)` on each file that `pattern` matches, with the running count reported;
// `handle` returns false for a file that failed, which ends the batch under StopAtFirst. True
// when every match was handled.
template <typename Handle>
bool ForEachMatch(const std::string& pattern, Reporter& reporter, FailurePolicy policy,
                  Handle handle) {
    const std::string folderPrefix = pattern.substr(0, FileNamePart(pattern));
    FileFinder finder(pattern.c_str());
    if (!finder.HasMatch()) {
        reporter.NothingMatched(pattern);
        return false;
    }
    reporter.LooseFilesStarted();
    bool allHandled = true;
    for (unsigned number = 1;; ++number) {
        reporter.LooseFileStarted(number);
        if (!handle(folderPrefix + finder.Name(), finder.Name())) {
            allHandled = false;
            if (policy == FailurePolicy::StopAtFirst) return false;
        }
        if (!finder.Next()) return allHandled;
    }
}

// The name of the file made of the loose file `name` (with `extension`), not yet claimed.
std::string OutputNameFor(const std::string& name, const char* extension = "WAV") {
    std::string outputName = name;
    ReplaceExtension(outputName, extension);
    return outputName;
}

}  // namespace

namespace {

// Records every input of the batch before the first output takes a name, so that none of them
// is replaced under another name.
void ProtectInputs(const std::string& pattern, OutputSink& sink) {
    const std::string folderPrefix = pattern.substr(0, FileNamePart(pattern));
    FileFinder inputs(pattern.c_str());
    for (bool more = inputs.HasMatch(); more; more = inputs.Next()) {
        sink.ProtectInput(FileSource((folderPrefix + inputs.Name()).c_str()).Identity());
    }
}

// Converts the opened file `source` (called `name`) with `convert(source, outputName, refusal)`
// into the output `outputName` (claimed), reporting the progress, the file written, or why not.
template <typename Convert>
bool ConvertOpened(FileSource& source, const std::string& name, const std::string& outputName,
                   Reporter& reporter, Convert convert) {
    WavRefusal refusal;
    ProgressSource watched(source, reporter, 0, source.Size());
    const ResultCode result = convert(watched, outputName, refusal);
    if (!refusal.format.empty()) {
        reporter.FormatRefused(name, refusal.format);
    } else if (result != ResultCode::Ok) {
        reporter.LooseFileFailed(name, outputName, result);
    } else {
        reporter.FileWritten(outputName);
    }
    return result == ResultCode::Ok;
}

// Converts the file `path` (called `name`) into the output of the same base name with
// `extension`, as ConvertOpened does; a file that cannot be opened is reported, and claims no
// name.
template <typename Convert>
bool ConvertOne(const std::string& path, const std::string& name, const char* extension,
                OutputSink& sink, Reporter& reporter, Convert convert) {
    FileSource source(path.c_str());
    if (!source.IsOpen()) {
        reporter.LooseFileFailed(name, OutputNameFor(name, extension), ResultCode::OpenFailed);
        return false;
    }
    return ConvertOpened(source, name, sink.Claim(OutputNameFor(name, extension)), reporter,
                         convert);
}

// Converts each file that `pattern` matches with `convert(source, outputName, refusal)` into the
// output of the same base name with `extension`, reporting each file that fails (or whose format
// `refusal` names), the progress through each file, and each file written.
template <typename Convert>
bool ConvertMatches(const std::string& pattern, const char* extension, OutputSink& sink,
                    Reporter& reporter, FailurePolicy policy, Convert convert) {
    ProtectInputs(pattern, sink);
    return ForEachMatch(pattern, reporter, policy,
                        [&](const std::string& path, const std::string& name) {
                            return ConvertOne(path, name, extension, sink, reporter, convert);
                        });
}

// Whether the WAV file `path` is small enough to be encoded ahead: its image, about 2/7 of it, then
// fits in kEncodedAheadBytes (a 30-second stereo sound takes about 1.5 MB). A larger one is left to its turn, so that it is not encoded twice.
bool Fits(const std::string& path) { return FileSource(path.c_str()).Size() <= 3 * kEncodedAheadBytes; }

// Keeps the progress told while a file is encoded ahead, to be told again in its turn.
class ProgressKept final : public Reporter {
  public:
    void Progress(std::uint64_t done, std::uint64_t total) override {
        told.emplace_back(done, total);
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> told;
};

// Encodes a WAV file into `sink` (see EncodeWavToImage), as ConvertOpened calls it.
struct EncodeInto {
    OutputSink& sink;
    SecondThread channelsSideBySide = SecondThread::Automatic;
    ResultCode operator()(ByteSource& source, const std::string& outputName,
                          WavRefusal& refusal) const {
        return EncodeWavToImage(source, sink, outputName, refusal, nullptr, channelsSideBySide);
    }
};

// A WAV file encoded on the second thread while the one before it is encoded here: only its
// image in memory and the progress its reading told. Nothing of it is reported or written
// until its turn comes.
struct EncodedAhead {
    std::string path;
    std::string name;
    std::string outputName;  // the name it was encoded for, the one it will claim unless taken
    ResultCode result = ResultCode::WriteFailed;
    BoundedMemorySink image{kEncodedAheadBytes};
    ProgressKept progress;

    void Encode() {
        FileSource source(path.c_str());
        if (!source.IsOpen()) return;
        WavRefusal refusal;
        ProgressSource watched(source, progress, 0, source.Size());
        // Its channels one after the other, as those of the file before it: one processor each.
        result =
            EncodeWavToImage(watched, image, outputName, refusal, nullptr, SecondThread::Never);
    }

    // Reports and writes it as a serial run would: from memory when it was encoded for the name
    // it claims, else encoded again (its failures included, so that they are told as ever).
    bool Finish(OutputSink& sink, Reporter& reporter) {
        FileSource source(path.c_str());
        if (!source.IsOpen()) {
            reporter.LooseFileFailed(name, outputName, ResultCode::OpenFailed);
            return false;
        }
        const std::string claimed = sink.Claim(outputName);
        if (result != ResultCode::Ok || !image.Committed() || claimed != outputName) {
            return ConvertOpened(source, name, claimed, reporter, EncodeInto{sink});
        }
        for (const auto& [done, total] : progress.told) reporter.Progress(done, total);
        const ResultCode written = WriteBytesAs(sink, claimed, image.Bytes());
        if (written != ResultCode::Ok) {
            reporter.LooseFileFailed(name, claimed, written);
            return false;
        }
        reporter.FileWritten(claimed);
        return true;
    }
};

}  // namespace

bool DecodeVagFiles(const std::string& pattern, OutputSink& sink, Reporter& reporter,
                    FailurePolicy policy, const WavOptions& options) {
    return ConvertMatches(pattern, "WAV", sink, reporter, policy,
                          [&](ByteSource& source, const std::string& outputName, WavRefusal&) {
                              return ConvertLooseImage(source, sink, outputName, options);
                          });
}

bool EncodeWavFiles(const std::string& pattern, OutputSink& sink, Reporter& reporter,
                    FailurePolicy policy, SecondThread filesSideBySide) {
    ProtectInputs(pattern, sink);
    const std::string folderPrefix = pattern.substr(0, FileNamePart(pattern));
    FileFinder finder(pattern.c_str());
    if (!finder.HasMatch()) {
        reporter.NothingMatched(pattern);
        return false;
    }
    reporter.LooseFilesStarted();
    const bool sideBySide = MaySecondThread(filesSideBySide);
    bool allEncoded = true;
    unsigned number = 1;
    // The files two at a time: the first encoded and reported here, the second, side by side,
    // encoded into memory, and reported and written once the first is done.
    for (bool more = true; more;) {
        const std::string name = finder.Name();
        more = finder.Next();
        std::unique_ptr<EncodedAhead> ahead;
        if (more && sideBySide && Fits(folderPrefix + finder.Name())) {
            ahead = std::make_unique<EncodedAhead>();
            ahead->name = finder.Name();
            ahead->path = folderPrefix + ahead->name;
            ahead->outputName = OutputNameFor(ahead->name, "VAG");
            more = finder.Next();
        }
        bool encoded = true;
        RunBoth(
            [&] {
                reporter.LooseFileStarted(number++);
                const EncodeInto encode{sink,
                                        ahead ? SecondThread::Never : SecondThread::Automatic};
                encoded = ConvertOne(folderPrefix + name, name, "VAG", sink, reporter, encode);
            },
            [&] {
                if (ahead) ahead->Encode();
            },
            ahead != nullptr);
        if (!encoded) {
            allEncoded = false;
            if (policy == FailurePolicy::StopAtFirst) return false;
        }
        if (!ahead) continue;
        reporter.LooseFileStarted(number++);
        if (!ahead->Finish(sink, reporter)) {
            allEncoded = false;
            if (policy == FailurePolicy::StopAtFirst) return false;
        }
    }
    return allEncoded;
}

bool ListVagFiles(const std::string& pattern, OutputSink& names, Reporter& reporter,
                  SoundCatalog& catalog) {
    return ForEachMatch(pattern, reporter, FailurePolicy::KeepGoing,
                        [&](const std::string& path, const std::string& name) {
                            FileSource source(path.c_str());
                            if (!source.IsOpen()) {
                                reporter.LooseFileFailed(name, OutputNameFor(name),
                                                         ResultCode::OpenFailed);
                                return false;
                            }
                            SoundFacts facts;
                            const ResultCode result = DescribeLooseImage(source, facts);
                            catalog.Listed(names.Claim(OutputNameFor(name)),
                                           SoundPlace{0, source.Size()}, facts, result);
                            return result == ResultCode::Ok;
                        });
}

}  // namespace sorvik
