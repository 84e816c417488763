#include <string>

#include "app/console.h"
#include "app/console_reporter.h"
#include "app/destination.h"
#include "app/help.h"
#include "app/run_settings.h"
#include "codec/batch.h"
#include "common/folder_sink.h"
#include "platform/platform.h"
#include "sfs/sfs_extractor.h"

namespace sorvik {
namespace {

using ParseResult = RunSettings::ParseResult;

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

// True when the whole archive was extracted; under -k the failures gone past were shown as
// they happened.
bool ExtractArchive(const RunSettings& settings, const sfs::ImageOutput& images, OutputSink& sink,
                    ConsoleReporter& reporter) {
    sfs::SfsExtractor extractor(images, settings.sections, sink, reporter, settings.onFailure);
    const bool extracted = reporter.ReportExtraction(extractor.ExtractAll(settings.inputPath));
    return extracted && extractor.FailuresPassed() == 0;
}

// Converts what the settings name into the destination.
bool Convert(const RunSettings& settings, OutputSink& sink) {
    ConsoleReporter reporter(settings.inputPath);
    const std::string extension = Extension(settings.inputPath);
    if (platform::CompareNoCase(extension.c_str(), "VAG") == 0) {
        return DecodeVagFiles(settings.inputPath, sink, reporter, settings.onFailure);
    }
    if (platform::CompareNoCase(extension.c_str(), "SFS") == 0) {
        return settings.decode ? ExtractArchive(settings, sfs::DecodedImages(), sink, reporter)
                               : ExtractArchive(settings, sfs::RawImages(), sink, reporter);
    }
    console::Print("%s: Unknown format.\n\n", settings.inputPath.c_str());
    return false;
}

// Ends the "starting..." line and shows the usage text, after `problem` on standard error
// unless it is empty.
int PrintUsage(int exitStatus, const std::string& problem = std::string()) {
    console::PutChar('\r');
    if (!problem.empty()) console::PrintError("%s", problem.c_str());
    console::PutLine(help::kUsageText);
    return exitStatus;
}

// Why the input path typed could not be made a full path.
std::string BadPathProblem(const std::string& path) {
    if (platform::IsPathTooLong(path)) return "path too long for Windows: " + path;
    return "can't make a full path of " + path + ": the current folder can't be read";
}

int ConvertInto(const RunSettings& settings) {
    bool done = false;
    FolderSink destination(settings.outputDir);
    if (destination.IsOpen()) {
        console::Print("\rdestination:\n\t%s\n\n", settings.outputDir.c_str());
        done = Convert(settings, destination);
    } else {
        console::Print("\rCan't create %s.\n\n", settings.outputDir.c_str());
        if (platform::IsPathTooLong(settings.outputDir)) {
            console::PrintError("path too long for Windows: %s", settings.outputDir.c_str());
        }
    }
    console::PutLine("\nfinished!");
    return done ? kExitDone : kExitFailed;
}

int Run(int argc, char** argv) {
    console::SetUp();
    platform::PrepareProcess();
    RunSettings settings;
    const ParseResult parsed = settings.ParseArguments(argc, argv);
    if (parsed == ParseResult::FullHelp) {
        console::Print("%s", help::kFullHelp);
        return kExitDone;
    }
    if (parsed == ParseResult::Version) {
        console::PutLine(help::kVersionLine);
        return kExitDone;
    }
    console::Print("starting...");
    if (parsed == ParseResult::Help) return PrintUsage(kExitDone);
    if (parsed == ParseResult::BadOption) {
        return PrintUsage(kExitUsage, "unknown option '" + settings.rejectedOption + "'");
    }
    switch (PrepareRun(settings)) {
        case Preparation::Ready:
            break;
        case Preparation::BadPath:
            return PrintUsage(kExitFailed, BadPathProblem(settings.inputPath));
        case Preparation::Cancelled:
            return PrintUsage(kExitUsage, "no input given");
    }
    return ConvertInto(settings);
}

}  // namespace
}  // namespace sorvik

int main(int argc, char** argv) { return sorvik::Run(argc, argv); }
