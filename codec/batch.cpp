#include "codec/batch.h"

#include "codec/encode.h"
#include "codec/sound_data.h"
#include "common/path_helpers.h"
#include "common/progress_source.h"

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

// Converts each file that `pattern` matches with `convert(source, outputName, refusal)` into the
// output of the same base name with `extension`, reporting each file that fails (or whose format
// `refusal` names), the progress through each file, and each file written.
template <typename Convert>
bool ConvertMatches(const std::string& pattern, const char* extension, OutputSink& sink,
                    Reporter& reporter, FailurePolicy policy, Convert convert) {
    // Every input of the batch is known before the first output takes a name, so that none of
    // them is replaced under another name.
    const std::string folderPrefix = pattern.substr(0, FileNamePart(pattern));
    FileFinder inputs(pattern.c_str());
    for (bool more = inputs.HasMatch(); more; more = inputs.Next()) {
        sink.ProtectInput(FileSource((folderPrefix + inputs.Name()).c_str()).Identity());
    }
    return ForEachMatch(
        pattern, reporter, policy, [&](const std::string& path, const std::string& name) {
            FileSource source(path.c_str());
            if (!source.IsOpen()) {
                reporter.LooseFileFailed(name, OutputNameFor(name, extension),
                                         ResultCode::OpenFailed);
                return false;
            }
            const std::string outputName = sink.Claim(OutputNameFor(name, extension));
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
        });
}

}  // namespace

bool DecodeVagFiles(const std::string& pattern, OutputSink& sink, Reporter& reporter,
                    FailurePolicy policy, const WavOptions& options) {
    return ConvertMatches(pattern, "WAV", sink, reporter, policy,
                          [&](ByteSource& source, const std::string& outputName, WavRefusal&) {
                              return ConvertLooseImage(source, sink, outputName, options);
                          });
}

bool EncodeWavFiles(const std::string& pattern, OutputSink& sink, Reporter& reporter,
                    FailurePolicy policy) {
    return ConvertMatches(
        pattern, "VAG", sink, reporter, policy,
        [&](ByteSource& source, const std::string& outputName, WavRefusal& refusal) {
            return EncodeWavToImage(source, sink, outputName, refusal);
        });
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
