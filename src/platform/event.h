#pragma once
// Auto-reset event: set() releases exactly one wait (or the next one to
// come); the signal is consumed by the waiter that sees it.
#include <cstdint>
#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

class AutoResetEvent {
 public:
  AutoResetEvent();
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void set();
  // true when signalled, false on time-out.
  bool wait(uint32_t timeout_ms = kWaitInfinite);
  // The system's own event object behind this one, for services that signal
  // it themselves (the Windows sound engine takes an event handle); null
  // where the platform has none.
  void* native_handle() const;

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
#endif
};
