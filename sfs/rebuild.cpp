#include "sfs/rebuild.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>

#include "codec/adpcm.h"
#include "codec/encode.h"
#include "codec/sound_data.h"
#include "codec/wav_reader.h"
#include "common/heap_buffer.h"
#include "common/path_helpers.h"
#include "sfs/layout.h"

namespace sorvik::sfs {
namespace {

// An output that is compared with bytes expected instead of written: after the first `skipped`
// bytes (a WAV header, whose fields are compared apart), each write with the next bytes of
// `expected` from `offset` on. A write that differs, or passes `length`, fails, which ends the
// conversion at once.
class ComparingSink final : public OutputSink {
  public:
    ComparingSink(ByteSource& expected, std::uint64_t offset, std::uint64_t length,
                  std::size_t skipped)
        : expected_(expected), offset_(offset), length_(length), skipped_(skipped) {}

    // True when everything written matched all the expected bytes.
    bool Same() const { return same_ && compared_ == length_; }
    std::unique_ptr<OutputFile> Create(const std::string&) override {
        return std::make_unique<File>(*this);
    }

  private:
    class File final : public OutputFile {
      public:
        explicit File(ComparingSink& sink) : sink_(sink) {}
        bool Write(const void* bytes, std::size_t count) override {
            return sink_.Compare(static_cast<const std::uint8_t*>(bytes), count);
        }
        bool Rewrite(std::uint64_t, const void*, std::size_t) override { return true; }
        bool Commit() override { return true; }

      private:
        ComparingSink& sink_;
    };

    bool Compare(const std::uint8_t* bytes, std::size_t count) {
        const auto skip = static_cast<std::size_t>(
            std::min<std::uint64_t>(count, skipped_ - std::min<std::uint64_t>(skipped_, written_)));
        written_ += count;
        bytes += skip;
        count -= skip;
        if (count == 0) return true;
        if (count > length_ - compared_ || (buffer_.Size() < count && !buffer_.Grow(count)) ||
            !expected_.ReadAt(offset_ + compared_, buffer_.Data(), count) ||
            std::memcmp(buffer_.Data(), bytes, count) != 0) {
            same_ = false;
            return false;
        }
        compared_ += count;
        return true;
    }

    ByteSource& expected_;
    std::uint64_t offset_;
    std::uint64_t length_;
    std::size_t skipped_;
    std::uint64_t written_ = 0;
    std::uint64_t compared_ = 0;
    bool same_ = true;
    HeapBuffer buffer_;
};

// An output that lands in a region of another one: the first `skipped` bytes written (an image
// header) are dropped, the rest go to `target` from `offset` on, never past `limit` bytes.
class RegionSink final : public OutputSink {
  public:
    RegionSink(OutputFile& target, std::uint64_t offset, std::uint64_t limit, std::size_t skipped)
        : target_(target), offset_(offset), limit_(limit), skipped_(skipped) {}

    std::unique_ptr<OutputFile> Create(const std::string&) override {
        return std::make_unique<File>(*this);
    }

  private:
    class File final : public OutputFile {
      public:
        explicit File(RegionSink& sink) : sink_(sink) {}
        bool Write(const void* bytes, std::size_t count) override {
            const bool written = sink_.Place(sink_.written_, bytes, count);
            sink_.written_ += count;
            return written;
        }
        bool Rewrite(std::uint64_t offset, const void* bytes, std::size_t count) override {
            return sink_.Place(offset, bytes, count);
        }
        bool Commit() override { return true; }

      private:
        RegionSink& sink_;
    };

    bool Place(std::uint64_t at, const void* bytes, std::size_t count) {
        const auto* data = static_cast<const std::uint8_t*>(bytes);
        const auto skip = static_cast<std::size_t>(
            std::min<std::uint64_t>(count, skipped_ - std::min<std::uint64_t>(skipped_, at)));
        if (skip == count) return true;  // all of it within the dropped header
        const std::uint64_t start = at + skip - skipped_;
        count -= skip;
        if (count > limit_ || start > limit_ - count) return false;
        return target_.Rewrite(offset_ + start, data + skip, count);
    }

    OutputFile& target_;
    std::uint64_t offset_;
    std::uint64_t limit_;
    std::size_t skipped_;
    std::uint64_t written_ = 0;
};

std::string Seconds(std::uint64_t frames, std::uint32_t sampleRate) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f s",
                  sampleRate == 0 ? 0.0 : double(frames) / sampleRate);
    return text;
}

std::size_t UnitBytes(Replacement::Room room) {
    return room == Replacement::Room::Track ? kAdpcmPairSize : kAdpcmBlockSize;
}

// Writes `count` zero bytes over `file` from `offset`.
bool WriteSilence(OutputFile& file, std::uint64_t offset, std::uint64_t count) {
    const std::array<std::uint8_t, 16384> zeros{};
    for (std::uint64_t done = 0; done < count;) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), count - done));
        if (!file.Rewrite(offset + done, zeros.data(), piece)) return false;
        done += piece;
    }
    return true;
}

