#include "tools/sound_synth.h"

#include <algorithm>
#include <cmath>

#include "tests/support/adpcm_encoder.h"

namespace sorvik::synth {

using testing::EncodeAdpcm;
using testing::MakeSterImage;
using testing::MakeVagImage;

namespace {

constexpr double kPi = 3.14159265358979323846;
// 2^(1/12): one equal-tempered semitone.
constexpr double kSemitone = 1.0594630943592952646;

// Rounds to the nearest integer and saturates to 16 bits.
std::int16_t ToSample(double value) {
    const double rounded = std::floor(value + 0.5);
    return static_cast<std::int16_t>(std::clamp(rounded, -32768.0, 32767.0));
}

// Scales `mix` so that its largest magnitude becomes `amplitude`, and rounds it to samples.
std::vector<std::int16_t> Normalise(const std::vector<double>& mix, double amplitude) {
    double peak = 0.0;
    for (const double value : mix) peak = std::max(peak, std::fabs(value));
    const double gain = peak > 0.0 ? amplitude / peak : 0.0;
    std::vector<std::int16_t> samples(mix.size());
    std::transform(mix.begin(), mix.end(), samples.begin(),
                   [gain](double value) { return ToSample(value * gain); });
    return samples;
}

// Semitone steps as a frequency ratio, by repeated multiplication (exact on every platform).
double SemitoneRatio(int semitones) {
    double ratio = 1.0;
    for (int i = 0; i < semitones; ++i) ratio *= kSemitone;
    for (int i = 0; i > semitones; --i) ratio /= kSemitone;
    return ratio;
}

// A small xorshift generator: the same sequence everywhere.
class NoiseSource {
  public:
    explicit NoiseSource(std::uint32_t seed) : state_(seed * 2654435761u ^ 0x9E3779B9u) {
        if (state_ == 0) state_ = 1;
    }
    std::uint32_t NextBits() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // Uniform in [-1, 1).
    double Next() { return static_cast<double>(NextBits()) / 2147483648.0 - 1.0; }
    // Uniform in [low, high).
    double Between(double low, double high) {
        return low + (high - low) * (static_cast<double>(NextBits()) / 4294967296.0);
    }

