#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/adpcm.h"
#include "common/output_sink.h"
#include "common/heap_buffer.h"

namespace sorvik {

// The buffer of one decoded sound on its way to a file. It is allocated before the file is
// created, so that a failed allocation leaves no file behind, and it knows the file position its
// first byte goes to. The system copies each write into its file cache, page by page; where the
// source of that copy sits a few bytes before the destination within a page, the processor's
// loads wait on its stores (they look alike in their low address bits), which made a whole
// conversion half as slow again here. So the writer places the bytes of each buffer-full at
// the offset within a page that they will have in the file.
class PcmBuffer {
  public:
    // Room for 16384 mono blocks or 8192 stereo block pairs. The decoder cuts each buffer-full
    // into parts that run side by side, and every part after the first costs a warm-up, so long
    // parts pay: measured here, a whole conversion takes about a seventh less time than with a
    // buffer a quarter this size.
    static constexpr std::size_t kMaxCapacity = 896 * 1024;
    static_assert(kMaxCapacity % kPcmBytesPerPair == 0, "whole stereo block pairs");
    static constexpr std::size_t kPageSize = 4096;

    // Room for `pcmBytes` bytes of output (all of them, up to kMaxCapacity) that go to the file
    // from `fileOffset` on; false when the allocation failed.
    bool Allocate(std::uint64_t pcmBytes, std::uint64_t fileOffset) {
        const std::size_t capacity =
            pcmBytes < kMaxCapacity ? static_cast<std::size_t>(pcmBytes) : kMaxCapacity;
        if (!block_.Grow(capacity + kPageSize - 1)) return false;
        capacity_ = capacity;
        fileOffset_ = fileOffset;
        return true;
    }

    // Bytes one buffer-full holds.
    std::size_t Capacity() const { return capacity_; }

    // Where a buffer-full whose first byte goes to `fileOffset` begins: at the same offset
    // within a page.
    std::uint8_t* StartFor(std::uint64_t fileOffset) {
        const auto address = reinterpret_cast<std::uintptr_t>(block_.Data());
        const std::size_t shift = static_cast<std::size_t>(fileOffset - address) % kPageSize;
        return block_.Data() + shift;
    }
    std::uint64_t FileOffset() const { return fileOffset_; }

  private:
    HeapBuffer block_;
    std::size_t capacity_ = 0;
    std::uint64_t fileOffset_ = 0;
};

// Writes decoded PCM bytes to an output through a PcmBuffer, in large pieces; the output
// receives exactly the bytes committed, in order.
class PcmWriter {
  public:
    PcmWriter(OutputFile& file, PcmBuffer& buffer)
        : file_(file),
          buffer_(buffer),
          fileOffset_(buffer.FileOffset()),
          start_(buffer.StartFor(fileOffset_)) {}
    PcmWriter(const PcmWriter&) = delete;
    PcmWriter& operator=(const PcmWriter&) = delete;

    // Space for `byteCount` (at most the buffer's capacity) more bytes, flushing the buffer first
    // when it lacks room; nullptr when that write failed. The bytes count once Commit is called.
    std::uint8_t* Reserve(std::size_t byteCount) {
        if (used_ + byteCount > buffer_.Capacity() && !Flush()) return nullptr;
        return start_ + used_;
    }
    void Commit(std::size_t byteCount) { used_ += byteCount; }

    // Writes what the buffer holds; false when the write failed.
    bool Flush() {
        if (used_ == 0) return true;
        if (!file_.Write(start_, used_)) return false;
        fileOffset_ += used_;
        used_ = 0;
        start_ = buffer_.StartFor(fileOffset_);
        return true;
    }

  private:
    OutputFile& file_;
    PcmBuffer& buffer_;
    std::uint64_t fileOffset_;
    std::uint8_t* start_;
    std::size_t used_ = 0;
};

}  // namespace sorvik
