#include "sfs/rebuild.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "codec/adpcm.h"
#include "codec/batch.h"
#include "codec/convert.h"
#include "codec/encode.h"
#include "codec/sound_data.h"
#include "codec/wav_reader.h"
#include "common/heap_buffer.h"
#include "common/output_names.h"
#include "common/path_helpers.h"
#include "platform/platform.h"
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
    // True when the expected bytes could not be read.
    bool Unreadable() const { return unreadable_; }
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
        if (count > length_ - compared_ || (buffer_.Size() < count && !buffer_.Grow(count))) {
            same_ = false;
            return false;
        }
        if (!expected_.ReadAt(offset_ + compared_, buffer_.Data(), count)) {
            same_ = false;
            unreadable_ = true;
            return false;
        }
        if (std::memcmp(buffer_.Data(), bytes, count) != 0) {
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
    bool unreadable_ = false;
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

// Gives output names as an extraction's destination would, and never creates a file.
class NamesOnly final : public OutputSink {
  public:
    std::unique_ptr<OutputFile> Create(const std::string&) override { return nullptr; }
};

// A digest of 16-bit samples as a WAV file holds them (little-endian), and their count: what the
// encoder says the decoder will make of a new sound, or what it makes of the new archive.
class SampleDigest final : public DecodedSamples {
  public:
    void Take(const std::int16_t* samples, std::size_t count) override {
        for (std::size_t i = 0; i < count; ++i) {
            const auto sample = static_cast<std::uint16_t>(samples[i]);
            const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(sample),
                                           static_cast<std::uint8_t>(sample >> 8)};
            Add(bytes, 2);
        }
    }
    void Add(const std::uint8_t* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) hash_ = (hash_ ^ bytes[i]) * 1099511628211u;
        byteCount_ += count;
    }
    void AddSilence(std::uint64_t sampleCount) {
        const std::uint8_t zero[2] = {};
        for (std::uint64_t i = 0; i < sampleCount; ++i) Add(zero, 2);
    }
    std::uint64_t SampleCount() const { return byteCount_ / 2; }
    bool operator==(const SampleDigest& other) const {
        return hash_ == other.hash_ && byteCount_ == other.byteCount_;
    }

  private:
    std::uint64_t hash_ = 14695981039346656037u;  // 64-bit FNV-1a
    std::uint64_t byteCount_ = 0;
};

// An output whose WAV data goes into a digest; its header is passed over.
class DigestSink final : public OutputSink {
  public:
    SampleDigest digest;
    std::unique_ptr<OutputFile> Create(const std::string&) override {
        return std::make_unique<File>(*this);
    }

  private:
    class File final : public OutputFile {
      public:
        explicit File(DigestSink& sink) : sink_(sink) {}
        bool Write(const void* bytes, std::size_t count) override {
            const auto skip = static_cast<std::size_t>(std::min<std::uint64_t>(
                count, kWavHeaderSize - std::min<std::uint64_t>(kWavHeaderSize, written_)));
            written_ += count;
            sink_.digest.Add(static_cast<const std::uint8_t*>(bytes) + skip, count - skip);
            return true;
        }
        bool Rewrite(std::uint64_t, const void*, std::size_t) override { return true; }
        bool Commit() override { return true; }

      private:
        DigestSink& sink_;
        std::uint64_t written_ = 0;
    };
};

// An output being written, read back.
class WrittenSource final : public ByteSource {
  public:
    WrittenSource(OutputFile& file, std::uint64_t size) : file_(file), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t count) override {
        return Holds(offset, count) && file_.ReadBack(offset, bytes, count);
    }

  private:
    OutputFile& file_;
    std::uint64_t size_;
};

// A length as the user is told it: "0.003 s (140 samples)".
std::string Duration(std::uint64_t frames, std::uint32_t sampleRate) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.3f s (%llu samples)",
                  sampleRate == 0 ? 0.0 : double(frames) / sampleRate,
                  static_cast<unsigned long long>(frames));
    return text;
}

// `name` (UTF-8) with its ASCII capitals made small.
std::string CaseFolded(const std::string& name) {
    std::string folded = name;
    for (char& character : folded) {
        if (character >= 'A' && character <= 'Z') character = static_cast<char>(character + 32);
    }
    return folded;
}

