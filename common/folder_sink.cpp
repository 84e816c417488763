#include "common/folder_sink.h"

#include <new>
#include <utility>

#include "common/file_handle.h"

namespace sorvik {
namespace {

// A temporary file on its way to its final name.
class TemporaryFile final : public OutputFile {
  public:
    TemporaryFile(platform::FolderId folder, FileHandle file, std::string temporaryName,
                  std::string finalName)
        : folder_(folder),
          file_(std::move(file)),
          temporaryName_(std::move(temporaryName)),
          finalName_(std::move(finalName)) {}
    ~TemporaryFile() override {
        if (committed_) return;
        file_.Close();
        platform::RemoveFileIn(folder_, temporaryName_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Write(const void* bytes, std::size_t byteCount) override {
        return file_.Write(bytes, byteCount);
    }
    bool Rewrite(std::uint64_t offset, const void* bytes, std::size_t byteCount) override {
        return file_.WriteAt(offset, bytes, byteCount);
    }
    bool ReadBack(std::uint64_t offset, void* bytes, std::size_t byteCount) override {
        return file_.ReadAt(offset, bytes, byteCount);
    }
    bool Commit() override {
        // A failed close can mean the last bytes never reached the disk.
        if (!file_.Close()) return false;
        committed_ =
            platform::ReplaceFileIn(folder_, temporaryName_.c_str(), finalName_.c_str());
        return committed_;
    }

  private:
    platform::FolderId folder_;
    FileHandle file_;
    std::string temporaryName_;
    std::string finalName_;
    bool committed_ = false;
};

// A name taken by something else (a leftover of a killed run, say) is passed over for the next;
// when this many in a row cannot be created, the folder refuses new files.
constexpr int kTemporaryNameTries = 8;

}  // namespace

FolderSink::FolderSink(const std::string& path) : folder_(platform::OpenFolder(path.c_str())) {}

FolderSink::~FolderSink() { platform::CloseFolder(folder_); }

std::unique_ptr<OutputFile> FolderSink::Create(const std::string& name) {
    if (!IsOpen()) return nullptr;
    for (int i = 0; i < kTemporaryNameTries; ++i) {
        const std::string temporaryName = kTemporaryNamePrefix +
                                          std::to_string(platform::ProcessNumber()) + "-" +
                                          std::to_string(temporaryCount_++) + ".tmp";
        FileHandle file(platform::CreateNewFileIn(folder_, temporaryName.c_str()));
        if (!file.IsOpen()) continue;
        std::unique_ptr<OutputFile> output(
            new (std::nothrow) TemporaryFile(folder_, std::move(file), temporaryName, name));
        if (!output) {
            file.Close();
            platform::RemoveFileIn(folder_, temporaryName.c_str());
        }
        return output;
    }
    return nullptr;
}

}  // namespace sorvik