  private:
    std::uint32_t state_;
};

// Adds one plucked note (three harmonics, a short attack, an exponential decay and a short
// release) to `mix`.
void AddNote(std::vector<double>& mix, std::uint32_t rate, double startSeconds, double seconds,
             double frequencyHz, double level) {
    const std::size_t start = SampleCount(startSeconds, rate);
    const std::size_t attack = SampleCount(0.015, rate);
    const std::size_t release = SampleCount(0.08, rate);
    const std::size_t length = SampleCount(seconds, rate) + release;
    const double decay = 1.0 - 1.0 / (0.45 * rate);  // about e^(-1) every 0.45 seconds
    double envelope = 1.0;
    for (std::size_t i = 0; i < length && start + i < mix.size(); ++i) {
        double shape = envelope;
        if (i < attack) shape *= static_cast<double>(i) / attack;
        if (i + release > length) shape *= static_cast<double>(length - i) / release;
        envelope *= decay;
        const double turns = static_cast<double>(i) * frequencyHz / rate;
        const double tone =
            SineOfTurns(turns) + 0.35 * SineOfTurns(2.0 * turns) + 0.12 * SineOfTurns(3.0 * turns);
        mix[start + i] += level * shape * tone;
    }
}

}  // namespace

std::size_t SampleCount(double seconds, std::uint32_t rate) {
    return static_cast<std::size_t>(std::floor(seconds * rate + 0.5));
}

double SineOfTurns(double turns) {
    double fraction = turns - std::floor(turns);  // [0, 1)
    double sign = 1.0;
    if (fraction >= 0.5) {
        fraction -= 0.5;
        sign = -1.0;
    }
    if (fraction > 0.25) fraction = 0.5 - fraction;  // sin(pi - x) = sin(x)
    const double x = 2.0 * kPi * fraction;           // [0, pi/2]
    const double x2 = x * x;
    // Taylor series to x^15: the error at pi/2 is below 1e-12.
    double sum = 1.0 / 1307674368000.0;
    sum = 1.0 / 6227020800.0 - x2 * sum;
    sum = 1.0 / 39916800.0 - x2 * sum;
    sum = 1.0 / 362880.0 - x2 * sum;
    sum = 1.0 / 5040.0 - x2 * sum;
    sum = 1.0 / 120.0 - x2 * sum;
    sum = 1.0 / 6.0 - x2 * sum;
    sum = 1.0 - x2 * sum;
    return sign * x * sum;
}

std::vector<std::int16_t> Sine(double frequencyHz, double seconds, std::uint32_t rate,
                               double amplitude) {
    std::vector<std::int16_t> samples(SampleCount(seconds, rate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = ToSample(amplitude * SineOfTurns(static_cast<double>(i) * frequencyHz / rate));
    }
    return samples;
}

std::vector<std::int16_t> Chord(const std::vector<double>& frequenciesHz, double seconds,
                                std::uint32_t rate, double amplitude) {
    std::vector<std::int16_t> samples(SampleCount(seconds, rate));
    if (frequenciesHz.empty()) return samples;
    const double level = amplitude / static_cast<double>(frequenciesHz.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        double sum = 0.0;
        for (const double frequency : frequenciesHz) {
            sum += SineOfTurns(static_cast<double>(i) * frequency / rate);
        }
        samples[i] = ToSample(level * sum);
    }
    return samples;
}

std::vector<std::int16_t> Tune(std::uint32_t rate, double amplitude, int transpose) {
    struct Note {
        double beat;   // start
        double beats;  // length
        int semitone;  // above C5 (523.25 Hz)
        double level;
    };
    // A pentatonic phrase over a slow bass line, four bars of four beats.
    static const Note kNotes[] = {
        {0, 1, 0, 1.0},   {1, 1, 4, 0.9},     {2, 1, 7, 0.9},     {3, 1, 12, 1.0},
        {4, 1.5, 9, 1.0}, {5.5, 0.5, 7, 0.8}, {6, 2, 4, 0.9},     {8, 1, 2, 0.9},
        {9, 1, 4, 0.9},   {10, 1, 7, 1.0},    {11, 1, 9, 0.9},    {12, 1, 7, 1.0},
        {13, 1, 4, 0.9},  {14, 2, 0, 1.0},    {0, 4, -24, 0.5},   {4, 4, -27, 0.5},
        {8, 4, -22, 0.5}, {12, 4, -24, 0.5},  {12, 4, -17, 0.35},
    };
    constexpr double kBeatSeconds = 0.27;
    constexpr double kTailSeconds = 0.6;
    std::vector<double> mix(SampleCount(16 * kBeatSeconds + kTailSeconds, rate), 0.0);
    const double base = 523.2511306011972 * SemitoneRatio(transpose);
    for (const Note& note : kNotes) {
        AddNote(mix, rate, note.beat * kBeatSeconds, note.beats * kBeatSeconds,
                base * SemitoneRatio(note.semitone), note.level);
    }
    return Normalise(mix, amplitude);
}

std::vector<std::int16_t> Effect(std::uint32_t seed, double seconds, std::uint32_t rate,
                                 double amplitude) {
    NoiseSource noise(seed);
    const double smoothing = noise.Between(0.03, 0.35);  // one-pole low-pass coefficient
    const double startHz = noise.Between(180.0, 1400.0);
    const double toneShare = noise.Between(0.2, 0.7);
    const double decaySeconds = noise.Between(0.2, 0.6) * std::max(seconds, 0.01);
    const double decay = 1.0 - 1.0 / (decaySeconds * rate);
    const std::size_t attack = SampleCount(0.004, rate);

    std::vector<double> mix(SampleCount(seconds, rate), 0.0);
    double filtered = 0.0;
    double phase = 0.0;
    double envelope = 1.0;
    for (std::size_t i = 0; i < mix.size(); ++i) {
        filtered += smoothing * (noise.Next() - filtered);
        const double progress = static_cast<double>(i) / static_cast<double>(mix.size());
        phase += startHz * (1.0 - 0.66 * progress) / rate;
        if (phase >= 1.0) phase -= 1.0;
        double shape = envelope;
        if (i < attack) shape *= static_cast<double>(i) / attack;
        envelope *= decay;
        mix[i] = shape * ((1.0 - toneShare) * 4.0 * filtered + toneShare * SineOfTurns(phase));
    }
    return Normalise(mix, amplitude);
}

namespace {

constexpr std::uint32_t kSampleRate = 22050;

// Fades the start and the end of `samples` in and out linearly.
void Fade(std::vector<std::int16_t>& samples, std::size_t in, std::size_t out) {
    for (std::size_t i = 0; i < in && i < samples.size(); ++i) {
        samples[i] = ToSample(samples[i] * (static_cast<double>(i) / in));
    }
    for (std::size_t i = 0; i < out && i < samples.size(); ++i) {
        std::int16_t& sample = samples[samples.size() - 1 - i];
        sample = ToSample(sample * (static_cast<double>(i) / out));
    }
}

}  // namespace

std::vector<std::uint8_t> MakeTuneSample() {
    const std::vector<std::int16_t> pcm = Tune(kSampleRate, 14000.0);
    return MakeVagImage(EncodeAdpcm(pcm), kSampleRate, "tune", false);
}

std::vector<std::uint8_t> MakeChordSample() {
    constexpr double kSeconds = 3.0;
    // C major: the left channel in close position, the right one spread with the fifth below.
    std::vector<std::int16_t> left = Chord({261.63, 329.63, 392.00}, kSeconds, kSampleRate, 12000);
    std::vector<std::int16_t> right = Chord({196.00, 329.63, 523.25}, kSeconds, kSampleRate, 12000);
    Fade(left, SampleCount(0.05, kSampleRate), SampleCount(0.8, kSampleRate));
    Fade(right, SampleCount(0.05, kSampleRate), SampleCount(0.8, kSampleRate));
    return MakeSterImage(EncodeAdpcm(left, false), EncodeAdpcm(right, false), kSampleRate, "chord",
                         false);
}

}  // namespace sorvik::synth
