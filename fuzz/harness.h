#pragma once

// Shared by the fuzz targets, which run everything in memory through the tests' in-memory
// sources and sinks: a broken expectation stops the run, and libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/byte_order.h"
#include "common/output_names.h"
#include "tests/support/memory_io.h"

namespace sorvik::fuzz {

using testing::Bytes;

inline void Expect(bool holds, const std::string& what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

// A WAV file of 16-bit PCM in `channels` channels, in whole frames, whose RIFF and data sizes
// count exactly its bytes.
inline void ExpectWav(const Bytes& wav, unsigned channels, const std::string& name) {
    const std::uint8_t* bytes = wav.data();
    Expect(wav.size() >= 44 && std::memcmp(bytes, "RIFF", 4) == 0 &&
               std::memcmp(bytes + 8, "WAVEfmt ", 8) == 0 &&
               std::memcmp(bytes + 36, "data", 4) == 0 && LoadLe32(bytes + 4) == wav.size() - 8 &&
               LoadLe32(bytes + 40) == wav.size() - 44 && LoadLe16(bytes + 22) == channels &&
               (wav.size() - 44) % (2 * channels) == 0,
           "not a whole WAV file of " + std::to_string(channels) + " channels: " + name);
}

// A name that, created in the destination folder, is a file of that folder and nothing else: no
// separator, drive or control byte, not only dots, not one of sorvik's temporary files.
inline void ExpectBareSafeName(const std::string& name) {
    bool safe = name.find_first_not_of('.') != std::string::npos &&
                name.rfind(kTemporaryNamePrefix, 0) != 0;
    for (const char c : name) {
        safe = safe && static_cast<unsigned char>(c) >= 0x20 && !std::strchr("/\\:", c);
    }
    Expect(safe, "unsafe output name: " + name);
}

}  // namespace sorvik::fuzz
