#include "tests/support/transcript.h"

namespace sorvik::testing {

std::string Transcript(std::string expected) {
#if defined(_WIN32)
    std::string converted;
    for (const char character : expected) {
        if (character == '\n') converted += '\r';
        converted += character;
    }
    return converted;
#else
    return expected;
#endif
}

}  // namespace sorvik::testing
