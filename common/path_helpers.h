#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Helpers on UTF-8 paths. A separator is the platform's separator byte ('\\' on Windows, '/'
// elsewhere); in UTF-8 no byte of a longer character is ever one.
namespace sorvik {

// The position just after the last separator, or 0 when there is none.
std::size_t FileNamePart(const std::string& path);

// Ends `path` at its last separator and returns that position. A separator in the last byte is
// passed over (C:\a\b\ is cut to C:\a) and one in the first byte is never taken (\a is not cut).
// nullopt, with `path` unchanged, when there is nothing to cut at.
std::optional<std::size_t> CutLastComponent(std::string& path);

// True when the last byte of `path` is `separator`.
bool EndsWithByte(const std::string& path, char separator);

// Replaces the text after the last '.' of `name` with `extension`; a name without a dot gets a dot
// and the extension appended.
void ReplaceExtension(std::string& name, const char* extension);

}  // namespace sorvik
