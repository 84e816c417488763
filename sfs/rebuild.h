#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "common/output_sink.h"
#include "common/reporter.h"
#include "common/second_thread.h"
#include "common/section_mask.h"
#include "sfs/sfs_extractor.h"

// Rebuilding an archive from a folder of extracted sounds, some of them edited: every sound
// keeps its place, its room and its size fields, so the index files and the game's view of the
// archive stay valid; only the blocks of the sounds that changed are new.
namespace sorvik::sfs {

// The files of the folder a rebuild reads, by name.
class FolderFiles {
  public:
    virtual ~FolderFiles() = default;
    // The names of everything in the folder, in any order.
    virtual std::vector<std::string> Names() const = 0;
    // Opens the file `name`; nullptr when it cannot be opened or is not a regular file.
    virtual std::unique_ptr<ByteSource> Open(const std::string& name) const = 0;
};

// The files of a folder on disk; `folder` ends in a separator.
class FilesIn final : public FolderFiles {
  public:
    explicit FilesIn(std::string folder) : folder_(std::move(folder)) {}
    std::vector<std::string> Names() const override;
    std::unique_ptr<ByteSource> Open(const std::string& name) const override;

  private:
    std::string folder_;
};

// A sound of the folder that takes the place of one in the archive: its room.
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

// What a rebuild tells as it goes. As a Reporter it hears what the walk through the archive
// meets (a missing index file, an entry or a section that cannot be read); the progress of the
// walk is not shown.
class RebuildReport : public Reporter {
  public:
    // The file `name` of the folder (or two of them, both named) cannot take its sound's place,
    // for `reason`.
    virtual void Refused(const std::string& name, const std::string& reason) = 0;
    // The folder holds no sound that differs from the archive's: nothing is written.
    virtual void NothingDiffers() = 0;
    // Replaced sound `number` of `count` is being put in place.
    virtual void Placing(unsigned /*number*/, unsigned /*count*/) {}
    // The sound of the file `name` reads back from the new archive otherwise than it was put.
    virtual void NotAsWritten(const std::string& name) = 0;
};

struct RebuildResult {
    enum class Outcome {
        Written,         // in place, every replaced sound read back as it was put there
        NothingWritten,  // a sound was refused, or the archive could not be walked in full
        NothingDiffers,  // the folder holds no edit
        WriteFailed,     // the new archive could not be written or did not read back
    };
    Outcome outcome = Outcome::NothingWritten;
    std::vector<Replacement> replaced;  // in the archive's order, one per room
    unsigned kept = 0;                  // the sounds walked whose rooms stay as they were
};

// Rebuilds `archive` (the file `archiveName`, with `indexFiles`) from the sounds of `folder` as
// the output `archiveName` of `sink`, within `sections`.
//
// The archive is walked as an extraction walks it, and each sound is looked for in the folder
// under every name an extraction gives it: the WAV name of a decoding run, that name with
// ".VAG", and the raw name of -x (a bank entry's name from its index, as it stands), each in
// any letter case. A WAV file (by its extension, unless it begins as a sound image) is the same
// sound when its format and samples are the original's decoding; any other file when it is byte
// for byte what -x writes. A sound
// with no file is kept without being read. A sound with a file that differs is replaced, after
// checks; a file that cannot be opened or read, two different edits of one sound, or of one
// room several entries share, is refused. One refusal, or a failure to walk the archive, and
// nothing is written. A folder without an edit writes nothing either.
//
// The new archive is a copy with each replaced sound put in its room; before it is given its
// name, each replaced sound is read back from it and compared with what was put there (for a
// WAV file, the samples the decoder makes; for an image, its blocks). As `soundsSideBySide`
// allows, a WAV file is encoded into memory (up to 4 MB) on a second thread while the sound
// before it is put in place; the reports and the archive are the same.
RebuildResult RebuildArchive(ByteSource& archive, const std::string& archiveName,
                             const IndexFiles& indexFiles, const FolderFiles& folder,
                             SectionMask sections, OutputSink& sink, RebuildReport& report,
                             SecondThread soundsSideBySide = SecondThread::Automatic);

}  // namespace sorvik::sfs
