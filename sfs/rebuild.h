#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "common/output_sink.h"
#include "common/result_code.h"
#include "sfs/archive_images.h"

// Rebuilding an archive from a folder of extracted sounds, some of them edited: every sound
// keeps its place, its room and its size fields, so the index files and the game's view of the
// archive stay valid; only the blocks of the sounds that changed are new.
namespace sorvik::sfs {

// The files of the folder a rebuild reads, by name.
class FolderFiles {
  public:
    virtual ~FolderFiles() = default;
    // Opens the file `name`; nullptr when there is none or it is not a regular file.
    virtual std::unique_ptr<ByteSource> Open(const std::string& name) const = 0;
};

// The files of a folder on disk; `folder` ends in a separator.
class FilesIn final : public FolderFiles {
  public:
    explicit FilesIn(std::string folder) : folder_(std::move(folder)) {}
    std::unique_ptr<ByteSource> Open(const std::string& name) const override;

  private:
    std::string folder_;
};

// A sound of the folder that takes the place of one in the archive.
struct Replacement {
    enum class Room {
        Effect,  // headerless mono: its end block stays on the original's last block
        Bank,    // mono image: silence follows the new end block up to the original's length
        Track,   // stereo image: silence fills the block pairs after the new sound
    };
    std::string name;  // the file in the folder
    bool encode;       // a WAV file to encode; otherwise an image whose blocks are taken
    Room room;
    std::uint64_t dataOffset;        // in the archive: the original's first block (pair)
    std::uint64_t roomUnits;         // the blocks (pairs) the original's data has
    std::uint64_t soundUnits;        // the new sound's blocks (pairs), its end block not counted
    std::uint64_t sourceOffset = 0;  // an image's: its first block (pair)
};

// What a rebuild tells, sound by sound.
class RebuildReport {
  public:
    virtual ~RebuildReport() = default;
    // The file `name` of the folder cannot take its sound's place, for `reason`.
    virtual void Refused(const std::string& name, const std::string& reason) = 0;
};

// Decides, as an extraction walks the archive, which sounds the folder replaces: a sound whose
// WAV file (named as a decoding extraction names it) holds other audio than the original's
// decoding, or whose raw image (that name with ".VAG") differs from what -x writes. The audio is
// compared, not the file: a WAV file with other chunks, or a "smpl" chunk, is the same sound.
// Writes nothing: a sound is kept or replaced only in the plan.
class ReplacedImages final : public ImageOutput {
  public:
    ReplacedImages(const FolderFiles& folder, RebuildReport& report)
        : folder_(folder), report_(report) {}

    std::string NameFor(const std::string& stem) const override;
    std::string NameForEntry(const std::string& entryName) const override;
    ResultCode WriteImage(ByteSource& archive, const ArchivedImage& image, ImageKind kind,
                          OutputSink& sink, const std::string& name) const override;
    ResultCode WriteEffect(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                           const std::string& stem, OutputSink& sink,
                           const std::string& name) const override;

    const std::vector<Replacement>& Replacements() const { return replacements_; }
    unsigned Kept() const { return kept_; }
    unsigned Refusals() const { return refusals_; }

  private:
    struct Original;
    ResultCode Decide(const Original& original, const std::string& name) const;
    ResultCode DecideWav(const Original& original, const std::string& name, ByteSource& wav) const;
    ResultCode DecideImage(const Original& original, const std::string& name,
                           ByteSource& image) const;
    // True when a new sound of `units` blocks (pairs; a mono end block not counted) of
    // `channels` at `sampleRate` fits the original's place; otherwise it is refused.
    bool Fits(const Original& original, const std::string& name, std::uint64_t units,
              std::uint32_t sampleRate, std::uint16_t channels, bool wav) const;

    const FolderFiles& folder_;
    RebuildReport& report_;
    // The plan grows while the const strategy is used by the extractor.
    mutable std::vector<Replacement> replacements_;
    mutable unsigned kept_ = 0;
    mutable unsigned refusals_ = 0;
};

// Writes `archive` with `replacements` in place as the output `outputName`: a copy, then the
// new blocks of each replaced sound and the silence after them.
ResultCode WriteRebuiltArchive(ByteSource& archive, const std::vector<Replacement>& replacements,
                               const FolderFiles& folder, OutputSink& sink,
                               const std::string& outputName);

}  // namespace sorvik::sfs
