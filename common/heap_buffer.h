#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvik {

// Owns one block of the process heap together with its size in bytes. Movable, not copyable.
class HeapBuffer {
  public:
    HeapBuffer() = default;
    ~HeapBuffer() { Free(); }
    HeapBuffer(HeapBuffer&& other) noexcept;
    HeapBuffer& operator=(HeapBuffer&& other) noexcept;
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;

    // Resizes the block to `byteCount` bytes (allocating the first one); the block may move and
    // its contents need not be kept. On failure the old block stays owned and unchanged.
    bool Grow(std::size_t byteCount);
    void Free();

    std::uint8_t* Data() { return block_; }
    const std::uint8_t* Data() const { return block_; }
    std::size_t Size() const { return size_; }

  private:
    std::uint8_t* block_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace sorvik