// Writes the new sound of `replacement` into its room in `file`, then the silence after it and,
// for mono, its end block.
ResultCode PutInPlace(const Replacement& replacement, ByteSource& source, OutputFile& file) {
    const std::size_t unitBytes = UnitBytes(replacement.room);
    const std::uint64_t room = replacement.roomUnits * unitBytes;
    ResultCode placed = ResultCode::Ok;
    if (replacement.encode) {
        RegionSink region(file, replacement.dataOffset, room, kSoundHeaderSize);
        WavRefusal refusal;
        placed = EncodeWavToImage(source, region, replacement.name, refusal);
    } else {
        RegionSink region(file, replacement.dataOffset, room, 0);
        placed = WriteOutput(region, replacement.name, [&](OutputFile& part) {
            return CopyRange(source, replacement.sourceOffset, replacement.soundUnits * unitBytes,
                             part);
        });
    }
    if (placed != ResultCode::Ok) return placed;
    const std::uint64_t soundBytes = replacement.soundUnits * unitBytes;
    if (!WriteSilence(file, replacement.dataOffset + soundBytes, room - soundBytes)) {
        return ResultCode::WriteFailed;
    }
    if (replacement.room == Replacement::Room::Track) return ResultCode::Ok;
    const std::uint64_t endBlock = replacement.room == Replacement::Room::Effect
                                       ? replacement.roomUnits - 1
                                       : replacement.soundUnits;
    const std::uint8_t end[kAdpcmBlockSize] = {0, kEndBlockFlag};
    return file.Rewrite(replacement.dataOffset + endBlock * kAdpcmBlockSize, end, sizeof(end))
               ? ResultCode::Ok
               : ResultCode::WriteFailed;
}

}  // namespace

std::unique_ptr<ByteSource> FilesIn::Open(const std::string& name) const {
    auto file = std::make_unique<FileSource>((folder_ + name).c_str());
    if (!file->IsOpen()) return nullptr;
    return file;
}

// A sound of the archive as the folder's files are compared with it.
struct ReplacedImages::Original {
    // Writes it to a sink as an extraction does: decoded (a WAV file) or raw.
    std::function<ResultCode(OutputSink&, bool decoded)> write;
    std::uint16_t channels;
    std::uint32_t sampleRate;
    Replacement::Room room;
    std::uint64_t dataOffset;
    std::uint64_t roomUnits;
};

std::string ReplacedImages::NameFor(const std::string& stem) const {
    return DecodedImages().NameFor(stem);
}

std::string ReplacedImages::NameForEntry(const std::string& entryName) const {
    return DecodedImages().NameForEntry(entryName);
}

ResultCode ReplacedImages::WriteImage(ByteSource& archive, const ArchivedImage& image,
                                      ImageKind kind, OutputSink&, const std::string& name) const {
    const std::uint16_t channels = kind == ImageKind::Stereo ? 2 : 1;
    SoundData sound{};
    const ResultCode read = ReadSoundImage(archive, image.offset, image.Length(), channels, sound);
    if (read != ResultCode::Ok) return read;
    const Original original{
        [&](OutputSink& sink, bool decoded) {
            return decoded ? DecodedImages().WriteImage(archive, image, kind, sink, name)
                           : RawImages().WriteImage(archive, image, kind, sink, name);
        },
        channels,
        sound.sampleRate,
        channels == 2 ? Replacement::Room::Track : Replacement::Room::Bank,
        sound.offset,
        sound.unitCount};
    return Decide(original, name);
}

ResultCode ReplacedImages::WriteEffect(ByteSource& source, std::uint64_t offset,
                                       std::uint64_t blockCount, const std::string& stem,
                                       OutputSink&, const std::string& name) const {
    const Original original{
        [&](OutputSink& sink, bool decoded) {
            return decoded
                       ? DecodedImages().WriteEffect(source, offset, blockCount, stem, sink, name)
                       : RawImages().WriteEffect(source, offset, blockCount, stem, sink, name);
        },
        1,
        kEffectSampleRate,
        Replacement::Room::Effect,
        kEffectsBlockOffset + offset,
        blockCount};
    return Decide(original, name);
}

ResultCode ReplacedImages::Decide(const Original& original, const std::string& name) const {
    if (const std::unique_ptr<ByteSource> wav = folder_.Open(name)) {
        return DecideWav(original, name, *wav);
    }
    std::string imageName = name;
    ReplaceExtension(imageName, "VAG");
    if (const std::unique_ptr<ByteSource> image = folder_.Open(imageName)) {
        return DecideImage(original, imageName, *image);
    }
    ++kept_;
    return ResultCode::Ok;
}

