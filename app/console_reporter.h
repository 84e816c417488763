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

    // The outcome of an archive extraction, once it has stopped; true for Ok.
    bool ReportExtraction(ResultCode result);

  private:
    std::string inputPath_;
    bool encoding_;
};

// Tells what a rebuild (-r) meets: on standard error a sound of the folder that cannot take its
// place, an entry or a section of the archive that cannot be read, a missing index file, a folder
// without an edit; on standard output a running count as the new sounds are put in place, and
// the outcome. The walk through the archive is not shown.
class RebuildReporter final : public sfs::RebuildReport {
  public:
    // `quiet` (-q): the running count and the list of what was replaced are not shown.
    explicit RebuildReporter(bool quiet = false) : quiet_(quiet) {}

    void IndexMissing(const std::string& indexPath) override;
    void EntryFailed(const std::string& entryName, const std::string& outputName,
                     ResultCode reason) override;
    void SectionFailed(ArchiveSection section, ResultCode reason) override;

    void Refused(const std::string& name, const std::string& reason) override;
    void NothingDiffers() override;
    void Placing(unsigned number, unsigned count) override;
    void NotAsWritten(const std::string& name) override;

    // The outcome of the rebuild of the archive `archiveName`; true when it was written.
    bool ReportRebuild(const sfs::RebuildResult& result, const std::string& archiveName);

  private:
    // Ends the line of the running count, if one is showing.
    void EndCount();

    bool sectionToldOf_ = false;  // the failing section's reason was told (a missing index)
    bool counting_ = false;       // the running count's line is not ended
    bool quiet_;
};

}  // namespace sorvik
