// The command-line parser (RunSettings::ParseArguments) on arbitrary arguments; see README.md.

#include <string>
#include <vector>

#include "app/run_settings.h"
#include "fuzz/harness.h"

using namespace sorvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::vector<char>> arguments{{'s', 'o', 'r', 'v', 'i', 'k', '\0'}, {}};
    for (std::size_t i = 0; i < size; ++i) {
        arguments.back().push_back(static_cast<char>(data[i]));
        if (data[i] == 0) arguments.emplace_back();
    }
    arguments.back().push_back('\0');
    std::vector<const char*> argv;
    for (const std::vector<char>& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    RunSettings settings;
    settings.ParseArguments(static_cast<int>(argv.size() - 1), argv.data());
    const SectionMask sections = settings.sections;
    fuzz::Expect(sections == Section::kAll || sections == Section::kSe ||
                     sections == Section::kVoice || sections == Section::kBgm,
                 "sections no option gives");
    for (const std::string& path : {settings.inputPath, settings.outputDir}) {
        fuzz::Expect(path.empty() || path[0] != '-', "an option taken as a path: " + path);
    }
    return 0;
}
