#include "app/destination.h"

#include <algorithm>
#include <optional>

#include "app/dialogs.h"
#include "common/path_helpers.h"
#include "platform/platform.h"

namespace sorvik {
namespace {

using platform::CreateDirResult;

// `path` with every '/' made the platform's separator, where that is another byte ('\\' on
// Windows, which takes both). Code pages with double-byte characters never use the byte of '/'
// within one, so no character is changed.
std::string WithPlatformSeparators(std::string path) {
    if (platform::kPathSeparator != '/') {
        std::replace(path.begin(), path.end(), '/', platform::kPathSeparator);
    }
    return path;
}

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

bool CreateDirectoryTree(const std::string& typedPath) {
    const std::string path = WithPlatformSeparators(typedPath);
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

std::vector<RunSettings> SeparateInputs(const RunSettings& settings,
                                        std::vector<std::string>& ignored) {
    const platform::FileId second = settings.outputDir.empty()
                                        ? platform::kInvalidFile
                                        : platform::OpenForReading(settings.outputDir.c_str());
    if (second == platform::kInvalidFile) {
        ignored = settings.furtherArguments;
        return {settings};
    }
    platform::CloseFile(second);
    std::vector<std::string> inputs = {settings.inputPath, settings.outputDir};
    inputs.insert(inputs.end(), settings.furtherArguments.begin(), settings.furtherArguments.end());
    std::vector<RunSettings> runs;
    for (const std::string& input : inputs) {
        runs.push_back(settings);
        runs.back().inputPath = input;
        runs.back().outputDir.clear();
        runs.back().furtherArguments.clear();
    }
    return runs;
}

Preparation PrepareRun(RunSettings& settings) {
    if (!settings.inputPath.empty()) {
        // The full path is what the user is shown, whatever the current directory.
        const std::optional<std::string> absolute = platform::MakeAbsolute(settings.inputPath);
        if (!absolute) return Preparation::BadPath;
        settings.inputPath = *absolute;
        // A listing writes nothing: it has no destination.
        if (settings.list) return Preparation::Ready;
    } else {
        if (!SelectInputFile(settings.inputPath)) return Preparation::Cancelled;
        if (settings.list) return Preparation::Ready;
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
    // A destination too long for the system is not begun: none of its levels is made.
    if (!platform::IsDirectory(settings.outputDir) &&
        !platform::IsPathTooLong(settings.outputDir)) {
        CreateDirectoryTree(settings.outputDir);
    }
    return Preparation::Ready;
}

}  // namespace sorvik
