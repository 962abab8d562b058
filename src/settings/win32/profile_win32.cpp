// The system's profile-string functions. They take care of the file's
// encoding, of keys and sections in any letter case and of everything the
// store does not touch.
#include <windows.h>

#include <vector>

#include "platform/win32/wide.h"
#include "settings/profile.h"

std::string profile_get_string(const std::string& path, std::string_view section, std::string_view key,
                               std::string_view fallback) {
  std::wstring wsection = to_wide(section), wkey = to_wide(key), wfallback = to_wide(fallback),
               wpath = to_wide(path);
  // The function cuts a value that does not fit and says so by filling the
  // buffer to its last unit: grow until it fits. The store cuts values to
  // its own limits afterwards.
  std::vector<wchar_t> buf(512);
  for (;;) {
    DWORD n = GetPrivateProfileStringW(wsection.c_str(), wkey.c_str(), wfallback.c_str(), buf.data(),
                                       static_cast<DWORD>(buf.size()), wpath.c_str());
    if (n + 1 < buf.size() || buf.size() >= 65536) return to_utf8(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 4);
  }
}

uint32_t profile_get_int(const std::string& path, std::string_view section, std::string_view key,
                         int32_t fallback) {
  return GetPrivateProfileIntW(to_wide(section).c_str(), to_wide(key).c_str(), fallback, to_wide(path).c_str());
}

// The file is read once as an input file only to tell a usable one from one
// that is not (too large, not a regular file); the values come from the system.
ReadStatus ProfileReader::open(const std::string& path) {
  path_ = path;
  status_ = snapshot_.load(path);
  return status_;
}

std::string ProfileReader::get_string(std::string_view section, std::string_view key,
                                      std::string_view fallback) const {
  if (status_ != ReadStatus::kOk) return std::string(fallback);
  return profile_get_string(path_, section, key, fallback);
}

uint32_t ProfileReader::get_int(std::string_view section, std::string_view key, int32_t fallback) const {
  if (status_ != ReadStatus::kOk) return static_cast<uint32_t>(fallback);
  return profile_get_int(path_, section, key, fallback);
}

void profile_put_strings(const std::string& path, std::string_view section, const std::vector<ProfileWrite>& writes) {
  IniSnapshot probe;
  const ReadStatus status = probe.load(path);
  if (status != ReadStatus::kOk && status != ReadStatus::kMissing) return;
  std::wstring wsection = to_wide(section), wpath = to_wide(path);
  for (const ProfileWrite& w : writes) {
    std::wstring value = w.second ? to_wide(*w.second) : std::wstring();
    WritePrivateProfileStringW(wsection.c_str(), to_wide(w.first).c_str(), w.second ? value.c_str() : nullptr,
                               wpath.c_str());
  }
}
