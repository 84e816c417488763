#include "common/path_helpers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/platform.h"

namespace sorvik {
namespace {

// Writes paths with '|' for the platform separator, so one table serves every platform.
std::string P(std::string path) {
    for (char& character : path) {
        if (character == '|') character = platform::kPathSeparator;
    }
    return path;
}

TEST(FileNamePart, FindsTheNameAfterTheLastSeparator) {
    EXPECT_EQ(FileNamePart(P("|game|data.sfs")), 6u);
    EXPECT_EQ(FileNamePart(P("data.sfs")), 0u);
    EXPECT_EQ(FileNamePart(P("|game|")), 6u);
    EXPECT_EQ(FileNamePart(""), 0u);
}

TEST(CutLastComponent, CutsAtTheLastSeparatorButNotTheFirstOrLastByte) {
    std::string path = P("|a|b|");
    EXPECT_EQ(CutLastComponent(path), std::optional<std::size_t>(2));
    EXPECT_EQ(path, P("|a"));

    std::string rooted = P("|a");
    EXPECT_EQ(CutLastComponent(rooted), std::nullopt);
    EXPECT_EQ(rooted, P("|a"));

    std::string bare = "name";
    EXPECT_EQ(CutLastComponent(bare), std::nullopt);
    std::string empty;
    EXPECT_EQ(CutLastComponent(empty), std::nullopt);
}

TEST(EnsureTrailingSeparator, AppendsOnlyWhenMissing) {
    std::string folder = P("|game");
    EXPECT_EQ(EnsureTrailingSeparator(folder), 6u);
    EXPECT_EQ(folder, P("|game|"));
    EXPECT_EQ(EnsureTrailingSeparator(folder), 6u);

    std::string slashed = "game/";
    EXPECT_EQ(EnsureTrailingSeparator(slashed), 5u);
    std::string empty;
    EXPECT_EQ(EnsureTrailingSeparator(empty), 0u);
}

TEST(ReplaceExtension, ReplacesAfterTheLastDotOrAppends) {
    std::string name = "bgm01.vag";
    ReplaceExtension(name, "WAV");
    EXPECT_EQ(name, "bgm01.WAV");
    std::string dotted = "a.b.vag";
    ReplaceExtension(dotted, "WAV");
    EXPECT_EQ(dotted, "a.b.WAV");
    std::string plain = "voice";
    ReplaceExtension(plain, "WAV");
    EXPECT_EQ(plain, "voice.WAV");
    std::string endsInDot = "voice.";
    ReplaceExtension(endsInDot, "WAV");
    EXPECT_EQ(endsInDot, "voice.WAV");
}

}  // namespace
}  // namespace sorvik
