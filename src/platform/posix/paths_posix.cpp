#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/files.h"

namespace {
std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string xdg_or(const char* var, const char* fallback_under_home) {
  std::string v = env(var);
  if (!v.empty() && v[0] == '/') return v;
  return path_join(home_directory(), fallback_under_home);
}

// One line of user-dirs.dirs: XDG_VIDEOS_DIR="$HOME/Videos"
bool parse_user_dir_line(const std::string& line, const std::string& key, std::string* out) {
  size_t p = line.find_first_not_of(" \t");
  if (p == std::string::npos || line.compare(p, key.size(), key) != 0) return false;
  p += key.size();
  if (p >= line.size() || line[p] != '=') return false;
  std::string v = line.substr(p + 1);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  if (v.rfind("$HOME", 0) == 0) v = home_directory() + v.substr(5);
  else if (v.empty() || v[0] != '/') return false;
  std::string unescaped;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) ++i;
    unescaped += v[i];
  }
  while (unescaped.size() > 1 && unescaped.back() == '/') unescaped.pop_back();
  *out = unescaped;
  return true;
}
}  // namespace

std::string executable_path() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::string home_directory() {
  std::string h = env("HOME");
  if (!h.empty()) return h;
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string videos_directory() {
  // Read as every other input: a regular file only, never a pipe that
  // would hold up the start.
  std::string text;
  read_input_file(path_join(config_home(), "user-dirs.dirs"), 1 << 20, &text);
  std::istringstream in(text);
  std::string line, dir;
  while (std::getline(in, line)) {
    if (parse_user_dir_line(line, "XDG_VIDEOS_DIR", &dir)) return dir;
  }
  return path_join(home_directory(), "Videos");
}

std::string config_home() { return xdg_or("XDG_CONFIG_HOME", ".config"); }
std::string state_home() { return xdg_or("XDG_STATE_HOME", ".local/state"); }

static bool private_folder(const std::string& dir) {
  struct stat st{};
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 0077) == 0;
}

std::string runtime_directory() {
  // The session's runtime folder counts only when it is ours and closed to
  // others: in a shared one, another user's endpoint could pose as ours.
  std::string v = env("XDG_RUNTIME_DIR");
  if (!v.empty() && v[0] == '/' && private_folder(v)) return v;
  // Otherwise a private one under /tmp, but only if it really is ours:
  // another user could have made it first.
  std::string dir = "/tmp/frelvanta-" + std::to_string(getuid());
  mkdir(dir.c_str(), 0700);
  if (private_folder(dir)) return dir;
  std::string fallback = path_join(home_directory(), ".cache/frelvanta-run");
  mkdir(path_join(home_directory(), ".cache").c_str(), 0700);
  mkdir(fallback.c_str(), 0700);
  return private_folder(fallback) ? fallback : std::string();
}

bool directory_writable(const std::string& path) { return access(path.c_str(), W_OK | X_OK) == 0; }

std::string path_directory(const std::string& path) {
  size_t p = path.rfind('/');
  if (p == std::string::npos) return {};
  if (p == 0) return "/";
  return path.substr(0, p);
}

std::string path_filename(const std::string& path) {
  size_t p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string path_join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}
