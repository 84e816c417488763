#include "common/archive_names.h"

#include <algorithm>
#include <optional>

#include "platform/platform.h"

namespace sorvik {
namespace {

bool IsCp932Lead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsCp932Trail(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

// True when `bytes` are made of code page 932's characters: ASCII, half-width katakana, and lead
// bytes each followed by a trail byte. The single bytes the systems' converters disagree on
// (0x80, 0xA0, 0xFD-0xFF) are none, so every system reads a name the same way or not at all.
bool HasCp932Form(const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (byte < 0x80 || (byte >= 0xA1 && byte <= 0xDF)) continue;
        if (!IsCp932Lead(byte) || at + 1 == bytes.size()) return false;
        if (!IsCp932Trail(static_cast<unsigned char>(bytes[++at]))) return false;
    }
    return true;
}

bool IsAscii(const std::string& text) {
    for (const char character : text) {
        if (static_cast<unsigned char>(character) >= 0x80) return false;
    }
    return true;
}

// The length of `text` cut to at most `byteLimit` bytes between characters, which are
// `lengthAt(position)` bytes long.
template <typename LengthAt>
std::size_t CutLength(const std::string& text, std::size_t byteLimit, LengthAt lengthAt) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t next = at + lengthAt(at);
        if (next > byteLimit) break;
        at = next;
    }
    return std::min(at, text.size());
}

}  // namespace

std::size_t Utf8CharacterLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    return 1;
}

std::string NameFromArchive(const std::string& bytes) {
    if (IsAscii(bytes) || !HasCp932Form(bytes)) return bytes;
    return platform::Cp932ToUtf8(bytes).value_or(bytes);
}

std::string NameForArchive(const std::string& name, std::size_t byteLimit) {
    if (const std::optional<std::string> cp932 = platform::Utf8ToCp932(name)) {
        const std::size_t length = CutLength(*cp932, byteLimit, [&](std::size_t at) {
            return IsCp932Lead(static_cast<unsigned char>((*cp932)[at])) ? 2 : 1;
        });
        return cp932->substr(0, length);
    }
    const std::size_t length = CutLength(name, byteLimit, [&](std::size_t at) {
        return Utf8CharacterLength(static_cast<unsigned char>(name[at]));
    });
    return name.substr(0, length);
}

}  // namespace sorvik
