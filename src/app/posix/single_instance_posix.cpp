// The owner holds an exclusive lock on "frelvanta.lock" for its lifetime and
// receives datagrams on "frelvanta.sock" beside it. The lock, not the socket
// file, decides who owns: a stale socket left by a crashed owner is simply
// replaced, and two instances starting together cannot both win.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "app/main_window.h"
#include "app/single_instance.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "core/trace.h"

namespace {
int g_lock_fd = -1;
std::atomic<int> g_socket_fd{-1};

// The hand-over datagram: the message and its two parameters.
struct HandOver {
  uint32_t msg;
  uint32_t reserved;
  uint64_t wparam;
  int64_t lparam;
};

bool make_address(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}
}  // namespace

InstanceClaim claim_single_instance(const std::string& folder) {
  std::string lock_path = path_join(folder, "frelvanta.lock");
  std::string socket_path = path_join(folder, "frelvanta.sock");
  sockaddr_un addr;
  if (folder.empty() || !make_address(socket_path, &addr)) return InstanceClaim::UNAVAILABLE;

  int lock_fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (lock_fd < 0) return InstanceClaim::UNAVAILABLE;
  if (flock(lock_fd, LOCK_EX | LOCK_NB) == 0) {
    unlink(socket_path.c_str());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      if (fd >= 0) close(fd);
      close(lock_fd);
      return InstanceClaim::UNAVAILABLE;
    }
    g_lock_fd = lock_fd;
    g_socket_fd = fd;
    return InstanceClaim::OWNER;
  }
  bool held = errno == EWOULDBLOCK;
  close(lock_fd);
  if (!held) return InstanceClaim::UNAVAILABLE;

  // The owner binds right after taking the lock; give it a moment when we
  // arrive in between.
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  bool sent = false;
  if (fd >= 0) {
    HandOver h{MSG_ALREADY_RUNNING, 0, 0, 0};
    for (int attempt = 0; attempt < 20 && !sent; ++attempt) {
      sent = sendto(fd, &h, sizeof h, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == sizeof h;
      if (!sent) sleep_ms(50);
    }
    close(fd);
  }
  // Ending is right only when the running instance was told; otherwise this
  // start would vanish without a trace.
  return sent ? InstanceClaim::HANDED_OVER : InstanceClaim::UNAVAILABLE;
}

void listen_for_other_instances() {
  if (g_socket_fd < 0) return;
  int fd = g_socket_fd;
  const bool listening = thread_start_detached([fd] {
    HandOver h;
    for (;;) {
      ssize_t n = recv(fd, &h, sizeof h, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return;
      if (n == 0 && g_socket_fd.load() < 0) return;  // released
      // Only the hand-over is accepted from outside; nothing else may be
      // injected into the main window this way.
      if (n == sizeof h && h.msg == MSG_ALREADY_RUNNING) post_main_window_message(MSG_ALREADY_RUNNING, 0, 0);
    }
  });
  // Without the listener a second start is not handed over; this instance runs on.
  if (!listening) trace_event("instance.listen_failed");
}

void release_single_instance() {
  if (g_socket_fd >= 0) shutdown(g_socket_fd, SHUT_RDWR);
  if (g_lock_fd >= 0) close(g_lock_fd);
  g_lock_fd = -1;
  g_socket_fd = -1;
}
