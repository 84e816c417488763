#include "codec/batch.h"

#include "codec/convert.h"
#include "codec/sound_headers.h"
#include "common/byte_order.h"
#include "common/console.h"
#include "common/path_helpers.h"

namespace sorvik {

MappedFile::MappedFile(const char* path) : file_(FileHandle::OpenForReading(path)) {
    if (!file_.IsOpen()) return;
    const std::optional<platform::FileView> view = platform::MapWholeFile(file_.Id());
    if (!view) {
        status_ = Status::MapFailed;
        return;
    }
    view_ = *view;
    status_ = Status::Mapped;
}

MappedFile::~MappedFile() { platform::UnmapFile(view_); }

FileFinder::FileFinder(const char* pattern) : search_(platform::StartSearch(pattern, name_)) {}

FileFinder::~FileFinder() {
    if (HasMatch()) platform::EndSearch(search_);
}

bool FileFinder::Next() { return HasMatch() && platform::NextMatch(search_, name_); }

namespace {

// Picks the converter by the image's magic; anything else (a file too short for a magic
// included) is an unknown format and no output is created.
ResultCode ConvertLooseImage(const char* outputName, const std::uint8_t* image,
                             std::size_t imageLength) {
    if (imageLength >= 4 && HasMagic(image, kVagMagic)) {
        return ConvertVagImage(outputName, image, imageLength);
    }
    if (imageLength >= 4 && HasMagic(image, kSterMagic)) {
        return ConvertSterImage(outputName, image, imageLength);
    }
    return ResultCode::UnknownFormat;
}

// Converts one match; prints the failure message and returns false when it fails.
bool DecodeOneFile(const std::string& folderPrefix, const std::string& name) {
    const std::string sourcePath = folderPrefix + name;
    const MappedFile source(sourcePath.c_str());
    switch (source.GetStatus()) {
        case MappedFile::Status::OpenFailed:
            console::Print("\rCan't open %s.\n\n", name.c_str());
            return false;
        case MappedFile::Status::MapFailed:
            console::Print("\rCan't read %s.\n\n", name.c_str());
            return false;
        case MappedFile::Status::Mapped:
            break;
    }
    std::string outputName = name;
    ReplaceExtension(outputName, "WAV");
    switch (ConvertLooseImage(outputName.c_str(), source.Data(), source.Size())) {
        case ResultCode::Ok:
            return true;
        case ResultCode::UnknownFormat:
            console::Print("\r%s: Unknown format.\n\n", name.c_str());
            return false;
        default:
            console::Print("\rCan't write %s.\n\n", outputName.c_str());
            return false;
    }
}

}  // namespace

bool DecodeVagFiles(const std::string& pattern) {
    const std::string folderPrefix = pattern.substr(0, FileNamePart(pattern));
    FileFinder finder(pattern.c_str());
    if (!finder.HasMatch()) {
        console::Print("%s not found.\n\n", pattern.c_str());
        return false;
    }
    console::PutLine("decoding file(s):");
    int counter = 1;
    for (;;) {
        console::Print("\r\t%d", counter);
        if (!DecodeOneFile(folderPrefix, finder.Name())) return false;
        if (!finder.Next()) return true;
        ++counter;
    }
}

}  // namespace sorvik
