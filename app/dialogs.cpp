#include "app/dialogs.h"

namespace sorvik {

bool SelectInputFile(std::string&) { return false; }

FolderChoice SelectOutputFolder(std::string&) { return FolderChoice::Cancelled; }

}  // namespace sorvik
