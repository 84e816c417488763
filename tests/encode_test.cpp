// WAV files to sound images, in memory through the seam: what the decoder makes of an encoded
// image (its length, loop flags and fidelity), the encoder agreeing with the decoder bit for bit,
// and the WAV files that are refused (their format named) or damaged (nothing written).

#include "codec/encode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <optional>
#include <tuple>
#include <string>
#include <vector>

#include "codec/adpcm_encoder.h"
#include "codec/batch.h"
#include "codec/convert.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/memory_io.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_files.h"

namespace sorvik::testing {
namespace {

struct Loop {
    std::uint32_t start, end;
};

void Put(Bytes& bytes, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> 8 * i));
}
void Chunk(Bytes& wav, const char* id, const Bytes& body) {
    wav.insert(wav.end(), id, id + 4), Put(wav, static_cast<std::uint32_t>(body.size()), 4);
    wav.insert(wav.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) wav.push_back(0);
}

// A WAV file: "fmt " (tag 0xFFFE: extensible with `subformat`), an odd-sized chunk, "smpl" (a
// ping-pong loop, then `loop` if any) and "data" with `samples` as `bits`-bit values.
Bytes Wav(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits,
          const std::vector<std::int16_t>& samples, std::optional<Loop> loop = std::nullopt,
          std::uint16_t subformat = 1) {
    Bytes fmt, data, smpl(28, 0), wav;
    Put(fmt, tag, 2), Put(fmt, channels, 2), Put(fmt, 44100, 4),
        Put(fmt, 44100 * channels * bits / 8, 4);
    Put(fmt, channels * bits / 8, 2), Put(fmt, bits, 2);
    if (tag == 0xFFFE) Put(fmt, 22, 2), Put(fmt, bits, 2), Put(fmt, 0, 4), Put(fmt, subformat, 4);
    if (tag == 0xFFFE) Put(fmt, 0x00100000, 4), Put(fmt, 0xAA000080, 4), Put(fmt, 0x719B3800, 4);
    for (const std::int16_t s : samples)
        Put(data, static_cast<std::uint16_t>(s) * 0x10001u, bits / 8);
    Put(smpl, 2, 4), Put(smpl, 0, 4);  // two loops (or one, when the chunk ends), no extra data
    const Loop loops[] = {{0, 5}, loop.value_or(Loop{0, 0})};
    for (int i = 0; i < (loop ? 2 : 1); ++i) {
        Put(smpl, 0, 4), Put(smpl, i == 0, 4), Put(smpl, loops[i].start, 4);
        Put(smpl, loops[i].end, 4), Put(smpl, 0, 4), Put(smpl, 0, 4);
    }
    Chunk(wav, "fmt ", fmt), Chunk(wav, "junk", Bytes(3, 9)), Chunk(wav, "smpl", smpl),
        Chunk(wav, "data", data);
    Bytes riff{'R', 'I', 'F', 'F'};
    Put(riff, static_cast<std::uint32_t>(wav.size() + 4), 4),
        riff.insert(riff.end(), {'W', 'A', 'V', 'E'});
    riff.insert(riff.end(), wav.begin(), wav.end());
    return riff;
}

std::vector<std::int16_t> Tone(std::size_t count, std::size_t channels) {
    std::vector<std::int16_t> tone = Sine(440, count * channels / 44100.0 + 1, 44100, 20000);
    tone.resize(count * channels);
    return tone;
}

double SnrDb(const std::vector<std::int16_t>& in, const std::int16_t* out) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const double x = in[i], miss = x - out[i];
        signal += x * x, noise += miss * miss;
    }
    return 10 * std::log10(signal / noise);
}

ResultCode Encode(const Bytes& wav, MemorySink& sink, WavRefusal& refusal) {
    MemorySource source(wav.data(), wav.size());
    return EncodeWavToImage(source, sink, "a_long_name_of_a_sound.vag", refusal);
}

