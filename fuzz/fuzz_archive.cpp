// A whole archive, built sparsely from the input, extracted in memory (SfsExtractor::ExtractAll)
// raw or decoded; README.md tells the input's layout and what is checked.

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <tuple>

#include "codec/adpcm.h"
#include "common/output_names.h"
#include "fuzz/harness.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace {

using namespace sorvik;
using fuzz::Expect;
using testing::Bytes;

struct SparseArchive final : ByteSource {
    std::vector<std::tuple<std::uint64_t, const std::uint8_t*, std::size_t>> chunks;  // where, what
    std::uint64_t end = 0, budget = 2 << 20;

    std::uint64_t Size() const override { return end; }
    bool ReadAt(std::uint64_t where, void* out, std::size_t count) override {
        if (!Holds(where, count) || count > budget) return false;
        budget -= count;
        std::memset(out, 0, count);
        for (const auto& [at, bytes, size] : chunks) {
            const std::uint64_t from = std::max(at, where), to = std::min(at + size, where + count);
            if (from >= to) continue;
            std::memcpy(static_cast<std::uint8_t*>(out) + (from - where), bytes + (from - at),
                        to - from);
        }
        return true;
    }
};

struct IndexPieces final : sfs::IndexFiles {
    IndexPieces(const Bytes* pieces, unsigned missing) : pieces(pieces), missing(missing) {}
    std::string PathOf(const char* name) const override { return name; }
    std::unique_ptr<ByteSource> Open(const char* name) const override {
        const bool voice = std::strcmp(name, sfs::kVoiceIndexName) == 0;
        if (missing >> voice & 1) return nullptr;
        return std::make_unique<MemorySource>(pieces[voice].data(), pieces[voice].size());
    }
    const Bytes* pieces;  // the effect index, then the voice index
    unsigned missing;     // bit 0: the effect index; bit 1: the voice index
};

// A name that, created in the destination folder, is a new file of that folder and nothing else:
// no separator, drive or control byte, not only dots, not an input's nor a temporary file's.
bool IsSafeNewName(const std::string& name) {
    const auto unsafe = [](unsigned char c) { return c < 0x20 || std::strchr("/\\:", c); };
    return std::none_of(name.begin(), name.end(), unsafe) &&
           name.find_first_not_of('.') != std::string::npos && name != "GAME.SFS" &&
           name != sfs::kSeIndexName && name != sfs::kVoiceIndexName &&
           name.rfind(kTemporaryNamePrefix, 0) != 0;
}

// A WAV file of 16-bit PCM in `channels` channels, in whole frames, whose RIFF and data sizes
// count exactly its bytes.
bool IsWav(const Bytes& wav, unsigned channels) {
    const std::uint8_t* bytes = wav.data();
    return wav.size() >= 44 && std::memcmp(bytes, "RIFF", 4) == 0 &&
           std::memcmp(bytes + 8, "WAVEfmt ", 8) == 0 && std::memcmp(bytes + 36, "data", 4) == 0 &&
           LoadLe32(bytes + 4) == wav.size() - 8 && LoadLe32(bytes + 40) == wav.size() - 44 &&
           LoadLe16(bytes + 22) == channels && (wav.size() - 44) % (2 * channels) == 0;
}

