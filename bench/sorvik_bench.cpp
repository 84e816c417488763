// sorvik_bench: how fast sorvik converts large inputs, measured against what writing the same
// bytes costs. It makes its inputs in a temporary folder (a 100 MB mono VAG, a 100 MB stereo
// STER image and a full-size archive with its index files), then times, as medians of several
// runs:
//   - the sorvik binary converting each input, as a whole process;
//   - for the loose files, in this process: sorvik's decoder alone, decoding into one buffer-full
//     after the other without writing them (what the conversion spends beyond the floor), and the
//     straightforward decoder (one sample after the other, through a 64 KiB buffer, written);
//   - the floor: writing the same files of the same sizes from memory (for raw extraction:
//     copying them), in turns with the runs of the binary; its ratio to them is the median of the
//     turns' ratios.
// It also reports the peak memory of one more run of the binary on each input: its largest
// resident size on POSIX systems, its largest working set on Windows.
// Then it encodes four signals of 20 s at 44.1 kHz (music-like, speech-like, a loud square-ish
// wave and a quiet one) with the exhaustive greedy search of the tests' encoder, with the same
// search whose nibbles are chosen by a beam of four (here, for comparison) and with sorvik's
// encoder, and reports the round-trip SNR (decoded by sorvik's decoder), the largest error of a
// sample and the speeds in MB of WAV per second, greedy and sorvik in turns. It re-encodes the
// sounds of tests/data's images as decoded (counting the blocks made exactly again) and scaled
// off the grid; and it times greedy and sorvik on 10 minutes of mono sound, and sorvik on 10
// minutes of stereo on one and on two threads.
// Usage: sorvik_bench [runs]   (default 5)
//        sorvik_bench --encoding [runs]   (the encoding table alone)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

// The benchmark starts the runs of the binary itself and asks the system for their peak memory.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// psapi.dll's own entry points, which Windows before 7 also has.
#define PSAPI_VERSION 1
// clang-format off
#include <psapi.h>
// clang-format on
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "codec/adpcm.h"
#include "codec/adpcm_encoder.h"
#include "codec/adpcm_fast.h"
#include "codec/convert.h"
#include "codec/encode.h"
#include "codec/pcm_writer.h"
#include "common/file_handle.h"
#include "platform/platform.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/memory_io.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_files.h"
#include "bench/realistic_archive.h"
#include "tools/sound_synth.h"

namespace {

namespace fs = std::filesystem;
namespace platform = sorvik::platform;
using Bytes = std::vector<std::uint8_t>;
using sorvik::FileHandle;

constexpr std::size_t kLooseDataBytes = 100 * 1000 * 1000;
constexpr std::uint32_t kRate = 44100;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "sorvik_bench: %s\n", what.c_str());
    std::exit(1);
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median of `runs` timings; `prepare` runs untimed before each (it removes earlier outputs, so
// no run pays for truncating the last one's files).
double Median(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        prepare();
        times.push_back(Seconds(work));
    }
    return MedianOf(times);
}

// A case timed against its floor in `runs` rounds of one floor run and one run of the case each,
// so that both meet the same state of the machine, whose speed for writing files drifts by tens
// of percent over a minute here. The ratio is the median of the rounds' ratios.
struct Paired {
    double floorSeconds;
    double caseSeconds;
    double ratio;
};
Paired MedianPaired(int runs, const std::function<void()>& prepare,
                    const std::function<void()>& floorWork, const std::function<void()>& caseWork) {
    std::vector<double> floors;
    std::vector<double> cases;
    std::vector<double> ratios;
    for (int i = 0; i < runs; ++i) {
        prepare();
        floors.push_back(Seconds(floorWork));
        prepare();
        cases.push_back(Seconds(caseWork));
        ratios.push_back(cases.back() / floors.back());
    }
    return {MedianOf(floors), MedianOf(cases), MedianOf(ratios)};
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) Fail("cannot write " + path.string());
}

// `pattern` repeated until it fills `size` bytes (whole blocks).
Bytes Tile(const Bytes& pattern, std::size_t size) {
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        const std::size_t take = std::min(pattern.size(), size - out.size());
        out.insert(out.end(), pattern.begin(), pattern.begin() + static_cast<std::ptrdiff_t>(take));
    }
    return out;
}

// Encoded music and effects, a minute or so, as the material that the loose files repeat.
Bytes EncodedMaterial(int variant) {
    std::vector<std::int16_t> pcm;
    for (int i = 0; i < 6; ++i) {
        const auto tune =
            sorvik::synth::Tune(kRate, 16000.0 + 2000.0 * i, (i * 5 + variant) % 12);
        pcm.insert(pcm.end(), tune.begin(), tune.end());
        const auto effect = sorvik::synth::Effect(static_cast<std::uint32_t>(i + 10 * variant),
                                                    3.0, kRate, 24000.0);
        pcm.insert(pcm.end(), effect.begin(), effect.end());
    }
    return sorvik::testing::EncodeAdpcm(pcm, false);
}

// --- Runs of the binary ------------------------------------------------------------------------