TEST(EncodeWavToImage, DecodesToTheSoundInWholeBlocksWithItsLoopFlags) {
    struct Case {
        std::uint16_t tag, channels;
        std::size_t frames;
        std::optional<Loop> loop;
        std::vector<std::pair<std::size_t, std::uint8_t>> flags;  // block, flag
    };
    const std::vector<Case> cases = {
        {1, 1, 1000, std::nullopt, {{0, 0}, {35, 0}, {36, 7}}},
        {1, 1, 1000, Loop{100, 899}, {{2, 0}, {3, 6}, {4, 0}, {31, 0}, {32, 3}, {33, 0}, {36, 7}}},
        {0xFFFE, 1, 28, Loop{30, 40}, {{0, 0}, {1, 7}}},  // the loop passes the end: none
        {1, 1, 56, Loop{0, 56}, {{0, 0}, {1, 0}, {2, 7}}},  // it ends one past the last sample
        {1, 1, 0, Loop{0, 0}, {{0, 0}, {1, 7}}},
        {1, 2, 1000, Loop{0, 999}, {{0, 6}, {1, 0}, {34, 0}, {35, 3}}},
        {1, 2, 100, Loop{30, 40}, {{1, 6}, {2, 3}, {3, 0}}},       // one block: that and the next
        {0xFFFE, 2, 100, Loop{90, 99}, {{1, 0}, {2, 6}, {3, 3}}},  // one block, the last: before
    };
    for (const Case& c : cases) {
        const std::vector<std::int16_t> in = Tone(c.frames, c.channels);
        MemorySink sink;
        WavRefusal refusal;
        ASSERT_EQ(Encode(Wav(c.tag, c.channels, 16, in, c.loop), sink, refusal), ResultCode::Ok)
            << c.frames;
        const Bytes& image = sink.files["a_long_name_of_a_sound.vag"];
        const std::size_t blocks = std::max<std::size_t>(1, (c.frames + 27) / 28);
        const std::size_t units = blocks + (c.channels == 1);
        ASSERT_EQ(image.size(), 48 + units * 16 * c.channels);
        EXPECT_EQ(std::string(image.begin() + 32, image.begin() + 48),
                  std::string("a_long_name_of_") + '\0');
        for (const auto& [block, flag] : c.flags) {
            for (std::size_t ch = 0; ch < c.channels; ++ch) {
                EXPECT_EQ(image[48 + (block * c.channels + ch) * 16 + 1], flag)
                    << c.frames << " " << block;
            }
        }
        // The SDK tools' header form; the archive's (the size LE at 4) decodes to the same.
        EXPECT_EQ(Bytes(image.begin() + 4, image.begin() + 8), (Bytes{0, 0, 0, 0x20}));
        const Bytes archived = [&] {
            Bytes form = image;
            std::reverse_copy(image.begin() + 12, image.begin() + 16, form.begin() + 4);
            return form;
        }();
        MemorySink decoded;
        for (const Bytes* form : {&archived, &image}) {
            MemorySource imageSource(form->data(), form->size());
            const char* name = form == &image ? "x" : "archived";
            const ResultCode converted =
                c.channels == 1 ? ConvertVagImage(imageSource, 0, form->size(), decoded, name)
                                : ConvertSterImage(imageSource, 0, form->size(), decoded, name);
            ASSERT_EQ(converted, ResultCode::Ok);
        }
        const Bytes& wav = decoded.files["x"];
        EXPECT_TRUE(wav == decoded.files["archived"]) << c.frames;
        ASSERT_EQ(wav.size(), 44 + units * 56 * c.channels);  // 28 samples per block and channel
        std::vector<std::int16_t> out((wav.size() - 44) / 2);
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<std::int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
        if (c.frames >= 100) {
            EXPECT_GT(SnrDb(in, out.data()), 40.0) << c.frames;
        }
        struct Collected final : DecodedSamples {
            std::vector<std::int16_t> samples;
            void Take(const std::int16_t* s, std::size_t n) override {
                samples.insert(samples.end(), s, s + n);
            }
        };
        for (const SecondThread way : {SecondThread::Never, SecondThread::Always}) {
            const Bytes wavFile = Wav(c.tag, c.channels, 16, in, c.loop);  // stereo: side by side
            MemorySource source(wavFile.data(), wavFile.size());          // or not, the same
            MemorySink again;
            Collected made;
            ASSERT_EQ(EncodeWavToImage(source, again, "b", refusal, &made, way), ResultCode::Ok);
            EXPECT_TRUE(again.files["b"].size() == image.size() &&
                        std::equal(image.begin() + 48, image.end(), again.files["b"].begin() + 48));
            EXPECT_TRUE(std::equal(made.samples.begin(), made.samples.end(), out.begin()));
        }
        if (c.channels == 1) {  // the end block's silence
            EXPECT_EQ(std::vector<std::int16_t>(out.end() - 28, out.end()),
                      std::vector<std::int16_t>(28));
        }
    }
    // The header holds the name in code page 932, cut between characters; a name with other
    // characters keeps UTF-8.
    for (const auto& [name, field] : std::vector<std::pair<std::string, std::string>>{
             {"表.VAG", "\x95\x5c"},
             {"out/効果音の名前ですよね.vag",
              "\x8c\xf8\x89\xca\x89\xb9\x82\xcc\x96\xbc\x91\x4f\x82\xc5"},  // 7 of 10
             {"é.vag", "é"}}) {
        const Bytes wav = Wav(1, 1, 16, Tone(28, 1));
        MemorySource whole(wav.data(), wav.size());
        MemorySink sink;
        WavRefusal refusal;
        ASSERT_EQ(EncodeWavToImage(whole, sink, name, refusal), ResultCode::Ok) << name;
        const Bytes& image = sink.files[name];
        EXPECT_EQ(std::string(image.begin() + 32, image.begin() + 32 + field.size() + 1),
                  field + '\0') << name;
    }
}

