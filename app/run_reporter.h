#pragma once

#include <optional>
#include <string>

#include "app/progress_line.h"
#include "common/reporter.h"

namespace sorvik {

// What a run shows of its work: the transcript's reporter, less everything but the failures
// when `quiet` (-q), and with `progress`, a progress line on standard error for long work
// (which is never asked for with `quiet`).
class RunReporter final : public Reporter {
  public:
    RunReporter(Reporter& transcript, bool quiet, bool progress)
        : transcript_(transcript), quiet_(quiet) {
        if (progress) line_.emplace();
    }

    void NothingMatched(const std::string& pattern) override {
        Clear();
        transcript_.NothingMatched(pattern);
    }
    void LooseFilesStarted() override {
        Clear();
        if (!quiet_) transcript_.LooseFilesStarted();
    }
    void LooseFileStarted(unsigned number) override {
        Clear();
        if (!quiet_) transcript_.LooseFileStarted(number);
    }
    void LooseFileFailed(const std::string& inputName, const std::string& outputName,
                         ResultCode reason) override {
        Clear();
        transcript_.LooseFileFailed(inputName, outputName, reason);
    }
    void FormatRefused(const std::string& inputName, const std::string& format) override {
        Clear();
        transcript_.FormatRefused(inputName, format);
    }

    void SectionStarted(ArchiveSection section, const std::string& indexPath) override {
        Clear();
        if (!quiet_) transcript_.SectionStarted(section, indexPath);
    }
    void ItemStarted(unsigned number, unsigned count) override {
        Clear();
        if (!quiet_) transcript_.ItemStarted(number, count);
    }
    void SectionEnded() override {
        Clear();
        if (!quiet_) transcript_.SectionEnded();
    }
    void IndexMissing(const std::string& indexPath) override {
        Clear();
        transcript_.IndexMissing(indexPath);
    }
    void EntryFailed(const std::string& entryName, const std::string& outputName,
                     ResultCode reason) override {
        Clear();
        transcript_.EntryFailed(entryName, outputName, reason);
    }
    void SectionFailed(ArchiveSection section, ResultCode reason) override {
        Clear();
        transcript_.SectionFailed(section, reason);
    }

    void FileWritten(const std::string& name) override {
        Clear();
        transcript_.FileWritten(name);
    }
    void Progress(std::uint64_t done, std::uint64_t total) override {
        if (line_) line_->Update(done, total);
    }

  private:
    void Clear() {
        if (line_) line_->Clear();
    }

    Reporter& transcript_;
    bool quiet_;
    std::optional<ProgressLine> line_;
};

}  // namespace sorvik