#ifdef _WIN32

using sorvik::testing::QuoteArgument;

// Runs `program` with `arguments`, its standard output discarded, and waits for it; false when
// it cannot be started or does not exit with 0. With `peakMegabytes`, that receives the largest
// working set the run reached, in MB (10^6 bytes): the counters of a process are its own.
bool RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                double* peakMegabytes = nullptr) {
    std::string commandLine = QuoteArgument(program);
    for (const std::string& argument : arguments) commandLine += " " + QuoteArgument(argument);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE nullDevice =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    if (nullDevice == INVALID_HANDLE_VALUE) return false;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullDevice;
    startup.hStdOutput = nullDevice;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process) != 0;
    CloseHandle(nullDevice);
    if (!started) return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    const bool succeeded = GetExitCodeProcess(process.hProcess, &exitCode) != 0 && exitCode == 0;
    if (peakMegabytes != nullptr) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        // A peak of 0 (as wine gives for some runs) means the system did not keep the count:
        // the table shows it as unknown.
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters)) &&
            counters.PeakWorkingSetSize != 0) {
            *peakMegabytes = static_cast<double>(counters.PeakWorkingSetSize) / 1e6;
        }
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return succeeded;
}

#else

// Runs `program` with `arguments`, its standard output discarded, and waits for it; false when
// it cannot be started or does not exit with 0. With `peakMegabytes`, that receives the largest
// resident size the run reached, in MB (10^6 bytes). That size counts the memory of the process
// that started it, as it was when it started (see MeasurePeakMemory). posix_spawn, as system()
// uses it, does not copy this process's page tables as fork() would: with the inputs held here,
// that copy added about 20 ms to every timed run.
bool RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                double* peakMegabytes = nullptr) {
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& string : strings) argv.push_back(string.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::fflush(stdout);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (spawned != 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return false;
    }
    if (peakMegabytes != nullptr) {
#ifdef __APPLE__
        const double bytes = static_cast<double>(usage.ru_maxrss);
#else
        const double bytes = static_cast<double>(usage.ru_maxrss) * 1024;  // counted in KiB here
#endif
        *peakMegabytes = bytes / 1e6;
    }
    return true;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char character : text) {
        if (character == '\'') {
            quoted += "'\\''";
        } else {
            quoted += character;
        }
    }
    return quoted + "'";
}

#endif

void RunSorvik(const std::string& binary, const std::vector<std::string>& arguments) {
    if (!RunProgram(binary, arguments)) Fail("a run of " + binary + " failed");
}

// The peak memory of one run of sorvik with `arguments`, in MB; -1 when the system does not
// tell. On POSIX systems a process
// started from this one counts this one's memory, held inputs included, as its own until it
// starts sorvik; so the run is started by this program started anew, small, with
// "--peak-memory-of <sorvik> <arguments>", which prints the peak. On Windows the counters of a
// process are its own, and sorvik is started directly.
double MeasurePeakMemory(const fs::path& self, const std::string& binary,
                         const std::vector<std::string>& arguments) {
    double megabytes = -1;
#ifdef _WIN32
    (void)self;
    if (!RunProgram(binary, arguments, &megabytes)) Fail("a run of " + binary + " failed");
#else
    std::string command = ShellQuote(self.string()) + " --peak-memory-of " + ShellQuote(binary);
    for (const std::string& argument : arguments) command += " " + ShellQuote(argument);
    std::fflush(stdout);
    FILE* report = popen(command.c_str(), "r");
    if (report == nullptr) Fail("cannot start " + command);
    const bool read = std::fscanf(report, "%lf", &megabytes) == 1;
    if (pclose(report) != 0 || !read) Fail("failed: " + command);
#endif
    return megabytes;
}

// The part of this program started anew by MeasurePeakMemory.
int ReportPeakMemory(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    double megabytes = -1;
    if (!RunProgram(argv[0], arguments, &megabytes)) return 1;
    std::printf("%.1f\n", megabytes);
    return 0;
}

// The binary this build made: where the build put it, or, where the build folder was copied
// elsewhere (a Windows build carried to Windows), beside this program's folder.
std::string FindSorvik(const fs::path& self) {
    std::error_code error;
    if (fs::exists(SORVIK_BINARY, error)) return SORVIK_BINARY;
    const fs::path besideFolder =
        self.parent_path().parent_path() / fs::path(SORVIK_BINARY).filename();
    if (fs::exists(besideFolder, error)) return besideFolder.string();
    Fail(std::string("cannot find ") + SORVIK_BINARY);
}

// --- Floors --------------------------------------------------------------------------------------

// Empties `folder`, then waits until the system has written out what earlier runs left in its
// cache, so that no timed run shares the machine with the write-back of the one before (POSIX
// systems; Windows has no such call for a whole system).
void ResetFolder(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
#ifndef _WIN32
    sync();
#endif
}

std::vector<std::uintmax_t> FileSizesIn(const fs::path& folder) {
    std::vector<std::uintmax_t> sizes;
    for (const auto& entry : fs::directory_iterator(folder)) sizes.push_back(entry.file_size());
    return sizes;
}

