#include "app/listing_reporter.h"

#include <cinttypes>
#include <cstdio>

#include "app/console.h"
#include "app/console_reporter.h"
#include "common/display_name.h"

namespace sorvik {
namespace {

// The columns after the name that a sound not described leaves empty.
constexpr char kNoDetails[] = "\t\t\t\t\t\t\t\t";

const char* SectionName(ArchiveSection section) {
    switch (section) {
        case ArchiveSection::Effects:
            return "effects";
        case ArchiveSection::Bgm:
            return "bgm";
        case ArchiveSection::SeBank:
            return "se";
        case ArchiveSection::VoiceBank:
            return "voice";
    }
    return "";
}

const char* ProblemText(ResultCode reason) {
    switch (reason) {
        case ResultCode::Ok:
            return "";
        case ResultCode::UnknownFormat:
            return "unknown format";
        case ResultCode::OutOfMemory:
            return "out of memory";
        case ResultCode::ReadFailed:
            return "can't read";
        case ResultCode::WriteFailed:
            return "can't write";
        case ResultCode::OpenFailed:
            return "can't open";
    }
    return "";
}

std::string Column(std::uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof(text), "\t%" PRIu64, value);
    return text;
}

// offset, bytes, channels, rate, samples, seconds, loop_start, loop_end.
std::string Details(const SoundPlace& place, const SoundFacts& facts) {
    std::string details = Column(place.offset) + Column(place.bytes) + Column(facts.channels) +
                          Column(facts.sampleRate) + Column(facts.samples) + "\t";
    if (facts.sampleRate != 0) {
        char seconds[32];
        std::snprintf(seconds, sizeof(seconds), "%.3f",
                      static_cast<double>(facts.samples) / facts.sampleRate);
        details += seconds;
    }
    if (facts.loop)
        return details + Column(facts.loop->StartSample()) + Column(facts.loop->EndSample());
    return details + "\t\t";
}

}  // namespace

ListingReporter::ListingReporter() {
    console::PutLine(
        "section\tnumber\tname\toffset\tbytes\tchannels\trate\tsamples\tseconds\tloop_start\t"
        "loop_end\tproblem");
}

void ListingReporter::PrintLine(unsigned number, const std::string& name,
                                const std::string& details, const char* problem) {
    const std::string numberText = number == 0 ? std::string() : Column(number).substr(1);
    console::Print("%s\t%s\t%s%s\t%s\n", section_, numberText.c_str(), DisplayName(name).c_str(),
                   details.c_str(), problem);
    if (problem[0] != '\0') ++problems_;
}

void ListingReporter::NothingMatched(const std::string& pattern) {
    console::PrintError("%s not found", DisplayName(pattern).c_str());
    ++problems_;
}

void ListingReporter::LooseFileFailed(const std::string&, const std::string& outputName,
                                      ResultCode reason) {
    PrintLine(number_, outputName, kNoDetails, ProblemText(reason));
}

void ListingReporter::SectionStarted(ArchiveSection section, const std::string&) {
    section_ = SectionName(section);
    started_ = section;
    number_ = 0;
}

void ListingReporter::IndexMissing(const std::string& indexPath) {
    ReportMissingIndex(indexPath);
    sectionToldOf_ = true;
}

void ListingReporter::EntryFailed(const std::string&, const std::string& outputName,
                                  ResultCode reason) {
    PrintLine(number_, outputName, kNoDetails, ProblemText(reason));
}

void ListingReporter::SectionFailed(ArchiveSection section, ResultCode reason) {
    // A section that failed before it started has no sound being listed.
    const bool started = started_ == section;
    section_ = SectionName(section);
    if (sectionToldOf_) {
        ++problems_;
    } else {
        PrintLine(started ? number_ : 0, std::string(), kNoDetails, ProblemText(reason));
    }
    sectionToldOf_ = false;
    number_ = 0;
}

void ListingReporter::Listed(const std::string& name, const SoundPlace& place,
                             const SoundFacts& facts, ResultCode result) {
    if (result != ResultCode::Ok) {
        PrintLine(number_, name, Column(place.offset) + Column(place.bytes) + "\t\t\t\t\t\t",
                  ProblemText(result));
    } else {
        PrintLine(number_, name, Details(place, facts),
                  facts.rightLoopDiffers ? "right channel's loop differs" : "");
    }
}

}  // namespace sorvik
