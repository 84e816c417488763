#include "app/console_reporter.h"

#include "app/console.h"
#include "app/japanese_texts.h"
#include "common/display_name.h"
#include "common/path_helpers.h"
#include "platform/platform.h"

namespace sorvik {
namespace {

// The message for one file that failed, over its running count.
void ShowFileFailure(const std::string& inputName, const std::string& outputName,
                     ResultCode reason) {
    switch (reason) {
        case ResultCode::OpenFailed:
            console::Print("\rCan't open %s.\n\n", DisplayName(inputName).c_str());
            break;
        case ResultCode::ReadFailed:
            console::Print("\rCan't read %s.\n\n", DisplayName(inputName).c_str());
            break;
        case ResultCode::UnknownFormat:
            console::Print("\r%s: Unknown format.\n\n", DisplayName(inputName).c_str());
            break;
        case ResultCode::Ok:
        case ResultCode::OutOfMemory:
        case ResultCode::WriteFailed:
            console::Print("\rCan't write %s.\n\n", DisplayName(outputName).c_str());
            break;
    }
}

}  // namespace

void ConsoleReporter::NothingMatched(const std::string& pattern) {
    console::Print("%s not found.\n\n", DisplayName(pattern).c_str());
}

void ConsoleReporter::LooseFilesStarted() {
    console::PutLine(encoding_ ? "encoding file(s):" : "decoding file(s):");
}

void ConsoleReporter::LooseFileStarted(unsigned number) { console::Print("\r\t%u", number); }

void ConsoleReporter::LooseFileFailed(const std::string& inputName, const std::string& outputName,
                                      ResultCode reason) {
    ShowFileFailure(inputName, outputName, reason);
}

void ConsoleReporter::FormatRefused(const std::string& inputName, const std::string& format) {
    console::Print("\r%s: %s is not encoded (16-bit PCM only).\n\n", DisplayName(inputName).c_str(),
                   format.c_str());
}

void ConsoleReporter::SectionStarted(ArchiveSection section, const std::string& indexPath) {
    switch (section) {
        case ArchiveSection::Effects:
            console::PutLine("extracting: SFS\\SE");
            break;
        case ArchiveSection::Bgm:
            console::PutLine("extracting: BGM\n");
            break;
        case ArchiveSection::SeBank:
        case ArchiveSection::VoiceBank:
            console::Print("extracting: %s\n", DisplayName(indexPath).c_str());
            break;
    }
}

void ConsoleReporter::ItemStarted(unsigned number, unsigned count) {
    console::Print("\r%u / %u", number, count);
}

void ConsoleReporter::SectionEnded() { console::PutLine("\n"); }

void ReportMissingIndex(const std::string& indexPath) {
    console::PrintError("index file not found: %s (it must lie beside the archive)",
                        DisplayName(indexPath).c_str());
    // Asks the user to put the missing index file beside the archive.
    const std::string text =
        DisplayName(indexPath.substr(FileNamePart(indexPath))) + texts::kMissingIndexRequest;
    platform::ShowInformation(texts::kMissingIndexCaption, text.c_str());
}

void ConsoleReporter::IndexMissing(const std::string& indexPath) { ReportMissingIndex(indexPath); }

void ConsoleReporter::EntryFailed(const std::string& entryName, const std::string& outputName,
                                  ResultCode reason) {
    ShowFileFailure(entryName, outputName, reason);
}

void ConsoleReporter::SectionFailed(ArchiveSection, ResultCode reason) { ReportExtraction(reason); }

bool ConsoleReporter::ReportExtraction(ResultCode result) {
    switch (result) {
        case ResultCode::Ok:
            return true;
        case ResultCode::UnknownFormat:
            console::Print("%s: Unknown format.\n\n", DisplayName(inputPath_).c_str());
            break;
        case ResultCode::OutOfMemory:
            console::PutLine("Can't allocate memory.\n");
            break;
        case ResultCode::OpenFailed:
        case ResultCode::ReadFailed:
            console::Print("Can't read %s.\n\n", DisplayName(inputPath_).c_str());
            break;
        case ResultCode::WriteFailed:
            console::PutLine("Can't write files.\n");
            break;
    }
    return false;
}

void RebuildReporter::EntryFailed(const std::string& entryName, const std::string&,
                                  ResultCode reason) {
    console::PrintError("%s in the archive: %s", DisplayName(entryName).c_str(),
                        reason == ResultCode::UnknownFormat ? "unknown format" : "can't read it");
}

void RebuildReporter::IndexMissing(const std::string& indexPath) {
    ReportMissingIndex(indexPath);
    sectionToldOf_ = true;
}

void RebuildReporter::SectionFailed(ArchiveSection, ResultCode reason) {
    if (!sectionToldOf_) {
        console::PrintError("the archive: %s", reason == ResultCode::UnknownFormat
                                                   ? "unknown format"
                                                   : "can't read it");
    }
    sectionToldOf_ = false;
}

void RebuildReporter::Refused(const std::string& name, const std::string& reason) {
    EndCount();
    console::PrintError("%s: %s", DisplayName(name).c_str(), reason.c_str());
}

void RebuildReporter::NothingDiffers() { console::PrintError("no sound differs from the archive"); }

void RebuildReporter::Placing(unsigned number, unsigned count) {
    if (quiet_) return;
    console::Print("\rwriting: %u / %u", number, count);
    counting_ = true;
}

void RebuildReporter::NotAsWritten(const std::string& name) {
    EndCount();
    console::PrintError("%s: the new archive does not read back as it was written",
                        DisplayName(name).c_str());
}

void RebuildReporter::EndCount() {
    if (counting_) console::PutChar('\n');
    counting_ = false;
}

bool RebuildReporter::ReportRebuild(const sfs::RebuildResult& result,
                                    const std::string& archiveName) {
    EndCount();
    switch (result.outcome) {
        case sfs::RebuildResult::Outcome::Written:
            if (quiet_) return true;
            for (const sfs::Replacement& replacement : result.replaced) {
                console::Print("replaced: %s\n", DisplayName(replacement.name).c_str());
            }
            console::Print("%u replaced, %u kept\n\n",
                           static_cast<unsigned>(result.replaced.size()), result.kept);
            return true;
        case sfs::RebuildResult::Outcome::NothingWritten:
            console::PutLine("Nothing written.\n");
            break;
        case sfs::RebuildResult::Outcome::NothingDiffers:
            break;
        case sfs::RebuildResult::Outcome::WriteFailed:
            console::Print("Can't write %s.\n\n", DisplayName(archiveName).c_str());
            break;
    }
    return false;
}

}  // namespace sorvik
