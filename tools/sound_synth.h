#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Deterministic 16-bit PCM generators for the bundled samples and the benchmark's sounds. Only additions,
// subtractions, multiplications and divisions of doubles are used (no library sine, exponential
// or random distributions), so every compiler and runtime produces the same samples bit for bit.
namespace sorvik::synth {

// Number of samples in `seconds` at `rate`, rounded to nearest.
std::size_t SampleCount(double seconds, std::uint32_t rate);

// sin(2 * pi * turns) for any turns >= 0.
double SineOfTurns(double turns);

// A sine wave whose peak is `amplitude` (in sample units, up to 32767).
std::vector<std::int16_t> Sine(double frequencyHz, double seconds, std::uint32_t rate,
                               double amplitude);

// The sum of equal sines, scaled so that the sum never exceeds `amplitude`.
std::vector<std::int16_t> Chord(const std::vector<double>& frequenciesHz, double seconds,
                                std::uint32_t rate, double amplitude);

// A short melody of soft plucked notes (about 4.5 seconds) at its loudest near `amplitude`.
// `transpose` shifts every note by that many semitones (-12 to 12).
std::vector<std::int16_t> Tune(std::uint32_t rate, double amplitude, int transpose = 0);

// A sound effect: low-pass filtered noise with a falling pitch component and a decaying
// envelope. Different seeds give different sounds; the same seed always the same one.
std::vector<std::int16_t> Effect(std::uint32_t seed, double seconds, std::uint32_t rate,
                                 double amplitude);

// The bundled sample files, exactly as tools/make_samples writes them: tune.vag, a mono
// "VAGp" image of the tune, and chord.vag, a stereo "STER" image of a chord whose right
// channel is voiced a little differently from its left.
std::vector<std::uint8_t> MakeTuneSample();
std::vector<std::uint8_t> MakeChordSample();

}  // namespace sorvik::synth
