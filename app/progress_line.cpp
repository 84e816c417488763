#include "app/progress_line.h"

#include <algorithm>
#include <cstdio>

#include "app/console.h"

namespace sorvik {
namespace {

// A sound is long work, worth a progress line, once it has taken this long.
constexpr std::chrono::milliseconds kShownAfter{1000};
constexpr std::chrono::milliseconds kRedrawnAfter{200};

}  // namespace

std::string ProgressText(std::uint64_t done, std::uint64_t total, double seconds) {
    const unsigned percent =
        total == 0 ? 100u : static_cast<unsigned>(std::min(done, total) * 100 / total);
    const double megabytesPerSecond = seconds > 0 ? static_cast<double>(done) / seconds / 1e6 : 0;
    char text[48];
    std::snprintf(text, sizeof(text), "%4u%% %.1f MB/s", percent, megabytesPerSecond);
    return text;
}

void ProgressLine::Update(std::uint64_t done, std::uint64_t total) {
    const Clock::time_point now = Clock::now();
    if (!started_ || done < done_) {
        Clear();
        started_ = now;
    }
    done_ = done;
    if (now - *started_ < kShownAfter || (shown_ > 0 && now - drawn_ < kRedrawnAfter)) return;
    const std::chrono::duration<double> seconds = now - *started_;
    Draw(ProgressText(done, total, seconds.count()));
    drawn_ = now;
}

void ProgressLine::Clear() {
    if (shown_ > 0) Draw(std::string());
    started_.reset();
    done_ = 0;
}

// Steps back over the text shown (backspaces never leave the line, nor touch what stood on it
// before), then writes `text`, blanking what the old text had beyond it.
void ProgressLine::Draw(const std::string& text) {
    std::string out(shown_, '\b');
    out += text;
    if (text.size() < shown_) {
        const std::size_t surplus = shown_ - text.size();
        out.append(surplus, ' ');
        out.append(surplus, '\b');
    }
    console::PutError(out.c_str());
    shown_ = text.size();
}

}  // namespace sorvik
