#include "core/trace_file.h"

#include "platform/files.h"

// The platform's appending file: each write lands at the end of the file as a
// whole, also against writers in other processes, which share the file.
TraceFile::~TraceFile() {
  FileHandle f{fd_};
  close_file(&f);
}

bool TraceFile::open_append(const std::string& path) {
  FileHandle f{fd_};
  close_file(&f);
  fd_ = -1;
  created_ = false;
  if (!open_for_append(path, &f, &created_)) return false;
  fd_ = f.fd;
  return true;
}

bool TraceFile::write(std::string_view bytes) { return fd_ >= 0 && write_file_all(FileHandle{fd_}, bytes); }

// NTFS journals a new file's name with its folder, so flushing the file is
// enough here (unlike Linux, where the folder needs its own flush).
void TraceFile::sync_and_close() {
  if (fd_ < 0) return;
  FileHandle f{fd_};
  sync_file(f);
  close_file(&f);
  fd_ = -1;
  created_ = false;
}