std::uintmax_t Sum(const std::vector<std::uintmax_t>& sizes) {
    std::uintmax_t total = 0;
    for (const std::uintmax_t size : sizes) total += size;
    return total;
}

// A folder that the floors write new files in, opened once as the program opens its
// destination; each file is written directly under its name.
class FloorFolder {
  public:
    explicit FloorFolder(const fs::path& path)
        : folder_(platform::OpenFolder(path.string().c_str())) {
        if (folder_ == platform::kInvalidFolder) Fail("cannot open " + path.string());
    }
    ~FloorFolder() { platform::CloseFolder(folder_); }
    FloorFolder(const FloorFolder&) = delete;
    FloorFolder& operator=(const FloorFolder&) = delete;

    FileHandle Create(const std::string& name) {
        FileHandle file(platform::CreateNewFileIn(folder_, name.c_str()));
        if (!file.IsOpen()) Fail("cannot create " + name);
        return file;
    }

  private:
    platform::FolderId folder_;
};

// The floor: creating files of these sizes in `folder` and writing them from memory in pieces
// as large as the program's PCM buffer, then closing them.
void WriteFloor(const fs::path& folder, const std::vector<std::uintmax_t>& sizes,
                const Bytes& chunk) {
    FloorFolder floor(folder);
    int index = 0;
    for (const std::uintmax_t size : sizes) {
        FileHandle file = floor.Create("floor" + std::to_string(index++));
        for (std::uintmax_t done = 0; done < size;) {
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uintmax_t>(chunk.size(), size - done));
            if (!file.Write(chunk.data(), piece)) Fail("a write of the floor failed");
            done += piece;
        }
        if (!file.Close()) Fail("a write of the floor failed");
    }
}

// Copying the files of `from` into `folder`, each with one read and one write.
void CopyFloor(const fs::path& from, const fs::path& folder) {
    FloorFolder floor(folder);
    Bytes buffer;
    for (const auto& entry : fs::directory_iterator(from)) {
        FileHandle in = FileHandle::OpenForReading(entry.path().string().c_str());
        buffer.resize(static_cast<std::size_t>(entry.file_size()));
        if (!in.ReadAt(0, buffer.data(), buffer.size())) Fail("a read of the copy floor failed");
        FileHandle out = floor.Create(entry.path().filename().string());
        if (!out.Write(buffer.data(), buffer.size()) || !out.Close()) {
            Fail("a write of the copy floor failed");
        }
    }
}

// --- Decoders in this process ------------------------------------------------------------------

// The straightforward decoder as the program had it: one block after the other into a 64 KiB
// buffer that is written when full.
void ReferenceConversion(const fs::path& folder, const Bytes& image, bool stereo) {
    namespace reference = sorvik::testing::reference;
    FloorFolder output(folder);
    FileHandle file = output.Create("reference.wav");
    const Bytes header(44, 0);
    bool written = file.Write(header.data(), header.size());
    std::vector<std::int16_t> buffer(32 * 1024);
    std::size_t used = 0;
    std::int16_t frames[56];
    reference::History left;
    reference::History right;
    const std::uint8_t* data = image.data() + 48;
    const std::size_t unitBytes = stereo ? 32 : 16;
    const std::size_t units = (image.size() - 48) / unitBytes;
    for (std::size_t u = 0; u < units; ++u) {
        const std::uint8_t* block = data + u * unitBytes;
        if (stereo) {
            reference::DecodeBlock(block, left, frames, 2);
            reference::DecodeBlock(block + 16, right, frames + 1, 2);
        } else {
            reference::DecodeBlock(block, left, frames, 1);
        }
        const std::size_t count = stereo ? 56 : 28;
        if (used + count > buffer.size()) {
            written = file.Write(buffer.data(), used * 2) && written;
            used = 0;
        }
        std::copy(frames, frames + count, buffer.begin() + static_cast<std::ptrdiff_t>(used));
        used += count;
    }
    written = file.Write(buffer.data(), used * 2) && written;
    if (!file.Close() || !written) Fail("a write of the straightforward decoder failed");
}

// sorvik's decoder on the whole image, one buffer-full of PCM (as large as the program's) at a
// time, nothing written.
void DecodeOnly(const Bytes& image, bool stereo, Bytes& pcm) {
    const std::uint8_t* data = image.data() + 48;
    const std::size_t unitBytes = stereo ? sorvik::kAdpcmPairSize : sorvik::kAdpcmBlockSize;
    const std::size_t unitPcmBytes = stereo ? sorvik::kPcmBytesPerPair : sorvik::kPcmBytesPerBlock;
    const std::size_t unitsPerFill = pcm.size() / unitPcmBytes;
    const std::size_t units = (image.size() - 48) / unitBytes;
    sorvik::ChannelHistory left;
    sorvik::ChannelHistory right;
    for (std::size_t done = 0; done < units; done += unitsPerFill) {
        const std::size_t count = std::min(unitsPerFill, units - done);
        if (stereo) {
            sorvik::DecodeStereoPairsToPcm(data + done * unitBytes, count, left, right, pcm.data());
        } else {
            sorvik::DecodeMonoBlocksToPcm(data + done * unitBytes, count, left, pcm.data());
        }
    }
}

