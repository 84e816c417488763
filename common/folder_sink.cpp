#include "common/folder_sink.h"

#include <new>
#include <utility>

#include "common/file_handle.h"

namespace sorvik {

// A temporary file on its way to its final name.
class FolderSink::TemporaryFile final : public OutputFile {
  public:
    TemporaryFile(FolderSink& sink, platform::FolderId folder, FileHandle file,
                  std::string temporaryName, std::string finalName)
        : sink_(sink),
          folder_(folder),
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
        committed_ = sink_.TakeName(finalName_, [this](bool replaceExisting) {
            return platform::ReplaceFileIn(folder_, temporaryName_.c_str(), finalName_.c_str(),
                                           replaceExisting);
        });
        return committed_;
    }

  private:
    FolderSink& sink_;
    platform::FolderId folder_;
    FileHandle file_;
    std::string temporaryName_;
    std::string finalName_;
    bool committed_ = false;
};

namespace {

// A name taken by something else (a leftover of a killed run, say) is passed over for the next;
// when this many in a row cannot be created, the folder refuses new files.
constexpr int kTemporaryNameTries = 8;

}  // namespace

FolderSink::FolderSink(const std::string& path) : folder_(platform::OpenFolder(path.c_str())) {
    if (!IsOpen()) return;
    foldsCase_ = ProbeFoldsCase();
    FoldCase(foldsCase_);
}

FolderSink::~FolderSink() { platform::CloseFolder(folder_); }

FileHandle FolderSink::CreateTemporary(std::string& temporaryName) {
    for (int i = 0; i < kTemporaryNameTries; ++i) {
        temporaryName = kTemporaryNamePrefix + std::to_string(platform::ProcessNumber()) + "-" +
                        std::to_string(temporaryCount_++) + ".tmp";
        FileHandle file(platform::CreateNewFileIn(folder_, temporaryName.c_str()));
        if (file.IsOpen()) return file;
    }
    return FileHandle();
}

bool FolderSink::ProbeFoldsCase() {
    std::string temporaryName;
    FileHandle file = CreateTemporary(temporaryName);
    if (!file.IsOpen()) return platform::kCaseInsensitiveNames;
    std::string upper = temporaryName;
    for (char& character : upper) {
        if (character >= 'a' && character <= 'z') character = static_cast<char>(character - 32);
    }
    const std::optional<platform::FileIdentity> identity = file.Identity();
    const std::optional<platform::StoredFile> found =
        platform::FindStoredFile(folder_, upper.c_str(), false);
    file.Close();
    platform::RemoveFileIn(folder_, temporaryName.c_str());
    return identity && found && found->identity == *identity;
}

std::optional<platform::StoredFile> FolderSink::Find(const std::string& name) const {
    return platform::FindStoredFile(folder_, name.c_str(), foldsCase_);
}

std::unique_ptr<OutputFile> FolderSink::Create(const std::string& name) {
    if (!IsOpen() || !MayCreate(name)) return nullptr;
    std::string temporaryName;
    FileHandle file = CreateTemporary(temporaryName);
    if (!file.IsOpen()) return nullptr;
    std::unique_ptr<OutputFile> output(
        new (std::nothrow) TemporaryFile(*this, folder_, std::move(file), temporaryName, name));
    if (!output) {  // the file was not handed over
        file.Close();
        platform::RemoveFileIn(folder_, temporaryName.c_str());
    }
    return output;
}

}  // namespace sorvik
