#include "app/destination.h"

#include <optional>

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

bool PrepareDirectory(const std::string& path) {
    // The tree works on its own copies of the path, so the caller's text is never cut.
    return CreateDirectoryTree(path);
}

}  // namespace sorvik
