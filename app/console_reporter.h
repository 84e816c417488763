#pragma once

#include <string>

#include "common/reporter.h"

namespace sorvik {

// Shows what the converters and extractors report as the console transcript, and a missing
// index file in a message box (on standard error where there is none).
class ConsoleReporter final : public Reporter {
  public:
    void NothingMatched(const std::string& pattern) override;
    void LooseFilesStarted() override;
    void LooseFileStarted(unsigned number) override;
    void LooseFileFailed(const std::string& inputName, const std::string& outputName,
                         ResultCode reason) override;

    void SectionStarted(ArchiveSection section, const std::string& indexPath) override;
    void ItemStarted(unsigned number, unsigned count) override;
    void SectionEnded() override;
    void IndexMissing(const std::string& indexPath) override;

    void FileWritten(const std::string&) override {}

    // The outcome of an archive extraction, once it has stopped; true for Ok.
    static bool ReportExtraction(ResultCode result, const std::string& inputPath);
};

}  // namespace sorvik
