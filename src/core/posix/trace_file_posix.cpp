#include "core/trace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

TraceFile::~TraceFile() {
  if (fd_ >= 0) close(fd_);
}

bool TraceFile::open_append(const std::string& path) {
  if (fd_ >= 0) close(fd_);
  created_ = false;
  fd_ = -1;
  // Trace files lie beside recordings, in folders others may write: never
  // through a link planted at the name, never a pipe that would block.
  FileHandle file;
  if (open_for_append(path, &file, &created_)) {
    fd_ = file.fd;
    if (created_) {
      size_t slash = path.rfind('/');
      folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    }
  }
  return fd_ >= 0;
}

bool TraceFile::write(std::string_view bytes) {
  if (fd_ < 0) return false;
  // One write call per line: with O_APPEND the kernel places it at the end
  // as a whole, also against writers in other processes.
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t w = ::write(fd_, bytes.data() + off, bytes.size() - off);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    off += static_cast<size_t>(w);
  }
  return true;
}

void TraceFile::sync_and_close() {
  if (fd_ < 0) return;
  fdatasync(fd_);
  close(fd_);
  fd_ = -1;
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
