#include <cstring>

#include "app/run_settings.h"
#include "platform/platform.h"

namespace sorvik {
namespace {

using ParseResult = RunSettings::ParseResult;

bool IsOption(const char* argument) {
    return argument[0] == '-' || (argument[0] == '/' && platform::kSlashStartsOption);
}

// True for a one-letter option with nothing after its letter (a blank is let pass, as always).
bool StandsAlone(const char* rest) { return rest[0] == '\0' || rest[0] == ' '; }

// Applies one short option (its letter is matched with case; "-tse" and the like without).
ParseResult ApplyShortOption(const char* argument, RunSettings& settings) {
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
                return ParseResult::BadOption;
            }
            return ParseResult::Run;
        case 'x':
            if (!StandsAlone(rest)) return ParseResult::BadOption;
            settings.decode = false;
            return ParseResult::Run;
        case 'l':
            if (StandsAlone(rest)) {
                settings.list = true;
            } else if (std::strcmp(rest, "oop") == 0) {
                settings.wav.loopChunk = true;
            } else {
                return ParseResult::BadOption;
            }
            return ParseResult::Run;
        case 'k':
            if (!StandsAlone(rest)) return ParseResult::BadOption;
            settings.onFailure = FailurePolicy::KeepGoing;
            return ParseResult::Run;
        case 'r':
            if (!StandsAlone(rest)) return ParseResult::BadOption;
            settings.rebuild = true;
            return ParseResult::Run;
        case 'y':
            if (!StandsAlone(rest)) return ParseResult::BadOption;
            settings.replaceExisting = true;
            return ParseResult::Run;
        case 'q':
            if (!StandsAlone(rest)) return ParseResult::BadOption;
            settings.quiet = true;
            return ParseResult::Run;
        case 'h':
        case '?':
            return ParseResult::Help;
        default:
            return ParseResult::BadOption;
    }
}

// Applies one option: the two long ones, spelt exactly, or a short one.
ParseResult ApplyOption(const char* argument, RunSettings& settings) {
    if (std::strcmp(argument, "--help") == 0) return ParseResult::FullHelp;
    if (std::strcmp(argument, "--version") == 0) return ParseResult::Version;
    return ApplyShortOption(argument, settings);
}

bool IsLoopCountOption(const char* argument) { return std::strcmp(argument + 1, "loops") == 0; }

// A loop count: one digit from 1 to 9.
bool ReadLoopCount(const char* text, unsigned& count) {
    if (text[0] < '1' || text[0] > '9' || text[1] != '\0') return false;
    count = static_cast<unsigned>(text[0] - '0');
    return true;
}

void TakePlainArgument(const char* argument, RunSettings& settings) {
    if (settings.inputPath.empty()) {
        settings.inputPath = argument;
    } else if (settings.outputDir.empty()) {
        settings.outputDir = argument;
    } else {
        settings.furtherArguments.push_back(argument);
    }
}

}  // namespace

RunSettings::ParseResult RunSettings::ParseArguments(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (!IsOption(argv[i])) {
            TakePlainArgument(argv[i], *this);
            continue;
        }
        if (IsLoopCountOption(argv[i])) {
            // The count is the next argument.
            if (i + 1 < argc && ReadLoopCount(argv[i + 1], wav.loopCount)) {
                ++i;
                continue;
            }
            rejectedOption = argv[i];
            return ParseResult::BadCount;
        }
        const ParseResult result = ApplyOption(argv[i], *this);
        if (result == ParseResult::BadOption) rejectedOption = argv[i];
        if (result != ParseResult::Run) return result;
    }
    return ParseResult::Run;
}

}  // namespace sorvik