// --- The table -----------------------------------------------------------------------------------

struct Row {
    std::string name;
    double seconds;
    double inputMegabytes;      // ADPCM (or archive) bytes handled
    double samples;             // 16-bit samples written, 0 for raw extraction
    double ratio;               // to the floor
    double peakMegabytes = -1;  // of the whole process, -1 for the other rows
};

void PrintTable(const std::vector<Row>& rows) {
    std::printf("| case | median s | MB/s (input) | ns/sample | x floor | peak memory MB |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    for (const Row& row : rows) {
        char nsPerSample[32] = "-";
        if (row.samples > 0) {
            std::snprintf(nsPerSample, sizeof nsPerSample, "%.2f", row.seconds * 1e9 / row.samples);
        }
        char peak[32] = "-";
        if (row.peakMegabytes >= 0) std::snprintf(peak, sizeof peak, "%.1f", row.peakMegabytes);
        std::printf("| %s | %.3f | %.0f | %s | %.2f | %s |\n", row.name.c_str(), row.seconds,
                    row.inputMegabytes / row.seconds, nsPerSample, row.ratio, peak);
    }
}

// --- Encoding ------------------------------------------------------------------------------------

using Samples = std::vector<std::int16_t>;
using sorvik::synth::SineOfTurns;

// Scales `mix` so that its peak becomes `peak`, rounded to samples.
Samples ToPeak(const std::vector<double>& mix, double peak) {
    double largest = 0.0;
    for (const double value : mix) largest = std::max(largest, std::fabs(value));
    Samples samples(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(std::lround(mix[i] * peak / largest));
    }
    return samples;
}

// Three notes of five harmonics each, with a slow tremolo and a slight vibrato.
Samples MusicLike(std::size_t count, double peak) {
    const double notes[3] = {220.0, 277.18, 329.63};
    double phases[3] = {0.0, 0.0, 0.0};
    std::vector<double> mix(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        for (int k = 0; k < 3; ++k) {
            phases[k] += notes[k] * (1.0 + 0.003 * SineOfTurns(5.0 * t + 0.3 * k)) / kRate;
            if (phases[k] >= 1.0) phases[k] -= 1.0;
            const double tremolo = 0.6 + 0.4 * SineOfTurns(0.25 * t + 0.31 * k);
            for (int h = 1; h <= 5; ++h) mix[i] += tremolo * SineOfTurns(phases[k] * h) / h;
        }
    }
    return ToPeak(mix, peak);
}

// Pitch pulses (110-155 Hz) and breath noise through three moving formant resonators, in
// syllables of about a quarter second.
Samples SpeechLike(std::size_t count) {
    std::uint32_t noise = 0x9E3779B9u;
    double pitch = 0.0;
    double state[3][2] = {};
    const double formants[3][2] = {{500, 800}, {1100, 1800}, {2500, 2900}};
    std::vector<double> mix(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
        double excitation = 0.15 * (static_cast<double>(noise) / 2147483648.0 - 1.0);
        pitch += (120 + 25 * SineOfTurns(0.7 * t) + 10 * SineOfTurns(2.3 * t)) / kRate;
        if (pitch >= 1.0) pitch -= 1.0, excitation += 1.0;
        const double syllable = SineOfTurns(1.85 * t);
        excitation *= syllable > 0 ? syllable : 0.02;
        for (int k = 0; k < 3; ++k) {
            const double sweep = 0.5 + 0.5 * SineOfTurns(1.3 * t + 0.2 * k);
            const double frequency = formants[k][0] + (formants[k][1] - formants[k][0]) * sweep;
            const double radius = 0.985 - 0.01 * k;
            const double out = excitation +
                               2 * radius * SineOfTurns(frequency / kRate + 0.25) * state[k][0] -
                               radius * radius * state[k][1];
            state[k][1] = state[k][0], state[k][0] = out;
            mix[i] += out / (k + 1);
        }
    }
    return ToPeak(mix, 20000);
}

// A square wave of 90-130 Hz with slightly softened edges, peaking at 32000.
Samples LoudSquare(std::size_t count) {
    double phase = 0.0, smooth = 0.0;
    std::vector<double> mix(count);
    for (std::size_t i = 0; i < count; ++i) {
        phase += (110 + 20 * SineOfTurns(0.1 * static_cast<double>(i) / kRate)) / kRate;
        if (phase >= 1.0) phase -= 1.0;
        smooth += 0.35 * ((phase < 0.5 ? 1.0 : -1.0) - smooth);
        mix[i] = smooth;
    }
    return ToPeak(mix, 32000);
}

