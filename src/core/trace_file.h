#pragma once
// The operating-system side of the run trace: one append-only file handle.
#include <string>
#include <string_view>

class TraceFile {
 public:
  TraceFile() = default;
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Opens for appending, creating the file when missing.
  bool open_append(const std::string& path);
  // Writes the bytes at the end of the file.
  bool write(std::string_view bytes);
  // Waits until the written data (and, for a new file, its name) is on the
  // disk, then closes.
  void sync_and_close();

 private:
  int fd_ = -1;
  bool created_ = false;
  std::string folder_;
};
