#pragma once

#include <cstdint>

namespace sorvik {

// The archive sections to extract, as a bit set. "-tse", "-tvoice" and "-tbgm" replace the whole
// value with one bit; the default has every bit set.
using SectionMask = std::int32_t;

namespace Section {
constexpr SectionMask kSe = 1;     // unnamed and named effects
constexpr SectionMask kVoice = 2;  // voices
constexpr SectionMask kBgm = 4;    // music
constexpr SectionMask kAll = -1;
}  // namespace Section

constexpr bool HasSection(SectionMask mask, SectionMask section) { return (mask & section) != 0; }

}  // namespace sorvik
