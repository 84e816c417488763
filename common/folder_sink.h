#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/output_sink.h"
#include "platform/platform.h"

namespace sorvik {

// The destination folder on disk, opened once. Each output is written to a new file of its own
// under a temporary name (kTemporaryNamePrefix, the process number and a count, ".tmp"), created
// exclusively and never through a link, and renamed over its final name when complete. A
// failure removes the temporary file and leaves what stood at the final name untouched; only a
// run that is killed can leave a temporary file behind.
class FolderSink final : public OutputSink {
  public:
    explicit FolderSink(const std::string& path);
    ~FolderSink() override;
    FolderSink(const FolderSink&) = delete;
    FolderSink& operator=(const FolderSink&) = delete;

    bool IsOpen() const { return folder_ != platform::kInvalidFolder; }
    std::unique_ptr<OutputFile> Create(const std::string& name) override;

  private:
    platform::FolderId folder_;
    std::uint64_t temporaryCount_ = 0;
};

}  // namespace sorvik
