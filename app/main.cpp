#include <string>

#include "codec/batch.h"
#include "common/console.h"
#include "common/run_settings.h"
#include "platform/platform.h"
#include "sfs/sfs_extractor.h"

namespace sorvik {
namespace {

constexpr char kUsageText[] =
    "Lumivale SFS & VAG to WAV converter ver. 0.02"
    "\n\nUsage:\n\tsorvik [input] [output path]\n\nOptions:\n"
    "\t-x\textract vag files (not decode)\n\t-tbgm\tbgm files only\n"
    "\t-tvoice\tvoice files only\n\t-tse\tse files only\n\t-h, -?\tshow this help\n";

// Exit statuses: everything asked for was done (or help was asked for); something failed; the
// command line could not be used.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The text after the last '.' of the whole path, or the whole path when it has no dot.
std::string Extension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos ? path : path.substr(dot + 1);
}

// Prints the outcome of an archive extraction; true for Ok.
bool ReportExtraction(ResultCode result, const std::string& inputPath) {
    switch (result) {
        case ResultCode::Ok:
            return true;
        case ResultCode::UnknownFormat:
            console::Print("%s: Unknown format.\n\n", inputPath.c_str());
            break;
        case ResultCode::OutOfMemory:
            console::PutLine("Can't allocate memory.\n");
            break;
        case ResultCode::ReadFailed:
            console::Print("Can't read %s.\n\n", inputPath.c_str());
            break;
        case ResultCode::WriteFailed:
            console::PutLine("Can't write files.\n");
            break;
    }
    return false;
}

// Converts what the settings name into the destination, which is already the current directory.
bool Convert(const RunSettings& settings) {
    const std::string extension = Extension(settings.inputPath);
    if (platform::CompareNoCase(extension.c_str(), "VAG") == 0) {
        return DecodeVagFiles(settings.inputPath);
    }
    if (platform::CompareNoCase(extension.c_str(), "SFS") == 0) {
        sfs::SfsExtractor extractor(settings.decode, settings.sections);
        return ReportExtraction(extractor.ExtractAll(settings.inputPath), settings.inputPath);
    }
    console::Print("%s: Unknown format.\n\n", settings.inputPath.c_str());
    return false;
}

int Run(int argc, char** argv) {
    console::SetUp();
    console::Print("starting...");
    RunSettings settings;
    const RunSettings::ParseResult parsed = settings.ParseCommandLine(argc, argv);
    if (parsed != RunSettings::ParseResult::Run) {
        console::PutChar('\r');
        console::PutLine(kUsageText);
        return parsed == RunSettings::ParseResult::Help ? kExitDone : kExitUsage;
    }

    bool done = false;
    if (platform::SetCurrentDir(settings.outputDir)) {
        console::Print("\rdestination:\n\t%s\n\n", settings.outputDir.c_str());
        done = Convert(settings);
    } else {
        console::Print("\rCan't create %s.\n\n", settings.outputDir.c_str());
    }
    console::PutLine("\nfinished!");
    return done ? kExitDone : kExitFailed;
}

}  // namespace
}  // namespace sorvik

int main(int argc, char** argv) { return sorvik::Run(argc, argv); }
