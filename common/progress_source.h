#pragma once

#include <algorithm>
#include <cstdint>

#include "common/byte_source.h"
#include "common/reporter.h"

namespace sorvik {

// A source whose reads of one sound, the `length` bytes from `begin`, are told to a reporter
// as progress (Reporter::Progress): the furthest byte read so far, each time it passes another
// percent of the sound. Reads go to `source` unchanged.
class ProgressSource final : public ByteSource {
  public:
    ProgressSource(ByteSource& source, Reporter& reporter, std::uint64_t begin,
                   std::uint64_t length)
        : source_(source), reporter_(reporter), begin_(begin), length_(length) {}

    std::uint64_t Size() const override { return source_.Size(); }
    std::optional<platform::FileIdentity> Identity() const override { return source_.Identity(); }

    bool ReadAt(std::uint64_t offset, void* bytes, std::size_t byteCount) override {
        const bool read = source_.ReadAt(offset, bytes, byteCount);
        if (read && length_ > 0 && offset + byteCount > begin_) {
            const std::uint64_t done = std::min(offset + byteCount - begin_, length_);
            if (done > done_ && Percent(done) > Percent(done_)) reporter_.Progress(done, length_);
            done_ = std::max(done_, done);
        }
        return read;
    }

  private:
    std::uint64_t Percent(std::uint64_t done) const { return done / (length_ / 100 + 1); }

    ByteSource& source_;
    Reporter& reporter_;
    std::uint64_t begin_;
    std::uint64_t length_;
    std::uint64_t done_ = 0;
};

}  // namespace sorvik