TEST(EncodeWavToImage, AMonoSoundEndingInABlockOfSilenceHasItForItsEndBlock) {
    struct Case {
        std::size_t frames;
        std::optional<Loop> loop;
        std::size_t blocks;  // with the end block
    };
    const Case cases[] = {{28, std::nullopt, 1}, {280, std::nullopt, 10}, {280, Loop{0, 252}, 11},
                          {290, std::nullopt, 12}};
    for (const Case& c : cases) {
        std::vector<std::int16_t> in = Tone(c.frames, 1);
        std::fill(in.end() - 28, in.end(), 0);
        MemorySink sink, decoded;
        WavRefusal refusal;
        ASSERT_EQ(Encode(Wav(1, 1, 16, in, c.loop), sink, refusal), ResultCode::Ok);
        const Bytes& image = sink.files["a_long_name_of_a_sound.vag"];
        ASSERT_EQ(image.size(), 48 + 16 * c.blocks) << c.frames;
        MemorySource source(image.data(), image.size());
        ASSERT_EQ(ConvertVagImage(source, 0, image.size(), decoded, "x"), ResultCode::Ok);
        EXPECT_EQ(decoded.files["x"].size(), 44 + 56 * c.blocks) << c.frames;  // 28 per block
    }
}

TEST(EncodeAdpcmBlock, ReportsExactlyWhatTheDecoderMakes) {
    // A tone, full-scale edges that saturate, quiet noise and a chord; ending where the decoder's
    // history would show any difference.
    std::vector<std::int16_t> in = Sine(1000, 0.05, 44100, 30000);
    for (int i = 0; i < 2800; ++i) in.push_back(i / 70 % 2 == 0 ? 32767 : -32768);
    for (int i = 0; i < 2800; ++i) in.push_back(static_cast<std::int16_t>(i * 7919 % 61 - 30));
    const std::vector<std::int16_t> low = Sine(330, 0.2, 44100, 12000);
    const std::vector<std::int16_t> high = Sine(1250, 0.2, 44100, 5000);
    for (std::size_t i = 0; i < low.size(); ++i) {
        in.push_back(static_cast<std::int16_t>(low[i] + high[i] + i * 7919 % 23));
    }
    in.resize(in.size() / 28 * 28);
    Bytes blocks(in.size() / 28 * 16);
    std::vector<std::int16_t> reported(in.size()), decoded;
    EncoderChannel history;
    for (std::size_t b = 0; b < in.size() / 28; ++b) {  // looking ahead, but not from the last
        EncodeAdpcmBlock(&in[b * 28], 1, 0, history, &blocks[b * 16], &reported[b * 28],
                         b + 1 < in.size() / 28 ? &in[b * 28 + 28] : nullptr);
    }
    using adpcm_detail::Kernel;  // every kind of search arithmetic this processor runs: the same
    for (const Kernel kernel : {Kernel::Portable, Kernel::Sse2, Kernel::Avx2}) {
        Bytes again(blocks.size());
        EncoderChannel state;
        for (std::size_t b = 0; b < in.size() / 28; ++b) {
            adpcm_detail::EncodeAdpcmBlockWith(kernel, &in[b * 28], 1, 0, state, &again[b * 16],
                                               nullptr,
                                               b + 1 < in.size() / 28 ? &in[b * 28 + 28] : nullptr);
        }
        EXPECT_EQ(again, blocks) << static_cast<int>(kernel) << adpcm_detail::KernelRuns(kernel);
    }
    reference::DecodeMonoBlocks(blocks.data(), blocks.size() / 16, decoded);
    EXPECT_EQ(decoded, reported);
    std::uint32_t hash = 2166136261u;  // FNV-1a: the same blocks from every compiler and CPU
    for (const std::uint8_t byte : blocks) hash = (hash ^ byte) * 16777619u;
    EXPECT_EQ(hash, 3445041921u);
    EXPECT_GT(SnrDb(in, decoded.data()), 15.0);  // the edges cost most
    std::vector<std::int16_t> greedy;  // no sample worse than the exhaustive greedy search's worst
    reference::DecodeMonoBlocks(EncodeAdpcm(in, false).data(), in.size() / 28, greedy);
    auto largestError = [&](const std::vector<std::int16_t>& out) {
        int largest = 0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            largest = std::max(largest, std::abs(out[i] - in[i]));
        }
        return largest;
    };
    EXPECT_LE(largestError(decoded), largestError(greedy));
}

