#include <cstring>
#include <optional>

#include "app/destination.h"
#include "app/dialogs.h"
#include "common/path_helpers.h"
#include "common/run_settings.h"
#include "platform/platform.h"

namespace sorvik {
namespace {

using ParseResult = RunSettings::ParseResult;

bool IsOption(const char* argument) {
    return argument[0] == '-' || (argument[0] == '/' && platform::kSlashStartsOption);
}

// Applies one option (its letter is matched with case; "-tse" and the like without). Returns
// false for an option that is not recognised; -h and -? are reported through `help`.
bool ApplyOption(const char* argument, RunSettings& settings, bool& help) {
    const char letter = argument[1];
    const char* rest = letter == '\0' ? argument + 1 : argument + 2;
    switch (letter) {
        case 't':
            if (platform::CompareNoCase(rest, "se") == 0) {
                settings.sections = Section::kSe;
            } else if (platform::CompareNoCase(rest, "voice") == 0) {
                settings.sections = Section::kVoice;
            } else if (platform::CompareNoCase(rest, "bgm") == 0) {
                settings.sections = Section::kBgm;
            } else {
                return false;
            }
            return true;
        case 'x':
            if (rest[0] != '\0' && rest[0] != ' ') return false;
            settings.decode = false;
            return true;
        case 'h':
        case '?':
            help = true;
            return false;
        default:
            return false;
    }
}

void TakePlainArgument(const char* argument, RunSettings& settings) {
    if (settings.inputPath.empty()) {
        settings.inputPath = argument;
    } else if (settings.outputDir.empty()) {
        settings.outputDir = argument;
    }
    // A third plain argument and all after it have no effect.
}

// Without a typed destination the output goes beside the input.
std::string FolderOfInput(const std::string& inputPath) {
    const std::size_t nameStart = FileNamePart(inputPath);
    if (nameStart != 0) return inputPath.substr(0, nameStart);
    const std::optional<std::string> current = platform::GetCurrentDir();
    if (current) return *current;
    return std::string(".") + platform::kPathSeparator;
}

}  // namespace

RunSettings::ParseResult RunSettings::ParseArguments(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (IsOption(argv[i])) {
            bool help = false;
            if (!ApplyOption(argv[i], *this, help)) {
                return help ? ParseResult::Help : ParseResult::BadOption;
            }
        } else {
            TakePlainArgument(argv[i], *this);
        }
    }
    return ParseResult::Run;
}

RunSettings::ParseResult RunSettings::ParseCommandLine(int argc, char** argv) {
    const ParseResult parsed = ParseArguments(argc, argv);
    if (parsed != ParseResult::Run) return parsed;

    if (!inputPath.empty()) {
        // Made absolute before the current directory changes, so it stays reachable.
        const std::optional<std::string> absolute = platform::MakeAbsolute(inputPath);
        if (!absolute) return ParseResult::BadOption;
        inputPath = *absolute;
    } else {
        if (!SelectInputFile(inputPath)) return ParseResult::Cancelled;
        std::string chosenFolder;
        if (SelectOutputFolder(chosenFolder) == FolderChoice::Chosen) outputDir = chosenFolder;
    }

    if (outputDir.empty()) {
        outputDir = FolderOfInput(inputPath);
    } else if (!EndsWithByte(outputDir, platform::kPathSeparator)) {
        outputDir += platform::kPathSeparator;
    }
    if (!platform::IsDirectory(outputDir)) PrepareDirectory(outputDir);
    return ParseResult::Run;
}

}  // namespace sorvik
