#include "codec/sound_data.h"

#include <algorithm>
#include <array>

#include "codec/sound_headers.h"
#include "common/byte_order.h"
#include "common/heap_buffer.h"

namespace sorvik {

ResultCode ReadSoundImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                          std::uint16_t channels, SoundData& sound) {
    if (length < kSoundHeaderSize) return ResultCode::UnknownFormat;
    SoundHeaderBytes bytes;
    if (!source.ReadAt(offset, bytes.data(), bytes.size())) return ResultCode::ReadFailed;
    const std::optional<SoundImageHeader> header =
        channels == 1 ? ReadVagHeader(bytes) : ReadSterHeader(bytes);
    if (!header) return ResultCode::UnknownFormat;
    // The data both declared by the header and held in the image.
    const std::uint64_t held = std::min(header->dataSize, length - kSoundHeaderSize);
    sound = SoundData{offset + kSoundHeaderSize, held / (kAdpcmBlockSize * channels), channels,
                      channels == 1, header->sampleRate};
    return ResultCode::Ok;
}

ResultCode FindLooseChannels(ByteSource& source, std::uint16_t& channels) {
    if (source.Size() == 0) return ResultCode::ReadFailed;
    std::array<std::uint8_t, 4> magic;
    if (source.Size() < magic.size()) return ResultCode::UnknownFormat;
    if (!source.ReadAt(0, magic.data(), magic.size())) return ResultCode::ReadFailed;
    if (HasMagic(magic.data(), kVagMagic)) {
        channels = 1;
    } else if (HasMagic(magic.data(), kSterMagic)) {
        channels = 2;
    } else {
        return ResultCode::UnknownFormat;
    }
    return ResultCode::Ok;
}

ResultCode ScanSound(ByteSource& source, const SoundData& sound, SoundScan& scan) {
    constexpr std::size_t kPieceUnits = 32768;
    HeapBuffer piece;
    const std::uint64_t pieceUnits = std::min<std::uint64_t>(sound.unitCount, kPieceUnits);
    if (!piece.Grow(static_cast<std::size_t>(pieceUnits) * sound.UnitBytes())) {
        return ResultCode::OutOfMemory;
    }
    RangeReader reader(source, sound.offset, sound.unitCount * sound.UnitBytes());
    LoopFinder left;
    LoopFinder right;
    scan = SoundScan{};
    bool ended = false;
    while (!ended && reader.Remaining() > 0) {
        const std::optional<std::size_t> got = reader.Next(piece.Data(), piece.Size());
        if (!got) return ResultCode::ReadFailed;
        for (std::size_t at = 0; !ended && at < *got; at += sound.UnitBytes()) {
            const std::uint8_t flag = piece.Data()[at + 1];
            left.Add(flag);
            if (sound.channels == 2) right.Add(piece.Data()[at + kAdpcmBlockSize + 1]);
            ++scan.unitCount;
            ended = sound.endsAtEndBlock && flag == kEndBlockFlag;
        }
    }
    scan.loop = left.Loop();
    if (sound.channels == 2) scan.rightLoop = right.Loop();
    return ResultCode::Ok;
}

}  // namespace sorvik
