#include "app/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace sorvik::console {
namespace {

// The text `format` makes of `arguments`.
std::string Format(const char* format, va_list arguments) {
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

}  // namespace

void SetUp() {
    if (platform::StdoutIsTerminal()) std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    platform::WriteOut(Format(format, arguments));
    va_end(arguments);
}

void PutLine(const char* text) { platform::WriteOut(std::string(text) + '\n'); }

void PutChar(char character) { platform::WriteOut(std::string(1, character)); }

void PrintError(const char* format, ...) {
    std::fflush(stdout);
    va_list arguments;
    va_start(arguments, format);
    platform::WriteOut("sorvik: " + Format(format, arguments) + '\n', true);
    va_end(arguments);
}

void PutError(const char* text) {
    std::fflush(stdout);
    std::fputs(text, stderr);
}

}  // namespace sorvik::console
