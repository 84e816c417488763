#pragma once

#include <string>

#include "common/section_mask.h"

namespace sorvik {

// What the command line asked for.
struct RunSettings {
    enum class ParseResult {
        Run,        // the arguments were accepted; go on
        Help,       // -h or -?: show the usage text
        BadOption,  // an option that is not recognised
    };

    std::string inputPath;  // the input as typed (may hold wildcards); empty when none was named
    std::string outputDir;  // the destination folder as typed; empty when none was named
    bool decode = true;     // false after -x: write raw sound images
    SectionMask sections = Section::kAll;

    // Takes the options and plain arguments as typed. Touches neither the file system nor the
    // user: choosing what was not named, and preparing the destination, belong to the run.
    ParseResult ParseArguments(int argc, const char* const* argv);
};

}  // namespace sorvik
