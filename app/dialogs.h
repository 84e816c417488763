#pragma once

#include <string>

namespace sorvik {

// Asks the user for the input file. True with `path` set to the chosen file; false when the
// user cancels or cannot be asked.
bool SelectInputFile(std::string& path);

enum class FolderChoice { Chosen = 1, NotAFolder = 2, Cancelled = -1 };
// Asks the user for the destination folder; `path` is set only for Chosen.
FolderChoice SelectOutputFolder(std::string& path);

}  // namespace sorvik
