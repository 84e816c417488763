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
// It also reports the peak memory of one run of the binary on each input (on POSIX systems).
// Usage: sorvik_bench [runs]   (default 5)

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
// The benchmark asks the system directly for the peak memory of the runs it starts.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "codec/adpcm.h"
#include "codec/adpcm_fast.h"
#include "codec/pcm_writer.h"
#include "common/file_handle.h"
#include "tests/support/adpcm_encoder.h"
#include "tests/support/archive_generator.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/sound_synth.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using sorvik::FileHandle;

constexpr std::size_t kLooseDataBytes = 100 * 1000 * 1000;
constexpr std::uint32_t kRate = 44100;

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
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
        std::exit(1);
    }
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
            sorvik::testing::Tune(kRate, 16000.0 + 2000.0 * i, (i * 5 + variant) % 12);
        pcm.insert(pcm.end(), tune.begin(), tune.end());
        const auto effect = sorvik::testing::Effect(static_cast<std::uint32_t>(i + 10 * variant),
                                                    3.0, kRate, 24000.0);
        pcm.insert(pcm.end(), effect.begin(), effect.end());
    }
    return sorvik::testing::EncodeAdpcm(pcm, false);
}

void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// The peak memory of a run of sorvik is measured by this program started anew with
// "--peak-memory-of <sorvik> <arguments>": it runs sorvik with its output discarded and prints
// the largest resident size sorvik reached, in MB (10^6 bytes). A fresh, small process is needed
// because a process started from this one counts this one's memory, held inputs included, until
// it starts sorvik.
int ReportPeakMemory(char** command) {
#ifdef _WIN32
    (void)command;
    return 1;
#else
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        execv(command[0], command);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return 1;
    }
#ifdef __APPLE__
    const double bytes = static_cast<double>(usage.ru_maxrss);
#else
    const double bytes = static_cast<double>(usage.ru_maxrss) * 1024;  // counted in KiB here
#endif
    std::printf("%.1f\n", bytes / 1e6);
    return 0;
#endif
}

std::string Quote(const fs::path& path) { return "\"" + path.string() + "\""; }

#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

std::string SorvikCommand(const std::vector<std::string>& arguments) {
    std::string command = Quote(SORVIK_BINARY);
    for (const std::string& argument : arguments) command += " " + argument;
    return command + " > " + kNullDevice;
}

// Runs sorvik with `arguments` (quoted) through `self`, this program, and returns its peak memory
// in MB; -1 where it cannot be measured.
double RunMeasuringPeakMemory(const fs::path& self, const std::vector<std::string>& arguments) {
#ifdef _WIN32
    Run(SorvikCommand(arguments));
    return -1;
#else
    std::string command = Quote(self) + " --peak-memory-of " + Quote(SORVIK_BINARY);
    for (const std::string& argument : arguments) command += " " + argument;
    FILE* report = popen(command.c_str(), "r");
    double megabytes = -1;
    if (report == nullptr || std::fscanf(report, "%lf", &megabytes) != 1 || pclose(report) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return megabytes;
#endif
}

// Empties `folder`, then waits until the system has written out what earlier runs left in its
// cache, so that no timed run shares the machine with the write-back of the one before.
void ResetFolder(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
#ifndef _WIN32
    Run("sync");
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

// The floor: creating files of these sizes in `folder` and writing them from memory in pieces
// as large as the decoder's, then closing them.
void WriteFloor(const fs::path& folder, const std::vector<std::uintmax_t>& sizes,
                const Bytes& chunk) {
    int index = 0;
    for (const std::uintmax_t size : sizes) {
        const std::string name = (folder / ("floor" + std::to_string(index++))).string();
        FileHandle file = FileHandle::CreateForWriting(name.c_str());
        for (std::uintmax_t done = 0; done < size;) {
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uintmax_t>(chunk.size(), size - done));
            if (!file.Write(chunk.data(), piece)) std::exit(1);
            done += piece;
        }
        if (!file.Close()) std::exit(1);
    }
}

// Copying the files of `from` into `folder`, each with one read and one write.
void CopyFloor(const fs::path& from, const fs::path& folder) {
    Bytes buffer;
    for (const auto& entry : fs::directory_iterator(from)) {
        FileHandle in = FileHandle::OpenForReading(entry.path().string().c_str());
        buffer.resize(static_cast<std::size_t>(entry.file_size()));
        if (!in.ReadExact(buffer.data(), buffer.size())) std::exit(1);
        const std::string name = (folder / entry.path().filename()).string();
        FileHandle out = FileHandle::CreateForWriting(name.c_str());
        if (!out.Write(buffer.data(), buffer.size()) || !out.Close()) std::exit(1);
    }
}

// The straightforward decoder as the program had it: one block after the other into a 64 KiB
// buffer that is written when full.
void ReferenceConversion(const fs::path& output, const Bytes& image, bool stereo) {
    namespace reference = sorvik::testing::reference;
    FileHandle file = FileHandle::CreateForWriting(output.string().c_str());
    Bytes header(44, 0);
    file.Write(header.data(), header.size());
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
            file.Write(buffer.data(), used * 2);
            used = 0;
        }
        std::copy(frames, frames + count, buffer.begin() + static_cast<std::ptrdiff_t>(used));
        used += count;
    }
    file.Write(buffer.data(), used * 2);
    file.Close();
}

