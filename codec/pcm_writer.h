#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/file_handle.h"

namespace sorvik {

// Collects 16-bit little-endian samples in a fixed buffer and writes them to a file in large
// pieces. Lives on the stack of one decode call; the file receives exactly the bytes appended.
class PcmWriter {
  public:
    explicit PcmWriter(FileHandle& file) : file_(file) {}
    PcmWriter(const PcmWriter&) = delete;
    PcmWriter& operator=(const PcmWriter&) = delete;

    // Appends `count` samples; false when a write of the buffer failed.
    bool Append(const std::int16_t* samples, std::size_t count) {
        if (used_ + count * 2 > bytes_.size() && !Flush()) return false;
        for (std::size_t i = 0; i < count; ++i) {
            StoreLe16(&bytes_[used_ + 2 * i], static_cast<std::uint16_t>(samples[i]));
        }
        used_ += count * 2;
        return true;
    }

    // Writes what the buffer holds; false when the write failed.
    bool Flush() {
        const std::size_t pending = used_;
        used_ = 0;
        return pending == 0 || file_.Write(bytes_.data(), pending);
    }

  private:
    FileHandle& file_;
    std::array<std::uint8_t, 64 * 1024> bytes_;
    std::size_t used_ = 0;
};

}  // namespace sorvik
