#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "common/output_sink.h"

namespace sorvik {

// Writes the pieces of one output on a thread of its own, so that whoever makes them can make
// the next piece meanwhile. It holds one piece at a time: handing over another waits until the
// one before it is written. The first failed write ends the writing; every later Hand and Finish
// reports it, and nothing more is written.
class BackgroundWriter {
  public:
    // Whether this build writes behind at all: on x86, where it was measured, and where a written
    // piece can be taken out of the caches (see the .cpp). Elsewhere the caller writes by itself.
#if defined(__SSE2__) || defined(_M_X64) || defined(_M_IX86)
    static constexpr bool kAvailable = true;
#else
    static constexpr bool kAvailable = false;
#endif

    // Starts the thread; IsRunning tells whether that worked.
    explicit BackgroundWriter(OutputFile& file);
    // Ends the thread once the write under way, if any, is done; a piece handed over and not
    // yet begun is not written (an output given up before Finish is not kept anyway).
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // False when no thread could be started; then nothing may be handed over.
    bool IsRunning() const { return thread_.joinable(); }

    // Waits until the piece handed over before is written, then hands over the `byteCount` bytes
    // at `bytes`, which must stay as they are until the next Hand or Finish returns. False, with
    // nothing handed over, when a write has failed.
    bool Hand(const void* bytes, std::size_t byteCount);
    // Waits until every piece handed over is written; false when a write failed.
    bool Finish();

  private:
    void WriteHandedPieces();

    OutputFile& file_;
    std::mutex mutex_;
    std::condition_variable changed_;  // a piece was handed over or written, or the end came
    const void* piece_ = nullptr;      // the piece in hand; null when there is none
    std::size_t pieceBytes_ = 0;
    bool failed_ = false;
    bool ending_ = false;
    std::thread thread_;  // last: it starts once everything it uses is in place
};

}  // namespace sorvik
