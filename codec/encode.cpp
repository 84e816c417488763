#include "codec/encode.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "codec/adpcm.h"
#include "codec/adpcm_encoder.h"
#include "codec/loop_points.h"
#include "codec/sound_headers.h"
#include "common/archive_names.h"
#include "common/byte_order.h"
#include "common/heap_buffer.h"
#include "common/second_thread.h"

namespace sorvik {
namespace {

// Frames read and encoded at a time: 2048 blocks per channel, 224 KiB of stereo PCM.
constexpr std::size_t kBlocksPerPiece = 2048;
constexpr std::size_t kFramesPerPiece = kBlocksPerPiece * kSamplesPerBlock;
// Stereo sounds of at least this many block pairs (half a second at 44.1 kHz) encode their two
// channels side by side when the choice is automatic: the thread, started once a piece, then
// costs well under a hundredth of the time.
constexpr std::uint64_t kSideBySideFrom = 800;

// The blocks that carry a loop's flags.
struct LoopBlocks {
    std::uint64_t first;
    std::uint64_t last;
};

std::optional<LoopBlocks> BlocksOf(const std::optional<WavLoop>& loop, std::uint64_t blockCount) {
    if (!loop) return std::nullopt;
    LoopBlocks blocks{loop->start / kSamplesPerBlock, loop->end / kSamplesPerBlock};
    if (blocks.first == blocks.last) {
        if (blocks.last + 1 < blockCount) {
            ++blocks.last;
        } else if (blocks.first > 0) {
            --blocks.first;
        } else {
            return std::nullopt;
        }
    }
    return blocks;
}

std::uint8_t FlagOf(std::uint64_t block, const std::optional<LoopBlocks>& loop) {
    if (!loop) return 0;
    if (block == loop->first) return kLoopStartFlag;
    return block == loop->last ? kLoopEndFlag : 0;
}

// The output name without its folder or extension, in the form the header holds.
std::string ImageName(const std::string& outputName) {
    const std::size_t slash = outputName.find_last_of("/\\");
    std::string name = slash == std::string::npos ? outputName : outputName.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return NameForArchive(name, kHeaderNameSize - 1);
}

// The buffers of one encoding, allocated before the output is started.
struct Buffers {
    HeapBuffer wav;      // the WAV bytes of one piece
    HeapBuffer samples;  // the same as samples, padded with silence to whole blocks
    HeapBuffer adpcm;    // its blocks
    HeapBuffer apart;    // a stereo piece's blocks, channel by channel: the two threads that
                         // encode them then never write to the same cache line
    HeapBuffer made;     // what the decoder makes of them, channel by channel