// The sound blocks of an image in tests/data (those before its end block).
Bytes SoundBlocksOf(const char* file) {
    const Bytes image = ReadBytes(fs::path(SORVIK_SOURCE_DIR) / "tests" / "data" / file);
    std::size_t end = 48;
    while (end + 16 <= image.size() && image[end + 1] != 7) end += 16;
    return Bytes(image.begin() + 48, image.begin() + static_cast<std::ptrdiff_t>(end));
}

TEST(EncodeWavToImage, ADecodedSoundComesBackAsItsOwnBlocksAndAnEditedOneAfterTheEdit) {
    struct Case {
        const char* file;
        std::size_t editedBlock;  // 0: none; else 5 samples in it are changed
        std::size_t sameFrom;     // the first block after the edit that decodes without the
                                  // history (row 0): from there on, all must come back
        std::size_t differing;    // where the sound's own encoder chose a finer shift for the
                                  // same values (equal sound, but another first byte); after an
                                  // edit, the blocks until the history allows the same bytes
    };
    const Case cases[] = {{"psn00bsdk_3dfx.vag", 0, 0, 0},    {"psn00bsdk_proyt.vag", 0, 0, 0},
                          {"nolibgs_hello.vag", 0, 0, 17},    {"nolibgs_poly.vag", 0, 0, 24},
                          {"nolibgs_hello_poly.vag", 0, 0, 2}, {"psn00bsdk_3dfx.vag", 90, 98, 3}};
    for (const Case& c : cases) {
        const Bytes original = SoundBlocksOf(c.file);
        const std::size_t blocks = original.size() / 16;
        std::vector<std::int16_t> pcm, decoded;
        reference::DecodeMonoBlocks(original.data(), blocks, pcm);
        for (std::size_t i = 5; c.editedBlock != 0 && i < 10; ++i) {
            std::int16_t& sample = pcm[c.editedBlock * 28 + i];
            sample = static_cast<std::int16_t>(sample / 2 + 1000);
        }
        MemorySink sink;
        WavRefusal refusal;
        ASSERT_EQ(Encode(Wav(1, 1, 16, pcm), sink, refusal), ResultCode::Ok);
        const Bytes image = sink.files["a_long_name_of_a_sound.vag"];
        ASSERT_GE(image.size(), 48 + original.size()) << c.file;
        std::size_t differing = 0;
        for (std::size_t b = 0; b < blocks; ++b) {
            const auto mine = image.begin() + static_cast<std::ptrdiff_t>(48 + 16 * b);
            const bool same = mine[0] == original[16 * b] &&
                              std::equal(mine + 2, mine + 16, original.begin() + 16 * b + 2);
            differing += !same;
            if (c.editedBlock != 0 && (b < c.editedBlock || b >= c.sameFrom)) {
                EXPECT_TRUE(same) << c.file << " " << b;
            }
        }
        reference::DecodeMonoBlocks(image.data() + 48, blocks, decoded);
        if (c.editedBlock == 0) {
            EXPECT_EQ(decoded, pcm) << c.file;
        }
        EXPECT_EQ(differing, c.differing) << c.file;
    }
}