ResultCode ReplacedImages::DecideWav(const Original& original, const std::string& name,
                                     ByteSource& wav) const {
    WavInfo info;
    WavRefusal refusal;
    const ResultCode read = ReadWavInfo(wav, info, refusal);
    if (read != ResultCode::Ok) {
        ++refusals_;
        report_.Refused(name, !refusal.format.empty() ? refusal.format + ": save it as 16-bit PCM"
                              : read == ResultCode::ReadFailed ? "can't read it"
                                                               : "not a WAV file");
        return ResultCode::Ok;
    }
    if (info.channels == original.channels && info.sampleRate == original.sampleRate) {
        ComparingSink same(wav, info.dataOffset, info.frameCount * 2 * info.channels,
                           kWavHeaderSize);
        const ResultCode compared = original.write(same, true);
        if (compared == ResultCode::Ok && same.Same()) {
            ++kept_;
            return ResultCode::Ok;
        }
        if (compared != ResultCode::Ok && compared != ResultCode::WriteFailed) return compared;
    }
    const std::uint64_t blocks =
        std::max<std::uint64_t>(1, (info.frameCount + kSamplesPerBlock - 1) / kSamplesPerBlock);
    if (Fits(original, name, blocks, info.sampleRate, info.channels, true)) {
        replacements_.push_back(Replacement{name, true, original.room, original.dataOffset,
                                            original.roomUnits, blocks});
    }
    return ResultCode::Ok;
}

ResultCode ReplacedImages::DecideImage(const Original& original, const std::string& name,
                                       ByteSource& image) const {
    ComparingSink same(image, 0, image.Size(), 0);
    const ResultCode compared = original.write(same, false);
    if (compared == ResultCode::Ok && same.Same()) {
        ++kept_;
        return ResultCode::Ok;
    }
    if (compared != ResultCode::Ok && compared != ResultCode::WriteFailed) return compared;
    std::uint16_t channels = 0;
    SoundData sound{};
    SoundScan scan;
    std::uint8_t lastFlag = 0;
    if (FindLooseChannels(image, channels) != ResultCode::Ok ||
        ReadSoundImage(image, 0, image.Size(), channels, sound) != ResultCode::Ok ||
        sound.unitCount == 0 || ScanSound(image, sound, scan) != ResultCode::Ok ||
        !image.ReadAt(sound.offset + (scan.unitCount - 1) * sound.UnitBytes() + 1, &lastFlag, 1)) {
        ++refusals_;
        report_.Refused(name, "not a sound image sorvik reads");
        return ResultCode::Ok;
    }
    // A mono image's own end block is put back where its room wants it.
    const std::uint64_t units = scan.unitCount - (channels == 1 && lastFlag == kEndBlockFlag);
    if (Fits(original, name, units, sound.sampleRate, channels, false)) {
        replacements_.push_back(Replacement{name, false, original.room, original.dataOffset,
                                            original.roomUnits, units, sound.offset});
    }
    return ResultCode::Ok;
}

bool ReplacedImages::Fits(const Original& original, const std::string& name, std::uint64_t units,
                          std::uint32_t sampleRate, std::uint16_t channels, bool wav) const {
    std::string reason;
    // Mono needs a block more for its end.
    const std::uint64_t roomBlocks = original.roomUnits - (original.channels == 1 ? 1 : 0);
    if (channels != original.channels) {
        reason = std::string(channels == 1 ? "mono" : "stereo") + ", where the original is " +
                 (original.channels == 1 ? "mono" : "stereo");
    } else if (sampleRate != original.sampleRate) {
        reason = "plays at " + std::to_string(sampleRate) + " Hz, where the original plays at " +
                 std::to_string(original.sampleRate) + " Hz: resample it";
    } else if (units > roomBlocks) {
        reason = "lasts " + Seconds(units * kSamplesPerBlock, sampleRate) + ": at most " +
                 Seconds(roomBlocks * kSamplesPerBlock, sampleRate) + " fit in its place";
        // A WAV file rendered with its loop repeated never fits.
        if (wav) reason += " (if it was extracted with -loops, extract it again without)";
    } else {
        return true;
    }
    ++refusals_;
    report_.Refused(name, reason);
    return false;
}

ResultCode WriteRebuiltArchive(ByteSource& archive, const std::vector<Replacement>& replacements,
                               const FolderFiles& folder, OutputSink& sink,
                               const std::string& outputName) {
    return WriteOutput(sink, outputName, [&](OutputFile& file) {
        ResultCode result = CopyRange(archive, 0, archive.Size(), file);
        for (const Replacement& replacement : replacements) {
            if (result != ResultCode::Ok) break;
            const std::unique_ptr<ByteSource> source = folder.Open(replacement.name);
            result = source ? PutInPlace(replacement, *source, file) : ResultCode::ReadFailed;
        }
        return result;
    });
}

}  // namespace sorvik::sfs
