#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/byte_source.h"
#include "common/output_sink.h"
#include "common/reporter.h"
#include "common/result_code.h"
#include "common/section_mask.h"
#include "sfs/archive_images.h"

namespace sorvik::sfs {

// The companion index files of an archive.
class IndexFiles {
  public:
    virtual ~IndexFiles() = default;

    // Where the index file `name` is looked for, as the user is told.
    virtual std::string PathOf(const char* name) const = 0;
    // Opens it; nullptr when it is missing or is not a regular file.
    virtual std::unique_ptr<ByteSource> Open(const char* name) const = 0;
};

// The index files in the folder of the archive at `sfsPath`. Where the file system tells letter
// case apart, an index file whose name differs from the expected one only in case is found too.
class IndexFilesBeside final : public IndexFiles {
  public:
    explicit IndexFilesBeside(const std::string& sfsPath);
    // The path of the file standing there under the name in any case, or else of the name itself.
    std::string PathOf(const char* name) const override;
    std::unique_ptr<ByteSource> Open(const char* name) const override;

  private:
    std::string folder_;  // ends in a separator, or is empty for the current folder
};

// Writes the sections of one ".sfs" archive to a sink, as `images` has them written (raw or
// decoded). Each section reports its start, a running count and its end. By default the first
// failure stops the extraction and its code is returned for the caller to tell the user. With
// FailurePolicy::KeepGoing a failure is reported as it happens (Reporter::EntryFailed or
// SectionFailed) and counted, and the extraction goes on with the next entry whose place is
// known: every entry of a bank has its place from the index, every section its fixed offset, but
// a music track has its place from the track before, so one that cannot be found ends the music.
class SfsExtractor {
  public:
    SfsExtractor(const ImageOutput& images, SectionMask sections, OutputSink& sink,
                 Reporter& reporter, FailurePolicy policy = FailurePolicy::StopAtFirst)
        : images_(images), sections_(sections), sink_(sink), reporter_(reporter), policy_(policy) {}

    // Opens the archive file at `sfsPath` (ReadFailed when it cannot be opened) and extracts it
    // with the index files beside it.
    ResultCode ExtractAll(const std::string& sfsPath);
    // Runs the selected sections in their fixed order (unnamed effects, music, named effects,
    // voices) and returns the failure that stopped it (never one under KeepGoing).
    // `archiveName` is the archive's file name.
    ResultCode ExtractAll(ByteSource& archive, const std::string& archiveName,
                          const IndexFiles& indexFiles);
    // The failures reported and gone past under KeepGoing; 0 when everything was written.
    unsigned FailuresPassed() const { return failuresPassed_; }

    // The 22 headerless effects of the effects block (read into `block` already), written as
    // SE_NONAME00 to SE_NONAME21.
    ResultCode ExtractEffects(ByteSource& block);
    // The 38 stereo music tracks, named after their headers.
    ResultCode ExtractBgm(ByteSource& archive);
    // The mono images of one named bank (SeBank or VoiceBank), named and spaced by its index
    // file.
    ResultCode ExtractBank(ByteSource& archive, const IndexFiles& indexFiles, ArchiveSection bank);

  private:
    // Runs one section; when it fails after it started, ends it.
    ResultCode ExtractSection(ByteSource& archive, const IndexFiles& indexFiles,
                              ArchiveSection section);
    ResultCode ExtractEffectsBlock(ByteSource& archive);
    // Writes the bank image whose header is at `offset`, or one sector further (then `offset`
    // moves there), under the name claimed for `name` (which `name` becomes).
    ResultCode WriteBankImage(ByteSource& archive, std::uint64_t& offset, std::string& name);
    // After a section failed: true when the extraction goes on (KeepGoing), with the failure
    // reported and counted.
    bool GoesOnAfterSection(ArchiveSection section, ResultCode reason);
    // After the entry `entryName` was written as `outputName` with `result`: true when the
    // section goes on, with the file or (under KeepGoing) the failure reported.
    bool GoesOnAfterEntry(const std::string& entryName, const std::string& outputName,
                          ResultCode result);

    const ImageOutput& images_;
    SectionMask sections_;
    OutputSink& sink_;
    Reporter& reporter_;
    FailurePolicy policy_;
    unsigned failuresPassed_ = 0;
};

}  // namespace sorvik::sfs
