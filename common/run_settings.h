#pragma once

#include <string>

#include "common/section_mask.h"

namespace sorvik {

// What the command line (or the dialogs) asked for.
struct RunSettings {
    enum class ParseResult {
        Run,        // the destination is prepared; go on
        Help,       // -h or -?: show the usage text
        BadOption,  // an option that is not recognised, or an input path that cannot be used
        Cancelled,  // no input named, and none chosen when asked
    };

    std::string inputPath;  // the input, made absolute (may hold wildcards)
    std::string outputDir;  // the destination folder, ending in a separator when typed
    bool decode = true;     // false after -x: write raw sound images
    SectionMask sections = Section::kAll;

    // Fills the settings from the arguments, asking for the paths when no input is named, then
    // resolves the destination and creates it (with missing parents) if needed. Nothing is
    // created unless the result is Run.
    ParseResult ParseCommandLine(int argc, char** argv);

    // The first half of ParseCommandLine: takes the options and plain arguments as typed, and
    // touches neither the file system nor the user. Run means the arguments were accepted.
    ParseResult ParseArguments(int argc, const char* const* argv);
};

}  // namespace sorvik
