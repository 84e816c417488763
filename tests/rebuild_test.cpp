// Rebuilding an archive from the folder an extraction wrote, in memory: an untouched folder gives
// the same archive; edited sounds take their places, and only their rooms change; what does not
// fit is refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "codec/batch.h"
#include "sfs/rebuild.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/memory_io.h"

namespace sorvik::testing {
namespace {

using Files = std::map<std::string, Bytes>;

class MemoryFolder final : public sfs::FolderFiles {
  public:
    explicit MemoryFolder(const Files& files) : files_(files) {}
    std::unique_ptr<ByteSource> Open(const std::string& name) const override {
        const auto file = files_.find(name);
        if (file == files_.end()) return nullptr;
        return std::make_unique<MemorySource>(file->second.data(), file->second.size());
    }

  private:
    const Files& files_;
};

// Takes an archive as it is written and keeps only the bytes that differ from `original`.
class DiffSink final : public OutputSink {
  public:
    explicit DiffSink(ByteSource& original) : original_(original) {}
    std::map<std::uint64_t, std::uint8_t> changed;
    std::uint64_t size = 0;
    bool committed = false;
    bool failRewrites = false;  // every write over bytes already written fails

    std::unique_ptr<OutputFile> Create(const std::string&) override {
        return std::make_unique<File>(*this);
    }

  private:
    struct File final : OutputFile {
        explicit File(DiffSink& sink) : sink(sink) {}
        bool Write(const void* bytes, std::size_t count) override {
            sink.size += count;
            return Compare(sink.size - count, bytes, count);
        }
        bool Rewrite(std::uint64_t offset, const void* bytes, std::size_t count) override {
            return !sink.failRewrites && Compare(offset, bytes, count);
        }
        bool Compare(std::uint64_t offset, const void* bytes, std::size_t count) {
            Bytes was(count);
            if (offset + count > sink.size || !sink.original_.ReadAt(offset, was.data(), count)) {
                return false;
            }
            sink.changed.erase(sink.changed.lower_bound(offset), sink.changed.lower_bound(offset + count));
            for (std::size_t i = 0; i < count; ++i) {
                const auto byte = static_cast<const std::uint8_t*>(bytes)[i];
                if (byte != was[i]) sink.changed[offset + i] = byte;
            }
            return true;
        }
        bool Commit() override { return sink.committed = true; }
        DiffSink& sink;
    };
    ByteSource& original_;
};

// The original with the changes over it.
class PatchedSource final : public ByteSource {
  public:
    PatchedSource(ByteSource& original, const std::map<std::uint64_t, std::uint8_t>& changed)
        : original_(original), changed_(changed) {}
    std::uint64_t Size() const override { return original_.Size(); }
    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t count) override {
        if (!original_.ReadAt(offset, bytes, count)) return false;
        for (auto it = changed_.lower_bound(offset); it != changed_.end() && it->first < offset + count; ++it) {
            static_cast<std::uint8_t*>(bytes)[it->first - offset] = it->second;
        }
        return true;
    }

