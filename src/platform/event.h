#pragma once
// Auto-reset event: set() releases exactly one wait (or the next one to
// come); the signal is consumed by the waiter that sees it.
#include <condition_variable>
#include <cstdint>
#include <mutex>

constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

class AutoResetEvent {
 public:
  void set();
  // true when signalled, false on time-out.
  bool wait(uint32_t timeout_ms = kWaitInfinite);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};
