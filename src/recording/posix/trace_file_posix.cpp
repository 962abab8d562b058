#include "recording/trace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

TraceFile::~TraceFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool TraceFile::open_append(const std::string& path) {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  created_ = false;
  handle_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (handle_ < 0 && errno == ENOENT) {
    handle_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    created_ = handle_ >= 0;
    if (created_) {
      size_t slash = path.rfind('/');
      folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    }
  }
  return handle_ >= 0;
}

bool TraceFile::write(std::string_view bytes) {
  if (handle_ < 0) return false;
  // One write call per line: with O_APPEND the kernel places it at the end
  // as a whole, also against writers in other processes.
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t w = ::write(static_cast<int>(handle_), bytes.data() + off, bytes.size() - off);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    off += static_cast<size_t>(w);
  }
  return true;
}

void TraceFile::sync_and_close() {
  if (handle_ < 0) return;
  fdatasync(static_cast<int>(handle_));
  close(static_cast<int>(handle_));
  handle_ = -1;
  if (created_) {
    // A new file's name lives in its folder: without this a power loss can
    // take the whole file, flushed data and all.
    int dir = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
    created_ = false;
  }
}
