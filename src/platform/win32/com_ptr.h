#pragma once
// One owned reference to a COM object: released when the holder goes, and
// out-parameters fill it through put().
#include <unknwn.h>

#include <utility>

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller owns.
  explicit ComPtr(T* owned) : p_(owned) {}
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset(T* owned = nullptr) {
    if (p_) p_->Release();
    p_ = owned;
  }
  // Clears the holder and hands out the slot for an out-parameter.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* release() { return std::exchange(p_, nullptr); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};
