#pragma once

#include <string>
#include <vector>

#include "codec/convert.h"
#include "common/result_code.h"
#include "common/section_mask.h"

namespace sorvik {

// What the command line asked for.
struct RunSettings {
    enum class ParseResult {
        Run,        // the arguments were accepted; go on
        Help,       // -h or -?: show the usage text
        FullHelp,   // --help: show every option
        Version,    // --version
        BadOption,  // an option that is not recognised (see rejectedOption)
        BadCount,   // -loops without a count from 1 to 9 after it
    };

    std::string inputPath;  // the input as typed (may hold wildcards); empty when none was named
    std::string outputDir;  // the destination folder as typed; empty when none was named
    std::vector<std::string> furtherArguments;  // the plain arguments after those two
    bool decode = true;     // false after -x: write raw sound images
    bool list = false;      // -l: list the sounds, write nothing
    bool rebuild = false;   // -r: rebuild the archive from the destination's sounds
    bool replaceExisting = false;  // -y: encodes and a rebuilt archive replace existing files
    bool quiet = false;     // -q: show nothing but failures
    WavOptions wav;         // -loop, -loops N
    SectionMask sections = Section::kAll;
    FailurePolicy onFailure = FailurePolicy::StopAtFirst;  // KeepGoing after -k
    std::string rejectedOption;                            // the option as typed, after BadOption

    // Takes the options and plain arguments as typed, up to the first one that asks for help,
    // the version, or is not recognised. Touches neither the file system nor the user: choosing
    // what was not named, and preparing the destination, belong to the run.
    ParseResult ParseArguments(int argc, const char* const* argv);
};

}  // namespace sorvik
