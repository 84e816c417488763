// Rebuilding an archive from the folder an extraction wrote, in memory through RebuildArchive:
// an untouched folder writes nothing; edited sounds, found under every name an extraction gives
// them, take their places and read back, and only their rooms change; what cannot take its place
// is refused, and then nothing is written.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "codec/batch.h"
#include "sfs/rebuild.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/memory_io.h"

namespace sorvik::testing {
namespace {

using Files = std::map<std::string, Bytes>;
const Bytes kCannotOpen = {'?'}, kCannotRead = {'!'};  // files that stand in the folder as such

struct Unreadable final : ByteSource {
    std::uint64_t Size() const override { return 100; }
    bool ReadAt(std::uint64_t, void*, std::size_t) override { return false; }
};

class MemoryFolder final : public sfs::FolderFiles {
  public:
    explicit MemoryFolder(const Files& files) : files_(files) {}
    std::vector<std::string> Names() const override {
        std::vector<std::string> names;
        for (const auto& file : files_) names.push_back(file.first);
        return names;
    }
    std::unique_ptr<ByteSource> Open(const std::string& name) const override {
        const auto file = files_.find(name);
        if (file == files_.end() || file->second == kCannotOpen) return nullptr;
        if (file->second == kCannotRead) return std::make_unique<Unreadable>();
        return std::make_unique<MemorySource>(file->second.data(), file->second.size());
    }

