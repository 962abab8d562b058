#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {
int64_t to_100ns(const timespec& ts) {
  return static_cast<int64_t>(ts.tv_sec) * 10'000'000 + ts.tv_nsec / 100;
}

bool copy_then_remove(const std::string& from, const std::string& to, bool replace) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL);
  int out = open(to.c_str(), flags, 0644);
  if (out < 0) {
    close(in);
    return false;
  }
  std::vector<char> buf(1 << 20);
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, buf.data(), buf.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t off = 0; off < n;) {
      ssize_t w = write(out, buf.data() + off, static_cast<size_t>(n - off));
      if (w < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      off += w;
    }
    if (!ok) break;
  }
  if (ok && fsync(out) != 0) ok = false;
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) {
    unlink(to.c_str());
    return false;
  }
  unlink(from.c_str());
  return true;
}
}  // namespace

bool file_exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool directory_exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool delete_file(const std::string& path) { return unlink(path.c_str()) == 0; }

bool move_file(const std::string& from, const std::string& to, bool replace) {
  if (!replace) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno == EXDEV) return copy_then_remove(from, to, false);
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the no-replace flag: check, then rename.
    if (file_exists(to)) return false;
    return rename(from.c_str(), to.c_str()) == 0;
  }
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  return copy_then_remove(from, to, true);
}

bool create_directories(const std::string& path) {
  if (path.empty()) return false;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
      if (!directory_exists(partial)) return false;
    }
  }
  return directory_exists(path);
}

bool free_space_bytes(const std::string& path, uint64_t* bytes) {
  struct statvfs s{};
  if (statvfs(path.c_str(), &s) != 0) return false;
  *bytes = static_cast<uint64_t>(s.f_bavail) * s.f_frsize;
  return true;
}

bool file_size(const std::string& path, uint64_t* bytes) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return false;
  *bytes = static_cast<uint64_t>(st.st_size);
  return true;
}

bool last_write_time(const std::string& path, int64_t* time_100ns) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return false;
  *time_100ns = to_100ns(st.st_mtim);
  return true;
}

int64_t wall_clock_100ns() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return to_100ns(ts);
}

bool create_unique_file(const std::string& folder, const std::string& prefix,
                        std::string* path, std::string* error_text) {
  std::string templ = folder;
  if (!templ.empty() && templ.back() != '/') templ += '/';
  templ += prefix + "XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  if (fd < 0) {
    if (error_text) *error_text = std::strerror(errno);
    return false;
  }
  close(fd);
  *path = buf.data();
  return true;
}

FileLock::~FileLock() { unlock(); }

bool FileLock::try_lock(const std::string& path) {
  unlock();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

void FileLock::unlock() {
  if (handle_ != -1) {
    int fd = static_cast<int>(handle_);
    flock(fd, LOCK_UN);
    close(fd);
    handle_ = -1;
  }
}

bool file_is_locked(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (!locked) flock(fd, LOCK_UN);
  close(fd);
  return locked;
}

bool read_file_prefix(const std::string& path, size_t max_bytes, std::string* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->assign(max_bytes, '\0');
  size_t got = 0;
  while (got < max_bytes) {
    ssize_t n = read(fd, out->data() + got, max_bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  out->resize(got);
  return true;
}

bool append_file(const std::string& path, const std::string& bytes, bool durable) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t off = 0; off < bytes.size();) {
    ssize_t w = write(fd, bytes.data() + off, bytes.size() - off);
    if (w < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    off += static_cast<size_t>(w);
  }
  if (ok && durable && fdatasync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  return ok;
}

bool read_whole_file(const std::string& path, size_t max_bytes, std::string* out) {
  out->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return false;
  }
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { ok = false; break; }
    if (n == 0) break;
    if (out->size() + static_cast<size_t>(n) > max_bytes) { ok = false; break; }
    out->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (!ok) out->clear();
  return ok;
}

namespace {
bool write_all_and_sync(int fd, const std::string& bytes) {
  for (size_t off = 0; off < bytes.size();) {
    ssize_t w = write(fd, bytes.data() + off, bytes.size() - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    off += static_cast<size_t>(w);
  }
  return fsync(fd) == 0;
}
}  // namespace

bool replace_file_contents(const std::string& path, const std::string& bytes) {
  std::string target = path;
  if (char* real = realpath(path.c_str(), nullptr)) {
    target = real;
    free(real);
  }
  struct stat st {};
  bool existed = stat(target.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) return false;

  static std::atomic<unsigned> counter{0};
  std::string tmp = target + ".~" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    if (existed) fchmod(fd, st.st_mode & 07777);  // best effort: a foreign owner's bits may be refused
    bool ok = write_all_and_sync(fd, bytes);
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), target.c_str()) == 0) return true;
    unlink(tmp.c_str());
  }
  fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = write_all_and_sync(fd, bytes);
  return close(fd) == 0 && ok;
}
