#include "app/destination.h"

#include <optional>

#include "app/dialogs.h"
#include "common/path_helpers.h"
#include "platform/platform.h"

namespace sorvik {
namespace {

using platform::CreateDirResult;

// Creates the parent of `path` (the path cut at its last separator); false when there is none
// or it cannot be made.
bool CreateParentTree(const std::string& path) {
    std::string parent = path;
    return CutLastComponent(parent).has_value() && CreateDirectoryTree(parent);
}

// Without a named destination the output goes beside the input.
std::string FolderOfInput(const std::string& inputPath) {
    const std::size_t nameStart = FileNamePart(inputPath);
    if (nameStart != 0) return inputPath.substr(0, nameStart);
    const std::optional<std::string> current = platform::GetCurrentDir();
    if (current) return *current;
    return std::string(".") + platform::kPathSeparator;
}

}  // namespace

bool CreateDirectoryTree(const std::string& path) {
    switch (platform::CreateDir(path)) {
        case CreateDirResult::Created:
        case CreateDirResult::AlreadyExists:
            return true;
        case CreateDirResult::ParentMissing:
            return CreateParentTree(path) && platform::CreateDir(path) == CreateDirResult::Created;
        case CreateDirResult::Failed:
            break;
    }
    return false;
}

Preparation PrepareRun(RunSettings& settings) {
    if (!settings.inputPath.empty()) {
        // The full path is what the user is shown, whatever the current directory.
        const std::optional<std::string> absolute = platform::MakeAbsolute(settings.inputPath);
        if (!absolute) return Preparation::BadPath;
        settings.inputPath = *absolute;
    } else {
        if (!SelectInputFile(settings.inputPath)) return Preparation::Cancelled;
        std::string chosenFolder;
        if (SelectOutputFolder(chosenFolder) == FolderChoice::Chosen) {
            settings.outputDir = chosenFolder;
        }
    }

    if (settings.outputDir.empty()) {
        settings.outputDir = FolderOfInput(settings.inputPath);
    } else if (!EndsWithByte(settings.outputDir, platform::kPathSeparator)) {
        settings.outputDir += platform::kPathSeparator;
    }
    if (!platform::IsDirectory(settings.outputDir)) CreateDirectoryTree(settings.outputDir);
    return Preparation::Ready;
}

}  // namespace sorvik
