#pragma once

#include <cstddef>
#include <cstdint>

// The program's own Japanese texts. Each is written once, in UTF-8, and turned into code page 932
// (Shift-JIS) while compiling. A Windows build hands the code page 932 form to the system's "A"
// functions; elsewhere the UTF-8 form is used. The conversion knows kana and the few kanji these
// texts need: a text with any other character does not compile.
namespace sorvik::texts {

namespace encoding {

// One text in both encodings. Code page 932 needs at most as many bytes as UTF-8 (one for ASCII,
// two where UTF-8 has three), so both fit arrays of the UTF-8 literal's size.
template <std::size_t N>
struct JapaneseText {
    char utf8[N] = {};
    char cp932[N] = {};
    bool complete = true;  // false when a character had no code page 932 form here

#if defined(_WIN32)
    constexpr const char* InBuildEncoding() const { return cp932; }
#else
    constexpr const char* InBuildEncoding() const { return utf8; }
#endif
};

struct KanjiCode {
    char32_t codePoint;
    std::uint16_t cp932;
};
constexpr KanjiCode kKanji[] = {
    {U'先', 0x90E6}, {U'出', 0x8F6F}, {U'力', 0x97CD}, {U'同', 0x93AF},
    {U'定', 0x92E8}, {U'指', 0x8E77}, {U'置', 0x9275}, {U'見', 0x8CA9},
};

// The code page 932 form of one character; 0 when it is not known here.
constexpr std::uint16_t ToCp932(char32_t codePoint) {
    if (codePoint < 0x80) return static_cast<std::uint16_t>(codePoint);
    // Hiragana ぁ to ん lie in one run.
    if (codePoint >= 0x3041 && codePoint <= 0x3093) {
        return static_cast<std::uint16_t>(0x829F + (codePoint - 0x3041));
    }
    // Katakana ァ to ヶ: two runs, as the trail byte 0x7F is never used.
    if (codePoint >= 0x30A1 && codePoint <= 0x30DF) {
        return static_cast<std::uint16_t>(0x8340 + (codePoint - 0x30A1));
    }
    if (codePoint >= 0x30E0 && codePoint <= 0x30F6) {
        return static_cast<std::uint16_t>(0x8380 + (codePoint - 0x30E0));
    }
    for (const KanjiCode& kanji : kKanji) {
        if (kanji.codePoint == codePoint) return kanji.cp932;
    }
    return 0;
}

template <std::size_t N>
constexpr JapaneseText<N> MakeJapaneseText(const char (&utf8)[N]) {
    JapaneseText<N> text;
    for (std::size_t i = 0; i < N; ++i) text.utf8[i] = utf8[i];
    std::size_t out = 0;
    for (std::size_t i = 0; i + 1 < N;) {
        const auto lead = static_cast<std::uint8_t>(utf8[i]);
        // The texts hold characters of one to three UTF-8 bytes.
        const std::size_t length = lead < 0x80 ? 1 : (lead & 0xF0) == 0xE0 ? 3 : 0;
        if (length == 0 || i + length >= N) {
            text.complete = false;
            break;
        }
        char32_t codePoint = length == 1 ? lead : lead & 0x0F;
        for (std::size_t k = 1; k < length; ++k) {
            codePoint = (codePoint << 6) | (static_cast<std::uint8_t>(utf8[i + k]) & 0x3F);
        }
        const std::uint16_t code = ToCp932(codePoint);
        if (code == 0 && codePoint != 0) {
            text.complete = false;
            break;
        }
        if (code > 0xFF) text.cp932[out++] = static_cast<char>(code >> 8);
        text.cp932[out++] = static_cast<char>(code & 0xFF);
        i += length;
    }
    return text;
}

}  // namespace encoding

// Defines `name` (the text in the build's encoding) and `name##Forms` (both encodings).
#define SORVIK_JAPANESE_TEXT(name, literal)                                  \
    inline constexpr auto name##Forms = encoding::MakeJapaneseText(literal); \
    static_assert(name##Forms.complete, "a character of " #name              \
                                        " has no code page "                 \
                                        "932 form in japanese_texts.h");     \
    inline constexpr const char* name = name##Forms.InBuildEncoding();

// Missing companion index: caption, and what follows the index file's name in the text.
SORVIK_JAPANESE_TEXT(kMissingIndexCaption, u8"ファイルが見つかりません")
SORVIK_JAPANESE_TEXT(kMissingIndexRequest, u8" を\n\nSFSファイルと同じフォルダに置いてください")
// Title of the destination folder browser.
SORVIK_JAPANESE_TEXT(kChooseDestinationTitle, u8"出力先を指定してください")

#undef SORVIK_JAPANESE_TEXT

}  // namespace sorvik::texts