Bytes MonoWav(const Samples& samples) {
    Bytes wav(44 + 2 * samples.size());
    sorvik::WavHeader header;
    sorvik::FillWavHeader(header, static_cast<std::uint32_t>(2 * samples.size()), kRate, 1);
    std::copy(header.begin(), header.end(), wav.begin());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        wav[44 + 2 * i] = static_cast<std::uint8_t>(samples[i]);
        wav[45 + 2 * i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(samples[i]) >> 8);
    }
    return wav;
}

// The round trip of `image` through sorvik's decoder against `samples`: the SNR in dB over the
// input's length and the largest error of a sample.
struct Fidelity {
    double snr;
    int largestError;
};
Fidelity RoundTrip(const Samples& samples, const Bytes& image, std::size_t channels = 1) {
    sorvik::MemorySource source(image.data(), image.size());
    sorvik::testing::MemorySink sink;
    const sorvik::ResultCode decoded =
        channels == 1 ? sorvik::ConvertVagImage(source, 0, image.size(), sink, "x")
                      : sorvik::ConvertSterImage(source, 0, image.size(), sink, "x");
    if (decoded != sorvik::ResultCode::Ok) Fail("an encoded image did not decode");
    const Bytes& wav = sink.files["x"];
    double signal = 0.0, noise = 0.0;
    int largest = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const int in = samples[i];
        const int out = static_cast<std::int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
        signal += static_cast<double>(in) * in;
        noise += static_cast<double>(in - out) * (in - out);
        largest = std::max(largest, std::abs(in - out));
    }
    return {10.0 * std::log10(signal / noise), largest};
}

// The reference searches: every predictor (5) and shift (13) per block, the nibbles either
// greedy (the tests' encoder) or by a beam of four paths that each try their two nearest
// nibbles; the least squared error wins.
namespace beam_reference {

constexpr double kCoefficients[5][2] = {
    {0.0, 0.0}, {60.0 / 64, 0.0}, {115.0 / 64, -52.0 / 64}, {98.0 / 64, -55.0 / 64},
    {122.0 / 64, -60.0 / 64}};

struct Path {
    double s1, s2, error;
    std::int8_t nibbles[28];
};

double Narrow(double value) {
    return std::trunc(std::min(std::max(value + 0.5, -32768.0), 32767.0));
}

// The best path of one predictor and shift, or none when its error reaches `bound`.
bool Search(const std::int16_t* x, const Path& start, int p, int shift, double bound, Path& out) {
    const double step = static_cast<double>(1 << (12 - shift));
    Path paths[4] = {start};
    int count = 1;
    for (int i = 0; i < 28; ++i) {
        Path children[8];
        int made = 0;
        for (int k = 0; k < count; ++k) {
            const Path& path = paths[k];
            const double older = kCoefficients[p][1] * path.s2, newer = kCoefficients[p][0] * path.s1;
            const double residual = (x[i] - (older + newer)) / step;
            const double low = std::min(std::max(std::floor(residual), -8.0), 7.0);
            const double tries[2] = {low, low + 1 <= 7 ? low + 1 : low - 1};
            for (const double n : tries) {
                Path& child = children[made++];
                child = path;
                const double value = (n * step + older) + newer;
                const double miss = Narrow(value) - x[i];
                child.error += miss * miss, child.s2 = path.s1, child.s1 = value;
                child.nibbles[i] = static_cast<std::int8_t>(n);
            }
        }
        std::stable_sort(children, children + made,
                         [](const Path& a, const Path& b) { return a.error < b.error; });
        count = std::min(made, 4);
        std::copy(children, children + count, paths);
        if (paths[0].error >= bound) return false;
    }
    out = paths[0];
    return true;
}

Bytes Encode(const Samples& pcm) {
    Bytes adpcm;
    Path history{};
    for (std::size_t first = 0; first < pcm.size(); first += 28) {
        std::int16_t x[28] = {};
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(first),
                    std::min<std::size_t>(28, pcm.size() - first), x);
        Path best{}, candidate{};
        best.error = HUGE_VAL;
        int header = 0;
        for (int p = 0; p < 5; ++p) {
            for (int shift = 0; shift <= 12; ++shift) {
                Path start = history;
                start.error = 0;
                if (Search(x, start, p, shift, best.error, candidate)) {
                    best = candidate, header = p << 4 | shift;
                }
            }
        }
        adpcm.push_back(static_cast<std::uint8_t>(header));
        adpcm.push_back(0);
        for (int i = 0; i < 28; i += 2) {
            adpcm.push_back(static_cast<std::uint8_t>((best.nibbles[i] & 15) | (best.nibbles[i + 1] & 15) << 4));
        }
        history = best;
    }
    const Bytes end = sorvik::testing::EndBlock();
    adpcm.insert(adpcm.end(), end.begin(), end.end());
    return sorvik::testing::MakeVagImage(adpcm, kRate, "beam", false);
}

}  // namespace beam_reference

Bytes GreedyImage(const Samples& samples) {
    return sorvik::testing::MakeVagImage(sorvik::testing::EncodeAdpcm(samples), kRate, "greedy",
                                         false);
}

