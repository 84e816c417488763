#include "app/console.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace sorvik::console {

void SetUp() {
    if (platform::StdoutIsTerminal()) std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

void PutLine(const char* text) { std::puts(text); }

void PutChar(char character) { std::putc(character, stdout); }

}  // namespace sorvik::console
