#include "platform/address_wait.h"

#include <windows.h>
#include <synchapi.h>

static_assert(sizeof(std::atomic<uint32_t>) == 4 && sizeof(std::atomic<int32_t>) == 4);

namespace {
bool wait_on(const void* addr, uint32_t undesired, uint32_t timeout_ms) {
  // The system compares the word with `undesired` and sleeps only while they
  // are equal; a false result is a time-out only when the error says so.
  if (WaitOnAddress(const_cast<void*>(addr), &undesired, sizeof undesired,
                    timeout_ms == kWaitInfinite ? INFINITE : timeout_ms)) {
    return true;
  }
  return GetLastError() != ERROR_TIMEOUT;
}
}  // namespace

bool address_wait(const std::atomic<uint32_t>& word, uint32_t undesired, uint32_t timeout_ms) {
  return wait_on(&word, undesired, timeout_ms);
}
bool address_wait(const std::atomic<int32_t>& word, int32_t undesired, uint32_t timeout_ms) {
  return wait_on(&word, static_cast<uint32_t>(undesired), timeout_ms);
}
void address_wake_one(std::atomic<uint32_t>& word) { WakeByAddressSingle(&word); }
void address_wake_all(std::atomic<uint32_t>& word) { WakeByAddressAll(&word); }
void address_wake_one(std::atomic<int32_t>& word) { WakeByAddressSingle(&word); }
void address_wake_all(std::atomic<int32_t>& word) { WakeByAddressAll(&word); }