  private:
    ByteSource& original_;
    const std::map<std::uint64_t, std::uint8_t>& changed_;
};

struct Refusals final : sfs::RebuildReport {
    std::vector<std::string> lines;
    void Refused(const std::string& name, const std::string& reason) override {
        lines.push_back(name + ": " + reason);
    }
};

Files Extract(ByteSource& archive, const ArchiveImage& image, const sfs::ImageOutput& images) {
    MemorySink sink;
    RecordingReporter reporter;
    sfs::SfsExtractor(images, Section::kAll, sink, reporter).ExtractAll(archive, "SOUND.SFS",
                                                                        ArchiveIndexFiles(image));
    return sink.files;
}

struct Rebuilt {
    std::size_t replaced = 0;
    unsigned kept = 0;
    Refusals refusals;
    std::vector<sfs::Replacement> rooms;
};

Rebuilt Rebuild(ByteSource& archive, const ArchiveImage& image, const Files& folder,
                DiffSink& out) {
    Rebuilt rebuilt;
    const MemoryFolder files(folder);
    const sfs::ReplacedImages plan(files, rebuilt.refusals);
    MemorySink names;
    RecordingReporter reporter;
    sfs::SfsExtractor walk(plan, Section::kAll, names, reporter, FailurePolicy::KeepGoing);
    EXPECT_EQ(walk.ExtractAll(archive, "SOUND.SFS", ArchiveIndexFiles(image)), ResultCode::Ok);
    rebuilt = {plan.Replacements().size(), plan.Kept(), rebuilt.refusals, plan.Replacements()};
    if (plan.Refusals() == 0) {
        EXPECT_EQ(sfs::WriteRebuiltArchive(archive, plan.Replacements(), files, out, "SOUND.SFS"),
                  ResultCode::Ok);
    }
    return rebuilt;
}

// A WAV file of a sine of `seconds` made through an image (so, already 16-bit PCM).
Bytes SineWav(double seconds, std::uint32_t rate, bool stereo = false) {
    const Bytes adpcm = EncodeAdpcm(Sine(stereo ? 330 : 550, seconds, rate, 15000));
    const Bytes image = stereo ? MakeSterImage(adpcm, adpcm, rate, "new", false)
                               : MakeVagImage(adpcm, rate, "new", false);
    MemorySource source(image.data(), image.size());
    MemorySink sink;
    ConvertLooseImage(source, sink, "x");
    return sink.files["x"];
}

ArchiveContents LoopingContents() {
    ArchiveContents contents = MakeArchiveContents();
    Bytes& track = contents.tracks[3].image;
    track[48 + 2 * 32 + 1] = track[48 + 2 * 32 + 17] = 6;  // a loop, for -loop's smpl chunks
    track[48 + 5 * 32 + 1] = track[48 + 5 * 32 + 17] = 3;
    return contents;
}

TEST(Rebuild, AnUntouchedFolderGivesTheSameArchive) {
    const ArchiveImage image = LayOutArchive(LoopingContents());
    SparseSource archive(image);
    const sfs::DecodedImages decoded, withLoops(WavOptions{true, 0});
    const sfs::RawImages raw;
    for (const sfs::ImageOutput* images : {static_cast<const sfs::ImageOutput*>(&decoded),
                                           static_cast<const sfs::ImageOutput*>(&withLoops),
                                           static_cast<const sfs::ImageOutput*>(&raw)}) {
        const Files folder = Extract(archive, image, *images);
        DiffSink out(archive);
        const Rebuilt rebuilt = Rebuild(archive, image, folder, out);
        EXPECT_EQ(rebuilt.replaced, 0u);
        EXPECT_EQ(rebuilt.kept, 22u + 38 + 5 + 4);
        EXPECT_TRUE(out.committed && out.changed.empty() && out.size == archive.Size());
    }
}

TEST(Rebuild, EditedSoundsTakeTheirPlacesAndNothingElseChanges) {
    const ArchiveImage image = LayOutArchive(LoopingContents());
    SparseSource archive(image);
    const sfs::DecodedImages decoded;
    const Files original = Extract(archive, image, decoded);
    Files folder = original;
    const std::map<std::string, Bytes> edits = {
        {"SE_NONAME03.WAV", SineWav(0.002, 48000)},
        {"BGM04.WAV", SineWav(0.004, 44100, true)},
        {"SE_001.WAV", SineWav(0.004, 44100)},
        {"V_0000.WAV", SineWav(0.01, 22050)},
    };
    for (const auto& [name, wav] : edits) folder[name] = wav;
    folder.erase("V_0002.WAV");  // replaced by an image, as -x writes them
    folder["V_0002.VAG"] = MakeVagImage(EncodeAdpcm(Sine(200, 0.01, 22050, 9000)), 22050, "v", false);
    DiffSink out(archive);
    const Rebuilt rebuilt = Rebuild(archive, image, folder, out);
    ASSERT_EQ(rebuilt.replaced, 5u);
    EXPECT_EQ(rebuilt.kept, 22u + 38 + 5 + 4 - 5);
    for (const auto& [offset, byte] : out.changed) {
        EXPECT_TRUE(std::any_of(rebuilt.rooms.begin(), rebuilt.rooms.end(), [&, offset = offset](const auto& room) {
            const std::uint64_t bytes = room.roomUnits * (room.room == sfs::Replacement::Room::Track ? 32 : 16);
            return offset >= room.dataOffset && offset < room.dataOffset + bytes;
        })) << offset;
    }
    PatchedSource patched(archive, out.changed);
    Files again = Extract(patched, image, decoded);
    for (const auto& [name, wav] : original) {
        const Bytes& now = again[name];
        const auto edit = edits.find(name);
        if (edit == edits.end()) {
            EXPECT_TRUE(now == wav || name == "V_0002.WAV") << name;
            continue;
        }
        // The edited sound first, then silence.
        const Bytes& wanted = edit->second;
        ASSERT_GE(now.size(), wanted.size()) << name;
        double signal = 0, noise = 0;
        for (std::size_t at = 44; at + 1 < wanted.size(); at += 2) {
            const double x = std::int16_t(wanted[at] | wanted[at + 1] << 8);
            const double y = std::int16_t(now[at] | now[at + 1] << 8);
            signal += x * x, noise += (x - y) * (x - y);
        }
        EXPECT_GT(10 * std::log10(signal / noise), 30) << name;
    }
    // An image is taken as it is: its sound decodes exactly, up to and with its end block.
    const Bytes& vag = folder["V_0002.VAG"];
    MemorySource vagSource(vag.data(), vag.size());
    MemorySink vagWav;
    ASSERT_EQ(ConvertLooseImage(vagSource, vagWav, "v"), ResultCode::Ok);
    EXPECT_TRUE(again["V_0002.WAV"] == vagWav.files["v"]);
    // A new sound that cannot be put in place fails the whole archive.
    DiffSink failing(archive);
    failing.failRewrites = true;
    EXPECT_EQ(sfs::WriteRebuiltArchive(archive, rebuilt.rooms, MemoryFolder(folder), failing,
                                       "SOUND.SFS"),
              ResultCode::WriteFailed);
    EXPECT_FALSE(failing.committed);
}

TEST(Rebuild, WhatDoesNotFitIsRefusedAndNothingIsWritten) {
    const ArchiveImage image = LayOutArchive(MakeArchiveContents());
    SparseSource archive(image);
    const Files original = Extract(archive, image, sfs::DecodedImages());
    Bytes eightBit = SineWav(0.001, 44100);
    eightBit[34] = 8;
    // An effect one sample longer than its room without its end block: a block too many.
    Bytes tooLong = original.at("SE_NONAME05.WAV");
    const std::size_t blocks = (tooLong.size() - 44) / 56;
    tooLong.resize(44 + 2 * ((blocks - 1) * 28 + 1));
    tooLong[44] ^= 1;
    for (const std::size_t at : {std::size_t{4}, std::size_t{40}}) {
        const std::uint32_t size = static_cast<std::uint32_t>(tooLong.size() - (at == 4 ? 8 : 44));
        for (int i = 0; i < 4; ++i) tooLong[at + i] = static_cast<std::uint8_t>(size >> 8 * i);
    }
    char boundary[160];
    std::snprintf(boundary, sizeof(boundary),
                  "SE_NONAME05.WAV: lasts %.3f s: at most %.3f s fit in its place (if it was "
                  "extracted with -loops, extract it again without)",
                  blocks * 28 / 48000.0, (blocks - 1) * 28 / 48000.0);
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"BGM04.WAV", SineWav(2, 44100, true)},
        {"SE_001.WAV", SineWav(0.001, 44100, true)},
        {"SE_NONAME03.WAV", SineWav(0.001, 44100)},
        {"SE_NONAME05.WAV", tooLong},
        {"V_0001.WAV", eightBit},
        {"V_0002.WAV", Bytes{'R', 'I', 'F', 'F'}},
    };
    const std::vector<std::string> reasons = {  // in the order of an extraction
        "SE_NONAME03.WAV: plays at 44100 Hz, where the original plays at 48000 Hz: resample it",
        boundary,
        "BGM04.WAV: lasts 2.001 s: at most 0.013 s fit in its place (if it was extracted with "
        "-loops, extract it again without)",
        "SE_001.WAV: stereo, where the original is mono",
        "V_0001.WAV: 8-bit PCM: save it as 16-bit PCM",
        "V_0002.WAV: not a WAV file",
    };
    Files folder = original;
    for (const auto& [name, wav] : cases) folder[name] = wav;
    DiffSink out(archive);
    const Rebuilt rebuilt = Rebuild(archive, image, folder, out);
    EXPECT_EQ(rebuilt.refusals.lines, reasons);
    EXPECT_FALSE(out.committed);
    for (const auto& [name, wav] : cases) {  // each refusal alone is enough
        Files one = original;
        one[name] = wav;
        DiffSink alone(archive);
        EXPECT_EQ(Rebuild(archive, image, one, alone).refusals.lines.size(), 1u) << name;
        EXPECT_FALSE(alone.committed) << name;
    }
}

}  // namespace
}  // namespace sorvik::testing
