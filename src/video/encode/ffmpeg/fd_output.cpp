#include "video/encode/ffmpeg/fd_output.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <new>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace {
#ifdef _WIN32
// The C runtime's descriptors, with 64-bit offsets (recordings pass 2 GB).
using Offset = int64_t;
int write_fd(int fd, const uint8_t* buf, int size) { return _write(fd, buf, static_cast<unsigned>(size)); }
Offset seek_fd(int fd, Offset offset, int whence) { return _lseeki64(fd, offset, whence); }
Offset size_fd(int fd) { return _filelengthi64(fd); }
#else
using Offset = off_t;
ssize_t write_fd(int fd, const uint8_t* buf, int size) { return write(fd, buf, static_cast<size_t>(size)); }
Offset seek_fd(int fd, Offset offset, int whence) { return lseek(fd, offset, whence); }
Offset size_fd(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? st.st_size : -1;
}
#endif

// The size the file protocol uses, so the file sees the same writes as before.
constexpr int kBufferBytes = 32768;

struct FdOutput {
  FileHandle file;
};

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int write_packet(void* opaque, const uint8_t* buf, int size) {
#else
int write_packet(void* opaque, uint8_t* buf, int size) {
#endif
  const int fd = static_cast<FdOutput*>(opaque)->file.fd;
  int done = 0;
  while (done < size) {
    auto w = write_fd(fd, buf + done, size - done);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return AVERROR(errno);
    if (w == 0) return AVERROR(EIO);
    done += static_cast<int>(w);
  }
  return done;
}

int64_t seek(void* opaque, int64_t offset, int whence) {
  const int fd = static_cast<FdOutput*>(opaque)->file.fd;
  if (whence == AVSEEK_SIZE) {
    const Offset size = size_fd(fd);
    return size >= 0 ? static_cast<int64_t>(size) : AVERROR(errno);
  }
  const Offset r = seek_fd(fd, static_cast<Offset>(offset), whence & ~AVSEEK_FORCE);
  return r < 0 ? AVERROR(errno) : static_cast<int64_t>(r);
}
}  // namespace

int fd_output_open(AVFormatContext* oc, FileHandle file) {
  FdOutput* out = new (std::nothrow) FdOutput{file};
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
  AVIOContext* pb = (out && buffer) ? avio_alloc_context(buffer, kBufferBytes, 1, out, nullptr, write_packet, seek)
                                    : nullptr;
  if (!pb) {
    av_free(buffer);
    delete out;
    close_file(&file);
    return AVERROR(ENOMEM);
  }
  oc->pb = pb;
  return 0;
}

int fd_output_close(AVFormatContext* oc) {
  if (!oc || !oc->pb) return 0;
  AVIOContext* pb = oc->pb;
  oc->pb = nullptr;
  avio_flush(pb);
  int r = pb->error;
  auto* out = static_cast<FdOutput*>(pb->opaque);
  av_freep(&pb->buffer);
  avio_context_free(&pb);
  if (out) {
    if (!close_file(&out->file) && r >= 0) r = AVERROR(EIO);
    delete out;
  }
  return r;
}
