#pragma once

#include <string>

namespace sorvik {

// Creates the directory `path`, creating missing parent folders first. True when the directory
// exists afterwards (made now or already there).
bool CreateDirectoryTree(const std::string& path);

// Creates the destination directory `path`, with missing parents; an existing entry of that name
// counts as success (whether it can be entered is found out when it is entered).
bool PrepareDirectory(const std::string& path);

}  // namespace sorvik
