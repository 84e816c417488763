#include "common/heap_buffer.h"

#include <utility>

#include "platform/platform.h"

namespace sorvik {

HeapBuffer::HeapBuffer(HeapBuffer&& other) noexcept
    : block_(std::exchange(other.block_, nullptr)), size_(std::exchange(other.size_, 0)) {}

HeapBuffer& HeapBuffer::operator=(HeapBuffer&& other) noexcept {
    if (this != &other) {
        Free();
        block_ = std::exchange(other.block_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool HeapBuffer::Grow(std::size_t byteCount) {
    // A zero-sized block could come back as a null pointer, which would look like a failure.
    const std::size_t allocation = byteCount == 0 ? 1 : byteCount;
    void* resized = block_ == nullptr ? platform::AllocateBlock(allocation)
                                      : platform::ResizeBlock(block_, allocation);
    if (resized == nullptr) return false;
    block_ = static_cast<std::uint8_t*>(resized);
    size_ = byteCount;
    return true;
}

void HeapBuffer::Free() {
    if (block_ != nullptr) platform::FreeBlock(block_);
    block_ = nullptr;
    size_ = 0;
}

}  // namespace sorvik