// sorvik's decoder on the whole image, one buffer-full of PCM (as large as the program's) at a
// time, nothing written.
void DecodeOnly(const Bytes& image, bool stereo, Bytes& pcm) {
    const std::uint8_t* data = image.data() + 48;
    const std::size_t unitBytes = stereo ? 32 : 16;
    const std::size_t unitPcmBytes =
        stereo ? 2 * sorvik::kPcmBytesPerBlock : sorvik::kPcmBytesPerBlock;
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

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--peak-memory-of") return ReportPeakMemory(argv + 2);
    const fs::path self = fs::absolute(argv[0]);
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
    const sorvik::testing::ArchiveLayout layout = sorvik::testing::WriteArchive(
        sorvik::testing::MakeArchiveContents(sorvik::testing::ArchiveOptions::Realistic()),
        archiveFolder);
    const fs::path archive = archiveFolder / "SOUND.SFS";

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
        clearOut();
        const double peak = RunMeasuringPeakMemory(self, {Quote(loose.path), Quote(out)});
        const std::vector<std::uintmax_t> sizes = FileSizesIn(out);
        const double samples = static_cast<double>(Sum(sizes) - 44) / 2;
        const double megabytes = static_cast<double>(loose.image.size() - 48) / 1e6;
        const Paired process = MedianPaired(
            runs, clearOut, [&] { WriteFloor(out, sizes, chunk); },
            [&] {
                Run(SorvikCommand({Quote(loose.path), Quote(out)}));
            });
        const double floor = process.floorSeconds;
        const double reference = Median(runs, clearOut, [&] {
            ReferenceConversion(out / "reference.wav", loose.image, loose.stereo);
        });
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
        const std::string command = SorvikCommand({Quote(archive), Quote(out)});
        clearOut();
        const double peak = RunMeasuringPeakMemory(self, {Quote(archive), Quote(out)});
        const std::vector<std::uintmax_t> sizes = FileSizesIn(out);
        const double samples = static_cast<double>(Sum(sizes) - 44 * sizes.size()) / 2;
        const double megabytes = static_cast<double>(layout.fileSize) / 1e6;
        const Paired process = MedianPaired(
            runs, clearOut, [&] { WriteFloor(out, sizes, chunk); }, [&] { Run(command); });
        rows.push_back(
            {"archive to WAV: write floor", process.floorSeconds, megabytes, samples, 1.0});
        rows.push_back({"archive to WAV: sorvik, whole process", process.caseSeconds, megabytes,
                        samples, process.ratio, peak});
    }
    {
        const std::string command = SorvikCommand({"-x", Quote(archive), Quote(out)});
        const fs::path raw = root / "raw";
        ResetFolder(raw);
        const double peak = RunMeasuringPeakMemory(self, {"-x", Quote(archive), Quote(raw)});
        const double megabytes = static_cast<double>(Sum(FileSizesIn(raw))) / 1e6;
        const Paired process = MedianPaired(
            runs, clearOut, [&] { CopyFloor(raw, out); }, [&] { Run(command); });
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
    return 0;
}
