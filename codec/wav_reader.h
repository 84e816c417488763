#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/byte_source.h"
#include "common/result_code.h"

// Reading the layout of a RIFF/WAVE file: its format, where its samples are, and its loop. Only
// the chunk headers (up to 64 KiB of the file at a time) and the few bytes of "fmt " and "smpl"
// are read, each after its size was checked against the file; nothing is allocated by what a
// header says.
namespace sorvik {

// A WAV file that is sound, but in a format the encoder does not take. `format` names it in a
// few words, such as "8-bit PCM", "32-bit float", "6 channels" or "IMA ADPCM (format 0x0011)".
struct WavRefusal {
    std::string format;  // empty: nothing was refused
};

// A loop in sample frames: `start` is its first frame, `end` its last (inclusive, as "smpl"
// counts it).
struct WavLoop {
    std::uint64_t start;
    std::uint64_t end;
};

// What the encoder needs of a 16-bit PCM WAV file.
struct WavInfo {
    std::uint16_t channels = 0;  // 1 or 2
    std::uint32_t sampleRate = 0;
    std::uint64_t frameCount = 0;  // whole frames of the "data" chunk
    std::uint64_t dataOffset = 0;  // of the first sample in the file
    std::optional<WavLoop> loop;   // the first forward loop of "smpl" that lies within the sound
};

// Reads the layout of the WAV file that is all of `source`. The chunks are walked from the
// RIFF header to the end of the file or of the RIFF form, whichever comes first; an odd-sized
// chunk is followed by a pad byte (which the last chunk may lack). Takes the first "fmt ",
// "data" and "smpl" chunks. Any other chunk that runs past the end ends the walk, as trailing
// garbage would; the "fmt " and "data" chunks must have been found by then.
//
// Returns Ok and fills `info` for 16-bit PCM (format 1, or WAVE_FORMAT_EXTENSIBLE whose
// subformat is PCM) with 1 or 2 channels. Any other well-formed format is UnknownFormat with
// `refusal` naming it. A file that is not a WAV file, or is damaged (no "fmt " or "data" chunk,
// a "fmt " chunk too short, 0 channels or a rate of 0, a "fmt " or "data" chunk that runs past
// the end of the file), is UnknownFormat with `refusal` left empty. ReadFailed when the source
// failed to read; OutOfMemory when the 64 KiB the chunk headers are read through could not be
// allocated.
ResultCode ReadWavInfo(ByteSource& source, WavInfo& info, WavRefusal& refusal);

}  // namespace sorvik
