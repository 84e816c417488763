#include "common/background_writer.h"

#include <cstdint>
#include <system_error>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_IX86)
#include <emmintrin.h>
#endif

namespace sorvik {
namespace {

// Takes the `byteCount` bytes at `bytes`, just written, out of every processor's caches. Left in
// the cache of the processor that wrote them to the file, shared with the processor that decoded
// them, each line must be taken back from here when the decoder next writes to it, which made
// decoding twice as slow on a 2-core machine; written back to memory, the lines come in ahead
// of the decoder's writes. Where there is no way to do it, nothing writes behind (kAvailable).
void EvictFromCaches([[maybe_unused]] const void* bytes, [[maybe_unused]] std::size_t byteCount) {
#if defined(__SSE2__) || defined(_M_X64) || defined(_M_IX86)
    constexpr std::uintptr_t kLineBytes = 64;
    const auto first = reinterpret_cast<std::uintptr_t>(bytes) & ~(kLineBytes - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(bytes) + byteCount;
    for (std::uintptr_t line = first; line < end; line += kLineBytes) {
        _mm_clflush(reinterpret_cast<const void*>(line));
    }
#endif
}

}  // namespace

BackgroundWriter::BackgroundWriter(OutputFile& file) : file_(file) {
    // The one place where the standard library reports a failure by throwing: a system that
    // refuses another thread leaves the writer not running, and the caller writes by itself.
    if (!kAvailable) return;
    try {
        thread_ = std::thread([this] { WriteHandedPieces(); });
    } catch (const std::system_error&) {
    }
}

BackgroundWriter::~BackgroundWriter() {
    if (!IsRunning()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool BackgroundWriter::Hand(const void* bytes, std::size_t byteCount) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return piece_ == nullptr; });
    if (failed_) return false;
    piece_ = bytes;
    pieceBytes_ = byteCount;
    lock.unlock();
    changed_.notify_all();
    return true;
}

bool BackgroundWriter::Finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return piece_ == nullptr; });
    return !failed_;
}

void BackgroundWriter::WriteHandedPieces() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return piece_ != nullptr || ending_; });
        if (ending_) return;
        // The caller leaves the piece alone until it is written, so it is written unlocked.
        const void* const bytes = piece_;
        const std::size_t byteCount = pieceBytes_;
        lock.unlock();
        const bool written = file_.Write(bytes, byteCount);
        EvictFromCaches(bytes, byteCount);
        lock.lock();
        if (!written) failed_ = true;
        piece_ = nullptr;
        changed_.notify_all();
    }
}

}  // namespace sorvik
