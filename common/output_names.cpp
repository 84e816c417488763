#include "common/output_names.h"

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace sorvik {
namespace {

bool IsUnsafeByte(std::uint8_t byte) {
    if (byte < 0x20 || byte == '/' || byte == '\\' || byte == ':') return true;
    // Windows refuses these in file names, and '?' and '*' would act as wildcards.
    return platform::kPathSeparator == '\\' && std::strchr("<>\"|?*", byte) != nullptr;
}

bool LooksTemporary(const std::string& name) {
    const std::string start = name.substr(0, sizeof(kTemporaryNamePrefix) - 1);
    return platform::CompareNoCase(start.c_str(), kTemporaryNamePrefix) == 0;
}

}  // namespace

std::string MakeSafeFileName(const std::string& name) {
    std::string safe = name;
    for (std::size_t i = 0; i < safe.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(safe[i]);
        if (platform::IsLeadByte(byte) && i + 1 < safe.size()) {
            ++i;  // a trail byte is part of its character, whatever its value
            continue;
        }
        if (IsUnsafeByte(byte)) safe[i] = '_';
    }
    if (!safe.empty() && safe.find_first_not_of('.') == std::string::npos) safe = "_";
    if (platform::IsReservedFileName(safe) || LooksTemporary(safe)) safe.insert(0, "_");
    return safe;
}

OutputNameRegistry::OutputNameRegistry() : foldsCase_(platform::kCaseInsensitiveNames) {}

std::string OutputNameRegistry::Key(const std::string& name) const {
    std::string key = name;
    if (platform::kIgnoresTrailingDotsAndBlanks) {
        while (!key.empty() && (key.back() == '.' || key.back() == ' ')) key.pop_back();
    }
    if (foldsCase_) {
        for (char& character : key) {
            if (character >= 'A' && character <= 'Z') character = static_cast<char>(character + 32);
        }
    }
    return key;
}

std::string OutputNameRegistry::Claim(const std::string& name) {
    std::string claimed = name;
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    // The numbers below `next` were all taken when this name last asked, and names stay taken,
    // so the search goes on from there: many sounds of one name cost no more than distinct ones.
    unsigned& next = nextNumber_[Key(name)];
    if (next < 2) next = 2;
    while (used_.count(Key(claimed)) != 0) {
        claimed = stem + "_" + std::to_string(next++) + extension;
    }
    used_.insert(Key(claimed));
    return claimed;
}

}  // namespace sorvik
