#pragma once

#include <optional>
#include <string>

#include "codec/describe.h"
#include "common/reporter.h"

namespace sorvik {

// Prints the listing (-l): a header line, then one line of tab-separated columns per sound, in
// the order the sounds would be extracted:
//   section number name offset bytes channels rate samples seconds loop_start loop_end problem
// A sound that could not be read or described has its problem in the last column and the columns
// not known empty; so has a section that stopped. A missing index file is told as an
// extraction tells it (ReportMissingIndex).
class ListingReporter final : public Reporter, public SoundCatalog {
  public:
    ListingReporter();

    // The sounds and sections listed with a problem.
    unsigned Problems() const { return problems_; }

    void NothingMatched(const std::string& pattern) override;
    void LooseFilesStarted() override { section_ = "file"; }
    void LooseFileStarted(unsigned number) override { number_ = number; }
    void LooseFileFailed(const std::string& inputName, const std::string& outputName,
                         ResultCode reason) override;

    void SectionStarted(ArchiveSection section, const std::string& indexPath) override;
    void ItemStarted(unsigned number, unsigned) override { number_ = number; }
    void IndexMissing(const std::string& indexPath) override;
    void EntryFailed(const std::string& entryName, const std::string& outputName,
                     ResultCode reason) override;
    void SectionFailed(ArchiveSection section, ResultCode reason) override;

    void Listed(const std::string& name, const SoundPlace& place, const SoundFacts& facts,
                ResultCode result) override;

  private:
    // Prints a line: the section, `number` (none when 0), `name`, then the other columns from
    // `details` (each after a tab), then `problem`, which counts when it is not empty.
    void PrintLine(unsigned number, const std::string& name, const std::string& details,
                   const char* problem);

    const char* section_ = "";               // its name in the first column
    std::optional<ArchiveSection> started_;  // the archive section last started
    unsigned number_ = 0;         // of the sound being listed; 0 before the section's first
    bool sectionToldOf_ = false;  // the section's failure was told already (a missing index)
    unsigned problems_ = 0;
};

}  // namespace sorvik
