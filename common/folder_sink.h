#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/file_handle.h"
#include "common/output_sink.h"
#include "platform/platform.h"

namespace sorvik {

// The destination folder on disk, opened once. Each output is written to a new file of its own
// under a temporary name (kTemporaryNamePrefix, the process number and a count, ".tmp"), created
// exclusively and never through a link, and renamed over its final name when complete. A
// failure removes the temporary file and leaves what stood at the final name untouched; only a
// run that is killed can leave a temporary file behind. Whether the folder's file system folds
// letter case is found out once, when it is opened, with a temporary file.
class FolderSink final : public OutputSink {
  public:
    explicit FolderSink(const std::string& path);
    ~FolderSink() override;
    FolderSink(const FolderSink&) = delete;
    FolderSink& operator=(const FolderSink&) = delete;

    bool IsOpen() const { return folder_ != platform::kInvalidFolder; }
    std::unique_ptr<OutputFile> Create(const std::string& name) override;

  protected:
    std::optional<platform::StoredFile> Find(const std::string& name) const override;

  private:
    class TemporaryFile;
    // A new, empty temporary file and its name; an invalid handle when none can be made.
    FileHandle CreateTemporary(std::string& temporaryName);
    // True when the folder's file system takes names that differ in case for one file; the
    // system's usual way when that cannot be found out.
    bool ProbeFoldsCase();

    platform::FolderId folder_;
    std::uint64_t temporaryCount_ = 0;
    bool foldsCase_ = platform::kCaseInsensitiveNames;
};

}  // namespace sorvik