Bytes SorvikImage(const Bytes& wav,
                  sorvik::SecondThread threads = sorvik::SecondThread::Automatic) {
    sorvik::MemorySource source(wav.data(), wav.size());
    sorvik::testing::MemorySink sink;
    sorvik::WavRefusal refusal;
    if (sorvik::EncodeWavToImage(source, sink, "x.vag", refusal, nullptr, threads) !=
        sorvik::ResultCode::Ok) {
        Fail("sorvik's encoder failed");
    }
    return std::move(sink.files["x.vag"]);
}

Bytes StereoWav(const Samples& left, const Samples& right) {
    Samples frames(2 * left.size());
    for (std::size_t i = 0; i < left.size(); ++i) frames[2 * i] = left[i], frames[2 * i + 1] = right[i];
    Bytes wav = MonoWav(frames);
    sorvik::WavHeader header;
    sorvik::FillWavHeader(header, static_cast<std::uint32_t>(2 * frames.size()), kRate, 2);
    std::copy(header.begin(), header.end(), wav.begin());
    return wav;
}

// The speed of greedy and of sorvik in `runs` rounds of one run of each, so both meet the same
// state of the shared machine; the ratio is the median of the rounds' ratios.
Paired GreedyAgainstSorvik(int runs, const Samples& samples, const Bytes& wav) {
    return MedianPaired(
        runs, [] {}, [&] { GreedyImage(samples); }, [&] { SorvikImage(wav); });
}

// The sounds of tests/data's VAGp images: their blocks before the end block, decoded.
struct RealSound {
    std::string name;
    Samples samples;
    Bytes blocks;
};
std::vector<RealSound> RealSounds() {
    std::vector<RealSound> sounds;
    const fs::path folder = fs::path(SORVIK_SOURCE_DIR) / "tests" / "data";
    for (const char* name : {"psn00bsdk_3dfx.vag", "psn00bsdk_proyt.vag", "nolibgs_hello.vag",
                             "nolibgs_poly.vag", "nolibgs_hello_poly.vag"}) {
        const Bytes image = sorvik::testing::ReadBytes(folder / name);
        std::size_t end = 48;
        while (end + 16 <= image.size() && image[end + 1] != sorvik::kEndBlockFlag) end += 16;
        Samples samples;
        sorvik::testing::reference::DecodeMonoBlocks(image.data() + 48, (end - 48) / 16, samples);
        sounds.push_back({name, samples, Bytes(image.begin() + 48, image.begin() + end)});
    }
    return sounds;
}

