#include "codec/convert.h"

#include <algorithm>
#include <optional>

#include "codec/adpcm.h"
#include "codec/adpcm_fast.h"
#include "codec/pcm_writer.h"
#include "codec/sound_data.h"
#include "codec/sound_headers.h"
#include "common/byte_order.h"
#include "common/heap_buffer.h"

namespace sorvik {
namespace {

// Reads and decodes the sound's units into `writer`, one buffer-full at a time, counting them
// in `written`; a mono sound that ends at an end block stops after it. The sound's bound fits a
// WAV file, so whatever is decoded fits too.
ResultCode DecodeUnits(ByteSource& source, const SoundData& sound, HeapBuffer& adpcm,
                       PcmWriter& writer, std::uint64_t& written) {
    RangeReader reader(source, sound.offset, sound.unitCount * sound.UnitBytes());
    const std::size_t unitsPerFill = adpcm.Size() / sound.UnitBytes();
    ChannelHistory left;
    ChannelHistory right;
    while (written < sound.unitCount) {
        std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>(sound.unitCount - written, unitsPerFill));
        if (!reader.Next(adpcm.Data(), count * sound.UnitBytes())) return ResultCode::ReadFailed;
        bool ended = false;
        if (sound.endsAtEndBlock) {
            const std::size_t upToEnd = CountMonoBlocks(adpcm.Data(), count * kAdpcmBlockSize);
            ended = adpcm.Data()[(upToEnd - 1) * kAdpcmBlockSize + 1] == kEndBlockFlag;
            count = upToEnd;
        }
        std::uint8_t* pcm = writer.Reserve(count * sound.PcmBytesPerUnit());
        if (pcm == nullptr) return ResultCode::WriteFailed;
        if (sound.channels == 1) {
            DecodeMonoBlocksToPcm(adpcm.Data(), count, left, pcm);
        } else {
            DecodeStereoPairsToPcm(adpcm.Data(), count, left, right, pcm);
        }
        writer.Commit(count * sound.PcmBytesPerUnit());
        written += count;
        if (ended) break;
    }
    return writer.Flush() ? ResultCode::Ok : ResultCode::WriteFailed;
}

WavHeader MakeWavHeader(const SoundData& sound, std::uint64_t pcmBytes,
                        std::uint32_t trailingBytes = 0) {
    const auto dataSize = static_cast<std::uint32_t>(std::min(pcmBytes, kMaxWavDataSize));
    WavHeader header;
    FillWavHeader(header, dataSize, sound.sampleRate, sound.channels, trailingBytes);
    return header;
}

// Writes a WAV file of the sound as stored, whose header counts exactly the samples decoded,
// with `loopChunk` after the data unless it is null. Everything that can be refused is refused,
// and the buffers are allocated, before the output is started: a sound whose bound passes the
// WAV limit is refused, so a mono sound's end must have been found first (WriteWav).
ResultCode WriteStoredWav(ByteSource& source, const SoundData& sound, OutputSink& sink,
                          const std::string& outputName, const SmplChunk* loopChunk,
                          SecondThread writeBehind) {
    const std::uint32_t trailingBytes = loopChunk ? kSmplChunkSize : 0;
    if (TooLargeForWav(sound.unitCount, sound.PcmBytesPerUnit(), trailingBytes)) {
        return ResultCode::UnknownFormat;
    }
    PcmBuffer pcm;
    if (!pcm.Allocate(sound.unitCount * sound.PcmBytesPerUnit(), kWavHeaderSize, writeBehind)) {
        return ResultCode::OutOfMemory;
    }
    HeapBuffer adpcm;
    if (!adpcm.Grow(pcm.Capacity() / sound.PcmBytesPerUnit() * sound.UnitBytes())) {
        return ResultCode::OutOfMemory;
    }
    return WriteOutput(sink, outputName, [&](OutputFile& file) {
        // The header first counts every unit; a mono sound that ends early has it rewritten.
        const WavHeader expected =
            MakeWavHeader(sound, sound.unitCount * sound.PcmBytesPerUnit(), trailingBytes);
        if (!file.Write(expected.data(), expected.size())) return ResultCode::WriteFailed;
        PcmWriter writer(file, pcm);
        std::uint64_t written = 0;
        const ResultCode decoded = DecodeUnits(source, sound, adpcm, writer, written);
        if (decoded != ResultCode::Ok) return decoded;
        if (loopChunk && !file.Write(loopChunk->data(), loopChunk->size())) {
            return ResultCode::WriteFailed;
        }
        if (written == sound.unitCount) return ResultCode::Ok;
        const WavHeader header = MakeWavHeader(sound, written * sound.PcmBytesPerUnit());
        return file.Rewrite(0, header.data(), header.size()) ? ResultCode::Ok
                                                             : ResultCode::WriteFailed;
    });
}

// A sound played with its loop repeated: up to the loop's end, the loop again, until it has been
// played `count` times in all, then kFadeSeconds of further repeats, faded out.
struct Rendition {
    LoopPoints loop;
    std::uint64_t fadeStart;   // the first frame of the fade
    std::uint64_t fadeFrames;  // its length; 0 for a rate of 0

