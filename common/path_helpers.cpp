#include "common/path_helpers.h"

#include <cstdint>

#include "platform/platform.h"

namespace sorvik {
namespace {

// Calls `visit(position)` for the first byte of every character of `path`, in order.
template <typename Visit>
void ForEachCharacterStart(const std::string& path, Visit visit) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        visit(i);
        if (platform::IsLeadByte(static_cast<std::uint8_t>(path[i])) && i + 1 < path.size()) {
            ++i;  // the trail byte belongs to this character
        }
    }
}

std::optional<std::size_t> LastCharacterStart(const std::string& path) {
    std::optional<std::size_t> last;
    ForEachCharacterStart(path, [&](std::size_t i) { last = i; });
    return last;
}

}  // namespace

std::size_t FileNamePart(const std::string& path) {
    std::size_t nameStart = 0;
    ForEachCharacterStart(path, [&](std::size_t i) {
        if (path[i] == platform::kPathSeparator) nameStart = i + 1;
    });
    return nameStart;
}

std::optional<std::size_t> CutLastComponent(std::string& path) {
    std::optional<std::size_t> cut;
    const std::size_t lastByte = path.empty() ? 0 : path.size() - 1;
    ForEachCharacterStart(path, [&](std::size_t i) {
        if (path[i] == platform::kPathSeparator && i != 0 && i != lastByte) cut = i;
    });
    if (cut) path.resize(*cut);
    return cut;
}

bool EndsWithByte(const std::string& path, char separator) {
    const std::optional<std::size_t> last = LastCharacterStart(path);
    return last && *last == path.size() - 1 && path[*last] == separator;
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
