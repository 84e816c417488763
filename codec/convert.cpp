#include "codec/convert.h"

#include <algorithm>
#include <optional>

#include "codec/adpcm.h"
#include "codec/adpcm_fast.h"
#include "codec/pcm_writer.h"
#include "codec/sound_headers.h"
#include "common/heap_buffer.h"

namespace sorvik {
namespace {

// The ADPCM data of one sound: mono blocks or stereo block pairs ("units") at `offset`.
struct SoundData {
    std::uint64_t offset;
    std::uint64_t unitCount;  // exact, or at most this many when the sound ends at an end block
    std::uint16_t channels;
    bool endsAtEndBlock;  // mono only
    std::uint32_t sampleRate;

    std::size_t UnitBytes() const { return kAdpcmBlockSize * channels; }
    std::size_t PcmBytesPerUnit() const { return kPcmBytesPerBlock * channels; }
};

bool TooLargeForWav(std::uint64_t unitCount, std::size_t pcmBytesPerUnit) {
    return unitCount > kMaxWavDataSize / pcmBytesPerUnit;
}

// Reads and decodes the sound's units into `writer`, one buffer-full at a time, counting them
// in `written`; a mono sound that ends at an end block stops after it.
ResultCode DecodeUnits(ByteSource& source, const SoundData& sound, HeapBuffer& adpcm,
                       PcmWriter& writer, std::uint64_t& written) {
    RangeReader reader(source, sound.offset, sound.unitCount * sound.UnitBytes());
    const std::size_t unitsPerFill = adpcm.Size() / sound.UnitBytes();
    ChannelHistory left;
    ChannelHistory right;
    while (written < sound.unitCount) {
        std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(sound.unitCount - written, unitsPerFill));
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
        if (TooLargeForWav(written, sound.PcmBytesPerUnit())) return ResultCode::UnknownFormat;
        if (ended) break;
    }
    return writer.Flush() ? ResultCode::Ok : ResultCode::WriteFailed;
}

WavHeader MakeWavHeader(const SoundData& sound, std::uint64_t unitCount) {
    const std::uint64_t pcmBytes = unitCount * sound.PcmBytesPerUnit();
    const auto dataSize = static_cast<std::uint32_t>(std::min(pcmBytes, kMaxWavDataSize));
    WavHeader header;
    FillWavHeader(header, dataSize, sound.sampleRate, sound.channels);
    return header;
}

// Writes a WAV file whose header counts exactly the samples decoded. Everything that can be
// refused is refused, and the buffers are allocated, before the output is started.
ResultCode WriteWav(ByteSource& source, const SoundData& sound, OutputSink& sink,
                    const std::string& outputName) {
    if (sound.unitCount == 0) return ResultCode::UnknownFormat;
    if (!sound.endsAtEndBlock && TooLargeForWav(sound.unitCount, sound.PcmBytesPerUnit())) {
        return ResultCode::UnknownFormat;
    }
    PcmBuffer pcm;
    if (!pcm.Allocate(sound.unitCount * sound.PcmBytesPerUnit(), kWavHeaderSize)) {
        return ResultCode::OutOfMemory;
    }
    HeapBuffer adpcm;
    if (!adpcm.Grow(pcm.Capacity() / sound.PcmBytesPerUnit() * sound.UnitBytes())) {
        return ResultCode::OutOfMemory;
    }
    return WriteOutput(sink, outputName, [&](OutputFile& file) {
        // The header first counts every unit; a mono sound that ends early has it rewritten.
        const WavHeader expected = MakeWavHeader(sound, sound.unitCount);
        if (!file.Write(expected.data(), expected.size())) return ResultCode::WriteFailed;
        PcmWriter writer(file, pcm);
        std::uint64_t written = 0;
        const ResultCode decoded = DecodeUnits(source, sound, adpcm, writer, written);
        if (decoded != ResultCode::Ok || written == sound.unitCount) return decoded;
        const WavHeader header = MakeWavHeader(sound, written);
        return file.Rewrite(0, header.data(), header.size()) ? ResultCode::Ok
                                                             : ResultCode::WriteFailed;
    });
}

// Reads and checks the image's header; the sound's data, or why there is none.
ResultCode ReadImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
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

ResultCode ConvertImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                        std::uint16_t channels, OutputSink& sink, const std::string& outputName) {
    SoundData sound{};
    const ResultCode read = ReadImage(source, offset, length, channels, sound);
    if (read != ResultCode::Ok) return read;
    return WriteWav(source, sound, sink, outputName);
}

}  // namespace

ResultCode ConvertVagImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                           OutputSink& sink, const std::string& outputName) {
    return ConvertImage(source, offset, length, 1, sink, outputName);
}

ResultCode ConvertSterImage(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                            OutputSink& sink, const std::string& outputName) {
    return ConvertImage(source, offset, length, 2, sink, outputName);
}

ResultCode WriteMonoWav(ByteSource& source, std::uint64_t offset, std::uint64_t blockCount,
                        std::uint32_t sampleRate, OutputSink& sink, const std::string& outputName) {
    return WriteWav(source, SoundData{offset, blockCount, 1, false, sampleRate}, sink, outputName);
}

}  // namespace sorvik