    Rendition(const LoopPoints& loopPoints, unsigned count, std::uint32_t sampleRate)
        : loop(loopPoints),
          fadeStart(loop.EndSample() + (count - 1) * loop.BlockCount() * kSamplesPerBlock),
          fadeFrames(std::uint64_t{kFadeSeconds} * sampleRate) {}
    std::uint64_t Frames() const { return fadeStart + fadeFrames; }
};

// Scales the frames of `pcm`, the rendition's frames from `firstFrame` on, that lie in the fade:
// frame i of the fade (from 0) by (fadeFrames - i) / fadeFrames, rounded toward zero.
void ApplyFade(const Rendition& rendition, std::uint64_t firstFrame, std::size_t frameCount,
               std::uint16_t channels, std::uint8_t* pcm) {
    const std::int64_t length = static_cast<std::int64_t>(rendition.fadeFrames);
    for (std::uint64_t frame = std::max(firstFrame, rendition.fadeStart);
         frame < firstFrame + frameCount; ++frame) {
        const std::int64_t gain = length - static_cast<std::int64_t>(frame - rendition.fadeStart);
        std::uint8_t* samples = pcm + (frame - firstFrame) * 2 * channels;
        for (std::uint16_t channel = 0; channel < channels; ++channel) {
            const auto sample = static_cast<std::int16_t>(LoadLe16(samples + 2 * channel));
            StoreLe16(samples + 2 * channel, static_cast<std::uint16_t>(sample * gain / length));
        }
    }
}

// A rendition on its way out: the buffers, the channels' history and the frames written.
struct RenditionWriter {
    const Rendition& rendition;
    HeapBuffer& adpcm;
    PcmWriter& writer;
    ChannelHistory left{};
    ChannelHistory right{};
    std::uint64_t framesWritten = 0;
};

// Decodes `unitCount` units from `firstUnit` on, continuing the history, as the rendition's next
// frames; stops early when the rendition is complete.
ResultCode DecodeRange(ByteSource& source, const SoundData& sound, std::uint64_t firstUnit,
                       std::uint64_t unitCount, RenditionWriter& out) {
    RangeReader reader(source, sound.offset + firstUnit * sound.UnitBytes(),
                       unitCount * sound.UnitBytes());
    const std::size_t unitsPerFill = out.adpcm.Size() / sound.UnitBytes();
    while (reader.Remaining() > 0 && out.framesWritten < out.rendition.Frames()) {
        const auto count = static_cast<std::size_t>(
            std::min<std::uint64_t>(reader.Remaining() / sound.UnitBytes(), unitsPerFill));
        if (!reader.Next(out.adpcm.Data(), count * sound.UnitBytes()))
            return ResultCode::ReadFailed;
        std::uint8_t* pcm = out.writer.Reserve(count * sound.PcmBytesPerUnit());
        if (pcm == nullptr) return ResultCode::WriteFailed;
        if (sound.channels == 1) {
            DecodeMonoBlocksToPcm(out.adpcm.Data(), count, out.left, pcm);
        } else {
            DecodeStereoPairsToPcm(out.adpcm.Data(), count, out.left, out.right, pcm);
        }
        const auto frames = static_cast<std::size_t>(std::min<std::uint64_t>(
            count * kSamplesPerBlock, out.rendition.Frames() - out.framesWritten));
        ApplyFade(out.rendition, out.framesWritten, frames, sound.channels, pcm);
        out.writer.Commit(frames * 2 * sound.channels);
        out.framesWritten += frames;
    }
    return ResultCode::Ok;
}

// Writes the WAV file of `sound` (its unit count exact) played with `loop` repeated.
ResultCode WriteRendition(ByteSource& source, const SoundData& sound, const LoopPoints& loop,
                          unsigned count, OutputSink& sink, const std::string& outputName,
                          SecondThread writeBehind) {
    const Rendition rendition(loop, count, sound.sampleRate);
    const std::size_t frameBytes = 2 * sound.channels;
    if (rendition.Frames() > kMaxWavDataSize / frameBytes) return ResultCode::UnknownFormat;
    PcmBuffer pcm;
    if (!pcm.Allocate(rendition.Frames() * frameBytes, kWavHeaderSize, writeBehind)) {
        return ResultCode::OutOfMemory;
    }
    HeapBuffer adpcm;
    if (!adpcm.Grow(pcm.Capacity() / sound.PcmBytesPerUnit() * sound.UnitBytes())) {
        return ResultCode::OutOfMemory;
    }
    return WriteOutput(sink, outputName, [&](OutputFile& file) {
        const WavHeader header = MakeWavHeader(sound, rendition.Frames() * frameBytes);
        if (!file.Write(header.data(), header.size())) return ResultCode::WriteFailed;
        PcmWriter writer(file, pcm);
        RenditionWriter out{rendition, adpcm, writer};
        ResultCode result = DecodeRange(source, sound, 0, loop.lastBlock + 1, out);
        while (result == ResultCode::Ok && out.framesWritten < rendition.Frames()) {
            result = DecodeRange(source, sound, loop.firstBlock, loop.BlockCount(), out);
        }
        if (result != ResultCode::Ok) return result;
        return writer.Flush() ? ResultCode::Ok : ResultCode::WriteFailed;
    });
}

// Writes the WAV file of `sound` as `options` ask.
ResultCode WriteWav(ByteSource& source, const SoundData& sound, OutputSink& sink,
                    const std::string& outputName, const WavOptions& options) {
    if (sound.unitCount == 0) return ResultCode::UnknownFormat;
    const bool asStored = !options.loopChunk && options.loopCount == 0;
    if (!TooLargeForWav(sound.unitCount, sound.PcmBytesPerUnit())) {
        // Within the limit as bounded: the decoder finds a mono sound's end block itself.
        if (asStored) {
            return WriteStoredWav(source, sound, sink, outputName, nullptr, options.writeBehind);
        }
    } else if (!sound.endsAtEndBlock && options.loopCount == 0) {
        // Exactly this long, and written whole: nothing is worth reading.
        return ResultCode::UnknownFormat;
    }
    // The sound's end (past the limit, only an end block within it makes a WAV file possible)
    // or its loop must be known before the output starts: its flags are read first.
    SoundScan scan;
    const ResultCode scanned = ScanSound(source, sound, scan);
    if (scanned != ResultCode::Ok) return scanned;
    SoundData exact = sound;
    exact.unitCount = scan.unitCount;
    exact.endsAtEndBlock = false;
    if (asStored || !scan.loop) {
        return WriteStoredWav(source, exact, sink, outputName, nullptr, options.writeBehind);
    }
    if (options.loopCount > 0) {
        return WriteRendition(source, exact, *scan.loop, options.loopCount, sink, outputName,
                              options.writeBehind);
    }
    const SmplChunk chunk =
        MakeSmplChunk(static_cast<std::uint32_t>(scan.loop->StartSample()),
                      static_cast<std::uint32_t>(scan.loop->EndSample() - 1), sound.sampleRate);
    return WriteStoredWav(source, exact, sink, outputName, &chunk, options.writeBehind);
}

ResultCode ConvertImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                        std::uint16_t channels, OutputSink& sink, const std::string& outputName,
                        const WavOptions& options) {
    SoundData sound{};
    const ResultCode read = ReadSoundImage(source, offset, length, channels, sound);
    if (read != ResultCode::Ok) return read;
    return WriteWav(source, sound, sink, outputName, options);
}

}  // namespace

ResultCode ConvertVagImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                           OutputSink& sink, const std::string& outputName,
                           const WavOptions& options) {
    return ConvertImage(source, offset, length, 1, sink, outputName, options);
}

ResultCode ConvertSterImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                            OutputSink& sink, const std::string& outputName,
                            const WavOptions& options) {
    return ConvertImage(source, offset, length, 2, sink, outputName, options);
}

ResultCode WriteMonoWav(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                        std::uint32_t sampleRate, OutputSink& sink, const std::string& outputName,
                        const WavOptions& options) {
    return WriteWav(source, SoundData{offset, blockCount, 1, false, sampleRate}, sink, outputName,
                    options);
}

}  // namespace sorvik
