#pragma once

#include <cstddef>
#include <string>

// Names inside an archive (its index and its sound headers) are code page 932 by the archive's
// format; inside the program, names are UTF-8. These convert between the two, the same way on
// every system.
namespace sorvik {

// The UTF-8 form of a name read from an archive. A name that is not code page 932 keeps its
// bytes as they are.
std::string NameFromArchive(const std::string& bytes);

// The archive's form of the UTF-8 `name`, at most `byteLimit` bytes long and cut only between
// characters. A name with a character code page 932 lacks keeps its UTF-8 bytes, cut likewise.
std::string NameForArchive(const std::string& name, std::size_t byteLimit);

// The number of bytes of the UTF-8 character that begins with `lead` (1 for any byte that begins
// none, so that a walk always moves on).
std::size_t Utf8CharacterLength(unsigned char lead);

}  // namespace sorvik
