#pragma once

#include <string>

// How a name or a path is shown to the user.
namespace sorvik {

// `name` as it may be printed on a terminal, in the -l listing or in a message box: every byte
// of a character that could act on a terminal or reorder the text around it becomes "\xHH"
// (two lower-case hex digits). Those are the C0 controls (tab and newline included), DEL, the
// C1 controls U+0080-U+009F, the bidi controls U+061C, U+200E, U+200F, U+202A-U+202E and
// U+2066-U+2069, and the bytes 0x80-0x9F that begin no valid character. Every other valid UTF-8
// character and every other byte passes, so an ordinary name is shown exactly as it is.
std::string DisplayName(const std::string& name);

}  // namespace sorvik
