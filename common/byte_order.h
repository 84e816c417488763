#pragma once

#include <cstddef>
#include <cstdint>

// Explicit little- and big-endian loads and stores on byte arrays. Integers are always assembled
// from bytes, never by casting pointers, so alignment and host byte order never matter.
namespace sorvik {

inline std::uint32_t LoadLe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::uint16_t LoadLe16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t LoadBe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

inline void StoreLe16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void StoreLe32(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value >> 16);
    bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void StoreBe32(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value >> 24);
    bytes[1] = static_cast<std::uint8_t>(value >> 16);
    bytes[2] = static_cast<std::uint8_t>(value >> 8);
    bytes[3] = static_cast<std::uint8_t>(value);
}

// Compares four bytes with a four-character magic such as "VAGp".
inline bool HasMagic(const std::uint8_t* bytes, const char (&magic)[5]) {
    return bytes[0] == static_cast<std::uint8_t>(magic[0]) &&
           bytes[1] == static_cast<std::uint8_t>(magic[1]) &&
           bytes[2] == static_cast<std::uint8_t>(magic[2]) &&
           bytes[3] == static_cast<std::uint8_t>(magic[3]);
}

}  // namespace sorvik
