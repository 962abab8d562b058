#include "recording/folder_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

bool probe_folder_write(const std::string& folder, uint32_t* error) {
  *error = 0;
  if (folder.empty()) {
    *error = ENOENT;
    return false;
  }
  std::string templ = folder;
  if (templ.back() != '/') templ += '/';
  templ += "zlkXXXXXX.tmp";
  std::vector<char> name(templ.begin(), templ.end());
  name.push_back('\0');
  int fd = mkstemps(name.data(), 4);
  if (fd < 0) {
    *error = static_cast<uint32_t>(errno);
    return false;
  }
  close(fd);
  // Opened a second time as the recorder opens its file, so a folder that
  // lets files be created but not written (some network and FUSE mounts)
  // is caught here and not when the encoder starts.
  // Not through a link or into a pipe someone may have put at the name.
  int wfd = open(name.data(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  int open_error = errno;
  if (wfd >= 0) close(wfd);
  unlink(name.data());
  if (wfd < 0) {
    *error = static_cast<uint32_t>(open_error);
    return false;
  }
  return true;
}

std::string error_code_text(uint32_t error) {
  char buf[256];
  buf[0] = '\0';
  // GNU strerror_r may return a static string instead of filling buf.
  const char* text = strerror_r(static_cast<int>(error), buf, sizeof buf);
  return text ? std::string(text) : std::string();
}

bool path_entry_exists(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0;
}

std::string full_path_name(const std::string& path) {
  if (path.empty()) return {};
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path), ec);
  if (ec) return {};
  return p.lexically_normal().string();
}