void PrintEncodingTable(int runs) {
    const std::size_t count = 20 * kRate;
    const std::pair<const char*, Samples> signals[] = {
        {"music-like", MusicLike(count, 16000)},
        {"speech-like", SpeechLike(count)},
        {"loud square", LoudSquare(count)},
        {"quiet (-40 dBFS)", MusicLike(count, 327.68)},
    };
    std::printf("\nencoding 20 s at 44.1 kHz, mono; speeds are medians of %d rounds of greedy and "
                "sorvik in turn; MB = 10^6 bytes of WAV; dB: SNR; max: the largest error of a "
                "sample\n\n", runs);
    std::printf("| signal | greedy dB | beam-4 dB | sorvik dB | gain over beam-4 | greedy max | "
                "beam-4 max | sorvik max | greedy MB/s | sorvik MB/s | x greedy |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const auto& signal : signals) {
        const Samples& samples = signal.second;
        const Bytes wav = MonoWav(samples);
        const double megabytes = static_cast<double>(wav.size()) / 1e6;
        const Paired speed = GreedyAgainstSorvik(runs, samples, wav);
        const Fidelity greedy = RoundTrip(samples, GreedyImage(samples));
        const Fidelity beam = RoundTrip(samples, beam_reference::Encode(samples));
        const Fidelity mine = RoundTrip(samples, SorvikImage(wav));
        std::printf("| %s | %.3f | %.3f | %.3f | %+.3f | %d | %d | %d | %.1f | %.1f | %.2f |\n",
                    signal.first, greedy.snr, beam.snr, mine.snr, mine.snr - beam.snr,
                    greedy.largestError, beam.largestError, mine.largestError,
                    megabytes / speed.floorSeconds, megabytes / speed.caseSeconds,
                    1.0 / speed.ratio);
    }

    std::printf("\ntests/data's images decoded (on-grid) and re-encoded by sorvik; and scaled by "
                "0.891 first (off-grid)\n\n");
    std::printf("| sound | on-grid: blocks making the same samples | the same bytes (byte 1 "
                "aside) | on-grid sorvik dB | off-grid greedy dB | off-grid beam-4 dB | off-grid "
                "sorvik dB |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
    double sums[3] = {};
    const auto sounds = RealSounds();
    for (const auto& [name, decoded, original] : sounds) {
        const Bytes again = SorvikImage(MonoWav(decoded));
        Samples redecoded;
        const std::size_t blocks = decoded.size() / 28;
        sorvik::testing::reference::DecodeMonoBlocks(again.data() + 48, blocks, redecoded);
        std::size_t exact = 0, sameBytes = 0;
        for (std::size_t b = 0; b < blocks; ++b) {
            const std::uint8_t* mine = again.data() + 48 + 16 * b;
            sameBytes += mine[0] == original[16 * b] &&
                         std::equal(mine + 2, mine + 16, original.begin() + 16 * b + 2);
            exact += std::equal(decoded.begin() + static_cast<std::ptrdiff_t>(28 * b),
                                decoded.begin() + static_cast<std::ptrdiff_t>(28 * b + 28),
                                redecoded.begin() + static_cast<std::ptrdiff_t>(28 * b));
        }
        Samples scaled(decoded.size());
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            scaled[i] = static_cast<std::int16_t>(std::lround(decoded[i] * 0.891));
        }
        const double off[3] = {RoundTrip(scaled, GreedyImage(scaled)).snr,
                               RoundTrip(scaled, beam_reference::Encode(scaled)).snr,
                               RoundTrip(scaled, SorvikImage(MonoWav(scaled))).snr};
        for (int k = 0; k < 3; ++k) sums[k] += off[k] / static_cast<double>(sounds.size());
        std::printf("| %s | %zu of %zu | %zu | %.2f | %.3f | %.3f | %.3f |\n", name.c_str(), exact,
                    blocks, sameBytes, RoundTrip(decoded, again).snr, off[0], off[1], off[2]);
    }
    std::printf("| mean | | | | %.3f | %.3f | %.3f |\n", sums[0], sums[1], sums[2]);

    const std::size_t longCount = 600 * kRate;
    const Samples left = MusicLike(longCount, 16000);
    const Bytes wav = MonoWav(left);
    const double megabytes = static_cast<double>(wav.size()) / 1e6;
    const Paired speed = GreedyAgainstSorvik(std::max(1, runs / 2), left, wav);
    std::printf("\n10 minutes at 44.1 kHz (music-like), medians of %d rounds\n\n",
                std::max(1, runs / 2));
    std::printf("| input | greedy MB/s | sorvik MB/s | x greedy |\n|---|---:|---:|---:|\n");
    std::printf("| mono, one thread | %.1f | %.1f | %.2f |\n", megabytes / speed.floorSeconds,
                megabytes / speed.caseSeconds, 1.0 / speed.ratio);
    // The same mono sound, block by block, with each kind of search arithmetic this processor
    // runs against the greedy search (on the first minute).
    using sorvik::adpcm_detail::Kernel;
    const Samples minute(left.begin(), left.begin() + 60 * kRate + 28);
    const std::size_t minuteBlocks = 60 * kRate / 28;
    for (const Kernel kernel : {Kernel::Portable, Kernel::Sse2, Kernel::Avx2}) {
        if (!sorvik::adpcm_detail::KernelRuns(kernel)) continue;
        const Paired kind = MedianPaired(
            std::max(1, runs / 2), [] {}, [&] { GreedyImage(minute); },
            [&] {
                sorvik::EncoderChannel channel;
                std::uint8_t block[16];
                for (std::size_t b = 0; b < minuteBlocks; ++b) {
                    sorvik::adpcm_detail::EncodeAdpcmBlockWith(kernel, &minute[28 * b], 1, 0,
                                                               channel, block, nullptr,
                                                               &minute[28 * b + 28]);
                }
            });
        const char* names[] = {"plain floats", "SSE", "AVX2"};
        std::printf("| mono, one thread, %s search | | %.1f | %.2f |\n",
                    names[static_cast<int>(kernel)],
                    static_cast<double>(2 * 28 * minuteBlocks) / 1e6 / kind.caseSeconds,
                    1.0 / kind.ratio);
    }
    const Bytes stereo = StereoWav(left, MusicLike(longCount, 12000));
    const double stereoMegabytes = static_cast<double>(stereo.size()) / 1e6;
    const Paired threads = MedianPaired(
        std::max(1, runs / 2), [] {},
        [&] { SorvikImage(stereo, sorvik::SecondThread::Never); },
        [&] { SorvikImage(stereo, sorvik::SecondThread::Always); });
    std::printf("| stereo, one thread | | %.1f | |\n", stereoMegabytes / threads.floorSeconds);
    std::printf("| stereo, two threads | | %.1f | (%.2f x one thread) |\n",
                stereoMegabytes / threads.caseSeconds, 1.0 / threads.ratio);
    if (SorvikImage(stereo, sorvik::SecondThread::Never) !=
        SorvikImage(stereo, sorvik::SecondThread::Always)) {
        Fail("the stereo image depends on the threads");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--peak-memory-of") {
        return ReportPeakMemory(argc - 2, argv + 2);
    }
    if (argc > 1 && std::string(argv[1]) == "--encoding") {
        PrintEncodingTable(argc > 2 ? std::max(1, std::atoi(argv[2])) : 5);
        return 0;
    }
    const fs::path self = fs::absolute(argv[0]);
    const std::string sorvik = FindSorvik(self);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::random_device seed;
    const fs::path root =
        fs::temp_directory_path() / ("sorvik_bench_" + std::to_string(seed() % 1000000));
    const fs::path inputs = root / "in";
    const fs::path out = root / "out";
    fs::create_directories(inputs);
    fs::create_directories(out);

    std::printf("making inputs in %s ...\n", root.string().c_str());
    std::fflush(stdout);
    const Bytes left = Tile(EncodedMaterial(0), kLooseDataBytes / 2);
    const Bytes right = Tile(EncodedMaterial(1), kLooseDataBytes / 2);
    const Bytes mono =
        sorvik::testing::MakeVagImage(Tile(left, kLooseDataBytes), kRate, "bench", false);
    const Bytes stereo = sorvik::testing::MakeSterImage(left, right, kRate, "bench", false);
    WriteFile(inputs / "MONO.VAG", mono);
    WriteFile(inputs / "STEREO.VAG", stereo);
    const fs::path archiveFolder = root / "archive";
    fs::create_directories(archiveFolder);
    const std::uint64_t archiveSize = sorvik::testing::WriteArchive(
        sorvik::bench::MakeRealisticArchive(),
        archiveFolder);
    const std::string archive = (archiveFolder / "SOUND.SFS").string();

    const Bytes chunk(sorvik::PcmBuffer::kMaxCapacity, 0x55);
    const auto clearOut = [&] { ResetFolder(out); };
    std::vector<Row> rows;

    // Loose files: each against writing one file of its WAV's size.
    struct Loose {
        const char* name;
        const Bytes& image;
        fs::path path;
        bool stereo;
    };
    for (const Loose& loose : {Loose{"mono VAG", mono, inputs / "MONO.VAG", false},
                               Loose{"stereo STER", stereo, inputs / "STEREO.VAG", true}}) {
        const std::vector<std::string> arguments{loose.path.string(), out.string()};
        clearOut();
        const double peak = MeasurePeakMemory(self, sorvik, arguments);
        const std::vector<std::uintmax_t> sizes = FileSizesIn(out);
        if (sizes.size() != 1) Fail("sorvik did not write one WAV for " + loose.path.string());
        const double samples = static_cast<double>(Sum(sizes) - 44) / 2;
        const double megabytes = static_cast<double>(loose.image.size() - 48) / 1e6;
        const Paired process = MedianPaired(
            runs, clearOut, [&] { WriteFloor(out, sizes, chunk); },
            [&] { RunSorvik(sorvik, arguments); });
        const double floor = process.floorSeconds;
        const double reference = Median(
            runs, clearOut, [&] { ReferenceConversion(out, loose.image, loose.stereo); });
        Bytes pcm(chunk.size());
        const double decodeOnly = Median(
            runs, [] {}, [&] { DecodeOnly(loose.image, loose.stereo, pcm); });
        const std::string name = loose.name;
        rows.push_back({name + ": write floor", floor, megabytes, samples, 1.0});
        rows.push_back({name + ": sorvik, whole process", process.caseSeconds, megabytes, samples,
                        process.ratio, peak});
        rows.push_back({name + ": sorvik's decoder alone, no writing", decodeOnly, megabytes,
                        samples, decodeOnly / floor});
        rows.push_back(
            {name + ": straightforward decoder", reference, megabytes, samples, reference / floor});
    }

    // The archive, decoded and raw.
    {
        const std::vector<std::string> arguments{archive, out.string()};
        clearOut();
        const double peak = MeasurePeakMemory(self, sorvik, arguments);
        const std::vector<std::uintmax_t> sizes = FileSizesIn(out);
        const double samples = static_cast<double>(Sum(sizes) - 44 * sizes.size()) / 2;
        const double megabytes = static_cast<double>(archiveSize) / 1e6;
        const Paired process = MedianPaired(
            runs, clearOut, [&] { WriteFloor(out, sizes, chunk); },
            [&] { RunSorvik(sorvik, arguments); });
        rows.push_back(
            {"archive to WAV: write floor", process.floorSeconds, megabytes, samples, 1.0});
        rows.push_back({"archive to WAV: sorvik, whole process", process.caseSeconds, megabytes,
                        samples, process.ratio, peak});
    }
    {
        const fs::path raw = root / "raw";
        ResetFolder(raw);
        const double peak = MeasurePeakMemory(self, sorvik, {"-x", archive, raw.string()});
        const double megabytes = static_cast<double>(Sum(FileSizesIn(raw))) / 1e6;
        const Paired process = MedianPaired(
            runs, clearOut, [&] { CopyFloor(raw, out); },
            [&] { RunSorvik(sorvik, {"-x", archive, out.string()}); });
        rows.push_back({"archive raw (-x): copy floor", process.floorSeconds, megabytes, 0, 1.0});
        rows.push_back({"archive raw (-x): sorvik, whole process", process.caseSeconds, megabytes,
                        0, process.ratio, peak});
    }

    fs::remove_all(root);
    std::printf(
        "\nmedians of %d runs; MB = 10^6 bytes of ADPCM input (archive: its file size; "
        "raw: bytes written)\n\n",
        runs);
    PrintTable(rows);
    PrintEncodingTable(runs);
    return 0;
}
