#pragma once
// Cache-line aligned heap memory, allocated once and owned by one object.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  ~AlignedBuffer() { std::free(ptr_); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  AlignedBuffer(AlignedBuffer&& o) noexcept : ptr_(std::exchange(o.ptr_, nullptr)), size_(std::exchange(o.size_, 0)) {}
  AlignedBuffer& operator=(AlignedBuffer&& o) noexcept {
    if (this != &o) {
      std::free(ptr_);
      ptr_ = std::exchange(o.ptr_, nullptr);
      size_ = std::exchange(o.size_, 0);
    }
    return *this;
  }

  // Zero-filled; false (and empty) when the memory cannot be had.
  bool allocate(size_t bytes) {
    reset();
    if (bytes == 0) return true;
    size_t rounded = (bytes + 63) & ~size_t(63);
    ptr_ = static_cast<unsigned char*>(std::aligned_alloc(64, rounded));
    if (!ptr_) return false;
    std::memset(ptr_, 0, rounded);
    size_ = rounded;
    return true;
  }
  void reset() {
    std::free(ptr_);
    ptr_ = nullptr;
    size_ = 0;
  }
  unsigned char* data() const { return ptr_; }
  size_t size() const { return size_; }

 private:
  unsigned char* ptr_ = nullptr;
  size_t size_ = 0;
};
