// The command-line parser on arbitrary argument vectors. Input: the arguments separated by zero
// bytes (argument 0, the program's path, is added). The parser touches no files; it must accept
// or refuse every vector without reading past an argument, and leave the settings in one of
// the states the options can produce.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/run_settings.h"
#include "fuzz/fuzz_support.h"

namespace fuzz = sorvik::fuzz;
using ParseResult = sorvik::RunSettings::ParseResult;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Each argument in a heap block of its own exact length, so reading past its terminator is
    // caught.
    std::vector<std::vector<char>> arguments{{'s', 'o', 'r', 'v', 'i', 'k', '\0'}};
    arguments.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        arguments.back().push_back(static_cast<char>(data[i]));
        if (data[i] == 0) arguments.emplace_back();
    }
    arguments.back().push_back('\0');
    std::vector<const char*> argv;
    for (const std::vector<char>& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    sorvik::RunSettings settings;
    const ParseResult result =
        settings.ParseArguments(static_cast<int>(argv.size() - 1), argv.data());
    if (result == ParseResult::Cancelled) fuzz::Fail("the parser asked nobody");
    const sorvik::SectionMask sections = settings.sections;
    if (sections != sorvik::Section::kAll && sections != sorvik::Section::kSe &&
        sections != sorvik::Section::kVoice && sections != sorvik::Section::kBgm) {
        fuzz::Fail("sections hold a value no option gives");
    }
    // The input and the destination come from plain arguments only, never from an option.
    for (const std::string* path : {&settings.inputPath, &settings.outputDir}) {
        if (!path->empty() && (*path)[0] == '-') fuzz::Fail("an option taken as a path");
    }
    return 0;
}
