#pragma once

#include <string>

namespace sorvik::testing {

// The console transcript a test expects, written with "\n": on Windows the console's text mode
// turns every "\n" into "\r\n", so it is converted there.
std::string Transcript(std::string expected);

}  // namespace sorvik::testing
