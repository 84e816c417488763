#include "codec/wav_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "common/heap_buffer.h"

namespace sorvik {
namespace {

constexpr std::size_t kRiffHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::uint32_t kPlainFmtSize = 16;
constexpr std::uint32_t kExtensibleFmtSize = 40;
constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatFloat = 0x0003;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// An extensible format's subformat is a GUID that starts with the format code (LE 16 bits);
// for every registered code the other 14 bytes are these.
constexpr std::uint8_t kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// "smpl": 36 bytes, the loop count at 28, then 24 bytes per loop: its type at 4 (0: forward),
// its first frame at 8 and its last at 12.
constexpr std::uint32_t kSmplHeaderSize = 36;
constexpr std::uint32_t kSmplLoopCountOffset = 28;
constexpr std::uint32_t kSmplLoopSize = 24;

bool IsId(const std::uint8_t* bytes, const char (&id)[5]) { return HasMagic(bytes, id); }

// The fields of "fmt " that matter here.
struct Format {
    std::uint16_t tag = 0;  // the subformat's code for an extensible format
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bits = 0;
    bool registered = true;  // false: an extensible format with a GUID of its own
};

Format ParseFormat(const std::uint8_t* fmt, std::uint32_t size) {
    Format format;
    format.tag = LoadLe16(fmt);
    format.channels = LoadLe16(fmt + 2);
    format.sampleRate = LoadLe32(fmt + 4);
    format.bits = LoadLe16(fmt + 14);
    if (format.tag == kFormatExtensible && size >= kExtensibleFmtSize) {
        format.tag = LoadLe16(fmt + 24);
        format.registered = std::memcmp(fmt + 26, kSubformatTail, sizeof kSubformatTail) == 0;
    }
    return format;
}

std::string FormatName(const Format& format) {
    if (!format.registered) return "an extensible format of its own";
    if (format.tag == kFormatPcm) return std::to_string(format.bits) + "-bit PCM";
    if (format.tag == kFormatFloat) return std::to_string(format.bits) + "-bit float";
    struct Known {
        std::uint16_t tag;
        const char* name;
    };
    static constexpr Known kKnown[] = {{0x0002, "MS ADPCM"},
                                       {0x0006, "A-law"},
                                       {0x0007, "mu-law"},
                                       {0x0011, "IMA ADPCM"},
                                       {0x0055, "MPEG layer 3"}};
    char code[32];
    std::snprintf(code, sizeof code, "format 0x%04X", static_cast<unsigned>(format.tag));
    for (const Known& known : kKnown) {
        if (known.tag == format.tag) return std::string(known.name) + " (" + code + ")";
    }
    return code;
}

// Why the encoder does not take `format`, or "" when it does.
std::string Refusal(const Format& format) {
    std::string why;
    if (!format.registered || format.tag != kFormatPcm || format.bits != 16) {
        why = FormatName(format);
    }
    if (format.channels > 2) {
        why += (why.empty() ? "" : ", ") + std::to_string(format.channels) + " channels";
    }
    return why;
}

// The first forward loop of a "smpl" chunk of `size` bytes at `offset`, as read.
ResultCode ReadFirstForwardLoop(ByteSource& source, std::uint64_t offset, std::uint32_t size,
                                std::optional<WavLoop>& loop) {
    if (size < kSmplHeaderSize) return ResultCode::Ok;
    std::uint8_t count[4];
    if (!source.ReadAt(offset + kSmplLoopCountOffset, count, 4)) return ResultCode::ReadFailed;
    const std::uint32_t loops = std::min(LoadLe32(count), (size - kSmplHeaderSize) / kSmplLoopSize);
    for (std::uint32_t i = 0; i < loops; ++i) {
        std::uint8_t entry[kSmplLoopSize];
        if (!source.ReadAt(offset + kSmplHeaderSize + std::uint64_t{i} * kSmplLoopSize, entry,
                           kSmplLoopSize)) {
            return ResultCode::ReadFailed;
        }
        if (LoadLe32(entry + 4) == 0) {
            loop = WavLoop{LoadLe32(entry + 8), LoadLe32(entry + 12)};
            break;
        }
    }
    return ResultCode::Ok;
}

// The chunk headers of a RIFF form up to `limit`, read a window of up to 64 KiB at a time, so
// that a run of small chunks costs one read per window and not one per chunk (a body of zeros
// reads as empty chunks: no id, size 0).
class ChunkHeaders {
  public:
    static constexpr std::size_t kWindowSize = 64 * 1024;

