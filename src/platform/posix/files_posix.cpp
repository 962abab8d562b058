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
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (in < 0) return false;
  struct stat st {};
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return false;
  }
  // The copy is always a new file: replacing removes the old name first, so
  // a link planted at `to` is dropped rather than written through.
  FileHandle out_file;
  int error = 0;
  bool created = replace ? create_file_always(to, &out_file) : create_new_file(to, &out_file, &error);
  if (!created) {
    close(in);
    return false;
  }
  int out = out_file.fd;
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

constexpr int kNoFollowFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// Opened without blocking (a pipe would otherwise wait for a peer); regular
// files ignore the flag, so it is simply left on.
int open_regular(const char* path, int flags, struct stat* st) {
  int fd = open(path, flags | kNoFollowFlags);
  if (fd < 0) return -1;
  if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

// A link at `path` that the user made (dotfile managers link settings
// files) is followed; anybody else's is not.
std::string own_link_target(const std::string& path) {
  struct stat lst {};
  if (lstat(path.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode) || lst.st_uid != geteuid()) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string target = real;
  free(real);
  return target;
}

bool write_all_fd(int fd, std::string_view bytes) {
  for (size_t off = 0; off < bytes.size();) {
    ssize_t w = write(fd, bytes.data() + off, bytes.size() - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    off += static_cast<size_t>(w);
  }
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
    // File systems without the no-replace flag: a second name, which the
    // system refuses when `to` exists, then the old one removed.
    if (link(from.c_str(), to.c_str()) == 0) {
      unlink(from.c_str());
      return true;
    }
    if (errno == EEXIST) return false;
    if (errno == EXDEV) return copy_then_remove(from, to, false);
    // No hard links either (FAT, some network mounts): check, then rename.
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) return false;
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
  struct stat st {};
  int fd = open_regular(path.c_str(), O_RDONLY, &st);
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

bool regular_file_opens_read_write(const std::string& path) {
  struct stat st {};
  int fd = open_regular(path.c_str(), O_RDWR, &st);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool file_is_locked(const std::string& path) {
  struct stat st {};
  int fd = open_regular(path.c_str(), O_RDONLY, &st);
  if (fd < 0) return false;
  bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (!locked) flock(fd, LOCK_UN);
  close(fd);
  return locked;
}

bool read_file_prefix(const std::string& path, size_t max_bytes, std::string* out) {
  struct stat st {};
  int fd = open_regular(path.c_str(), O_RDONLY, &st);
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

bool create_new_file(const std::string& path, FileHandle* out, int* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | kNoFollowFlags, 0666);
  if (fd < 0) {
    if (error) *error = errno;
    return false;
  }
  out->fd = fd;
  return true;
}

bool create_file_always(const std::string& path, FileHandle* out) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return false;
  int error = 0;
  return create_new_file(path, out, &error);
}

bool open_for_append(const std::string& path, FileHandle* out, bool* created) {
  *created = false;
  // Two rounds: the file may appear or go between the two opens.
  for (int round = 0; round < 2; ++round) {
    struct stat st {};
    int fd = open_regular(path.c_str(), O_WRONLY | O_APPEND, &st);
    if (fd >= 0) {
      // A second name for somebody's file (a hard link planted here) is not ours to extend.
      if (st.st_nlink > 1) {
        close(fd);
        return false;
      }
      out->fd = fd;
      return true;
    }
    if (errno != ENOENT) return false;
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | kNoFollowFlags, 0666);
    if (fd >= 0) {
      out->fd = fd;
      *created = true;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool write_file_all(const FileHandle& file, std::string_view bytes) {
  return file.fd >= 0 && write_all_fd(file.fd, bytes);
}

bool sync_file(const FileHandle& file) { return file.fd >= 0 && fdatasync(file.fd) == 0; }

bool handle_size(const FileHandle& file, uint64_t* bytes) {
  struct stat st {};
  if (file.fd < 0 || fstat(file.fd, &st) != 0) return false;
  *bytes = static_cast<uint64_t>(st.st_size);
  return true;
}

bool close_file(FileHandle* file) {
  if (file->fd < 0) return true;
  bool ok = close(file->fd) == 0;
  file->fd = -1;
  return ok;
}

ReadStatus read_input_file(const std::string& path, size_t max_bytes, std::string* out) {
  out->clear();
  std::string target = own_link_target(path);
  struct stat st {};
  int fd = open(target.c_str(), O_RDONLY | kNoFollowFlags);
  if (fd < 0) {
    if (errno == ENOENT) return ReadStatus::kMissing;
    return errno == ELOOP ? ReadStatus::kNotRegular : ReadStatus::kFailed;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return ReadStatus::kNotRegular;
  }
  if (static_cast<uint64_t>(st.st_size) > max_bytes) {
    close(fd);
    return ReadStatus::kTooLarge;
  }
  // One allocation for the size the file has now; a file that grows while
  // it is read still fails at the limit.
  out->reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  ReadStatus status = ReadStatus::kOk;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { status = ReadStatus::kFailed; break; }
    if (n == 0) break;
    if (out->size() + static_cast<size_t>(n) > max_bytes) { status = ReadStatus::kTooLarge; break; }
    out->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (status != ReadStatus::kOk) out->clear();
  return status;
}

bool read_whole_file(const std::string& path, size_t max_bytes, std::string* out) {
  return read_input_file(path, max_bytes, out) == ReadStatus::kOk;
}

bool regular_file_info(const std::string& path, uint64_t* bytes, int64_t* time_100ns) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (bytes) *bytes = static_cast<uint64_t>(st.st_size);
  if (time_100ns) *time_100ns = to_100ns(st.st_mtim);
  return true;
}

bool replace_file_contents(const std::string& path, const std::string& bytes) {
  std::string target = own_link_target(path);
  struct stat st {};
  bool existed = lstat(target.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) return false;

  static std::atomic<unsigned> counter{0};
  std::string tmp = target + ".~" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | kNoFollowFlags, 0666);
  if (fd >= 0) {
    if (existed && S_ISREG(st.st_mode)) fchmod(fd, st.st_mode & 07777);  // best effort: a foreign owner's bits may be refused
    bool ok = write_all_fd(fd, bytes) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), target.c_str()) == 0) return true;
    unlink(tmp.c_str());
  }
  struct stat cur {};
  fd = open_regular(target.c_str(), O_WRONLY | O_TRUNC, &cur);
  if (fd < 0 && errno == ENOENT) fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | kNoFollowFlags, 0666);
  if (fd < 0) return false;
  bool ok = write_all_fd(fd, bytes) && fsync(fd) == 0;
  return close(fd) == 0 && ok;
}