TEST(EncodeWavToImage, RefusesOtherFormatsByNameAndDamagedFilesWithoutWriting) {
    const std::vector<std::int16_t> tone = Tone(300, 1);
    const Bytes good = Wav(1, 1, 16, tone);
    auto cut = [&](std::size_t size) { return Bytes(good.begin(), good.begin() + size); };
    auto patched = [&](std::size_t at, std::uint32_t value) {
        Bytes wav = good;
        for (int i = 0; i < 4; ++i) wav[at + i] = static_cast<std::uint8_t>(value >> 8 * i);
        return wav;
    };
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {Wav(1, 1, 8, tone), "8-bit PCM"},
        {Wav(1, 2, 24, tone), "24-bit PCM"},
        {Wav(3, 1, 32, tone), "32-bit float"},
        {Wav(0xFFFE, 1, 32, tone, std::nullopt, 3), "32-bit float"},
        {Wav(1, 3, 16, tone), "3 channels"},
        {Wav(0x11, 6, 4, tone), "IMA ADPCM (format 0x0011), 6 channels"},
        {cut(good.size() - 60), ""},       // the data chunk cut short
        {cut(30), ""},                     // the "fmt " chunk cut short
        {patched(16, 0xFFFFFF00), ""},     // a "fmt " chunk larger than the file
        {patched(16, 15), ""},             // a "fmt " chunk a byte short (the data is then lost)
        {patched(22, 0), ""},              // 0 channels
        {patched(8, 0x45564157 + 1), ""},  // not "WAVE"
        {Bytes{'R', 'I', 'F', 'F'}, ""},
    };
    for (const auto& [wav, format] : cases) {
        MemorySink sink;
        WavRefusal refusal{"stale"};
        EXPECT_EQ(Encode(wav, sink, refusal), ResultCode::UnknownFormat) << format;
        EXPECT_EQ(refusal.format, format);
        EXPECT_EQ(sink.started, 0) << format;
    }
    Bytes trailing = patched(4, static_cast<std::uint32_t>(good.size() - 8 + 3));
    trailing.insert(trailing.end(), 3, 0);  // a few bytes after the last chunk are let pass
    MemorySink kept;
    WavRefusal none;
    EXPECT_EQ(Encode(trailing, kept, none), ResultCode::Ok);
    MemorySource whole(good.data(), good.size());
    for (int write = 1; write <= 3; ++write) {  // the header, the blocks, the end block
        MemorySink failing;
        failing.failAtWrite = write;
        WavRefusal refusal;
        EXPECT_EQ(EncodeWavToImage(whole, failing, "x", refusal), ResultCode::WriteFailed);
        EXPECT_TRUE(failing.files.empty());
    }
    CutSource shrinking(whole, good.size() - 100);
    MemorySink sink;
    WavRefusal refusal;
    EXPECT_EQ(EncodeWavToImage(shrinking, sink, "x", refusal), ResultCode::ReadFailed);
    EXPECT_TRUE(sink.files.empty());
}

