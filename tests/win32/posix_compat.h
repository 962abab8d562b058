#pragma once
// The few POSIX calls that portable core tests use for their fixtures
// (private temporary folders, folders, environment variables), so those tests build
// unchanged for Windows. Included before each such test file.
#include <direct.h>
#include <errno.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>

#include <windows.h>

inline char* mkdtemp(char* templ) {
  size_t n = strlen(templ);
  if (n < 6 || strcmp(templ + n - 6, "XXXXXX") != 0) return nullptr;
  std::string dir(templ, n);
  size_t slash = dir.find_last_of("/\\");
  if (slash != std::string::npos && slash > 0) _mkdir(dir.substr(0, slash).c_str());  // "/tmp" on a fresh drive
  static std::atomic<unsigned> counter{0};
  static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned v = GetCurrentProcessId() * 2654435761u + GetTickCount() + counter++ * 40503u;
    for (size_t i = n - 6; i < n; ++i, v /= 36) templ[i] = digits[v % 36];
    if (_mkdir(templ) == 0) return templ;
  }
  return nullptr;
}

// The mode is POSIX-only: a folder's read-only attribute does not stop files
// being created in it on Windows.
inline int mkdir(const char* path, int /*mode*/) { return _mkdir(path); }
// Tests skip their permission checks for the superuser, whom permission bits
// do not bind; on Windows they do not bind either.
inline unsigned geteuid() { return 0; }

// Windows has no pipes at file names (its named pipes live in a namespace of
// their own); tests that need one are left out of the Windows run.
inline int mkfifo(const char*, int) {
  errno = ENOSYS;
  return -1;
}
// Symbolic links need a privilege on Windows that tests do not have; tests
// that plant links are left out of the Windows run.
inline int symlink(const char*, const char*) {
  errno = EPERM;
  return -1;
}
inline int lstat(const char* path, struct stat* st) { return stat(path, st); }

inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
