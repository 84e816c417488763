#include <string>

#include "app/console.h"
#include "app/console_reporter.h"
#include "app/destination.h"
#include "app/run_settings.h"
#include "codec/batch.h"
#include "common/folder_sink.h"
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

bool ExtractArchive(const RunSettings& settings, const sfs::ImageOutput& images,
                    OutputSink& sink, Reporter& reporter) {
    sfs::SfsExtractor extractor(images, settings.sections, sink, reporter);
    return ConsoleReporter::ReportExtraction(extractor.ExtractAll(settings.inputPath),
                                             settings.inputPath);
}

// Converts what the settings name into the destination.
bool Convert(const RunSettings& settings, OutputSink& sink) {
    ConsoleReporter reporter;
    const std::string extension = Extension(settings.inputPath);
    if (platform::CompareNoCase(extension.c_str(), "VAG") == 0) {
        return DecodeVagFiles(settings.inputPath, sink, reporter);
    }
    if (platform::CompareNoCase(extension.c_str(), "SFS") == 0) {
        return settings.decode
                   ? ExtractArchive(settings, sfs::DecodedImages(), sink, reporter)
                   : ExtractArchive(settings, sfs::RawImages(), sink, reporter);
    }
    console::Print("%s: Unknown format.\n\n", settings.inputPath.c_str());
    return false;
}

int PrintUsage(int exitStatus) {
    console::PutChar('\r');
    console::PutLine(kUsageText);
    return exitStatus;
}

int Run(int argc, char** argv) {
    console::SetUp();
    platform::PrepareProcess();
    console::Print("starting...");
    RunSettings settings;
    switch (settings.ParseArguments(argc, argv)) {
        case RunSettings::ParseResult::Run:
            break;
        case RunSettings::ParseResult::Help:
            return PrintUsage(kExitDone);
        case RunSettings::ParseResult::BadOption:
            return PrintUsage(kExitUsage);
    }
    if (PrepareRun(settings) != Preparation::Ready) return PrintUsage(kExitUsage);

    bool done = false;
    FolderSink destination(settings.outputDir);
    if (destination.IsOpen()) {
        console::Print("\rdestination:\n\t%s\n\n", settings.outputDir.c_str());
        done = Convert(settings, destination);
    } else {
        console::Print("\rCan't create %s.\n\n", settings.outputDir.c_str());
    }
    console::PutLine("\nfinished!");
    return done ? kExitDone : kExitFailed;
}

}  // namespace
}  // namespace sorvik

int main(int argc, char** argv) { return sorvik::Run(argc, argv); }