bool IsWavName(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot != std::string::npos && CaseFolded(name.substr(dot + 1)) == "wav";
}

// True when `length` bytes of `first` at `firstOffset` and of `second` at `secondOffset` can be
// read and are the same.
bool SameRange(ByteSource& first, std::uint64_t firstOffset, ByteSource& second,
               std::uint64_t secondOffset, std::uint64_t length) {
    std::array<std::uint8_t, 8192> mine, theirs;
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(mine.size(), length - done));
        if (!first.ReadAt(firstOffset + done, mine.data(), piece) ||
            !second.ReadAt(secondOffset + done, theirs.data(), piece) ||
            std::memcmp(mine.data(), theirs.data(), piece) != 0) {
            return false;
        }
        done += piece;
    }
    return true;
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
// for mono, its end block. A WAV file's samples as the decoder will make them go to `decoded`.
// `encoded`, when given, is the image of a WAV file already encoded: its blocks are put in place.
ResultCode PutInPlace(const Replacement& replacement, ByteSource* source, OutputFile& file,
                      SampleDigest& decoded, const std::vector<std::uint8_t>* encoded = nullptr) {
    const std::size_t unitBytes = UnitBytes(replacement.room);
    const std::uint64_t room = replacement.roomUnits * unitBytes;
    ResultCode placed = ResultCode::Ok;
    if (encoded != nullptr) {
        RegionSink region(file, replacement.dataOffset, room, kSoundHeaderSize);
        placed = WriteBytesAs(region, replacement.name, *encoded);
    } else if (source == nullptr) {
        return ResultCode::ReadFailed;
    } else if (replacement.encode) {
        RegionSink region(file, replacement.dataOffset, room, kSoundHeaderSize);
        WavRefusal refusal;
        placed = EncodeWavToImage(*source, region, replacement.name, refusal, &decoded);
    } else {
        RegionSink region(file, replacement.dataOffset, room, 0);
        placed = WriteOutput(region, replacement.name, [&](OutputFile& part) {
            return CopyRange(*source, replacement.sourceOffset, replacement.soundUnits * unitBytes,
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

// True when the room of `replacement` in `written` holds what PutInPlace put there: an image's
// blocks (from `image`), or, decoded as an extraction decodes the room, the samples `expected`
// then silence.
bool ReadsBack(const Replacement& replacement, ByteSource* image, ByteSource& written,
               SampleDigest expected) {
    const std::uint64_t at = replacement.dataOffset;
    if (!replacement.encode) {
        return image != nullptr && SameRange(*image, replacement.sourceOffset, written, at,
                                             replacement.soundUnits * UnitBytes(replacement.room));
    }
    DigestSink decoded;
    ResultCode result = ResultCode::Ok;
    std::uint64_t samples = replacement.roomUnits * kSamplesPerBlock;
    switch (replacement.room) {
        case Replacement::Room::Effect:
            result =
                WriteMonoWav(written, at, replacement.roomUnits, kEffectSampleRate, decoded, "");
            break;
        case Replacement::Room::Bank:  // up to the new end block
            result = ConvertVagImage(written, at - kSoundHeaderSize,
                                     kSoundHeaderSize + replacement.roomUnits * kAdpcmBlockSize,
                                     decoded, "");
            samples = (replacement.soundUnits + 1) * kSamplesPerBlock;
            break;
        case Replacement::Room::Track:
            result = ConvertSterImage(written, at - kSoundHeaderSize,
                                      kSoundHeaderSize + replacement.roomUnits * kAdpcmPairSize,
                                      decoded, "");
            samples *= 2;
            break;
    }
    expected.AddSilence(samples - std::min(samples, expected.SampleCount()));
    return result == ResultCode::Ok && decoded.digest == expected;
}

// A replaced sound's WAV file encoded on the second thread while the sound before it is put in
// place: its image in memory and the samples the decoder will make of it.
struct EncodedAhead {
    ResultCode result = ResultCode::ReadFailed;
    BoundedMemorySink image{kEncodedAheadBytes};
    SampleDigest decoded;

    void Encode(const Replacement& replacement, const FolderFiles& folder) {
        const std::unique_ptr<ByteSource> source = folder.Open(replacement.name);
        if (!source) return;
        WavRefusal refusal;
        result = EncodeWavToImage(*source, image, replacement.name, refusal, &decoded,
                                  SecondThread::Never);
    }
};

// Writes `archive` with `replacements` in place as the output `outputName`, reads each of them
// back, and gives the output its name only when every one is as it was put.
ResultCode WriteRebuilt(ByteSource& archive, const std::vector<Replacement>& replacements,
                        const FolderFiles& folder, OutputSink& sink, const std::string& outputName,
                        RebuildReport& report, SecondThread soundsSideBySide) {
    return WriteOutput(sink, outputName, [&](OutputFile& file) {
        ResultCode result = CopyRange(archive, 0, archive.Size(), file);
        const auto count = static_cast<unsigned>(replacements.size());
        std::vector<SampleDigest> expected(count);
        // Each sound in its turn; the next WAV file, as allowed, encoded meanwhile.
        const auto place = [&](unsigned i, const std::vector<std::uint8_t>* encoded) {
            report.Placing(i + 1, count);
            const std::unique_ptr<ByteSource> source =
                encoded != nullptr ? nullptr : folder.Open(replacements[i].name);
            result = PutInPlace(replacements[i], source.get(), file, expected[i], encoded);
            // The file changed since it was looked at.
            if (result == ResultCode::ReadFailed || result == ResultCode::UnknownFormat) {
                report.Refused(replacements[i].name, "can't read it");
            }
        };
        const bool mayAhead = MaySecondThread(soundsSideBySide);
        for (unsigned i = 0; i < count && result == ResultCode::Ok; ++i) {
            std::unique_ptr<EncodedAhead> ahead;
            const Replacement* next = i + 1 < count ? &replacements[i + 1] : nullptr;
            if (mayAhead && next != nullptr && next->encode &&
                next->roomUnits * UnitBytes(next->room) + kSoundHeaderSize <= kEncodedAheadBytes) {
                ahead = std::make_unique<EncodedAhead>();
            }
            RunBoth([&] { place(i, nullptr); },
                    [&] {
                        if (ahead) ahead->Encode(replacements[i + 1], folder);
                    },
                    ahead != nullptr);
            if (!ahead || result != ResultCode::Ok) continue;
            ++i;
            const bool done = ahead->result == ResultCode::Ok && ahead->image.Committed();
            place(i, done ? &ahead->image.Bytes() : nullptr);
            if (done) expected[i] = ahead->decoded;
        }
        WrittenSource written(file, archive.Size());
        for (unsigned i = 0; i < count && result == ResultCode::Ok; ++i) {
            const Replacement& replacement = replacements[i];
            const std::unique_ptr<ByteSource> image =
                replacement.encode ? nullptr : folder.Open(replacement.name);
            if (!ReadsBack(replacement, image.get(), written, expected[i])) {
                report.NotAsWritten(replacement.name);
                result = ResultCode::WriteFailed;
            }
        }
        return result;
    });
}

// A sound of the archive as the folder's files are compared with it.
struct Original {
    // Writes it to a sink as an extraction does: decoded (a WAV file) or raw.
    std::function<ResultCode(OutputSink&, bool decoded)> write;
    std::uint16_t channels;
    std::uint32_t sampleRate;
    Replacement::Room room;
    std::uint64_t dataOffset;
    std::uint64_t roomUnits;
    bool readable;  // its header was read: its rate and room are known
};

// Decides, as the walk through the archive goes, which sounds the folder replaces. Writes
// nothing: a sound is kept or replaced only in the plan.
class Plan final : public ImageOutput {
  public:
    Plan(const FolderFiles& folder, const std::string& archiveName, RebuildReport& report);

    std::string NameFor(const std::string& stem) const override;
    std::string NameForEntry(const std::string& entryName) const override;
    ResultCode WriteImage(ByteSource& archive, const ArchivedImage& image, ImageKind kind,
                          OutputSink& sink, const std::string& name) const override;
    ResultCode WriteEffect(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                           const std::string& stem, OutputSink& sink,
                           const std::string& name) const override;

    const std::vector<Replacement>& Replacements() const { return replacements_; }
    unsigned Refusals() const { return refusals_; }
    // The sounds walked whose rooms no edit replaces.
    unsigned Kept() const;

  private:
    enum class Verdict { Same, Edited, Refused };
    // Decides for the sound that a decoding extraction writes as `wavName`.
    ResultCode Decide(const Original& original, const std::string& wavName) const;
    // Compares the file `name` of the folder with the original: an edit fills `edit`.
    Verdict Judge(const Original& original, const std::string& name, Replacement& edit) const;
    Verdict JudgeWav(const Original& original, const std::string& name, ByteSource& wav,
                     Replacement& edit) const;
    Verdict JudgeImage(const Original& original, const std::string& name, ByteSource& image,
                       Replacement& edit) const;
    // Edited when a new sound of `units` blocks (pairs; a mono end block not counted) and
    // `samples` of `channels` at `sampleRate` fits the original's place; else refused.
    Verdict Fits(const Original& original, const std::string& name, std::uint64_t units,
                 std::uint64_t samples, std::uint32_t sampleRate, std::uint16_t channels,
                 bool wav) const;
    Verdict Refuse(const std::string& name, const std::string& reason) const;
    // True when the folder's files `first` and `second` hold the same bytes.
    bool SameFiles(const std::string& first, const std::string& second) const;

    const FolderFiles& folder_;
    RebuildReport& report_;
    std::map<std::string, std::vector<std::string>> filesByFoldedName_;
    // The plan grows while the const strategy is used by the extractor.
    mutable std::string rawName_;  // what -x names the sound being walked, before it is claimed
    mutable OutputNameRegistry rawNames_;
    mutable std::vector<Replacement> replacements_;
    mutable std::vector<std::uint64_t> keptRooms_;
    mutable unsigned refusals_ = 0;
};

Plan::Plan(const FolderFiles& folder, const std::string& archiveName, RebuildReport& report)
    : folder_(folder), report_(report) {
    for (const std::string& name : folder.Names()) {
        filesByFoldedName_[CaseFolded(name)].push_back(name);
    }
    // As an extraction claims them.
    for (const std::string& taken :
         {archiveName, std::string(kSeIndexName), std::string(kVoiceIndexName)}) {
        rawNames_.Claim(taken);
    }
}

std::string Plan::NameFor(const std::string& stem) const {
    rawName_ = RawImages().NameFor(stem);
    return DecodedImages().NameFor(stem);
}

std::string Plan::NameForEntry(const std::string& entryName) const {
    rawName_ = RawImages().NameForEntry(entryName);
    return DecodedImages().NameForEntry(entryName);
}

ResultCode Plan::WriteImage(ByteSource& archive, const ArchivedImage& image, ImageKind kind,
                            OutputSink&, const std::string& name) const {
    const std::uint16_t channels = kind == ImageKind::Stereo ? 2 : 1;
    // Whatever the decoder thinks of the original, it is only read when a file stands for it.
    SoundData sound{};
    const bool readable =
        ReadSoundImage(archive, image.offset, image.Length(), channels, sound) == ResultCode::Ok;
    const Original original{
        [&](OutputSink& sink, bool decoded) {
            return decoded ? DecodedImages().WriteImage(archive, image, kind, sink, name)
                           : RawImages().WriteImage(archive, image, kind, sink, name);
        },
        channels,
        readable ? sound.sampleRate : 0,
        channels == 2 ? Replacement::Room::Track : Replacement::Room::Bank,
        image.offset + kSoundHeaderSize,
        readable ? sound.unitCount : 0,
        readable};
    return Decide(original, name);
}

ResultCode Plan::WriteEffect(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                             const std::string& stem, OutputSink&, const std::string& name) const {
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
        blockCount,
        true};
    return Decide(original, name);
}

ResultCode Plan::Decide(const Original& original, const std::string& wavName) const {
    std::string imageName = wavName;
    ReplaceExtension(imageName, "VAG");
    // Every file of the folder under one of the sound's names, in any case.
    std::set<std::string> files;
    for (const std::string& name : {wavName, imageName, rawNames_.Claim(rawName_)}) {
        const auto found = filesByFoldedName_.find(CaseFolded(name));
        if (found == filesByFoldedName_.end()) continue;
        files.insert(found->second.begin(), found->second.end());
    }
    std::optional<Replacement> edit;
    for (const std::string& file : files) {
        Replacement candidate{};
        const Verdict verdict = Judge(original, file, candidate);
        if (verdict == Verdict::Refused) return ResultCode::Ok;
        if (verdict == Verdict::Same) continue;
        if (!edit) {
            edit = candidate;
        } else if (!SameFiles(edit->name, file)) {
            Refuse(edit->name + " and " + file, "two different edits of one sound: keep one");
            return ResultCode::Ok;
        }
    }
    if (!edit) {
        keptRooms_.push_back(original.dataOffset);
        return ResultCode::Ok;
    }
    // Entries that share one sound share its room: one edit replaces it for all.
    const auto shared = std::find_if(
        replacements_.begin(), replacements_.end(),
        [&](const Replacement& replacement) { return replacement.dataOffset == edit->dataOffset; });
    if (shared == replacements_.end()) {
        replacements_.push_back(*edit);
    } else if (!SameFiles(shared->name, edit->name)) {
        Refuse(shared->name + " and " + edit->name,
               "two different edits of one sound that several entries share: keep one");
    }
    return ResultCode::Ok;
}

unsigned Plan::Kept() const {
    return static_cast<unsigned>(
        std::count_if(keptRooms_.begin(), keptRooms_.end(), [&](std::uint64_t room) {
            return std::none_of(
                replacements_.begin(), replacements_.end(),
                [&](const Replacement& replacement) { return replacement.dataOffset == room; });
        }));
}

Plan::Verdict Plan::Judge(const Original& original, const std::string& name,
                          Replacement& edit) const {
    const std::unique_ptr<ByteSource> file = folder_.Open(name);
    if (!file) return Refuse(name, "can't open it");
    // A sound image named like a WAV file is an image (a bank entry so named in its index).
    std::uint16_t channels = 0;
    const bool image = !IsWavName(name) || FindLooseChannels(*file, channels) == ResultCode::Ok;
    return image ? JudgeImage(original, name, *file, edit) : JudgeWav(original, name, *file, edit);
}

Plan::Verdict Plan::JudgeWav(const Original& original, const std::string& name, ByteSource& wav,
                             Replacement& edit) const {
    WavInfo info;
    WavRefusal refusal;
    const ResultCode read = ReadWavInfo(wav, info, refusal);
    if (read != ResultCode::Ok) {
        return Refuse(name, !refusal.format.empty() ? refusal.format + ": save it as 16-bit PCM"
                            : read == ResultCode::ReadFailed ? "can't read it"
                                                             : "not a WAV file");
    }
    if (info.channels == original.channels && info.sampleRate == original.sampleRate) {
        ComparingSink same(wav, info.dataOffset, info.frameCount * 2 * info.channels,
                           kWavHeaderSize);
        const ResultCode compared = original.write(same, true);
        if (same.Unreadable()) return Refuse(name, "can't read it");
        if (compared == ResultCode::Ok && same.Same()) return Verdict::Same;
    }
    const std::optional<std::uint64_t> blocks = EncodedBlockCount(wav, info);
    if (!blocks) return Refuse(name, "can't read it");
    edit = Replacement{name, true, original.room, original.dataOffset, original.roomUnits, *blocks};
    return Fits(original, name, *blocks, std::min(info.frameCount, *blocks * kSamplesPerBlock),
                info.sampleRate, info.channels, true);
}

Plan::Verdict Plan::JudgeImage(const Original& original, const std::string& name, ByteSource& image,
                               Replacement& edit) const {
    ComparingSink same(image, 0, image.Size(), 0);
    const ResultCode compared = original.write(same, false);
    if (same.Unreadable()) return Refuse(name, "can't read it");
    if (compared == ResultCode::Ok && same.Same()) return Verdict::Same;
    std::uint16_t channels = 0;
    SoundData sound{};
    SoundScan scan;
    std::uint8_t lastFlag = 0;
    if (FindLooseChannels(image, channels) != ResultCode::Ok ||
        ReadSoundImage(image, 0, image.Size(), channels, sound) != ResultCode::Ok ||
        sound.unitCount == 0 || ScanSound(image, sound, scan) != ResultCode::Ok ||
        !image.ReadAt(sound.offset + (scan.unitCount - 1) * sound.UnitBytes() + 1, &lastFlag, 1)) {
        return Refuse(name, "not a sound image sorvik reads");
    }
    // A mono image's own end block is put back where its room wants it.
    const std::uint64_t units = scan.unitCount - (channels == 1 && lastFlag == kEndBlockFlag);
    edit = Replacement{name, false, original.room, original.dataOffset, original.roomUnits, units};
    edit.sourceOffset = sound.offset;
    return Fits(original, name, units, units * kSamplesPerBlock, sound.sampleRate, channels, false);
}

Plan::Verdict Plan::Fits(const Original& original, const std::string& name, std::uint64_t units,
                         std::uint64_t samples, std::uint32_t sampleRate, std::uint16_t channels,
                         bool wav) const {
    // Mono needs a block more for its end.
    const std::uint64_t endBlock = original.channels == 1 ? 1 : 0;
    const std::uint64_t roomBlocks = original.roomUnits - std::min(original.roomUnits, endBlock);
    std::string reason;
    if (!original.readable) {
        reason = "the sound it would replace in the archive is not one sorvik reads";
    } else if (channels != original.channels) {
        reason = std::string(channels == 1 ? "mono" : "stereo") + ", where the original is " +
                 (original.channels == 1 ? "mono" : "stereo");
    } else if (sampleRate != original.sampleRate) {
        reason = "plays at " + std::to_string(sampleRate) + " Hz, where the original plays at " +
                 std::to_string(original.sampleRate) + " Hz: resample it";
    } else if (units + endBlock > original.roomUnits) {
        reason = "lasts " + Duration(samples, sampleRate) + ": at most " +
                 Duration(roomBlocks * kSamplesPerBlock, sampleRate) + " fit in its place";
        // A WAV file rendered with its loop repeated never fits.
        if (wav) reason += " (if it was extracted with -loops, extract it again without)";
    } else {
        return Verdict::Edited;
    }
    return Refuse(name, reason);
}

Plan::Verdict Plan::Refuse(const std::string& name, const std::string& reason) const {
    ++refusals_;
    report_.Refused(name, reason);
    return Verdict::Refused;
}

bool Plan::SameFiles(const std::string& first, const std::string& second) const {
    const std::unique_ptr<ByteSource> one = folder_.Open(first);
    const std::unique_ptr<ByteSource> other = folder_.Open(second);
    return one && other && one->Size() == other->Size() &&
           SameRange(*one, 0, *other, 0, one->Size());
}

}  // namespace

std::vector<std::string> FilesIn::Names() const {
    std::vector<std::string> names;
    FileFinder finder((folder_ + "*").c_str());
    for (bool more = finder.HasMatch(); more; more = finder.Next()) names.push_back(finder.Name());
    return names;
}

std::unique_ptr<ByteSource> FilesIn::Open(const std::string& name) const {
    auto file = std::make_unique<FileSource>((folder_ + name).c_str());
    if (!file->IsOpen()) return nullptr;
    return file;
}

RebuildResult RebuildArchive(ByteSource& archive, const std::string& archiveName,
                             const IndexFiles& indexFiles, const FolderFiles& folder,
                             SectionMask sections, OutputSink& sink, RebuildReport& report,
                             SecondThread soundsSideBySide) {
    RebuildResult result;
    const Plan plan(folder, archiveName, report);
    NamesOnly names;
    SfsExtractor walk(plan, sections, names, report, FailurePolicy::KeepGoing);
    const ResultCode walked = walk.ExtractAll(archive, archiveName, indexFiles);
    result.replaced = plan.Replacements();
    result.kept = plan.Kept();
    if (walked != ResultCode::Ok || walk.FailuresPassed() > 0 || plan.Refusals() > 0) {
        return result;
    }
    if (result.replaced.empty()) {
        report.NothingDiffers();
        result.outcome = RebuildResult::Outcome::NothingDiffers;
        return result;
    }
    const ResultCode written =
        WriteRebuilt(archive, result.replaced, folder, sink, archiveName, report, soundsSideBySide);
    result.outcome = written == ResultCode::Ok ? RebuildResult::Outcome::Written
                                               : RebuildResult::Outcome::WriteFailed;
    return result;
}

}  // namespace sorvik::sfs
