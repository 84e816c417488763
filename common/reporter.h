#pragma once

#include <cstdint>
#include <string>

#include "common/result_code.h"

namespace sorvik {

// The sections of an archive, in the order they are extracted.
enum class ArchiveSection { Effects, Bgm, SeBank, VoiceBank };

// What converters and extractors tell the user about, as it happens. They never print: the
// front end implements this and decides how each event looks. An event not overridden is not
// shown.
class Reporter {
  public:
    virtual ~Reporter() = default;

    // --- Loose files ---
    // The pattern matched no file.
    virtual void NothingMatched(const std::string& /*pattern*/) {}
    virtual void LooseFilesStarted() {}
    // The file `number` (counting from 1) is being converted.
    virtual void LooseFileStarted(unsigned /*number*/) {}
    // The file `inputName` could not be converted to `outputName`, for `reason`.
    virtual void LooseFileFailed(const std::string& /*inputName*/,
                                 const std::string& /*outputName*/, ResultCode /*reason*/) {}
    // The WAV file `inputName` is in `format`, which is not encoded.
    virtual void FormatRefused(const std::string& /*inputName*/, const std::string& /*format*/) {}

    // --- Archives ---
    // A section begins; the banks name their index file's path.
    virtual void SectionStarted(ArchiveSection /*section*/, const std::string& /*indexPath*/) {}
    // Sound `number` of `count` of the section is being extracted.
    virtual void ItemStarted(unsigned /*number*/, unsigned /*count*/) {}
    // The section is over, done or failed.
    virtual void SectionEnded() {}
    // A bank's index file is not where it must be.
    virtual void IndexMissing(const std::string& /*indexPath*/) {}

    // --- Archives, when asked to keep going (FailurePolicy::KeepGoing) ---
    // The entry `entryName` (its name in the archive) could not be read, converted or written as
    // `outputName`, for `reason`; the section goes on with the next entry.
    virtual void EntryFailed(const std::string& /*entryName*/, const std::string& /*outputName*/,
                             ResultCode /*reason*/) {}
    // `section` stopped, or could not start, for `reason` (it was ended already); the extraction
    // goes on with the next section.
    virtual void SectionFailed(ArchiveSection /*section*/, ResultCode /*reason*/) {}

    // --- Both ---
    // The output `name` is complete and in place.
    virtual void FileWritten(const std::string& /*name*/) {}
    // `done` of the `total` bytes of the sound being converted have been read. Told each time
    // the percentage moves on (see ProgressSource), so about a hundred times a sound at most.
    virtual void Progress(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
};

}  // namespace sorvik
