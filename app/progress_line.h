#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace sorvik {

// The text of a progress line: the share of `total` that `done` is, in whole percent, and the
// speed over `seconds` in MB/s (10^6 bytes): "  42% 12.3 MB/s".
std::string ProgressText(std::uint64_t done, std::uint64_t total, double seconds);

// A progress line on standard error for a sound that takes long: shown once the sound has
// taken a second, redrawn in place at most five times a second, and taken away again by Clear.
// It is drawn after whatever the line shows already (the running count of the transcript, when
// standard output is the same terminal), and leaves that as it was.
class ProgressLine {
  public:
    // `done` of the sound's `total` bytes are read; a smaller `done` than before starts a sound.
    void Update(std::uint64_t done, std::uint64_t total);
    // Takes the progress text away, and forgets the sound.
    void Clear();

  private:
    using Clock = std::chrono::steady_clock;
    void Draw(const std::string& text);

    std::optional<Clock::time_point> started_;  // when the current sound began
    Clock::time_point drawn_;                   // when the text was last drawn
    std::uint64_t done_ = 0;
    std::size_t shown_ = 0;  // characters of text on the line now
};

}  // namespace sorvik
