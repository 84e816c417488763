#include <algorithm>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/console_reporter.h"
#include "app/destination.h"
#include "app/help.h"
#include "app/listing_reporter.h"
#include "app/run_reporter.h"
#include "app/run_settings.h"
#include "app/sink_notes.h"
#include "codec/batch.h"
#include "common/display_name.h"
#include "common/folder_sink.h"
#include "common/path_helpers.h"
#include "platform/platform.h"
#include "sfs/rebuild.h"
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
// they happened. `events` tells the extraction's events to `reporter`, as the run shows them.
bool ExtractArchive(const RunSettings& settings, const sfs::ImageOutput& images, OutputSink& sink,
                    Reporter& events, ConsoleReporter& reporter) {
    sfs::SfsExtractor extractor(images, settings.sections, sink, events, settings.onFailure);
    const bool extracted = reporter.ReportExtraction(extractor.ExtractAll(settings.inputPath));
    return extracted && extractor.FailuresPassed() == 0;
}

bool HasExtension(const std::string& path, const char* extension) {
    return platform::CompareNoCase(Extension(path).c_str(), extension) == 0;
}

// Gives output names as a destination would, and never creates a file.
class NamesOnly final : public OutputSink {
  public:
    std::unique_ptr<OutputFile> Create(const std::string&) override { return nullptr; }
};

// Rebuilds the archive named by the settings from the sounds of the destination into it (-r):
// true when it was written. Nothing is written when a sound is refused or the archive cannot be
// read in full, or when the new archive would replace the one it is made from.
bool Rebuild(const RunSettings& settings, OutputSink& sink) {
    if (!HasExtension(settings.inputPath, "SFS")) {
        console::Print("%s: Unknown format.\n\n", DisplayName(settings.inputPath).c_str());
        return false;
    }
    const std::string archiveName = settings.inputPath.substr(FileNamePart(settings.inputPath));
    if (platform::IsSameFile(settings.inputPath, settings.outputDir + archiveName)) {
        console::PrintError("the rebuilt archive would replace %s: name another folder",
                            DisplayName(settings.inputPath).c_str());
        return false;
    }
    FileSource archive(settings.inputPath.c_str());
    if (!archive.IsOpen()) {
        console::Print("Can't read %s.\n\n", DisplayName(settings.inputPath).c_str());
        return false;
    }
    sink.ProtectInput(archive.Identity());
    if (!settings.quiet) {
        console::Print("rebuilding: %s\n", DisplayName(settings.inputPath).c_str());
    }
    RebuildReporter reporter(settings.quiet);
    const sfs::RebuildResult result = sfs::RebuildArchive(
        archive, archiveName, sfs::IndexFilesBeside(settings.inputPath),
        sfs::FilesIn(settings.outputDir), settings.sections, sink, reporter);
    return reporter.ReportRebuild(result, archiveName);
}

// Converts what the settings name into the destination. -x leaves the WAV options aside.
bool Convert(const RunSettings& settings, OutputSink& sink) {
    if (settings.rebuild) return Rebuild(settings, sink);
    ConsoleReporter reporter(settings.inputPath, HasExtension(settings.inputPath, "WAV"));
    RunReporter events(reporter, settings.quiet, !settings.quiet && platform::StderrIsTerminal());
    const WavOptions wav = settings.decode ? settings.wav : WavOptions{};
    if (HasExtension(settings.inputPath, "WAV")) {
        return EncodeWavFiles(settings.inputPath, sink, events, settings.onFailure);
    }
    if (HasExtension(settings.inputPath, "VAG")) {
        return DecodeVagFiles(settings.inputPath, sink, events, settings.onFailure, wav);
    }
    if (HasExtension(settings.inputPath, "SFS")) {
        return settings.decode
                   ? ExtractArchive(settings, sfs::DecodedImages(wav), sink, events, reporter)
                   : ExtractArchive(settings, sfs::RawImages(), sink, events, reporter);
    }
    console::Print("%s: Unknown format.\n\n", DisplayName(settings.inputPath).c_str());
    return false;
}

// Ends the "starting..." line and shows the usage text, after `problem` on standard error
// unless it is empty; then points to the full help on standard error.
int PrintUsage(int exitStatus, const std::string& problem = std::string()) {
    console::PutChar('\r');
    if (!problem.empty()) console::PrintError("%s", problem.c_str());
    console::PutLine(help::kUsageText);
    console::PrintError("%s", help::kFullHelpPointer);
    return exitStatus;
}

