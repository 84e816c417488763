#include "sfs/archive_images.h"

#include <algorithm>

#include "codec/adpcm.h"
#include "codec/convert.h"
#include "common/byte_order.h"
#include "common/heap_buffer.h"
#include "common/path_helpers.h"
#include "sfs/layout.h"

namespace sorvik::sfs {
namespace {

ResultCode FindImageHeader(ByteSource& archive, std::uint64_t& offset, const char (&magic)[5],
                           SoundHeaderBytes& header) {
    if (!archive.ReadAt(offset, header.data(), header.size())) return ResultCode::ReadFailed;
    if (HasMagic(header.data(), magic)) return ResultCode::Ok;
    offset += kSectorSize;
    if (!archive.ReadAt(offset, header.data(), header.size())) return ResultCode::ReadFailed;
    return HasMagic(header.data(), magic) ? ResultCode::Ok : ResultCode::UnknownFormat;
}

// Raw images are copied through a buffer of at most this size.
constexpr std::size_t kCopyPieceSize = 1024 * 1024;

}  // namespace

ResultCode CopyRange(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                     OutputFile& file) {
    HeapBuffer piece;
    if (!piece.Grow(static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyPieceSize)))) {
        return ResultCode::OutOfMemory;
    }
    RangeReader reader(source, offset, length);
    while (reader.Remaining() > 0) {
        const std::optional<std::size_t> got = reader.Next(piece.Data(), piece.Size());
        if (!got) return ResultCode::ReadFailed;
        if (!file.Write(piece.Data(), *got)) return ResultCode::WriteFailed;
    }
    return ResultCode::Ok;
}

ResultCode FindImage(ByteSource& archive, std::uint64_t& offset, ImageKind kind,
                     ArchivedImage& image) {
    const bool stereo = kind == ImageKind::Stereo;
    const ResultCode found =
        FindImageHeader(archive, offset, stereo ? kSterMagic : kVagMagic, image.header);
    if (found != ResultCode::Ok) return found;
    const std::uint64_t archivedSize = LoadLe32(image.header.data() + kHeaderLeSizeOffset);
    image.offset = offset;
    image.dataBytes = stereo ? 2 * archivedSize : archivedSize;
    return archive.Holds(offset, image.Length()) ? ResultCode::Ok : ResultCode::ReadFailed;
}

std::string RawImages::NameFor(const std::string& stem) const { return stem + ".VAG"; }

std::string RawImages::NameForEntry(const std::string& entryName) const { return entryName; }

ResultCode RawImages::WriteImage(ByteSource& archive, const ArchivedImage& image, ImageKind,
                                 OutputSink& sink, const std::string& name) const {
    return WriteOutput(sink, name, [&](OutputFile& file) {
        return CopyRange(archive, image.offset, image.Length(), file);
    });
}

ResultCode RawImages::WriteEffect(ByteSource& source, std::uint64_t offset,
                                  std::uint64_t blockCount, const std::string& stem,
                                  OutputSink& sink, const std::string& name) const {
    const std::uint64_t dataBytes = blockCount * kAdpcmBlockSize;
    const SoundHeaderBytes header =
        MakeArchivedImageHeader(1, static_cast<std::uint32_t>(dataBytes), kEffectSampleRate, stem);
    return WriteOutput(sink, name, [&](OutputFile& file) {
        if (!file.Write(header.data(), header.size())) return ResultCode::WriteFailed;
        return CopyRange(source, offset, dataBytes, file);
    });
}

std::string DecodedImages::NameFor(const std::string& stem) const { return stem + ".WAV"; }

std::string DecodedImages::NameForEntry(const std::string& entryName) const {
    std::string name = entryName;
    ReplaceExtension(name, "WAV");
    return name;
}

ResultCode DecodedImages::WriteImage(ByteSource& archive, const ArchivedImage& image,
                                     ImageKind kind, OutputSink& sink,
                                     const std::string& name) const {
    return kind == ImageKind::Stereo
               ? ConvertSterImage(archive, image.offset, image.Length(), sink, name, options_)
               : ConvertVagImage(archive, image.offset, image.Length(), sink, name, options_);
}

ResultCode DecodedImages::WriteEffect(ByteSource& source, std::uint64_t offset,
                                      std::uint64_t blockCount, const std::string&,
                                      OutputSink& sink, const std::string& name) const {
    return WriteMonoWav(source, offset, blockCount, kEffectSampleRate, sink, name, options_);
}

ResultCode ListedImages::WriteImage(ByteSource& archive, const ArchivedImage& image, ImageKind kind,
                                    OutputSink&, const std::string& name) const {
    SoundFacts facts;
    const ResultCode result = kind == ImageKind::Stereo
                                  ? DescribeSterImage(archive, image.offset, image.Length(), facts)
                                  : DescribeVagImage(archive, image.offset, image.Length(), facts);
    catalog_.Listed(name, SoundPlace{image.offset, image.Length()}, facts, result);
    return ResultCode::Ok;
}

ResultCode ListedImages::WriteEffect(ByteSource& source, std::uint64_t offset,
                                     std::uint64_t blockCount, const std::string&, OutputSink&,
                                     const std::string& name) const {
    SoundFacts facts;
    const ResultCode result =
        DescribeMonoBlocks(source, offset, blockCount, kEffectSampleRate, facts);
    const SoundPlace place{kEffectsBlockOffset + offset, blockCount * kAdpcmBlockSize};
    catalog_.Listed(name, place, facts, result);
    return ResultCode::Ok;
}

}  // namespace sorvik::sfs
