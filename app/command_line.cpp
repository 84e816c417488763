#include "app/run_settings.h"
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

}  // namespace sorvik
