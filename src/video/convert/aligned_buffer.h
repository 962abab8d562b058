#pragma once
// Cache-line aligned heap memory, allocated once and owned by one object.
// Aligned operator new rather than std::aligned_alloc, which the Windows C
// runtime does not have.
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  ~AlignedBuffer() { release(ptr_); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  AlignedBuffer(AlignedBuffer&& o) noexcept : ptr_(std::exchange(o.ptr_, nullptr)), size_(std::exchange(o.size_, 0)) {}
  AlignedBuffer& operator=(AlignedBuffer&& o) noexcept {
    if (this != &o) {
      release(ptr_);
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
    ptr_ = static_cast<unsigned char*>(::operator new(rounded, kAlign, std::nothrow));
    if (!ptr_) return false;
    std::memset(ptr_, 0, rounded);
    size_ = rounded;
    return true;
  }
  void reset() {
    release(ptr_);
    ptr_ = nullptr;
    size_ = 0;
  }
  unsigned char* data() const { return ptr_; }
  size_t size() const { return size_; }

 private:
  static constexpr std::align_val_t kAlign{64};
  static void release(unsigned char* p) {
    if (p) ::operator delete(p, kAlign);
  }

  unsigned char* ptr_ = nullptr;
  size_t size_ = 0;
};
