#include "codec/batch.h"

#include <array>

#include "codec/convert.h"
#include "codec/sound_headers.h"
#include "common/byte_order.h"
#include "common/path_helpers.h"

namespace sorvik {

FileFinder::FileFinder(const char* pattern) : search_(platform::StartSearch(pattern, name_)) {}

FileFinder::~FileFinder() {
    if (HasMatch()) platform::EndSearch(search_);
}

bool FileFinder::Next() { return HasMatch() && platform::NextMatch(search_, name_); }

ResultCode ConvertLooseImage(ByteSource& source, OutputSink& sink, const std::string& outputName) {
    if (source.Size() == 0) return ResultCode::ReadFailed;
    std::array<std::uint8_t, 4> magic;
    if (source.Size() < magic.size()) return ResultCode::UnknownFormat;
    if (!source.ReadAt(0, magic.data(), magic.size())) return ResultCode::ReadFailed;
    if (HasMagic(magic.data(), kVagMagic)) {
        return ConvertVagImage(source, 0, source.Size(), sink, outputName);
    }
    if (HasMagic(magic.data(), kSterMagic)) {
        return ConvertSterImage(source, 0, source.Size(), sink, outputName);
    }
    return ResultCode::UnknownFormat;
}

namespace {

// Converts one match; reports the failure and returns false when it fails.
bool DecodeOneFile(const std::string& folderPrefix, const std::string& name, OutputSink& sink,
                   Reporter& reporter) {
    std::string outputName = name;
    ReplaceExtension(outputName, "WAV");
    FileSource source((folderPrefix + name).c_str());
    if (!source.IsOpen()) {
        reporter.LooseFileFailed(name, outputName, ResultCode::OpenFailed);
        return false;
    }
    outputName = sink.Claim(outputName);
    const ResultCode result = ConvertLooseImage(source, sink, outputName);
    if (result != ResultCode::Ok) {
        reporter.LooseFileFailed(name, outputName, result);
        return false;
    }
    reporter.FileWritten(outputName);
    return true;
}

}  // namespace

bool DecodeVagFiles(const std::string& pattern, OutputSink& sink, Reporter& reporter,
                    FailurePolicy policy) {
    const std::string folderPrefix = pattern.substr(0, FileNamePart(pattern));
    FileFinder finder(pattern.c_str());
    if (!finder.HasMatch()) {
        reporter.NothingMatched(pattern);
        return false;
    }
    reporter.LooseFilesStarted();
    bool allConverted = true;
    for (unsigned number = 1;; ++number) {
        reporter.LooseFileStarted(number);
        if (!DecodeOneFile(folderPrefix, finder.Name(), sink, reporter)) {
            allConverted = false;
            if (policy == FailurePolicy::StopAtFirst) return false;
        }
        if (!finder.Next()) return allConverted;
    }
}

}  // namespace sorvik
