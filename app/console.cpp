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

void PrintError(const char* format, ...) {
    std::fflush(stdout);
    std::fputs("sorvik: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

void PutError(const char* text) {
    std::fflush(stdout);
    std::fputs(text, stderr);
}

}  // namespace sorvik::console