// Why the input path typed could not be made a full path.
std::string BadPathProblem(const std::string& path) {
    if (platform::IsPathTooLong(path)) return "path too long for Windows: " + DisplayName(path);
    return "can't make a full path of " + DisplayName(path) + ": the current folder can't be read";
}

// What the run does with files that stand at its outputs' names: decoding replaces what an
// earlier run wrote; encoding and rebuilding keep the user's files unless -y says otherwise.
ExistingFiles ExistingFilesFor(const RunSettings& settings) {
    if (settings.replaceExisting) return ExistingFiles::ReplaceAndTell;
    const bool encoding = HasExtension(settings.inputPath, "WAV");
    return encoding || settings.rebuild ? ExistingFiles::Keep : ExistingFiles::Replace;
}

int ConvertInto(const RunSettings& settings) {
    bool done = false;
    FolderSink destination(settings.outputDir);
    ConsoleSinkNotes notes;
    destination.HandleExistingFiles(ExistingFilesFor(settings), &notes);
    if (destination.IsOpen()) {
        if (!settings.quiet) {
            console::Print("\rdestination:\n\t%s\n\n", DisplayName(settings.outputDir).c_str());
        }
        done = Convert(settings, destination);
    } else {
        console::Print("\rCan't create %s.\n\n", DisplayName(settings.outputDir).c_str());
        if (platform::IsPathTooLong(settings.outputDir)) {
            console::PrintError("path too long for Windows: %s",
                                DisplayName(settings.outputDir).c_str());
        }
    }
    if (!settings.quiet) console::PutLine("\nfinished!");
    return done ? kExitDone : kExitFailed;
}

// Lists what the input holds (-l): true when every sound could be described.
bool List(const RunSettings& settings) {
    NamesOnly names;
    ListingReporter listing;
    if (HasExtension(settings.inputPath, "VAG")) {
        return ListVagFiles(settings.inputPath, names, listing, listing) && listing.Problems() == 0;
    }
    if (HasExtension(settings.inputPath, "SFS")) {
        const sfs::DecodedImages decoded;
        const sfs::RawImages raw;
        const sfs::ListedImages listed(
            settings.decode ? static_cast<const sfs::ImageOutput&>(decoded) : raw, listing);
        sfs::SfsExtractor extractor(listed, settings.sections, names, listing,
                                    FailurePolicy::KeepGoing);
        if (extractor.ExtractAll(settings.inputPath) != ResultCode::Ok) {
            console::PrintError("can't read %s", DisplayName(settings.inputPath).c_str());
            return false;
        }
        return extractor.FailuresPassed() == 0 && listing.Problems() == 0;
    }
    console::PrintError("%s: unknown format", DisplayName(settings.inputPath).c_str());
    return false;
}

// Runs one input through, from its preparation on.
int RunInput(RunSettings& settings) {
    switch (PrepareRun(settings)) {
        case Preparation::Ready:
            break;
        case Preparation::BadPath:
            return PrintUsage(kExitFailed, BadPathProblem(settings.inputPath));
        case Preparation::Cancelled:
            return PrintUsage(kExitUsage, "no input given");
    }
    if (settings.list) return List(settings) ? kExitDone : kExitFailed;
    return ConvertInto(settings);
}

int Run(int argc, const char* const* argv) {
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
    // A listing's standard output is the listing alone; -q shows failures alone.
    if (parsed != ParseResult::Run || !(settings.list || settings.quiet)) {
        console::Print("starting...");
    }
    if (parsed == ParseResult::Help) return PrintUsage(kExitDone);
    if (parsed == ParseResult::BadOption) {
        return PrintUsage(kExitUsage,
                          "unknown option '" + DisplayName(settings.rejectedOption) + "'");
    }
    if (parsed == ParseResult::BadCount) {
        return PrintUsage(kExitUsage,
                          DisplayName(settings.rejectedOption) + " needs a count from 1 to 9");
    }
    std::vector<std::string> ignored;
    std::vector<RunSettings> runs = SeparateInputs(settings, ignored);
    for (const std::string& argument : ignored) {
        console::PrintError("ignored: %s", DisplayName(argument).c_str());
    }
    int status = kExitDone;
    for (RunSettings& run : runs) status = std::max(status, RunInput(run));
    return status;
}

}  // namespace
}  // namespace sorvik

int main(int argc, char** argv) {
    // The arguments in UTF-8, as every path inside the program is.
    const std::vector<std::string> arguments = sorvik::platform::CommandLineArguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    return sorvik::Run(static_cast<int>(pointers.size()), pointers.data());
}
