#pragma once
// An owned reference to a COM object, released on every path.
#include <unknwn.h>

template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(const ComRef& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComRef& operator=(const ComRef& o) {
    if (o.p_) o.p_->AddRef();
    reset();
    p_ = o.p_;
    return *this;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  // For the out-parameter of a creating call: releases what was held.
  T** put() {
    reset();
    return &p_;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Takes a reference of its own to `p`.
  static ComRef share(T* p) {
    ComRef r;
    r.p_ = p;
    if (p) p->AddRef();
    return r;
  }

 private:
  T* p_ = nullptr;
};
