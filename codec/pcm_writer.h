#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/file_handle.h"

namespace sorvik {

// A fixed buffer for decoded PCM bytes that is written to a file in large pieces. Lives on the
// stack of one decode call (no heap); the file receives exactly the bytes committed, in order.
class PcmWriter {
  public:
    // Room for 4096 mono blocks or 2048 stereo block pairs: large enough that the decoder's
    // chains run long between cuts, small enough for the stack and the second-level cache.
    static constexpr std::size_t kCapacity = 224 * 1024;

    explicit PcmWriter(FileHandle& file) : file_(file) {}
    PcmWriter(const PcmWriter&) = delete;
    PcmWriter& operator=(const PcmWriter&) = delete;

    // Space for `byteCount` (at most kCapacity) more bytes, flushing the buffer first when it
    // lacks room; nullptr when that write failed. The bytes count once Commit is called.
    std::uint8_t* Reserve(std::size_t byteCount) {
        if (used_ + byteCount > bytes_.size() && !Flush()) return nullptr;
        return bytes_.data() + used_;
    }
    void Commit(std::size_t byteCount) { used_ += byteCount; }

    // Writes what the buffer holds; false when the write failed.
    bool Flush() {
        const std::size_t pending = used_;
        used_ = 0;
        return pending == 0 || file_.Write(bytes_.data(), pending);
    }

  private:
    FileHandle& file_;
    std::array<std::uint8_t, kCapacity> bytes_;
    std::size_t used_ = 0;
};

}  // namespace sorvik
