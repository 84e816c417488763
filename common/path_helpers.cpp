#include "common/path_helpers.h"

#include "platform/platform.h"

namespace sorvik {

std::size_t FileNamePart(const std::string& path) {
    const std::size_t separator = path.rfind(platform::kPathSeparator);
    return separator == std::string::npos ? 0 : separator + 1;
}

std::optional<std::size_t> CutLastComponent(std::string& path) {
    if (path.size() < 3) return std::nullopt;
    // A separator in the last byte is passed over, and one in the first byte never taken.
    const std::size_t cut = path.rfind(platform::kPathSeparator, path.size() - 2);
    if (cut == std::string::npos || cut == 0) return std::nullopt;
    path.resize(cut);
    return cut;
}

bool EndsWithByte(const std::string& path, char separator) {
    return !path.empty() && path.back() == separator;
}

void ReplaceExtension(std::string& name, const char* extension) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        name += '.';
    } else {
        name.resize(dot + 1);
    }
    name += extension;
}

}  // namespace sorvik
