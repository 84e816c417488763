// The command-line parser (RunSettings::ParseArguments) on arbitrary arguments; see README.md.

#include <string>
#include <vector>

#include "app/run_settings.h"
#include "fuzz/harness.h"

using namespace sorvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string all = std::string("sorvik", 7) + std::string(data, data + size) + '\0';
    std::vector<std::vector<char>> arguments;  // each of its exact length: reads past it are caught
    std::vector<const char*> argv;
    for (std::size_t at = 0; at < all.size(); at = all.find('\0', at) + 1) {
        argv.push_back(arguments.emplace_back(&all[at], &all[all.find('\0', at) + 1]).data());
    }
    argv.push_back(nullptr);
    RunSettings settings;
    settings.ParseArguments(static_cast<int>(argv.size() - 1), argv.data());
    fuzz::Expect(settings.sections == Section::kAll || settings.sections == Section::kSe ||
                     settings.sections == Section::kVoice || settings.sections == Section::kBgm,
                 "sections no option gives");
    for (const std::string& path : {settings.inputPath, settings.outputDir}) {
        fuzz::Expect(path.empty() || path[0] != '-', "an option taken as a path: " + path);
    }
    return 0;
}
