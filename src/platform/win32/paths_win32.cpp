#include "platform/paths.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/wide.h"

namespace {
std::string known_folder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::string out;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path) out = path_from_system(path);
  CoTaskMemFree(path);
  return out;
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Position of the last separator, or npos.
size_t last_separator(const std::string& path) { return path.find_last_of("/\\"); }
}  // namespace

std::string executable_path() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return path_from_system(std::wstring_view(buf.data(), n));
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string home_directory() {
  std::string h = known_folder(FOLDERID_Profile);
  return h.empty() ? std::string("C:/") : h;
}

std::string videos_directory() {
  std::string v = known_folder(FOLDERID_Videos);
  return v.empty() ? path_join(home_directory(), "Videos") : v;
}

std::string config_home() { return known_folder(FOLDERID_RoamingAppData); }
std::string state_home() { return known_folder(FOLDERID_LocalAppData); }

std::string runtime_directory() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  std::string dir = n > 0 && n <= MAX_PATH ? path_from_system(std::wstring_view(buf, n)) : std::string();
  while (dir.size() > 3 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool directory_writable(const std::string& path) {
  wchar_t name[MAX_PATH];
  if (!GetTempFileNameW(to_wide(path).c_str(), L"fvw", 0, name)) return false;
  DeleteFileW(name);
  return true;
}

std::string path_directory(const std::string& path) {
  size_t p = last_separator(path);
  if (p == std::string::npos) return {};
  // The root keeps its separator: "C:/x" lies in "C:/", "/x" in "/".
  if (p == 0 || (p == 2 && path[1] == ':')) return path.substr(0, p + 1);
  return path.substr(0, p);
}

std::string path_filename(const std::string& path) {
  size_t p = last_separator(path);
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string path_join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (is_separator(dir.back())) return dir + name;
  return dir + "/" + name;
}