TEST(ReadWavInfo, ARunOfEmptyChunksIsReadInLargePieces) {
    // 256 MB of zeros (chunks of size 0 without an id) after the RIFF header, then the chunks
    // of a WAV file, or nothing.
    const Bytes good = Wav(1, 1, 16, Tone(300, 1));
    constexpr std::uint64_t kZeros = 256u << 20;
    for (const bool chunksAfter : {true, false}) {
        ArchiveImage image;
        image.fileSize = 12 + kZeros + (chunksAfter ? good.size() - 12 : 0);
        image.extents[0] = Bytes(good.begin(), good.begin() + 12);
        for (int i = 0; i < 4; ++i) image.extents[0][4 + i] = (image.fileSize - 8) >> 8 * i & 255;
        if (chunksAfter) image.extents[12 + kZeros] = Bytes(good.begin() + 12, good.end());
        SparseSource sparse(image);
        CutSource counting(sparse, UINT64_MAX);
        WavInfo info;
        WavRefusal refusal;
        EXPECT_EQ(ReadWavInfo(counting, info, refusal),
                  chunksAfter ? ResultCode::Ok : ResultCode::UnknownFormat);
        EXPECT_EQ(info.dataOffset, chunksAfter ? kZeros + good.size() - 600 : 0);
        EXPECT_LT(counting.reads, 5000u);  // 64 KiB at a time, not 8 bytes
    }
}

// A batch gives the same events, outputs and result with its files encoded side by side as one
// after the other: a refused, a damaged and an unreadable file among them, two names that take
// one output name, stopping at the first failure or not.
TEST(EncodeWavFiles, FilesSideBySideAsOneAfterTheOther) {
    TempDir root;
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"a", Wav(1, 2, 16, Tone(3000, 2))}, {"b", Wav(3, 1, 32, Tone(50, 1))},
        {"c", Wav(1, 1, 16, Tone(900, 1))},  {"d", Bytes{'R', 'I', 'F', 'F', 1}},
        {"e", Bytes(9999, 1)},               {"f", Wav(1, 1, 16, Tone(90, 1))},
        {"x", Wav(1, 2, 16, Tone(70, 2))},   {"X", Wav(1, 1, 16, Tone(30, 1))}};
    for (const auto& [name, bytes] : files) WriteBytes(root.Path() / (name + ".wav"), bytes);
    fs::permissions(root.Path() / "e.wav", fs::perms::none);
    const std::string pattern = (root.Path() / "*.wav").string();
    for (const FailurePolicy policy : {FailurePolicy::StopAtFirst, FailurePolicy::KeepGoing}) {
        std::vector<std::tuple<bool, std::vector<std::string>, std::map<std::string, Bytes>>> runs;
        for (const SecondThread way : {SecondThread::Never, SecondThread::Always}) {
            MemorySink sink;
            sink.FoldsCase();  // x.VAG is taken when x.wav's turn comes
            RecordingReporter reporter;
            reporter.progress = true;
            const bool all = EncodeWavFiles(pattern, sink, reporter, policy, way);
            runs.emplace_back(all, reporter.events, sink.files);
        }
        EXPECT_EQ(runs[0], runs[1]);
        EXPECT_FALSE(std::get<0>(runs[0]));
        const std::size_t written = std::get<2>(runs[0]).size();
        // Three files fail; x.wav and X.wav are one file where the disk ignores case.
        const auto matched = static_cast<std::size_t>(
            std::distance(fs::directory_iterator(root.Path()), fs::directory_iterator()));
        EXPECT_TRUE(policy == FailurePolicy::StopAtFirst ? written < matched - 3
                                                         : written == matched - 3)
            << written;
    }
}

}  // namespace
}  // namespace sorvik::testing
