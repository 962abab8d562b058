/* LD_PRELOAD shim for the end-to-end tests: makes writes to a recording's
 * temporary file (a path ending in ".tmp.mp4") fail or hang after a number
 * of writes (the header, then about one per second of fragments), as a full
 * disk or a hung network share would.
 *   FV_FAULT=enospc|stall  FV_FAULT_AFTER_WRITES=<n> */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static _Atomic long long g_writes = 0;

static int is_target(int fd) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = 0;
  size_t len = (size_t)n;
  return len >= 8 && strcmp(path + len - 8, ".tmp.mp4") == 0;
}

/* 0: go ahead; -1: fail with ENOSPC. Hangs for the stall fault. */
static int fault(int fd, size_t count) {
  const char* mode = getenv("FV_FAULT");
  if (!mode || !is_target(fd)) return 0;
  (void)count;
  const char* after = getenv("FV_FAULT_AFTER_WRITES");
  long long limit = after ? atoll(after) : 0;
  if (atomic_fetch_add(&g_writes, 1) < limit) return 0;
  if (strcmp(mode, "stall") == 0) {
    for (;;) pause();
  }
  errno = ENOSPC;
  return -1;
}

ssize_t write(int fd, const void* buf, size_t count) {
  static ssize_t (*real)(int, const void*, size_t);
  if (!real) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  if (fault(fd, count) < 0) return -1;
  return real(fd, buf, count);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
  static ssize_t (*real)(int, const void*, size_t, off_t);
  if (!real) real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite64");
  if (fault(fd, count) < 0) return -1;
  return real(fd, buf, count, offset);
}

ssize_t writev(int fd, const struct iovec* iov, int iovcnt) {
  static ssize_t (*real)(int, const struct iovec*, int);
  if (!real) real = (ssize_t(*)(int, const struct iovec*, int))dlsym(RTLD_NEXT, "writev");
  size_t total = 0;
  for (int i = 0; i < iovcnt; ++i) total += iov[i].iov_len;
  if (fault(fd, total) < 0) return -1;
  return real(fd, iov, iovcnt);
}