  private:
    const Files& files_;
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

// Takes an archive as it is written and keeps only the bytes that differ from `original`.
class DiffSink final : public OutputSink {
  public:
    explicit DiffSink(ByteSource& original) : original_(original) {}
    std::map<std::uint64_t, std::uint8_t> changed;
    std::uint64_t size = 0;
    bool committed = false;
    // What befalls each write over bytes already written.
    enum class Fault { None, FailRewrites, CorruptRewrites } fault = Fault::None;

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
            const auto* begin = static_cast<const std::uint8_t*>(bytes);
            Bytes copy(begin, begin + count);
            copy[0] ^= sink.fault == Fault::CorruptRewrites;
            return sink.fault != Fault::FailRewrites && Compare(offset, copy.data(), count);
        }
        bool ReadBack(std::uint64_t offset, void* bytes, std::size_t count) override {
            return offset + count <= sink.size &&
                   PatchedSource(sink.original_, sink.changed).ReadAt(offset, bytes, count);
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

struct Report final : sfs::RebuildReport {
    std::vector<std::string> lines;
    void Refused(const std::string& name, const std::string& reason) override {
        lines.push_back(name + ": " + reason);
    }
    void NothingDiffers() override { lines.push_back("no sound differs"); }
    void Placing(unsigned number, unsigned count) override {
        lines.push_back(std::to_string(number) + "/" + std::to_string(count));
    }
    void NotAsWritten(const std::string& name) override { lines.push_back(name + ": not as written"); }
    void IndexMissing(const std::string& path) override { lines.push_back("missing " + path); }
};

Files Extract(ByteSource& archive, const ArchiveImage& image, const sfs::ImageOutput& images) {
    MemorySink sink;
    RecordingReporter reporter;
    sfs::SfsExtractor(images, Section::kAll, sink, reporter, FailurePolicy::KeepGoing)
        .ExtractAll(archive, "SOUND.SFS", ArchiveIndexFiles(image));
    return sink.files;
}

struct Rebuilt {
    sfs::RebuildResult result;
    Report report;
};

Rebuilt Rebuild(ByteSource& archive, const ArchiveImage& image, const Files& folder, DiffSink& out) {
    Rebuilt rebuilt, serial;  // the next WAV file encoded side by side, and not
    DiffSink alone(archive);
    alone.fault = out.fault;
    rebuilt.result = sfs::RebuildArchive(archive, "SOUND.SFS", ArchiveIndexFiles(image),
                                         MemoryFolder(folder), Section::kAll, out, rebuilt.report,
                                         SecondThread::Always);
    serial.result = sfs::RebuildArchive(archive, "SOUND.SFS", ArchiveIndexFiles(image),
                                        MemoryFolder(folder), Section::kAll, alone, serial.report,
                                        SecondThread::Never);
    EXPECT_EQ(out.committed, rebuilt.result.outcome == sfs::RebuildResult::Outcome::Written);
    EXPECT_TRUE(serial.result.outcome == rebuilt.result.outcome && alone.size == out.size &&
                alone.changed == out.changed && alone.committed == out.committed);
    EXPECT_EQ(serial.report.lines, rebuilt.report.lines);
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

// The WAV file with its samples halved: as long as it was, and quieter.
Bytes Quieter(Bytes wav) {
    for (std::size_t at = 44; at + 1 < wav.size(); at += 2) {
        const auto half = static_cast<std::uint16_t>(std::int16_t(wav[at] | wav[at + 1] << 8) / 2);
        wav[at] = static_cast<std::uint8_t>(half), wav[at + 1] = static_cast<std::uint8_t>(half >> 8);
    }
    return wav;
}

// A track with a loop (for -loop's smpl chunks), bank entries named as indexes may name them, a
// voice whose size field is 0, and two voices that share one image (the first's span is 0).
ArchiveContents Contents() {
    ArchiveContents contents = MakeArchiveContents();
    Bytes& track = contents.tracks[3].image;
    track[48 + 2 * 32 + 1] = track[48 + 2 * 32 + 17] = 6;
    track[48 + 5 * 32 + 1] = track[48 + 5 * 32 + 17] = 3;
    contents.seBank.entries[0].SetName("se_a00.vag");
    contents.seBank.entries[1].SetName("SE_A01");
    contents.seBank.entries[2].SetName("SE_A02.WAV");  // -x writes an image of that name
    for (const int at : {4, 12}) std::fill_n(contents.voiceBank.entries[1].image.begin() + at, 4, 0);
    contents.voiceBank.entries[2].span = 0;
    return contents;
}

TEST(Rebuild, AFolderWithoutAnEditWritesNothing) {
    const ArchiveImage image = LayOutArchive(Contents());
    SparseSource archive(image);
    const sfs::DecodedImages decoded, withLoops(WavOptions{true, 0});
    const sfs::RawImages raw;
    for (const sfs::ImageOutput* images : {static_cast<const sfs::ImageOutput*>(&decoded),
                                           static_cast<const sfs::ImageOutput*>(&withLoops),
                                           static_cast<const sfs::ImageOutput*>(&raw)}) {
        DiffSink out(archive);
        const Rebuilt rebuilt = Rebuild(archive, image, Extract(archive, image, *images), out);
        EXPECT_EQ(rebuilt.result.outcome, sfs::RebuildResult::Outcome::NothingDiffers);
        EXPECT_EQ(rebuilt.result.kept, 22u + 38 + 5 + 4);
        EXPECT_EQ(rebuilt.report.lines, std::vector<std::string>{"no sound differs"});
    }
}

TEST(Rebuild, EditsUnderEveryNameTakeTheirRoomsAndReadBack) {
    const ArchiveImage image = LayOutArchive(Contents());
    SparseSource archive(image);
    const sfs::DecodedImages decoded;
    const Files original = Extract(archive, image, decoded);
    Files folder = Extract(archive, image, sfs::RawImages());
    folder.insert(original.begin(), original.end());
    folder.erase("BGM10.WAV");
    Bytes bankImage = MakeVagImage(EncodeAdpcm(Sine(200, 0.001, 44100, 9000)), 44100, "v", false);
    bankImage[7] = 0x20;  // the SDK tools' header form (version 0x20 at 4)
    // The name the sound is extracted as, the file of the edit, what it holds.
    const std::vector<std::tuple<std::string, std::string, Bytes>> edits = {
        {"SE_NONAME03.WAV", "SE_NONAME03.WAV", SineWav(0.002, 48000)},
        {"SE_NONAME05.WAV", "SE_NONAME05.WAV", Quieter(original.at("SE_NONAME05.WAV"))},
        {"BGM10.WAV", "bgm10.wav", SineWav(0.004, 44100, true)},
        {"se_a00.WAV", "se_a00.vag", bankImage},  // the names -x gives
        {"SE_A01.WAV", "SE_A01", bankImage},
        {"SE_004.WAV", "SE_004.WAV", Quieter(original.at("SE_004.WAV"))},
        {"V_0000.WAV", "V_0000.WAV", SineWav(0.01, 22050)},
        {"V_0002.WAV", "V_0002.WAV", SineWav(0.02, 22050)},
        {"V_0003.WAV", "V_0003.WAV", SineWav(0.02, 22050)},  // one room, one edit
    };
    for (const auto& [extracted, name, bytes] : edits) folder[name] = bytes;
    DiffSink out(archive);
    const Rebuilt rebuilt = Rebuild(archive, image, folder, out);
    std::vector<std::string> replaced;
    for (const sfs::Replacement& room : rebuilt.result.replaced) replaced.push_back(room.name);
    EXPECT_EQ(replaced, (std::vector<std::string>{"SE_NONAME03.WAV", "SE_NONAME05.WAV", "bgm10.wav",
                                                  "se_a00.vag", "SE_A01", "SE_004.WAV",
                                                  "V_0000.WAV", "V_0002.WAV"}));
    EXPECT_EQ(rebuilt.result.kept, 22u + 38 + 5 + 4 - 9);
    EXPECT_EQ(rebuilt.report.lines,
              (std::vector<std::string>{"1/8", "2/8", "3/8", "4/8", "5/8", "6/8", "7/8", "8/8"}));
    for (const auto& [offset, byte] : out.changed) {
        const auto& rooms = rebuilt.result.replaced;
        EXPECT_TRUE(std::any_of(rooms.begin(), rooms.end(), [&, offset = offset](const auto& room) {
            const std::uint64_t bytes = room.roomUnits * (room.room == sfs::Replacement::Room::Track ? 32 : 16);
            return offset >= room.dataOffset && offset < room.dataOffset + bytes;
        })) << offset;
    }
    PatchedSource patched(archive, out.changed);
    Files again = Extract(patched, image, decoded);
    for (const auto& [name, wav] : original) {
        const Bytes& now = again[name];
        const auto edit = std::find_if(edits.begin(), edits.end(),
                                       [&, name = name](const auto& e) { return std::get<0>(e) == name; });
        if (edit == edits.end()) {
            EXPECT_TRUE(now == wav) << name;
        } else if (std::get<2>(*edit) == bankImage) {  // an image decodes exactly, with its end block
            MemorySource vag(bankImage.data(), bankImage.size());
            MemorySink loose;
            ASSERT_EQ(ConvertLooseImage(vag, loose, "v"), ResultCode::Ok);
            EXPECT_TRUE(now == loose.files["v"]) << name;
        } else {  // the edited sound first, then silence; a mono sound edited in place fits it
            const Bytes& wanted = std::get<2>(*edit);
            ASSERT_GE(now.size(), wanted.size()) << name;
            EXPECT_TRUE(wav.size() != wanted.size() || now.size() == wanted.size()) << name;
            double signal = 0, noise = 0;
            for (std::size_t at = 44; at + 1 < wanted.size(); at += 2) {
                const double x = std::int16_t(wanted[at] | wanted[at + 1] << 8);
                const double y = std::int16_t(now[at] | now[at + 1] << 8);
                signal += x * x, noise += (x - y) * (x - y);
            }
            EXPECT_GT(10 * std::log10(signal / noise), 30) << name;
        }
    }
    // A new sound that cannot be put in place, or does not read back so, fails the archive.
    for (const auto fault : {DiffSink::Fault::FailRewrites, DiffSink::Fault::CorruptRewrites}) {
        DiffSink failing(archive);
        failing.fault = fault;
        const Rebuilt failed = Rebuild(archive, image, folder, failing);
        EXPECT_EQ(failed.result.outcome, sfs::RebuildResult::Outcome::WriteFailed);
        EXPECT_EQ(failed.report.lines.back(), fault == DiffSink::Fault::FailRewrites
                                                  ? "1/8"
                                                  : "SE_NONAME03.WAV: not as written");
    }
}

TEST(Rebuild, WhatCannotTakeItsPlaceIsRefusedAndNothingIsWritten) {
    const ArchiveImage image = LayOutArchive(Contents());
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
    char boundary[200];
    std::snprintf(boundary, sizeof(boundary),
                  "SE_NONAME05.WAV: lasts %.3f s (%zu samples): at most %.3f s (%zu samples) fit "
                  "in its place (if it was extracted with -loops, extract it again without)",
                  ((blocks - 1) * 28 + 1) / 48000.0, (blocks - 1) * 28 + 1,
                  (blocks - 1) * 28 / 48000.0, (blocks - 1) * 28);
    const std::vector<std::pair<Files, std::string>> cases = {  // in the order of the walk
        {{{"SE_NONAME03.WAV", SineWav(0.001, 44100)}},
         "SE_NONAME03.WAV: plays at 44100 Hz, where the original plays at 48000 Hz: resample it"},
        {{{"SE_NONAME05.WAV", tooLong}}, boundary},
        {{{"BGM04.WAV", SineWav(2, 44100, true)}},
         "BGM04.WAV: lasts 2.001 s (88228 samples): at most 0.013 s (588 samples) fit in its "
         "place (if it was extracted with -loops, extract it again without)"},
        {{{"BGM06.WAV", kCannotOpen}}, "BGM06.WAV: can't open it"},
        {{{"BGM07.WAV", SineWav(0.003, 44100, true)}, {"bgm07.wav", SineWav(0.004, 44100, true)}},
         "BGM07.WAV and bgm07.wav: two different edits of one sound: keep one"},
        {{{"SE_A01.WAV", SineWav(0.001, 44100, true)}}, "SE_A01.WAV: stereo, where the original is mono"},
        {{{"SE_A02.WAV", eightBit}}, "SE_A02.WAV: 8-bit PCM: save it as 16-bit PCM"},
        {{{"SE_003.WAV", Bytes{'R', 'I', 'F', 'F'}}}, "SE_003.WAV: not a WAV file"},
        {{{"V_0000.WAV", kCannotRead}}, "V_0000.WAV: can't read it"},
        {{{"V_0001.WAV", SineWav(0.001, 22050)}},
         "V_0001.WAV: the sound it would replace in the archive is not one sorvik reads"},
        {{{"V_0002.WAV", SineWav(0.01, 22050)}, {"V_0003.WAV", SineWav(0.02, 22050)}},
         "V_0002.WAV and V_0003.WAV: two different edits of one sound that several entries "
         "share: keep one"},
    };
    Files folder = original;
    std::vector<std::string> reasons;
    for (const auto& [files, reason] : cases) {
        for (const auto& file : files) folder[file.first] = file.second;
        reasons.push_back(reason);
    }
    DiffSink out(archive);
    EXPECT_EQ(Rebuild(archive, image, folder, out).report.lines, reasons);
    for (const auto& [files, reason] : cases) {  // each refusal alone is enough
        Files one = original;
        for (const auto& file : files) one[file.first] = file.second;
        DiffSink alone(archive);
        const Rebuilt rebuilt = Rebuild(archive, image, one, alone);
        EXPECT_EQ(rebuilt.report.lines, std::vector<std::string>{reason});
        EXPECT_EQ(rebuilt.result.outcome, sfs::RebuildResult::Outcome::NothingWritten);
    }
}

}  // namespace
}  // namespace sorvik::testing
