#pragma once

#include <string>

#include "common/result_code.h"

namespace sorvik {

// The sections of an archive, in the order they are extracted.
enum class ArchiveSection { Effects, Bgm, SeBank, VoiceBank };

// What converters and extractors tell the user about, as it happens. They never print: the
// front end implements this and decides how each event looks.
class Reporter {
  public:
    virtual ~Reporter() = default;

    // --- Loose files ---
    // The pattern matched no file.
    virtual void NothingMatched(const std::string& pattern) = 0;
    virtual void LooseFilesStarted() = 0;
    // The file `number` (counting from 1) is being converted.
    virtual void LooseFileStarted(unsigned number) = 0;
    // The file `inputName` could not be converted to `outputName`, for `reason`.
    virtual void LooseFileFailed(const std::string& inputName, const std::string& outputName,
                                 ResultCode reason) = 0;

    // --- Archives ---
    // A section begins; the banks name their index file's path.
    virtual void SectionStarted(ArchiveSection section, const std::string& indexPath) = 0;
    // Sound `number` of `count` of the section is being extracted.
    virtual void ItemStarted(unsigned number, unsigned count) = 0;
    // The section is over, done or failed.
    virtual void SectionEnded() = 0;
    // A bank's index file is not where it must be.
    virtual void IndexMissing(const std::string& indexPath) = 0;

    // --- Both ---
    // The output `name` is complete and in place.
    virtual void FileWritten(const std::string& name) = 0;
};

}  // namespace sorvik
