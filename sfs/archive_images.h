#pragma once

#include <cstdint>
#include <string>

#include "codec/convert.h"
#include "codec/describe.h"
#include "codec/sound_headers.h"
#include "common/byte_source.h"
#include "common/output_sink.h"
#include "common/result_code.h"

// Sound images in the music region and the banks of an archive, and how they leave it.
namespace sorvik::sfs {

// The two kinds of image stored in the archive. Their headers carry the data size a second time
// at offset 4, little-endian: for mono images the data's length, for stereo images one
// channel's, the interleaved data being twice as long.
enum class ImageKind { Mono, Stereo };

// An image found in the archive.
struct ArchivedImage {
    SoundHeaderBytes header;
    std::uint64_t offset;     // of the header
    std::uint64_t dataBytes;  // the data behind the header, by its size at offset 4

    std::uint64_t Length() const { return header.size() + dataBytes; }
};

// Finds the image of `kind` whose header is at `offset`, or one sector further (then `offset`
// moves there). ReadFailed when a header cannot be read or the image does not lie within the
// archive, UnknownFormat when neither place holds the kind's magic. Only the header is read.
ResultCode FindImage(ByteSource& archive, std::uint64_t& offset, ImageKind kind,
                     ArchivedImage& image);

// Copies `length` bytes at `offset` in `source` to the end of `file`, a piece at a time.
ResultCode CopyRange(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                     OutputFile& file);

// The rate of the archive's headerless effects.
constexpr std::uint32_t kEffectSampleRate = 48000;

// How images leave the archive: unchanged, or decoded to WAV. One of the two is chosen for a
// whole run.
class ImageOutput {
  public:
    virtual ~ImageOutput() = default;

    // The output name of a sound named by `stem`, without an extension (tracks and effects).
    virtual std::string NameFor(const std::string& stem) const = 0;
    // The output name of a bank entry, whose index gives it a whole file name.
    virtual std::string NameForEntry(const std::string& entryName) const = 0;
    // Writes the image found in `archive` as the output `name`.
    virtual ResultCode WriteImage(ByteSource& archive, const ArchivedImage& image, ImageKind kind,
                                  OutputSink& sink, const std::string& name) const = 0;
    // Writes the headerless effect of `blockCount` mono blocks at `offset` in `source` (the
    // unnamed effects block, which lies at kEffectsBlockOffset in the archive), named `stem`
    // within a raw image's header, as the output `name`.
    virtual ResultCode WriteEffect(ByteSource& source, std::uint64_t offset,
                                   std::uint64_t blockCount, const std::string& stem,
                                   OutputSink& sink, const std::string& name) const = 0;
};

// Raw sound images, as stored: ".VAG"; bank entries keep their names.
class RawImages final : public ImageOutput {
  public:
    std::string NameFor(const std::string& stem) const override;
    std::string NameForEntry(const std::string& entryName) const override;
    ResultCode WriteImage(ByteSource& archive, const ArchivedImage& image, ImageKind kind,
                          OutputSink& sink, const std::string& name) const override;
    ResultCode WriteEffect(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                           const std::string& stem, OutputSink& sink,
                           const std::string& name) const override;
};

// WAV files: ".WAV", in place of a bank entry's own extension, written as `options` ask.
class DecodedImages final : public ImageOutput {
  public:
    explicit DecodedImages(const WavOptions& options = {}) : options_(options) {}
    std::string NameFor(const std::string& stem) const override;
    std::string NameForEntry(const std::string& entryName) const override;
    ResultCode WriteImage(ByteSource& archive, const ArchivedImage& image, ImageKind kind,
                          OutputSink& sink, const std::string& name) const override;
    ResultCode WriteEffect(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                           const std::string& stem, OutputSink& sink,
                           const std::string& name) const override;

  private:
    WavOptions options_;
};

// Writes nothing: lists each image in `catalog` instead, under the name `naming` gives it (the
// sink only gives names). A sound whose facts cannot be found is listed with the reason, and
// counts as done.
class ListedImages final : public ImageOutput {
  public:
    ListedImages(const ImageOutput& naming, SoundCatalog& catalog)
        : naming_(naming), catalog_(catalog) {}

    std::string NameFor(const std::string& stem) const override { return naming_.NameFor(stem); }
    std::string NameForEntry(const std::string& entryName) const override {
        return naming_.NameForEntry(entryName);
    }
    ResultCode WriteImage(ByteSource& archive, const ArchivedImage& image, ImageKind kind,
                          OutputSink& sink, const std::string& name) const override;
    ResultCode WriteEffect(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                           const std::string& stem, OutputSink& sink,
                           const std::string& name) const override;

  private:
    const ImageOutput& naming_;
    SoundCatalog& catalog_;
};

}  // namespace sorvik::sfs
