#include "platform/event.h"

#include <chrono>

AutoResetEvent::AutoResetEvent() = default;
AutoResetEvent::~AutoResetEvent() = default;
void* AutoResetEvent::native_handle() const { return nullptr; }

void AutoResetEvent::set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_one();
}

bool AutoResetEvent::wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeout_ms == kWaitInfinite) {
    cv_.wait(lock, [this] { return signalled_; });
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [this] { return signalled_; })) {
    return false;
  }
  signalled_ = false;
  return true;
}