    ChunkHeaders(ByteSource& source, std::uint64_t limit) : source_(source), limit_(limit) {}

    bool Allocate() {
        return window_.Grow(static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, limit_)));
    }
    // The header of the chunk at `offset`, whose 8 bytes lie before the limit; nullptr when the
    // source failed to read.
    const std::uint8_t* At(std::uint64_t offset) {
        if (offset < start_ || offset - start_ + kChunkHeaderSize > held_) {
            start_ = offset;
            held_ =
                static_cast<std::size_t>(std::min<std::uint64_t>(window_.Size(), limit_ - offset));
            if (!source_.ReadAt(offset, window_.Data(), held_)) {
                held_ = 0;
                return nullptr;
            }
        }
        return window_.Data() + (offset - start_);
    }

  private:
    ByteSource& source_;
    std::uint64_t limit_;
    HeapBuffer window_;
    std::uint64_t start_ = 0;  // of the bytes held
    std::size_t held_ = 0;
};

}  // namespace

ResultCode ReadWavInfo(ByteSource& source, WavInfo& info, WavRefusal& refusal) {
    info = WavInfo{};
    refusal.format.clear();
    std::uint8_t riff[kRiffHeaderSize];
    if (!source.Holds(0, kRiffHeaderSize)) return ResultCode::UnknownFormat;
    if (!source.ReadAt(0, riff, sizeof riff)) return ResultCode::ReadFailed;
    if (!IsId(riff, "RIFF") || !IsId(riff + 8, "WAVE")) return ResultCode::UnknownFormat;
    const std::uint64_t limit =
        std::min<std::uint64_t>(source.Size(), 8 + std::uint64_t{LoadLe32(riff + 4)});

    std::array<std::uint8_t, kExtensibleFmtSize> fmt{};
    std::optional<std::uint32_t> fmtSize;
    std::optional<std::uint32_t> dataSize;
    std::optional<WavLoop> loop;
    bool smplSeen = false;
    ChunkHeaders headers(source, limit);
    if (!headers.Allocate()) return ResultCode::OutOfMemory;
    for (std::uint64_t offset = kRiffHeaderSize;
         offset < limit && limit - offset >= kChunkHeaderSize;) {
        const std::uint8_t* header = headers.At(offset);
        if (header == nullptr) return ResultCode::ReadFailed;
        const std::uint64_t body = offset + kChunkHeaderSize;
        const std::uint32_t size = LoadLe32(header + 4);
        const bool fits = size <= limit - body;
        if (IsId(header, "fmt ") && !fmtSize) {
            if (!fits) return ResultCode::UnknownFormat;
            fmtSize = size;
            const std::size_t wanted = std::min<std::size_t>(size, fmt.size());
            if (!source.ReadAt(body, fmt.data(), wanted)) return ResultCode::ReadFailed;
        } else if (IsId(header, "data") && !dataSize) {
            if (!fits) return ResultCode::UnknownFormat;
            dataSize = size;
            info.dataOffset = body;
        } else if (!fits) {
            break;
        } else if (IsId(header, "smpl") && !smplSeen) {
            smplSeen = true;
            const ResultCode read = ReadFirstForwardLoop(source, body, size, loop);
            if (read != ResultCode::Ok) return read;
        }
        offset = body + size + (size & 1);
    }
    if (!fmtSize || !dataSize || *fmtSize < kPlainFmtSize) return ResultCode::UnknownFormat;
    if (LoadLe16(fmt.data()) == kFormatExtensible && *fmtSize < kExtensibleFmtSize) {
        return ResultCode::UnknownFormat;
    }

    const Format format = ParseFormat(fmt.data(), *fmtSize);
    if (format.channels == 0 || format.sampleRate == 0) return ResultCode::UnknownFormat;
    refusal.format = Refusal(format);
    if (!refusal.format.empty()) return ResultCode::UnknownFormat;
    info.channels = format.channels;
    info.sampleRate = format.sampleRate;
    info.frameCount = *dataSize / (2u * format.channels);
    if (loop && loop->start <= loop->end && loop->end < info.frameCount) info.loop = loop;
    return ResultCode::Ok;
}

}  // namespace sorvik
