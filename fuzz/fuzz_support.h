#pragma once

// Shared by the fuzz targets: a private folder for the files a target writes, checks of what
// lands there, and the start-up that keeps libFuzzer's own files out of that folder.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "common/result_code.h"

namespace sorvik::fuzz {

namespace fs = std::filesystem;

// Stops the run so libFuzzer records the input that broke an expectation.
[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

inline std::vector<std::uint8_t> ReadFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const fs::path& path, const std::uint8_t* bytes, std::size_t size) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    if (!stream) Fail("cannot write " + path.string());
}

inline std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) | bytes[offset + 1] << 8 |
           bytes[offset + 2] << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

// A folder of this process under the temporary folder ($TMPDIR):
//   <root>/input  inputs the target writes for the code under test
//   <root>/work   the current directory while the code runs: every output must land here
// Removed with everything in it when the process ends normally.
class Sandbox {
  public:
    static Sandbox& Get() {
        static Sandbox sandbox;
        return sandbox;
    }

    const fs::path& Input() const { return input_; }
    const fs::path& Work() const { return work_; }

    // Checks that the run created nothing but plain files in work/ and nothing beside work/ and
    // input/, then empties work/.
    void CheckAndClear() {
        for (const auto& entry : fs::directory_iterator(root_)) {
            if (entry.path() != input_ && entry.path() != work_) {
                Fail("written outside the destination: " + entry.path().string());
            }
        }
        for (const auto& entry : fs::directory_iterator(work_)) {
            if (!entry.is_regular_file()) Fail("not a plain file: " + entry.path().string());
            fs::remove(entry.path());
        }
    }

  private:
    Sandbox() {
        std::random_device random;
        root_ = fs::temp_directory_path() /
                ("sorvik-fuzz-" + std::to_string(random()) + std::to_string(random()));
        input_ = root_ / "input";
        work_ = root_ / "work";
        fs::create_directories(input_);
        fs::create_directories(work_);
    }
    ~Sandbox() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path root_;
    fs::path input_;
    fs::path work_;
};

// Makes work/ the current directory for one input: outputs are created by bare name. The
// previous directory comes back afterwards, so libFuzzer's corpus folders given as relative
// paths keep working, and work/ is checked and emptied.
class InWorkFolder {
  public:
    InWorkFolder() : previous_(fs::current_path()) { fs::current_path(Sandbox::Get().Work()); }
    ~InWorkFolder() {
        fs::current_path(previous_);
        Sandbox::Get().CheckAndClear();
    }
    InWorkFolder(const InWorkFolder&) = delete;
    InWorkFolder& operator=(const InWorkFolder&) = delete;

  private:
    fs::path previous_;
};

// Checks that a WAV file written in work/ is what its header says: "RIFF", the RIFF size and
// the data size counting exactly the bytes in the file, 16-bit PCM of `channels` channels.
inline void CheckWavFile(const fs::path& path, unsigned channels) {
    const std::vector<std::uint8_t> wav = ReadFile(path);
    if (wav.size() < 44) Fail("WAV shorter than its header: " + path.string());
    if (std::memcmp(wav.data(), "RIFF", 4) != 0 ||
        std::memcmp(wav.data() + 8, "WAVEfmt ", 8) != 0 ||
        std::memcmp(wav.data() + 36, "data", 4) != 0) {
        Fail("WAV header damaged: " + path.string());
    }
    if (Le32(wav, 4) != wav.size() - 8 || Le32(wav, 40) != wav.size() - 44) {
        Fail("WAV sizes do not count the bytes written: " + path.string());
    }
    if ((wav[22] | wav[23] << 8) != static_cast<int>(channels) ||
        (wav.size() - 44) % (2 * channels)) {
        Fail("WAV channels or frames wrong: " + path.string());
    }
}

// Checks the result of an archive extractor: only Ok, a read failure or a format failure can come
// of a damaged archive on a healthy disk.
inline void CheckArchiveResult(ResultCode result) {
    if (result != ResultCode::Ok && result != ResultCode::ReadFailed &&
        result != ResultCode::UnknownFormat) {
        Fail("unexpected result " + std::to_string(static_cast<int>(result)));
    }
}

// Checks every file an archive extractor wrote into work/ and returns how many there are. Decoded,
// each is a WAV file of `channels` channels (CheckWavFile); raw, each is its 48-byte header and the
// data its size field at offset 4 names, for each of the `channels` channels.
inline std::size_t CheckExtractedImages(bool decode, unsigned channels) {
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(".")) {
        ++files;
        if (decode) {
            CheckWavFile(entry.path(), channels);
            continue;
        }
        const std::vector<std::uint8_t> image = ReadFile(entry.path());
        if (image.size() < 48 || image.size() != 48 + channels * std::uint64_t{Le32(image, 4)}) {
            Fail("raw image is not its header and data: " + entry.path().string());
        }
    }
    return files;
}

// Start-up shared by every target: the console messages of the code under test go nowhere,
// and crash reproducers are written to the folder the fuzzer started in unless the command
// line says otherwise (a crash can strike while work/ is the current directory).
inline void Initialize(int* argc, char*** argv) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("cannot silence stdout");
    Sandbox::Get();
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp((*argv)[i], "-artifact_prefix=", 17) == 0 ||
            std::strncmp((*argv)[i], "-exact_artifact_path=", 21) == 0) {
            return;
        }
    }
    static std::string prefix = "-artifact_prefix=" + fs::current_path().string() + "/";
    static std::vector<char*> arguments;
    arguments.assign(*argv, *argv + *argc);
    arguments.push_back(prefix.data());
    arguments.push_back(nullptr);
    *argc += 1;
    *argv = arguments.data();
}

}  // namespace sorvik::fuzz

// libFuzzer's start-up hook, the same for every target; each target is one source file that
// includes this header once.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    sorvik::fuzz::Initialize(argc, argv);
    return 0;
}