    bool Allocate(std::size_t channels, bool decoded) {
        return wav.Grow(kFramesPerPiece * 2 * channels) &&
               samples.Grow(kFramesPerPiece * sizeof(std::int16_t) * channels) &&
               adpcm.Grow(kBlocksPerPiece * kAdpcmBlockSize * channels) &&
               (channels == 1 || apart.Grow(kBlocksPerPiece * kAdpcmBlockSize * channels)) &&
               (!decoded || made.Grow(kFramesPerPiece * sizeof(std::int16_t) * channels));
    }
};

// Encodes the `blocks` blocks of one channel of a piece into `adpcm`, one after the other. Each
// block looks ahead at the next one, except the last of a piece (the piece size is fixed, so the
// blocks still depend on the input alone).
void EncodeChannel(const std::int16_t* samples, std::size_t channels, std::size_t channel,
                   std::size_t blocks, std::uint64_t firstBlock,
                   const std::optional<LoopBlocks>& loop, EncoderChannel& state,
                   std::uint8_t* adpcm, std::int16_t* made) {
    const std::size_t stride = kSamplesPerBlock * channels;
    for (std::size_t b = 0; b < blocks; ++b) {
        EncodeAdpcmBlock(samples + b * stride + channel, channels, FlagOf(firstBlock + b, loop),
                         state, adpcm + b * kAdpcmBlockSize,
                         made != nullptr ? made + b * kSamplesPerBlock : nullptr,
                         b + 1 < blocks ? samples + (b + 1) * stride + channel : nullptr);
    }
}

// Reads, encodes and writes the blocks of the sound, a piece at a time; the two channels of a
// stereo piece side by side when `sideBySide`.
ResultCode EncodeBlocks(ByteSource& source, const WavInfo& info, std::uint64_t blockCount,
                        Buffers& buffers, OutputFile& file, DecodedSamples* decoded,
                        bool sideBySide) {
    const std::size_t channels = info.channels;
    const std::size_t frameBytes = 2 * channels;
    const std::optional<LoopBlocks> loop = BlocksOf(info.loop, blockCount);
    RangeReader reader(source, info.dataOffset, info.frameCount * frameBytes);
    auto* samples = reinterpret_cast<std::int16_t*>(buffers.samples.Data());
    auto* made =
        decoded != nullptr ? reinterpret_cast<std::int16_t*>(buffers.made.Data()) : nullptr;
    // Each channel's state on a cache line of its own, as each may have a thread of its own.
    struct alignas(64) Channel {
        EncoderChannel state;
    } channel[2];
    for (std::uint64_t done = 0; done < blockCount;) {
        const std::size_t blocks =
            static_cast<std::size_t>(std::min<std::uint64_t>(blockCount - done, kBlocksPerPiece));
        const std::optional<std::size_t> read =
            reader.Next(buffers.wav.Data(), blocks * kSamplesPerBlock * frameBytes);
        if (!read) return ResultCode::ReadFailed;
        const std::size_t values = *read / 2;
        for (std::size_t i = 0; i < values; ++i) {
            samples[i] = static_cast<std::int16_t>(LoadLe16(buffers.wav.Data() + 2 * i));
        }
        std::fill(samples + values, samples + blocks * kSamplesPerBlock * channels, 0);
        std::uint8_t* const apart = channels == 1 ? buffers.adpcm.Data() : buffers.apart.Data();
        auto encode = [&](std::size_t c) {
            EncodeChannel(samples, channels, c, blocks, done, loop, channel[c].state,
                          apart + c * kBlocksPerPiece * kAdpcmBlockSize,
                          made != nullptr ? made + c * kFramesPerPiece : nullptr);
        };
        if (channels == 2) {
            RunBoth([&] { encode(0); }, [&] { encode(1); }, sideBySide);
            for (std::size_t b = 0; b < 2 * blocks; ++b) {
                std::memcpy(buffers.adpcm.Data() + b * kAdpcmBlockSize,
                            apart + (b % 2 * kBlocksPerPiece + b / 2) * kAdpcmBlockSize,
                            kAdpcmBlockSize);
            }
        } else {
            encode(0);
        }
        for (std::size_t b = 0; made != nullptr && b < blocks; ++b) {
            std::int16_t frames[2 * kSamplesPerBlock];
            for (std::size_t i = 0; i < kSamplesPerBlock * channels; ++i) {
                frames[i] =
                    made[i % channels * kFramesPerPiece + b * kSamplesPerBlock + i / channels];
            }
            decoded->Take(frames, kSamplesPerBlock * channels);
        }
        if (!file.Write(buffers.adpcm.Data(), blocks * channels * kAdpcmBlockSize)) {
            return ResultCode::WriteFailed;
        }
        done += blocks;
    }
    if (channels == 1) {
        std::uint8_t end[kAdpcmBlockSize] = {0, kEndBlockFlag};
        if (!file.Write(end, sizeof end)) return ResultCode::WriteFailed;
    }
    return ResultCode::Ok;
}

}  // namespace

std::optional<std::uint64_t> EncodedBlockCount(ByteSource& wav, const WavInfo& info) {
    const std::uint64_t frames = info.frameCount;
    const std::uint64_t blocks =
        std::max<std::uint64_t>(1, (frames + kSamplesPerBlock - 1) / kSamplesPerBlock);
    const std::uint64_t lastBlock = frames - std::min<std::uint64_t>(frames, kSamplesPerBlock);
    if (info.channels != 1 || frames < kSamplesPerBlock || frames % kSamplesPerBlock != 0 ||
        (info.loop && info.loop->end >= lastBlock)) {
        return blocks;
    }
    std::uint8_t last[2 * kSamplesPerBlock];
    if (!wav.ReadAt(info.dataOffset + 2 * lastBlock, last, sizeof last)) return std::nullopt;
    return std::all_of(std::begin(last), std::end(last), [](std::uint8_t b) { return b == 0; })
               ? blocks - 1
               : blocks;
}

ResultCode EncodeWavToImage(ByteSource& wav, OutputSink& sink, const std::string& outputName,
                            WavRefusal& refusal, DecodedSamples* decoded,
                            SecondThread channelsSideBySide) {
    WavInfo info;
    const ResultCode read = ReadWavInfo(wav, info, refusal);
    if (read != ResultCode::Ok) return read;
    const std::optional<std::uint64_t> blocks = EncodedBlockCount(wav, info);
    if (!blocks) return ResultCode::ReadFailed;
    const std::uint64_t blockCount = *blocks;
    const std::uint64_t channelBytes =
        (blockCount + (info.channels == 1 ? 1 : 0)) * kAdpcmBlockSize;
    if (channelBytes > 0xFFFFFFFFu) return ResultCode::UnknownFormat;
    Buffers buffers;
    if (!buffers.Allocate(info.channels, decoded != nullptr)) return ResultCode::OutOfMemory;
    const bool sideBySide =
        info.channels == 2 && MaySecondThread(channelsSideBySide) &&
        (channelsSideBySide == SecondThread::Always || blockCount >= kSideBySideFrom);
    const SoundHeaderBytes header =
        MakeSoundImageHeader(info.channels, static_cast<std::uint32_t>(channelBytes),
                             info.sampleRate, ImageName(outputName));
    return WriteOutput(sink, outputName, [&](OutputFile& file) {
        if (!file.Write(header.data(), header.size())) return ResultCode::WriteFailed;
        return EncodeBlocks(wav, info, blockCount, buffers, file, decoded, sideBySide);
    });
}

}  // namespace sorvik
