#pragma once

#include <string>
#include <utility>

#include "common/reporter.h"
#include "sfs/rebuild.h"

namespace sorvik {

// Tells the user that a bank's index file is missing: one line on standard error, and a message
// box (on standard error where there is none) asking for it to be put beside the archive.
void ReportMissingIndex(const std::string& indexPath);

// Shows what the converters and extractors report as the console transcript. A missing index
// file is also explained in a message box (on standard error where there is none) and in one
// line on standard error.
class ConsoleReporter final : public Reporter {
  public:
    // `inputPath`: the input as the user is shown it, named when a whole archive fails.
    // `encoding`: loose files are encoded, not decoded.
    ConsoleReporter(std::string inputPath, bool encoding)
        : inputPath_(std::move(inputPath)), encoding_(encoding) {}

    void NothingMatched(const std::string& pattern) override;
    void LooseFilesStarted() override;
    void LooseFileStarted(unsigned number) override;
    void LooseFileFailed(const std::string& inputName, const std::string& outputName,
                         ResultCode reason) override;
    void FormatRefused(const std::string& inputName, const std::string& format) override;

    void SectionStarted(ArchiveSection section, const std::string& indexPath) override;
    void ItemStarted(unsigned number, unsigned count) override;
    void SectionEnded() override;
    void IndexMissing(const std::string& indexPath) override;
    // Under -k: an entry is shown as a loose file would be; a section with the message a
    // failed archive has.
    void EntryFailed(const std::string& entryName, const std::string& outputName,
                     ResultCode reason) override;
    void SectionFailed(ArchiveSection section, ResultCode reason) override;

    void FileWritten(const std::string&) override {}

    // The outcome of an archive extraction, once it has stopped; true for Ok.
    bool ReportExtraction(ResultCode result);

  private:
    std::string inputPath_;
    bool encoding_;
};

// Tells what goes wrong while a rebuild walks the archive (-r), on standard error: a sound of
// the folder that cannot take its place, an entry or a section of the archive that cannot be
// read, a missing index file. The progress is not shown.
class RebuildReporter final : public Reporter, public sfs::RebuildReport {
  public:
    void NothingMatched(const std::string&) override {}
    void LooseFilesStarted() override {}
    void LooseFileStarted(unsigned) override {}
    void LooseFileFailed(const std::string&, const std::string&, ResultCode) override {}
    void SectionStarted(ArchiveSection, const std::string&) override {}
    void ItemStarted(unsigned, unsigned) override {}
    void SectionEnded() override {}
    void IndexMissing(const std::string& indexPath) override;
    void EntryFailed(const std::string& entryName, const std::string& outputName,
                     ResultCode reason) override;
    void SectionFailed(ArchiveSection section, ResultCode reason) override;
    void FileWritten(const std::string&) override {}

    void Refused(const std::string& name, const std::string& reason) override;

  private:
    bool sectionToldOf_ = false;  // the failing section's reason was told (a missing index)
};

}  // namespace sorvik
