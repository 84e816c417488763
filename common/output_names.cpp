#include "common/output_names.h"

#include <cstdint>
#include <cstring>

#include "common/archive_names.h"
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

// True when the bytes at `at` form one whole UTF-8 character of `length` bytes (the shortest
// form, never a surrogate).
bool IsUtf8Character(const std::string& text, std::size_t at, std::size_t length) {
    if (length == 1) return static_cast<std::uint8_t>(text[at]) < 0x80;
    if (text.size() - at < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<std::uint8_t>(text[at + i]) & 0xC0) != 0x80) return false;
    }
    const auto lead = static_cast<std::uint8_t>(text[at]);
    const auto second = static_cast<std::uint8_t>(text[at + 1]);
    if (lead == 0xE0) return second >= 0xA0;  // not overlong
    if (lead == 0xED) return second < 0xA0;   // not a surrogate
    if (lead == 0xF0) return second >= 0x90;  // not overlong
    if (lead == 0xF4) return second < 0x90;   // not past U+10FFFF
    return true;
}

}  // namespace

std::string MakeSafeFileName(const std::string& name) {
    std::string safe = name;
    // Windows keeps names in Unicode: a byte that is no part of a UTF-8 character (a name that
    // was not code page 932 in the archive) has no form there. Other systems take any byte.
    const bool unicodeNames = platform::kPathSeparator == '\\';
    for (std::size_t i = 0; i < safe.size();) {
        const auto byte = static_cast<std::uint8_t>(safe[i]);
        const std::size_t length = Utf8CharacterLength(byte);
        if (length > 1 && IsUtf8Character(safe, i, length)) {
            i += length;  // no byte of a longer character is a separator or a control
            continue;
        }
        if (IsUnsafeByte(byte) || (unicodeNames && byte >= 0x80)) safe[i] = '_';
        ++i;
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
    return foldsCase_ ? platform::FoldCase(key) : key;
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
