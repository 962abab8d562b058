#pragma once
// A private folder under the system's temporary folder for one test, removed
// with everything in it afterwards. Paths use '/' like the program's own.
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/win32/wide.h"

class Win32TempDir {
 public:
  Win32TempDir() {
    static std::atomic<unsigned> counter{0};
    path_ = path_join(runtime_directory(), "fv-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
                                               std::to_string(counter++));
    create_directories(path_);
  }
  ~Win32TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(to_wide(path_)), ec);
  }
  Win32TempDir(const Win32TempDir&) = delete;
  Win32TempDir& operator=(const Win32TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_join(path_, name); }

 private:
  std::string path_;
};

inline std::string read_bytes(const std::string& path) {
  std::string out;
  read_whole_file(path, 1 << 24, &out);
  return out;
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
  delete_file(path);
  append_file(path, bytes, false);
}
