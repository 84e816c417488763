#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "codec/adpcm.h"
#include "common/background_writer.h"
#include "common/heap_buffer.h"
#include "common/output_sink.h"
#include "common/second_thread.h"

namespace sorvik {

// The buffer of one decoded sound on its way to a file. It is allocated before the file is
// created, so that a failed allocation leaves no file behind, and it knows the file position its
// first byte goes to. The system copies each write into its file cache, page by page;
// where the source of that copy sits a few bytes before the destination within a page, the
// processor's loads wait on its stores (they look alike in their low address bits), which made a
// whole conversion half as slow again here. So the writer places the bytes of each buffer-full
// at the offset within a page that they will have in the file.
//
// A long sound, on a machine with more than one processor (or as told), is written behind its
// decoding: the buffer is cut in two halves, and the decoder fills one while a second thread
// writes the other (BackgroundWriter). Halves, not a second buffer: the memory stays the same, and
// so does the count of fresh pages touched, which the system makes dear (on this 2-core virtual
// machine, a second buffer cost more than the overlap saved on sounds up to about 50 MB).
class PcmBuffer {
  public:
    // Room for 16384 mono blocks or 8192 stereo block pairs. The decoder cuts each buffer-full
    // into parts that run side by side, and every part after the first costs a warm-up, so long
    // parts pay: measured here, a whole conversion takes about a seventh less time than with a
    // buffer a quarter this size.
    static constexpr std::size_t kMaxCapacity = 896 * 1024;
    static_assert(kMaxCapacity % kPcmBytesPerPair == 0, "whole stereo block pairs");
    static constexpr std::size_t kPageSize = 4096;
    // Outputs of at least this many bytes of PCM are written behind. Below it, the thread to
    // start and the pieces to hand over cost about what the overlap saves, and an archive's
    // many short sounds were slower written behind (docs/performance.md).
    static constexpr std::uint64_t kWriteBehindFrom = 4 * kMaxCapacity;

    // Room for `pcmBytes` bytes of output (all of them, up to kMaxCapacity) that go to the file
    // from `fileOffset` on; false when the allocation failed. A sound written behind gets two
    // halves of that room, so that it costs no more memory than one written directly. Whether
    // it is: `writeBehind`, where Automatic means from kWriteBehindFrom bytes on with more than
    // one processor.
    bool Allocate(std::uint64_t pcmBytes, std::uint64_t fileOffset,
                  SecondThread writeBehind = SecondThread::Automatic) {
        const bool behind = BackgroundWriter::kAvailable && MaySecondThread(writeBehind) &&
                            (writeBehind == SecondThread::Always || pcmBytes >= kWriteBehindFrom);
        const std::size_t most = behind ? kMaxCapacity / 2 : kMaxCapacity;
        const std::size_t capacity = pcmBytes < most ? static_cast<std::size_t>(pcmBytes) : most;
        if (!block_.Grow((behind ? 2 : 1) * (capacity + kPageSize))) return false;
        capacity_ = capacity;
        fileOffset_ = fileOffset;
        twoHalves_ = behind;
        return true;
    }

    // Bytes one buffer-full holds.
    std::size_t Capacity() const { return capacity_; }
    // True when the sound is to be written behind its decoding, from two halves.
    bool HasTwoHalves() const { return twoHalves_; }

    // Where a buffer-full of half `which` (0, or 1 when there are two) whose first byte goes to
    // `fileOffset` begins: at the same offset within a page.
    std::uint8_t* StartFor(std::uint64_t fileOffset, int which) {
        std::uint8_t* const data = block_.Data() + which * (capacity_ + kPageSize);
        const auto address = reinterpret_cast<std::uintptr_t>(data);
        const std::size_t shift = static_cast<std::size_t>(fileOffset - address) % kPageSize;
        return data + shift;
    }
    std::uint64_t FileOffset() const { return fileOffset_; }

  private:
    HeapBuffer block_;
    std::size_t capacity_ = 0;
    std::uint64_t fileOffset_ = 0;
    bool twoHalves_ = false;
};

// Writes decoded PCM bytes to an output through a PcmBuffer, in large pieces: on a second thread
// when the buffer has two halves and the thread can be started, else directly. The output
// receives exactly the bytes committed, in order, either way; the first failed write fails every
// later Reserve and Flush.
class PcmWriter {
  public:
    PcmWriter(OutputFile& file, PcmBuffer& buffer)
        : file_(file),
          buffer_(buffer),
          fileOffset_(buffer.FileOffset()),
          start_(buffer.StartFor(fileOffset_, 0)) {
        if (buffer.HasTwoHalves()) {
            background_.emplace(file);
            if (!background_->IsRunning()) background_.reset();
        }
    }
    PcmWriter(const PcmWriter&) = delete;
    PcmWriter& operator=(const PcmWriter&) = delete;

    // Space for `byteCount` (at most the buffer's capacity) more bytes, passing the buffer-full
    // on first when it lacks room; nullptr when a write failed. The bytes count once Commit is
    // called.
    std::uint8_t* Reserve(std::size_t byteCount) {
        if (used_ + byteCount > buffer_.Capacity() && !PassOn()) return nullptr;
        return start_ + used_;
    }
    void Commit(std::size_t byteCount) { used_ += byteCount; }

    // Writes everything committed and waits until it is written; false when a write failed.
    bool Flush() { return PassOn() && (!background_ || background_->Finish()); }

  private:
    // Writes the buffer-full, or hands it to the background writer and moves to the other half;
    // false when a write failed.
    bool PassOn() {
        if (used_ == 0) return true;
        if (background_) {
            if (!background_->Hand(start_, used_)) return false;
            which_ = 1 - which_;
        } else if (!file_.Write(start_, used_)) {
            return false;
        }
        fileOffset_ += used_;
        used_ = 0;
        start_ = buffer_.StartFor(fileOffset_, which_);
        return true;
    }

    OutputFile& file_;
    PcmBuffer& buffer_;
    std::uint64_t fileOffset_;
    std::uint8_t* start_;
    std::size_t used_ = 0;
    int which_ = 0;  // the half being filled
    std::optional<BackgroundWriter> background_;
};

}  // namespace sorvik
