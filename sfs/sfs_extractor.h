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

// The index files in the folder of the archive at `sfsPath`.
class IndexFilesBeside final : public IndexFiles {
  public:
    explicit IndexFilesBeside(const std::string& sfsPath);
    std::string PathOf(const char* name) const override;
    std::unique_ptr<ByteSource> Open(const char* name) const override;

  private:
    std::string folder_;  // ends in a separator
};

// Writes the sections of one ".sfs" archive to a sink, as `images` has them written (raw or
// decoded). Each section reports its start, a running count and its end; on failure an
// extractor returns the code, and the caller tells the user.
class SfsExtractor {
  public:
    SfsExtractor(const ImageOutput& images, SectionMask sections, OutputSink& sink,
                 Reporter& reporter)
        : images_(images), sections_(sections), sink_(sink), reporter_(reporter) {}

    // Opens the archive file at `sfsPath` (ReadFailed when it cannot be opened) and extracts it
    // with the index files beside it.
    ResultCode ExtractAll(const std::string& sfsPath);
    // Runs the selected sections in their fixed order (unnamed effects, music, named effects,
    // voices) and stops at the first failure, returning its code. `archiveName` is the
    // archive's file name.
    ResultCode ExtractAll(ByteSource& archive, const std::string& archiveName,
                          const IndexFiles& indexFiles);

    // The 22 headerless effects of the effects block (read into `block` already), written as
    // SE_NONAME00 to SE_NONAME21.
    ResultCode ExtractEffects(ByteSource& block);
    // The 38 stereo music tracks, named after their headers.
    ResultCode ExtractBgm(ByteSource& archive);
    // The mono images of one named bank (SeBank or VoiceBank), named and spaced by its index
    // file.
    ResultCode ExtractBank(ByteSource& archive, const IndexFiles& indexFiles, ArchiveSection bank);

  private:
    // Ends a section that failed, before the caller tells the user why.
    ResultCode SectionFailed(ResultCode result);

    const ImageOutput& images_;
    SectionMask sections_;
    OutputSink& sink_;
    Reporter& reporter_;
};

}  // namespace sorvik::sfs
