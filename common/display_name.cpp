#include "common/display_name.h"

#include <cstdint>

namespace sorvik {
namespace {

struct Character {
    std::size_t byteCount;  // 0: the byte at the position begins no valid UTF-8 character
    char32_t codePoint;
};

// The UTF-8 character at `at`: shortest form only, no surrogates, nothing past U+10FFFF.
Character Utf8CharacterAt(const std::string& text, std::size_t at) {
    const auto lead = static_cast<std::uint8_t>(text[at]);
    if (lead < 0x80) return {1, lead};
    std::size_t count = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2, codePoint = lead & 0x1F, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3, codePoint = lead & 0x0F, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4, codePoint = lead & 0x07, smallest = 0x10000;
    } else {
        return {0, 0};
    }
    if (text.size() - at < count) return {0, 0};
    for (std::size_t i = 1; i < count; ++i) {
        const auto next = static_cast<std::uint8_t>(text[at + i]);
        if ((next & 0xC0) != 0x80) return {0, 0};
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return {0, 0};
    }
    return {count, codePoint};
}

// Controls that act on a terminal, and the marks and embeddings that reorder text around them.
bool IsShownEscaped(char32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x061C ||
           codePoint == 0x200E || codePoint == 0x200F ||
           (codePoint >= 0x202A && codePoint <= 0x202E) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
}

void AppendEscaped(std::string& shown, const std::string& text, std::size_t at, std::size_t count) {
    constexpr char kHexDigits[] = "0123456789abcdef";
    for (std::size_t i = at; i < at + count; ++i) {
        const auto byte = static_cast<std::uint8_t>(text[i]);
        shown += {'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
    }
}

}  // namespace

std::string DisplayName(const std::string& name) {
    std::string shown;
    shown.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        Character character = Utf8CharacterAt(name, at);
        if (character.byteCount == 0) {
            // A byte outside any character: shown as it is, unless a terminal reading it as
            // Latin-1 would take it for a C1 control.
            character = {1, static_cast<std::uint8_t>(name[at])};
        }
        if (IsShownEscaped(character.codePoint)) {
            AppendEscaped(shown, name, at, character.byteCount);
        } else {
            shown.append(name, at, character.byteCount);
        }
        at += character.byteCount;
    }
    return shown;
}

}  // namespace sorvik
