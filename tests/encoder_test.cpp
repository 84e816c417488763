// The test-support ADPCM encoder checked against the program's own decoder, and the bundled
// samples checked against what tests/tools/make_samples writes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "codec/convert.h"
#include "common/byte_order.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/sound_synth.h"
#include "tests/support/test_files.h"

namespace sorvik::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Pcm = std::vector<std::int16_t>;

struct Wav {
    unsigned channels = 0;
    std::uint32_t sampleRate = 0;
    Pcm samples;  // interleaved frames
};

// Reads a 16-bit PCM WAV file with the 44-byte header the program writes.
Wav ReadWav(const fs::path& path) {
    const Bytes bytes = ReadBytes(path);
    Wav wav;
    EXPECT_GE(bytes.size(), 44u);
    if (bytes.size() < 44) return wav;
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(LoadLe16(&bytes[20]), 1u);   // PCM
    EXPECT_EQ(LoadLe16(&bytes[34]), 16u);  // bits per sample
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    const std::uint32_t dataSize = LoadLe32(&bytes[40]);
    EXPECT_EQ(dataSize, bytes.size() - 44);
    EXPECT_EQ(LoadLe32(&bytes[4]), dataSize + 36);
    wav.channels = LoadLe16(&bytes[22]);
    wav.sampleRate = LoadLe32(&bytes[24]);
    for (std::size_t at = 44; at + 1 < bytes.size(); at += 2) {
        wav.samples.push_back(static_cast<std::int16_t>(LoadLe16(&bytes[at])));
    }
    return wav;
}

// Converts an image with the program's converter and reads the WAV back.
Wav Convert(const Bytes& image) {
    TempDir folder;
    const std::string output = folder / "decoded.wav";
    const ResultCode result = image[0] == 'S'
                                  ? ConvertSterImage(output.c_str(), image.data(), image.size())
                                  : ConvertVagImage(output.c_str(), image.data(), image.size());
    EXPECT_EQ(result, ResultCode::Ok);
    return ReadWav(output);
}

// Signal-to-noise ratio of `decoded` against `original`, over the original's length, in dB.
double SnrDb(const Pcm& original, const Pcm& decoded) {
    double signal = 0.0;
    double noise = 0.0;
    for (std::size_t i = 0; i < original.size(); ++i) {
        const double reference = original[i];
        const double error = reference - (i < decoded.size() ? decoded[i] : 0);
        signal += reference * reference;
        noise += error * error;
    }
    return noise == 0.0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

Pcm Channel(const Pcm& frames, std::size_t channel) {
    Pcm samples;
    for (std::size_t i = channel; i < frames.size(); i += 2) samples.push_back(frames[i]);
    return samples;
}

// The encoder's own prediction must be exactly what the program decodes: a drift in the history
// would show here as a mismatch long before it shows as noise. The stated SNR floors leave a
// margin below what the encoder reaches (about 56, 57, 43, 42 and 29 dB in the order below).
TEST(EncoderRoundTrip, MonoSoundsDecodeToTheEncodersPredictionWithinTheStatedSnr) {
    struct Case {
        const char* what;
        Pcm pcm;
        double minimumSnrDb;
    };
    const Case cases[] = {
        {"440 Hz at half scale", Sine(440.0, 1.0, 22050, 16000.0), 45.0},
        {"1 kHz at full scale", Sine(1000.0, 1.0, 44100, 32767.0), 45.0},
        {"4 kHz, quiet", Sine(4000.0, 0.5, 44100, 1000.0), 30.0},
        {"tune", Tune(22050, 14000.0), 35.0},
        {"noisy effect", Effect(7, 0.5, 48000, 30000.0), 20.0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        Pcm predicted;
        const Bytes adpcm = EncodeAdpcm(test.pcm, true, &predicted);
        const Wav wav = Convert(MakeVagImage(adpcm, 22050, "round", false));
        EXPECT_EQ(wav.channels, 1u);
        EXPECT_EQ(wav.sampleRate, 22050u);

        const std::size_t padded = (test.pcm.size() + 27) / 28 * 28;
        ASSERT_EQ(predicted.size(), padded);
        ASSERT_EQ(wav.samples.size(), padded + 28);  // the end block decodes to silence
        EXPECT_EQ(Pcm(wav.samples.begin(), wav.samples.begin() + padded), predicted);
        EXPECT_EQ(Pcm(wav.samples.end() - 28, wav.samples.end()), Pcm(28, 0));
        EXPECT_GE(SnrDb(test.pcm, wav.samples), test.minimumSnrDb);
    }
}

TEST(EncoderRoundTrip, StereoImageKeepsBothChannelsApartWithinTheStatedSnr) {
    const Pcm left = Sine(440.0, 0.5, 22050, 12000.0);
    const Pcm right = Sine(660.0, 0.25, 22050, 12000.0);  // shorter: padded with silence
    Pcm predictedLeft;
    Pcm predictedRight;
    const Bytes image =
        MakeSterImage(EncodeAdpcm(left, false, &predictedLeft),
                      EncodeAdpcm(right, false, &predictedRight), 22050, "pair", false);
    const Wav wav = Convert(image);
    EXPECT_EQ(wav.channels, 2u);
    EXPECT_EQ(wav.sampleRate, 22050u);
    const Pcm decodedLeft = Channel(wav.samples, 0);
    const Pcm decodedRight = Channel(wav.samples, 1);
    ASSERT_EQ(decodedLeft.size(), predictedLeft.size());
    EXPECT_EQ(decodedLeft, predictedLeft);
    EXPECT_EQ(Pcm(decodedRight.begin(), decodedRight.begin() + predictedRight.size()),
              predictedRight);
    EXPECT_EQ(Pcm(decodedRight.begin() + predictedRight.size(), decodedRight.end()),
              Pcm(decodedLeft.size() - predictedRight.size(), 0));
    // A 40 dB floor (both reach about 56 dB); swapped channels would give about -3 dB.
    EXPECT_GE(SnrDb(left, decodedLeft), 40.0);
    EXPECT_GE(SnrDb(right, decodedRight), 40.0);
}

// The committed samples never drift from the code that makes them, and stay small.
TEST(EncoderSamples, CommittedSamplesAreWhatMakeSamplesWrites) {
    const fs::path folder = fs::path(SORVIK_SOURCE_DIR) / "samples";
    const Bytes tune = ReadBytes(folder / "tune.vag");
    const Bytes chord = ReadBytes(folder / "chord.vag");
    EXPECT_TRUE(tune == MakeTuneSample()) << "run make_samples after changing the synthesis";
    EXPECT_TRUE(chord == MakeChordSample()) << "run make_samples after changing the synthesis";
    EXPECT_LT(tune.size() + chord.size(), 200u * 1024);

    const Wav mono = Convert(tune);
    EXPECT_EQ(mono.channels, 1u);
    EXPECT_GT(mono.samples.size(), 3u * mono.sampleRate);
    const Wav stereo = Convert(chord);
    EXPECT_EQ(stereo.channels, 2u);
    EXPECT_GT(stereo.samples.size(), 2u * 2 * stereo.sampleRate);
}

}  // namespace
}  // namespace sorvik::testing
