// A whole archive, built sparsely from the input, extracted in memory (SfsExtractor::ExtractAll)
// raw or decoded; README.md tells the input's layout and what is checked.

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>
#include <tuple>

#include "codec/adpcm.h"
#include "fuzz/harness.h"
#include "sfs/layout.h"
#include "sfs/sfs_extractor.h"

namespace {

using namespace sorvik;
using fuzz::Bytes;
using fuzz::Expect;

struct SparseArchive final : ByteSource {
    std::vector<std::tuple<std::uint64_t, const std::uint8_t*, std::size_t>> chunks;  // where, what
    std::uint64_t end = 0, budget = 2 << 20;

    std::uint64_t Size() const override { return end; }
    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t count) override {
        if (!Holds(offset, count) || count > budget) return false;
        budget -= count;
        std::memset(bytes, 0, count);
        for (const auto& [at, chunk, size] : chunks) {
            const std::uint64_t from = std::max(at, offset);
            const std::uint64_t to = std::min(at + size, offset + count);
            if (from >= to) continue;
            std::memcpy(static_cast<std::uint8_t*>(bytes) + (from - offset), chunk + (from - at),
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

// Whether a raw output of section `section` is what the archive holds: for an effect (section 0),
// a header and the sound at `effectAt`, which moves past it; else a copy from a chunk's start.
bool FromArchive(SparseArchive& archive, const Bytes& file, int section, std::uint64_t& effectAt) {
    Bytes copy(file.size() - (section == 0 ? std::min<std::size_t>(file.size(), 48) : 0));
    if (section == 0) {
        const bool same = !copy.empty() && archive.ReadAt(effectAt, copy.data(), copy.size()) &&
                          std::memcmp(file.data(), "VAGp", 4) == 0 &&
                          LoadLe32(&file[4]) == copy.size() && LoadBe32(&file[12]) == copy.size() &&
                          std::equal(copy.begin(), copy.end(), &file[48]);
        effectAt += copy.size();
        return same;
    }
    for (const auto& chunk : archive.chunks) {
        const bool read = archive.ReadAt(std::get<0>(chunk), copy.data(), copy.size());
        if (read && copy == file) return true;
    }
    return false;
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
            archive.chunks.emplace_back(offsets[r] + at / spread * sfs::kSectorSize, &pieces[r][at],
                                        length);
            archive.end = std::get<0>(archive.chunks.back()) + length;
        }
    }
    const bool decode = data[0] & 1;
    const sfs::RawImages raw;
    const sfs::DecodedImages decoded;
    const SectionMask sections[] = {Section::kAll, Section::kSe, Section::kVoice, Section::kBgm};
    testing::MemorySink sink;
    testing::RecordingReporter reporter;
    const FailurePolicy policy =
        data[0] & 0x40 ? FailurePolicy::KeepGoing : FailurePolicy::StopAtFirst;
    sfs::SfsExtractor extractor(decode ? static_cast<const sfs::ImageOutput&>(decoded) : raw,
                                sections[data[0] >> 1 & 3], sink, reporter, policy);
    const ResultCode result =
        extractor.ExtractAll(archive, "GAME.SFS", IndexPieces(pieces + 4, data[0] >> 3 & 3));
    Expect(result == ResultCode::Ok ||
               (policy == FailurePolicy::StopAtFirst &&
                (result == ResultCode::ReadFailed || result == ResultCode::UnknownFormat)),
           "unexpected result " + std::to_string(static_cast<int>(result)));

    archive.budget = ~std::uint64_t{0};
    std::set<std::string> reported;
    int section = -1;
    unsigned long count = 0, written = 0;
    std::uint64_t effectAt = sfs::kEffectsBlockOffset;
    for (const std::string& event : reporter.events) {
        const std::string name = event.substr(std::min<std::size_t>(event.size(), 6));
        if (event.rfind("section ", 0) == 0) {
            section = event[8] - '0';
            count = written = 0;
        } else if (event.rfind("wrote ", 0) == 0) {
            fuzz::ExpectBareSafeName(name);
            Expect(name != "GAME.SFS" && name != sfs::kSeIndexName &&
                       name != sfs::kVoiceIndexName && reported.insert(name).second &&
                       sink.files.count(name) == 1,
                   "named like an input, reported twice or not written: " + name);
            if (decode) fuzz::ExpectWav(sink.files[name], section == 1 ? 2 : 1, name);
            Expect(decode || FromArchive(archive, sink.files[name], section, effectAt),
                   "not from the archive: " + name);
            ++written;
        } else if (event == "end") {
            Expect(result != ResultCode::Ok || extractor.FailuresPassed() > 0 || written == count,
                   "Ok without every sound, and no failure reported");
        } else if (std::isdigit(static_cast<unsigned char>(event[0]))) {
            count = std::stoul(event.substr(event.find('/') + 1));
        }
    }
    Expect(reported.size() == sink.files.size(), "an output written but not reported");
    return 0;
}