// Whether a raw output is what the archive holds: a copy from a chunk's start or, for an effect,
// a header counting the sound at `effectAt` (which moves past it), then that sound; never empty.
bool FromArchive(SparseArchive& archive, const Bytes& file, bool effect, std::uint64_t& effectAt) {
    Bytes copy(file.size() - (effect ? std::min<std::size_t>(file.size(), 48) : 0));
    if (copy.empty()) return false;
    if (!effect) {
        return std::any_of(archive.chunks.begin(), archive.chunks.end(), [&](const auto& chunk) {
            return archive.ReadAt(std::get<0>(chunk), copy.data(), copy.size()) && copy == file;
        });
    }
    effectAt += copy.size();
    return archive.ReadAt(effectAt - copy.size(), copy.data(), copy.size()) &&
           std::memcmp(file.data(), "VAGp", 4) == 0 && LoadLe32(&file[4]) == copy.size() &&
           LoadBe32(&file[12]) == copy.size() && std::equal(copy.begin(), copy.end(), &file[48]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Bytes pieces[6];
    for (std::size_t p = 0, at = 1; p < 6 && size - at >= 2; at += 2 + pieces[p++].size()) {
        pieces[p].assign(data + at + 2,
                         data + at + 2 + std::min<std::size_t>(LoadLe16(data + at), size - at - 2));
    }
    // Unless bit 5 is set, 22 end blocks follow the effects, so a sound left open ends there.
    for (int i = 0; i < 22 && !(data[0] & 0x20); ++i) {
        pieces[0].resize((pieces[0].size() + 15) / 16 * 16 + 16);
        pieces[0][pieces[0].size() - 15] = kEndBlockFlag;
    }
    SparseArchive archive;
    const std::uint64_t offsets[] = {sfs::kEffectsBlockOffset, sfs::kBgmOffset, sfs::kSeBankOffset,
                                     sfs::kVoiceBankOffset};
    for (int r = 0; r < 4; ++r) {
        const std::size_t spread = r == 0 ? pieces[0].size() : 128;
        for (std::size_t at = 0; at < pieces[r].size(); at += spread) {
            const std::size_t length = std::min(spread, pieces[r].size() - at);
            archive.end = offsets[r] + at / spread * sfs::kSectorSize + length;
            archive.chunks.emplace_back(archive.end - length, &pieces[r][at], length);
        }
    }
    const bool decode = data[0] & 1, keepGoing = data[0] & 0x40;
    const sfs::RawImages raw;
    const sfs::DecodedImages decoded;
    const SectionMask sections[] = {Section::kAll, Section::kSe, Section::kVoice, Section::kBgm};
    testing::MemorySink sink;
    testing::RecordingReporter reporter;
    sfs::SfsExtractor extractor(decode ? static_cast<const sfs::ImageOutput&>(decoded) : raw,
                                sections[data[0] >> 1 & 3], sink, reporter,
                                keepGoing ? FailurePolicy::KeepGoing : FailurePolicy::StopAtFirst);
    const ResultCode result =
        extractor.ExtractAll(archive, "GAME.SFS", IndexPieces(pieces + 4, data[0] >> 3 & 3));
    Expect(result == ResultCode::Ok || (!keepGoing && (result == ResultCode::ReadFailed ||
                                                       result == ResultCode::UnknownFormat)),
           "unexpected result " + std::to_string(static_cast<int>(result)));

    archive.budget = ~std::uint64_t{0};
    auto unreported = std::move(sink.files);
    int section = -1;
    unsigned long count = 0, written = 0;
    std::uint64_t effectAt = sfs::kEffectsBlockOffset;
    for (const std::string& event : reporter.events) {
        const std::string name = event.substr(std::min<std::size_t>(event.size(), 6));
        if (event.rfind("section ", 0) == 0) {
            section = event[8] - '0';
            count = written = 0;
        } else if (event.rfind("wrote ", 0) == 0) {
            const auto file = unreported.extract(name);
            Expect(!file.empty() && IsSafeNewName(name), "unsafe, twice or unwritten: " + name);
            Expect(decode ? IsWav(file.mapped(), section == 1 ? 2 : 1)
                          : FromArchive(archive, file.mapped(), section == 0, effectAt),
                   "not a whole WAV file, or not from the archive: " + name);
            ++written;
        } else if (event == "end") {
            Expect(result != ResultCode::Ok || extractor.FailuresPassed() > 0 || written == count,
                   "Ok without every sound, and no failure reported");
        } else if (std::isdigit(static_cast<unsigned char>(event[0]))) {
            count = std::stoul(event.substr(event.find('/') + 1));
        }
    }
    Expect(unreported.empty(), "an output written but not reported");

    // Listed, after an extraction that wrote everything: every output under its name, in order.
    if (result != ResultCode::Ok || extractor.FailuresPassed() > 0) return 0;
    struct Names final : SoundCatalog {
        std::vector<std::string> listed;
        void Listed(const std::string& name, const SoundPlace&, const SoundFacts&,
                    ResultCode) override {
            listed.push_back(name);
        }
    } catalog;
    testing::MemorySink names;
    testing::RecordingReporter listingReporter;
    const sfs::ListedImages listed(decode ? static_cast<const sfs::ImageOutput&>(decoded) : raw,
                                   catalog);
    sfs::SfsExtractor lister(listed, sections[data[0] >> 1 & 3], names, listingReporter,
                             FailurePolicy::KeepGoing);
    lister.ExtractAll(archive, "GAME.SFS", IndexPieces(pieces + 4, data[0] >> 3 & 3));
    std::vector<std::string> outputs;
    for (const std::string& event : reporter.events) {
        if (event.rfind("wrote ", 0) == 0) outputs.push_back(event.substr(6));
    }
    Expect(catalog.listed == outputs && names.started == 0, "listed otherwise than written");
    return 0;
}
