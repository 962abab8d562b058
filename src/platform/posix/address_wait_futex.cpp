#include "platform/address_wait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

static_assert(sizeof(std::atomic<uint32_t>) == 4 && sizeof(std::atomic<int32_t>) == 4);

namespace {
bool futex_wait(const void* addr, uint32_t undesired, uint32_t timeout_ms) {
  timespec ts{static_cast<time_t>(timeout_ms / 1000), static_cast<long>(timeout_ms % 1000) * 1000000L};
  long r = syscall(SYS_futex, addr, FUTEX_WAIT_PRIVATE, undesired,
                   timeout_ms == kWaitInfinite ? nullptr : &ts, nullptr, 0);
  return !(r == -1 && errno == ETIMEDOUT);
}
void futex_wake(void* addr, int count) {
  syscall(SYS_futex, addr, FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}
}  // namespace

bool address_wait(const std::atomic<uint32_t>& word, uint32_t undesired, uint32_t timeout_ms) {
  return futex_wait(&word, undesired, timeout_ms);
}
bool address_wait(const std::atomic<int32_t>& word, int32_t undesired, uint32_t timeout_ms) {
  return futex_wait(&word, static_cast<uint32_t>(undesired), timeout_ms);
}
void address_wake_one(std::atomic<uint32_t>& word) { futex_wake(&word, 1); }
void address_wake_all(std::atomic<uint32_t>& word) { futex_wake(&word, INT_MAX); }
void address_wake_one(std::atomic<int32_t>& word) { futex_wake(&word, 1); }
void address_wake_all(std::atomic<int32_t>& word) { futex_wake(&word, INT_MAX); }
